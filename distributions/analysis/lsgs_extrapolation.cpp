#include "distributions/analysis/lsgs_extrapolation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "data/scan_grid.h"
#include "data/scan_set.h"
#include "distributions/analysis/boundary_integrals.h"
#include "distributions/analysis/extrapolation_plot.h"
#include "distributions/analysis/straight_line.h"
#include "distributions/conti_grid.h"
#include "distributions/conti_parameters.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/normal_equations.h"
#include "distributions/regularization_scaling.h"
#include "distributions/sharp_boundary.h"
#include "distributions/work_blocks.h"
#include "fit/amplitudes.h"
#include "fit/fit_engine_state.h"
#include "fit/lamm_scan_output.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/nelder_mead.h"
#include "fit/rmsd.h"
#include "numerics/ccurve.h"
#include "numerics/constants.h"
#include "numerics/random.h"
#include "numerics/statistics.h"
#include "platform/error_box.h"
#include "platform/input_events.h"
#include "platform/user_interface.h"

namespace {

constexpr const char* kCaption = "ls-g*(s) extrapolation";
constexpr float kSimplexTolerance = 0.0005f;
constexpr float kPerturbation = 0.01f;
constexpr float kRepeatThreshold = 0.001f;
// A refinement that keeps improving by more than the threshold stops here.
constexpr int kMostRepeats = 50;

void Line(int y, const std::string& text) {
  if (DistributionPlotHost* h = GetDistributionPlotHost()) h->DrawText(10, y, text);
}

// The curves of the groups' distributions in the distribution plot; they
// stay there until the next run rebuilds the plot.
std::vector<std::unique_ptr<CCurve>>& GroupCurves() {
  static auto* curves = new std::vector<std::unique_ptr<CCurve>>();
  return *curves;
}

std::vector<CCurve*> GroupCurvePointers() {
  std::vector<CCurve*> p;
  for (auto& c : GroupCurves()) p.push_back(c.get());
  return p;
}

// The scans of a group enter the normal equations only while it is solved.
struct GroupScope {
  GroupScope(int p1, int p2) {
    NeqInputs().groupFirst = p1;
    NeqInputs().groupLast = p2;
  }
  ~GroupScope() { NeqInputs().groupFirst = NeqInputs().groupLast = 0; }
};

bool PollStop() {
  FitEngineState& fs = gFitEngineState;
  if (KeyPressed()) fs.stopRequested = 1;
  if (platform::StopFlag().load()) fs.stopRequested = 1;
  return fs.stopRequested != 0;
}

double ScanTime(const ScanSet& s, int position) { return s.records[s.order[position]].timeRead; }

void ShowLsgsStatus() {
  const FitEngineState& fs = gFitEngineState;
  const ScanSet& s = CurrentScanSet();
  char text[200];
  std::snprintf(text, sizeof text, "s%d, step #%d                          ", fs.minimiserRuns,
                fs.evaluationsThisRun);
  Line(30, text);
  std::snprintf(text, sizeof text, "rmsd=%f (n=%.0f,SSR=%f)", fs.currentRmsd, fs.rmsdPointCount,
                RmsdSquareSum());
  Line(50, text);
  std::snprintf(text, sizeof text, "loccload = %.3f", Lsgs().loadingSignal);
  Line(110, text);
  std::vector<float*> data(s.signals), model(s.model);
  std::vector<int> order(s.order), first(s.firstFitPoint), last(s.lastFitPoint);
  std::snprintf(text, sizeof text, "Runs test Z (#stddev) = %.2f",
                RunsTestZ(data.data(), model.data(), 1, s.count, order.data(), first.data(), last.data()));
  Line(230, text);
}

void ShowSimplexStep() {
  FitEngineState& fs = gFitEngineState;
  char text[200];
  std::snprintf(text, sizeof text, "s%d, step #%d                                  ", fs.minimiserRuns,
                fs.evaluationsThisRun);
  ++fs.evaluationsThisRun;
  Line(30, text);
  std::snprintf(text, sizeof text, "rmsd=%f (n=%.0f,SSR=%f)", fs.currentRmsd, fs.rmsdPointCount,
                RmsdSquareSum());
  Line(50, text);
}

float LsgsFractionRmsd(float* vertex, FitHost*) {
  LsgsRunState& st = Lsgs();
  if (PollStop()) return 1e10f;
  st.refinement[st.currentFraction] = vertex[1];
  st.refinement[st.fractions + st.currentFraction] = vertex[2];
  const float rmsd = LsgsExtrapolatedModel(st.Slopes(), st.Intercepts());
  ShowSimplexStep();
  return rmsd;
}

// Vertices 2 and 3 around vertex 1, each coordinate perturbed by 1 %.
void Perturb(float** p) {
  for (int v = 2; v <= 3; ++v)
    for (int c = 1; c <= 2; ++c) p[v][c] = p[1][c] + GaussRandom(kPerturbation * p[1][c]);
}

int Best(const float* y) {
  int best = 1;
  for (int v = 2; v <= 3; ++v)
    if (y[v] < y[best]) best = v;
  return best;
}

// Checks that need no computation; the message says what is missing.
bool Refuse(const ScanSet& s, int groups, int groupSize) {
  char text[240];
  const ScanRecord& last = s.records[s.order[s.count]];
  if (!(last.rpm > 0.0f)) {
    platform::Tell(kCaption, "the rotor speed of the last scan is 0: no s-values can be calculated");
    return true;
  }
  double tMin = 0, tMax = 0;
  for (int i = 1; i <= s.count; ++i) {
    const double t = ScanTime(s, i);
    if (!(t > 0.0)) {
      std::snprintf(text, sizeof text, "scan %d has the time %g s: every scan needs a positive time", i, t);
      platform::Tell(kCaption, text);
      return true;
    }
    tMin = i == 1 ? t : std::min(tMin, t);
    tMax = i == 1 ? t : std::max(tMax, t);
  }
  if (groups < 2 || !(tMax > tMin)) {
    std::snprintf(text, sizeof text,
                  "the extrapolation needs at least two groups of %d scans taken at different times: "
                  "load more scans or take fewer scans per group",
                  groupSize);
    platform::Tell(kCaption, text);
    return true;
  }
  return false;
}

}  // namespace

