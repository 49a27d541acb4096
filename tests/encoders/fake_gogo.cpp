// A gogo.dll for window tests: logs every call (with the folder it was called in) to the file
// named by KV_FAKE_GOGO_LOG, announces KV_FAKE_GOGO_TOTAL frames and finishes after
// KV_FAKE_GOGO_FRAMES frames. It writes no MP3.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
int g_total = 0, g_frames = 0, g_done = 0;

int32_t Log(const std::string& line) {
  const char* path = std::getenv("KV_FAKE_GOGO_LOG");
  if (FILE* f = path ? std::fopen(path, "a") : nullptr) std::fprintf(f, "%s\n", line.c_str()), std::fclose(f);
  return 0;
}
int Env(const char* name) { return std::getenv(name) ? std::atoi(std::getenv(name)) : 0; }
}  // namespace

#define API extern "C" __attribute__((visibility("default"))) int32_t
API MPGE_getVersionVB(int32_t* code, char* text) { return *code = 1, std::snprintf(text, 260, "fake"), 0; }
API MPGE_initializeWorkVB() {
  char cwd[4096] = {};
  g_total = Env("KV_FAKE_GOGO_TOTAL"), g_frames = Env("KV_FAKE_GOGO_FRAMES"), g_done = 0;
  return Log(std::string("init ") + (getcwd(cwd, sizeof cwd) ? cwd : "?"));
}
API MPGE_getUnitStatesVB(int32_t* states) { return *states = 0, Log("units"); }
API MPGE_setConfigureVB(int32_t item, int32_t value, const char* text) {
  return Log("set " + std::to_string(item) + " " + (text ? std::string(text) : std::to_string(value)));
}
API MPGE_detectConfigureVB() { return Log("detect"); }
API MPGE_getConfigureVB(int32_t item, int32_t* value) { return *value = g_total, Log("get " + std::to_string(item)); }
API MPGE_processFrameVB() { return ++g_done >= g_frames ? 1 : 0; }
API MPGE_closeCoderVB() { return Log("close " + std::to_string(g_done)); }
API MPGE_endCoderVB() { return Log("end"); }
