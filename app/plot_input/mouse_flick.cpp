#include "app/plot_input/mouse_flick.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/clock.h"

namespace {

// Beyond this a motion cannot be meant; it also keeps a wild speed from
// sizing the work arrays.
constexpr std::size_t kMaxSlideSamples = 20000;

bool SlidingOff() { return MouseSliding().slidingOff != 0; }

}  // namespace

MouseSlidingFlags& MouseSliding() {
  static MouseSlidingFlags flags;
  return flags;
}

MouseSlideState& MouseSlide() {
  static MouseSlideState state;
  return state;
}

double ReleaseSpeed(const std::vector<double>& timeMs, const std::vector<double>& x) {
  const std::size_t n = std::min(timeMs.size(), x.size());
  if (n < 2) return 0;
  if ((timeMs[n - 1] - timeMs[n - 2]) * 0.001 > 0.3) return 0;
  std::vector<double> t(n);
  double tBar = 0, t2Bar = 0, xBar = 0;
  for (std::size_t k = 0; k < n; ++k) {
    t[k] = (timeMs[k] - timeMs[0]) * 0.001;
    tBar += t[k], t2Bar += t[k] * t[k], xBar += x[k];
  }
  tBar /= n, t2Bar /= n, xBar /= n;
  double stt = 0, sxt = 0, sqt = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const double u = t[k] - tBar;
    stt += u * u, sxt += (x[k] - xBar) * u, sqt += (t[k] * t[k] - t2Bar) * u;
  }
  if (stt <= 0) return 0;
  const double b = sxt / stt;  // straight-line slope
  const double r = sqt / stt;  // slope of t^2 on t
  // The part of t^2 not explained by a line in t carries the curvature.
  double sww = 0, sxw = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const double w = t[k] * t[k] - t2Bar - r * (t[k] - tBar);
    sww += w * w, sxw += (x[k] - xBar) * w;
  }
  if (n < 3 || sww <= 1e-12 * stt * stt) return b;
  const double c = sxw / sww;
  return (b - c * r) + 2 * c * t[n - 1];
}

bool SlideMotion(double v, int lower, int upper, int start, bool bouncing, const MouseSlideState& s,
                 std::vector<int>& positions, std::vector<double>& steps) {
  positions.clear();
  steps.clear();
  const double dt = s.timeStep;
  const double dec = std::fabs(s.deceleration);
  if (v == 0 || !std::isfinite(v) || lower > upper || dt <= 0 || dec <= 0) return false;
  const double wanted = 2 * std::ceil((std::fabs(v) / (0.5 * dec)) / dt) + 1;
  const std::size_t capacity = std::isfinite(wanted) && wanted < static_cast<double>(kMaxSlideSamples)
                                   ? static_cast<std::size_t>(wanted)
                                   : kMaxSlideSamples;
  positions.push_back(start);
  steps.push_back(0);
  double a = v > 0 ? -dec : dec;
  double spring = 0;
  bool touched = false;
  int limit = 0;
  for (std::size_t k = 1; k < capacity; ++k) {
    double step = std::fabs(v) - std::fabs(a) * dt < 0 ? std::fabs(v) / std::fabs(a) : dt;
    if (step < 1e-6) step = 0;
    const int prev = positions.back();
    const double move = v > 0 ? std::ceil(v * step) : std::floor(v * step);
    // Compared in floating point and moved in 64 bits: a huge step, or limits
    // wider apart than an int spans, must not overflow the pixels.
    long long d = 0;
    bool hit = false;
    if (prev + move < lower) {
      d = static_cast<long long>(lower) - prev;
      if (!touched) touched = true, limit = lower, spring = bouncing ? -s.bounceSpring : 0;
      hit = true;
      v = -(1 - s.bounceLoss) * v;
    } else if (prev + move > upper) {
      d = static_cast<long long>(upper) - prev;
      if (!touched) touched = true, limit = upper, spring = bouncing ? s.bounceSpring : 0;
      hit = true;
      v = -(1 - s.bounceLoss) * v;
    } else {
      d = static_cast<long long>(move);
    }
    // Within [lower, upper], so an int again.
    positions.push_back(static_cast<int>(prev + d));
    steps.push_back(step);
    a = v > 0 ? -std::fabs(a) : std::fabs(a);
    v += (a + spring) * step;
    if (!bouncing || !touched) {
      if ((!hit && d == 0) || std::fabs(v) <= 1.0) break;
    } else if (std::llabs(static_cast<long long>(positions.back()) - limit) < 3 && std::llabs(d) < 2 &&
               std::fabs(v) <= 10) {
      break;
    }
  }
  // A tail that no longer moves is cut at the first sample it rests on.
  for (std::size_t k = 1; k < positions.size(); ++k) {
    if (steps[k] <= 0) continue;
    bool resting = true;
    for (std::size_t j = k + 1; j < positions.size() && j <= k + 10; ++j)
      if (positions[j] != positions[k]) resting = false;
    if (resting) {
      positions.resize(k + 1);
      steps.resize(k + 1);
      break;
    }
  }
  return true;
}

void MouseTrackReset() {
  if (SlidingOff()) return;
  MouseSlide().count = 0;
}

void MouseTrackAdd(int x, int y) {
  if (SlidingOff()) return;
  MouseSlideState& s = MouseSlide();
  const auto now = static_cast<std::uint32_t>(platform::Clock().TickCountMs());
  if (s.count == MouseSlideState::kMaxSamples) {
    for (int k = 1; k < s.count; ++k) s.timeMs[k - 1] = s.timeMs[k], s.x[k - 1] = s.x[k], s.y[k - 1] = s.y[k];
    --s.count;
  }
  s.timeMs[s.count] = now, s.x[s.count] = x, s.y[s.count] = y;
  ++s.count;
}

float MouseTrackVelocity() {
  if (SlidingOff()) return 0;
  MouseSlideState& s = MouseSlide();
  std::vector<double> t, x;
  for (int k = 0; k < s.count; ++k) {
    // Differences from the first sample survive the clock's wrap-around.
    t.push_back(static_cast<double>(static_cast<std::uint32_t>(s.timeMs[k] - s.timeMs[0])));
    x.push_back(s.x[k]);
  }
  s.speed = static_cast<float>(ReleaseSpeed(t, x));
  return s.speed;
}

bool MouseFlickContinue(int lower, int upper, int start, std::vector<int>& positions, std::vector<double>& steps) {
  positions.clear();
  steps.clear();
  if (SlidingOff()) return false;
  return SlideMotion(MouseTrackVelocity(), lower, upper, start, MouseSliding().bouncing != 0, MouseSlide(),
                     positions, steps);
}

void WaitSlideStep(double seconds) {
  if (seconds > 0) platform::Clock().SleepMs(static_cast<std::uint64_t>(std::lround(seconds * 1000)));
}
