#include "plot/adhoc_plot_arrays.h"

#include <cmath>
#include <cstdio>

#include "data/rotor_speed_profile.h"
#include "data/scan_set.h"
#include "numerics/arrays.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "platform/sounds.h"
#include "platform/user_interface.h"
#include "plot/adhoc_plot.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"
#include "plot/residual_statistics.h"

AdHocPlotArrays& CurrentAdHocPlot() {
  static AdHocPlotArrays arrays;
  return arrays;
}

AdHocObjectState& CurrentAdHocObject() {
  static AdHocObjectState state;
  return state;
}

namespace {

constexpr int kHistogramCommand = 943;

void RequestRepaint() {
  if (PlotHooks().requestRepaint) PlotHooks().requestRepaint();
}

CVector* ViewOf(float* a, int n) {
  auto* v = new CVector();
  v->Attach(a, n, 1);
  return v;
}

// A new plot over the whole plot area.
CWINPlot* WholeAreaPlot() {
  const PlotWindowSet& w = CurrentPlotWindows();
  auto* plot = new CWINPlot;
  plot->SetPlotRect(w.dataTop, w.layoutLeft, w.areaBottom, w.layoutRight);
  return plot;
}

// The buffers, views, curves and plot of the first ad-hoc plot. A command
// issued before the painting showed the previous plot replaces it, so the
// previous one is released first instead of being lost.
void ReleaseFirstPlot(AdHocPlotArrays& a) {
  for (int k = 1; k <= 10; ++k) {
    if (a.adHocArrays[k]) free_vector(a.adHocArrays[k], 1, a.adHocCount > 0 ? a.adHocCount : 1);
    a.adHocArrays[k] = nullptr;
  }
  delete a.adHocPlot;
  a.adHocPlot = nullptr;
  for (int k = 1; k <= 10; ++k) {
    delete a.adHocViews[k];
    a.adHocViews[k] = nullptr;
  }
  for (int k = 1; k <= 9; ++k) {
    delete a.adHocCurves[k];
    a.adHocCurves[k] = nullptr;
  }
  a.adHocCount = 0;
}

// Elapsed time as read against temperature or rotor speed, in time order.
void ShowTimePlot(bool temperature) {
  const ScanSet& s = CurrentScanSet();
  AdHocPlotArrays& a = CurrentAdHocPlot();
  const int n = s.count;
  if (n < 1) return;
  ReleaseFirstPlot(a);
  a.adHocArrays[1] = vector(1, n);
  a.adHocArrays[2] = vector(1, n);
  a.adHocCount = n;
  for (int i = 1; i <= n; ++i) {
    const int scan = static_cast<int>(s.order.size()) > i && s.order[static_cast<size_t>(i)] > 0
                         ? s.order[static_cast<size_t>(i)]
                         : i;
    const ScanRecord& r = s.records[static_cast<size_t>(scan)];
    a.adHocArrays[1][i] = static_cast<float>(r.timeRead);
    a.adHocArrays[2][i] = temperature ? r.temperature : r.rpm;
  }
  a.adHocViews[1] = ViewOf(a.adHocArrays[1], n);
  a.adHocViews[2] = ViewOf(a.adHocArrays[2], n);
  a.adHocCurves[1] = new CCurve(a.adHocViews[1], a.adHocViews[2]);
  a.adHocPlot = WholeAreaPlot();
  CWINPlot& p = *a.adHocPlot;
  p.SetXLabel("elapsed time (sec)");
  p.SetYLabel(temperature ? "temperature (C)" : "rpm");
  p.AddCurve(a.adHocCurves[1]);
  if (temperature || !CurrentSpeedProfile.inUse) p.ToggleDisplayOption();
  p.SetCurveStyle(0, 6);
  p.symbolSize = n >= 100 ? 5 : 10;
  ErrorBarHalfWidth = static_cast<int>(std::floor(1.5 * p.symbolSize));
  if (!temperature) a.rotorSpeedOverlay = 1;
  RequestRepaint();
}

}  // namespace

