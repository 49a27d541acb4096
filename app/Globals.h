// Program-wide state: set by start-up, read by the commands, the conversion and the encoders.
#pragma once
#include <QString>

namespace kv {

struct Globals {
  QString AppPath;        // executable's folder, no trailing "/"
  QString WavePath;       // output folder, no trailing "/" (the root "/" is stored as "")
  QString MidiPath;       // folder the add-files dialog opens on
  QString Quote = QStringLiteral("\"");
  int SampleRate = 48000; // recording format of the selected cboSample entry
  short SampleBits = 16;
  short EncoderDefault = -1;  // 0 SCMPX, 1 GoGo, 2 ACM, -1 none
  bool EncoderAvailable[3] = {false, false, false};
  short WmaEncoder = -1;      // 0 wm8eutil, 1 VBWAV2WMA, -1 none
  bool WmaAvailable[2] = {false, false};
  QString ScmpxPath = QStringLiteral("(なし)");
  QString Wm8eutilPath = QStringLiteral("(なし)");
  int Bitrate = 128;
  QString StereoMode = QStringLiteral("Stereo");
  bool FastEncode = false;
  short SelSample = 0;
  QString GogoVersion;
  QString WavefltPath;
};

// The one instance.
Globals& G();

// Marker stored for an absent program path.
inline const QString& NonePath() {
  static const QString s = QStringLiteral("(なし)");
  return s;
}

}  // namespace kv
