#include "encoders/frmEncoder.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "shell/Dir.h"
#include "shell/OpenDlg.h"

namespace {
struct Rate {
  const char* text;
  int kbps;
};
constexpr Rate kRates[] = {{" 48 kbps", 48}, {" 56 kbps", 56}, {" 64 kbps", 64},  {" 80 kbps", 80}, {" 96 kbps", 96},
                           {"112 kbps", 112}, {"128 kbps", 128}, {"160 kbps", 160}, {"192 kbps", 192}};
}  // namespace

frmEncoder::frmEncoder(const kv::Settings& settings, const QString& programFolder, QWidget* owner)
    : QDialog(owner), m_settings(settings), m_programFolder(programFolder) {
  setObjectName(QStringLiteral("frmEncoder"));
  setWindowTitle(QStringLiteral("外部エンコーダーの設定"));
  auto* top = new QVBoxLayout(this);

  fraMP3 = new QGroupBox(QStringLiteral("MP3エンコーダー"), this);
  auto* mp3 = new QGridLayout(fraMP3);
  m_mp3Group = new QButtonGroup(this);
  const QString mp3Captions[3] = {QStringLiteral("SCMPX.EXE"), QStringLiteral("GOGO.DLL"),
                                  QStringLiteral("Fraunhofer IIS MPEG Layer-3 Codec (professional)   [Auto Setting]")};
  for (int i = 0; i < 3; ++i) {
    auto* o = new QRadioButton(mp3Captions[i], fraMP3);
    o->setObjectName(QStringLiteral("optMP3Enc%1").arg(i));
    m_mp3Group->addButton(o, i);
    optMP3Enc.push_back(o);
  }
  lblScmpx = new QLineEdit(fraMP3);
  lblScmpx->setObjectName(QStringLiteral("lblScmpx"));
  lblScmpx->setReadOnly(true);  // a path is taken only through the browse button, which checks it
  cmdSelScmpx = new QPushButton(QStringLiteral("参照..."), fraMP3);
  cmdSelScmpx->setObjectName(QStringLiteral("cmdSelScmpx"));
  cmdSelScmpx->setAutoDefault(false);
  chkFast = new QCheckBox(QStringLiteral("----　高速エンコード"), fraMP3);
  chkFast->setObjectName(QStringLiteral("chkFast"));
  lblGogoVer = new QLabel(fraMP3);
  lblGogoVer->setObjectName(QStringLiteral("lblGogoVer"));
  cboBitrate = new QComboBox(fraMP3);
  cboBitrate->setObjectName(QStringLiteral("cboBitrate"));
  for (const Rate& r : kRates) cboBitrate->addItem(QString::fromLatin1(r.text), r.kbps);
  chkJoint = new QCheckBox(QStringLiteral("ステレオの時はJoint Stereo 形式を使用"), fraMP3);
  chkJoint->setObjectName(QStringLiteral("chkJoint"));
  mp3->addWidget(optMP3Enc[0], 0, 0);
  mp3->addWidget(lblScmpx, 0, 1);
  mp3->addWidget(cmdSelScmpx, 0, 2);
  mp3->addWidget(chkFast, 1, 1, 1, 2);
  mp3->addWidget(optMP3Enc[1], 2, 0);
  mp3->addWidget(lblGogoVer, 2, 1, 1, 2);
  mp3->addWidget(optMP3Enc[2], 3, 0, 1, 3);
  mp3->addWidget(cboBitrate, 4, 0);
  mp3->addWidget(chkJoint, 4, 1, 1, 2);
  top->addWidget(fraMP3);

  fraWMA = new QGroupBox(QStringLiteral("WMAエンコーダー"), this);
  auto* wma = new QGridLayout(fraWMA);
  m_wmaGroup = new QButtonGroup(this);
  const QString wmaCaptions[2] = {QStringLiteral("WM8EUTIL.EXE 　　( V8 /　64kbps / 44100Hz / Stereo 固定 )"),
                                  QStringLiteral("VBWAV2WMA.DLL ( V2 /　64kbps / 44100Hz / Stereo 固定 )")};
  for (int i = 0; i < 2; ++i) {
    auto* o = new QRadioButton(wmaCaptions[i], fraWMA);
    o->setObjectName(QStringLiteral("optWMAEnc%1").arg(i));
    m_wmaGroup->addButton(o, i);
    optWMAEnc.push_back(o);
  }
  lblwma8util = new QLineEdit(fraWMA);
  lblwma8util->setObjectName(QStringLiteral("lblwma8util"));
  lblwma8util->setReadOnly(true);
  cmdSetWme8util = new QPushButton(QStringLiteral("参照..."), fraWMA);
  cmdSetWme8util->setObjectName(QStringLiteral("cmdSetWme8util"));
  cmdSetWme8util->setAutoDefault(false);
  wma->addWidget(optWMAEnc[0], 0, 0, 1, 2);
  wma->addWidget(lblwma8util, 1, 0);
  wma->addWidget(cmdSetWme8util, 1, 1);
  wma->addWidget(optWMAEnc[1], 2, 0, 1, 2);
  top->addWidget(fraWMA);

  chkSampleSel = new QCheckBox(QStringLiteral("全エンコーダー共通のサンプリングレートのみを表示"), this);
  chkSampleSel->setObjectName(QStringLiteral("chkSampleSel"));
  cmdOK = new QPushButton(QStringLiteral("&OK"), this);
  cmdOK->setObjectName(QStringLiteral("cmdOK"));
  cmdOK->setDefault(true);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(chkSampleSel, 1);
  bottom->addWidget(cmdOK);
  top->addLayout(bottom);

  connect(cmdSelScmpx, &QPushButton::clicked, this, &frmEncoder::cmdSelScmpx_Click);
  connect(cmdSetWme8util, &QPushButton::clicked, this, &frmEncoder::cmdSetWme8util_Click);
  connect(cmdOK, &QPushButton::clicked, this, &frmEncoder::cmdOK_Click);
  Form_Load();
}

