#include "app/frmMain.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QComboBox>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include "app/SourceListView.h"
#include <QMenuBar>
#include <QStatusBar>
#include <QElapsedTimer>
#include <QTimer>
#include <QToolBar>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <optional>

#include "app/Globals.h"
#include "app/FormatLists.h"
#include "midi/SourceList.h"
#include "engine/RecordingFormats.h"
#include "shell/QtJapanese.h"
#include "shell/FileNameDelegate.h"
#include "shell/ToolbarImages.h"
#include "shell/cSystemFolder.h"

namespace {
frmMain* g_main = nullptr;

enum ButtonKind { kPush = 0, kGroupFormat = 1, kGroupMode = 2, kTwoState = 3 };

// Toolbar height in twips: 16-pixel images in 22-pixel buttons plus the bar's border.
constexpr int kToolbarHeight = 420;

// Visual Basic key codes and shift flags used by the key handler.
constexpr int vbKeyEscape = 27;
constexpr int vbKeyDelete = 46;
constexpr int vbKeyF4 = 115;
constexpr int vbAltMask = 4;
}  // namespace

frmMain* MainForm() { return g_main; }

frmMain::frmMain(const QString& appDir, const QString& exeBaseName, QWidget* parent)
    : QMainWindow(parent) {
  g_main = this;
  kv::InstallQtJapanese();  // the dialogs this window shows speak Japanese too
  m_appDir = appDir.isEmpty() ? QCoreApplication::applicationDirPath() : appDir;
  m_exeBase = exeBaseName.isEmpty() ? QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName()
                                    : exeBaseName;
  setObjectName("frmMain");
  BuildMenus();
  BuildControls();
  BuildToolbar();
  BuildStatusBar();
  // Design size: the client area below the menu bar.
  const QSize client(kv::TwipsToPx(kDesignClientWidth), kv::TwipsToPx(kDesignClientHeight));
  resize(client.width(), client.height() + menuBar()->sizeHint().height());
  Form_Resize();
  qApp->installEventFilter(this);
}

frmMain::~frmMain() {
  qApp->removeEventFilter(this);
  if (g_main == this) g_main = nullptr;
}

inifile_IO& frmMain::Settings() {
  if (!m_settings) m_settings = std::make_unique<inifile_IO>();
  return *m_settings;
}

cSystemFolder& frmMain::SystemFolders() {
  if (!m_systemFolders) m_systemFolders = std::make_unique<cSystemFolder>();
  return *m_systemFolders;
}

QString frmMain::VersionText() {
  return QStringLiteral("%1.%2.%3").arg(KV_VERSION_MAJOR).arg(KV_VERSION_MINOR).arg(KV_VERSION_PATCH);
}

QString frmMain::Caption() { return QStringLiteral("Korvessa  Ver.") + VersionText(); }

