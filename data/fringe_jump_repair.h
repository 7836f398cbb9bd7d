#pragma once
// Whole-fringe jumps of interference scans, repaired by hand: the numbers
// behind the two pointer modes that move part of a scan by whole fringes.
//
// One scan: up to three jump points, each a radius r (cm), a side d and a
// shift s (fringes). A value at radius x gains s when d > 0 and x > r, or
// when d < 0 and x < r; the point at r itself and d = 0 shift nothing.
//
// All scans at one radius r0: per scan the residual just right of r0 + d
// and just left of r0 - d (d in cm); a step of more than half a fringe
// between them moves the scan's signal from that right point on by one
// fringe, whatever the size of the step.
//
// Arrays are one-based, as everywhere in the scan set.
#include <vector>

struct ScanSet;

struct FringeJumpPoint {
  double radius = 0;  // cm, 0 = not placed
  double side = -1.0;
  double shift = -1.0;  // fringes
};

// The shift the jump point adds at radius x (cm).
double FringeJumpShiftAt(const FringeJumpPoint& p, double x);

// The zoomed window of a scan of n points around the focus point: 41 points
// (fewer when the scan is shorter), starting 20 before the focus but never
// before point 1 or so late that it would run past point n.
constexpr int kFringeJumpWindowLength = 41;
int FringeJumpWindowStart(int focus, int n);
int FringeJumpWindowPoints(int n);

// The window shown while a jump point is placed, over points
// start..start + points - 1: data and residuals with their window means
// taken off, and the same with the current jump point applied.
struct FringeJumpWindow {
  int start = 1, points = 0;
  std::vector<float> radii, centredResiduals, correctedResiduals, centredData, correctedData;  // [1..points]
};
void ComputeFringeJumpWindow(const float* radii, const float* data, const float* residuals, int n, int focus,
                             const FringeJumpPoint& current, FringeJumpWindow& w);

// Adds the shifts of the jump points to values[1..n] at radii[1..n]; a
// point not placed yet (radius 0) takes no part.
void ApplyFringeJumpPoints(const float* radii, float* values, int n, const FringeJumpPoint* jumps, int count);

// ---- one radius, all scans

// "check residuals at distance (cm)", kept between runs; 0.003 at start.
double& RadiusJumpDistance();

struct RadiusJumpState {
  double position = 0;  // r0, cm
  int count = 0;        // scans; 0 while nothing is located
  // Per scan [1..count]: right index a (first point beyond r0 + d), left
  // index b (last point before r0 - d); 0 when the scan has no such point,
  // which leaves the scan out of the means and the repair.
  std::vector<int> right, left;
  std::vector<float> rightResidual, leftResidual, adjustedRight, leftCopy, scanNumber;
  float meanRight = 0, meanLeft = 0;
};

// Finds a and b of every scan for r0 and distance d (cm) and reads the
// residuals there. False (state left empty) without scans or residuals.
bool LocateRadiusJump(const ScanSet& s, double r0, double d, RadiusJumpState& state);
// Moves a and b of every scan by step points. A step that would take any
// index of a taking-part scan out of 1..points is refused (false).
bool MoveRadiusJump(const ScanSet& s, int step, RadiusJumpState& state);
// Moves each scan's signal from a on by one fringe where the residual step
// exceeds half a fringe: lowered when right > left + 0.5, raised when
// right < left - 0.5. Returns the number of scans changed.
int ApplyRadiusJump(ScanSet& s, const RadiusJumpState& state);
