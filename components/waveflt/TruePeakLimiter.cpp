#include "TruePeakLimiter.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kv {

namespace {

constexpr int kHalf = 8;    // interpolator taps on each side of an interval
constexpr int kPhases = 4;  // 4x oversampling, as BS.1770 true-peak meters do

// Hann-windowed sinc taps for the points 1/4, 2/4 and 3/4 into an interval.
using Taps = std::array<std::array<double, 2 * kHalf>, kPhases - 1>;
const Taps& Interpolator() {
  static const Taps taps = [] {
    Taps t{};
    for (int p = 1; p < kPhases; ++p)
      for (int j = 0; j < 2 * kHalf; ++j) {
        const double x = double(p) / kPhases - double(j - kHalf + 1);
        const double sinc = std::sin(M_PI * x) / (M_PI * x);
        t[size_t(p - 1)][size_t(j)] = sinc * 0.5 * (1 + std::cos(M_PI * x / kHalf));
      }
    return t;
  }();
  return taps;
}

}  // namespace

TruePeakLimiter::TruePeakLimiter(int channels, int sampleRate, double ceiling)
    : channels_(channels),
      window_(std::max<size_t>(2 * kHalf, size_t(sampleRate) * 5 / 1000)),
      ceiling_(ceiling),
      recovery_(std::exp(-1.0 / (0.05 * sampleRate))),
      smooth_(window_, 1.0),
      smoothSum_(double(window_)) {
  // The held-back frames start as silence before the signal; their output is dropped.
  held_frames_ = kHalf + window_;
  x_.assign(2 * held_frames_ * size_t(channels_), 0.0);
  index_ = held_frames_ - 1;
  pending_ = held_frames_ - 1;
}

double TruePeakLimiter::IntervalPeak(const double* first) const {
  // first: the interval's first tap, kHalf - 1 frames before its start.
  double peak = 0;
  for (int c = 0; c < channels_; ++c) {
    auto at = [&](size_t frame) { return first[frame * size_t(channels_) + size_t(c)]; };
    peak = std::max({peak, std::fabs(at(kHalf - 1)), std::fabs(at(kHalf))});
    for (const auto& phase : Interpolator()) {
      double v = 0;
      for (size_t j = 0; j < phase.size(); ++j) v += phase[j] * at(j);
      peak = std::max(peak, std::fabs(v));
    }
  }
  return peak;
}

void TruePeakLimiter::Frame(const double* frame, std::vector<double>* out) {
  // The new frame replaces the oldest, in both copies; the window then starts after it.
  const size_t ch = size_t(channels_);
  std::copy(frame, frame + ch, x_.begin() + ptrdiff_t(at_ * ch));
  std::copy(frame, frame + ch, x_.begin() + ptrdiff_t((at_ + held_frames_) * ch));
  at_ = (at_ + 1) % held_frames_;
  const double* window = x_.data() + at_ * ch;  // held_frames_ frames, oldest first
  const size_t n = index_++ - kHalf;  // the frame whose gain is decided now

  // The gain that frame n may have: both intervals it bounds must stay under the ceiling.
  const double peak = IntervalPeak(window + (held_frames_ - 2 * kHalf) * ch);
  const double worst = std::max(peak, lastPeak_);
  lastPeak_ = peak;
  const double allowed = worst > ceiling_ ? ceiling_ / worst : 1.0;

  // Lowest allowed gain over the look-ahead, held and released slowly...
  while (!minima_.empty() && minima_.back().second >= allowed) minima_.pop_back();
  minima_.emplace_back(n, allowed);
  const size_t t = n + 1 - window_;  // the frame that leaves now
  while (minima_.front().first < t) minima_.pop_front();
  held_ = std::min(minima_.front().second, 1 - (1 - held_) * recovery_);
  // ... then averaged over the look-ahead: every average that covers a peak's frame is made
  // of gains at most the one that peak allows, so the gain ramps down before it in time.
  smoothSum_ += held_ - smooth_[smoothAt_];
  smooth_[smoothAt_] = held_;
  smoothAt_ = (smoothAt_ + 1) % window_;
  const double gain = std::min(1.0, smoothSum_ / double(window_));

  if (pending_ > 0) {
    --pending_;
  } else {
    for (size_t c = 0; c < ch; ++c) out->push_back(window[c] * gain);
  }
}

void TruePeakLimiter::Push(const double* in, size_t frames, std::vector<double>* out) {
  for (size_t f = 0; f < frames; ++f) Frame(in + f * size_t(channels_), out);
}

void TruePeakLimiter::Finish(std::vector<double>* out) {
  const std::vector<double> silence(size_t(channels_), 0.0);
  for (size_t f = 0; f + 1 < held_frames_; ++f) Frame(silence.data(), out);
}

}  // namespace kv
