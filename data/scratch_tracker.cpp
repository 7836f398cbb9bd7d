#include "data/scratch_tracker.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "data/scan_set.h"
#include "platform/error_box.h"
#include "numerics/random.h"
#include "numerics/regrid.h"
#include "platform/paths.h"

ScratchTrackerSettings& CurrentScratchTrackerSettings() {
  static ScratchTrackerSettings settings;
  return settings;
}

namespace {

constexpr int kMaxWindowPoints = 100;  // k stops growing once it exceeds this
constexpr int kMinWindowPoints = 5;    // the interpolation writes nothing for fewer
constexpr long kMaxNelderMeadEvaluations = 100000;
constexpr int kMaxRestarts = 99;
constexpr int kConvergedRestarts = 2;
// Grid points kept on each side of the sampled radii, enough for the end
// rules of the interpolation to see what they would see on the whole grid.
constexpr int kGridMargin = 11;

}  // namespace

// ---- the store

void CScratchTracker::BeginStore(int scans) {
  storedCount_ = 0;
  storedScans_ = scans;
  storedCentre_.assign(kCapacity + 1, 0);
  storedRadius_.assign(kCapacity + 1, 0.0f);
  storedSlope_.assign(kCapacity + 1, std::vector<float>(static_cast<std::size_t>(scans) + 1, 0.0f));
  storedShift_.assign(kCapacity + 1, std::vector<float>(static_cast<std::size_t>(scans) + 1, 0.0f));
}

void CScratchTracker::FreeStore() {
  storedCount_ = storedScans_ = 0;
  storedCentre_.clear();
  storedRadius_.clear();
  storedSlope_.clear();
  storedShift_.clear();
}

bool CScratchTracker::StoreScratch() {
  if (!HasWork() || StoreFull() || storedScans_ != n_) return false;
  const int row = ++storedCount_;
  storedCentre_[row] = first_ + h_;
  storedRadius_[row] = set_->grid[first_ + h_];
  for (int p = 1; p <= n_; ++p) {
    storedSlope_[row][p] = static_cast<float>(slopesOut_[p]);
    storedShift_[row][p] = static_cast<float>(shiftsOut_[p]);
  }
  return true;
}

bool CScratchTracker::WriteScratchFile(const std::string& path) const {
  if (storedCount_ <= 0) return false;
  platform::CheckedOutputFile file(path);
  std::FILE* f = file.get();
  if (!f) return false;
  std::fprintf(f, "%d %d", storedCount_, storedScans_);
  for (int r = 1; r <= storedCount_; ++r) std::fprintf(f, " %f", static_cast<double>(storedRadius_[r]));
  std::fprintf(f, "\n");
  for (int p = 1; p <= storedScans_; ++p) {
    for (int r = 1; r <= storedCount_; ++r)
      std::fprintf(f, " %f %f", static_cast<double>(storedSlope_[r][p]), static_cast<double>(storedShift_[r][p]));
    std::fprintf(f, "\n");
  }
  return file.Commit();
}

// ---- one click

