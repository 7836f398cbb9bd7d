#include "distributions/monte_carlo.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <utility>

#include "data/scan_set.h"
#include "distributions/conti_context.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/integrate_distribution.h"
#include "distributions/neq_threads.h"
#include "distributions/work_blocks.h"
#include "fit/model_selector.h"
#include "fit/serial_fit_settings.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "platform/error_box.h"
#include "platform/paths.h"
#include "platform/user_interface.h"

MonteCarloState& MonteCarlo() {
  static MonteCarloState state;
  return state;
}

MonteCarloDisplayHooks& MonteCarloDisplay() {
  static MonteCarloDisplayHooks hooks;
  return hooks;
}

namespace {

bool TwoDimensional() { return gModelSelectorFlags.AnyCsff0Model(); }

// c as the decimal number it was typed as: the nearest float to 0.68 lies
// just above it, which would put n (1 - c)/2 just below a whole number.
double DecimalLevel(float c) { return std::round(static_cast<double>(c) * 1e6) / 1e6; }

std::string StemFor(double permille) {
  char stem[32];
  std::snprintf(stem, sizeof stem, "lim%3.0f", permille);
  return stem;
}

}  // namespace

// ---- selection and limits -----------------------------------------------------

float monte_carlo::select(int k, int n, float* arr) {
  // Partition around the median of first, middle and last, which also act
  // as sentinels of the inner scans.
  int l = 1, ir = n;
  for (;;) {
    if (ir <= l + 1) {
      if (ir == l + 1 && arr[ir] < arr[l]) std::swap(arr[l], arr[ir]);
      return arr[k];
    }
    const int mid = (l + ir) >> 1;
    std::swap(arr[mid], arr[l + 1]);
    if (arr[l] > arr[ir]) std::swap(arr[l], arr[ir]);
    if (arr[l + 1] > arr[ir]) std::swap(arr[l + 1], arr[ir]);
    if (arr[l] > arr[l + 1]) std::swap(arr[l], arr[l + 1]);
    int i = l + 1, j = ir;
    const float a = arr[l + 1];
    for (;;) {
      do ++i; while (arr[i] < a);
      do --j; while (arr[j] > a);
      if (j < i) break;
      std::swap(arr[i], arr[j]);
    }
    arr[l + 1] = arr[j];
    arr[j] = a;
    if (j >= k) ir = j - 1;
    if (j <= k) l = i;
  }
}

void MonteCarloLimitIndices(int n, float c, int* lower, int* upper) {
  const double level = DecimalLevel(c);
  const double tail = (1.0 - level) / 2.0;
  // The small allowance keeps products such as 100 x 0.16 from falling just
  // below the whole number in binary arithmetic.
  int lo = static_cast<int>(std::floor(n * tail + 1e-9));
  int hi = static_cast<int>(std::floor(n * (tail + level) + 1e-9));
  *lower = std::clamp(lo, 1, std::max(n, 1));
  *upper = std::clamp(hi, 1, std::max(n, 1));
}

std::string MonteCarloUpperStem(float c) {
  const double level = DecimalLevel(c);
  return StemFor(((1.0 - level) / 2.0 + level) * 1000.0);
}

std::string MonteCarloLowerStem(float c) {
  return StemFor((1.0 - DecimalLevel(c)) / 2.0 * 1000.0);
}

// ---- arrays ---------------------------------------------------------------------

bool AllocMonteCarloArrays(int n) {
  FreeMonteCarloArrays();
  MonteCarloState& mc = MonteCarlo();
  const ContiSettings& cs = Conti();
  mc.twoDimensional = TwoDimensional();
  mc.sPoints = cs.gridSize;
  mc.G = mc.twoDimensional ? cs.grid2DSize : cs.gridSize;
  if (n < 1 || mc.G < 1 || mc.sPoints < 1) return false;
  try {
    mc.rows.assign(static_cast<size_t>(mc.G + 1) * (n + 6), 0.0f);
    if (mc.twoDimensional) mc.marginals.assign(static_cast<size_t>(n + 6) * (mc.sPoints + 1), 0.0f);
    mc.mean.assign(static_cast<size_t>(mc.sPoints) + 1, 0.0f);
    mc.lower.assign(static_cast<size_t>(mc.sPoints) + 1, 0.0f);
    mc.upper.assign(static_cast<size_t>(mc.sPoints) + 1, 0.0f);
  } catch (const std::bad_alloc&) {
    FreeMonteCarloArrays();
    return false;
  }
  mc.n = n;
  return true;
}