void ShowAdHocXYPlot(const float* x, const float* y, int n, const char* xLabel, const char* yLabel,
                     int symbolStyle, int highlightFirst, int highlightLast) {
  AdHocPlotArrays& a = CurrentAdHocPlot();
  ReleaseFirstPlot(a);
  if (n < 1) return;
  a.adHocArrays[1] = vector(1, n);
  a.adHocArrays[2] = vector(1, n);
  a.adHocCount = n;
  for (int i = 1; i <= n; ++i) {
    a.adHocArrays[1][i] = x[i];
    a.adHocArrays[2][i] = y[i];
  }
  a.adHocViews[1] = ViewOf(a.adHocArrays[1], n);
  a.adHocViews[2] = ViewOf(a.adHocArrays[2], n);
  a.adHocCurves[1] = new CCurve(a.adHocViews[1], a.adHocViews[2]);
  const PlotWindowSet& w = CurrentPlotWindows();
  a.adHocPlot = new CWINPlot;
  a.adHocPlot->SetPlotRect(w.dataTop, w.layoutLeft, w.dataBottom, w.layoutRight);
  CWINPlot& p = *a.adHocPlot;
  p.SetXLabel(xLabel);
  p.SetYLabel(yLabel);
  p.AddCurve(a.adHocCurves[1]);
  if (symbolStyle > 0) {
    p.ToggleDisplayOption();
    p.SetCurveStyle(0, symbolStyle);
    p.symbolSize = n >= 100 ? 5 : 10;
  }
  if (highlightFirst >= 1 && highlightLast >= highlightFirst && highlightLast <= n) {
    const int m = highlightLast - highlightFirst + 1;
    a.adHocViews[3] = ViewOf(a.adHocArrays[1] + highlightFirst - 1, m);
    a.adHocViews[4] = ViewOf(a.adHocArrays[2] + highlightFirst - 1, m);
    a.adHocCurves[2] = new CCurve(a.adHocViews[3], a.adHocViews[4]);
    p.AddCurve(a.adHocCurves[2]);
    p.SetCurveStyle(1, 12);
    p.SetCurveColor(1, 0x0000ff);
  }
  RequestRepaint();
}

void ShowAdHocPointsAndLine(const float* x, const float* y, const float* lineX, const float* lineY, int n,
                            const char* xLabel, const char* yLabel, const char* annotation, float yLow,
                            float yHigh) {
  AdHocPlotArrays& a = CurrentAdHocPlot();
  ReleaseFirstPlot(a);
  if (n < 1) return;
  const float* sources[5] = {nullptr, x, y, lineX, lineY};
  for (int k = 1; k <= 4; ++k) {
    a.adHocArrays[k] = vector(1, n);
    for (int i = 1; i <= n; ++i) a.adHocArrays[k][i] = sources[k][i];
    a.adHocViews[k] = ViewOf(a.adHocArrays[k], n);
  }
  a.adHocCount = n;
  a.adHocCurves[1] = new CCurve(a.adHocViews[1], a.adHocViews[2]);
  a.adHocCurves[2] = new CCurve(a.adHocViews[3], a.adHocViews[4]);
  a.adHocPlot = WholeAreaPlot();
  CWINPlot& p = *a.adHocPlot;
  p.SetXLabel(xLabel);
  p.SetYLabel(yLabel);
  p.AddCurve(a.adHocCurves[1]);
  p.AddCurve(a.adHocCurves[2]);
  p.SetCurveStyle(0, 6);   // circles, not joined
  p.SetCurveStyle(1, -1);  // a line
  p.symbolSize = 10;
  if (annotation) p.SetAnnotation3(annotation);
  if (yLow < yHigh) p.SetYRange(yLow, yHigh);
  RequestRepaint();
}

void ShowTemperaturePlot() { ShowTimePlot(true); }
void ShowRotorSpeedPlot() { ShowTimePlot(false); }

void ShowResidualsHistogram() {
  if (CurrentDataTypeFlags().dls) return;
  PlotWindowSet& w = CurrentPlotWindows();
  const PlotWindowHooks& h = PlotHooks();
  const bool on = w.showHistogram != 0;
  const int answer =
      platform::UI().MessageBox("SET PREFERENCE", on ? "switch default histogram display off?"
                                                     : "switch default histogram display on?",
                                platform::BoxButtons::YesNo, platform::BoxIcon::Question);
  if (answer == platform::IDYES) {
    w.showHistogram = on ? 0 : 1;
    if (h.checkMenuItem) h.checkMenuItem(kHistogramCommand, !on);
    RelayoutAndRedrawPlots();
    if (h.invalidate) h.invalidate(true);
    return;
  }
  if (CurrentScanSet().count < 1) return;
  float *centres = nullptr, *lower = nullptr, *upper = nullptr, *counts = nullptr, *gauss = nullptr;
  const int n = ComputeResidualStatistics(&centres, &lower, &upper, &counts, &gauss, nullptr);
  if (n < 1) return;
  AdHocPlotArrays& a = CurrentAdHocPlot();
  ReleaseFirstPlot(a);
  for (int k = 1; k <= 5; ++k) a.adHocArrays[k] = vector(1, n);
  a.adHocCount = n;
  for (int i = 1; i <= n; ++i) {
    a.adHocArrays[1][i] = centres[i];
    a.adHocArrays[2][i] = counts[i];
    a.adHocArrays[3][i] = gauss[i];
    a.adHocArrays[4][i] = lower[i];
    a.adHocArrays[5][i] = upper[i];
  }
  for (int k = 1; k <= 3; ++k) a.adHocViews[k] = ViewOf(a.adHocArrays[k], n);
  a.adHocCurves[1] = new CCurve(a.adHocViews[1], a.adHocViews[2]);
  a.adHocCurves[2] = new CCurve(a.adHocViews[1], a.adHocViews[3]);
  a.adHocPlot = WholeAreaPlot();
  CWINPlot& p = *a.adHocPlot;
  p.SetXLabel("residual value");
  p.SetYLabel("frequency");
  p.AddCurve(a.adHocCurves[1]);
  p.AddCurve(a.adHocCurves[2]);
  p.ToggleDisplayOption();
  p.SetCurveStyle(0, 21);
  p.AttachCurveArrays(0, a.adHocArrays[4], a.adHocArrays[5], n);
  p.SetCurveColor(0, 0x646464);
  p.SetCurveStyle(1, 12);
  p.SetCurveColor(1, 0x0000ff);
  for (float* array : {centres, lower, upper, counts, gauss}) free_vector(array, 1, n);
  RequestRepaint();
}

