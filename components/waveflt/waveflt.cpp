// waveflt.exe [-autoofs] [-headcut N] [-normal X] IN.wav OUT.wav
//
//   -normal X   scale so the highest peak is X of full scale (0 < X <= 1); a silent file stays silent
//   -autoofs    remove each channel's DC offset (its mean) first
//   -headcut N  N != 0: cut the leading silence. Silence is every sample within -60 dBFS of the
//               channel's centre (at least 2 steps for 8-bit files); 4 ms before the first
//               louder sample are kept. A file with no sound at all is not cut.
//
// OUT gets IN's format (rate, sample size, channels) as a plain RIFF WAVE. The input is read in
// blocks (three passes), so memory stays flat for long recordings. OUT is written under a
// temporary name in its folder and renamed at the end; on any error OUT is left untouched.
#include <sndfile.h>

#include "owned.h"
#include "replacing_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr sf_count_t kBlock = 8192;
std::string g_temp;  // removed on a fatal signal too

void removeTemp() {
  if (!g_temp.empty()) unlink(g_temp.c_str());
  g_temp.clear();
}

extern "C" void onSignal(int sig) {
  if (!g_temp.empty()) unlink(g_temp.c_str());
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

int fail(const std::string& msg) {
  removeTemp();
  std::fprintf(stderr, "waveflt: %s\n", msg.c_str());
  return 1;
}

struct Options {
  bool autoOffset = false;
  bool headCut = false;
  bool normalise = false;
  double level = 0.9;
  std::string in, out;
};

bool parseNumber(const char* s, double* v) {
  char* end = nullptr;
  errno = 0;
  *v = std::strtod(s, &end);
  return errno == 0 && end != s && *end == '\0' && std::isfinite(*v);
}

using SoundFile = kv::Owned<SNDFILE, sf_close>;

// libsndfile writing through a stdio stream, so its writes pass the stream's full-disk hook.
FILE* Stream(void* user) { return static_cast<FILE*>(user); }
SF_VIRTUAL_IO kStreamIo = {
    [](void* u) -> sf_count_t {
      const off_t at = ftello(Stream(u));
      if (at < 0 || fseeko(Stream(u), 0, SEEK_END) != 0) return -1;
      const off_t end = ftello(Stream(u));
      return fseeko(Stream(u), at, SEEK_SET) == 0 ? end : -1;
    },
    [](sf_count_t offset, int whence, void* u) -> sf_count_t {
      return fseeko(Stream(u), offset, whence) == 0 ? ftello(Stream(u)) : -1;
    },
    [](void* p, sf_count_t n, void* u) -> sf_count_t { return sf_count_t(std::fread(p, 1, size_t(n), Stream(u))); },
    [](const void* p, sf_count_t n, void* u) -> sf_count_t {
      return sf_count_t(std::fwrite(p, 1, size_t(n), Stream(u)));
    },
    [](void* u) -> sf_count_t { return ftello(Stream(u)); },
};

class Input {
public:
  bool open(const std::string& path, std::string* err) {
    sf_.reset(sf_open(path.c_str(), SFM_READ, &info_));
    if (!sf_) {
      *err = "cannot read " + path + ": " + sf_strerror(nullptr);
      return false;
    }
    int major = info_.format & SF_FORMAT_TYPEMASK, sub = info_.format & SF_FORMAT_SUBMASK;
    if (major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX) {
      *err = path + " is not a WAVE file";
      return false;
    }
    switch (sub) {
      case SF_FORMAT_PCM_U8: case SF_FORMAT_PCM_S8: bits_ = 8; break;
      case SF_FORMAT_PCM_16: bits_ = 16; break;
      case SF_FORMAT_PCM_24: bits_ = 24; break;
      case SF_FORMAT_PCM_32: bits_ = 32; break;
      default: *err = path + ": only PCM WAVE files are supported"; return false;
    }
    if (info_.channels < 1 || info_.channels > 8) {
      *err = path + ": unsupported channel count";
      return false;
    }
    return true;
  }
  bool rewind() { return sf_seek(sf_.get(), 0, SEEK_SET) == 0; }
  // Reads a block as samples of the file's own size (e.g. -32768..32767 for 16-bit).
  sf_count_t read(std::vector<int32_t>& buf) {
    buf.resize(static_cast<size_t>(kBlock * info_.channels));
    sf_count_t n = sf_readf_int(sf_.get(), buf.data(), kBlock);
    if (n < 0) return -1;
    if (n < kBlock && sf_error(sf_.get()) != SF_ERR_NO_ERROR) return -1;
    const int shift = 32 - bits_;
    for (sf_count_t i = 0; i < n * info_.channels; ++i) buf[static_cast<size_t>(i)] >>= shift;
    return n;
  }
  const SF_INFO& info() const { return info_; }
  int bits() const { return bits_; }

private:
  SoundFile sf_;
  SF_INFO info_{};
  int bits_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  Options o;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-autoofs") {
      o.autoOffset = true;
    } else if ((a == "-headcut" || a == "-normal") && i + 1 < argc) {
      double v = 0;
      if (!parseNumber(argv[++i], &v)) return fail("bad value for " + a + ": " + argv[i]);
      if (a == "-headcut") {
        o.headCut = v != 0;
      } else {
        if (v <= 0 || v > 1) return fail("-normal takes a level above 0 and at most 1");
        o.normalise = true;
        o.level = v;
      }
    } else if (a.size() > 1 && a[0] == '-' && files.empty()) {
      return fail("unknown option " + a);
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != 2) return fail("usage: waveflt.exe [-autoofs] [-headcut N] [-normal X] IN.wav OUT.wav");
  o.in = files[0];
  o.out = files[1];

  Input in;
  std::string err;
  if (!in.open(o.in, &err)) return fail(err);
  const int ch = in.info().channels;
  const double fullScale = std::ldexp(1.0, in.bits() - 1);  // 32768 for 16-bit
  const double maxSample = fullScale - 1, minSample = -fullScale;

  // Pass 1: per-channel mean, minimum and maximum.
  std::vector<double> sum(ch, 0), mean(ch, 0);
  std::vector<int32_t> lo(ch, INT32_MAX), hi(ch, INT32_MIN);
  std::vector<int32_t> buf;
  sf_count_t total = 0;
  for (;;) {
    sf_count_t n = in.read(buf);
    if (n < 0) return fail("read error in " + o.in);
    if (n == 0) break;
    for (sf_count_t f = 0; f < n; ++f)
      for (int c = 0; c < ch; ++c) {
        int32_t s = buf[static_cast<size_t>(f * ch + c)];
        sum[c] += s;
        if (s < lo[c]) lo[c] = s;
        if (s > hi[c]) hi[c] = s;
      }
    total += n;
  }
  if (o.autoOffset && total > 0)
    for (int c = 0; c < ch; ++c) mean[c] = sum[c] / static_cast<double>(total);
  double peak = 0;
  if (total > 0)
    for (int c = 0; c < ch; ++c) peak = std::max({peak, hi[c] - mean[c], mean[c] - lo[c]});
  const double gain = o.normalise && peak > 0 ? o.level * fullScale / peak : 1.0;

  // Pass 2: where the sound starts.
  sf_count_t start = 0;
  if (o.headCut && total > 0) {
    const double threshold = std::max(fullScale * 0.001, in.bits() == 8 ? 2.0 : 1.0);  // -60 dBFS
    if (!in.rewind()) return fail("cannot rewind " + o.in);
    sf_count_t pos = 0, first = -1;
    while (first < 0) {
      sf_count_t n = in.read(buf);
      if (n < 0) return fail("read error in " + o.in);
      if (n == 0) break;
      for (sf_count_t f = 0; f < n && first < 0; ++f)
        for (int c = 0; c < ch; ++c)
          if (std::fabs(buf[static_cast<size_t>(f * ch + c)] - mean[c]) >= threshold) {
            first = pos + f;
            break;
          }
      pos += n;
    }
    const sf_count_t preRoll = sf_count_t{in.info().samplerate} * 4 / 1000;  // any header rate, no overflow
    if (first > preRoll) start = first - preRoll;
  }

  // Pass 3: write from the start point, scaled, to a temporary file beside OUT.
  kv::ReplacingFile target;
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  std::signal(SIGHUP, onSignal);
  if (kv::Status st = target.Create(o.out); !st) return fail(st.message());
  g_temp = target.TempPath();
  SF_INFO oi{};
  oi.samplerate = in.info().samplerate;
  oi.channels = ch;
  const int sub = in.info().format & SF_FORMAT_SUBMASK;
  oi.format = SF_FORMAT_WAV | (sub == SF_FORMAT_PCM_S8 ? SF_FORMAT_PCM_U8 : sub);  // WAVE's 8-bit is unsigned
  SoundFile out(sf_open_virtual(&kStreamIo, SFM_WRITE, &oi, target.Stream()));
  if (!out) return fail("cannot write " + o.out + ": " + sf_strerror(nullptr));
  if (!in.rewind()) return fail("cannot rewind " + o.in);
  const int shift = 32 - in.bits();
  sf_count_t pos = 0;
  bool ok = true;
  std::vector<int32_t> outBuf;
  for (;;) {
    sf_count_t n = in.read(buf);
    if (n < 0) { ok = false; break; }
    if (n == 0) break;
    sf_count_t from = start > pos ? std::min(start - pos, n) : 0;
    outBuf.clear();
    for (sf_count_t f = from; f < n; ++f)
      for (int c = 0; c < ch; ++c) {
        double v = std::nearbyint((buf[static_cast<size_t>(f * ch + c)] - mean[c]) * gain);
        v = std::min(maxSample, std::max(minSample, v));
        outBuf.push_back(static_cast<int32_t>(static_cast<int64_t>(v) * (int64_t{1} << shift)));
      }
    sf_count_t frames = n - from;
    if (frames > 0 && sf_writef_int(out.get(), outBuf.data(), frames) != frames) { ok = false; break; }
    pos += n;
  }
  int closeErr = sf_close(out.release());
  if (!ok || closeErr != 0) {
    return fail("cannot write " + o.out + (closeErr ? std::string(": ") + sf_error_number(closeErr) : " (read or write error)"));
  }
  if (kv::Status st = target.Commit(); !st) return fail(st.message());
  g_temp.clear();
  return 0;
}
