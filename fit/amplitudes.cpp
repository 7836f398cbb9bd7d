#include "fit/amplitudes.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "data/scan_set.h"
#include "fit/fit_engine_state.h"
#include "fit/model_evaluation_hooks.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/simulation_switches.h"
#include "numerics/arrays.h"
#include "numerics/regrid.h"

int gFirstSimulatedScan = 1;

namespace {

// Species list and the per-species means of the last solve.
int gSpeciesCount = 0;
int gSpeciesList[5] = {};
std::vector<double> gCbar[5];   // [k][i]: scan mean of curve k at grid point i
std::vector<double> gCsum[5];   // [k][i]: the sum behind it, over the simulated scans
std::vector<double> gCscan[5];  // [k][j]: fit-range mean of curve k in scan j
double gCtot[5] = {};           // [k]: fit-range mean of curve k over all scans
// The gridded scans as they were before their centring, row after row:
// adding the scan means back rounds, and the data would wander by a unit in
// the last place with every evaluation.
std::vector<float> gUncentredSignals;

ScanSet& SS() { return CurrentScanSet(); }

// Slot k's curves when every scan has its row on the common grid.
float** Curves(int k) {
  ScanSet& ss = SS();
  std::vector<float*>& rows = ss.species[k].onGridPerScan;
  if (static_cast<int>(rows.size()) <= ss.count || ss.speciesGridLength != ss.gridLength) return nullptr;
  for (int j = 1; j <= ss.count; ++j)
    if (!rows[j]) return nullptr;
  return rows.data();
}

// The scans on the common grid exist (the curve-based variants need them).
bool GridReady() {
  const ScanSet& ss = SS();
  if (ss.count < 1 || ss.gridLength < 1 || !ss.grid || static_cast<int>(ss.gridSignals.size()) <= ss.count)
    return false;
  for (int j = 1; j <= ss.count; ++j)
    if (!ss.gridSignals[j]) return false;
  return ss.firstGridPoint >= 1 && ss.lastGridPoint >= ss.firstGridPoint && ss.lastGridPoint <= ss.gridLength;
}

bool SingleCurveModel() {
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  return sel.AnySelfAssociationModel() || sel.AnyNonidealSpeciesModel() || sel.Model267 ||
         sel.EquilibriumModel523 || sel.CSModel;
}

bool InUse(int k) {
  if (!gModelSelectorFlags.LammDiscreteModel && SingleCurveModel()) return k == 1;
  return gModelParams.included[k] != 0;
}

// Noise arrays exist once they are needed.
void EnsureNoiseArrays() {
  ScanSet& ss = SS();
  if (!ss.tiNoise && ss.gridLength > 0) ss.tiNoise = vector(1, ss.gridLength);
  if (!ss.riNoise && ss.count > 0) ss.riNoise = vector(1, ss.count);
  if (!ss.meanProfile && ss.gridLength > 0) ss.meanProfile = vector(1, ss.gridLength);
  if (!ss.scanMeans && ss.count > 0) ss.scanMeans = vector(1, ss.count);
}

void ZeroTI() {
  ScanSet& ss = SS();
  EnsureNoiseArrays();
  for (int i = 1; i <= ss.gridLength; ++i) ss.tiNoise[i] = 0.0f;
}

void ZeroRI() {
  ScanSet& ss = SS();
  EnsureNoiseArrays();
  for (int j = 1; j <= ss.count; ++j) ss.riNoise[j] = 0.0f;
}

void SetBaseline(float value) {
  gModelParameterVector.P[15] = value;
  gModelParams.baseline = value;
}

void StoreAmplitudes(const double* v) {
  // Curves the solver could not compute give no amplitudes: the loadings
  // stay as they were, so that the next evaluation starts from numbers.
  for (int l = 1; l <= gSpeciesCount; ++l)
    if (!std::isfinite(v[l])) return;
  for (int l = 1; l <= gSpeciesCount; ++l) {
    const int k = gSpeciesList[l];
    gModelParameterVector.P[8 + k] = static_cast<float>(v[l]);
    gModelParams.concentration[k] = static_cast<float>(v[l]);
  }
}

// A measured first scan that starts the simulation keeps its data as its
// model: the curves hold nothing for it.
void AddRINoiseToModels() {
  ScanSet& ss = SS();
  for (int pos = gFirstSimulatedScan; pos <= ss.count; ++pos) {
    const int j = ss.order[pos];
    for (int k = 1; k <= ss.points[j]; ++k) ss.model[j][k] += ss.riNoise[j];
  }
}

double FitPointsPerScan() {
  const ScanSet& ss = SS();
  return static_cast<double>(ss.lastGridPoint - ss.firstGridPoint + 1);
}

// A measured first scan that starts the simulation is data, not model: it
// has no curves, and its model is its data. The linear terms come from the
// scans simulated from it alone; counted as a scan with no species in it, it
// pulled the TI profile towards itself (an rmsd of 26 times the noise at the
// true values). Its storage index, or 0 when every scan is simulated.
int StartScan() {
  const ScanSet& ss = SS();
  return gFirstSimulatedScan > 1 && ss.count > 1 ? ss.order[1] : 0;
}

int SimulatedScanCount() { return SS().count - (StartScan() ? 1 : 0); }

// Ybar, S_tot and N_tot of the gridded data, leaving out one scan (0: none).
void MeanProfileWithout(int skipped) {
  ScanSet& ss = SS();
  EnsureNoiseArrays();
  const int scans = ss.count - (skipped ? 1 : 0);
  if (scans < 1 || ss.gridLength < 1) return;
  double total = 0.0;
  for (int i = 1; i <= ss.gridLength; ++i) {
    double sum = 0.0;
    for (int j = 1; j <= ss.count; ++j)
      if (j != skipped) sum += ss.gridSignals[j][i];
    ss.meanProfile[i] = static_cast<float>(sum / scans);
    if (i >= ss.firstGridPoint && i <= ss.lastGridPoint) total += sum / scans;
  }
  ss.profileSum = static_cast<float>(scans * total);
  ss.profileWeight = static_cast<float>(scans * FitPointsPerScan());
}

// The same over the simulated scans, for the linear terms.
void SimulatedMeanProfile() { MeanProfileWithout(StartScan()); }

// Normal equations over the fit range of all scans:
//   M[l][q] = sum ct_q ct_p,  v[l] = rhs0[l] + sum yt ct_p,  p = L[l],
// with yt = Y - yOffset(j, i) and ct_p = C_p - cOffset(p, j, i); then the
// non-negative solve. The constant-signal switch gives v = constant instead.
// The sums run in local accumulators over a species count known to the
// compiler, in the same order as one loop over them would add.
template <int m, typename YOffset, typename COffset>
void AccumulateNormal(double M[5][5], double* v, float** const* curves, YOffset yOffset, COffset cOffset) {
  ScanSet& ss = SS();
  int p[m + 1];
  for (int l = 1; l <= m; ++l) p[l] = gSpeciesList[l];
  double a[m + 1][m + 1] = {}, r[m + 1];
  for (int l = 1; l <= m; ++l) r[l] = v[l];
  const int start = StartScan();
  for (int j = 1; j <= ss.count; ++j) {
    if (j == start) continue;
    const float* y = ss.gridSignals[j];
    const float* row[m + 1];
    for (int l = 1; l <= m; ++l) row[l] = curves[l][j];
    for (int i = ss.firstGridPoint; i <= ss.lastGridPoint; ++i) {
      double ct[m + 1];
      for (int l = 1; l <= m; ++l) ct[l] = static_cast<double>(row[l][i]) - cOffset(p[l], j, i);
      const double yt = static_cast<double>(y[i]) - yOffset(j, i);
      for (int l = 1; l <= m; ++l) {
        r[l] += yt * ct[l];
        for (int q = 1; q <= l; ++q) a[l][q] += ct[l] * ct[q];
      }
    }
  }
  for (int l = 1; l <= m; ++l) {
    v[l] = r[l];
    for (int q = 1; q <= l; ++q) M[l][q] = a[l][q];
  }
}

template <typename YOffset, typename COffset>
void SolveNormal(double* v, YOffset yOffset, COffset cOffset, const double* rhs0 = nullptr) {
  const int m = gSpeciesCount;
  double M[5][5] = {};
  for (int l = 1; l <= m; ++l) v[l] = rhs0 ? rhs0[l] : 0.0;
  // The curve tables are looked up once: the lookup checks every scan.
  float** curves[5] = {};
  for (int l = 1; l <= m; ++l) curves[l] = Curves(gSpeciesList[l]);
  switch (m) {
    case 1: AccumulateNormal<1>(M, v, curves, yOffset, cOffset); break;
    case 2: AccumulateNormal<2>(M, v, curves, yOffset, cOffset); break;
    case 3: AccumulateNormal<3>(M, v, curves, yOffset, cOffset); break;
    case 4: AccumulateNormal<4>(M, v, curves, yOffset, cOffset); break;
    default: break;
  }
  for (int l = 1; l <= m; ++l)
    for (int q = 1; q < l; ++q) M[q][l] = M[l][q];
  SolveNonNegativeSmallSystem(M, v, m);
}

const auto kNoOffset = [](int, int) { return 0.0; };
const auto kNoCurveOffset = [](int, int, int) { return 0.0; };

void FixedAmplitudes(double* v) {
  for (int l = 1; l <= gSpeciesCount; ++l) v[l] = gModelParams.scaleFactor[gSpeciesList[l]];
}

void NormalizeListed() { NormalizeSpeciesCurves(gSpeciesCount, gSpeciesList); }

}  // namespace