bool CheckTemperatureFluctuations(float limit) {
  const ScanSet& s = CurrentScanSet();
  if (s.count < 2) return true;
  auto temperatureAt = [&](int i) {
    const int scan = static_cast<int>(s.order.size()) > i && s.order[static_cast<size_t>(i)] > 0
                         ? s.order[static_cast<size_t>(i)]
                         : i;
    return s.records[static_cast<size_t>(scan)].temperature;
  };
  const float base = temperatureAt(1);
  bool exceeded = false;
  for (int i = 2; i <= s.count && !exceeded; ++i) exceeded = std::fabs(temperatureAt(i) - base) > limit;
  if (!exceeded) return true;
  ShowTemperaturePlot();
  char text[100];
  std::snprintf(text, sizeof text, "temperature fluctuations exceed %.1f degrees", limit);
  PlaySoundError();
  platform::Tell("ERROR", text, platform::BoxIcon::Error);
  RequestRepaint();
  return false;
}

void FreeAdHocPlotArrays() {
  AdHocPlotArrays& a = CurrentAdHocPlot();
  a.rotorSpeedOverlay = 0;
  for (int k = 1; k <= 3; ++k) {
    const int n = a.adHocPairCount[k] > 0 ? a.adHocPairCount[k] : 1;
    for (int j = 0; j < 2; ++j) {
      if (a.adHocPairs[k][j]) free_vector(a.adHocPairs[k][j], 1, n);
      a.adHocPairs[k][j] = nullptr;
    }
    a.adHocPairCount[k] = 0;
  }
  ReleaseFirstPlot(a);
  for (int k = 1; k <= 6; ++k) {
    delete a.adHocPairViews[k];
    a.adHocPairViews[k] = nullptr;
  }
  for (int k = 1; k <= 3; ++k) {
    delete a.adHocPairCurves[k];
    a.adHocPairCurves[k] = nullptr;
  }
  a.adHocKeepRanges = 0;
  delete a.adHocPlot2;
  a.adHocPlot2 = nullptr;
  for (int k = 1; k <= 4; ++k) {
    if (a.adHocArrays2[k]) free_vector(a.adHocArrays2[k], 1, a.adHocCount2 > 0 ? a.adHocCount2 : 1);
    a.adHocArrays2[k] = nullptr;
    delete a.adHocViews2[k];
    a.adHocViews2[k] = nullptr;
  }
  for (int k = 1; k <= 3; ++k) {
    delete a.adHocCurves2[k];
    a.adHocCurves2[k] = nullptr;
  }
  a.adHocCount2 = 0;
}

void ResetAdHocPlot() {
  AdHocObjectState& o = CurrentAdHocObject();
  delete o.adHocObject;  // owns its plot
  o.adHocObject = nullptr;
  o.adHocObjectPlot = nullptr;
  o.keepAdHocObject = 0;
}

bool PaintPendingAdHocPlot(platform::DrawSurface& window, const std::function<void()>& drawOverlay) {
  AdHocPlotArrays& a = CurrentAdHocPlot();
  if (!a.adHocPlot) return false;
  if (!a.adHocKeepRanges) a.adHocPlot->Rescale();
  a.adHocPlot->Plot();
  ReplayPlotPicture(window, a.adHocPlot->lastMetafile);
  // A second plot (an inset) keeps the ranges it was given.
  if (a.adHocPlot2 && a.adHocPlot2->Plot()) ReplayPlotPicture(window, a.adHocPlot2->lastMetafile);
  if (a.rotorSpeedOverlay && drawOverlay) drawOverlay();
  FreeAdHocPlotArrays();
  a.adHocShown = 1;
  return true;
}