void FreeMonteCarloArrays() {
  MonteCarloState& mc = MonteCarlo();
  std::vector<float>().swap(mc.rows);
  std::vector<float>().swap(mc.marginals);
  std::vector<float>().swap(mc.mean);
  std::vector<float>().swap(mc.lower);
  std::vector<float>().swap(mc.upper);
  mc.n = 0;
}

bool AllocMonteCarloModelCopy() {
  MonteCarloState& mc = MonteCarlo();
  const ScanSet& s = CurrentScanSet();
  try {
    mc.modelCopy.assign(static_cast<size_t>(s.count) + 1, std::vector<float>());
    for (int j = 1; j <= s.count; ++j) mc.modelCopy[j].assign(static_cast<size_t>(s.points[j]) + 1, 0.0f);
  } catch (const std::bad_alloc&) {
    FreeMonteCarloModelCopy();
    return false;
  }
  return true;
}

void FreeMonteCarloModelCopy() { std::vector<std::vector<float>>().swap(MonteCarlo().modelCopy); }

void CreateMonteCarloLimitCurves() {
  FreeMonteCarloLimitCurves();
  MonteCarloState& mc = MonteCarlo();
  const ContiSettings& cs = Conti();
  const int n = std::min(mc.sPoints, cs.gridSize);
  mc.xView = new CVector();
  mc.upperView = new CVector();
  mc.lowerView = new CVector();
  if (n > 0 && cs.sValues && !mc.upper.empty()) {
    mc.xView->Attach(cs.sValues, n, 1);
    mc.upperView->Attach(mc.upper.data(), n, 1);
    mc.lowerView->Attach(mc.lower.data(), n, 1);
  }
  mc.upperCurve = new CCurve(mc.xView, mc.upperView);
  mc.lowerCurve = new CCurve(mc.xView, mc.lowerView);
  mc.curvesExist = true;
}

void FreeMonteCarloLimitCurves() {
  MonteCarloState& mc = MonteCarlo();
  if (mc.curvesAdded && !SerialFitRunning() && MonteCarloDisplay().removeLimitCurves)
    MonteCarloDisplay().removeLimitCurves();
  mc.curvesAdded = false;
  delete mc.upperCurve;
  delete mc.lowerCurve;
  delete mc.upperView;
  delete mc.lowerView;
  delete mc.xView;
  mc.upperCurve = mc.lowerCurve = nullptr;
  mc.upperView = mc.lowerView = mc.xView = nullptr;
  mc.curvesExist = false;
}

// ---- limits, statistics and files ----------------------------------------------

namespace {

std::string ResultPath(const std::string& stem) { return MonteCarlo().folder + stem + ".dat"; }

// Writes the distribution curve of Conti() (x = s grid) under the stem;
// false (said by the writer) when the file could not be written.
bool WriteDistributionCurve(const std::string& stem) {
  const ContiSettings& cs = Conti();
  if (!cs.sValues || !cs.distribution || cs.gridSize < 1) return true;
  CVector x, y;
  x.Attach(cs.sValues, cs.gridSize, 1);
  y.Attach(cs.distribution, cs.gridSize, 1);
  CCurve curve(&x, &y);
  return curve.WriteToFile(ResultPath(stem).c_str());
}

}  // namespace

void MonteCarloDistributionLimits(float c) {
  MonteCarloState& mc = MonteCarlo();
  ContiSettings& cs = Conti();
  const int n = mc.n;
  if (n < 1 || mc.rows.empty() || !cs.distribution) return;
  int lo = 1, hi = n;
  MonteCarloLimitIndices(n, c, &lo, &hi);
  std::vector<float> v(static_cast<size_t>(n) + 1);
  const int points = std::min(mc.sPoints, cs.gridSize);
  for (int i = 1; i <= points; ++i) {
    double sum = 0.0;
    for (int k = 1; k <= n; ++k) {
      v[k] = mc.twoDimensional ? mc.Marginal(k)[i] : mc.Row(k)[i];
      sum += v[k];
    }
    mc.mean[i] = static_cast<float>(sum / n);
    mc.lower[i] = monte_carlo::select(lo, n, v.data());
    mc.upper[i] = monte_carlo::select(hi, n, v.data());
  }
  // A write that failed was said; the next ones (the same folder, the same
  // full disk) are not tried, so that the failure is said once.
  bool writing = true;
  for (int i = 1; i <= points; ++i) cs.distribution[i] = mc.upper[i];
  writing = WriteDistributionCurve(MonteCarloUpperStem(c));
  for (int i = 1; i <= points; ++i) cs.distribution[i] = mc.lower[i];
  writing = writing && WriteDistributionCurve(MonteCarloLowerStem(c));
  for (int i = 1; i <= points; ++i) cs.distribution[i] = mc.mean[i];
  if (writing) WriteDistributionCurve("mean");
  RedrawDistributionPlot();
}

