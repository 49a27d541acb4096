// L3CODECP.ACM: the codec entry points on top of the shared LAME encoder.
#include "l3codec.h"

#include "Mp3Encoder.h"

struct L3CODEC_STREAM {
  kv::mp3::Mp3Encoder enc;
};

namespace {
int chooseBitrate(int rate, int channels) {
  int stereo = rate >= 32000 ? 128 : 64;
  return channels == 1 ? stereo / 2 : stereo;
}
}  // namespace

L3CODEC_API L3CODEC_STREAM* l3codec_open(const char* wavPath, L3CODEC_FORMAT* fmt) {
  if (!wavPath) return nullptr;
  kv::mp3::WaveReader probe;
  if (!probe.open(wavPath)) return nullptr;
  kv::mp3::EncodeOptions opt;
  opt.bitrateKbps = chooseBitrate(probe.info().sampleRate, probe.info().channels);
  opt.mode = kv::mp3::ChannelMode::JointStereo;
  opt.quality = 5;
  probe.close();
  auto* s = new L3CODEC_STREAM;
  if (!s->enc.openInput(wavPath, opt)) {
    delete s;
    return nullptr;
  }
  if (fmt) {
    fmt->sampleRate = s->enc.input().sampleRate;
    fmt->channels = s->enc.input().channels;
    fmt->bitsPerSample = s->enc.input().bits;
    fmt->bitrateKbps = s->enc.bitrateKbps();
    fmt->totalFrames = s->enc.input().frames;
  }
  return s;
}

L3CODEC_API int32_t l3codec_start(L3CODEC_STREAM* s, const char* mp3Path) {
  if (!s || !mp3Path) return -1;
  return s->enc.openOutput(mp3Path) ? 0 : -static_cast<int32_t>(kv::mp3::EncodeError::OutputOpen);
}

L3CODEC_API int32_t l3codec_encode(L3CODEC_STREAM* s, int64_t* framesDone) {
  if (!s) return -1;
  const kv::Status r = s->enc.step();
  if (framesDone) *framesDone = s->enc.framesDone();
  if (!r) return -r.code();
  return s->enc.finished() ? L3CODEC_DONE : L3CODEC_MORE;
}

L3CODEC_API void l3codec_close(L3CODEC_STREAM* s) { delete s; }
