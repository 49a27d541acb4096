#include "encoders/GogoLibrary.h"
#include "encoders/SymbolBinder.h"

#include <dlfcn.h>

#include <QHash>
#include <QStringList>

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
  static QHash<QString, GogoApi*> loaded;
  if (path.isEmpty()) return nullptr;
  if (loaded.contains(path)) return loaded.value(path);
  GogoApi* api = nullptr;
  if (void* h = dlopen(path.toUtf8().constData(), RTLD_NOW | RTLD_LOCAL)) {
    api = new GogoApi;
    SymbolBinder sym(h);
    sym(api->MPGE_getVersionVB, "MPGE_getVersionVB");
    sym(api->MPGE_initializeWorkVB, "MPGE_initializeWorkVB");
    sym(api->MPGE_getUnitStatesVB, "MPGE_getUnitStatesVB");
    sym(api->MPGE_setConfigureVB, "MPGE_setConfigureVB");
    sym(api->MPGE_detectConfigureVB, "MPGE_detectConfigureVB");
    sym(api->MPGE_getConfigureVB, "MPGE_getConfigureVB");
    sym(api->MPGE_processFrameVB, "MPGE_processFrameVB");
    sym(api->MPGE_closeCoderVB, "MPGE_closeCoderVB");
    sym(api->MPGE_endCoderVB, "MPGE_endCoderVB");
    if (!sym.ok()) {
      delete api;
      api = nullptr;
      dlclose(h);
    }
  }
  loaded.insert(path, api);
  return api;
}

}  // namespace kv