MonteCarloSwResult MonteCarloSwStatistics(float sMin, float sMax, float c) {
  MonteCarloState& mc = MonteCarlo();
  ContiSettings& cs = Conti();
  MonteCarloSwResult r;
  const int n = mc.n;
  if (n < 1 || mc.rows.empty() || !cs.distribution) return r;
  const int points = std::min(mc.sPoints, cs.gridSize);
  std::vector<float> signal(1), sw(1);
  for (int k = 1; k <= n; ++k) {
    const float* row = mc.twoDimensional ? mc.Marginal(k) : mc.Row(k);
    for (int i = 1; i <= points; ++i) cs.distribution[i] = row[i];
    float area = 0, mean = 0, total = 0;
    IntegrateDistribution(sMin, sMax, &area, &mean, &total);
    signal.push_back(area);
    if (area > 0.0f) sw.push_back(mean);
  }
  auto stats = [c](std::vector<float>& v, float* mean, float* sd, float* lower, float* upper) {
    const int count = static_cast<int>(v.size()) - 1;
    double sum = 0.0;
    for (int i = 1; i <= count; ++i) sum += v[i];
    const double m = sum / count;
    double q = 0.0;
    for (int i = 1; i <= count; ++i) q += (v[i] - m) * (v[i] - m);
    *mean = static_cast<float>(m);
    *sd = static_cast<float>(std::sqrt(q / count));
    int lo = 1, hi = count;
    MonteCarloLimitIndices(count, c, &lo, &hi);
    *lower = monte_carlo::select(lo, count, v.data());
    *upper = monte_carlo::select(hi, count, v.data());
  };
  r.signalCount = n;
  r.swCount = static_cast<int>(sw.size()) - 1;
  if (r.swCount > 0) stats(sw, &r.meanSw, &r.sdSw, &r.lowerSw, &r.upperSw);
  stats(signal, &r.meanC, &r.sdC, &r.lowerC, &r.upperC);
  if (!SerialFitRunning()) {
    char text[600];
    std::snprintf(text, sizeof text,
                  "average sw = %.6f\n %.3f %% confidence interval from %.6f to %.6f\navg error = "
                  "%.6f\n(simple stddev of all values = %.6f, assuming Gaussian distributed "
                  "error)\naverage c = %.4f, confidence interval from %.6f to %.6f",
                  r.meanSw, 100.0 * c, r.lowerSw, r.upperSw, (r.upperSw - r.lowerSw) / 2.0, r.sdSw,
                  r.meanC, r.lowerC, r.upperC);
    platform::Tell("Monte Carlo for Distributions", text);
  } else {
    SerialFitSettings& sf = gSerialFitSettings;
    sf.mcMeanSw = r.meanSw;
    sf.mcSdSw = r.sdSw;
    sf.mcLowerSw = r.lowerSw;
    sf.mcUpperSw = r.upperSw;
    sf.mcMeanC = r.meanC;
    sf.mcSdC = r.sdC;
    sf.mcLowerC = r.lowerC;
    sf.mcUpperC = r.upperC;
  }
  return r;
}

bool SaveMonteCarloTable(const std::string& fileName) {
  const ContiSettings& cs = Conti();
  // Whole or not at all: a full disk keeps the table written before.
  platform::CheckedOutputFile file(fileName);
  FILE* f = file.get();
  if (!f) {
    const std::string text = "\n\x07" "Attention: could not open " + fileName;
    ErrorBox(text.c_str(), false);
    return false;
  }
  if (cs.grid2DS && cs.grid2DM && cs.grid2DFf && cs.grid2DD && cs.grid2DStokes &&
      cs.grid2DAmplitude)
    for (int i = 1; i <= cs.grid2DSize; ++i)
      std::fprintf(f, "%e %e %e %e %e %e\n", cs.grid2DS[i], cs.grid2DM[i], cs.grid2DFf[i],
                   cs.grid2DD[i], cs.grid2DStokes[i], cs.grid2DAmplitude[i]);
  if (!file.Commit()) {
    const std::string text = "\n\x07" "Attention: could not write " + fileName;
    ErrorBox(text.c_str(), false);
    return false;
  }
  return true;
}

// ---- right-hand sides -----------------------------------------------------------

