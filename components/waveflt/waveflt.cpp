// waveflt.exe [-autoofs] [-headcut N] [-normal X | -loudness L] IN.wav OUT.wav
//
//   -normal X    scale so the highest peak is X of full scale (0 < X <= 1); a silent file stays silent
//   -loudness L  bring the integrated loudness (ITU-R BS.1770, EBU R128) to L LUFS (-70 <= L <= 0)
//                with the true peak (4x oversampled) at most -1 dBTP. Where the gain alone would
//                exceed that peak, a look-ahead limiter lowers the peaks smoothly, and the gain is
//                raised again until the result measures L within 0.2 LU. A file without measurable
//                loudness (silence, or sound below -70 LUFS only) is left at its level, and said so.
//   -autoofs     remove each channel's DC offset (its mean) first
//   -headcut N   N != 0: cut the leading silence. Silence is every sample within -60 dBFS of the
//                channel's centre (at least 2 steps for 8-bit files); 4 ms before the first
//                louder sample are kept. A file with no sound at all is not cut.
//   -saveplan F  also write what was decided for IN (its gain and the frame it starts at) to F
//   -useplan F   take the gain and the start from F (written by -saveplan for another file)
//                instead of deciding them: the parts of a mix (its stems) get the mix's gain and
//                cut, so they still add up to it. -autoofs removes IN's own offset; the limiter
//                of -loudness is not applied (it acts on peaks of the whole mix only).
//
// OUT gets IN's format (rate, sample size, channels) as a plain RIFF WAVE. The input is read in
// blocks (a pass per measurement), so memory stays flat for long recordings. OUT is written under
// a temporary name in its folder and renamed at the end; on any error OUT is left untouched.
#include <ebur128.h>
#include <sndfile.h>

#include "TruePeakLimiter.h"
#include "owned.h"
#include "replacing_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
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
  std::optional<double> loudness;  // LUFS
  std::string savePlan, usePlan;
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

// What the last pass writes: from `start` on, each sample less its channel's mean, times `gain`,
// through the limiter when there is a ceiling.
struct Plan {
  std::vector<double> mean;
  double gain = 1.0;
  sf_count_t start = 0;
  std::optional<double> ceiling;  // true peak, linear
};

// Blocks of output samples in the file's sample size, as they come.
using Sink = std::function<bool(const std::vector<int32_t>& samples)>;

// One pass over the input through the plan into `sink`; false on a read or sink error.
bool Render(Input& in, const Plan& plan, const Sink& sink) {
  if (!in.rewind()) return false;
  const int ch = in.info().channels;
  const double fullScale = std::ldexp(1.0, in.bits() - 1);  // 32768 for 16-bit
  std::optional<kv::TruePeakLimiter> limiter;
  if (plan.ceiling) limiter.emplace(ch, in.info().samplerate, *plan.ceiling);
  std::vector<int32_t> buf, out;
  std::vector<double> scaled, limited;
  // Rounded to the file's steps, clipped to its range.
  auto emit = [&](const std::vector<double>& v, double unit) {
    out.clear();
    for (double x : v) out.push_back(int32_t(std::clamp(std::nearbyint(x * unit), -fullScale, fullScale - 1)));
    return out.empty() || sink(out);
  };
  sf_count_t pos = 0;
  for (;;) {
    const sf_count_t n = in.read(buf);
    if (n < 0) return false;
    if (n == 0) break;
    const sf_count_t from = plan.start > pos ? std::min(plan.start - pos, n) : 0;
    pos += n;
    scaled.clear();
    for (sf_count_t f = from; f < n; ++f)
      for (int c = 0; c < ch; ++c) scaled.push_back((buf[size_t(f * ch + c)] - plan.mean[size_t(c)]) * plan.gain);
    if (!limiter) {
      if (!emit(scaled, 1.0)) return false;
      continue;
    }
    for (double& v : scaled) v /= fullScale;
    limited.clear();
    limiter->Push(scaled.data(), scaled.size() / size_t(ch), &limited);
    if (!emit(limited, fullScale)) return false;
  }
  if (!limiter) return true;
  limited.clear();
  limiter->Finish(&limited);
  return emit(limited, fullScale);
}

