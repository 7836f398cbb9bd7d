#pragma once
// Steps of a fit (Marquardt-Levenberg steps, simplex restarts) that no
// longer lower the rmsd while they still move a parameter. Where the data
// do not determine a quantity (an f/f0 over featureless scans) every step
// takes it further for a fall of the sum of squares far above the
// iterations' own small change, 1e-7 relative, but far below what tells a
// minimum: the fit would walk on to its iteration limit, and a frictional
// ratio walked to 100 makes each evaluation take minutes.
//
// Such a step is stalled when it lowers the rmsd by less than
// kStalledRmsdFall (relative; the spread at which the fit driver's simplex
// runs end) and moves some entry by more than kStalledMove of its value or
// of its start, whichever is larger in magnitude (absolutely where both
// are 0; a quantity near 0, such as a log10 K, has no scale of its own
// there), or by more than maxRelativeChange when that is larger. A
// quantity the data determine to a few per cent has a misfit far steeper
// than that (two close species' M, known to 2.5 %, raise the rmsd by
// 1.3e-4 of itself there); a stricter tolerance asks the fit to settle
// more closely, it does not make a step of the fit's ordinary end a
// stalled one. Two accepted stalled steps in a row end the fit at its best
// point, and the entries they moved are named as not determined by the
// data.
#include <cmath>
#include <string>
#include <vector>

class FitHost;

constexpr double kStalledRmsdFall = 0.0005;
constexpr double kStalledMove = 0.1;

class StalledSteps {
 public:
  // start[1..n]: the values the fit started from (null: none, the values
  // themselves are the scale).
  StalledSteps(int n, const float* start)
      : n_(n), moved_(static_cast<size_t>(n) + 1, 0), now_(moved_), start_(moved_.size(), 0.0) {
    for (int j = 1; j <= n && start; ++j) start_[static_cast<size_t>(j)] = std::fabs(start[j]);
  }
  // After an accepted step (or a restart) from before[1..n] to after[1..n]
  // that took the rmsd from oldRmsd to newRmsd. True when it is the second
  // stalled step in a row: the fit ends.
  template <typename T>
  bool Accepted(const T* before, const T* after, double oldRmsd, double newRmsd, double maxRelativeChange) {
    const double move = maxRelativeChange > kStalledMove ? maxRelativeChange : kStalledMove;
    for (int j = 1; j <= n_; ++j) {
      const size_t u = static_cast<size_t>(j);
      const double b = before[j], a = after[j];
      const double scale = std::fabs(b) > start_[u] ? std::fabs(b) : start_[u];
      now_[u] = (scale != 0.0 ? std::fabs(a - b) / scale : std::fabs(a)) > move;
    }
    return Judge(oldRmsd, newRmsd);
  }
  // The entries (one-based) that the stalled steps moved.
  std::vector<int> Moved() const;

 private:
  bool Judge(double oldRmsd, double newRmsd);
  int n_;
  int inRow_ = 0;
  std::vector<char> moved_, now_;  // [1..n]
  std::vector<double> start_;      // [1..n], magnitudes
};

// Tells that the fit ended because the data do not determine the named
// quantities (nothing in a serial fit, which asks nothing).
void ReportUndetermined(FitHost* host, const std::vector<std::string>& names);
