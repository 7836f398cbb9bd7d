#include "data/fluorescence_corrections.h"

#include <cmath>
#include <cstddef>

#include "data/scan_set.h"

namespace {

FdsSignalParams g_params;
NonlinearDetectionTables g_tables;
std::function<void(int&, int&)> g_scanSpan;

using Table = std::vector<std::vector<float>>;

// The power entered may be anything; a power of 0 or below would send every
// value above the baseline to 1 + baseline, so it is taken as 0.01.
double UsablePower(double p) { return p > 0.0 ? p : 0.01; }

bool TablesMissing() {
  return g_tables.untransformedSignals.empty() || g_tables.untransformedModel.empty() ||
         g_tables.transformedSignals.empty() || g_tables.transformedModel.empty();
}

// The tables keep the point counts of the scans they were made from; after
// an exclusion or a new load they must be made again, or copying back
// would run past the shortened scans.
bool TablesMatchScans(const ScanSet& s) {
  if (static_cast<int>(g_tables.untransformedSignals.size()) != s.count + 1) return false;
  for (int i = 1; i <= s.count; ++i)
    if (static_cast<int>(g_tables.untransformedSignals[i].size()) != s.points[i] + 1) return false;
  return true;
}

void CopyIn(const float* from, int n, std::vector<float>& to) {
  to.assign(static_cast<std::size_t>(n) + 1, 0.0f);
  if (from)
    for (int k = 1; k <= n; ++k) to[k] = from[k];
}

void CopyOut(const std::vector<float>& from, float* to) {
  if (!to) return;
  for (std::size_t k = 1; k < from.size(); ++k) to[k] = from[k];
}

void MapInto(const std::vector<float>& from, std::vector<float>& to, double p, double b) {
  to.resize(from.size());
  for (std::size_t k = 1; k < from.size(); ++k) to[k] = static_cast<float>(NonlinearDetectionMap(from[k], p, b));
}

float TableRmsd(const Table& data, const Table& model) {
  const ScanSet& s = CurrentScanSet();
  int first = 1, last = s.count;
  if (g_scanSpan) g_scanSpan(first, last);
  if (first < 1) first = 1;
  if (last > s.count) last = s.count;
  double sum = 0.0;
  long count = 0;
  for (int pos = first; pos <= last; ++pos) {
    const int scan = static_cast<int>(s.order.size()) > pos ? s.order[pos] : pos;
    if (scan < 1 || scan >= static_cast<int>(data.size()) || scan >= static_cast<int>(model.size())) continue;
    const int lastPoint = static_cast<int>(data[scan].size()) - 1;
    const int from = static_cast<int>(s.firstFitPoint.size()) > scan ? s.firstFitPoint[scan] : 1;
    const int to = static_cast<int>(s.lastFitPoint.size()) > scan ? s.lastFitPoint[scan] : lastPoint;
    for (int k = from < 1 ? 1 : from; k <= to && k <= lastPoint; ++k) {
      const double d = static_cast<double>(data[scan][k]) - model[scan][k];
      sum += d * d;
      ++count;
    }
  }
  return count > 0 ? static_cast<float>(std::sqrt(sum / static_cast<double>(count))) : 0.0f;
}

void UpdateRmsds() {
  g_tables.rmsdTransformed = TableRmsd(g_tables.transformedSignals, g_tables.transformedModel);
  g_tables.rmsdUntransformed = TableRmsd(g_tables.untransformedSignals, g_tables.untransformedModel);
}

// The scans changed under the tables (points excluded): the copies are made
// again from what the scans show, the other space through the map or its
// inverse, so the transform held stays valid.
void RemakeFromShownScans() {
  const bool shown = g_params.transformShown != 0;
  const double p = g_params.appliedPower;
  const double b = g_params.appliedBaseline;
  AllocNonlinearDetectionTables();
  const double q = p > 0.0 ? 1.0 / p : 0.0;
  const ScanSet& s = CurrentScanSet();
  for (int i = 1; i <= s.count; ++i) {
    if (shown) {
      MapInto(g_tables.transformedSignals[i], g_tables.untransformedSignals[i], q, b);
      MapInto(g_tables.transformedModel[i], g_tables.untransformedModel[i], q, b);
    } else {
      MapInto(g_tables.untransformedSignals[i], g_tables.transformedSignals[i], p, b);
      MapInto(g_tables.untransformedModel[i], g_tables.transformedModel[i], p, b);
    }
  }
  g_params.appliedPower = p;
  g_params.appliedBaseline = b;
  g_params.transformShown = shown ? 1 : 0;
}

}  // namespace

FdsSignalParams& CurrentFdsSignalParams() { return g_params; }

