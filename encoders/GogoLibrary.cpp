#include "encoders/GogoLibrary.h"

#include <QStringList>
#include <map>
#include <memory>

#include "owned.h"

#include "shell/Dir.h"

namespace kv {

QString FindGogo(const QString& appPath, const QString& systemDir, const QString& windowsDir) {
  for (const QString& dir : {appPath, systemDir, windowsDir}) {
    if (dir.isEmpty()) continue;
    const QString name = Dir(dir + "/gogo.dll");
    if (!name.isEmpty()) return dir + "/" + name;
  }
  return QString();
}

const GogoApi* LoadGogo(const QString& path) {
  struct Loaded {
    SharedLibrary library;
    GogoApi api;
    bool ok = false;
  };
  static std::map<QString, std::unique_ptr<Loaded>> loaded;
  if (path.isEmpty()) return nullptr;
  std::unique_ptr<Loaded>& entry = loaded[path];
  if (!entry) {
    entry = std::make_unique<Loaded>();
    entry->library = SharedLibrary(path.toUtf8().toStdString());
    const SharedLibrary& lib = entry->library;
    GogoApi& api = entry->api;
    entry->ok = lib.Bind(api.MPGE_getVersionVB, "MPGE_getVersionVB") &&
                lib.Bind(api.MPGE_initializeWorkVB, "MPGE_initializeWorkVB") &&
                lib.Bind(api.MPGE_getUnitStatesVB, "MPGE_getUnitStatesVB") &&
                lib.Bind(api.MPGE_setConfigureVB, "MPGE_setConfigureVB") &&
                lib.Bind(api.MPGE_detectConfigureVB, "MPGE_detectConfigureVB") &&
                lib.Bind(api.MPGE_getConfigureVB, "MPGE_getConfigureVB") &&
                lib.Bind(api.MPGE_processFrameVB, "MPGE_processFrameVB") &&
                lib.Bind(api.MPGE_closeCoderVB, "MPGE_closeCoderVB") &&
                lib.Bind(api.MPGE_endCoderVB, "MPGE_endCoderVB");
    if (!entry->ok) entry->library = SharedLibrary();  // a library lacking a function is closed again
  }
  return entry->ok ? &entry->api : nullptr;
}

}  // namespace kv
