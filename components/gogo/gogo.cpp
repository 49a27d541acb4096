// gogo.dll: one encode at a time, state kept in the library as its callers expect.
#include "gogo.h"

#include <cstdio>
#include <cstring>
#include <lame/lame.h>
#include <memory>
#include <mutex>
#include <string>

#include "Mp3Encoder.h"

namespace {

struct Work {
  std::string input, output;
  int32_t mode = GOGO_MODE_JOINT_STEREO;
  int32_t bitrate = 128;
  int32_t quality = 5;
  int32_t inputRate = 0;
  std::unique_ptr<kv::mp3::Mp3Encoder> enc;
  bool ready = false;  // detect succeeded
};

std::mutex g_mutex;
Work g_work;
bool g_initialised = false;

}  // namespace

GOGO_API int32_t MPGE_getVersionVB(int32_t* code, char* text) {
  if (code) *code = GOGO_VERSION_CODE;
  if (text) std::snprintf(text, 260, "Korvessa GoGo-compatible MP3 encoder 1.0 (LAME %s)", get_lame_short_version());
  return GOGO_OK;
}

GOGO_API int32_t MPGE_initializeWorkVB(void) {
  std::lock_guard lock(g_mutex);
  g_work = Work{};
  g_initialised = true;
  return GOGO_OK;
}

GOGO_API int32_t MPGE_getUnitStatesVB(int32_t* states) {
  // One unit: the portable LAME code path.
  if (states) *states = 1;
  return GOGO_OK;
}

GOGO_API int32_t MPGE_setConfigureVB(int32_t item, int32_t value, const char* text) {
  std::lock_guard lock(g_mutex);
  if (!g_initialised || g_work.enc) return GOGO_ERR_STATE;
  switch (item) {
    case GOGO_ITEM_INPUT_FILE:
    case GOGO_ITEM_OUTPUT_FILE:
      if (!text || !*text) return GOGO_ERR_PARAM;
      (item == GOGO_ITEM_INPUT_FILE ? g_work.input : g_work.output) = text;
      return GOGO_OK;
    case GOGO_ITEM_CHANNEL_MODE:
      if (value != GOGO_MODE_STEREO && value != GOGO_MODE_JOINT_STEREO) return GOGO_ERR_PARAM;
      g_work.mode = value;
      return GOGO_OK;
    case GOGO_ITEM_BITRATE:
      if (value < 8 || value > 320) return GOGO_ERR_PARAM;
      g_work.bitrate = value;
      return GOGO_OK;
    case GOGO_ITEM_QUALITY:
      if (value < 0 || value > 9) return GOGO_ERR_PARAM;
      g_work.quality = value;
      return GOGO_OK;
    case GOGO_ITEM_INPUT_RATE:
      if (value < 0) return GOGO_ERR_PARAM;
      g_work.inputRate = value;
      return GOGO_OK;
    default:
      return GOGO_ERR_PARAM;
  }
}

GOGO_API int32_t MPGE_detectConfigureVB(void) {
  std::lock_guard lock(g_mutex);
  if (!g_initialised) return GOGO_ERR_STATE;
  g_work.enc.reset();
  g_work.ready = false;
  if (g_work.input.empty()) return GOGO_ERR_INPUT_OPEN;
  if (g_work.output.empty()) return GOGO_ERR_OUTPUT_OPEN;
  auto enc = std::make_unique<kv::mp3::Mp3Encoder>();
  kv::mp3::EncodeOptions opt;
  opt.bitrateKbps = g_work.bitrate;
  opt.mode = g_work.mode == GOGO_MODE_STEREO ? kv::mp3::ChannelMode::Stereo : kv::mp3::ChannelMode::JointStereo;
  opt.quality = g_work.quality;
  opt.inputRate = g_work.inputRate;
  kv::Status s = enc->openInput(g_work.input, opt);
  if (s) s = enc->openOutput(g_work.output);
  if (!s) return s.code();
  g_work.enc = std::move(enc);
  g_work.ready = true;
  return GOGO_OK;
}

GOGO_API int32_t MPGE_getConfigureVB(int32_t item, int32_t* value) {
  std::lock_guard lock(g_mutex);
  if (!value) return GOGO_ERR_PARAM;
  switch (item) {
    case GOGO_ITEM_CHANNEL_MODE: *value = g_work.mode; return GOGO_OK;
    case GOGO_ITEM_BITRATE:
      *value = g_work.enc ? g_work.enc->bitrateKbps() : g_work.bitrate;
      return GOGO_OK;
    case GOGO_ITEM_QUALITY: *value = g_work.quality; return GOGO_OK;
    case GOGO_ITEM_INPUT_RATE:
      *value = g_work.enc ? g_work.enc->input().sampleRate : g_work.inputRate;
      return GOGO_OK;
    case GOGO_ITEM_TOTAL_FRAMES: {
      int64_t n = g_work.enc ? g_work.enc->totalSteps() : 0;
      *value = n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n);
      return GOGO_OK;
    }
    default: return GOGO_ERR_PARAM;
  }
}

GOGO_API int32_t MPGE_processFrameVB(void) {
  std::lock_guard lock(g_mutex);
  if (!g_work.ready || !g_work.enc) return GOGO_ERR_STATE;
  const kv::Status s = g_work.enc->step();
  if (s && !g_work.enc->finished()) return GOGO_OK;
  g_work.ready = false;  // finished or failed: no further frames
  if (s) return GOGO_FINISHED;
  g_work.enc.reset();
  return s.code();
}

GOGO_API int32_t MPGE_closeCoderVB(void) {
  std::lock_guard lock(g_mutex);
  // An encode closed before its last frame is dropped with its temporary file.
  g_work.enc.reset();
  g_work.ready = false;
  return GOGO_OK;
}

GOGO_API int32_t MPGE_endCoderVB(void) {
  std::lock_guard lock(g_mutex);
  g_work = Work{};
  g_initialised = false;
  return GOGO_OK;
}