int AmplitudeSpeciesCount() { return gSpeciesCount; }
const int* AmplitudeSpeciesList() { return gSpeciesList; }

void SolveNonNegativeSmallSystem(double M[5][5], double* v, int m) {
  if (m <= 0) return;
  double best[5] = {};
  double bestObjective = 0.0;  // the empty support: x = 0
  for (int mask = 1; mask < (1 << m); ++mask) {
    int idx[5], n = 0;
    for (int l = 1; l <= m; ++l)
      if (mask & (1 << (l - 1))) idx[++n] = l;
    // Cholesky of the passive sub-system.
    double L[5][5] = {}, x[5] = {};
    bool ok = true;
    for (int a = 1; a <= n && ok; ++a) {
      for (int b = 1; b <= a; ++b) {
        double sum = M[idx[a]][idx[b]];
        for (int c = 1; c < b; ++c) sum -= L[a][c] * L[b][c];
        if (a == b) {
          if (!(sum > 0.0)) {
            ok = false;
            break;
          }
          L[a][a] = std::sqrt(sum);
        } else {
          L[a][b] = sum / L[b][b];
        }
      }
    }
    if (!ok) continue;
    double z[5];
    for (int a = 1; a <= n; ++a) {
      double sum = v[idx[a]];
      for (int c = 1; c < a; ++c) sum -= L[a][c] * z[c];
      z[a] = sum / L[a][a];
    }
    for (int a = n; a >= 1; --a) {
      double sum = z[a];
      for (int c = a + 1; c <= n; ++c) sum -= L[c][a] * x[c];
      x[a] = sum / L[a][a];
    }
    bool feasible = true;
    double objective = 0.0;
    for (int a = 1; a <= n; ++a) {
      if (x[a] < 0.0) feasible = false;
      objective -= 0.5 * v[idx[a]] * x[a];
    }
    if (!feasible || objective >= bestObjective) continue;
    bestObjective = objective;
    for (int l = 1; l <= m; ++l) best[l] = 0.0;
    for (int a = 1; a <= n; ++a) best[idx[a]] = x[a];
  }
  for (int l = 1; l <= m; ++l) v[l] = best[l];
}