LsgsRunState& Lsgs() {
  static LsgsRunState st;
  return st;
}

bool LsgsGroupDistribution(int p1, int p2, float* values) {
  if (PollStop()) return false;
  ScanSet& s = CurrentScanSet();
  LsgsRunState& st = Lsgs();
  const int n = st.gridPoints;
  SharpBoundaryState& sb = SharpBoundary();
  const double savedK = sb.k;
  for (int i = 1; i <= n; ++i) {
    sb.k = st.omega2 * st.sGrid[i] * 1e-13;
    for (int p = p1; p <= p2; ++p)
      ContiShapeModelCurve(1.0f, ScanTime(s, p), s.grid, KernelRow(i, s.order[p]), s.gridLength);
  }
  sb.k = savedK;
  {
    GroupScope group(p1, p2);
    const ContiSettings& cs = Conti();
    const int threads = cs.multipleThreads ? std::max(1, static_cast<int>(cs.normalEquationThreads)) : 0;
    platform::StopFlag() = false;
    const bool built = BuildNormalEquations(s, ChooseNoiseModel(NeqInputs()), threads);
    if (platform::StopFlag().load()) gFitEngineState.stopRequested = 1;
    if (!built) return false;
    ScaleRegularization();
  }
  if (PollStop()) return false;
  const double sCut = std::log(s.grid[s.lastGridPoint] / gModelParams.meniscus) * 1e13 / (st.omega2 * ScanTime(s, p1));
  const double* x = NeqBlock().solution;
  for (int i = 1; i <= n; ++i) values[i] = st.sGrid[i] > sCut ? 0.0f : static_cast<float>(x[i]);
  double sum = 0.0, area = 0.0;
  for (int i = 1; i <= n; ++i) sum += values[i];
  for (int i = 1; i < n; ++i) area += (st.sGrid[i + 1] - st.sGrid[i]) * (values[i] + values[i + 1]) / 2.0;
  // A group without any amplitude keeps its zeros.
  if (area > 0.0)
    for (int i = 1; i <= n; ++i) values[i] = static_cast<float>(values[i] * sum / area);
  return true;
}