void frmMain::BuildControls() {
  client = new QWidget(this);
  client->setObjectName("client");
  setCentralWidget(client);

  Sources = new kv::SourceList(this);
  lstSource = new SourceListView(client);
  lstSource->setModel(Sources);
  lstSource->setObjectName("lstSource");
  lstSource->setItemDelegate(new kv::FileNameDelegate(lstSource));
  lstSource->setSelectionMode(QAbstractItemView::SingleSelection);
  lstSource->setAcceptDrops(true);

  lblYa = new QLabel(QStringLiteral("↓変換後のWaveファイルパス"), client);
  lblYa->setObjectName("lblYa");
  lblYa->setFont(QFont(QStringLiteral("IPAPGothic"), 9));

  chkTitleToFilename = new QCheckBox(QStringLiteral("タイトルをファイル名に設定(&T)"), client);
  chkTitleToFilename->setObjectName("chkTitleToFilename");

  lblWaveFileName = new QLabel(client);
  lblWaveFileName->setObjectName("lblWaveFileName");
  lblWaveFileName->setFrameShape(QFrame::StyledPanel);
  lblWaveFileName->setFrameShadow(QFrame::Sunken);
  lblWaveFileName->setTextInteractionFlags(Qt::TextSelectableByMouse);

  cboSample = new QComboBox(client);
  cboSample->setObjectName("cboSample");
  cboSample->setFont(QFont(QStringLiteral("IPAGothic"), 9));
  cboDevice = new QComboBox(client);
  cboDevice->setObjectName("cboDevice");

  twList = {lstSource, 120, 480, 7080, 2325};
  twYa = {lblYa, 120, 2865, 2655, 255};
  twChk = {chkTitleToFilename, 2955, 2865, 2595, 255};
  twWaveName = {lblWaveFileName, 120, 3180, 7080, 375};
  twSample = {cboSample, 120, 3615, 4095, 300};
  twDevice = {cboDevice, 4275, 3615, 2925, 300};

  ConnectEngine();

  // The title check box only recomputes the output name.
  connect(chkTitleToFilename, &QCheckBox::toggled, this, [](bool on) { kv::G().TitleToName = on; });
  connect(chkTitleToFilename, &QCheckBox::clicked, this, [this] { lstSource_Click(); });
  connect(lstSource, &SourceListView::currentRowChanged, this, [this] { lstSource_Click(); });
  connect(cboSample, &QComboBox::currentIndexChanged, this, [this] { cboSample_Click(cboSample); });
  lstSource->viewport()->installEventFilter(this);
}

QAction* frmMain::AddButton(const QString& key, const QString& tip, int kind) {
  auto* a = new QAction(QIcon(QStringLiteral(":/toolbar/%1.png").arg(key)), key, this);
  a->setObjectName(key);
  a->setToolTip(tip);
  a->setCheckable(kind != kPush);
  if (kind == kGroupFormat) m_formatGroup->addAction(a);
  if (kind == kGroupMode) m_modeGroup->addAction(a);
  Toolbar1->addAction(a);
  m_buttons.insert(key, a);
  m_buttonOrder.push_back(a);
  connect(a, &QAction::triggered, this, [this, a] { Toolbar1_ButtonClick(a); });
  return a;
}

void frmMain::BuildToolbar() {
  kv::InitToolbarImages();
  Toolbar1 = new QToolBar(client);
  Toolbar1->setObjectName("Toolbar1");
  Toolbar1->setIconSize(QSize(16, 16));
  Toolbar1->setMovable(false);
  Toolbar1->setFloatable(false);
  twToolbar = {Toolbar1, -1, 0, kDesignClientWidth, kToolbarHeight};
  m_formatGroup = new QActionGroup(this);
  m_formatGroup->setExclusive(true);
  m_modeGroup = new QActionGroup(this);
  m_modeGroup->setExclusive(true);
  auto sep = [this] { m_buttonOrder.push_back(Toolbar1->addSeparator()); };

  AddButton("Clear", QStringLiteral("リストのクリア"), kPush);
  AddButton("FileOpen", QStringLiteral("MIDIファイルの追加"), kPush);
  AddButton("SaveFolder", QStringLiteral("保存先の指定"), kPush);
  sep();
  AddButton("Play", QStringLiteral("再生"), kPush);
  AddButton("Rec", QStringLiteral("変換開始"), kPush);
  AddButton("Stop", QStringLiteral("停止"), kPush)->setEnabled(false);  // live only while a run goes on
  sep();
  AddButton("wave", QStringLiteral("WAVEに変換"), kGroupFormat);
  AddButton("mp3", QStringLiteral("MP3に変換"), kGroupFormat);
  AddButton("wma", QStringLiteral("WMAに変換"), kGroupFormat);
  sep();
  AddButton("one", QStringLiteral("単独変換"), kGroupMode);
  AddButton("all", QStringLiteral("一括変換"), kGroupMode);
  sep();
  AddButton("waveflt", QStringLiteral("ノーマライズ"), kTwoState);
  AddButton("headcut", QStringLiteral("先頭無音部分のカット"), kTwoState);
  sep();
  AddButton("SndVol", QStringLiteral("ボリュームコントローラ"), kPush);
  AddButton("RecVol", QStringLiteral("レコーディングコントローラ"), kPush);
  sep();
  sep();
  AddButton("Exit", QStringLiteral("終了します"), kPush);
}

