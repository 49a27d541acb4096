#include "EncodeWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "Mp3Encoder.h"
#include "reasons_ja.h"
#include "shell/QtJapanese.h"

namespace kv::scmpx {

namespace {

const int kRates[] = {48, 56, 64, 80, 96, 112, 128, 160, 192};

QString Name(const QString& path) { return QFileInfo(path).fileName(); }

// The system's reason at the end of an English failure text ("...: No space left on device"),
// in Japanese; empty when the text carries none.
QString SystemReason(const kv::Status& s) {
  const std::string& m = s.message();
  const size_t colon = m.rfind(": ");
  if (colon == std::string::npos) return {};
  return QString::fromStdString(kv::JapaneseReasons(m.substr(colon + 2)));
}

QString WithReason(const QString& text, const kv::Status& s) {
  const QString why = SystemReason(s);
  return why.isEmpty() ? text + QStringLiteral("。") : text + QStringLiteral(" (") + why + QStringLiteral(")。");
}

// Why a WAVE cannot be encoded, before anything is written; empty when it can.
QString InputProblem(const QString& wave) {
  kv::mp3::WaveReader reader;
  const kv::Status s = reader.open(QFile::encodeName(wave).toStdString());
  if (!s) {
    switch (static_cast<kv::mp3::WaveError>(s.code())) {
      case kv::mp3::WaveError::CannotOpen: return WithReason(QStringLiteral("ファイルを開けません"), s);
      case kv::mp3::WaveError::NotWave: return QStringLiteral("WAVE ファイルではありません。");
      default: return QStringLiteral("PCM のモノラルかステレオの WAVE ファイルではありません。");
    }
  }
  const int rate = reader.info().sampleRate;
  if (!kv::mp3::isEncodableRate(rate))
    return QStringLiteral("サンプリングレート %1 Hz は MP3 にできません (16000、22050、24000、32000、44100、48000 Hz のみ)。")
        .arg(rate);
  return {};
}

}  // namespace

QString Mp3NameFor(const QString& wave) {
  if (wave.endsWith(QStringLiteral(".wav"), Qt::CaseInsensitive)) return wave.left(wave.size() - 4) + QStringLiteral(".mp3");
  return wave + QStringLiteral(".mp3");
}

EncodeWindow::EncodeWindow(QWidget* parent) : QWidget(parent) {
  kv::InstallQtJapanese();
  setWindowTitle(QStringLiteral("SCMPX - MP3 エンコーダー"));
  auto* top = new QVBoxLayout(this);

  auto* box = new QGroupBox(QStringLiteral("WAVE ファイル"), this);
  auto* boxRows = new QVBoxLayout(box);
  list_ = new QListWidget(box);
  list_->setObjectName("files");
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setMinimumSize(420, 140);
  boxRows->addWidget(list_);
  auto* listButtons = new QHBoxLayout;
  add_ = new QPushButton(QStringLiteral("追加(&A)..."), box);
  add_->setObjectName("addButton");
  remove_ = new QPushButton(QStringLiteral("削除(&D)"), box);
  remove_->setObjectName("removeButton");
  listButtons->addWidget(add_);
  listButtons->addWidget(remove_);
  listButtons->addStretch();
  boxRows->addLayout(listButtons);
  auto* note = new QLabel(QStringLiteral("MP3 ファイルは WAVE ファイルと同じフォルダに、同じ名前で作られます。"), box);
  note->setWordWrap(true);
  boxRows->addWidget(note);
  top->addWidget(box);

  auto* options = new QHBoxLayout;
  auto* rateLabel = new QLabel(QStringLiteral("ビットレート(&B):"), this);
  bitrate_ = new QComboBox(this);
  bitrate_->setObjectName("bitrate");
  for (int kbps : kRates) bitrate_->addItem(QStringLiteral("%1 kbps").arg(kbps, 3), kbps);
  bitrate_->setCurrentIndex(bitrate_->findData(128));  // the command line's default
  rateLabel->setBuddy(bitrate_);
  fast_ = new QCheckBox(QStringLiteral("高速エンコード(&F)"), this);
  fast_->setObjectName("fast");
  options->addWidget(rateLabel);
  options->addWidget(bitrate_);
  options->addSpacing(16);
  options->addWidget(fast_);
  options->addStretch();
  top->addLayout(options);

  bar_ = new QProgressBar(this);
  bar_->setObjectName("progress");
  bar_->setRange(0, 100);
  bar_->setValue(0);
  top->addWidget(bar_);
  now_ = new QLabel(this);
  now_->setObjectName("now");
  top->addWidget(now_);
  // What became of each file, kept to a few lines that scroll, so the window keeps its size.
  report_ = new QPlainTextEdit(this);
  report_->setObjectName("report");
  report_->setReadOnly(true);
  report_->setFixedHeight(report_->fontMetrics().lineSpacing() * 4 + 12);
  top->addWidget(report_);

  auto* buttons = new QHBoxLayout;
  encode_ = new QPushButton(QStringLiteral("エンコード(&E)"), this);
  encode_->setObjectName("encodeButton");
  encode_->setDefault(true);
  stop_ = new QPushButton(QStringLiteral("中止(&S)"), this);
  stop_->setObjectName("stopButton");
  auto* close = new QPushButton(QStringLiteral("閉じる"), this);
  close->setObjectName("closeButton");
  buttons->addStretch();
  buttons->addWidget(encode_);
  buttons->addWidget(stop_);
  buttons->addWidget(close);
  top->addLayout(buttons);

  connect(add_, &QPushButton::clicked, this, &EncodeWindow::browse);
  connect(remove_, &QPushButton::clicked, this, &EncodeWindow::removeSelected);
  connect(encode_, &QPushButton::clicked, this, &EncodeWindow::start);
  connect(stop_, &QPushButton::clicked, this, &EncodeWindow::stop);
  connect(close, &QPushButton::clicked, this, &QWidget::close);
  connect(list_, &QListWidget::itemSelectionChanged, this, &EncodeWindow::showState);
  tick_.callOnTimeout(this, &EncodeWindow::frames);
  showState();
}

EncodeWindow::~EncodeWindow() = default;  // an unfinished MP3 is discarded with its encoder

void EncodeWindow::addFiles(const QStringList& paths) {
  for (const QString& p : paths) {
    if (p.isEmpty() || files().contains(p)) continue;
    auto* item = new QListWidgetItem(Name(p), list_);
    item->setData(Qt::UserRole, p);
    item->setToolTip(p);
  }
  showState();
}

QStringList EncodeWindow::files() const {
  QStringList out;
  for (int i = 0; i < list_->count(); ++i) out << list_->item(i)->data(Qt::UserRole).toString();
  return out;
}

QString EncodeWindow::report() const { return results_.join(u'\n'); }

void EncodeWindow::browse() {
  const QString start = list_->count() ? QFileInfo(files().last()).absolutePath() : QString();
  addFiles(QFileDialog::getOpenFileNames(this, QStringLiteral("WAVE ファイルの追加"), start,
                                         QStringLiteral("WAVE ファイル (*.wav *.WAV);;すべてのファイル (*)")));
}

void EncodeWindow::removeSelected() {
  qDeleteAll(list_->selectedItems());
  showState();
}

void EncodeWindow::showState() {
  const bool busy = running();
  add_->setEnabled(!busy);
  remove_->setEnabled(!busy && !list_->selectedItems().isEmpty());
  encode_->setEnabled(!busy && list_->count() > 0);
  stop_->setEnabled(busy);
  bitrate_->setEnabled(!busy);
  fast_->setEnabled(!busy);
  list_->setEnabled(!busy);
}

void EncodeWindow::start() {
  if (running() || list_->count() == 0) return;
  queue_ = files();
  results_.clear();
  report_->clear();
  stopped_ = false;
  done_ = 0;
  total_ = int(queue_.size());
  next();
}

void EncodeWindow::next() {
  while (!queue_.isEmpty()) {
    current_ = queue_.takeFirst();
    now_->setText(QStringLiteral("エンコード中 (%1/%2): ").arg(total_ - queue_.size()).arg(total_) + Name(current_));
    bar_->setValue(Overall(0));
    if (const QString problem = InputProblem(current_); !problem.isEmpty()) {
      endFile(Name(current_) + QStringLiteral(" をエンコードできませんでした: ") + problem);
      continue;
    }
    kv::mp3::EncodeOptions opt;
    opt.bitrateKbps = bitrate_->currentData().toInt();
    opt.mode = kv::mp3::ChannelMode::JointStereo;
    opt.quality = fast_->isChecked() ? 7 : 3;  // as the command line's -f
    encoder_ = std::make_unique<kv::mp3::Mp3Encoder>();
    kv::Status s = encoder_->openInput(QFile::encodeName(current_).toStdString(), opt);
    if (s) s = encoder_->openOutput(QFile::encodeName(Mp3NameFor(current_)).toStdString());
    if (!s) {
      encoder_.reset();
      endFile(Name(current_) + QStringLiteral(" をエンコードできませんでした: ") +
              WithReason(QStringLiteral("MP3 ファイル ") + Name(Mp3NameFor(current_)) + QStringLiteral(" を作れません"), s));
      continue;
    }
    showState();
    tick_.start(0);
    return;
  }
  if (!stopped_) bar_->setValue(100);  // every file has had its turn
  now_->setText(QStringLiteral("%1 個のうち %2 個を MP3 にしました。").arg(total_).arg(done_));
  showState();
  emit runFinished();
}

// As many frames as fit in 16 ms per turn of the event loop: the window repaints and takes
// its buttons while the encoder keeps its own speed.
void EncodeWindow::frames() {
  QElapsedTimer turn;
  turn.start();
  kv::Status s;
  do s = encoder_->step();
  while (s && !encoder_->finished() && turn.elapsed() < 16);
  const int64_t frames = encoder_->input().frames;
  if (frames > 0) bar_->setValue(Overall(int(std::min<int64_t>(100, encoder_->framesDone() * 100 / frames))));
  if (s && !encoder_->finished()) return;
  tick_.stop();
  const int kbps = encoder_->bitrateKbps();
  encoder_.reset();
  if (!s) {
    endFile(Name(current_) + QStringLiteral(" をエンコードできませんでした: ") +
            WithReason(QStringLiteral("MP3 ファイルを書き込めません"), s));
  } else {
    ++done_;
    endFile(Name(Mp3NameFor(current_)) + QStringLiteral(" を書き出しました (%1 kbps)。").arg(kbps));
  }
  next();
}

int EncodeWindow::Overall(int filePercent) const {
  const int before = total_ - int(queue_.size()) - 1;  // files finished before the current one
  return total_ > 0 ? (before * 100 + filePercent) / total_ : 0;
}

void EncodeWindow::endFile(const QString& line) {
  results_ << line;
  report_->appendPlainText(line);
}

void EncodeWindow::stop() {
  if (!running()) return;
  tick_.stop();
  encoder_.reset();  // the unfinished MP3 goes
  endFile(Name(current_) + QStringLiteral(" は中止しました (MP3 は作っていません)。"));
  queue_.clear();
  stopped_ = true;
  next();
}

}  // namespace kv::scmpx