float LsgsFractionPositions(int k) {
  LsgsRunState& st = Lsgs();
  const int n = st.gridPoints;
  const float* values = st.groupDistributions.data() + static_cast<size_t>(k - 1) * n - 1;
  const float* s = st.sGrid.data();
  const float total = IntegrateTrapezoid(s, values, s[1], s[n], n);
  st.groupUsable[k] = total > 0.0f;
  if (!st.groupUsable[k]) return 0.0f;
  for (int j = 1; j <= st.fractions; ++j)
    st.FractionS(k, j) = InverseCumulativeIntegral((j - 0.5f) * total / st.fractions, s, values, s[1], s[1], n);
  return total;
}

float LsgsExtrapolatedModel(const float* slopes, const float* intercepts) {
  ScanSet& s = CurrentScanSet();
  LsgsRunState& st = Lsgs();
  ModelParams& mp = gModelParams;
  ModelSelectorFlags& f = gModelSelectorFlags;
  const int N = st.fractions;
  const int last = s.lastGridPoint;
  const double m = mp.meniscus;
  const double L = st.loadingSignal;
  EnsureSpeciesCurves(1);
  // Every scan is modelled here, the first too, whatever start the last
  // evaluation simulated from.
  gFirstSimulatedScan = 1;
  std::vector<double> bump(static_cast<size_t>(s.gridLength) + 2);
  for (int j = 1; j <= s.count; ++j) {
    for (int p = 1; p <= s.points[j]; ++p) s.model[j][p] = 0.0f;
    float* curve = s.species[1].onGridPerScan[j];
    for (int r = 1; r <= s.gridLength; ++r) curve[r] = 0.0f;
    std::fill(bump.begin(), bump.end(), 0.0);
    const double t = s.records[j].timeRead;
    // A step of L/N, radially diluted, beyond each fraction's boundary:
    // summed as bumps at the first grid point past the boundary.
    for (int k = 1; k <= N; ++k) {
      const double x = st.omega2 * t * 1e-13 * (slopes[k] / std::sqrt(t) + intercepts[k]);
      const float rb = static_cast<float>(m * std::exp(x));
      const int r = static_cast<int>(std::upper_bound(s.grid + 1, s.grid + last + 1, rb) - s.grid);
      if (r <= last) bump[r] += std::exp(-2.0 * x) * L / N;
    }
    double level = 0.0;
    for (int r = 1; r <= last; ++r) {
      level += bump[r];
      curve[r] = static_cast<float>(level);
    }
  }
  const unsigned char distribution = f.DistributionModel, discrete = f.LammDiscreteModel;
  f.DistributionModel = 0;
  f.LammDiscreteModel = 1;
  mp.included[1] = 1;
  for (int k = 2; k <= kComponentSlots; ++k) mp.included[k] = 0;
  mp.concentration[1] = mp.scaleFactor[1] = static_cast<float>(L);
  if (gFitEngineState.fitTINoise) {
    mp.riNoiseFit ? SolveAmplitudesTI() : SolveAmplitudesTIUpdate();
  } else if (!mp.baselineFit) {
    SolveAmplitudesWithOffsets2();
  } else {
    mp.riNoiseFit ? SolveAmplitudes() : SolveAmplitudesWithOffsets();
  }
  st.loadingSignal = mp.concentration[1];
  gModelParameterVector.P[9] = Conti().resolution;
  gModelParameterVector.P[11] = static_cast<float>(N);
  f.DistributionModel = distribution;
  f.LammDiscreteModel = discrete;
  return CalcRmsd();
}

