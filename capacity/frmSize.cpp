#include "capacity/frmSize.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <cmath>
#include <exception>

#include "shell/Twips.h"
#include "capacity/Volume.h"
#include "components/vbmp3/vbmp3.h"
#include "engine/MediaCommands.h"
#include "midi/MIDInfo.h"
#include "owned.h"
#include "shell/Dir.h"
#include "shell/FileName.h"
#include "shell/MsgBox.h"

const QColor frmSize::kWaveColor(0xFF, 0xFF, 0xC0);
const QColor frmSize::kMp3Color(0xC0, 0xC0, 0xFF);
const QColor frmSize::kMidiColor(0xFF, 0xC0, 0xFF);
const QColor frmSize::kFreeColor(0xFF, 0xFF, 0xFF);
const QColor frmSize::kFitColor(0x00, 0x00, 0xFF);
const QColor frmSize::kOverColor(0xFF, 0x00, 0x00);

namespace {

// The hourglass for the length of one measuring step, restored however the step ends.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

// Lets the windows repaint between files; clicks and keys wait until the window is shown,
// so no command can start while the totals are being gathered.
void LetEventsRun() { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

void Place(QWidget* w, int left, int top, int width, int height) {
  w->setGeometry(kv::TwipsToPx(left), kv::TwipsToPx(top), kv::TwipsToPx(width), kv::TwipsToPx(height));
}

QLabel* MakeLabel(QWidget* parent, const QString& text, int left, int top, int width, int height = 240) {
  auto* l = new QLabel(text, parent);
  Place(l, left, top, width, height);
  return l;
}


}  // namespace

namespace kv {

ShapeBox::ShapeBox(const QColor& fill, QWidget* parent) : QWidget(parent), m_fill(fill) {}

void ShapeBox::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), m_fill);
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace kv

frmSize::frmSize(const Inputs& inputs, QWidget* parent) : QDialog(parent), m_in(inputs) {
  setObjectName(QStringLiteral("frmSize"));
  setWindowTitle(QStringLiteral("容量確認"));
  BuildControls();
  setFixedSize(kv::TwipsToPx(kClientWidth), kv::TwipsToPx(kClientHeight));
}

void frmSize::BuildControls() {
  Label1 = MakeLabel(this, QStringLiteral("CD-Rの容量："), 180, 210, 1500);
  cboDisk = new QComboBox(this);
  cboDisk->setObjectName(QStringLiteral("cboDisk"));
  Place(cboDisk, 1740, 150, 2100, 330);
  cboDisk->addItem(QStringLiteral("650 MB(74min)"), 4440);
  cboDisk->addItem(QStringLiteral("700 MB(80min)"), 4800);
  cboDisk->setCurrentIndex(-1);

  Label2 = MakeLabel(this, QStringLiteral("ドライブの空き容量："), 180, 600, 1860);
  lblDiskSpace = MakeLabel(this, QString(), 2040, 600, 3795);
  lblDiskSpace->setObjectName(QStringLiteral("lblDiskSpace"));

  // Bar: the frame at the back, then MIDI, MP3 and WAVE towards the front.
  shaDisk = new kv::ShapeBox(kFreeColor, this);
  Place(shaDisk, kDiskLeft, kDiskTop, kDiskWidth, kDiskHeight);
  shaMidi = new kv::ShapeBox(kMidiColor, this);
  shaMp3 = new kv::ShapeBox(kMp3Color, this);
  shaWave = new kv::ShapeBox(kWaveColor, this);
  for (kv::ShapeBox* s : {shaMidi, shaMp3, shaWave}) Place(s, kDiskLeft, kDiskTop, 0, kDiskHeight);

  lblCDRSpace = MakeLabel(this, QStringLiteral("CD-R空き時間："), 180, 1500, 5655, 255);
  lblCDRSpace->setObjectName(QStringLiteral("lblCDRSpace"));

  // Legend.
  static const char* const kLegend[4] = {"CD-R空き時間", "リスト内のMIDI演奏時間", "フォルダ内のWAV演奏時間",
                                         "フォルダ内のMP3演奏時間"};
  const QColor legendColors[4] = {kFreeColor, kMidiColor, kWaveColor, kMp3Color};
  for (int i = 0; i < 4; ++i) {
    const int top = 1890 + i * 300;
    shaX[i] = new kv::ShapeBox(legendColors[i], this);
    Place(shaX[i], 180, top + 15, 360, 195);
    lblX[i] = MakeLabel(this, QString::fromUtf8(kLegend[i]), 660, top, 2520);
  }

  // Gaps around each track.
  Label3 = MakeLabel(this, QStringLiteral("プリギャップ："), 3300, 1920, 1500);
  Label4 = MakeLabel(this, QStringLiteral("ポストギャップ："), 3300, 2340, 1500);
  for (int i = 0; i < 2; ++i) {
    cboGap[i] = new QComboBox(this);
    cboGap[i]->setObjectName(QStringLiteral("cboGap%1").arg(i));
    Place(cboGap[i], 4800, 1860 + i * 420, 1035, 330);
    const char* const items[4] = {"なし", "１秒", "２秒", "３秒"};
    for (int k = 0; k < 4; ++k) cboGap[i]->addItem(QString::fromUtf8(items[k]), k);
    cboGap[i]->setCurrentIndex(-1);
  }

  cmdClose = new QPushButton(QStringLiteral("閉じる(&C)"), this);
  cmdClose->setObjectName(QStringLiteral("cmdClose"));
  Place(cmdClose, 4500, 2880, 1335, 375);

  connect(cboDisk, &QComboBox::currentIndexChanged, this, [this] { cboDisk_Click(); });
  for (int i = 0; i < 2; ++i)
    connect(cboGap[i], &QComboBox::currentIndexChanged, this, [this, i] { cboGap_Click(i); });
  connect(cmdClose, &QPushButton::clicked, this, [this] { cmdClose_Click(); });
}

