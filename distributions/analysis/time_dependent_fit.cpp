#include "distributions/analysis/time_dependent_fit.h"

#include <algorithm>
#include <utility>

#include "fit/rmsd.h"
#include "numerics/constants.h"
#include "data/scan_grid.h"
#include "data/scan_set.h"
#include "fit/fit_driver.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "lamm/lamm_settings.h"
#include "numerics/arrays.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "platform/sounds.h"
#include "platform/user_interface.h"

namespace {

constexpr const char* kCaption = "time dependence analysis";
constexpr float kSeriesTolerance = 0.001f;

double Time(const ScanSet& s, int position) { return s.records[s.order[position]].timeRead; }

// The scans at positions p1..p2 of the loaded set presented as the whole
// scan set while a set is fitted. The window shares the scans' arrays and
// views; its noise, species curves and initial distribution are its own
// and go with it. Whatever the fit writes into the scans' model arrays
// stays there; the other scans are not touched.
class CScanWindow {
 public:
  CScanWindow(int p1, int p2) {
    ScanSet& all = CurrentScanSet();
    const int m = p2 - p1 + 1;
    window_.count = m;
    auto take = [&](auto& to, const auto& from) {
      to.assign(static_cast<size_t>(m) + 1, {});
      for (int i = 1; i <= m; ++i) {
        const size_t j = static_cast<size_t>(all.order[p1 + i - 1]);
        if (j < from.size()) to[i] = from[j];
      }
    };
    take(window_.radii, all.radii);
    take(window_.signals, all.signals);
    take(window_.signals2, all.signals2);
    take(window_.model, all.model);
    take(window_.model2, all.model2);
    take(window_.residuals, all.residuals);
    take(window_.records, all.records);
    take(window_.points, all.points);
    take(window_.firstFitPoint, all.firstFitPoint);
    take(window_.lastFitPoint, all.lastFitPoint);
    take(window_.fileNames, all.fileNames);
    take(window_.gridSignals, all.gridSignals);
    take(window_.radiusVec, all.radiusVec);
    take(window_.signalVec, all.signalVec);
    take(window_.signal2Vec, all.signal2Vec);
    take(window_.modelVec, all.modelVec);
    take(window_.residualVec, all.residualVec);
    take(window_.dataCurve, all.dataCurve);
    take(window_.signal2Curve, all.signal2Curve);
    take(window_.modelCurve, all.modelCurve);
    take(window_.residualCurve, all.residualCurve);
    window_.work.assign(static_cast<size_t>(m) + 1, nullptr);
    window_.gridModel.assign(static_cast<size_t>(m) + 1, nullptr);
    window_.order.resize(static_cast<size_t>(m) + 1);
    for (int i = 0; i <= m; ++i) window_.order[i] = i;
    window_.dataFolder = all.dataFolder;
    window_.leftFitLimit = all.leftFitLimit;
    window_.rightFitLimit = all.rightFitLimit;
    window_.radialResolution = all.radialResolution;
    window_.signalPerConcentration = all.signalPerConcentration;
    window_.equilibriumMode = all.equilibriumMode;
    window_.grid = all.grid;
    window_.gridLength = all.gridLength;
    window_.gridOwned = 0;
    window_.firstGridPoint = all.firstGridPoint;
    window_.lastGridPoint = all.lastGridPoint;
    window_.referenceTotalConcentration = all.referenceTotalConcentration;
    std::swap(all, window_);
  }
  ~CScanWindow() {
    std::swap(CurrentScanSet(), window_);
    // Release only what the window made for itself.
    for (auto* t : {&window_.radii, &window_.signals, &window_.signals2, &window_.model, &window_.model2,
                    &window_.residuals, &window_.gridSignals})
      t->clear();
    for (auto* t : {&window_.radiusVec, &window_.signalVec, &window_.signal2Vec, &window_.modelVec,
                    &window_.residualVec})
      t->clear();
    for (auto* t : {&window_.dataCurve, &window_.signal2Curve, &window_.modelCurve, &window_.residualCurve})
      t->clear();
    window_.grid = nullptr;
    window_.gridOwned = 0;
    FreeScanGridArrays(window_);
    FreeInitialDataScan(window_);
    FreeScanSetArrays(window_);
  }
  CScanWindow(const CScanWindow&) = delete;
  CScanWindow& operator=(const CScanWindow&) = delete;

