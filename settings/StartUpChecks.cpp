#include "settings/StartUpChecks.h"

#include <QFileInfo>

#include "encoders/GogoLibrary.h"
#include "shell/Dir.h"

namespace kv {

void DetectEncoders(Settings& s, const QString& appPath, const QString& systemDir, const QString& windowsDir) {
  // SCMPX.
  s.EncoderAvailable[0] = FileNamed(s.ScmpxPath, "scmpx.exe");
  if (s.EncoderAvailable[0]) {
    if (s.EncoderDefault == -1) s.EncoderDefault = 0;
  } else {
    s.ScmpxPath = NonePath();
    if (s.EncoderDefault == 0) s.EncoderDefault = -1;
  }

  // GoGo: the program's folder, then the system folder, then the Windows folder.
  const QString gogo = FindGogo(appPath, systemDir, windowsDir);
  s.EncoderAvailable[1] = false;
  if (!gogo.isEmpty()) {
    if (const GogoApi* api = LoadGogo(gogo)) {
      int32_t code = 0;
      char text[260] = {};
      if (api->MPGE_getVersionVB(&code, text) == 0) s.GogoVersion = QString::fromUtf8(text, qstrnlen(text, sizeof text));
      if (s.EncoderDefault == -1) s.EncoderDefault = 1;
      s.EncoderAvailable[1] = true;
    }
  }

  // ACM: the codec in the system folder and VBMP3.DLL beside the program.
  const bool acm = !systemDir.isEmpty() && Dir(systemDir + "/L3CODECP.ACM").toUpper() == "L3CODECP.ACM" &&
                   Dir(appPath + "/VBMP3.DLL").toUpper() == "VBMP3.DLL";
  if (acm && s.EncoderDefault == -1) s.EncoderDefault = 2;
  s.EncoderAvailable[2] = acm;

  // VBWAV2WMA beside the program.
  s.WmaAvailable[1] = !Dir(appPath + "/vbwav2wma.dll").isEmpty();
  if (s.WmaAvailable[1] && s.WmaEncoder == -1) s.WmaEncoder = 1;

  // wm8eutil.
  s.WmaAvailable[0] = FileNamed(s.Wm8eutilPath, "wm8eutil.exe");
  if (s.WmaAvailable[0]) {
    if (s.WmaEncoder == -1) s.WmaEncoder = 0;
  } else {
    s.Wm8eutilPath = NonePath();
    if (s.WmaEncoder == 0) s.WmaEncoder = -1;
  }
}

void CheckFolders(Settings& s, const QString& appPath) {
  auto usable = [](const QString& path) {
    // The folder's own name, as the directory lookup reports it, has 4 or more characters.
    return !path.isEmpty() && Dir(path, kWithDirectories).size() >= 4 && QFileInfo(path).isDir();
  };
  if (!usable(s.WavePath)) s.WavePath = appPath;
  if (!usable(s.MidiPath)) s.MidiPath = appPath;
}

void CheckWaveflt(Settings& s) {
  if (!FileNamed(s.WavefltPath, "waveflt.exe")) s.WavefltPath.clear();
}

}  // namespace kv
