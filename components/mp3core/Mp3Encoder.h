// LAME encoding of a WAVE file into an MP3 file, one MPEG frame's worth of input per step, so callers
// can show progress and stop between frames. The MP3 appears under its final name only when complete.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <lame/lame.h>

#include "WaveReader.h"
#include "owned.h"
#include "replacing_file.h"
#include "status.h"

namespace kv::mp3 {

enum class ChannelMode { Stereo, JointStereo };

struct EncodeOptions {
  int bitrateKbps = 128;       // CBR; LAME picks the nearest bit rate the sampling rate allows
  ChannelMode mode = ChannelMode::JointStereo;  // mono input always stays mono
  int quality = 5;             // LAME algorithm quality: 0 best/slowest .. 9 worst/fastest
  int inputRate = 0;           // when non-zero, the input's sampling rate in Hz instead of the header's
};

// The code() of a failed call; gogo.dll passes these numbers on.
enum class EncodeError {
  InputOpen = 13,    // the WAVE file cannot be opened
  InputFormat = 14,  // not a WAVE file, or a format the encoder cannot take
  OutputOpen = 15,   // the MP3 file cannot be created
  EncodeFailed = 16, // LAME or a write failed while encoding
  State = 17,        // call out of order
};

class Mp3Encoder {
public:
  Mp3Encoder();
  ~Mp3Encoder();  // an unfinished encode is discarded
  Mp3Encoder(const Mp3Encoder&) = delete;
  Mp3Encoder& operator=(const Mp3Encoder&) = delete;

  // Opens the WAVE file and sets LAME up.
  Status openInput(const std::string& wavPath, const EncodeOptions& opt);
  // Creates the MP3 under a temporary name beside mp3Path.
  Status openOutput(const std::string& mp3Path);
  // Encodes the next frame's worth of input; the last step also flushes and renames the MP3
  // into place, and finished() turns true.
  Status step();

  // The same encode fed by the caller instead of a WAVE file: set up for 16-bit interleaved
  // PCM of `channels` at `rate` (then openOutput), fed in blocks of any size, finished once the
  // input has ended. Gives the bytes openInput/step give for a WAVE file of those samples.
  Status openStream(int rate, int channels, const EncodeOptions& opt);
  Status feed(const int16_t* pcm, int64_t frames);
  Status finish();

  // Drops an unfinished encode (temporary file removed). Safe to call at any time.
  void abort();

  const WaveInfo& input() const { return reader_.info(); }
  // Number of step() calls a whole encode takes, the last one (which returns Finished) included.
  int64_t totalSteps() const;
  int64_t framesDone() const { return framesDone_; }  // input sample frames consumed so far
  int bitrateKbps() const { return bitrate_; }        // the bit rate LAME actually uses
  bool finished() const { return finished_; }

private:
  Status fail(EncodeError e, const std::string& why);
  Status setUp(int rate, int channels, const EncodeOptions& opt);
  Status encode(const int16_t* pcm, int64_t frames);
  bool write(const unsigned char* p, int n);

  WaveReader reader_;
  int channels_ = 0;
  ReplacingFile out_;
  Owned<lame_global_flags, lame_close> lame_;
  std::vector<int16_t> pcm_;
  std::vector<unsigned char> mp3buf_;
  int64_t samplesPerStep_ = 0;
  int64_t framesDone_ = 0;
  int bitrate_ = 0;
  bool finished_ = false;
};

// Samples rates LAME encodes without resampling in this program: 16000 to 48000 Hz MPEG-1/2 rates.
bool isEncodableRate(int hz);

}  // namespace kv::mp3
