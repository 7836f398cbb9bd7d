#include "fit/error_surface.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "fit/simplex_restarts.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/fit_report.h"
#include "fit/fit_target.h"
#include "fit/fit_vector.h"
#include "fit/model_params.h"
#include "fit/nelder_mead.h"
#include "fit/rmsd.h"
#include "fit/simulation_switches.h"
#include "numerics/ccurve.h"
#include "numerics/matrix_files.h"
#include "platform/input_events.h"
#include "platform/user_interface.h"
#include "numerics/arrays.h"

namespace {

// Half-width of the band around the critical rmsd that ends a side.
constexpr float kRmsdBand = 1e-6f;
// A side whose step has shrunk below this fraction of the start value can
// no longer move the trial value in float precision.
constexpr float kSmallestRelativeStep = 1e-7f;

// The scanned parameter: its slot in P and its species-1 mirror.
struct ScannedParameter {
  int slot;
  float* value;
  int* flag;
};

void SetScanned(const ScannedParameter& sp, float x) {
  gModelParameterVector.P[sp.slot] = x;
  *sp.value = x;
}

// Everything a refit may move, so that a side can be undone completely.
struct ParameterSnapshot {
  ModelParameterVector vector = gModelParameterVector;
  ModelParams params = gModelParams;
  void Restore(const ScannedParameter& sp) const {
    gModelParameterVector = vector;
    gModelParams = params;
    gModelParameterVector.F[sp.slot] = 0;
    *sp.flag = 0;
  }
};

// One side of the scan from p0 in the direction of h.
ScanLimit ScanSide(FitHost* host, const ScannedParameter& sp, float p0, float h, float c) {
  ScanLimit limit;
  if (!(std::fabs(h) > 0.0f) || !std::isfinite(h)) return limit;
  const float smallest = kSmallestRelativeStep * std::max(1.0f, std::fabs(p0));
  SetScanned(sp, p0);
  float r = FitWithFixedParameters(host);
  int refits = 1;
  float x = p0 + h;
  float trial = p0;
  bool above = r > c - kRmsdBand;
  if (above) h = -0.5f * h;
  x += h;
  for (;;) {
    if (r == -1.0f) {
      limit.status = ScanLimitStatus::Stopped;
      return limit;
    }
    if (r == 0.0f) return limit;  // fit limits refused
    if (c - kRmsdBand < r && r < c + kRmsdBand) break;
    if (refits >= kMaxRefitsPerSide || std::fabs(h) < smallest) return limit;
    SetScanned(sp, x);
    trial = x;
    r = FitWithFixedParameters(host);
    ++refits;
    if (r == -1.0f) continue;
    // The step reverses and halves each time the rmsd crosses the band.
    if ((r < c + kRmsdBand && above) || (r > c + kRmsdBand && !above)) h = -0.5f * h;
    x += h;
    above = r > c - kRmsdBand;
  }
  // The trial value whose refit met the band, not the next trial value.
  limit.value = trial;
  limit.status = ScanLimitStatus::Found;
  return limit;
}

void ScanParameter(FitHost* host, const ScannedParameter& sp, float step, float c, ScanLimit* lower,
                   ScanLimit* upper) {
  // A stop ends both sides and the restoring evaluation; it, and the hold of
  // the keys it brings, end with the scan.
  const platform::StopStateScope stopState;
  gModelParameterVector.F[sp.slot] = 0;
  *sp.flag = 0;
  const ParameterSnapshot snapshot;
  const float p0 = gModelParameterVector.P[sp.slot];
  CalcRmsd();

  *upper = ScanSide(host, sp, p0, step, c);
  snapshot.Restore(sp);
  if (upper->status == ScanLimitStatus::Stopped) {
    lower->status = ScanLimitStatus::Stopped;
  } else {
    *lower = ScanSide(host, sp, p0, -step, c);
    snapshot.Restore(sp);
  }
  // The model arrays and the rmsd follow the restored parameters again.
  gFitEngineState.stopRequested = 0;
  if (host) host->SimulateModel();
  CalcRmsd();
}

}  // namespace

