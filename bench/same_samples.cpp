// same_samples A.wav B.wav [SECONDS]: compares two 16-bit PCM recordings once their leading
// silence is aligned (first frame louder than 0.002), over the length they share (at most
// SECONDS). Prints the number of samples that differ and the frames compared; exits 1 when any
// differ or a file is unreadable.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct Wave {
  int channels = 0, rate = 0;
  std::vector<int16_t> s;
};

static bool Read(const char* path, Wave& w) {
  std::ifstream f(path, std::ios::binary);
  std::string b((std::istreambuf_iterator<char>(f)), {});
  if (b.size() < 12 || b.compare(0, 4, "RIFF") || b.compare(8, 4, "WAVE")) return false;
  auto u32 = [&](size_t at) { uint32_t v; std::memcpy(&v, b.data() + at, 4); return v; };
  for (size_t at = 12; at + 8 <= b.size();) {
    const std::string id = b.substr(at, 4);
    const size_t len = u32(at + 4);
    if (id == "fmt " && at + 24 <= b.size()) {
      w.channels = uint8_t(b[at + 10]);
      w.rate = int(u32(at + 12));
      if (uint8_t(b[at + 22]) != 16) return false;
    } else if (id == "data") {
      const size_t n = std::min(len, b.size() - at - 8) / 2;
      w.s.resize(n);
      std::memcpy(w.s.data(), b.data() + at + 8, n * 2);
      return w.channels > 0;
    }
    at += 8 + len + (len & 1);
  }
  return false;
}

static size_t FirstSound(const Wave& w) {
  for (size_t i = 0; i + w.channels <= w.s.size(); i += w.channels) {
    double m = 0;
    for (int c = 0; c < w.channels; ++c) m += w.s[i + c];
    if (std::fabs(m / w.channels / 32768.0) > 0.002) return i;
  }
  return w.s.size();
}

int main(int argc, char** argv) {
  Wave a, b;
  if (argc < 3 || argc > 4 || !Read(argv[1], a) || !Read(argv[2], b) || a.channels != b.channels) {
    std::fprintf(stderr, "same_samples: cannot compare %s and %s\n", argc > 1 ? argv[1] : "?", argc > 2 ? argv[2] : "?");
    return 1;
  }
  const size_t x = FirstSound(a), y = FirstSound(b);
  size_t n = std::min(a.s.size() - x, b.s.size() - y);
  if (argc == 4) n = std::min(n, size_t(std::atof(argv[3]) * a.rate) * size_t(a.channels));
  size_t differ = 0;
  for (size_t i = 0; i < n; ++i) differ += a.s[x + i] != b.s[y + i];
  std::printf("%zu %zu\n", differ, n / size_t(a.channels));
  return differ ? 1 : 0;
}
