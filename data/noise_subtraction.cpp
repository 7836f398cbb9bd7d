#include "data/noise_subtraction.h"

#include <algorithm>

#include "data/data_messages.h"
#include "data/load_hooks.h"
#include "data/realtime_update.h"
#include "data/scan_grid.h"
#include "data/scan_set.h"
#include "numerics/arrays.h"
#include "numerics/regrid.h"

namespace {

bool Usable() {
  const ScanSet& s = CurrentScanSet();
  return !CurrentDataTypeFlags().dls && s.count > 0;
}

bool HaveGrid(const ScanSet& s) { return s.gridLength > 0 && s.grid && s.tiNoise; }

// sign x the grid profile moved onto each scan's radii, added to signals and
// model values; the same, point by point, to separate grid copies.
void ApplyGridProfile(const float* profile, float sign) {
  ScanSet& s = CurrentScanSet();
  for (int i = 1; i <= s.count; ++i) {
    const int n = s.points[i];
    FloatVec onScan(1, std::max(n, 1));
    for (int k = 1; k <= n; ++k) onScan[k] = 0.0f;
    InterpolateOntoGrid(n, s.radii[i], onScan, s.gridLength, s.grid, profile);
    for (int k = 1; k <= n; ++k) {
      s.signals[i][k] += sign * onScan[k];
      if (s.model[i]) s.model[i][k] += sign * onScan[k];
    }
  }
  if (s.gridOwned) {
    for (int i = 1; i <= s.count; ++i)
      for (int j = 1; j <= s.gridLength; ++j) s.gridSignals[i][j] += sign * profile[j];
  }
}

void RefreshStatistics() {
  ScanSet& s = CurrentScanSet();
  if (HaveGrid(s) && s.meanProfile && s.scanMeans) {
    for (int j = 1; j <= s.gridLength; ++j) {
      double sum = 0;
      for (int i = 1; i <= s.count; ++i) sum += s.gridSignals[i][j];
      s.meanProfile[j] = static_cast<float>(sum / s.count);
    }
    for (int i = 1; i <= s.count; ++i) {
      double sum = 0;
      for (int j = 1; j <= s.gridLength; ++j) sum += s.gridSignals[i][j];
      s.scanMeans[i] = static_cast<float>(sum / s.gridLength);
    }
  }
  CurrentLoadHooks().computeTINoiseProfile();
}

void PushZoomAndRedraw() {
  const ScanSet& s = CurrentScanSet();
  LoadHooks& h = CurrentLoadHooks();
  const int first = s.firstGridPoint, last = s.lastGridPoint;
  bool ranged = false;
  if (HaveGrid(s) && first >= 1 && last >= first && last <= s.gridLength) {
    const float xMin = s.grid[first] - 0.01f, xMax = s.grid[last] + 0.01f;
    float lo = s.gridSignals[s.order[1]][first], hi = lo;
    for (int k = 1; k <= s.count; ++k) {
      const float* g = s.gridSignals[s.order[k]];
      for (int j = first; j <= last; ++j) {
        lo = std::min(lo, g[j]);
        hi = std::max(hi, g[j]);
      }
    }
    lo -= 0.1f;
    hi += 0.1f;
    if (hi > lo && xMax > xMin) {
      h.pushDataPlotZoom(xMin, xMax, lo, hi);
      ranged = true;
    }
  }
  if (!ranged) h.redrawDataPlot(true);
  h.updateResidualsPlot();
  h.updateResidualHistogram();
}

// Steps 1 to 3 of the TI subtraction.
void TakeOutTINoise() {
  ScanSet& s = CurrentScanSet();
  if (!HaveGrid(s)) return;
  ApplyGridProfile(s.tiNoise, -1.0f);
  for (int j = 1; j <= s.gridLength; ++j) {
    if (s.tiNoiseSubtracted) s.tiNoiseSubtracted[j] += s.tiNoise[j];
    s.tiNoise[j] = 0.0f;
  }
}

void TakeOutRINoise() {
  ScanSet& s = CurrentScanSet();
  if (!s.riNoise) return;
  for (int k = 1; k <= s.count; ++k) {
    const int i = s.order[k];
    const float ri = s.riNoise[i];
    for (int p = 1; p <= s.points[i]; ++p) {
      s.signals[i][p] -= ri;
      if (s.model[i]) s.model[i][p] -= ri;
    }
    if (s.gridOwned && s.gridSignals[i])
      for (int j = 1; j <= s.gridLength; ++j) s.gridSignals[i][j] -= ri;
    // Kept, as the TI noise is, so that the noise reported stays the whole
    // noise found and the data can be put back together.
    if (s.riNoiseSubtracted) s.riNoiseSubtracted[i] += ri;
    s.riNoise[i] = 0.0f;
  }
}

}  // namespace