bool LsgsFitBoundaryFractions() {
  LsgsRunState& st = Lsgs();
  FitEngineState& fs = gFitEngineState;
  fs.evaluationsThisRun = fs.evaluationsTotal = fs.minimiserRuns = 0;
  ShowLsgsStatus();
  float vertices[4][3] = {};
  float* p[4] = {nullptr, vertices[1], vertices[2], vertices[3]};
  float y[4] = {};
  const int N = st.fractions;
  for (int sweep = 1; sweep <= 2; ++sweep) {
    for (int j = 1; j <= N; ++j) {
      st.currentFraction = j;
      p[1][1] = st.refinement[j];
      p[1][2] = st.refinement[N + j];
      float previous = 0.0f;
      for (int repeat = 0; repeat <= kMostRepeats; ++repeat) {
        if (repeat > 0 && fs.stopRequested) break;
        Perturb(p);
        for (int v = 3; v >= 1; --v) y[v] = LsgsFractionRmsd(p[v], nullptr);
        if (repeat == 0) {
          y[1] = LsgsFractionRmsd(p[1], nullptr);
          fs.stopRequested = 0;
        }
        int evaluations = 0;
        NelderMeadMinimize(nullptr, p, y, 2, kSimplexTolerance, LsgsFractionRmsd, &evaluations);
        ++fs.minimiserRuns;
        const int b = Best(y);
        if (b != 1) {
          std::copy(p[b] + 1, p[b] + 3, p[1] + 1);
          y[1] = y[b];
        }
        st.refinement[j] = p[1][1];
        st.refinement[N + j] = p[1][2];
        if (repeat > 0) {
          // No relative change can be formed from a previous value of 0.
          if (!(previous > 0.0f)) break;
          const float change = std::fabs(y[1] - previous) / previous;
          previous = y[1];
          if (!(change > kRepeatThreshold)) break;
        } else {
          previous = y[1];
        }
      }
    }
  }
  fs.stopRequested = 0;
  st.currentFraction = N;
  LsgsExtrapolatedModel(st.Slopes(), st.Intercepts());
  ShowLsgsStatus();
  return true;
}