float FitWithFixedParameters(FitHost* host) {
  FitEngineState& fs = gFitEngineState;
  FitSolverBoxScope solverBoxes;
  if (fs.stopRequested) return -1.0f;
  fs.minimiserRuns = 0;
  if (!host || !CheckFitLimitsBeforeFit(host)) return 0.0f;
  fs.stopRequested = 0;
  fs.evaluationsThisRun = 0;
  ComposeFitInfoText(host);

  const int m = ParametersToFitVector(0, nullptr);
  if (m == 0) {
    host->SimulateModel();
    PollFitStop();
    return CalcRmsd();
  }

  FloatMat simplex(1, m + 1, 1, m);
  FloatVec y(1, m + 1);
  float** p = simplex;
  const int best = MinimizeWithRestarts(host, m, p, y, fs.maxRelativeChange).best;
  const float b = y[best];

  // Leave the model arrays at the best vertex even after a stop.
  const unsigned char stop = fs.stopRequested;
  fs.stopRequested = 0;
  SimplexSim(p[best], host);
  fs.stopRequested = stop;
  host->TmpSaveBestParams(0);
  return b;
}

void CalcErrorInS(FitHost* host, float step, float criticalRmsd, ScanLimit* lower, ScanLimit* upper) {
  ModelParams& mp = gModelParams;
  ScanParameter(host, {5, &mp.s[1], &mp.sFit[1]}, step, criticalRmsd, lower, upper);
}

void CalcErrorInM(FitHost* host, float step, float criticalRmsd, ScanLimit* lower, ScanLimit* upper) {
  ModelParams& mp = gModelParams;
  ScanParameter(host, {1, &mp.massOrD[1], &mp.massOrDFit[1]}, step, criticalRmsd, lower, upper);
}

// ---------------------------------------------------------------------------
// Rmsd maps

namespace {

constexpr int kProgressX = 350;
constexpr int kProgressLines = 15;
int gProgressLine = 0;

// Writes a value into P and into the copies that the model and the
// commands keep of it, and clears its fit flags.
struct MapParameter {
  int slot;
  float* copy1;
  float* copy2;
  int* flag1;
  int* flag2;
  void Fix() const {
    gModelParameterVector.F[slot] = 0;
    if (flag1) *flag1 = 0;
    if (flag2) *flag2 = 0;
  }
  void Set(float x) const {
    gModelParameterVector.P[slot] = x;
    if (copy1) *copy1 = x;
    if (copy2) *copy2 = x;
  }
};

// The common frame: a tightened convergence threshold and the evaluation's
// redraw switch off for the duration; both back, and the stop cleared (the
// platform's with it), at the end.
class MapFrame {
 public:
  MapFrame()
      : maxRelativeChange_(gFitEngineState.maxRelativeChange),
        redraw_(gSimulationSwitches.redrawDuringSimulation) {
    gFitEngineState.maxRelativeChange = 0.1f * maxRelativeChange_;
    gSimulationSwitches.redrawDuringSimulation = 0;
  }
  ~MapFrame() {
    gFitEngineState.maxRelativeChange = maxRelativeChange_;
    gSimulationSwitches.redrawDuringSimulation = redraw_;
    gFitEngineState.stopRequested = 0;
  }
  MapFrame(const MapFrame&) = delete;
  MapFrame& operator=(const MapFrame&) = delete;

 private:
  platform::StopStateScope stopState_;
  float maxRelativeChange_;
  unsigned char redraw_;
};

// Node table rows (x, y, rmsd), filled in the order of the walk.
class NodeTable {
 public:
  explicit NodeTable(int rows) : rows_(rows), m_(1, rows, 1, 3) {
    for (int i = 1; i <= rows; ++i) m_[i][1] = m_[i][2] = m_[i][3] = 0.0f;
  }
  bool Full() const { return filled_ >= rows_; }
  int Filled() const { return filled_; }
  int Rows() const { return rows_; }
  float** Data() { return m_; }
  void Add(float x, float y, float rmsd) {
    ++filled_;
    m_[filled_][1] = x;
    m_[filled_][2] = y;
    m_[filled_][3] = rmsd;
  }