void frmMain::BuildStatusBar() {
  stb1 = new QStatusBar(client);
  stb1->setObjectName("stb1");
  stb1->setSizeGripEnabled(false);
  struct P { const char* key; const char* tip; const char* text; int stretch; };
  const P panels[] = {{"status", "ステータス", "Ready", 3},
                      {"Format", "MIDIフォーマット", "", 1},
                      {"Track", "トラック数", "", 1},
                      {"TCount", "分解能", "", 1},
                      {"Title", "タイトル", "", 4}};
  for (const P& p : panels) {
    auto* l = new QLabel(QString::fromUtf8(p.text), stb1);
    l->setObjectName(QStringLiteral("panel_") + p.key);
    l->setToolTip(QString::fromUtf8(p.tip));
    l->setFrameShape(QFrame::StyledPanel);
    l->setFrameShadow(QFrame::Sunken);
    stb1->addWidget(l, p.stretch);
    m_panels.insert(QString::fromLatin1(p.key), l);
  }
}

void frmMain::BuildMenus() {
  QMenuBar* mb = menuBar();
  auto act = [this](QMenu* m, const char* name, const QString& text) {
    auto* a = m->addAction(text);
    a->setObjectName(name);
    return a;
  };
  auto sepAct = [](QMenu* m, const char* name) { m->addSeparator()->setObjectName(name); };

  mnuFile = mb->addMenu(QStringLiteral("ファイル(&F)"));
  mnuFile->setObjectName("mnuFile");
  mnuFileClear = act(mnuFile, "mnuFileClear", QStringLiteral("再生リストのクリア(&C)"));
  mnuFileOpen = act(mnuFile, "mnuFileOpen", QStringLiteral("MIDIファイルの追加(&O)"));
  sepAct(mnuFile, "mnuFileSep0");
  mnuFileSpace = act(mnuFile, "mnuFileSpace", QStringLiteral("容量確認(&S)"));
  sepAct(mnuFile, "mnuFileSep1");
  mnuFileQuit = act(mnuFile, "mnuFileQuit", QStringLiteral("終了(&X)"));

  mnuExec = mb->addMenu(QStringLiteral("実行(&R)"));
  mnuExec->setObjectName("mnuExec");
  mnuExecPlay = act(mnuExec, "mnuExecPlay", QStringLiteral("再生(&P)"));
  mnuExecDecode = act(mnuExec, "mnuExecDecode", QStringLiteral("変換(&X)"));
  mnuExecStop = act(mnuExec, "mnuExecStop", QStringLiteral("中止(&S)"));
  mnuExecStop->setEnabled(false);

  mnuSet = mb->addMenu(QStringLiteral("設定(&S)"));
  mnuSet->setObjectName("mnuSet");
  mnuFileSave = act(mnuSet, "mnuFileSave", QStringLiteral("保存先のフォルダ(&S)..."));
  sepAct(mnuSet, "mnuSetSep1");
  mnuSetMedia = mnuSet->addMenu(QStringLiteral("保存形式(&T)"));
  mnuSetMedia->setObjectName("mnuSetMedia");
  for (const char* c : {"&WAVE", "&MP3", "WM&A"}) {
    auto* a = act(mnuSetMedia, "mnuSetType", QString::fromLatin1(c));
    a->setCheckable(true);
    mnuSetType.push_back(a);
  }
  mnuSetPlayType = mnuSet->addMenu(QStringLiteral("再生方法(&P)"));
  mnuSetPlayType->setObjectName("mnuSetPlayType");
  mnuSetPlay.push_back(act(mnuSetPlayType, "mnuSetPlay", QStringLiteral("単独")));
  mnuSetPlay.push_back(act(mnuSetPlayType, "mnuSetPlay", QStringLiteral("一括")));
  mnuSetPlay[0]->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  mnuSetPlay[1]->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
  for (QAction* a : mnuSetPlay) a->setCheckable(true);
  sepAct(mnuSet, "mnuSetSep0");
  mnuSetEncoder = act(mnuSet, "mnuSetEncoder", QStringLiteral("エンコーダー(&E)..."));
  sepAct(mnuSet, "mnuSetSep3");
  mnuNormalizer = mnuSet->addMenu(QStringLiteral("ノーマライザ(&N)"));
  mnuNormalizer->setObjectName("mnuNormalizer");
  mnuNormal = act(mnuNormalizer, "mnuNormal", QStringLiteral("ノーマライザのフォルダ(&N)..."));
  {
    QAction* s = mnuNormalizer->addSeparator();
    s->setObjectName("mnuNormalEnable");
    mnuNormalEnable.push_back(s);
    mnuNormalEnable.push_back(act(mnuNormalizer, "mnuNormalEnable", QStringLiteral("有効(&E)")));
    mnuNormalEnable.push_back(act(mnuNormalizer, "mnuNormalEnable", QStringLiteral("無効(&D)")));
    mnuNormalEnable[1]->setCheckable(true);
    mnuNormalEnable[2]->setCheckable(true);
  }
  sepAct(mnuSet, "mnuSetSep2");
  mnuSetCut = mnuSet->addMenu(QStringLiteral("先頭無音部分のカット"));
  mnuSetCut->setObjectName("mnuSetCut");
  mnuSetCut->menuAction()->setEnabled(false);
  mnuSetCutOK.push_back(act(mnuSetCut, "mnuSetCutOK", QStringLiteral("カットする")));
  mnuSetCutOK.push_back(act(mnuSetCut, "mnuSetCutOK", QStringLiteral("カットしない")));
  for (QAction* a : mnuSetCutOK) a->setCheckable(true);
  mnuSetWait = act(mnuSet, "mnuSetWait", QStringLiteral("録再遅延(前後0.5秒)"));
  mnuSetWait->setCheckable(true);
  mnuSetWait->setChecked(true);

  mnuRun = mb->addMenu(QStringLiteral("外部ソフト起動(&G)"));
  mnuRun->setObjectName("mnuRun");
  mnuRunSoft.push_back(act(mnuRun, "mnuRunSoft", QStringLiteral("音量コントローラ(&V)")));
  mnuRunSoft.push_back(act(mnuRun, "mnuRunSoft", QStringLiteral("録音コントローラ(&R)")));
  {
    QAction* s = mnuRun->addSeparator();
    s->setObjectName("mnuRunSoft");
    mnuRunSoft.push_back(s);
  }
  mnuRunSoft.push_back(act(mnuRun, "mnuRunSoft", QStringLiteral("&SCMPX")));
  mnuRunSoft[2]->setVisible(false);
  mnuRunSoft[3]->setVisible(false);

  mnuHelp = mb->addMenu(QStringLiteral("ヘルプ(&H)"));
  mnuHelp->setObjectName("mnuHelp");
  mnuHelpOnline = act(mnuHelp, "mnuHelpOnline", QStringLiteral("本ソフトについて"));
  mnuHelpOnline->setShortcut(QKeySequence(Qt::Key_F1));
  sepAct(mnuHelp, "mnuHelpSep2");
  mnuOtoiawaseForm = act(mnuHelp, "mnuOtoiawaseForm", QStringLiteral("お問い合わせWEBフォームへ..."));
  sepAct(mnuHelp, "mnuHelpSep1");
  mnuHelpVersion = act(mnuHelp, "mnuHelpVersion", QStringLiteral("バージョン情報(&V)"));

  // Routing: the menu items that stand for toolbar commands go through the dispatcher.
  connect(mnuFileQuit, &QAction::triggered, this, &frmMain::mnuFileQuit_Click);
  connect(mnuExecPlay, &QAction::triggered, this, &frmMain::mnuExecPlay_Click);
  connect(mnuExecDecode, &QAction::triggered, this, &frmMain::mnuExecDecode_Click);
  connect(mnuExecStop, &QAction::triggered, this, &frmMain::mnuExecStop_Click);
  connect(mnuFileClear, &QAction::triggered, this, [this] { Toolbar1_ButtonClick(Button("Clear")); });
  connect(mnuFileOpen, &QAction::triggered, this, [this] { Toolbar1_ButtonClick(Button("FileOpen")); });
  connect(mnuFileSave, &QAction::triggered, this, [this] { Toolbar1_ButtonClick(Button("SaveFolder")); });
  for (int i = 0; i < mnuSetType.size(); ++i)
    connect(mnuSetType[i], &QAction::triggered, this, [this, i] { mnuSetType_Click(i); });
  for (int i = 0; i < mnuSetPlay.size(); ++i)
    connect(mnuSetPlay[i], &QAction::triggered, this, [this, i] { mnuSetPlay_Click(i); });
  for (int i = 0; i < mnuRunSoft.size(); ++i)
    connect(mnuRunSoft[i], &QAction::triggered, this, [this, i] { mnuRunSoft_Click(i); });
  for (int i = 1; i < mnuNormalEnable.size(); ++i)
    connect(mnuNormalEnable[i], &QAction::triggered, this, [this, i] { mnuNormalEnable_Click(i); });
  for (int i = 0; i < mnuSetCutOK.size(); ++i)
    connect(mnuSetCutOK[i], &QAction::triggered, this, [this, i] { mnuSetCutOK_Click(i); });
  connect(mnuNormal, &QAction::triggered, this, &frmMain::mnuNormal_Click);
  connect(mnuSetEncoder, &QAction::triggered, this, &frmMain::mnuSetEncoder_Click);
  connect(mnuFileSpace, &QAction::triggered, this, &frmMain::mnuFileSpace_Click);
  // A checkable item toggles itself on a click; the delay command decides the mark itself.
  connect(mnuSetWait, &QAction::triggered, this, [this](bool checked) {
    mnuSetWait->setChecked(!checked);
    mnuSetWait_Click();
  });
  connect(mnuHelpOnline, &QAction::triggered, this, &frmMain::mnuHelpOnline_Click);
  connect(mnuOtoiawaseForm, &QAction::triggered, this, &frmMain::mnuOtoiawaseForm_Click);
  connect(mnuHelpVersion, &QAction::triggered, this, &frmMain::mnuHelpVersion_Click);
}

