#pragma once
// Letting a dragged marker slide on after release: a short history of the
// pointer during the drag gives the release speed, and from that speed the
// whole remaining motion is computed at once as whole-pixel positions with
// the wait before each, so that playback only waits and moves.
#include <cstdint>
#include <vector>

// Mouse sliding (the menu's toggle) and bouncing at a limit.
struct MouseSlidingFlags {
  std::uint8_t slidingOff = 1;
  std::uint8_t bouncing = 1;
};
MouseSlidingFlags& MouseSliding();

struct MouseSlideState {
  static constexpr int kMaxSamples = 8;
  int count = 0;
  std::uint32_t timeMs[kMaxSamples] = {};
  int x[kMaxSamples] = {}, y[kMaxSamples] = {};
  float speed = 0;                // pixels per second, last computed
  double deceleration = -2000.0;  // pixels / s^2
  double bounceSpring = 20000.0;  // pixels / s^2 pull back to a touched limit
  double bounceLoss = 0.3;        // share of the speed lost at each bounce
  double timeStep = 0.005;        // seconds; in double so that whole-pixel steps come out exact
};
MouseSlideState& MouseSlide();

// Slope at the last sample of the least-squares parabola through (t, x),
// times in milliseconds; a straight line for two samples, 0 for fewer, for
// equal times, or when the last interval exceeds 0.3 s (the pointer stopped).
double ReleaseSpeed(const std::vector<double>& timeMs, const std::vector<double>& x);

// The slide from start at speed v (pixels/s) between lower and upper:
// positions[0] = start with steps[0] = 0, then each position with the time
// step leading to it. False (both empty) when nothing moves.
bool SlideMotion(double v, int lower, int upper, int start, bool bouncing, const MouseSlideState& s,
                 std::vector<int>& positions, std::vector<double>& steps);

// The drag-history calls; all do nothing (and give 0 / false) while
// sliding is off.
void MouseTrackReset();
void MouseTrackAdd(int x, int y);
float MouseTrackVelocity();
bool MouseFlickContinue(int lower, int upper, int start, std::vector<int>& positions, std::vector<double>& steps);

// Waits one step of a slide's playback on the program's clock.
void WaitSlideStep(double seconds);