bool RunLsgs() {
  FitEngineState& fs = gFitEngineState;
  fs.stopRequested = 0;
  ScanSet& s = CurrentScanSet();
  ModelParams& mp = gModelParams;
  if (s.count < 1) return false;
  if (mp.meniscus == 0.0f || mp.bottom == 0.0f) {
    platform::Tell("", "set Meniscus and Bottom first");
    return false;
  }
  SetUnsetFitLimits(mp.meniscus, mp.bottom);
  UnpackModelParameters();
  const LsgExtrapolationSettings& x = LsgExtrapolation();
  LsgsRunState& st = Lsgs();
  st = LsgsRunState{};
  const int S = s.count;
  const int g = std::max(x.scansPerGStar, 2);
  const bool sliding = !x.consecutiveGroups;
  const int G = sliding ? S - g + 1 : S / g;
  if (Refuse(s, G, g)) return false;
  const double w = s.records[s.order[S]].rpm * kOmegaPerRpm;
  st.omega2 = w * w;

  if (!SetupContiGrid()) return false;
  ContiSettings& cs = Conti();
  const int n = cs.gridSize;
  if (!WorkBlock().lammSolutions || !NeqBlock().block || n < 2) return false;
  LoadNeqInputsFromModel();
  GroupCurves().clear();
  st.groups = G;
  st.groupSize = g;
  st.gridPoints = n;
  st.fractions = std::clamp(x.vhwResolution, 1, n);
  st.sGrid.assign(cs.sValues, cs.sValues + n + 1);
  st.groupDistributions.assign(static_cast<size_t>(G) * n, 0.0f);
  st.groupTimes.assign(static_cast<size_t>(G) + 1, 0.0f);
  st.groupUsable.assign(static_cast<size_t>(G) + 1, 0);
  st.fractionS.assign(static_cast<size_t>(G) * st.fractions, 0.0f);
  st.refinement.assign(2 * static_cast<size_t>(st.fractions) + 1, 0.0f);

  double loading = 0.0;
  std::vector<float> values(static_cast<size_t>(n) + 1);
  for (int k = 1; k <= G; ++k) {
    if (fs.stopRequested) return false;
    const int p1 = sliding ? k : (k - 1) * g + 1;
    const int p2 = p1 + g - 1;
    double t = 0.0;
    for (int p = p1; p <= p2; ++p) t += ScanTime(s, p);
    st.groupTimes[k] = static_cast<float>(t / g);
    char text[80];
    std::snprintf(text, sizeof text, "ls-g*(s) of scans %d to %d          ", p1, p2);
    Line(30, text);
    if (!LsgsGroupDistribution(p1, p2, values.data()) || fs.stopRequested) return false;
    st.groupsDone = k;
    std::copy(values.begin() + 1, values.end(), st.groupDistributions.begin() + static_cast<long>(k - 1) * n);
    GroupCurves().push_back(std::make_unique<CCurve>(st.sGrid.data(), values.data(), n, 1, 1));
    RestyleDistributionPlot(0, 0, GroupCurvePointers());
    RedrawDistributionPlot();
    loading += LsgsFractionPositions(k);
  }

  // The lines through the groups that have a distribution.
  std::vector<int> used;
  for (int k = 1; k <= G; ++k)
    if (st.groupUsable[k]) used.push_back(k);
  std::vector<float> gx(used.size() + 1), gy(used.size() + 1), times(used.size() + 1);
  std::vector<float> usedS;
  for (size_t u = 0; u < used.size(); ++u) {
    times[u + 1] = st.groupTimes[used[u]];
    gx[u + 1] = 1.0f / std::sqrt(times[u + 1]);
  }
  bool distinct = false;
  for (size_t u = 1; u < used.size(); ++u) distinct = distinct || gx[u + 1] != gx[1];
  if (used.size() < 2 || !distinct) {
    platform::Tell(kCaption, "fewer than two groups of scans gave an ls-g*(s) distribution: nothing to extrapolate");
    return false;
  }
  st.loadingSignal = static_cast<float>(loading / used.size());
  for (int j = 1; j <= st.fractions; ++j) {
    for (size_t u = 0; u < used.size(); ++u) gy[u + 1] = st.FractionS(used[u], j);
    FitStraightLine(&st.Intercepts()[j], &st.Slopes()[j], gx.data(), gy.data(), static_cast<int>(used.size()));
  }

  for (int i = 1; i <= n; ++i) cs.sValues[i] = cs.distribution[i] = 0.0f;
  if (x.fitFractions)
    LsgsFitBoundaryFractions();
  else
    LsgsExtrapolatedModel(st.Slopes(), st.Intercepts());
  if (x.plotExtrapolation) {
    for (int k : used)
      for (int j = 1; j <= st.fractions; ++j) usedS.push_back(st.FractionS(k, j));
    ShowExtrapolationPlot(times.data(), usedS, static_cast<int>(used.size()), st.fractions, st.Intercepts(),
                          st.Slopes());
  }
  const int N = st.fractions;
  for (int j = 1; j <= n; ++j) {
    const int k = std::min(j, N);
    cs.sValues[j] = st.Intercepts()[k];
    cs.distribution[j] = k * st.loadingSignal / (N + 1);
  }
  FreeDistributionWorkArrays(WorkBlock().gridPoints);
  FreeNormalEquationBlock();
  cs.distributionShown = 1;
  RestyleDistributionPlot(6, 3, GroupCurvePointers());
  RedrawDistributionPlot();
  if (DistributionPlotHost* h = GetDistributionPlotHost()) h->RequestRepaint();
  return true;
}
