// The conversion and playback sequence, without any window: record the selected MIDI file into
// its WAVE file, then filter and encode it; in batch mode go on with the next entry. Playback
// plays entries without recording. Every wait (the delay, the sequencer, the wave filter, the
// encoder) is a step driven by timers of the event loop; nothing here waits in a loop.
#pragma once
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

#include "encoders/EncoderBackend.h"
#include "postproc/cShellX.h"

namespace kv {

class SetAside;
class RecordingEncoder;

// What a run works on, as the user has set it when pressing Rec or Play: everything the
// engine reads, so engines side by side each have their own and share nothing else.
struct ConversionJob {
  QStringList sources;       // the list's entries, in order
  int entry = -1;            // the selected entry (-1: none)
  bool batch = false;        // go on with every entry after it
  bool titleToName = false;  // outputs named after the songs' titles
  QString outputFolder;      // no trailing "/" ("" is the root)
  int sampleTemplate = 124;  // recording format: template 101..124
  int sampleRate = 48000;
  int sampleBits = 16;
  EncoderChoice encoder;     // output type, encoder and the encoder's settings
  bool normalise = false;    // run the wave filter
  QString waveFilter;        // ... this program (waveflt.exe's full path)
  bool headCut = false;      // ... cutting the silence at the start
  std::optional<double> loudness;  // ... bringing the output to this many LUFS instead of its peak to 0.9
  // ... writing the gain and cut it chooses to this file ("save"), or taking them from it
  // ("use"): the parts of one mix get the same, so they still add up to it.
  QString filterPlan;
  bool useFilterPlan = false;
  bool delay = false;        // wait before playing and before stopping the recorder
  short delayTenths = 0;     // ... for this many tenths of a second (one more tick)
  int port = -1;             // MIDI output device (-1: the mapper)
  // MP3 by GoGo with no filter step: made from the recorder's blocks while it records (the
  // bytes GoGo makes of the finished WAVE), with the encoder settings' bit rate and mode.
  bool encodeWhileRecording = false;
};

// An answer to the delay prompt: its seconds (not a number: 0; negative: the amount; at most
// 3276.7) and the count of tenths the delay waits.
struct DelayAnswer {
  float seconds = 0;
  short tenths = 0;
};
DelayAnswer ParseDelayAnswer(const QString& answer);

class ConversionController : public QObject {
  Q_OBJECT
 public:
  enum class Step { Idle, Delay, Recording, Filtering, Encoding, Playing };

  explicit ConversionController(QObject* parent = nullptr);
  ~ConversionController() override;

  // Rec: converts the job's entry and, in batch mode, the entries after it.
  void StartConversion(const ConversionJob& job);
  // Play: plays the job's entry and, in batch mode, the entries after it.
  void PlayCommand(const ConversionJob& job);
  // Stop: the sequencer stops and a batch ends after the current item.
  void StopRun();
  // The user moved the selection while a run goes on: a batch goes on from there.
  void SelectEntry(int row) { m_row = row; }

  Step CurrentStep() const { return m_step; }
  bool Busy() const { return m_step != Step::Idle; }
  QString MidiFile() const { return m_midi; }
  QString WaveFileName() const { return m_wave; }
  // The wave filter's command line for the current item.
  QString WaveFilterCommandLine() const;

 signals:
  void status(const QString& text);  // "REC. mm:ss/mm:ss", "Play mm:ss/mm:ss", "Encoding..."
  void entrySelected(int row);       // the list selection moves (or is shown again)
  void itemStarted(int row, const QString& midi, const QString& wave);
  void locked(bool conversion);      // an item runs: the window locks
  void unlocked();                   // the item is over
  void message(const QString& text, int style);
  void encoderStarted(kv::EncoderBackend* encoder, const QString& wave);
  void finished();                   // the run is over (also when refused)

 private:
  void Rec();
  void Play();
  void Delay(std::function<void()> then);
  void tmrWait_Timer();
  void tmr1_Timer();
  void tmrPlay_Timer();
  void AfterRecording();
  void RunWaveFilter(std::function<void()> then);
  void RunEncoder(std::function<void()> then);
  bool EncodesWhileRecording() const;
  void FinishRecordingEncoder(std::function<void()> then);
  void NextEntry(void (ConversionController::*command)());
  bool PollSequencer(const QString& prefix);
  void Select(int row);
  void Refuse(const QString& text, int style);
  QString OutputFolder() const;
  QString FilterInput() const;

  ConversionJob m_job;
  int m_row = -1;
  Step m_step = Step::Idle;
  QString m_midi, m_wave;
  QTimer m_tmr1, m_tmrPlay, m_tmrWait;
  short m_waitTicks = 0;
  bool m_fastTake = false;  // the recorder counts the delays itself
  std::function<void()> m_afterDelay;
  ProgramRun m_filter;
  std::unique_ptr<SetAside> m_standingNormal;
  std::unique_ptr<EncoderBackend> m_encoder;
  std::unique_ptr<RecordingEncoder> m_recordingEncoder;  // fed by the recorder of this item
};

}  // namespace kv