void SwitchOffFluorescenceCorrections(FdsSignalParams& p) {
  p.useConvolution = p.fitConvolutionWidth = 0;
  p.useDepletion = p.fitDepletionS = p.fitDepletionD = p.fitDepletionAmplitude = p.fitDepletionKs = 0;
  p.useShadow = p.fitConeRadius = 0;
  p.useDrift = p.useExponentialDrift = p.fitDriftRate = p.fitLimitingLevel = 0;
  p.useLinearDrift = p.fitLinearDrift = 0;
  p.useRadialGradient = p.fitRadialGradient = 0;
  p.useNonlinearDetection = p.fitDetectionPower = 0;
}
NonlinearDetectionTables& CurrentNonlinearDetectionTables() { return g_tables; }

double NonlinearDetectionMap(double x, double power, double baseline) {
  return x > baseline ? std::pow(x - baseline, power) + baseline : x;
}

bool AllocNonlinearDetectionTables() {
  const ScanSet& s = CurrentScanSet();
  if (s.count < 1) return false;
  FreeNonlinearDetectionTables();
  const std::size_t n = static_cast<std::size_t>(s.count) + 1;
  g_tables.untransformedSignals.resize(n);
  g_tables.untransformedModel.resize(n);
  g_tables.transformedSignals.resize(n);
  g_tables.transformedModel.resize(n);
  for (int i = 1; i <= s.count; ++i) {
    const float* signal = static_cast<int>(s.signals.size()) > i ? s.signals[i] : nullptr;
    const float* model = static_cast<int>(s.model.size()) > i ? s.model[i] : nullptr;
    CopyIn(signal, s.points[i], g_tables.untransformedSignals[i]);
    CopyIn(signal, s.points[i], g_tables.transformedSignals[i]);
    CopyIn(model, s.points[i], g_tables.untransformedModel[i]);
    CopyIn(model, s.points[i], g_tables.transformedModel[i]);
  }
  g_params.appliedPower = 1.0;
  g_params.appliedBaseline = 0.0;
  g_params.transformShown = 0;
  return true;
}

void FreeNonlinearDetectionTables() {
  g_tables.untransformedSignals.clear();
  g_tables.untransformedModel.clear();
  g_tables.transformedSignals.clear();
  g_tables.transformedModel.clear();
  g_params.transformShown = 0;
}

bool NonlinearDetectionTransformScans(double power, double baseline, bool show) {
  ScanSet& s = CurrentScanSet();
  if (s.count < 1 || !g_params.useNonlinearDetection) return false;
  const double p = UsablePower(power);
  if (TablesMissing()) {
    AllocNonlinearDetectionTables();
  } else if (!TablesMatchScans(s)) {
    RemakeFromShownScans();
  }
  if (p != g_params.appliedPower || baseline != g_params.appliedBaseline) {
    for (int i = 1; i <= s.count; ++i) {
      MapInto(g_tables.untransformedSignals[i], g_tables.transformedSignals[i], p, baseline);
      MapInto(g_tables.untransformedModel[i], g_tables.transformedModel[i], p, baseline);
    }
  }
  g_params.appliedPower = p;
  g_params.appliedBaseline = baseline;
  g_params.transformShown = show ? 1 : 0;
  const Table& signals = show ? g_tables.transformedSignals : g_tables.untransformedSignals;
  const Table& model = show ? g_tables.transformedModel : g_tables.untransformedModel;
  for (int i = 1; i <= s.count; ++i) {
    if (static_cast<int>(s.signals.size()) > i) CopyOut(signals[i], s.signals[i]);
    if (static_cast<int>(s.model.size()) > i) CopyOut(model[i], s.model[i]);
  }
  UpdateRmsds();
  return true;
}

bool ReapplyNonlinearDetection() {
  if (CurrentScanSet().count < 1 || !g_params.useNonlinearDetection || g_tables.transformGuard) return false;
  return NonlinearDetectionTransformScans(g_params.appliedPower, g_params.appliedBaseline,
                                          g_params.showTransformed != 0);
}

bool NonlinearDetectionInverse() {
  const ScanSet& s = CurrentScanSet();
  if (s.count < 1 || !g_params.useNonlinearDetection || TablesMissing() || !TablesMatchScans(s)) return false;
  const double p = g_params.appliedPower;
  const double b = g_params.appliedBaseline;
  const double q = p > 0.0 ? 1.0 / p : 0.0;
  Table& shown = g_params.transformShown ? g_tables.transformedModel : g_tables.untransformedModel;
  Table& other = g_params.transformShown ? g_tables.untransformedModel : g_tables.transformedModel;
  for (int i = 1; i <= s.count; ++i) {
    const float* model = static_cast<int>(s.model.size()) > i ? s.model[i] : nullptr;
    CopyIn(model, s.points[i], shown[i]);
    MapInto(shown[i], other[i], g_params.transformShown ? q : p, b);
  }
  UpdateRmsds();
  return true;
}

float NonlinearDetectionRmsd() { return g_tables.rmsdUntransformed; }

void SetNonlinearDetectionScanSpan(std::function<void(int&, int&)> span) { g_scanSpan = std::move(span); }