 private:
  int rows_;
  int filled_ = 0;
  FloatMat m_;
};

float NodeValue(const ContourAxis& a, int i) { return a.from + static_cast<float>(i) * a.step; }

// Nearest node index of a value, inside the axis.
int NodeIndex(const ContourAxis& a, int count, float value) {
  const int i = static_cast<int>(std::lround((value - a.from) / a.step));
  return std::clamp(i, 0, count - 1);
}

struct TwoParameterMap {
  FitHost* host;
  MapParameter px, py;
  ContourAxis ax, ay;
  int cx, cy;
  NodeTable table;

  float Visit(int ix, int iy) {
    const float x = NodeValue(ax, ix), y = NodeValue(ay, iy);
    px.Set(x);
    py.Set(y);
    const float r = FitWithFixedParameters(host);
    table.Add(x, y, r);
    ShowContourProgress(host, x, y, r, table.Filled());
    return r;
  }

  // Every node, by node index: the start column from the start y upwards,
  // then whole columns alternately down and up.
  void Raster(int ix, int iy) {
    int dy = 1;
    for (; ix < cx; ++ix) {
      for (; iy >= 0 && iy < cy && !table.Full(); iy += dy) Visit(ix, iy);
      dy = -dy;
      iy += dy;
    }
  }

  // Follows the boundary of the region below the level from the start node.
  void Trace(int ix, int iy, float level) {
    int dx = 1, dy = 1;
    bool turnPending = false, sweepTurned = false, entered = false, crossed = false, xReversed = false;
    int ixIn = -1;
    float r = Visit(ix, iy);
    bool outside = r > level;
    if (!outside) entered = true;
    float previous = r;
    int lastIy = iy;
    // Each pass either visits a node or moves a column; the bound only
    // guards against a walk that stalls between the two.
    for (long guard = 4L * (table.Rows() + cx + cy); guard > 0 && ix >= 0 && ix < cx; --guard) {
      if ((table.Filled() > 1 && ix == 0 && iy == 0) || table.Full()) break;
      while (iy >= 0 && iy < cy && !table.Full()) {
        const bool sameY = iy == lastIy;
        r = Visit(ix, iy);
        lastIy = iy;
        const bool increasing = r > previous;
        previous = r;
        if (r < level) {
          crossed = outside;
          outside = false;
          ixIn = ix;
          entered = true;
        } else {
          crossed = !outside;
          outside = true;
        }
        if (turnPending || sweepTurned) {
          turnPending = sweepTurned = false;
          if (crossed) {
            if (sameY) {
              ix -= dx;
              dy = -dy;
              iy += dy;
            } else {
              iy -= dy;
            }
            turnPending = true;
            break;
          }
          iy += dy;
        } else if ((outside && ix == ixIn && increasing) || (!outside && !increasing)) {
          dy = -dy;
          turnPending = true;
          break;
        } else {
          iy += dy;
        }
      }
      if (ix != ixIn && entered && !crossed) {
        if (xReversed) break;
        ix = ixIn;
        dx = -dx;
        xReversed = true;
        ix -= dx;
      }
      ix += dx;
      if (!turnPending) {
        dy = -dy;
        sweepTurned = true;
      }
      if (iy < 0 || iy >= cy) iy += dy;
    }
  }
};

// Linear crossings of the level between consecutive nodes; nodes of a
// stopped map (rmsd -1) are no evidence of either side.
void WriteBoundary(FitHost* host, NodeTable& table, float level, const char* fileName) {
  float** m = table.Data();
  std::vector<float> xs(1, 0.0f), ys(1, 0.0f);
  for (int i = 1; i < table.Filled(); ++i) {
    const float r0 = m[i][3], r1 = m[i + 1][3];
    if (r0 == -1.0f || r1 == -1.0f) continue;
    if ((r0 < level) == (r1 < level)) continue;
    const float t = (level - r0) / (r1 - r0);
    xs.push_back(m[i][1] + t * (m[i + 1][1] - m[i][1]));
    ys.push_back(m[i][2] + t * (m[i + 1][2] - m[i][2]));
  }
  const int n = static_cast<int>(xs.size()) - 1;
  if (n == 0) {
    WriteXYArrays(fileName, 0, xs.data(), ys.data());  // a failure is said by the writer
    if (host) host->MessageBox("", "the rmsd map found no crossing of the contour level");
    return;
  }
  xs.push_back(xs[1]);
  ys.push_back(ys[1]);
  CCurve(xs.data(), ys.data(), n + 1, 1, 1).WriteToFile(fileName);
}

bool TwoParameterContour(FitHost* host, const char* fileName, const MapParameter& px, const MapParameter& py,
                         const ContourAxis& ax, const ContourAxis& ay, float level, float startX, float startY) {
  const int cx = ContourNodeCount(ax.from, ax.to, ax.step);
  const int cy = ContourNodeCount(ay.from, ay.to, ay.step);
  if (cx < 1 || cy < 1) return false;
  MapFrame frame;
  px.Fix();
  py.Fix();
  TwoParameterMap map{host, px, py, ax, ay, cx, cy, NodeTable(cx * cy)};
  const int ix = NodeIndex(ax, cx, startX), iy = NodeIndex(ay, cy, startY);
  if (level == 0.0f) {
    map.Raster(ix, iy);
    WriteMatrixFileT(map.table.Data(), 1, map.table.Rows(), 1, 3, fileName);
  } else {
    map.Trace(ix, iy, level);
    WriteBoundary(host, map.table, level, fileName);
  }
  return true;
}

}  // namespace

