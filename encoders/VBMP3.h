// VBMP3.dll, loaded from the program's folder at run time: MP3 encoding through the system's
// MP3 codec on the library's own thread.
#pragma once
#include <QString>
#include <cstdint>

namespace kv {

struct Vbmp3Api {
  int32_t (*vbmp3_init)() = nullptr;
  int32_t (*vbmp3_encodeOpen)(const char* wavPath, int32_t info[4]) = nullptr;
  int32_t (*vbmp3_encodeStart)(const char* mp3Path) = nullptr;
  int32_t (*vbmp3_getEncodeState)(int32_t* progress, int32_t* other) = nullptr;
  int32_t (*vbmp3_free)() = nullptr;
};

// The encoding entry points of VBMP3.DLL (letter case ignored) in appPath; nullptr when the
// library is missing or lacks one of them.
const Vbmp3Api* LoadVbmp3(const QString& appPath);

}  // namespace kv
