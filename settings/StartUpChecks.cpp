#include "settings/StartUpChecks.h"

#include <QFileInfo>

#include "encoders/GogoLibrary.h"
#include "shell/Dir.h"

namespace kv {

namespace {
// A command-line encoder counts when its stored path names that program; with no stored choice
// it becomes the choice, and a stored choice of it is reset when it is missing.
bool CheckProgram(QString& path, const QString& name, short& choice, short index) {
  const bool found = FileNamed(path, name);
  if (found && choice == -1) choice = index;
  if (!found) {
    path = NonePath();
    if (choice == index) choice = -1;
  }
  return found;
}
}  // namespace

void DetectEncoders(Settings& s, const QString& appPath, const QString& systemDir, const QString& windowsDir) {
  s.EncoderAvailable[0] = CheckProgram(s.ScmpxPath, "scmpx.exe", s.EncoderDefault, 0);

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

  s.WmaAvailable[0] = CheckProgram(s.Wm8eutilPath, "wm8eutil.exe", s.WmaEncoder, 0);
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
