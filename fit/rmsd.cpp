#include "fit/rmsd.h"

#include <algorithm>
#include <cmath>

#include "data/scan_set.h"
#include "fit/fit_engine_state.h"

RmsdScanRange gRmsdScanRange;

void RmsdScanSpan(int& first, int& last) {
  const ScanSet& ss = CurrentScanSet();
  first = 1;
  last = ss.count;
  if (gRmsdScanRange.rangeOn) {
    first = gRmsdScanRange.first < 1 ? 1 : gRmsdScanRange.first;
    last = gRmsdScanRange.last > ss.count ? ss.count : gRmsdScanRange.last;
  } else if (gRmsdScanRange.firstScanExcluded) {
    first = 2;
  }
}

float CalcRmsd() {
  const ScanSet& ss = CurrentScanSet();
  FitEngineState& fs = gFitEngineState;
  if (ss.count < 1 || static_cast<int>(ss.signals.size()) <= ss.count ||
      static_cast<int>(ss.model.size()) <= ss.count)
    return 0.0f;
  int first = 1, last = ss.count;
  RmsdScanSpan(first, last);
  double sum = 0.0;
  long count = 0;
  for (int pos = first; pos <= last; ++pos) {
    const int scan = static_cast<int>(ss.order.size()) > pos ? ss.order[pos] : pos;
    const float* signal = ss.signals[scan];
    const float* model = ss.model[scan];
    if (!signal || !model) continue;
    for (int k = ss.firstFitPoint[scan]; k <= ss.lastFitPoint[scan]; ++k) {
      const float d = signal[k] - model[k];
      sum += static_cast<double>(d) * d;
      ++count;
    }
  }
  const float rmsd = count > 0 ? static_cast<float>(std::sqrt(sum / static_cast<double>(count))) : 0.0f;
  fs.currentRmsd = rmsd;
  fs.rmsdPointCount = static_cast<float>(count);
  return rmsd;
}

bool ResidualsRunTogether(double standardErrors) {
  const ScanSet& ss = CurrentScanSet();
  if (ss.count < 1 || static_cast<int>(ss.signals.size()) <= ss.count ||
      static_cast<int>(ss.model.size()) <= ss.count)
    return false;
  int first = 1, last = ss.count;
  RmsdScanSpan(first, last);
  double squares = 0.0, steps = 0.0;
  long differences = 0;
  for (int pos = first; pos <= last; ++pos) {
    const int scan = static_cast<int>(ss.order.size()) > pos ? ss.order[pos] : pos;
    const float* signal = ss.signals[scan];
    const float* model = ss.model[scan];
    if (!signal || !model) continue;
    double before = 0.0;
    for (int k = ss.firstFitPoint[scan]; k <= ss.lastFitPoint[scan]; ++k) {
      const double d = static_cast<double>(signal[k]) - model[k];
      squares += d * d;
      if (k > ss.firstFitPoint[scan]) {
        steps += (d - before) * (d - before);
        ++differences;
      }
      before = d;
    }
  }
  if (differences < 2 || !(squares > 0.0)) return false;
  const double ratio = steps / squares;
  return ratio < 2.0 - standardErrors * 2.0 / std::sqrt(static_cast<double>(differences));
}

double RmsdSquareSum() {
  const FitEngineState& fs = gFitEngineState;
  const double rmsd = fs.currentRmsd;
  return rmsd * rmsd * static_cast<double>(fs.rmsdPointCount);
}

FittedData FittedDataInsideTheFitLimits() {
  const ScanSet& ss = CurrentScanSet();
  FittedData d;
  if (static_cast<int>(ss.firstFitPoint.size()) <= ss.count || static_cast<int>(ss.lastFitPoint.size()) <= ss.count ||
      static_cast<int>(ss.signals.size()) <= ss.count)
    return d;
  for (int scan = 1; scan <= ss.count; ++scan) {
    const float* signal = ss.signals[scan];
    if (ss.lastFitPoint[scan] < ss.firstFitPoint[scan]) continue;
    d.points += ss.lastFitPoint[scan] - ss.firstFitPoint[scan] + 1;
    if (!signal) continue;
    for (int k = ss.firstFitPoint[scan]; k <= ss.lastFitPoint[scan]; ++k) {
      const double v = signal[k];
      d.squares += v * v;
      d.largest = std::max(d.largest, std::fabs(v));
    }
  }
  return d;
}

long PointsInsideTheFitLimits() { return FittedDataInsideTheFitLimits().points; }
