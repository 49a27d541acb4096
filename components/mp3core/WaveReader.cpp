#include "WaveReader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kv::mp3 {

namespace {
Status Refuse(WaveError kind, std::string why) { return Status::Error(std::move(why), int(kind)); }
}  // namespace

Status WaveReader::open(const std::string& path) {
  close();
  info_ = {};
  // Tell "cannot open" from "not a WAVE": libsndfile reports both as an open failure.
  if (!UniqueFile(std::fopen(path.c_str(), "rb")))
    return Refuse(WaveError::CannotOpen, "cannot open " + path + ": " + std::strerror(errno));
  SF_INFO si{};
  Owned<SNDFILE, sf_close> sf(sf_open(path.c_str(), SFM_READ, &si));
  if (!sf) return Refuse(WaveError::NotWave, path + " is not a readable WAVE file (" + sf_strerror(nullptr) + ")");
  int major = si.format & SF_FORMAT_TYPEMASK;
  int sub = si.format & SF_FORMAT_SUBMASK;
  if (major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX && major != SF_FORMAT_RF64)
    return Refuse(WaveError::NotWave, path + " is not a WAVE file");
  int bits = 0;
  switch (sub) {
    case SF_FORMAT_PCM_U8: case SF_FORMAT_PCM_S8: bits = 8; break;
    case SF_FORMAT_PCM_16: bits = 16; break;
    case SF_FORMAT_PCM_24: bits = 24; break;
    case SF_FORMAT_PCM_32: bits = 32; break;
    default: break;
  }
  if (bits == 0 || si.channels < 1 || si.channels > 2 || si.samplerate <= 0)
    return Refuse(WaveError::Unsupported, path + ": only 8/16-bit PCM mono or stereo WAVE files are supported");
  sf_ = std::move(sf);
  info_.sampleRate = si.samplerate;
  info_.channels = si.channels;
  info_.bits = bits;
  info_.frames = si.frames;
  return {};
}

int64_t WaveReader::read(int16_t* out, int64_t n) {
  if (!sf_) return -1;
  sf_count_t got = sf_readf_short(sf_.get(), out, n);
  if (got < n && sf_error(sf_.get()) != SF_ERR_NO_ERROR) return -1;
  return got;
}

}  // namespace kv::mp3