void frmSize::Form_Load() {
  try {
    setWindowTitle(QStringLiteral("容量確認 [") + m_in.outputFolder + QStringLiteral("]"));
    // The "drive" is the mount point of the file system that holds the output folder.
    const QString drive = kv::MountOf(m_in.outputFolder.isEmpty() ? QStringLiteral("/") : m_in.outputFolder).mountPoint;
    const quint64 freeBytes = kv::GetFreeBytes(drive);
    if (parentWidget()) setWindowIcon(parentWidget()->window()->windowIcon());
    lblDiskSpace->setText(kv::GroupedNumber(freeBytes) + QStringLiteral(" bytes [") + drive + QStringLiteral("]"));
    cboDisk->setCurrentIndex(0);

    const QString tooLong = QStringLiteral("合計の時間が長すぎて、計算できません。");
    MeasureMidi();
    if (!FitsCdAudioSize(MidiSeconds)) kv::MsgBox(tooLong, kv::vbInformation, QString(), this);
    MeasureWave();
    if (!FitsCdAudioSize(WaveSeconds)) kv::MsgBox(tooLong, kv::vbInformation, QString(), this);
    MeasureMp3();
    if (!FitsCdAudioSize(Mp3Seconds)) kv::MsgBox(tooLong, kv::vbInformation, QString(), this);

    cboGap[0]->setCurrentIndex(2);
    cboGap[1]->setCurrentIndex(2);
    UpdateBar();
  } catch (const std::exception& e) {
    kv::MsgBox(QStringLiteral("Error:") + QString::fromLocal8Bit(e.what()), kv::vbExclamation, QString(), this);
  } catch (...) {
    kv::MsgBox(QStringLiteral("Error:") + QStringLiteral("unknown error"), kv::vbExclamation, QString(), this);
  }
}

QString frmSize::FolderPrefix() const { return m_in.outputFolder + QLatin1Char('/'); }

bool frmSize::FitsCdAudioSize(double seconds) {
  return seconds * 44100.0 * 2.0 * 2.0 <= 2147483647.0;
}

void frmSize::cboDisk_Click() { UpdateBar(); }

void frmSize::cboGap_Click(int Index) {
  if (Index < 0 || Index > 1) return;
  GapSeconds[Index] = cboGap[Index]->currentIndex() < 0 ? 0.0f : cboGap[Index]->currentData().toFloat();
  UpdateBar();
}

void frmSize::cmdClose_Click() { close(); }

void frmSize::MeasureMidi() {
  WaitCursor hourglass;
  MidiSeconds = 0;
  const int n = int(m_in.sources.size());
  for (int i = 0; i < n; ++i) {
    MidiSeconds += ReadMidiInfo(m_in.sources[i]).Length / 1000.0;
    LetEventsRun();
  }
  FileCount[2] = short(n);
  // The record/play delay adds a fixed allowance per file, whatever delay is configured.
  if (m_in.delayOn) MidiSeconds += 2.0 * FileCount[2];
}