bool frmMain::ButtonPressed(const QString& key) const {
  QAction* a = m_buttons.value(key);
  return a && a->isCheckable() && a->isChecked();
}

void frmMain::SetButtonPressed(const QString& key, bool pressed) {
  if (QAction* a = m_buttons.value(key)) {
    if (a->isCheckable()) a->setChecked(pressed);
  }
}

void frmMain::Form_Resize() {
  // The status bar keeps itself at the bottom edge in every window state.
  const int sbh = stb1->sizeHint().height();
  stb1->setGeometry(0, client->height() - sbh, client->width(), sbh);
  if (isMinimized() || isMaximized() || isFullScreen()) return;
  const int SW = static_cast<int>(kv::PxToTwips(client->width()));
  const int SH = static_cast<int>(kv::PxToTwips(client->height()));
  const int W = static_cast<int>(kv::PxToTwips(OuterFrame().width()));
  twToolbar.Left = -1;
  twToolbar.Top = 0;
  twToolbar.Width = W - 1;
  twSample.Left = 120;
  twSample.Top = SH - twSample.Height - 420;
  twDevice.Left = twSample.Left + twSample.Width + 60;
  twDevice.Top = twSample.Top;
  twDevice.Width = SW - twSample.Width - 300;
  twWaveName.Left = 120;
  twWaveName.Top = twSample.Top - twWaveName.Height - 60;
  twWaveName.Width = SW - 240;
  twYa.Left = 120;
  twYa.Top = twWaveName.Top - twYa.Height - 60;
  twChk.Left = twYa.Left + twYa.Width + 180;
  twChk.Top = twYa.Top;
  twList.Left = 120;
  twList.Top = twToolbar.Top + twToolbar.Height + 60;
  twList.Width = SW - 240;
  twList.Height = twYa.Top - twToolbar.Height - 120;
  // Sizes that would be negative in a very small window are shown as zero.
  for (const kv::TwipsBox* b : {&twToolbar, &twSample, &twDevice, &twWaveName, &twYa, &twChk, &twList}) b->Apply();
}