void BuildAmplitudeSpeciesList() {
  if (gModelSelectorFlags.LammDiscreteModel) {
    gSpeciesCount = 0;
    for (int k = 1; k <= kComponentSlots; ++k)
      if (gModelParams.included[k]) gSpeciesList[++gSpeciesCount] = k;
  } else if (SingleCurveModel()) {
    gSpeciesCount = 1;
    gSpeciesList[1] = 1;
  }
  // A slot whose curves were never made cannot take part.
  int kept = 0;
  for (int l = 1; l <= gSpeciesCount; ++l)
    if (Curves(gSpeciesList[l])) gSpeciesList[++kept] = gSpeciesList[l];
  gSpeciesCount = kept;
}

void NormalizeSpeciesCurves(int count, const int* list) {
  if (!gModelSelectorFlags.LammDiscreteModel) return;
  ScanSet& ss = SS();
  for (int l = 1; l <= count; ++l) {
    const int k = list[l];
    float** c = Curves(k);
    if (!c) continue;
    const float f = gModelParams.scaleFactor[k];
    for (int j = 1; j <= ss.count; ++j) {
      if (!c[j]) continue;
      for (int i = 1; i <= ss.gridLength; ++i) c[j][i] = f != 0.0f ? c[j][i] / f : 0.0f;
    }
  }
}

