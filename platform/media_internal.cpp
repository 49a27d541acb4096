#include "media_internal.h"

#include <alsa/asoundlib.h>
#include <fluidsynth.h>

#include <mutex>
#include <utility>


namespace kv::media {
namespace {

std::mutex g_mu;
std::string g_fluidMessage;
thread_local std::string t_failure;

void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

void CaptureFluid(int level, const char* message, void*) {
  if (level <= FLUID_ERR && message) {
    std::lock_guard<std::mutex> lock(g_mu);
    g_fluidMessage = message;
  }
}

}  // namespace

void ReportFailure(const std::string& text) { t_failure = text; }

std::string TakeFailure() { return std::exchange(t_failure, std::string()); }

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
