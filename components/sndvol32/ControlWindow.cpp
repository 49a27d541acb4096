#include "ControlWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include "reasons_ja.h"
#include "shell/QtJapanese.h"

namespace kv::sndvol {

namespace {
const char kSynthSource[] = "synth";
QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

bool WantsRecordingControl(const QStringList& args) {
  for (const QString& a : args)
    if (a.compare(QLatin1String("/R"), Qt::CaseInsensitive) == 0 || a.compare(QLatin1String("-R"), Qt::CaseInsensitive) == 0)
      return true;
  return false;
}

ControlWindow::ControlWindow(Mode mode, QWidget* parent) : QWidget(parent), mode_(mode) {
  kv::InstallQtJapanese();  // the SoundFont file dialog speaks Japanese too
  const SystemSetup s = LoadSystemSetup();
  auto* top = new QVBoxLayout(this);
  if (mode_ == Mode::Volume)
    buildVolume(s);
  else
    buildRecording(s);

  status_ = new QLabel(this);
  status_->setObjectName("statusLabel");
  status_->setWordWrap(true);
  status_->setStyleSheet("color: #b00000;");
  status_->hide();
  top->addWidget(status_);

  auto* close = new QPushButton(QStringLiteral("閉じる"), this);
  close->setObjectName("closeButton");
  connect(close, &QPushButton::clicked, this, &QWidget::close);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(close);
  top->addLayout(row);

  // The window takes the size its texts need, also when a warning appears or wraps later, and
  // is wide enough for a window manager's title bar: the title in a bold font beside the
  // frame's icon and three buttons.
  top->setSizeConstraint(QLayout::SetFixedSize);
  QFont bold = font();
  bold.setBold(true);
  top->addStrut(QFontMetrics(bold).horizontalAdvance(windowTitle()) + 120);
}

void ControlWindow::buildVolume(const SystemSetup& s) {
  setWindowTitle(QStringLiteral("ボリュームコントロール"));
  auto* box = new QGroupBox(QStringLiteral("内蔵シンセサイザー"), this);
  auto* col = new QVBoxLayout(box);
  volume_ = new QSlider(Qt::Vertical, box);
  volume_->setObjectName("volumeSlider");
  volume_->setRange(0, 100);
  volume_->setPageStep(10);
  volume_->setTickPosition(QSlider::TicksBothSides);
  volume_->setTickInterval(10);
  volume_->setMinimumHeight(140);
  volume_->setValue(s.volume);
  volumeValue_ = new QLabel(QString::number(s.volume) + " %", box);
  volumeValue_->setObjectName("volumeValue");
  volumeValue_->setAlignment(Qt::AlignHCenter);
  col->addWidget(new QLabel(QStringLiteral("音量"), box), 0, Qt::AlignHCenter);
  col->addWidget(volume_, 1, Qt::AlignHCenter);
  col->addWidget(volumeValue_);
  static_cast<QVBoxLayout*>(layout())->addWidget(box);
  connect(volume_, &QSlider::valueChanged, this, [this](int v) {
    volumeValue_->setText(QString::number(v) + " %");
    saveChange([v](SystemSetup& st) { st.volume = v; });
  });
}

void ControlWindow::buildRecording(const SystemSetup& s) {
  setWindowTitle(QStringLiteral("録音コントロール"));
  auto* grid = new QGridLayout;
  static_cast<QVBoxLayout*>(layout())->addLayout(grid);

  source_ = new QComboBox(this);
  source_->setObjectName("sourceCombo");
  source_->addItem(QStringLiteral("内蔵シンセサイザーのミックス"), QString(kSynthSource));
  for (const CaptureDevice& d : ListCaptureDevices()) {
    const QString text = d.pcm == "default" ? QStringLiteral("デスクトップの既定の入力") : Q(d.description);
    source_->addItem(text + " (" + Q(d.pcm) + ")", Q("alsa:" + d.pcm));
  }
  int at = source_->findData(Q(s.source));
  if (at < 0) {
    // A device chosen earlier but absent now stays chosen, so nothing is lost by opening the window.
    source_->addItem(Q(s.source) + QStringLiteral(" (見つかりません)"), Q(s.source));
    at = source_->count() - 1;
  }
  source_->setCurrentIndex(at);
  auto* sourceLabel = new QLabel(QStringLiteral("録音ソース(&S):"), this);
  sourceLabel->setBuddy(source_);
  grid->addWidget(sourceLabel, 0, 0);
  grid->addWidget(source_, 0, 1, 1, 2);
  connect(source_, &QComboBox::currentIndexChanged, this, [this](int i) {
    const std::string src = source_->itemData(i).toString().toStdString();
    saveChange([src](SystemSetup& st) { st.source = src; });
  });

  fast_ = new QCheckBox(QStringLiteral("高速録音(&F)  内蔵シンセサイザーを CPU の速さで録音します"), this);
  fast_->setObjectName("fastCheck");
  fast_->setChecked(s.fast);
  grid->addWidget(fast_, 1, 0, 1, 3);
  connect(fast_, &QCheckBox::toggled, this, [this](bool on) { saveChange([on](SystemSetup& st) { st.fast = on; }); });

  // After a song's last event: until its sound has decayed (the lowest value), or fixed seconds.
  tail_ = new QDoubleSpinBox(this);
  tail_->setObjectName("tailSpin");
  tail_->setRange(-0.5, kTailMaxSeconds);
  tail_->setSingleStep(0.5);
  tail_->setDecimals(1);
  tail_->setSuffix(QStringLiteral(" 秒"));
  tail_->setSpecialValueText(QStringLiteral("自動 (音が消えるまで)"));
  tail_->setValue(s.tailSeconds < 0 ? -0.5 : s.tailSeconds);
  auto* tailLabel = new QLabel(QStringLiteral("曲の終わりの余韻(&T):"), this);
  tailLabel->setBuddy(tail_);
  grid->addWidget(tailLabel, 4, 0);
  grid->addWidget(tail_, 4, 1);
  connect(tail_, &QDoubleSpinBox::valueChanged, this, [this](double v) {
    saveChange([v](SystemSetup& st) { st.tailSeconds = v < 0 ? kTailAuto : v; });
  });

  soundFont_ = new QLineEdit(Q(s.soundFont), this);
  soundFont_->setObjectName("soundFontEdit");
  soundFont_->setPlaceholderText(QStringLiteral("空欄: 既定の SoundFont"));
  soundFont_->setMinimumWidth(300);
  auto* browse = new QPushButton(QStringLiteral("参照..."), this);
  browse->setObjectName("browseButton");
  auto* sfLabel = new QLabel(QStringLiteral("SoundFont(&O):"), this);
  sfLabel->setBuddy(soundFont_);
  grid->addWidget(sfLabel, 2, 0);
  grid->addWidget(soundFont_, 2, 1);
  grid->addWidget(browse, 2, 2);
  soundFontNote_ = new QLabel(this);
  soundFontNote_->setObjectName("soundFontWarning");
  soundFontNote_->setWordWrap(true);
  grid->addWidget(soundFontNote_, 3, 1, 1, 2);
  connect(browse, &QPushButton::clicked, this, &ControlWindow::browseSoundFont);
  connect(soundFont_, &QLineEdit::textChanged, this, &ControlWindow::refreshSoundFontNote);
  connect(soundFont_, &QLineEdit::editingFinished, this, [this] {
    const std::string sf = soundFont_->text().trimmed().toStdString();
    saveChange([sf](SystemSetup& st) { st.soundFont = sf; });
  });
  refreshSoundFontNote();

  // Songs with a marked loop (controller 111, loopStart/loopEnd): the loop's count, then a fade.
  loops_ = new QSpinBox(this);
  loops_->setObjectName("loopsSpin");
  loops_->setRange(0, kMaxLoops);
  loops_->setValue(s.loops);
  loops_->setSpecialValueText(QStringLiteral("ループしない"));
  fade_ = new QDoubleSpinBox(this);
  fade_->setObjectName("fadeSpin");
  fade_->setRange(0, kMaxFadeMs / 1000.0);
  fade_->setDecimals(1);
  fade_->setSuffix(QStringLiteral(" 秒"));
  fade_->setValue(s.fadeMs / 1000.0);
  auto* loopLabel = new QLabel(QStringLiteral("ループ回数(&L):"), this);
  loopLabel->setBuddy(loops_);
  auto* fadeLabel = new QLabel(QStringLiteral("フェードアウト(&D):"), this);
  fadeLabel->setBuddy(fade_);
  auto* loopRow = new QHBoxLayout;
  loopRow->addWidget(loops_);
  loopRow->addWidget(fadeLabel);
  loopRow->addWidget(fade_);
  loopRow->addStretch();
  grid->addWidget(loopLabel, 5, 0);
  grid->addLayout(loopRow, 5, 1, 1, 2);
  connect(loops_, &QSpinBox::valueChanged, this, [this](int n) { saveChange([n](SystemSetup& st) { st.loops = n; }); });
  connect(fade_, &QDoubleSpinBox::valueChanged, this, [this](double seconds) {
    const int ms = int(seconds * 1000 + 0.5);
    saveChange([ms](SystemSetup& st) { st.fadeMs = ms; });
  });

  // Synthesizers a song is spread over by channel group (the samples follow this, not the cores).
  lanes_ = new QSpinBox(this);
  lanes_->setObjectName("lanesSpin");
  lanes_->setRange(1, kMaxLanes);
  lanes_->setValue(s.lanes);
  lanes_->setSpecialValueText(QStringLiteral("1 (チャンネルを分けない)"));
  lanes_->setToolTip(QStringLiteral("曲のチャンネルをいくつのシンセサイザーに分けて、それぞれのスレッドで鳴らすか"));
  auto* lanesLabel = new QLabel(QStringLiteral("シンセサイザーの数(&N):"), this);
  lanesLabel->setBuddy(lanes_);
  grid->addWidget(lanesLabel, 6, 0);
  grid->addWidget(lanes_, 6, 1);
  connect(lanes_, &QSpinBox::valueChanged, this, [this](int n) { saveChange([n](SystemSetup& st) { st.lanes = n; }); });
}

void ControlWindow::saveChange(const std::function<void(SystemSetup&)>& change) {
  // Re-read first: the other control may have changed another value meanwhile.
  SystemSetup s = LoadSystemSetup();
  change(s);
  if (SaveSystemSetup(s)) {
    saveError_.clear();
    if (status_) status_->hide();
    return;
  }
  saveError_ = QStringLiteral("設定を保存できません: ") + Q(SystemSetupPath());
  if (status_) {
    status_->setText(saveError_);
    status_->show();
  }
}

void ControlWindow::setSoundFontPath(const QString& path) {
  soundFont_->setText(path);
  const std::string sf = path.trimmed().toStdString();
  saveChange([sf](SystemSetup& st) { st.soundFont = sf; });
}

void ControlWindow::browseSoundFont() {
  QString start = soundFont_->text().trimmed();
  if (start.isEmpty()) start = QStringLiteral("/usr/share/sounds/sf2");
  QString chosen = QFileDialog::getOpenFileName(this, QStringLiteral("SoundFont の選択"), start,
                                                QStringLiteral("SoundFont (*.sf2 *.sf3 *.SF2 *.SF3);;すべてのファイル (*)"));
  if (!chosen.isEmpty()) setSoundFontPath(chosen);
}

void ControlWindow::refreshSoundFontNote() {
  const QString text = soundFont_->text().trimmed();
  SystemSetup probe;
  probe.soundFont = text.toStdString();
  const QString used = Q(ResolveSoundFont(probe));
  if (!text.isEmpty() && !QFileInfo(text).isFile()) {
    soundFontNote_->setStyleSheet("color: #b00000;");
    soundFontNote_->setText(QStringLiteral("SoundFont が見つかりません。") +
                            (used.isEmpty() ? QString() : QStringLiteral("代わりに %1 を使います。").arg(used)));
  } else if (used.isEmpty()) {
    soundFontNote_->setStyleSheet("color: #b00000;");
    soundFontNote_->setText(Q(JapaneseReasons(MissingSoundFontMessage())));
  } else {
    soundFontNote_->setStyleSheet(QString());
    soundFontNote_->setText(text.isEmpty() ? QStringLiteral("既定の SoundFont: %1").arg(used) : QString());
  }
  soundFontNote_->setVisible(!soundFontNote_->text().isEmpty());
}

}  // namespace kv::sndvol
