// onsets FILE.wav PERIOD_S FIRST_S: finds the hits of a click track (make_midi.py click) in a
// 16-bit PCM recording and prints how far each lies from its ideal time, the first hit taken as
// the reference (the attack of the instrument is the same for every hit). Streams the file, so
// an hour of audio needs no memory to speak of.
//   prints: hits=N expected=M first_ms=F max_dev_samples=D max_dev_ms=X drift_samples=R
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Wave {
  FILE* f = nullptr;
  int channels = 0, rate = 0, bits = 0;
  long dataOffset = 0;
  int64_t dataBytes = 0;
};

bool OpenWave(const char* path, Wave& w) {
  w.f = std::fopen(path, "rb");
  if (!w.f) return false;
  unsigned char riff[12];
  if (std::fread(riff, 1, 12, w.f) != 12 || std::memcmp(riff, "RIFF", 4) || std::memcmp(riff + 8, "WAVE", 4)) return false;
  unsigned char head[8];
  while (std::fread(head, 1, 8, w.f) == 8) {
    uint32_t size = head[4] | head[5] << 8 | head[6] << 16 | uint32_t(head[7]) << 24;
    if (!std::memcmp(head, "fmt ", 4)) {
      unsigned char fmt[16];
      if (size < 16 || std::fread(fmt, 1, 16, w.f) != 16) return false;
      w.channels = fmt[2] | fmt[3] << 8;
      w.rate = fmt[4] | fmt[5] << 8 | fmt[6] << 16;
      w.bits = fmt[14] | fmt[15] << 8;
      std::fseek(w.f, long(size - 16 + (size & 1)), SEEK_CUR);
    } else if (!std::memcmp(head, "data", 4)) {
      w.dataOffset = std::ftell(w.f);
      w.dataBytes = size;
      return w.bits == 16 && w.channels >= 1 && w.rate > 0;
    } else {
      std::fseek(w.f, long(size + (size & 1)), SEEK_CUR);
    }
  }
  return false;
}

// Calls fn(frameIndex, |left|+|right| amplitude) for every frame.
template <class Fn>
void Scan(Wave& w, Fn fn) {
  std::fseek(w.f, w.dataOffset, SEEK_SET);
  std::vector<int16_t> buf(size_t(65536) * w.channels);
  int64_t frame = 0, left = w.dataBytes / (2 * w.channels);
  while (left > 0) {
    size_t want = size_t(std::min<int64_t>(left, 65536));
    size_t got = std::fread(buf.data(), 2 * w.channels, want, w.f);
    if (got == 0) break;
    for (size_t i = 0; i < got; ++i) {
      int a = 0;
      for (int c = 0; c < w.channels; ++c) a = std::max(a, std::abs(int(buf[i * w.channels + c])));
      fn(frame++, a);
    }
    left -= int64_t(got);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: onsets FILE.wav PERIOD_S FIRST_S\n");
    return 2;
  }
  Wave w;
  if (!OpenWave(argv[1], w)) {
    std::fprintf(stderr, "onsets: %s is not a 16-bit PCM WAVE file\n", argv[1]);
    return 1;
  }
  const double period = std::atof(argv[2]) * w.rate, first = std::atof(argv[3]) * w.rate;
  int peak = 0;
  Scan(w, [&](int64_t, int a) { peak = std::max(peak, a); });
  if (peak == 0) {
    std::fprintf(stderr, "onsets: the recording is silent\n");
    return 1;
  }
  // A hit starts where the level first crosses a quarter of the peak, at least half a period
  // after the previous hit (the reverb tail stays far below that level).
  const int threshold = peak / 4;
  std::vector<int64_t> hits;
  int64_t last = -int64_t(period);
  Scan(w, [&](int64_t frame, int a) {
    if (a >= threshold && frame - last > period / 2) {
      hits.push_back(frame);
      last = frame;
    }
  });
  const int64_t expected = int64_t((double(w.dataBytes / (2 * w.channels)) - first) / period);
  double maxDev = 0, drift = 0;
  for (size_t i = 0; i < hits.size(); ++i) {
    double dev = double(hits[i] - hits[0]) - double(i) * period;
    if (std::fabs(dev) > std::fabs(maxDev)) maxDev = dev;
    if (i + 1 == hits.size()) drift = dev;
  }
  std::printf("hits=%zu expected=%lld first_ms=%.2f max_dev_samples=%.0f max_dev_ms=%.3f drift_samples=%.0f\n",
              hits.size(), static_cast<long long>(expected),
              hits.empty() ? 0.0 : 1000.0 * double(hits[0]) / w.rate, maxDev, 1000.0 * maxDev / w.rate, drift);
  return 0;
}