void SubtractTINoiseFromData() {
  if (!Usable() || !*CurrentLoadTargets().tiNoiseFitted) return;
  TakeOutTINoise();
  RefreshStatistics();
  PushZoomAndRedraw();
}

void RestoreTINoise() {
  if (!Usable() || !*CurrentLoadTargets().tiNoiseFitted) return;
  ScanSet& s = CurrentScanSet();
  if (!HaveGrid(s) || !s.tiNoiseSubtracted) return;
  ApplyGridProfile(s.tiNoiseSubtracted, +1.0f);
  for (int j = 1; j <= s.gridLength; ++j) {
    s.tiNoise[j] += s.tiNoiseSubtracted[j];
    s.tiNoiseSubtracted[j] = 0.0f;
  }
  RefreshStatistics();
  PushZoomAndRedraw();
}

void SubtractRINoiseFromData() {
  if (!Usable() || !*CurrentLoadTargets().riNoiseFitted) return;
  TakeOutRINoise();
  RefreshStatistics();
  PushZoomAndRedraw();
}

void SubtractAllSystematicNoise() {
  if (!Usable() || !*CurrentLoadTargets().riNoiseFitted) return;
  TakeOutRINoise();
  RefreshStatistics();
  TakeOutTINoise();
  RefreshStatistics();
  PushZoomAndRedraw();
}

void SubtractBaselineFromData() {
  const LoadTargets& t = CurrentLoadTargets();
  if (!Usable() || !*t.fittedBaseline) return;
  ScanSet& s = CurrentScanSet();
  const float b = *t.baseline;
  for (int k = 1; k <= s.count; ++k) {
    const int i = s.order[k];
    for (int p = 1; p <= s.points[i]; ++p) {
      s.signals[i][p] -= b;
      if (s.model[i]) s.model[i][p] -= b;
    }
    if (s.gridOwned && s.gridSignals[i])
      for (int j = 1; j <= s.gridLength; ++j) s.gridSignals[i][j] -= b;
  }
  *t.baseline = 0.0f;
  RefreshStatistics();
  PushZoomAndRedraw();
}

bool RunNoiseCommand(int commandId) {
  const ScanSet& s = CurrentScanSet();
  const LoadTargets& t = CurrentLoadTargets();
  LoadHooks& h = CurrentLoadHooks();
  const bool quiet = CurrentRealtimeState().running || !*t.infoMessages;
  const char* tail =
      "\nThis is for presentation purpose, the analysis is invariant to this.\nHowever, all "
      "subsquent analyses must include ";
  switch (commandId) {
    case 508:
      if (s.count <= 0 || !*t.tiNoiseFitted) return false;
      if (!quiet)
        data_messages::Box("ATTENTION", std::string("This operation subtracts the current calculated TI noise from the raw data.") +
                                            tail + "TI noise calculation, otherwise a bias is introduced.");
      SubtractTINoiseFromData();
      break;
    case 509:
      if (s.count <= 0 || !*t.riNoiseFitted) return false;
      if (!quiet)
        data_messages::Box("ATTENTION", std::string("This operation subtracts the current calculated RI noise from the raw data.") +
                                            tail + "RI noise (jitter) calculation, otherwise a bias is introduced.");
      SubtractRINoiseFromData();
      break;
    case 519:
      if (s.count <= 0 || !*t.riNoiseFitted) return false;
      h.animateNoiseButton();
      if (!quiet)
        data_messages::Box("ATTENTION",
                           std::string("This operation subtracts the current calculated systematic (TI and RI) noise from the raw data.") +
                               tail + "TI and RI noise (jitter) calculation, otherwise a bias is introduced.");
      SubtractAllSystematicNoise();
      break;
    case 607:
      if (s.count <= 0 || !*t.tiNoiseFitted) return false;
      RestoreTINoise();
      break;
    case 576:
      if (s.count <= 0 || !h.bufferSedimentationOn()) return false;
      if (!quiet)
        data_messages::Box(
            "ATTENTION",
            "This operation subtracts the current estimate of the buffer mismatch from the raw "
            "data.\nThis is for presentation purpose and inspection after finalizing the "
            "analysis.\nIf the data are subject to further analysis a bias may be introduced from "
            "the current estimate of the buffer mismatch");
      h.updateBufferSedimentation(true);
      h.switchOffBufferSedimentation();
      PrepareScanGrid();
      h.computeTINoiseProfile();
      h.showDataRange();
      return true;
    default:
      return false;
  }
  h.invalidateWindow();
  return true;
}
