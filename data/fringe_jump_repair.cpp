#include "data/fringe_jump_repair.h"

#include <algorithm>

#include "data/scan_set.h"

double FringeJumpShiftAt(const FringeJumpPoint& p, double x) {
  if ((p.side > 0 && x > p.radius) || (p.side < 0 && x < p.radius)) return p.shift;
  return 0;
}

int FringeJumpWindowPoints(int n) { return std::max(0, std::min(kFringeJumpWindowLength, n)); }

int FringeJumpWindowStart(int focus, int n) {
  // Clamped at both ends: a focus near the last point, or a scan shorter
  // than the window, must not read past the scan's arrays.
  const int last = std::max(1, n - (kFringeJumpWindowLength - 1));
  return std::clamp(focus - (kFringeJumpWindowLength - 1) / 2, 1, last);
}

void ComputeFringeJumpWindow(const float* radii, const float* data, const float* residuals, int n, int focus,
                             const FringeJumpPoint& current, FringeJumpWindow& w) {
  w.start = FringeJumpWindowStart(focus, n);
  w.points = FringeJumpWindowPoints(n);
  const std::size_t size = static_cast<std::size_t>(w.points) + 1;
  for (auto* v : {&w.radii, &w.centredResiduals, &w.correctedResiduals, &w.centredData, &w.correctedData})
    v->assign(size, 0.0f);
  if (w.points == 0) return;
  double residualSum = 0, dataSum = 0;
  for (int j = 0; j < w.points; ++j) {
    residualSum += residuals ? residuals[w.start + j] : 0.0f;
    dataSum += data[w.start + j];
  }
  const double residualMean = residualSum / w.points, dataMean = dataSum / w.points;
  for (int j = 1; j <= w.points; ++j) {
    const int k = w.start + j - 1;
    const double r = radii[k];
    const double shift = FringeJumpShiftAt(current, r);
    const double residual = (residuals ? residuals[k] : 0.0f) - residualMean;
    const double value = data[k] - dataMean;
    w.radii[j] = radii[k];
    w.centredResiduals[j] = static_cast<float>(residual);
    w.centredData[j] = static_cast<float>(value);
    w.correctedResiduals[j] = static_cast<float>(residual + shift);
    w.correctedData[j] = static_cast<float>(value + shift);
  }
}

void ApplyFringeJumpPoints(const float* radii, float* values, int n, const FringeJumpPoint* jumps, int count) {
  if (!values) return;
  for (int k = 0; k < count; ++k) {
    if (jumps[k].radius <= 0) continue;
    for (int j = 1; j <= n; ++j) values[j] = static_cast<float>(values[j] + FringeJumpShiftAt(jumps[k], radii[j]));
  }
}

// ---- one radius, all scans

double& RadiusJumpDistance() {
  static double distance = 0.003;
  return distance;
}

namespace {

// Residuals at the located indices, the means over the taking-part scans,
// and the display copy with a one-fringe step taken out.
void ReadRadiusJumpResiduals(const ScanSet& s, RadiusJumpState& st) {
  double sumRight = 0, sumLeft = 0;
  int used = 0;
  for (int i = 1; i <= st.count; ++i) {
    st.scanNumber[i] = static_cast<float>(i);
    const bool part = st.right[i] > 0 && st.left[i] > 0;
    const float right = part ? s.residuals[i][st.right[i]] : 0.0f;
    const float left = part ? s.residuals[i][st.left[i]] : 0.0f;
    st.rightResidual[i] = right;
    st.leftResidual[i] = left;
    st.leftCopy[i] = left;
    float adjusted = right;
    if (static_cast<double>(right) > left + 0.5)
      adjusted = right - 1.0f;
    else if (static_cast<double>(right) < left - 0.5)
      adjusted = right + 1.0f;
    st.adjustedRight[i] = adjusted;
    if (part) {
      sumRight += right;
      sumLeft += left;
      ++used;
    }
  }
  st.meanRight = used ? static_cast<float>(sumRight / used) : 0.0f;
  st.meanLeft = used ? static_cast<float>(sumLeft / used) : 0.0f;
}

}  // namespace

bool LocateRadiusJump(const ScanSet& s, double r0, double d, RadiusJumpState& st) {
  st = RadiusJumpState{};
  if (s.count <= 0) return false;
  for (int i = 1; i <= s.count; ++i)
    if (!s.residuals[i] || !s.radii[i]) return false;
  const std::size_t size = static_cast<std::size_t>(s.count) + 1;
  st.position = r0;
  st.count = s.count;
  st.right.assign(size, 0);
  st.left.assign(size, 0);
  for (auto* v : {&st.rightResidual, &st.leftResidual, &st.adjustedRight, &st.leftCopy, &st.scanNumber})
    v->assign(size, 0.0f);
  for (int i = 1; i <= s.count; ++i) {
    const int n = s.points[i];
    const float* r = s.radii[i];
    for (int j = 1; j <= n; ++j)
      if (r[j] > r0 + d) {
        st.right[i] = j;
        break;
      }
    for (int j = n; j >= 1; --j)
      if (r[j] < r0 - d) {
        st.left[i] = j;
        break;
      }
    // A scan that lacks either side stays out entirely.
    if (!st.right[i] || !st.left[i]) st.right[i] = st.left[i] = 0;
  }
  ReadRadiusJumpResiduals(s, st);
  return true;
}

bool MoveRadiusJump(const ScanSet& s, int step, RadiusJumpState& st) {
  if (st.count <= 0 || st.count > s.count) return false;
  for (int i = 1; i <= st.count; ++i) {
    if (!st.right[i]) continue;
    const int n = s.points[i];
    const int a = st.right[i] + step, b = st.left[i] + step;
    if (a < 1 || a > n || b < 1 || b > n) return false;
  }
  for (int i = 1; i <= st.count; ++i) {
    if (!st.right[i]) continue;
    st.right[i] += step;
    st.left[i] += step;
  }
  ReadRadiusJumpResiduals(s, st);
  return true;
}

int ApplyRadiusJump(ScanSet& s, const RadiusJumpState& st) {
  int changed = 0;
  for (int i = 1; i <= std::min(st.count, s.count); ++i) {
    if (!st.right[i]) continue;
    const double left = st.leftResidual[i], right = st.rightResidual[i];
    float delta = 0;
    if (left + 0.5 < right)
      delta = -1.0f;
    else if (left - 0.5 > right)
      delta = 1.0f;
    if (delta == 0) continue;
    for (int j = st.right[i]; j <= s.points[i]; ++j) s.signals[i][j] += delta;
    ++changed;
  }
  return changed;
}
