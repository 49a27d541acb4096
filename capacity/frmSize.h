// The capacity check: totals the playing time of the WAVE and MP3 files in the output folder
// and of the MIDI files in the source list, and compares it with a 74- or 80-minute CD-R.
// Measures once when it loads; changing the disc or a gap only redraws the bar.
#pragma once
#include <QColor>
#include <QDialog>
#include <QString>
#include <QStringList>

class QComboBox;
class QLabel;
class QPushButton;

namespace kv {

// A flat rectangle with a one-pixel black border, as the bar and legend draw them.
class ShapeBox : public QWidget {
 public:
  ShapeBox(const QColor& fill, QWidget* parent);
  QColor FillColor() const { return m_fill; }

 protected:
  void paintEvent(class QPaintEvent*) override;

 private:
  QColor m_fill;
};

}  // namespace kv

class frmSize : public QDialog {
 public:
  // What it measures: the MIDI files of the source list and the files in the output folder
  // (no trailing "/", "" the root), with VBMP3.dll from the program's folder reading MP3
  // lengths; with the record/play delay on, each MIDI file counts 2 s more.
  struct Inputs {
    QStringList sources;
    QString outputFolder;
    QString programFolder;
    bool delayOn = false;
  };
  explicit frmSize(const Inputs& inputs, QWidget* parent = nullptr);

  // Measures everything and fills the window; errors are reported, never thrown.
  void Form_Load();

  // Event handlers.
  void cboDisk_Click();
  void cboGap_Click(int Index);
  void cmdClose_Click();

  // The bar as UpdateBar lays it out: cumulative totals, segment widths (in the frame's unit),
  // and the remaining-time text with its colour.
  struct Bar {
    float T1 = 0, T2 = 0, T3 = 0;
    float WaveWidth = 0, Mp3Width = 0, MidiWidth = 0;
    bool Over = false;  // T3 > capacity: the text is red
    QString Text;       // "CD-R空き時間：" & FormatMinSec(capacity - T3)
  };
  static Bar ComputeBar(float capacitySeconds, float gapPerTrack, const short fileCount[3], double waveSeconds,
                        double mp3Seconds, double midiSeconds, float frameWidth);
  // "##0分00秒": whole minutes rounded down, then the seconds counted up from them.
  static QString FormatMinSec(float x);
  void UpdateBar();

  // Measuring steps of loading (each fills its total and its count).
  void MeasureMidi();
  void MeasureWave();
  void MeasureMp3();

  // Window-level values.
  double MidiSeconds = 0;
  double WaveSeconds = 0;
  double Mp3Seconds = 0;
  short FileCount[3] = {0, 0, 0};  // WAVE files, MP3 files, list entries
  float GapSeconds[2] = {0, 0};    // pre-gap, post-gap

  // Controls.
  QLabel* Label1 = nullptr;
  QComboBox* cboDisk = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  QComboBox* cboGap[2] = {nullptr, nullptr};
  QLabel* Label2 = nullptr;
  QLabel* lblDiskSpace = nullptr;
  kv::ShapeBox* shaDisk = nullptr;
  kv::ShapeBox* shaWave = nullptr;
  kv::ShapeBox* shaMp3 = nullptr;
  kv::ShapeBox* shaMidi = nullptr;
  QLabel* lblX[4] = {};
  kv::ShapeBox* shaX[4] = {};
  QLabel* lblCDRSpace = nullptr;
  QPushButton* cmdClose = nullptr;

  // Design geometry of the bar frame, in twips.
  static constexpr int kDiskLeft = 180, kDiskTop = 960, kDiskWidth = 5655, kDiskHeight = 435;
  // Designed client area, in twips.
  static constexpr int kClientWidth = 6015, kClientHeight = 3390;

  static const QColor kWaveColor, kMp3Color, kMidiColor, kFreeColor, kFitColor, kOverColor;

 private:
  void BuildControls();
  // Whether a total's size as CD audio (44.1 kHz, 16-bit stereo) fits a signed 32-bit count.
  static bool FitsCdAudioSize(double seconds);

  // The output folder as it prefixes a file name ("" is the root folder).
  QString FolderPrefix() const;
  Inputs m_in;
};
