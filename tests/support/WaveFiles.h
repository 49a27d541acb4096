// PCM WAVE files for tests: a musical test signal, writers for the plain 44-byte layout and the
// program's own 60-byte recording layout, a reader for 8- and 16-bit PCM, and the check every
// encoder's output must pass.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "Process.h"
#include "ScratchFolder.h"

namespace kvtest {

inline void putLE(std::string& s, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s += char((v >> (8 * i)) & 0xFF);
}

// The header alone. program = the recorder's layout: 18-byte format chunk and a fact chunk.
inline std::string waveHeader(int rate, int bits, int channels, uint32_t dataBytes, bool program = false) {
  const int align = channels * bits / 8;
  std::string h = "RIFF";
  putLE(h, (program ? 50 : 36) + dataBytes + (dataBytes & 1), 4);  // the bytes after this field, the pad byte too
  h += "WAVEfmt ";
  putLE(h, program ? 18 : 16, 4);
  putLE(h, 1, 2);
  putLE(h, channels, 2);
  putLE(h, rate, 4);
  putLE(h, rate * align, 4);
  putLE(h, align, 2);
  putLE(h, bits, 2);
  if (program) {
    putLE(h, 0, 2);
    h += "fact";
    putLE(h, 4, 4);
    putLE(h, dataBytes / align, 4);
  }
  h += "data";
  putLE(h, dataBytes, 4);
  return h;
}

// Interleaved samples in the file's sample size (-128..127 for 8-bit, stored offset-binary).
inline void writeWave(const std::string& path, int rate, int bits, int channels, const std::vector<int>& samples,
                      bool program = false) {
  std::string d;
  for (int s : samples) putLE(d, bits == 8 ? uint32_t(s + 128) : uint32_t(s), bits / 8);
  writeText(path, waveHeader(rate, bits, channels, uint32_t(d.size()), program) + d + std::string(d.size() & 1, '\0'));
}
inline void writeProgramWave(const std::string& path, int rate, int bits, int channels, const std::vector<int>& samples) {
  writeWave(path, rate, bits, channels, samples, true);
}

// A melody of notes with harmonics, a quieter chord and a snare-like burst every bar, peaking
// near `amplitude` of full scale, in the sample size of `bits`.
inline std::vector<int> musicSamples(int rate, int bits, int channels, double seconds, double amplitude = 0.5) {
  static const int melody[] = {60, 64, 67, 72, 71, 67, 64, 62, 65, 69, 72, 74};
  const int64_t n = std::llround(seconds * rate);
  const double full = bits == 8 ? 127.0 : 32767.0;
  std::mt19937 rng(12345);
  std::uniform_real_distribution<double> noise(-1.0, 1.0);
  std::vector<int> out;
  out.reserve(size_t(n * channels));
  for (int64_t i = 0; i < n; ++i) {
    const double t = double(i) / rate, inNote = std::fmod(t, 0.25);
    const int k = int(t / 0.25);
    const double f = 440.0 * std::pow(2.0, (melody[k % 12] - 69) / 12.0);
    double lead = 0;
    for (int h = 1; h <= 5; ++h) lead += std::sin(2 * M_PI * f * h * t) / h;
    const double chord = 0.3 * (std::sin(2 * M_PI * 130.81 * t) + std::sin(2 * M_PI * 164.81 * t) + std::sin(2 * M_PI * 196.0 * t));
    const double burst = (k % 4 == 3 && inNote < 0.05) ? 0.6 * noise(rng) : 0.0;
    const double mix = (0.45 * lead * std::exp(-inNote * 6.0) + 0.25 * chord + burst) / 1.6;
    for (int c = 0; c < channels; ++c) {
      const double pan = channels == 2 ? (c == 0 ? 0.8 + 0.2 * std::sin(t) : 0.8 - 0.2 * std::sin(t)) : 1.0;
      out.push_back(int(std::lrint(std::clamp(mix * pan, -1.0, 1.0) * amplitude * full)));
    }
  }
  return out;
}
inline void writeMusicWave(const std::string& path, int rate, int bits, int channels, double seconds, double amplitude = 0.5) {
  writeWave(path, rate, bits, channels, musicSamples(rate, bits, channels, seconds, amplitude));
}

// The largest magnitude of samples in -1..1.
inline double Peak(const std::vector<float>& x) {
  double p = 0;
  for (float v : x) p = std::max(p, double(std::fabs(v)));
  return p;
}

struct WaveData {
  bool ok = false;
  int rate = 0, bits = 0, channels = 0;
  std::vector<int> samples;  // interleaved, in the file's sample size
  int64_t frames() const { return channels ? int64_t(samples.size()) / channels : 0; }
  double seconds() const { return rate ? double(frames()) / rate : 0; }
  // Frame i with the channels mixed down, -1..1.
  float mono(int64_t i) const {
    float sum = 0;
    for (int c = 0; c < channels; ++c) sum += float(samples[size_t(i * channels + c)]);
    return sum / channels / (bits == 8 ? 128.0f : 32768.0f);
  }
  // Every frame with the channels mixed down, -1..1.
  std::vector<float> mixed() const {
    std::vector<float> m(static_cast<size_t>(frames()));
    for (int64_t i = 0; i < frames(); ++i) m[size_t(i)] = mono(i);
    return m;
  }
  double peak() const { return Peak(mixed()); }
  // Seconds to the first frame louder than the threshold (-1 when none).
  double firstSound(float threshold = 0.002f) const {
    for (int64_t i = 0; i < frames(); ++i)
      if (std::fabs(mono(i)) > threshold) return double(i) / rate;
    return -1;
  }
};

// A RIFF WAVE with 8- or 16-bit PCM, read as strictly as a careful player does: ok stays false
// for anything else, and for a RIFF size that is not the file's, a chunk running past the end
// (its pad byte included), format fields that disagree with each other, a data chunk that is no
// whole number of frames, or a fact chunk that counts other frames than the data holds.
inline WaveData readWave(const std::string& path) {
  WaveData w;
  const std::string b = readBytes(path);
  if (b.size() < 12 || b.compare(0, 4, "RIFF") != 0 || b.compare(8, 4, "WAVE") != 0) return w;
  auto le = [&b](size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes && at + i < b.size(); ++i) v |= uint32_t(uint8_t(b[at + i])) << (8 * i);
    return v;
  };
  if (uint64_t(le(4, 4)) + 8 != b.size()) return w;
  std::string data;
  int tag = 0, align = 0;
  int64_t byteRate = 0, factFrames = -1;
  bool haveData = false;
  for (size_t p = 12; p < b.size();) {
    if (p + 8 > b.size()) return w;
    const std::string id = b.substr(p, 4);
    const uint64_t len = le(p + 4, 4);
    if (p + 8 + len + (len & 1) > b.size()) return w;
    if (id == "fmt ") {
      if (len < 16) return w;
      tag = int(le(p + 8, 2));
      w.channels = int(le(p + 10, 2));
      w.rate = int(le(p + 12, 4));
      byteRate = le(p + 16, 4);
      align = int(le(p + 20, 2));
      w.bits = int(le(p + 22, 2));
    } else if (id == "fact" && len >= 4) {
      factFrames = le(p + 8, 4);
    } else if (id == "data") {
      data = b.substr(p + 8, size_t(len));
      haveData = true;
    }
    p += 8 + size_t(len) + (len & 1);
  }
  if ((tag != 1 && tag != 0xFFFE) || !w.rate || !w.channels || (w.bits != 8 && w.bits != 16) || !haveData) return w;
  const size_t bytes = size_t(w.bits / 8);
  if (align != int(bytes) * w.channels || byteRate != int64_t(w.rate) * align || data.size() % size_t(align)) return w;
  if (factFrames >= 0 && factFrames != int64_t(data.size() / size_t(align))) return w;
  const size_t n = data.size() / bytes;
  for (size_t i = 0; i < n; ++i) {
    const auto* s = reinterpret_cast<const uint8_t*>(data.data() + i * bytes);
    w.samples.push_back(bytes == 1 ? int(s[0]) - 128 : int(int16_t(s[0] | s[1] << 8)));
  }
  w.ok = true;
  return w;
}

// An encoded file as ffprobe reads it: "codec bit_rate sample_rate channels" must be `stream`, its
// duration `seconds` up to what the encoder may add, and it must decode to sound (not silence).
inline std::string encodedProblem(const std::string& path, const std::string& stream, double seconds, double tolerance) {
  auto p = probe(path);
  const std::string got = p["codec_name"] + " " + p["bit_rate"] + " " + p["sample_rate"] + " " + p["channels"];
  const double d = std::atof(p["duration"].c_str());
  if (got != stream) return path + ": " + got + " instead of " + stream;
  if (d < seconds - 0.01 || d > seconds + tolerance) return path + ": " + std::to_string(d) + " s instead of " + std::to_string(seconds);
  if (maxVolumeDb(path) < -30) return path + ": silent";
  return "";
}

}  // namespace kvtest