void frmMain::resizeEvent(QResizeEvent* e) {
  QMainWindow::resizeEvent(e);
  Form_Resize();
}

void frmMain::showEvent(QShowEvent* e) {
  QMainWindow::showEvent(e);
  // A window manager's frame appears some time after the window is mapped (seconds on a busy
  // machine), and the window itself is neither moved nor resized by it: it is looked for until
  // the stored placement has stood, for 10 s at most.
  auto* follow = new QTimer(this);
  follow->setInterval(50);
  QElapsedTimer shown;
  shown.start();
  connect(follow, &QTimer::timeout, this, [this, follow, shown] {
    FollowFrame();
    if (m_wantedFrame.isNull() || shown.elapsed() >= 10000) {
      m_wantedFrame = QRect();  // from now on the window is where the user puts it
      follow->stop();
      follow->deleteLater();
    }
  });
  follow->start();
}

QMargins frmMain::FrameMargins() const {
  if (const auto wm = WindowManagerFrame()) return *wm;
  const QRect f = frameGeometry(), g = geometry();
  return {g.left() - f.left(), g.top() - f.top(), f.right() - g.right(), f.bottom() - g.bottom()};
}

std::optional<QMargins> frmMain::WindowManagerFrame() const {
  // On X11 the window manager's own word (_NET_FRAME_EXTENTS): Qt's idea of the frame lags
  // behind while the manager is still placing the window, and sometimes reads as no frame.
  auto* x11 = QGuiApplication::platformName() == QLatin1String("xcb")
                  ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                  : nullptr;
  if (xcb_connection_t* c = x11 ? x11->connection() : nullptr; c && testAttribute(Qt::WA_WState_Created)) {
    static const char kName[] = "_NET_FRAME_EXTENTS";
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&free)> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, sizeof kName - 1, kName), nullptr), &free);
    if (!atom || atom->atom == XCB_ATOM_NONE) return std::nullopt;
    const std::unique_ptr<xcb_get_property_reply_t, decltype(&free)> ext(
        xcb_get_property_reply(c, xcb_get_property(c, 0, xcb_window_t(winId()), atom->atom, XCB_ATOM_CARDINAL, 0, 4),
                               nullptr),
        &free);
    if (!ext || ext->format != 32 || xcb_get_property_value_length(ext.get()) != 16) return std::nullopt;
    const auto* v = static_cast<const uint32_t*>(xcb_get_property_value(ext.get()));
    return QMargins(int(v[0]), int(v[2]), int(v[1]), int(v[3]));  // left, right, top, bottom
  }
  return std::nullopt;
}

