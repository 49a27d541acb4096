// What VBMP3.dll tells about an MP3 file: format, playing time and ID3 title/artist.
#pragma once
#include <cstdint>
#include <string>

namespace kv::mp3 {

struct Mp3FileInfo {
  int sampleRate = 0;
  int channels = 0;
  int bitrateKbps = 0;    // average over the audio data
  double seconds = 0;     // exact when the file carries an encoder delay/padding record
  int64_t frames = 0;
  std::string title, artist;  // UTF-8
};

// False when the file cannot be read or holds no MPEG audio layer III stream.
bool readMp3Info(const std::string& path, Mp3FileInfo* out);

// Legacy tag bytes as UTF-8: kept when valid UTF-8, else read as CP932, else as Latin-1.
std::string legacyToUtf8(const std::string& bytes);

}  // namespace kv::mp3
