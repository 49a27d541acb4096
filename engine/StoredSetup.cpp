#include "engine/StoredSetup.h"

#include <QFileInfo>
#include <cmath>

#include "app/Globals.h"
#include "encoders/GogoLibrary.h"
#include "settings/inifile_IO.h"
#include "shell/Dir.h"
#include "shell/FileName.h"

namespace kv {

void DetectEncoders(const inifile_IO& settings, const QString& systemDir, const QString& windowsDir) {
  auto& g = G();
  g.EncoderDefault = settings.ReadInt("Encoder", "Default", -1);

  // SCMPX.
  g.ScmpxPath = settings.ReadStr("Folder", "Scmpx", NonePath());
  if (FileNamed(g.ScmpxPath, "scmpx.exe")) {
    if (g.EncoderDefault == -1) g.EncoderDefault = 0;
    g.EncoderAvailable[0] = true;
  } else {
    g.ScmpxPath = NonePath();
    g.EncoderAvailable[0] = false;
    if (g.EncoderDefault == 0) g.EncoderDefault = -1;
  }

  // GoGo: the program's folder, then the system folder, then the Windows folder.
  const QString gogo = FindGogo(g.AppPath, systemDir, windowsDir);
  g.EncoderAvailable[1] = false;
  if (!gogo.isEmpty()) {
    if (const GogoApi* api = LoadGogo(gogo)) {
      int32_t code = 0;
      char text[260] = {};
      if (api->MPGE_getVersionVB(&code, text) == 0) g.GogoVersion = QString::fromUtf8(text, qstrnlen(text, sizeof text));
      if (g.EncoderDefault == -1) g.EncoderDefault = 1;
      g.EncoderAvailable[1] = true;
    }
  }

  // ACM: the codec in the system folder and VBMP3.DLL beside the program.
  const QString& sys = systemDir;
  const bool acm = !sys.isEmpty() && Dir(sys + "/L3CODECP.ACM").toUpper() == "L3CODECP.ACM" &&
                   Dir(g.AppPath + "/VBMP3.DLL").toUpper() == "VBMP3.DLL";
  if (acm && g.EncoderDefault == -1) g.EncoderDefault = 2;
  g.EncoderAvailable[2] = acm;


  g.FastEncode = settings.ReadInt("Encoder", "Fast", 0) == 1;
  g.WmaEncoder = settings.ReadInt("Encoder", "WMAEnc", -1);

  // VBWAV2WMA beside the program.
  if (!Dir(g.AppPath + "/vbwav2wma.dll").isEmpty()) {
    if (g.WmaEncoder == -1) g.WmaEncoder = 1;
    g.WmaAvailable[1] = true;
  } else {
    g.WmaAvailable[1] = false;
  }
  // wm8eutil.
  g.Wm8eutilPath = settings.ReadStr("Folder", "Wm8eutil", NonePath());
  if (FileNamed(g.Wm8eutilPath, "wm8eutil.exe")) {
    if (g.WmaEncoder == -1) g.WmaEncoder = 0;
    g.WmaAvailable[0] = true;
  } else {
    g.WmaAvailable[0] = false;
    g.Wm8eutilPath = NonePath();
    if (g.WmaEncoder == 0) g.WmaEncoder = -1;
  }

  g.Bitrate = settings.ReadInt("Encoder", "Bitrate", 128);
  g.StereoMode = settings.ReadStr("Encoder", "Stereo", "Stereo");
}

void ReadFolders(const inifile_IO& settings) {
  auto valid = [](const QString& path) {
    // A usable folder is one whose own name, as the directory lookup reports it, has 4 or more characters.
    if (path.isEmpty()) return false;
    return Dir(path, kWithDirectories).size() >= 4 && QFileInfo(path).isDir();
  };
  G().WavePath = settings.ReadStr("Folder", "WavePath", G().AppPath);
  if (!valid(G().WavePath)) G().WavePath = G().AppPath;
  G().MidiPath = settings.ReadStr("Folder", "MidiPath", G().AppPath);
  if (!valid(G().MidiPath)) G().MidiPath = G().AppPath;
}

void ReadWavefltPath(const inifile_IO& settings) {
  G().WavefltPath = settings.ReadStr("Folder", "Waveflt", QString());
  if (!FileNamed(G().WavefltPath, "waveflt.exe")) G().WavefltPath.clear();
}

DelayAnswer ParseDelayAnswer(const QString& answer) {
  // Visual Basic's IsNumeric / CSng: "nan" and "inf" are no numbers.
  bool ok = false;
  float v = answer.trimmed().toFloat(&ok);
  if (!ok || !std::isfinite(v)) v = 0;
  v = std::fabs(v);
  // The count is a 16-bit number of tenths: larger answers are clamped to its range.
  if (v * 10.0f > 32767.0f) v = 3276.7f;
  const float tenths = v * 10.0f;  // in single precision, as the answer was read
  return {v, static_cast<short>(std::floor(tenths))};
}

int StoredDeviceIndex(const inifile_IO& settings, int count) {
  const int d = settings.ReadInt(QStringLiteral("Option"), QStringLiteral("DefDevice"), 0);
  return d >= 0 && d < count ? d : 0;
}

}  // namespace kv