namespace {

// The synthetic data y(j, r) on the fitted points, less a fixed component
// (kernel 1) or the fixed baseline, centred by the noise model into
// mc.centred (scan-major over the fit range). Returns S = sum y~^2.
double CentreData(NoiseModel model, int offset) {
  MonteCarloState& mc = MonteCarlo();
  const ScanSet& s = CurrentScanSet();
  const int first = s.firstGridPoint, last = s.lastGridPoint, P = last - first + 1, M = s.count;
  mc.centred.assign(static_cast<size_t>(P) * M, 0.0);
  const double baseline = model == NoiseModel::Plain ? NeqInputs().baselineValue : 0.0;
  float*** kernels = WorkBlock().lammSolutions;
  for (int j = 1; j <= M; ++j) {
    double* out = mc.centred.data() + static_cast<size_t>(j - 1) * P - first;
    for (int r = first; r <= last; ++r) {
      double y = s.gridSignals[j][r] - baseline;
      if (offset) y -= kernels[1][j][r];
      out[r] = y;
    }
  }
  std::vector<double> scan(static_cast<size_t>(M) + 1, 0.0), radial(static_cast<size_t>(P), 0.0);
  double overall = 0.0;
  for (int j = 1; j <= M; ++j) {
    const double* row = mc.centred.data() + static_cast<size_t>(j - 1) * P;
    for (int q = 0; q < P; ++q) {
      scan[j] += row[q];
      radial[q] += row[q];
    }
    overall += scan[j];
    scan[j] /= P;
  }
  for (double& v : radial) v /= M;
  overall /= static_cast<double>(P) * M;
  double squares = 0.0;
  for (int j = 1; j <= M; ++j) {
    double* row = mc.centred.data() + static_cast<size_t>(j - 1) * P;
    for (int q = 0; q < P; ++q) {
      double y = row[q];
      switch (model) {
        case NoiseModel::Baseline: y -= overall; break;
        case NoiseModel::TI: y -= radial[q]; break;
        case NoiseModel::RI: y -= scan[j]; break;
        case NoiseModel::TIRI: y = y - radial[q] - scan[j] + overall; break;
        default: break;
      }
      row[q] = y;
      squares += y * y;
    }
  }
  return squares;
}

// b[i] = a_{i+offset}' y~ over the fitted points, for the amplitudes i of
// one worker's slice (i = t, t + T, ...).
void SumRhsSlice(int t, int threads, int nsys, int offset) {
  const MonteCarloState& mc = MonteCarlo();
  const ScanSet& s = CurrentScanSet();
  NormalEquationBlock& b = NeqBlock();
  const int first = s.firstGridPoint, last = s.lastGridPoint, P = last - first + 1;
  float*** kernels = WorkBlock().lammSolutions;
  for (int i = t; i <= nsys; i += threads) {
    double sum = 0.0;
    for (int j = 1; j <= s.count; ++j) {
      const float* a = kernels[i + offset][j];
      const double* y = mc.centred.data() + static_cast<size_t>(j - 1) * P - first;
      double acc[4] = {0, 0, 0, 0};
      int r = first;
      for (; r + 3 <= last; r += 4)
        for (int l = 0; l < 4; ++l) acc[l] += a[r + l] * y[r + l];
      double part = (acc[0] + acc[2]) + (acc[1] + acc[3]);
      for (; r <= last; ++r) part += a[r] * y[r];
      sum += part;
    }
    b.rhs[i] = sum;
  }
}

}  // namespace

void MonteCarloRhs(NoiseModel model, int threads) {
  const ScanSet& s = CurrentScanSet();
  NormalEquationBlock& b = NeqBlock();
  if (!b.block || !WorkBlock().lammSolutions || s.count < 1 || s.firstGridPoint < 1 ||
      s.lastGridPoint < s.firstGridPoint)
    return;
  // A fixed buffer component keeps its place as kernel 1 outside the system.
  const int offset = b.fixedComponent ? 1 : 0;
  const int nsys = b.gridPoints - offset;
  if (model == NoiseModel::TIRIFixedComponent) model = NoiseModel::TIRI;
  b.sumSquaresData = CentreData(model, offset);
  if (threads <= 0) {
    SumRhsSlice(1, 1, nsys, offset);
  } else {
    std::function<void(int)> job = [&](int t) { SumRhsSlice(t, threads, nsys, offset); };
    NeqThreadPool::Instance().Run(threads, job, nullptr);
  }
}

void MCRhsNoNoise() { MonteCarloRhs(NoiseModel::Plain, 0); }
void MCRhsBaseline() { MonteCarloRhs(NoiseModel::Baseline, 0); }
void MCRhsTINoise() { MonteCarloRhs(NoiseModel::TI, 0); }
void MCRhsRINoise() { MonteCarloRhs(NoiseModel::RI, 0); }
void MCRhsTIRINoise() { MonteCarloRhs(NoiseModel::TIRI, 0); }
