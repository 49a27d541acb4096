// gogo.dll, loaded at run time: a missing library or entry point only makes GoGo unavailable.
#pragma once
#include <QString>
#include <cstdint>

namespace kv {

struct GogoApi {
  int32_t (*MPGE_getVersionVB)(int32_t* code, char* text) = nullptr;
  int32_t (*MPGE_initializeWorkVB)() = nullptr;
  int32_t (*MPGE_getUnitStatesVB)(int32_t* states) = nullptr;
  int32_t (*MPGE_setConfigureVB)(int32_t item, int32_t value, const char* text) = nullptr;
  int32_t (*MPGE_detectConfigureVB)() = nullptr;
  int32_t (*MPGE_getConfigureVB)(int32_t item, int32_t* value) = nullptr;
  int32_t (*MPGE_processFrameVB)() = nullptr;
  int32_t (*MPGE_closeCoderVB)() = nullptr;
  int32_t (*MPGE_endCoderVB)() = nullptr;
};

// The first "gogo.dll" (letter case ignored) in the program's folder, the system folder or the
// Windows folder, in that order; empty when there is none.
QString FindGogo(const QString& appPath, const QString& systemDir, const QString& windowsDir);
// Loads the library at path once; nullptr when it cannot be loaded or lacks an entry point.
const GogoApi* LoadGogo(const QString& path);

}  // namespace kv
