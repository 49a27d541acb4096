// LAME encoding of a WAVE file into an MP3 file, one MPEG frame's worth of input per step, so callers
// can show progress and stop between frames. The MP3 appears under its final name only when complete.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SafeFile.h"
#include "WaveReader.h"

namespace kv::mp3 {

enum class ChannelMode { Stereo, JointStereo };

struct EncodeOptions {
  int bitrateKbps = 128;       // CBR; LAME picks the nearest bit rate the sampling rate allows
  ChannelMode mode = ChannelMode::JointStereo;  // mono input always stays mono
  int quality = 5;             // LAME algorithm quality: 0 best/slowest .. 9 worst/fastest
  int inputRate = 0;           // when non-zero, the input's sampling rate in Hz instead of the header's
};

enum class EncodeStatus {
  More = 0,         // a frame was encoded, more follow
  Finished = 1,     // input done, MP3 complete under its final name
  InputOpen = 13,   // the WAVE file cannot be opened
  InputFormat = 14, // not a WAVE file, or a format the encoder cannot take
  OutputOpen = 15,  // the MP3 file cannot be created
  EncodeFailed = 16,// LAME or a write failed while encoding
  State = 17,       // call out of order
};

class Mp3Encoder {
public:
  Mp3Encoder();
  ~Mp3Encoder();  // an unfinished encode is discarded
  Mp3Encoder(const Mp3Encoder&) = delete;
  Mp3Encoder& operator=(const Mp3Encoder&) = delete;

  // Opens the WAVE file and sets LAME up. Returns None-equivalent More (0) on success.
  EncodeStatus openInput(const std::string& wavPath, const EncodeOptions& opt);
  // Creates the MP3 under a temporary name beside mp3Path.
  EncodeStatus openOutput(const std::string& mp3Path);
  // Encodes the next frame's worth of input; at the end also flushes and renames into place.
  EncodeStatus step();
  // Drops an unfinished encode (temporary file removed). Safe to call at any time.
  void abort();

  const WaveInfo& input() const { return reader_.info(); }
  // Number of step() calls a whole encode takes, the last one (which returns Finished) included.
  int64_t totalSteps() const;
  int64_t samplesPerStep() const { return samplesPerStep_; }
  int64_t framesDone() const { return framesDone_; }  // input sample frames consumed so far
  int bitrateKbps() const { return bitrate_; }        // the bit rate LAME actually uses
  int mpegVersion() const { return mpegVersion_; }    // 1 (32-48 kHz) or 2 (16-24 kHz)
  bool finished() const { return finished_; }
  const std::string& error() const { return error_; }

private:
  EncodeStatus fail(EncodeStatus s, const std::string& why);
  bool write(const unsigned char* p, int n);

  WaveReader reader_;
  SafeFile out_;
  void* lame_ = nullptr;  // lame_global_flags*
  std::vector<int16_t> pcm_;
  std::vector<unsigned char> mp3buf_;
  int64_t samplesPerStep_ = 0;
  int64_t framesDone_ = 0;
  int bitrate_ = 0;
  int mpegVersion_ = 0;
  bool finished_ = false;
  std::string error_;
};

// Samples rates LAME encodes without resampling in this program: 16000 to 48000 Hz MPEG-1/2 rates.
bool isEncodableRate(int hz);

}  // namespace kv::mp3