ScratchWindowResult CScratchTracker::PrepareWindow(const ScanSet& s, double width, double randomizeSigma) {
  FreeWork();
  if (s.count < 2) return ScratchWindowResult::TooFewScans;
  const float* grid = s.grid;
  const int length = s.gridLength;
  if (!grid || length < 2) return ScratchWindowResult::TooFewPoints;
  int k = 1;
  while (k + 1 <= length && grid[k + 1] - grid[1] < width) {
    k += 2;
    if (k > kMaxWindowPoints) break;
  }
  if (k < kMinWindowPoints) return ScratchWindowResult::TooFewPoints;

  set_ = &s;
  n_ = s.count;
  k_ = k;
  h_ = (k - 1) / 2;
  sigma_ = randomizeSigma;
  precision_ = 0.1 * CurrentScratchTrackerSettings().rmsdPrecision;
  const std::size_t rows = static_cast<std::size_t>(n_) + 1, cols = static_cast<std::size_t>(k_) + 1;
  for (auto* v : {&x_, &dx_}) v->assign(cols, 0.0);
  pointMean_.assign(cols, 0.0);
  for (auto* v : {&trial_, &current_, &scanMean_, &slope_, &slopesOut_, &shiftsOut_, &centreRadius_, &centreValue_})
    v->assign(rows, 0.0);
  for (auto* m : {&sampled_, &fitted_, &shifted_}) m->assign(rows, std::vector<double>(cols, 0.0));
  const std::size_t dims = static_cast<std::size_t>(n_);  // N - 1 coordinates, 1-based
  vertexRows_.assign(rows, std::vector<double>(dims, 0.0));
  vertices_.assign(rows, nullptr);
  for (std::size_t i = 1; i < rows; ++i) vertices_[i] = vertexRows_[i].data();
  values_.assign(rows, 0.0);
  psum_.assign(dims, 0.0);
  ptry_.assign(dims, 0.0);
  free_.assign(dims, 0.0);
  evaluations_ = 0;
  restarts_ = 0;
  e_ = 0;
  return ScratchWindowResult::Ok;
}

ScratchWindowResult CScratchTracker::SetPosition(double r) {
  if (!HasWork()) return ScratchWindowResult::TooFewPoints;
  const ScanSet& s = *set_;
  const int lo = s.firstGridPoint > 0 ? s.firstGridPoint : 1;
  const int hi = s.lastGridPoint > 0 ? std::min(s.lastGridPoint, s.gridLength) : s.gridLength;
  int c = 0;
  for (int j = lo; j <= hi; ++j)
    if (s.grid[j] > r) {
      c = j;
      break;
    }
  if (!c) return ScratchWindowResult::OutsideFitLimits;
  // The window reads grid[first + 1 .. first + k].
  if (c - h_ < 1 || c - h_ + k_ > s.gridLength) return ScratchWindowResult::PastGrid;
  centre_ = c;
  first_ = c - h_;
  double sum = 0;
  for (int j = 1; j <= k_; ++j) {
    x_[j] = s.grid[first_ + j];
    sum += x_[j];
  }
  meanX_ = sum / k_;
  sxx_ = 0;
  for (int j = 1; j <= k_; ++j) {
    dx_[j] = x_[j] - meanX_;
    sxx_ += dx_[j] * dx_[j];
  }
  std::fill(current_.begin(), current_.end(), 0.0);
  std::fill(trial_.begin(), trial_.end(), 0.0);
  return ScratchWindowResult::Ok;
}

void CScratchTracker::FreeWork() {
  k_ = h_ = centre_ = first_ = 0;
  for (auto* v : {&x_, &dx_, &trial_, &current_, &scanMean_, &pointMean_, &slope_, &values_, &psum_, &ptry_, &free_})
    v->clear();
  sampled_.clear();
  fitted_.clear();
  shifted_.clear();
  vertexRows_.clear();
  vertices_.clear();
  // The last outputs stay readable until the next click (the store takes
  // them after the work state is gone).
}

