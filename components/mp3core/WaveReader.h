// Reading a PCM WAVE file as interleaved 16-bit samples (8-bit files are widened), block by block.
#pragma once
#include <sndfile.h>

#include <cstdint>
#include <string>

#include "owned.h"
#include "status.h"

namespace kv::mp3 {

// The code() of a WaveReader::open failure.
enum class WaveError {
  CannotOpen = 1,  // missing or unreadable file
  NotWave,         // readable, but not a RIFF WAVE file libsndfile understands
  Unsupported,     // a WAVE file, but not PCM mono/stereo
};

struct WaveInfo {
  int sampleRate = 0;
  int channels = 0;
  int bits = 0;        // 8, 16, 24 or 32
  int64_t frames = 0;  // sample frames (one sample per channel)
};

class WaveReader {
public:
  Status open(const std::string& path);
  const WaveInfo& info() const { return info_; }
  // Reads up to n frames into out (n * channels samples); returns frames read, 0 at the end, -1 on a read error.
  int64_t read(int16_t* out, int64_t n);
  void close() { sf_.reset(); }

private:
  Owned<SNDFILE, sf_close> sf_;
  WaveInfo info_;
};

}  // namespace kv::mp3
