// The settings catalogue as plain data: every value the settings file keeps, with its default.
// Read once at start-up, written back at shut-down; in between the program reads these fields.
#pragma once
#include <QString>

class inifile_IO;

namespace kv {

// Marker stored for an absent program path.
inline const QString& NonePath() {
  static const QString s = QStringLiteral("(なし)");
  return s;
}

struct Settings {
  // "Position": the main window's outer frame, twips.
  float Left = 0, Top = 0, Width = 0, Height = 0;
  short WaitCount = 0;    // "Wait"/"Count": record/play delay in tenths of a second
  bool WaitOn = true;     // "Option"/"Wait": the delay is switched on
  bool Headcut = true;    // "Normalize"/"headcut": the wave filter cuts leading silence
  short SelSample = 0;    // "Option"/"SelSample": 1 = only the formats every encoder accepts
  short EncoderDefault = -1;  // "Encoder"/"Default": 0 SCMPX, 1 GoGo, 2 ACM, -1 none
  QString ScmpxPath = NonePath();
  bool FastEncode = false;
  short WmaEncoder = -1;  // "Encoder"/"WMAEnc": 0 wm8eutil, 1 VBWAV2WMA, -1 none
  QString Wm8eutilPath = NonePath();
  int Bitrate = 128;
  QString StereoMode = QStringLiteral("Stereo");
  QString WavePath;       // output folder, no trailing "/"
  QString MidiPath;       // folder the add-files dialog opens on
  QString WavefltPath;    // the wave filter, empty when none is known
  bool NormaliserOn = false;  // "Normalize"/"Enable": 1 on, anything else off
  short DefDevice = 0;    // selected MIDI output entry (0 is the mapper)
  short DefSample = -1;   // selected recording format; out of range selects the last entry
  bool TitleToName = false;
  QString Media = QStringLiteral("wave");  // "OnKey"/"Media": pressed output format button
  QString Play = QStringLiteral("one");    // "OnKey"/"Play": pressed play mode button

  // Found at start-up, not read: "Encoder"/"Enable0".."Enable2" are written only.
  bool EncoderAvailable[3] = {false, false, false};
  bool WmaAvailable[2] = {false, false};
  QString GogoVersion;
};

// Reads every key, in start-up order. `width`/`height` are the window's designed frame and
// `appPath` the folders' fallback; paths are taken as stored (see StartUpChecks).
Settings ReadSettings(const inifile_IO& ini, float width, float height, const QString& appPath);

// Writes every key in shut-down order; the position only when `withPosition` (a minimised or
// maximised window keeps the stored one). False when any write was refused.
bool WriteSettings(const inifile_IO& ini, const Settings& s, bool withPosition);

// The single-precision text the file uses for reals and the delay caption.
QString SingleText(float v);

}  // namespace kv