void frmSize::MeasureWave() {
  WaitCursor hourglass;
  WaveSeconds = 0;
  FileCount[0] = 0;
  for (const QString& name : kv::DirAll(FolderPrefix() + QStringLiteral("*.wav"))) {
    ++FileCount[0];
    MciSend(QStringLiteral("open ") + kv::Quoted(FolderPrefix() + name) + QStringLiteral(" alias CheckMedia"));
    MciSend(QStringLiteral("set CheckMedia time format milliseconds"), false);
    // A file the media layer cannot open answers nothing here and adds no time.
    const QString length = MciSend(QStringLiteral("status CheckMedia length"));
    MciSend(QStringLiteral("close CheckMedia"));
    WaveSeconds += ReplyNumber(length) / 1000.0;
    LetEventsRun();
  }
}

void frmSize::MeasureMp3() {
  WaitCursor hourglass;
  Mp3Seconds = 0;
  FileCount[1] = 0;
  // MP3 lengths come from VBMP3.dll beside the program; without it no MP3 file is counted.
  const QString lib = kv::Dir(m_in.programFolder + QStringLiteral("/VBMP3.dll"));
  if (lib.isEmpty()) return;
  const kv::SharedLibrary vbmp3((m_in.programFolder + QLatin1Char('/') + lib).toUtf8().toStdString());
  vbmp3_init_fn init = nullptr;
  vbmp3_open_fn open = nullptr;
  vbmp3_free_fn release = nullptr;
  if (vbmp3.Bind(init, "vbmp3_init") && vbmp3.Bind(open, "vbmp3_open") && vbmp3.Bind(release, "vbmp3_free")) {
    init();
    for (const QString& name : kv::DirAll(FolderPrefix() + QStringLiteral("*.mp3"))) {
      VBMP3_INFO info{};
      if (open(kv::PathBytes(FolderPrefix() + name).constData(), &info)) {
        Mp3Seconds += info.v[3];
        ++FileCount[1];
      }
      LetEventsRun();
    }
    release();
  }
}

frmSize::Bar frmSize::ComputeBar(float capacitySeconds, float gapPerTrack, const short fileCount[3],
                                 double waveSeconds, double mp3Seconds, double midiSeconds, float frameWidth) {
  Bar b;
  const float C = capacitySeconds;
  const float G = gapPerTrack;
  b.T1 = float(G * fileCount[0] + waveSeconds);
  b.T2 = float(b.T1 + G * fileCount[1] + mp3Seconds);
  b.T3 = float(b.T2 + G * fileCount[2] + midiSeconds);
  if (C > 0) {
    b.WaveWidth = frameWidth * b.T1 / C;
    b.Mp3Width = frameWidth * b.T2 / C;
    b.MidiWidth = frameWidth * b.T3 / C;
  }
  b.Over = b.T3 > C;
  b.Text = QStringLiteral("CD-R空き時間：") + FormatMinSec(C - b.T3);
  return b;
}

QString frmSize::FormatMinSec(float x) {
  // Minutes are kept wider than the classic 16 bits, so very large differences still read right.
  const long long M = static_cast<long long>(std::floor(x / 60.0f));
  const long long S = static_cast<long long>(std::floor(x - float(M) * 60.0f));
  return QString::number(M) + QStringLiteral("分") + QStringLiteral("%1").arg(S, 2, 10, QLatin1Char('0')) +
         QStringLiteral("秒");
}

void frmSize::UpdateBar() {
  const float C = cboDisk->currentIndex() < 0 ? 0.0f : cboDisk->currentData().toFloat();
  const Bar b = ComputeBar(C, GapSeconds[0] + GapSeconds[1], FileCount, WaveSeconds, Mp3Seconds, MidiSeconds,
                           float(kDiskWidth));
  const QRect frame = shaDisk->geometry();
  auto place = [&](kv::ShapeBox* s, float widthTwips) {
    s->setGeometry(frame.left(), frame.top(), std::max(0, kv::TwipsToPx(widthTwips)), frame.height());
  };
  place(shaMidi, b.MidiWidth);
  place(shaMp3, b.Mp3Width);
  place(shaWave, b.WaveWidth);
  QPalette pal = lblCDRSpace->palette();
  pal.setColor(QPalette::WindowText, b.Over ? kOverColor : kFitColor);
  lblCDRSpace->setPalette(pal);
  lblCDRSpace->setText(b.Text);
}