 private:
  ScanSet window_;
};

// The common start of both series; false when refused.
bool Start(TimeDependentFitState& st, std::vector<float>& savedP) {
  const ScanSet& s = CurrentScanSet();
  if (!LammSettings().experimentalInitialDistribution) {
    platform::Tell(kCaption,
                   "please switch to experimental initial  condition (in parameter box) and "
                   "load initial scan");
    return false;
  }
  if (s.count < 2) {
    platform::Tell(kCaption, "the time dependence needs at least two scans");
    return false;
  }
  const int N = s.count;
  st.scanCount = N;
  st.times.assign(static_cast<size_t>(N), 0.0f);
  st.molarMasses.assign(static_cast<size_t>(N), 0.0f);
  st.sedimentation.assign(static_cast<size_t>(N), 0.0f);
  st.entries = 0;
  gFitEngineState.maxRelativeChange = kSeriesTolerance;
  const ModelParameterVector& v = gModelParameterVector;
  savedP.assign(v.P, v.P + kParameterSlots + 1);
  gFitEngineState.saveBestDuringFit = 0;
  st.scanRange = 1;
  return true;
}

// One set: the start values, the set's scans, two fits, the result.
void FitSet(FitHost* host, TimeDependentFitState& st, const std::vector<float>& savedP, int p1, int p2,
            double time, int entry) {
  std::copy(savedP.begin(), savedP.end(), gModelParameterVector.P);
  UnpackModelParameters();
  st.firstScan = p1;
  st.lastScan = p2;
  {
    CScanWindow window(p1, p2);
    SetInitialScanForSet(1);
    // The set's first scan is its initial distribution, data rather than
    // model: the rmsd is that of the scans simulated from it.
    const unsigned char excluded = gRmsdScanRange.firstScanExcluded;
    gRmsdScanRange.firstScanExcluded = 1;
    FitCurrentModel(host);
    FitCurrentModel(host);
    gRmsdScanRange.firstScanExcluded = excluded;
  }
  st.times[entry] = static_cast<float>(time);
  st.molarMasses[entry] = gModelParameterVector.P[1];
  st.sedimentation[entry] = gModelParameterVector.P[kComponentSlots + 1];
  st.entries = std::max(st.entries, entry);
}

void Finish(TimeDependentFitState& st, const std::vector<float>& savedP) {
  std::copy(savedP.begin(), savedP.end(), gModelParameterVector.P);
  UnpackModelParameters();
  st.scanRange = 0;
  SetInitialScanToFirst();
  gFitEngineState.saveBestDuringFit = 1;
  PlaySoundFitDone();
}

bool WriteSeries(const std::string& path, const std::vector<float>& x, const std::vector<float>& y, int n) {
  CVector vx, vy;
  vx.Attach(const_cast<float*>(x.data()), n, 1);
  vy.Attach(const_cast<float*>(y.data()), n, 1);
  CCurve curve(&vx, &vy);
  return curve.WriteToFile(path.c_str());
}

}  // namespace

TimeDependentFitState& TimeDependentFit() {
  static TimeDependentFitState st;
  return st;
}

void SetInitialScanForSet(int position) {
  ScanSet& s = CurrentScanSet();
  if (position < 1 || position > s.count) return;
  const int j = s.order[position];
  FreeInitialDataScan(s);
  InitialDataScan& d = s.initialData;
  const int n = s.points[j];
  d.radii = vector(1, n);
  d.signals = vector(1, n);
  for (int p = 1; p <= n; ++p) {
    d.radii[p] = s.radii[j][p];
    d.signals[p] = s.model[j][p] = s.signals[j][p];
  }
  d.points = n;
  // The simulation starts from this scan at its own time.
  d.record = s.records[j];
  if (LammSettings().timesFromW2t && d.record.rpm != 0.0f) {
    const double omega = kOmegaPerRpm * d.record.rpm;
    d.record.timeRead = d.record.w2t / (omega * omega);
  }
  d.equalsFirstScan = position == 1;
  MakeLeftExtrapolation();
  MakeRightExtrapolation();
}

void SetInitialScanToFirst() {
  LammSettings().experimentalInitialDistribution = 1;
  LammSettings().modelInitialDistribution = 0;
  SetInitialScanForSet(1);
}

bool FitTimeDependentScanByScan(FitHost* host) {
  TimeDependentFitState& st = TimeDependentFit();
  std::vector<float> savedP;
  if (!Start(st, savedP)) return false;
  st.increasingSets = 1;
  st.movingSets = 0;
  const ScanSet& s = CurrentScanSet();
  const int N = st.scanCount;
  for (int k = 2; k <= N; ++k) FitSet(host, st, savedP, 1, k, Time(s, k), k - 1);
  Finish(st, savedP);
  return true;
}

bool FitTimeDependentDcdt(FitHost* host, int setSize) {
  TimeDependentFitState& st = TimeDependentFit();
  std::vector<float> savedP;
  if (!Start(st, savedP)) return false;
  st.increasingSets = 0;
  st.movingSets = 1;
  const ScanSet& s = CurrentScanSet();
  const int N = st.scanCount;
  // A set holds W + 1 scans: at least two, at most all of them.
  const int W = std::clamp(setSize, 1, N);
  st.setSize = W;
  SetInitialScanToFirst();
  for (int k = 2; k <= W; ++k) FitSet(host, st, savedP, 1, k, (Time(s, 1) + Time(s, k)) / 2, k - 1);
  for (int j = 1; j <= N - W; ++j)
    FitSet(host, st, savedP, j, j + W, (Time(s, j) + Time(s, j + W)) / 2, W + j - 1);
  Finish(st, savedP);
  return true;
}

std::string TimeDependentMassFile() { return TimeDependentFit().movingSets ? "MWdcdt.dat" : "MW(t).dat"; }
std::string TimeDependentSFile() { return TimeDependentFit().movingSets ? "Sdcdt.dat" : "S(t).dat"; }

bool SaveTimeDependentResults(const std::string& folder) {
  const TimeDependentFitState& st = TimeDependentFit();
  std::string f = folder;
  if (!f.empty() && f.back() != '/') f += '/';
  const bool mass = WriteSeries(f + TimeDependentMassFile(), st.times, st.molarMasses, st.entries);
  const bool sed = WriteSeries(f + TimeDependentSFile(), st.times, st.sedimentation, st.entries);
  return mass && sed;
}