void ConcentrationsToTotalAndFractions() {
  if (!gModelSelectorFlags.LammDiscreteModel) return;
  ModelParams& mp = gModelParams;
  float* P = gModelParameterVector.P;
  int n = mp.componentCount;
  // With the buffer correction and linear amplitudes the last slot holds the
  // buffer component: its amplitude is the buffer's concentration, no share
  // of the species total.
  ModelEvaluationHooks& hooks = CurrentModelEvaluationHooks();
  if (n >= 1 && mp.concentrationsLinear && hooks.bufferSedimentationOn && hooks.bufferSedimentationOn()) {
    P[8 + n] = mp.concentration[n];
    if (hooks.bufferSignal) hooks.bufferSignal() = mp.concentration[n];
    --n;
  }
  int k0 = 0;
  double total = 0.0;
  for (int k = 1; k <= n; ++k) {
    if (!mp.included[k]) continue;
    if (!k0) k0 = k;
    total += mp.concentration[k];
  }
  if (!k0) return;
  mp.concentration[k0] = static_cast<float>(total);
  P[8 + k0] = mp.concentration[k0];
  for (int k = k0 + 1; k <= n; ++k) {
    if (!mp.included[k]) continue;
    mp.concentration[k] = total != 0.0 ? static_cast<float>(mp.concentration[k] / total) : 0.0f;
    P[8 + k] = mp.concentration[k];
  }
}

void ComputeTINoiseProfile() { MeanProfileWithout(0); }

void CenterScansForRINoise() {
  ScanSet& ss = SS();
  EnsureNoiseArrays();
  const double n = FitPointsPerScan();
  for (int l = 1; l <= gSpeciesCount; ++l) {
    const int k = gSpeciesList[l];
    float** c = Curves(k);
    gCscan[k].assign(ss.count + 1, 0.0);
    for (int j = 1; j <= ss.count; ++j) {
      double sum = 0.0;
      for (int i = ss.firstGridPoint; i <= ss.lastGridPoint; ++i) sum += c[j][i];
      gCscan[k][j] = n > 0 ? sum / n : 0.0;
      const float mean = static_cast<float>(gCscan[k][j]);
      for (int i = 1; i <= ss.gridLength; ++i) c[j][i] -= mean;
    }
  }
  const size_t rowLength = static_cast<size_t>(ss.gridLength);
  gUncentredSignals.resize(static_cast<size_t>(ss.count) * rowLength);
  for (int j = 1; j <= ss.count; ++j) {
    float* y = ss.gridSignals[j];
    std::copy(y + 1, y + ss.gridLength + 1, gUncentredSignals.begin() + static_cast<long>((j - 1) * rowLength));
    double sum = 0.0;
    for (int i = ss.firstGridPoint; i <= ss.lastGridPoint; ++i) sum += y[i];
    ss.scanMeans[j] = n > 0 ? static_cast<float>(sum / n) : 0.0f;
    for (int i = 1; i <= ss.gridLength; ++i) y[i] -= ss.scanMeans[j];
  }
  SimulatedMeanProfile();
}