void DestroyMeter(ebur128_state* s) { ebur128_destroy(&s); }
using Meter = kv::Owned<ebur128_state, DestroyMeter>;

struct Loudness {
  double integrated = -HUGE_VAL;  // LUFS; -inf when nothing passes the gate
  double truePeak = 0;            // linear
};

// Measures what a plan writes, as written (after rounding to the file's steps).
std::optional<Loudness> Measure(Input& in, const Plan& plan, bool truePeak) {
  const int ch = in.info().channels;
  Meter meter(ebur128_init(unsigned(ch), unsigned(in.info().samplerate), truePeak ? EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK : EBUR128_MODE_I));
  if (!meter) return std::nullopt;
  const double unit = std::ldexp(1.0, 1 - in.bits());
  std::vector<double> frames;
  const bool read = Render(in, plan, [&](const std::vector<int32_t>& samples) {
    frames.assign(samples.begin(), samples.end());
    for (double& v : frames) v *= unit;
    return ebur128_add_frames_double(meter.get(), frames.data(), frames.size() / size_t(ch)) == EBUR128_SUCCESS;
  });
  if (!read) return std::nullopt;
  Loudness l;
  ebur128_loudness_global(meter.get(), &l.integrated);
  for (int c = 0; truePeak && c < ch; ++c) {
    double p = 0;
    ebur128_true_peak(meter.get(), unsigned(c), &p);
    l.truePeak = std::max(l.truePeak, p);
  }
  return l;
}

double Db(double linear) { return 20 * std::log10(linear); }
double Linear(double db) { return std::pow(10.0, db / 20); }