double CScratchTracker::Evaluate(const double* shifts) {
  ++evaluations_;
  const ScanSet& s = *set_;
  const float* grid = s.grid;
  const int length = s.gridLength;
  for (int i = 1; i <= n_; ++i) {
    double* xs = shifted_[i].data();
    for (int j = 1; j <= k_; ++j) xs[j] = x_[j] + shifts[i];
    // Only the stretch of grid around the sampled radii is handed over, so
    // that the search for each radius does not walk the whole grid.
    int p = static_cast<int>(std::upper_bound(grid + 1, grid + length + 1, xs[1]) - grid) - 1;
    int q = static_cast<int>(std::lower_bound(grid + 1, grid + length + 1, xs[k_]) - grid);
    const int lo = std::max(1, std::max(p, 1) - kGridMargin);
    const int hi = std::min(length, std::min(q, length) + kGridMargin);
    InterpolateOntoGridDF(k_, xs, sampled_[i].data(), hi - lo + 1, grid + lo - 1, s.gridSignals[i] + lo - 1);
  }

  for (int i = 1; i <= n_; ++i) {
    double sum = 0;
    for (int j = 1; j <= k_; ++j) sum += sampled_[i][j];
    scanMean_[i] = sum / k_;
  }
  for (int j = 1; j <= k_; ++j) {
    double sum = 0;
    for (int i = 1; i <= n_; ++i) sum += sampled_[i][j];
    pointMean_[j] = sum / n_;
  }
  // The grand mean as the mean of the point means (the same number as the
  // mean of the scan means): for scans that agree exactly it then equals
  // every scan mean to the last bit, and E is exactly 0.
  double grand = 0;
  for (int j = 1; j <= k_; ++j) grand += pointMean_[j];
  grand /= k_;
  double ss = 0;
  for (int i = 1; i <= n_; ++i) {
    const double* si = sampled_[i].data();
    const double base = grand - scanMean_[i];
    double cross = 0;
    for (int j = 1; j <= k_; ++j) cross += (si[j] - pointMean_[j] + base) * dx_[j];
    const double b = cross / sxx_;
    slope_[i] = b;
    for (int j = 1; j <= k_; ++j) {
      const double d = si[j] - pointMean_[j] + base - b * dx_[j];
      ss += d * d;
    }
  }
  const double e = 1000.0 * ss / std::sqrt(static_cast<double>(k_) * n_);

  double common = 0;
  for (int j = 1; j <= k_; ++j) common += dx_[j] * (pointMean_[j] - grand);
  common /= sxx_;
  for (int i = 1; i <= n_; ++i)
    for (int j = 1; j <= k_; ++j)
      fitted_[i][j] = (pointMean_[j] - grand) + (scanMean_[i] - slope_[i] * meanX_) + slope_[i] * x_[j];
  const bool ordered = static_cast<int>(s.order.size()) > n_;
  const int firstScan = ordered ? s.order[1] : 1;
  for (int p = 1; p <= n_; ++p) {
    const int sc = ordered ? s.order[p] : p;
    slopesOut_[p] = slope_[sc] + common;
    shiftsOut_[p] = shifts[sc] - shifts[firstScan];
    centreRadius_[p] = shifted_[sc][h_];
    centreValue_[p] = fitted_[sc][h_];
  }
  return e;
}

double CScratchTracker::EvaluateFree(const double* free) {
  trial_[1] = current_[1];
  for (int i = 2; i <= n_; ++i) trial_[i] = free[i - 1];
  return Evaluate(trial_.data());
}

void CScratchTracker::FillSimplex(const double* centre) {
  const int dims = n_ - 1;
  for (int d = 1; d <= dims; ++d) vertices_[1][d] = centre[d];
  for (int v = 2; v <= n_; ++v)
    for (int d = 1; d <= dims; ++d) vertices_[v][d] = centre[d] + GaussRandom(static_cast<float>(sigma_));
  for (int v = 1; v <= n_; ++v) values_[v] = EvaluateFree(vertices_[v]);
}

int CScratchTracker::BestVertex() const {
  int best = 1;
  for (int v = 2; v <= n_; ++v)
    if (values_[v] < values_[best]) best = v;
  return best;
}

double CScratchTracker::Try(double** p, double* y, double* psum, int n, int worst, double factor) {
  const double fac1 = (1.0 - factor) / n, fac2 = fac1 - factor;
  for (int j = 1; j <= n; ++j)
    ptry_[j] = std::clamp(psum[j] * fac1 - p[worst][j] * fac2, -kShiftBound, kShiftBound);
  const double value = EvaluateFree(ptry_.data());
  if (value < y[worst]) {
    y[worst] = value;
    for (int j = 1; j <= n; ++j) {
      psum[j] += ptry_[j] - p[worst][j];
      p[worst][j] = ptry_[j];
    }
  }
  return value;
}