void UncenterScansForRINoise() {
  ScanSet& ss = SS();
  for (int l = 1; l <= gSpeciesCount; ++l) {
    const int k = gSpeciesList[l];
    float** c = Curves(k);
    if (static_cast<int>(gCscan[k].size()) <= ss.count) continue;
    for (int j = 1; j <= ss.count; ++j) {
      const float mean = static_cast<float>(gCscan[k][j]);
      for (int i = 1; i <= ss.gridLength; ++i) c[j][i] += mean;
    }
  }
  const size_t rowLength = static_cast<size_t>(ss.gridLength);
  if (gUncentredSignals.size() == static_cast<size_t>(ss.count) * rowLength) {
    for (int j = 1; j <= ss.count; ++j) {
      const auto row = gUncentredSignals.begin() + static_cast<long>((j - 1) * rowLength);
      std::copy(row, row + static_cast<long>(rowLength), ss.gridSignals[j] + 1);
    }
  } else {
    for (int j = 1; j <= ss.count; ++j)
      for (int i = 1; i <= ss.gridLength; ++i) ss.gridSignals[j][i] += ss.scanMeans[j];
  }
  gUncentredSignals.clear();
  SimulatedMeanProfile();
}

namespace {

// Sums over the simulated scans of the curve table c at every grid point,
// added scan by scan in storage order, each row read once and in sequence.
void SumCurveOverScans(float** c, std::vector<double>& sum) {
  const ScanSet& ss = SS();
  const int start = StartScan();
  sum.assign(ss.gridLength + 1, 0.0);
  double* s = sum.data();
  for (int j = 1; j <= ss.count; ++j) {
    if (j == start) continue;
    const float* row = c[j];
    for (int i = 1; i <= ss.gridLength; ++i) s[i] += row[i];
  }
}

// The TI profile from the sums of ComputeCurveScanMeans: the curves have
// not changed since.
void TINoiseFromCurveSums(const double* v) {
  ScanSet& ss = SS();
  EnsureNoiseArrays();
  const int scans = SimulatedScanCount();
  for (int i = 1; i <= ss.gridLength; ++i) {
    double species = 0.0;
    for (int l = 1; l <= gSpeciesCount; ++l) species += v[l] * gCsum[gSpeciesList[l]][i];
    ss.tiNoise[i] = static_cast<float>(ss.meanProfile[i] - species / scans);
  }
}

}  // namespace

void ComputeCurveScanMeans() {
  ScanSet& ss = SS();
  const int scans = SimulatedScanCount();
  for (int l = 1; l <= gSpeciesCount; ++l) {
    const int k = gSpeciesList[l];
    SumCurveOverScans(Curves(k), gCsum[k]);
    gCbar[k].assign(ss.gridLength + 1, 0.0);
    for (int i = 1; i <= ss.gridLength; ++i) gCbar[k][i] = gCsum[k][i] / scans;
  }
}

