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

void Log(const std::string& line) {
  const char* path = std::getenv("KV_FAKE_GOGO_LOG");
  if (!path) return;
  if (FILE* f = std::fopen(path, "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

int Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::atoi(v) : 0;
}
}  // namespace

#define API extern "C" __attribute__((visibility("default")))

API int32_t MPGE_getVersionVB(int32_t* code, char* text) {
  *code = 1;
  std::snprintf(text, 260, "fake");
  return 0;
}
API int32_t MPGE_initializeWorkVB() {
  char cwd[4096] = {};
  Log(std::string("init ") + (getcwd(cwd, sizeof cwd) ? cwd : "?"));
  g_total = Env("KV_FAKE_GOGO_TOTAL");
  g_frames = Env("KV_FAKE_GOGO_FRAMES");
  g_done = 0;
  return 0;
}
API int32_t MPGE_getUnitStatesVB(int32_t* states) {
  *states = 0;
  Log("units");
  return 0;
}
API int32_t MPGE_setConfigureVB(int32_t item, int32_t value, const char* text) {
  Log("set " + std::to_string(item) + " " + (text ? std::string(text) : std::to_string(value)));
  return 0;
}
API int32_t MPGE_detectConfigureVB() {
  Log("detect");
  return 0;
}
API int32_t MPGE_getConfigureVB(int32_t item, int32_t* value) {
  Log("get " + std::to_string(item));
  *value = g_total;
  return 0;
}
API int32_t MPGE_processFrameVB() {
  return ++g_done >= g_frames ? 1 : 0;
}
API int32_t MPGE_closeCoderVB() {
  Log("close " + std::to_string(g_done));
  return 0;
}
API int32_t MPGE_endCoderVB() {
  Log("end");
  return 0;
}