// Finds the gain (and, where needed, the limiter's ceiling) that brings the plan's output to
// `target` LUFS with its true peak at most -1 dBTP; each try is measured as written. Returns
// false on a read error; a file that cannot reach the target keeps the closest try, said on
// stderr under `name` (the output's: the input of the program's filter runs has a working name).
bool PlanLoudness(Input& in, const std::string& name, double target, Plan* plan) {
  constexpr double kMaxTruePeak = -1.2;  // dBTP: -1 with room for other meters' interpolation
  constexpr double kTolerance = 0.2;     // LU
  const std::optional<Loudness> source = Measure(in, *plan, false);
  if (!source) return false;
  if (!std::isfinite(source->integrated)) {
    std::fprintf(stderr, "waveflt: %s has no measurable loudness (silence); its level is left as it is\n", name.c_str());
    return true;
  }
  double gainDb = target - source->integrated;
  double ceilingDb = -1.5;
  std::optional<std::pair<double, Plan>> best;  // the closest try within the peak, by its miss
  for (int attempt = 0; attempt < 10; ++attempt) {
    plan->gain = Linear(gainDb);
    plan->ceiling = Linear(ceilingDb);
    const std::optional<Loudness> got = Measure(in, *plan, true);
    if (!got) return false;
    const double peakDb = Db(got->truePeak);
    if (peakDb > kMaxTruePeak) {
      ceilingDb -= peakDb - kMaxTruePeak + 0.1;  // the limiter's own interpolation read low: aim lower
      continue;
    }
    const double missed = got->integrated - target;
    if (!best || std::fabs(missed) < std::fabs(best->first)) best.emplace(missed, *plan);
    if (std::fabs(missed) <= kTolerance) return true;
    gainDb -= missed;
  }
  if (!best) {
    plan->gain = 1.0;
    plan->ceiling.reset();
    std::fprintf(stderr, "waveflt: %s: no gain keeps its peaks under -1 dBTP; its level is left as it is\n", name.c_str());
    return true;
  }
  *plan = best->second;
  std::fprintf(stderr, "waveflt: %s reaches %.1f LUFS, not %.1f: its peaks allow no more\n", name.c_str(),
               target + best->first, target);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-autoofs") {
      o.autoOffset = true;
    } else if ((a == "-headcut" || a == "-normal" || a == "-loudness") && i + 1 < argc) {
      double v = 0;
      if (!parseNumber(argv[++i], &v)) return fail("bad value for " + a + ": " + argv[i]);
      if (a == "-headcut") {
        o.headCut = v != 0;
      } else if (a == "-loudness") {
        if (v < -70 || v > 0) return fail("-loudness takes a level in LUFS from -70 to 0");
        o.loudness = v;
      } else {
        if (v <= 0 || v > 1) return fail("-normal takes a level above 0 and at most 1");
        o.normalise = true;
        o.level = v;
      }
    } else if ((a == "-saveplan" || a == "-useplan") && i + 1 < argc) {
      (a == "-saveplan" ? o.savePlan : o.usePlan) = argv[++i];
    } else if (a.size() > 1 && a[0] == '-' && files.empty()) {
      return fail("unknown option " + a);
    } else {
      files.push_back(a);
    }
  }
  if (o.normalise && o.loudness) return fail("-normal and -loudness exclude each other");
  if (!o.savePlan.empty() && !o.usePlan.empty()) return fail("-saveplan and -useplan exclude each other");
  if (files.size() != 2) return fail("usage: waveflt.exe [-autoofs] [-headcut N] [-normal X | -loudness L] IN.wav OUT.wav");
  o.in = files[0];
  o.out = files[1];

  Input in;
  std::string err;
  if (!in.open(o.in, &err)) return fail(err);
  const int ch = in.info().channels;
  const double fullScale = std::ldexp(1.0, in.bits() - 1);  // 32768 for 16-bit

  // Pass 1: per-channel mean, minimum and maximum.
  Plan plan;
  std::vector<double> sum(ch, 0), &mean = plan.mean;
  mean.assign(size_t(ch), 0);
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
  if (o.normalise && peak > 0 && o.usePlan.empty()) plan.gain = o.level * fullScale / peak;

  // Pass 2: where the sound starts.
  sf_count_t& start = plan.start;
  if (o.headCut && total > 0 && o.usePlan.empty()) {
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

  // Passes 3...: the gain for the loudness, each try measured.
  if (o.loudness && total > 0 && o.usePlan.empty() && !PlanLoudness(in, o.out, *o.loudness, &plan))
    return fail("read error in " + o.in);
  if (!o.usePlan.empty()) {
    kv::UniqueFile f(std::fopen(o.usePlan.c_str(), "r"));
    long long from = 0;
    if (!f || std::fscanf(f.get(), "%lf %lld", &plan.gain, &from) != 2 || !(plan.gain >= 0) || from < 0)
      return fail("cannot read the plan " + o.usePlan);
    plan.start = std::min<sf_count_t>(from, total);
  }
  if (!o.savePlan.empty()) {
    // Exact: %a keeps every bit of the gain.
    kv::UniqueFile f(std::fopen(o.savePlan.c_str(), "w"));
    if (!f || std::fprintf(f.get(), "%a %lld\n", plan.gain, static_cast<long long>(plan.start)) < 0 ||
        std::fclose(f.release()) != 0)
      return fail("cannot write the plan " + o.savePlan);
  }

  // Last pass: write from the start point, scaled, to a temporary file beside OUT.
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
  const int shift = 32 - in.bits();
  std::vector<int32_t> wide;
  const bool ok = Render(in, plan, [&](const std::vector<int32_t>& samples) {
    wide.clear();
    for (int32_t v : samples) wide.push_back(int32_t(uint32_t(v) << shift));
    const sf_count_t frames = sf_count_t(samples.size()) / ch;
    return sf_writef_int(out.get(), wide.data(), frames) == frames;
  });
  int closeErr = sf_close(out.release());
  if (!ok || closeErr != 0) {
    return fail("cannot write " + o.out + (closeErr ? std::string(": ") + sf_error_number(closeErr) : " (read or write error)"));
  }
  if (kv::Status st = target.Commit(); !st) return fail(st.message());
  g_temp.clear();
  return 0;
}
