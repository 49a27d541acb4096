#include "media_internal.h"

#include <alsa/asoundlib.h>
#include <fluidsynth.h>

#include <mutex>

#include "winmm.h"

namespace kv::media {
namespace {

std::mutex g_mu;
std::string g_lastError;
std::string g_fluidMessage;
thread_local std::string t_reply;  // keeps kvMediaLastError()'s pointer valid for the caller

void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

void CaptureFluid(int level, const char* message, void*) {
  if (level <= FLUID_ERR && message) {
    std::lock_guard<std::mutex> lock(g_mu);
    g_fluidMessage = message;
  }
}

}  // namespace

void SetLastMediaError(const std::string& text) {
  std::lock_guard<std::mutex> lock(g_mu);
  g_lastError = text;
}

std::string LastMediaError() {
  std::lock_guard<std::mutex> lock(g_mu);
  return g_lastError;
}

void SilenceAlsa() {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(QuietAlsa); });
}

void SilenceFluid() {
  static std::once_flag once;
  std::call_once(once, [] {
    fluid_set_log_function(FLUID_PANIC, CaptureFluid, nullptr);
    fluid_set_log_function(FLUID_ERR, CaptureFluid, nullptr);
    fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
    fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
    fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
  });
}

std::string LastFluidMessage() {
  std::lock_guard<std::mutex> lock(g_mu);
  return g_fluidMessage;
}

}  // namespace kv::media

KV_API const char* kvMediaLastError(void) {
  kv::media::t_reply = kv::media::LastMediaError();
  return kv::media::t_reply.c_str();
}