int ContourNodeCount(float from, float to, float step) {
  if (step == 0.0f) return to == from ? 1 : 0;
  const double count = std::floor((static_cast<double>(to) - from) / step + 1e-5) + 1.0;
  return count < 1.0 ? 0 : static_cast<int>(std::min(count, 1e7));
}

void ShowContourProgress(FitHost* host, float a, float b, float rmsd, int node) {
  char text[200];
  std::snprintf(text, sizeof text, "%d: (%.2f , %.2f) %f", node, a, b, rmsd);
  if (++gProgressLine > kProgressLines) gProgressLine = 1;
  if (host) host->DrawText(kProgressX, 10 + 20 * gProgressLine, text);
  // The status line keeps the progress where nothing is drawn (headless runs).
  platform::UI().StatusText(text);
}

bool ContourSM(FitHost* host, const char* fileName, ContourAxis s, ContourAxis m, float level, float startS,
               float startM) {
  ModelParams& mp = gModelParams;
  return TwoParameterContour(host, fileName, {5, &mp.s[1], nullptr, &mp.sFit[1], nullptr},
                             {1, &mp.massOrD[1], nullptr, &mp.massOrDFit[1], nullptr}, s, m, level, startS, startM);
}

bool ContourS1S2(FitHost* host, const char* fileName, ContourAxis s1, ContourAxis s2, float level, float startS1,
                 float startS2) {
  ModelParams& mp = gModelParams;
  return TwoParameterContour(host, fileName, {5, &mp.s[1], &mp.storedS1, &mp.sFit[1], &mp.storedS1Fit},
                             {6, &mp.s[2], &mp.storedS2, &mp.sFit[2], &mp.storedS2Fit}, s1, s2, level, startS1,
                             startS2);
}

bool ContourLogK(FitHost* host, const char* fileName, ContourAxis logK) {
  const int count = ContourNodeCount(logK.from, logK.to, logK.step);
  if (count < 1) return false;
  ModelParams& mp = gModelParams;
  const MapParameter k{3, &mp.storedLogK, nullptr, &mp.storedLogKFit, nullptr};
  MapFrame frame;
  k.Fix();
  FloatMat table(1, count, 1, 2);
  for (int i = 1; i <= count; ++i) {
    const float x = NodeValue(logK, i - 1);
    k.Set(x);
    table[i][1] = x;
    table[i][2] = FitWithFixedParameters(host);
    ShowContourProgress(host, x, 0.0f, table[i][2], i);
  }
  WriteMatrixFileT(table, 1, count, 1, 2, fileName);
  return true;
}
