// WAVE -> WMA (Windows Media Audio v2 in an ASF file), shared by vbwav2wma.dll and wm8eutil.exe,
// and WAVE -> FLAC or Ogg Opus for the program's own encoder of those types.
// Reads any PCM WAVE file libsndfile understands (8-bit unsigned / 16-bit, mono / stereo, any
// rate), converts it to the output rate and channel count and encodes it with FFmpeg (wmav2,
// flac, libopus).
// The result is written to a temporary file in the output folder and renamed over the output
// name only when the whole encode succeeded; a failed or cancelled encode leaves nothing behind.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "status.h"

namespace kv::wma {

struct Tags {
  std::string title;      // UTF-8; empty = no tag
  std::string author;
  std::string copyright;
  std::string comment;
  std::string rating;
};

enum class Codec {
  Wma,   // WMA v2 / ASF at the settings' bit rate, rate and channels
  Flac,  // lossless at the input's rate, channels and sample size (24 bits kept; 8 stored as 16)
  Opus,  // Ogg Opus, 48000 Hz (resampled), the input's channels, 64 kbit/s per channel
};

struct Settings {
  Codec codec = Codec::Wma;
  int bitRateKbps = 64;   // Wma only
  int sampleRate = 44100;  // Wma only
  int channels = 2;        // Wma only
  Tags tags;               // Flac and Opus carry the title only (as TITLE)
};

struct WaveSource {
  int sampleRate = 0;
  int channels = 0;
  int bitsPerSample = 0;
  int64_t frames = 0;     // sample frames in the input
};

// Called after every block of input: frames read so far and the input's total.
// Returning false cancels the encode.
using ProgressFn = std::function<bool(int64_t framesDone, int64_t framesTotal)>;

class Encoder {
 public:
  Encoder();
  ~Encoder();  // removes the temporary file of an encode that did not finish
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  // Opens the input and reserves a temporary file beside wmaPath. Fails when the input is
  // missing, unreadable or not a WAVE file, or the output folder is not writable.
  Status Open(const std::string& wavPath, const std::string& wmaPath, const Settings& settings);
  const WaveSource& Source() const;

  // Encodes the opened input; on success wmaPath holds the result (an older file of that name
  // is replaced). On failure or cancel wmaPath is untouched and the temporary file is gone.
  Status Run(const ProgressFn& progress = {});

  // Drops an opened but not run encode (closes the input, removes the temporary file).
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

// Open + Run in one call.
Status EncodeWaveToWma(const std::string& wavPath, const std::string& wmaPath, const Settings& settings,
                       const ProgressFn& progress = {});

}  // namespace kv::wma
