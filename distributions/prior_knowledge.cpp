#include "distributions/prior_knowledge.h"

#include <algorithm>
#include <vector>

#include "distributions/brent_roots.h"
#include "distributions/conti_settings.h"
#include "fit/model_selector.h"
#include "numerics/arrays.h"
#include "platform/error_box.h"
#include "numerics/matrix_files.h"
#include "numerics/regrid.h"

namespace {

constexpr const char* kOutOfRange = "KV boundary out of s-range";

// The c(s) family without the ls-g*(s) relatives, the boundary analyses
// and the c(s,f/f0) models: the distributions a KVD prior lies over.
bool KvdPriorModel() {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  return m.DistributionModel && m.CSModel && !m.LsgStarModel && !m.LsgStarWith1DiscreteModel &&
         !m.HybridCSLsgModel && !m.ElectrophoresisLsgModel && !m.ZoneCentrifugationLsgModel &&
         !m.SedTransformModel && !m.LsgExtrapolationModel && !m.CSff0Model && !m.CSff0With1DiscreteModel;
}

// The last grid index with grid[j] <= s (0 when none).
int LastAtOrBelow(const double* grid, int n, double s) {
  int j = 0;
  for (int i = 1; i <= n; ++i)
    if (grid[i] <= s) j = i;
  return j;
}

}  // namespace

PriorBoundaryProfile& CurrentPriorBoundaryProfile() {
  static PriorBoundaryProfile p;
  return p;
}

double PriorBoundaryObjective(const PriorBoundaryProfile& p, double w) {
  const double x[4] = {p.x0, p.x1, p.x2, p.x3};
  const double y[4] = {0.0, p.h + w, p.h - w, 0.0};
  double A = 0.0, F = 0.0;
  for (int k = 0; k < 3; ++k) {
    const double a = x[k], b = x[k + 1];
    if (b == a) continue;
    const double m = (y[k + 1] - y[k]) / (b - a);
    const double q = y[k] - m * a;
    A += (b - a) * (y[k] + y[k + 1]) / 2.0;
    F += m * (b * b * b - a * a * a) / 3.0 + q * (b * b - a * a) / 2.0;
  }
  if (A == 0.0) return p.target;
  return F / A - p.target;
}

double PriorBoundaryObjective(double w) { return PriorBoundaryObjective(CurrentPriorBoundaryProfile(), w); }

void PlaceDiscreteSpecies(const double* grid, int j, double S, double t, double* values) {
  PriorBoundaryProfile& p = CurrentPriorBoundaryProfile();
  p.x0 = grid[j - 1];
  p.x1 = grid[j];
  p.x2 = grid[j + 1];
  p.x3 = grid[j + 2];
  p.h = 2.0 * S / ((p.x2 - p.x0) + (p.x3 - p.x1));
  p.target = t;
  if (p.x1 == t) {
    values[j] = 2.0 * p.h;
    values[j + 1] = 0.0;
    return;
  }
  const double h = p.h;
  const double w = zbrentRoot([](double tilt) { return PriorBoundaryObjective(tilt); }, -h, h, 1e-4);
  values[j] = h + w;
  values[j + 1] = h - w;
}

PriorKnowledge& Priors() {
  static PriorKnowledge p;
  return p;
}

void SwitchPriorOn() {
  PriorKnowledge& p = Priors();
  p.use = true;
  p.oneShot = false;
}

void SwitchPriorOff() {
  PriorKnowledge& p = Priors();
  p.use = false;
  p.oneShot = false;
}

void KeepPriorUntilNextRun() { Priors().oneShot = true; }

bool DropOneShotPrior() {
  PriorKnowledge& p = Priors();
  if (!p.oneShot) return false;
  p.use = false;
  p.discreteSpecies = false;
  p.oneShot = false;
  return true;
}

bool PriorMenuChecked() {
  const PriorKnowledge& p = Priors();
  return p.use || p.ffGaussians;
}

void ParkPriorFile() {
  PriorKnowledge& src = Priors();
  if (src.priorFile.empty()) return;
  src.parkedFile = src.priorFile;
  src.priorFile.clear();
}

void RestorePriorFile() {
  PriorKnowledge& src = Priors();
  if (!src.priorFile.empty() || src.parkedFile.empty()) return;
  src.priorFile = src.parkedFile;
}

FfGaussianTable& FfGaussians() {
  static FfGaussianTable t;
  return t;
}

int ImportMaxEntPriorFile(const std::string& path) {
  if (!KvdPriorModel()) {
    ErrorBox("Error: Importing KV Prior requires c(s) model to be active");
    return 0;
  }
  int rows = 0;
  float** m = ReadMatrixFile(path.c_str(), 2, &rows);
  // A profile needs a row beside the two species rows.
  if (!m || rows < 3) {
    if (m) free_matrix(m, 1, 2, 1, rows);
    ErrorBox("Could Not Open MaxEnt Prior File");
    return 0;
  }
  const int R = rows, np = rows - 2;
  std::vector<double> s(np + 1), p(np + 1);
  for (int i = 1; i <= np; ++i) {
    s[i] = m[1][np + 1 - i];
    p[i] = m[2][np + 1 - i];
  }
  s[1] -= 0.0001;
  s[np] += 0.0001;
  const double sa = m[1][R - 1], Aa = m[2][R - 1];
  const double sb = m[1][R], Ab = m[2][R];
  free_matrix(m, 1, 2, 1, rows);

  const ContiSettings& cs = Conti();
  const int N = cs.gridSize;
  if (N < 4 || !cs.sValues) {
    ErrorBox(kOutOfRange);
    return 0;
  }
  std::vector<double> grid(N + 1), work(N + 1, 0.0);
  for (int i = 1; i <= N; ++i) grid[i] = cs.sValues[i];
  if (s[np] > grid[N - 2] || s[1] < grid[3]) {
    ErrorBox(kOutOfRange);
    return 0;
  }
  const int j = LastAtOrBelow(grid.data(), N, sa);
  if (j < 2 || j > N - 2) {
    ErrorBox(kOutOfRange);
    return 0;
  }
  PlaceDiscreteSpecies(grid.data(), j, Aa, sa, work.data());
  const int jp = LastAtOrBelow(grid.data(), N, s[1]);
  int kp = N;
  for (int i = jp + 1; i <= N; ++i)
    if (grid[i] > s[np]) {
      kp = i;
      break;
    }
  if (kp > jp + 1) {
    // k' - j' + 1 points after j', kept inside the grid.
    const int count = std::min(kp - jp + 1, N - jp);
    InterpolateOntoGridDD(count, grid.data() + jp, work.data() + jp, np, s.data(), p.data());
  } else {
    if (jp < 2 || jp > N - 2) {
      ErrorBox(kOutOfRange);
      return 0;
    }
    PlaceDiscreteSpecies(grid.data(), jp, Ab, sb, work.data());
  }
  PriorKnowledge& src = Priors();
  src.importedX.assign(N + 1, 0.0);
  src.importedY.assign(N + 1, 0.0);
  for (int i = 1; i <= N; ++i) {
    src.importedX[i] = grid[i];
    src.importedY[i] = work[i] + 0.01 * Ab;
  }
  return 1;
}