int CScratchTracker::OptimizeShiftNelderMead(double** p, double* y, int n, double ftol) {
  const int vertices = n + 1;
  double* psum = psum_.data();
  auto sums = [&] {
    for (int j = 1; j <= n; ++j) {
      double sum = 0;
      for (int i = 1; i <= vertices; ++i) sum += p[i][j];
      psum[j] = sum;
    }
  };
  sums();
  long counted = 0;
  for (;;) {
    int best = 1, worst, second;
    if (y[1] > y[2]) {
      worst = 1;
      second = 2;
    } else {
      worst = 2;
      second = 1;
    }
    for (int i = 1; i <= vertices; ++i) {
      if (y[i] <= y[best]) best = i;
      if (y[i] > y[worst]) {
        second = worst;
        worst = i;
      } else if (y[i] > y[second] && i != worst) {
        second = i;
      }
    }
    const double scale = std::fabs(y[worst]) + std::fabs(y[best]);
    if (scale == 0) {
      ErrorBox("Error in Optimize Shift Nelder-Mead");
      return 1;
    }
    if (2.0 * std::fabs(y[worst] - y[best]) / scale < ftol) {
      std::swap(y[1], y[best]);
      for (int j = 1; j <= n; ++j) std::swap(p[1][j], p[best][j]);
      return 0;
    }
    if (counted > kMaxNelderMeadEvaluations) {
      ErrorBox("Optimize Shift Nelder-Mead not converged");
      return 2;
    }
    counted += 2;
    double value = Try(p, y, psum, n, worst, -1.0);
    if (value <= y[best]) {
      Try(p, y, psum, n, worst, 2.0);
    } else if (value >= y[second]) {
      const double saved = y[worst];
      value = Try(p, y, psum, n, worst, 0.5);
      if (value >= saved) {
        for (int i = 1; i <= vertices; ++i) {
          if (i == best) continue;
          for (int j = 1; j <= n; ++j) p[i][j] = psum[j] = 0.5 * (p[i][j] + p[best][j]);
          y[i] = EvaluateFree(psum);
        }
        counted += n;
        sums();
      }
    } else {
      --counted;
    }
  }
}

double CScratchTracker::OptimizeShifts() {
  if (!HasWork() || !centre_) return 0;
  const int dims = n_ - 1;
  std::copy(current_.begin(), current_.end(), trial_.begin());
  e_ = Evaluate(current_.data());
  restarts_ = 0;

  // One simplex run around the current shifts; its best vertex is returned
  // through free_ with its value, and the run's exit code.
  auto run = [&](double& bestValue) {
    for (int d = 1; d <= dims; ++d) free_[d] = current_[d + 1];
    FillSimplex(free_.data());
    const int code = OptimizeShiftNelderMead(vertices_.data(), values_.data(), dims, kTolerance);
    const int best = BestVertex();
    for (int d = 1; d <= dims; ++d) free_[d] = vertices_[best][d];
    bestValue = values_[best];
    return code;
  };
  auto take = [&] {
    for (int d = 1; d <= dims; ++d) current_[d + 1] = free_[d];
    e_ = Evaluate(current_.data());
  };

  double best = 0;
  int code = run(best);
  take();
  // A failed run (zero objective, or no convergence) has shown its box; the
  // search keeps its best point and ends instead of repeating the box.
  int converged = 0;
  while (code == 0 && converged < kConvergedRestarts && restarts_ < kMaxRestarts) {
    ++restarts_;
    code = run(best);
    if (best <= e_) {
      if (std::fabs(best - e_) < kTolerance) ++converged;
      take();
    }
  }
  e_ = Evaluate(current_.data());
  return e_;
}
