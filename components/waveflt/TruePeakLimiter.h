// A look-ahead limiter that keeps the 4x oversampled (true) peak of a signal under a ceiling.
// All channels share one gain, so the stereo image does not move. The gain falls smoothly over
// the look-ahead before a peak and recovers exponentially after it; a signal that stays under
// the ceiling passes unchanged.
#pragma once
#include <cstddef>
#include <deque>
#include <vector>

namespace kv {

class TruePeakLimiter {
 public:
  // ceiling: the highest true peak let through, linear (1.0 = full scale).
  TruePeakLimiter(int channels, int sampleRate, double ceiling);

  // Takes `frames` interleaved frames and appends the limited frames that are ready to `out`;
  // the limiter holds back its look-ahead, which Finish() releases.
  void Push(const double* in, size_t frames, std::vector<double>* out);
  void Finish(std::vector<double>* out);

 private:
  void Frame(const double* frame, std::vector<double>* out);
  double IntervalPeak(const double* first) const;

  int channels_;
  size_t window_;          // look-ahead, frames
  double ceiling_;
  double recovery_;        // per frame: how much of the distance to unity gain remains
  size_t held_frames_;     // frames held back
  std::vector<double> x_;  // the frames held back, interleaved, in a ring stored twice over so
  size_t at_ = 0;          // that the held_frames_ from at_ on always lie in one piece
  double lastPeak_ = 0;    // peak of the interval before the current one
  size_t index_ = 0;       // frames pushed so far, with the leading zeros
  std::deque<std::pair<size_t, double>> minima_;  // rising gains ahead, for the running minimum
  std::vector<double> smooth_;                    // the last window_ gains, for their average
  size_t smoothAt_ = 0;
  double smoothSum_ = 0;
  double held_ = 1;        // the gain after recovery
  size_t pending_ = 0;     // leading zero frames still to drop from the output
};

}  // namespace kv
