// RIFF WAVE files of the recorder: reading a header (format and data size) and writing a
// recording as a stream to a temporary file beside the target, renamed into place on save.
#pragma once
#include <cstdint>
#include <string>

#include "replacing_file.h"

namespace kv::media {

struct WaveFormat {
  int formatTag = 1;
  int channels = 2;
  int rate = 44100;
  int bits = 16;
  int blockAlign = 4;
  int64_t bytesPerSecond = 176400;
  int fmtSize = 16;       // size of the "fmt " chunk as found (16 or 18 for PCM)
  bool hasFact = false;   // the file carried a "fact" chunk
  int64_t dataBytes = 0;  // size of the "data" chunk (clamped to the file)
};

// Reads the header of a WAVE file; false when it is not a RIFF WAVE file with a usable format.
bool ReadWaveHeader(const std::string& path, WaveFormat& fmt);
// True when the recorder can record in this format (PCM, 8 or 16 bits, 1 or 2 channels).
bool IsRecordableFormat(const WaveFormat& fmt);
// The header bytes for `dataBytes` of sample data in `fmt`, laid out like the header the file
// was opened on: RIFF, "fmt " (16 or 18 bytes), optional "fact", "data".
std::string BuildWaveHeader(const WaveFormat& fmt, int64_t dataBytes);

// Streams PCM data to "<target>.~rec" in the target's folder; Commit() fixes the header and
// renames over the target, Discard() removes the temporary file.
class WaveStreamWriter {
 public:
  ~WaveStreamWriter();
  bool Open(const std::string& target, const WaveFormat& fmt);
  bool Write(const void* data, size_t bytes);
  bool Commit(const std::string& target);
  void Discard();
  int64_t DataBytes() const { return data_; }
  bool IsOpen() const { return file_.IsOpen(); }
  // The system's reason (strerror) for the last failed Open or Commit.
  std::string Reason() const;

 private:
  ReplacingFile file_;
  WaveFormat fmt_;
  int64_t data_ = 0;
  int64_t started_ = 0;  // data bytes whose write-back has been started
  bool failed_ = false;
  int error_ = 0;  // errno of the first failure
  void Failed();    // notes a write failure and its errno
  static constexpr size_t kWriteBuffer = 256 * 1024;
  static constexpr int64_t kWritebackStep = 8 << 20;
};

}  // namespace kv::media
