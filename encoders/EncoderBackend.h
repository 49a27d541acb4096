// The encoders of a conversion behind one interface: GoGo, ACM (VBMP3), the WMA library and
// the two command-line encoders. Each is started on a WAVE, reports its progress, can be
// asked to stop and ends with a result; all run from the event loop's timers, none waits.
#pragma once
#include <QObject>
#include <QString>
#include <memory>

#include "owned.h"
#include "settings/Settings.h"

namespace kv {

// Which encoder a conversion uses (the chosen one of its output type, while it is available)
// and everything it needs to run: a plain value, so the engine reads no program-wide state.
struct EncoderChoice {
  int outputType = 0;  // 0 WAVE, 1 MP3, 2 WMA, 3 FLAC, 4 Opus (the last two: the program's own encoder)
  short mp3 = -1;      // 0 SCMPX, 1 GoGo, 2 ACM, -1 none
  bool mp3Available[3] = {false, false, false};
  short wma = -1;      // 0 wm8eutil, 1 VBWAV2WMA, -1 none
  bool wmaAvailable[2] = {false, false};

  QString programFolder;  // the program's folder: gogo.dll, VBMP3.dll, vbwav2wma.dll
  QString systemFolder, windowsFolder;  // where else GoGo is looked for
  QString scmpxPath, wm8eutilPath;      // the command-line encoders (or the "none" marker)
  int bitrate = 128;                    // kbit/s: GoGo and SCMPX
  bool jointStereo = false;             // GoGo's channel mode
  bool fastEncode = false;              // SCMPX's -f
  int inputRate = 48000;                // the recording's rate, as GoGo is told it
  // Each encode keeps its state to itself instead of in the shared library (GoGo, ACM and
  // VBWAV2WMA keep one encode at a time): for engines that convert side by side.
  bool ownState = false;
};

// The choice for an output type from the settings as they stand; the recording's rate and the
// shared-or-own state are the caller's to set.
EncoderChoice ChooseEncoder(const Settings& s, int outputType, const QString& programFolder,
                            const QString& systemFolder, const QString& windowsFolder);

class EncoderBackend : public QObject {
  Q_OBJECT
 public:
  // The caption prefix of its progress view ("GOGO", "ACM", "VBWAV2WMA"); empty: no view.
  virtual QString ViewCaption() const { return {}; }
  // Starts encoding waveFileName into the file of the same name with the encoder's extension.
  // finished() always follows later, from the event loop.
  virtual void Start(const QString& waveFileName) = 0;
  // The view's close box: GoGo stops after its frame, ACM stops waiting, the rest go on.
  virtual void Cancel() {}
  bool Result() const { return m_made; }
  bool Running() const { return m_running; }

 signals:
  void progress(int bar, const QString& text);
  void message(const QString& text, int style);
  void finished(bool made);

 protected:
  void Begin() { m_running = true; }
  void Finish(bool made);

 private:
  bool m_made = false;
  bool m_running = false;
};

// The encoder a conversion runs for this choice; nullptr when none runs (WAVE output, or the
// chosen encoder is not available). songTitle is the tag of the types that carry one.
std::unique_ptr<EncoderBackend> MakeEncoder(const EncoderChoice& choice, const QString& songTitle = {});

}  // namespace kv

namespace kv {

// "##0.00 %": at least one integer digit (0.35 %, 12.50 %, 100.00 %).
QString PercentText(float percent);
// "###.00 %": no forced integer digit (.45 %, 12.50 %).
QString PercentTextNoLeadingZero(float percent);
// The bar's value for a percentage: 0..100.
int BarValue(float percent);

// The library file named name (letter case ignored) in folder, loaded once and kept loaded;
// nullptr when it is missing or cannot be loaded.
const SharedLibrary* LoadLibraryIn(const QString& folder, const QString& name);

}  // namespace kv