void ComputeCurveTotalMeans() {
  ScanSet& ss = SS();
  const int start = StartScan();
  const double nTot = SimulatedScanCount() * FitPointsPerScan();
  for (int l = 1; l <= gSpeciesCount; ++l) {
    const int k = gSpeciesList[l];
    float** c = Curves(k);
    double sum = 0.0;
    for (int j = 1; j <= ss.count; ++j)
      if (j != start)
        for (int i = ss.firstGridPoint; i <= ss.lastGridPoint; ++i) sum += c[j][i];
    gCtot[k] = nTot > 0 ? sum / nTot : 0.0;
  }
}

void ComputeTINoiseFromCurves(const double* v) {
  for (int l = 1; l <= gSpeciesCount; ++l) {
    const int k = gSpeciesList[l];
    SumCurveOverScans(Curves(k), gCsum[k]);
  }
  TINoiseFromCurveSums(v);
}

void ScaleCurvesByAmplitudes(const double* v) {
  if (!gModelSelectorFlags.LammDiscreteModel) return;
  ScanSet& ss = SS();
  for (int l = 1; l <= gSpeciesCount; ++l) {
    const int k = gSpeciesList[l];
    float** c = Curves(k);
    const float a = static_cast<float>(v[l]);
    for (int j = 1; j <= ss.count; ++j)
      for (int i = 1; i <= ss.gridLength; ++i) c[j][i] *= a;
    gModelParams.scaleFactor[k] = a;
  }
}

void ComputeRINoise() {
  ScanSet& ss = SS();
  EnsureNoiseArrays();
  const double n = FitPointsPerScan();
  float** curves[kComponentSlots + 1] = {};
  for (int k = 1; k <= kComponentSlots; ++k)
    if (InUse(k)) curves[k] = Curves(k);  // rows exist for every scan
  const int start = StartScan();
  for (int j = 1; j <= ss.count; ++j) {
    if (j == start) {
      ss.riNoise[j] = 0.0f;
      continue;
    }
    double sum = 0.0;
    for (int i = ss.firstGridPoint; i <= ss.lastGridPoint; ++i) {
      double y = ss.gridSignals[j][i];
      for (int k = 1; k <= kComponentSlots; ++k)
        if (curves[k]) y -= curves[k][j][i];
      sum += y;
    }
    ss.riNoise[j] = n > 0 ? static_cast<float>(sum / n) : 0.0f;
  }
}

void AssembleModelFromCurves() {
  ScanSet& ss = SS();
  EnsureNoiseArrays();
  // The curve tables are looked up once: the lookup checks every scan.
  float** curves[kComponentSlots + 1] = {};
  for (int k = 1; k <= kComponentSlots; ++k)
    if (InUse(k)) curves[k] = Curves(k);
  for (int pos = gFirstSimulatedScan; pos <= ss.count; ++pos) {
    const int j = ss.order[pos];
    const int n = ss.points[j];
    float* model = ss.model[j];
    for (int p = 1; p <= n; ++p) model[p] = 0.0f;
    CurveOntoRadii(n, ss.radii[j], model, ss.gridLength, ss.grid, ss.tiNoise);
    if (!ss.work[j]) ss.work[j] = vector(1, n);
    float* work = ss.work[j];
    for (int k = 1; k <= kComponentSlots; ++k) {
      if (!curves[k]) continue;
      for (int p = 1; p <= n; ++p) work[p] = 0.0f;
      CurveOntoRadii(n, ss.radii[j], work, ss.gridLength, ss.grid, curves[k][j]);
      for (int p = 1; p <= n; ++p) model[p] += work[p];
    }
  }
}

float ComputeBaselineOffset() {
  const ScanSet& ss = SS();
  const int start = StartScan();
  double sum = 0.0;
  long count = 0;
  for (int j = 1; j <= ss.count; ++j) {
    if (j == start) continue;
    for (int p = ss.firstFitPoint[j]; p <= ss.lastFitPoint[j]; ++p) {
      sum += static_cast<double>(ss.signals[j][p]) - ss.model[j][p];
      ++count;
    }
  }
  return count > 0 ? static_cast<float>(sum / static_cast<double>(count)) : 0.0f;
}

