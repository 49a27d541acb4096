// Helpers shared by the encoder and normaliser tests: test WAVE files, running tools, ffprobe.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kvtest {

// A fresh folder under the system temp folder, its name containing a space; removed by the destructor.
class TempDir {
public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  std::vector<std::string> list() const;  // names in the folder, dot files included

private:
  std::string path_;
};

// A musical test signal: a melody of notes with harmonics, a quieter chord and short noise bursts,
// peaking near `amplitude` of full scale. Written with libsndfile as a standard PCM WAVE.
void writeMusicWave(const std::string& path, int rate, int bits, int channels, double seconds, double amplitude = 0.5);

// Samples as written in the program's own recordings: the 60-byte header layout (18-byte format
// chunk, fact chunk) followed by the data. Samples are given in the file's sample size
// (-128..127 for 8-bit, which is stored offset-binary).
void writeProgramWave(const std::string& path, int rate, int bits, int channels, const std::vector<int>& samples);

struct WaveData {
  int rate = 0, bits = 0, channels = 0;
  bool wav = false;                 // RIFF WAVE container
  std::vector<int> samples;         // interleaved, in the file's sample size
  int64_t frames() const { return channels ? static_cast<int64_t>(samples.size()) / channels : 0; }
};
bool readWave(const std::string& path, WaveData* out);

struct RunResult {
  int exitCode = -1;
  std::string err;  // stderr
};
// Runs a program with exactly these arguments (no shell), waits, collects stderr.
RunResult run(const std::vector<std::string>& argv);

// ffprobe's stream and format fields (codec_name, bit_rate, sample_rate, channels, duration).
std::map<std::string, std::string> probe(const std::string& path);

// Sample frames an MP3 decodes to when its encoder delay and padding are honoured (ffmpeg); -1 on failure.
int64_t decodedFrames(const std::string& mp3);

// How far an MP3's container duration (what ffprobe reports) may exceed its WAVE's: LAME's fixed
// 576-sample delay and 288-sample end padding, rounded up to whole frames (60 ms at the least).
double mp3DurationTolerance(int rate);

bool exists(const std::string& path);
void writeText(const std::string& path, const std::string& text);
std::string readBytes(const std::string& path);

}  // namespace kvtest