QRect frmMain::OuterFrame() const { return geometry().marginsAdded(FrameMargins()); }

void frmMain::PlaceFrame(const QRect& frame) {
  m_wantedFrame = frame;
  m_placed.start();
  setGeometry(frame.marginsRemoved(FrameMargins()));
}

void frmMain::FollowFrame() {
  // A window manager's frame is known only once the window is mapped, and the manager may
  // still apply its own placement then: the stored placement is made again while the frame is
  // elsewhere, until the manager has let it stand for a moment.
  if (m_wantedFrame.isNull() || windowState() != Qt::WindowNoState || !WindowManagerFrame()) return;
  if (OuterFrame() != m_wantedFrame)
    PlaceFrame(m_wantedFrame);
  else if (m_placed.elapsed() >= 150)
    m_wantedFrame = QRect();
}

void frmMain::Form_KeyDown(int& KeyCode, int& Shift) {
  if (KeyCode == vbKeyF4 && (Shift & vbAltMask)) {
    KeyCode = 0;
    Shift = 0;
    mnuFileQuit_Click();
  } else if (KeyCode == vbKeyEscape && mnuExecStop->isEnabled()) {
    KeyCode = 0;
    Shift = 0;
    mnuExecStop_Click();
  } else if (KeyCode == vbKeyDelete && lstSource->currentRow() >= 0 &&
             lstSource->selectionModel()->isSelected(lstSource->currentIndex())) {
    KeyCode = 0;
    Shift = 0;
    Sources->Remove(lstSource->currentRow());
    lstSource->setCurrentRow(-1);
    lblWaveFileName->setText(QString());
  }
}