void AddBaselineToScans() {
  ScanSet& ss = SS();
  const float b = gModelParams.baseline;
  for (int pos = gFirstSimulatedScan; pos <= ss.count; ++pos) {
    const int j = ss.order[pos];
    for (int p = 1; p <= ss.points[j]; ++p) ss.model[j][p] += b;
  }
}

namespace {

// The scans are on the common grid; the species of the solve listed and
// their curves normalised.
bool ListSpeciesOnGrid() {
  if (!GridReady()) return false;
  BuildAmplitudeSpeciesList();
  NormalizeListed();
  return true;
}

// The amplitudes that fit the curves' scan means to the scans' mean profile.
void SolveAgainstMeanProfile(double* v) {
  ScanSet& ss = SS();
  SolveNormal(
      v, [&ss](int, int i) { return static_cast<double>(ss.meanProfile[i]); },
      [](int p, int, int i) { return gCbar[p][i]; });
}

// The end of the solves with RI noise, the scans and curves centred per
// scan: both back at their levels, the curves scaled by the amplitudes v,
// the RI offsets from what the curves leave of each scan, and the model
// built from the curves with them.
void ScaleCurvesAndAddRINoise(const double* v) {
  UncenterScansForRINoise();
  ScaleCurvesByAmplitudes(v);
  ComputeRINoise();
  SetBaseline(0.0f);
  AssembleModelFromCurves();
  AddRINoiseToModels();
}

}  // namespace

void SolveAmplitudesTI() {
  if (!ListSpeciesOnGrid()) return;
  double v[5] = {};
  CenterScansForRINoise();
  ComputeCurveScanMeans();
  if (gSimulationSwitches.constantSignal)
    for (int l = 1; l <= gSpeciesCount; ++l) v[l] = 1.0;
  else
    SolveAgainstMeanProfile(v);
  StoreAmplitudes(v);
  ConcentrationsToTotalAndFractions();
  TINoiseFromCurveSums(v);
  ScaleCurvesAndAddRINoise(v);
}

void SolveAmplitudesTIUpdate() {
  if (!ListSpeciesOnGrid()) return;
  double v[5] = {};
  ComputeCurveScanMeans();
  SimulatedMeanProfile();
  if (!gSimulationSwitches.constantSignal) SolveAgainstMeanProfile(v);
  StoreAmplitudes(v);
  ConcentrationsToTotalAndFractions();
  TINoiseFromCurveSums(v);
  ScaleCurvesByAmplitudes(v);
  ZeroRI();
  SetBaseline(0.0f);
  AssembleModelFromCurves();
}

void ComputeNoiseFixedAmplitudes() {
  if (!ListSpeciesOnGrid()) return;
  double v[5] = {};
  CenterScansForRINoise();
  ComputeCurveScanMeans();
  FixedAmplitudes(v);
  TINoiseFromCurveSums(v);
  ScaleCurvesAndAddRINoise(v);
}

void SubtractSpeciesFromResiduals() {
  if (!GridReady()) return;
  ScanSet& ss = SS();
  SimulatedMeanProfile();
  const int start = StartScan(), scans = SimulatedScanCount();
  // The curve tables are looked up once: the lookup checks every scan.
  float** curves[kComponentSlots + 1] = {};
  for (int k = 1; k <= kComponentSlots; ++k)
    if (InUse(k)) curves[k] = Curves(k);
  for (int i = 1; i <= ss.gridLength; ++i) {
    double species = 0.0;
    for (int k = 1; k <= kComponentSlots; ++k) {
      if (!curves[k]) continue;
      for (int j = 1; j <= ss.count; ++j)
        if (j != start) species += curves[k][j][i];
    }
    ss.tiNoise[i] = static_cast<float>(ss.meanProfile[i] - species / scans);
  }
  ZeroRI();
  AssembleModelFromCurves();
  SetBaseline(0.0f);
}