void frmEncoder::Form_Load() {
  if (parentWidget()) setWindowIcon(parentWidget()->window()->windowIcon());
}

void frmEncoder::Fill() {
  const kv::Settings& g = m_settings;
  for (int i = 0; i < 3; ++i) optMP3Enc[i]->setEnabled(g.EncoderAvailable[i]);
  if (g.EncoderDefault >= 0 && g.EncoderDefault < 3) optMP3Enc[g.EncoderDefault]->setChecked(true);
  lblScmpx->setText(g.ScmpxPath);
  lblGogoVer->setText(g.GogoVersion);
  cboBitrate->setCurrentIndex(cboBitrate->findData(g.Bitrate));  // -1 (nothing) for a rate not listed
  chkJoint->setChecked(g.StereoMode == QStringLiteral("Joint Stereo"));
  for (int i = 0; i < 2; ++i) optWMAEnc[i]->setEnabled(g.WmaAvailable[i]);
  lblwma8util->setText(g.Wm8eutilPath);
  if (g.WmaEncoder >= 0 && g.WmaEncoder < 2) optWMAEnc[g.WmaEncoder]->setChecked(true);
  chkFast->setChecked(g.FastEncode);
  chkSampleSel->setChecked(g.SelSample == 1);
}

void frmEncoder::LocateProgram(const QString& current, QLineEdit* field, QVector<QRadioButton*>& options,
                               const QString& filter, const QString& expectedLower, const QString& title) {
  QString initial = m_programFolder;
  if (current != kv::NonePath()) {
    const QString fileName = current.mid(current.lastIndexOf(u'/') + 1);
    initial = current.left(current.size() - fileName.size() - 1);
  }
  const QString chosen = OpenFileDialog(this, initial, filter, kv::kOfnCallerFlags, title);
  if (chosen.isEmpty()) return;
  if (kv::FileNamed(chosen, expectedLower)) {
    field->setText(chosen);
    options[0]->setEnabled(true);
    options[0]->setChecked(true);
    return;
  }
  field->setText(kv::NonePath());
  if (options[0]->isChecked()) {
    for (int i = 1; i < options.size(); ++i)
      if (options[i]->isEnabled()) {
        options[i]->setChecked(true);
        break;
      }
  }
  options[0]->setEnabled(false);
}

void frmEncoder::cmdSelScmpx_Click() {
  LocateProgram(m_settings.ScmpxPath, lblScmpx, optMP3Enc,
                QStringLiteral("SCMPX実行ファイル (Scmpx.exe)") + QChar(0) + QStringLiteral("Scmpx.exe"),
                QStringLiteral("scmpx.exe"), QStringLiteral("SCMPXの指定"));
}

void frmEncoder::cmdSetWme8util_Click() {
  LocateProgram(m_settings.Wm8eutilPath, lblwma8util, optWMAEnc,
                QStringLiteral("WM8ユーティリティ (wm8eutil.exe)") + QChar(0) + QStringLiteral("wm8eutil.exe"),
                QStringLiteral("wm8eutil.exe"), QStringLiteral("WM8UTILの指定"));
}

void frmEncoder::cmdOK_Click() {
  kv::Settings& g = m_settings;
  g.EncoderDefault = -1;
  for (int i = 0; i < 3; ++i) {
    if (optMP3Enc[i]->isChecked()) g.EncoderDefault = static_cast<short>(i);
    g.EncoderAvailable[i] = optMP3Enc[i]->isEnabled();
  }
  g.ScmpxPath = lblScmpx->text();
  // With no rate selected (a stored rate the list does not offer) the rate stays as it was.
  if (cboBitrate->currentIndex() >= 0) g.Bitrate = cboBitrate->currentData().toInt();
  g.StereoMode = chkJoint->isChecked() ? QStringLiteral("Joint Stereo") : QStringLiteral("Stereo");
  g.WmaEncoder = -1;
  for (int i = 0; i < 2; ++i) {
    if (optWMAEnc[i]->isChecked()) g.WmaEncoder = static_cast<short>(i);
    g.WmaAvailable[i] = optWMAEnc[i]->isEnabled();
  }
  g.Wm8eutilPath = lblwma8util->text();
  g.FastEncode = chkFast->isChecked();
  g.SelSample = chkSampleSel->isChecked() ? 1 : 0;
  m_accepted = true;
  accept();
}