bool frmMain::eventFilter(QObject* obj, QEvent* e) {
  if (lstSource && obj == lstSource->viewport()) {
    if (e->type() == QEvent::DragEnter || e->type() == QEvent::DragMove) {
      auto* d = static_cast<QDropEvent*>(e);
      int effect = 1;
      lstSource_OLEDragOver(d->mimeData(), effect);
      if (effect) {
        d->setDropAction(Qt::CopyAction);
        d->accept();
      } else {
        d->ignore();
      }
      return true;
    }
    if (e->type() == QEvent::Drop) {
      auto* d = static_cast<QDropEvent*>(e);
      int effect = 1;
      lstSource_OLEDragOver(d->mimeData(), effect);
      lstSource_OLEDragDrop(d->mimeData(), effect);
      if (effect) d->acceptProposedAction();
      return true;
    }
  }
  // Key preview: the window sees key presses before its controls.
  if (e->type() == QEvent::KeyPress && isActiveWindow()) {
    auto* w = qobject_cast<QWidget*>(obj);
    if (w && (w == this || isAncestorOf(w))) {
      auto* k = static_cast<QKeyEvent*>(e);
      int code = 0;
      switch (k->key()) {
        case Qt::Key_Escape: code = vbKeyEscape; break;
        case Qt::Key_Delete: code = vbKeyDelete; break;
        case Qt::Key_F4: code = vbKeyF4; break;
        default: break;
      }
      if (code != 0) {
        int shift = ((k->modifiers() & Qt::ShiftModifier) ? 1 : 0) | ((k->modifiers() & Qt::ControlModifier) ? 2 : 0) |
                    ((k->modifiers() & Qt::AltModifier) ? vbAltMask : 0);
        Form_KeyDown(code, shift);
        if (code == 0) return true;
      }
    }
  }
  return QMainWindow::eventFilter(obj, e);
}

void frmMain::closeEvent(QCloseEvent* e) {
  // Closing cannot be refused, not even while a conversion runs.
  e->accept();
  Form_Unload();
}

void frmMain::mnuFileQuit_Click() { close(); }
void frmMain::mnuExecPlay_Click() { Toolbar1_ButtonClick(Button("Play")); }
void frmMain::mnuExecDecode_Click() { Toolbar1_ButtonClick(Button("Rec")); }
void frmMain::mnuExecStop_Click() { Toolbar1_ButtonClick(Button("Stop")); }

void frmMain::mnuSetType_Click(int Index) {
  static const char* keys[] = {"wave", "mp3", "wma"};
  if (Index < 0 || Index > 2) return;
  Toolbar1_ButtonClick(Button(keys[Index]));
  SetButtonPressed(keys[Index], true);
}

void frmMain::mnuSetPlay_Click(int Index) {
  const QString key = Index == 0 ? QStringLiteral("one") : QStringLiteral("all");
  Toolbar1_ButtonClick(Button(key));
  SetButtonPressed(key, true);
}