void SolveAmplitudes() {
  if (!ListSpeciesOnGrid()) return;
  double v[5] = {};
  CenterScansForRINoise();
  if (!gSimulationSwitches.constantSignal) SolveNormal(v, kNoOffset, kNoCurveOffset);
  StoreAmplitudes(v);
  ConcentrationsToTotalAndFractions();
  ZeroTI();
  ScaleCurvesAndAddRINoise(v);
}

void SolveAmplitudesWithOffsets() {
  if (!ListSpeciesOnGrid()) return;
  double v[5] = {};
  ComputeCurveTotalMeans();
  SimulatedMeanProfile();
  ScanSet& ss = SS();
  const double ybar = ss.profileWeight > 0 ? static_cast<double>(ss.profileSum) / ss.profileWeight : 0.0;
  SolveNormal(v, [ybar](int, int) { return ybar; }, [](int p, int, int) { return gCtot[p]; });
  ScaleCurvesByAmplitudes(v);
  StoreAmplitudes(v);
  ConcentrationsToTotalAndFractions();
  ZeroTI();
  ZeroRI();
  AssembleModelFromCurves();
  SetBaseline(ComputeBaselineOffset());
  AddBaselineToScans();
}

void ComputeRINoiseFixedAmplitudes() {
  if (!ListSpeciesOnGrid()) return;
  double v[5] = {};
  CenterScansForRINoise();
  FixedAmplitudes(v);
  ZeroTI();
  ScaleCurvesAndAddRINoise(v);
}

void AddBaselineToModel() {
  ZeroTI();
  ZeroRI();
  SetBaseline(ComputeBaselineOffset());
  AddBaselineToScans();
}

void SolveAmplitudesWithOffsets2() {
  if (!ListSpeciesOnGrid()) return;
  double v[5] = {}, rhs0[5] = {};
  ComputeCurveTotalMeans();
  const double nTot = SimulatedScanCount() * FitPointsPerScan();
  for (int l = 1; l <= gSpeciesCount; ++l)
    rhs0[l] = -gCtot[gSpeciesList[l]] * gModelParams.baseline * nTot;
  SolveNormal(v, kNoOffset, kNoCurveOffset, rhs0);
  ScaleCurvesByAmplitudes(v);
  StoreAmplitudes(v);
  ConcentrationsToTotalAndFractions();
  ZeroTI();
  ZeroRI();
  AssembleModelFromCurves();
  AddBaselineToScans();
}

bool BaselineSolvedLinearly() {
  return gFitEngineState.fitTINoise || gModelParams.riNoiseFit || gModelParams.baselineLinear;
}

void SolveAmplitudesAndNoise() {
  const bool ti = gFitEngineState.fitTINoise != 0;
  const bool amplitudes = gModelParams.concentrationsLinear != 0;
  const bool ri = gModelParams.riNoiseFit != 0;
  const bool baseline = gModelParams.baselineLinear != 0;
  if (ti) {
    if (amplitudes)
      ri ? SolveAmplitudesTI() : SolveAmplitudesTIUpdate();
    else
      ri ? ComputeNoiseFixedAmplitudes() : SubtractSpeciesFromResiduals();
  } else if (baseline || ri) {
    // RI offsets take a common baseline with them: with RI noise on, a held
    // baseline has nothing left to add. The curves of that case live on the
    // common grid (CurvesOnCommonGrid), so the model must come from them.
    if (amplitudes)
      ri ? SolveAmplitudes() : SolveAmplitudesWithOffsets();
    else
      ri ? ComputeRINoiseFixedAmplitudes() : AddBaselineToModel();
  } else {
    amplitudes ? SolveAmplitudesWithOffsets2() : AddBaselineToScans();
  }
  // Ybar describes the gridded data again, every scan of it.
  if (StartScan()) ComputeTINoiseProfile();
}
