#include "WaveReader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sndfile.h>

namespace kv::mp3 {

WaveReader::~WaveReader() { close(); }

void WaveReader::close() {
  if (sf_) sf_close(static_cast<SNDFILE*>(sf_));
  sf_ = nullptr;
}

WaveError WaveReader::open(const std::string& path, std::string* err) {
  close();
  info_ = {};
  // Tell "cannot open" from "not a WAVE": libsndfile reports both as an open failure.
  FILE* probe = std::fopen(path.c_str(), "rb");
  if (!probe) {
    if (err) *err = "cannot open " + path + ": " + std::strerror(errno);
    return WaveError::CannotOpen;
  }
  std::fclose(probe);
  SF_INFO si{};
  SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &si);
  if (!sf) {
    if (err) *err = path + " is not a readable WAVE file (" + sf_strerror(nullptr) + ")";
    return WaveError::NotWave;
  }
  int major = si.format & SF_FORMAT_TYPEMASK;
  int sub = si.format & SF_FORMAT_SUBMASK;
  if (major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX && major != SF_FORMAT_RF64) {
    sf_close(sf);
    if (err) *err = path + " is not a WAVE file";
    return WaveError::NotWave;
  }
  int bits = 0;
  switch (sub) {
    case SF_FORMAT_PCM_U8: case SF_FORMAT_PCM_S8: bits = 8; break;
    case SF_FORMAT_PCM_16: bits = 16; break;
    case SF_FORMAT_PCM_24: bits = 24; break;
    case SF_FORMAT_PCM_32: bits = 32; break;
    default: break;
  }
  if (bits == 0 || si.channels < 1 || si.channels > 2 || si.samplerate <= 0) {
    sf_close(sf);
    if (err) *err = path + ": only 8/16-bit PCM mono or stereo WAVE files are supported";
    return WaveError::Unsupported;
  }
  sf_ = sf;
  info_.sampleRate = si.samplerate;
  info_.channels = si.channels;
  info_.bits = bits;
  info_.frames = si.frames;
  return WaveError::None;
}

int64_t WaveReader::read(int16_t* out, int64_t n) {
  if (!sf_) return -1;
  auto* sf = static_cast<SNDFILE*>(sf_);
  sf_count_t got = sf_readf_short(sf, out, n);
  if (got < n && sf_error(sf) != SF_ERR_NO_ERROR) return -1;
  return got;
}

}  // namespace kv::mp3
