#include "plot/plot_window_set.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "data/scan_set.h"
#include "numerics/arrays.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "platform/sounds.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/user_interface.h"
#include "plot/cwinplot.h"
#include "plot/plot_fonts.h"
#include "plot/residual_statistics.h"

using platform::COLORREF;

PlotWindowSet& CurrentPlotWindows() {
  static PlotWindowSet set;
  return set;
}

PlotWindowHooks& PlotHooks() {
  static PlotWindowHooks hooks;
  return hooks;
}

namespace {

bool IsDls() { return CurrentDataTypeFlags().dls != 0; }

int ScanAt(const ScanSet& s, int i) {
  return static_cast<int>(s.order.size()) > i && s.order[static_cast<size_t>(i)] > 0 ? s.order[static_cast<size_t>(i)]
                                                                                   : i;
}

template <typename T>
T* Entry(const std::vector<T*>& table, int i) {
  return i >= 0 && static_cast<size_t>(i) < table.size() ? table[static_cast<size_t>(i)] : nullptr;
}

void ReplacePlot(CWINPlot*& plot, bool create) {
  PlotWindowSet& w = CurrentPlotWindows();
  if (&plot == &w.dataPlot && w.endDataPlotLoan) std::exchange(w.endDataPlotLoan, nullptr)();
  delete plot;
  plot = create ? new CWINPlot : nullptr;
}

// The histogram curve (bars between the bin edges) and its Gaussian.
void AddHistogramCurves() {
  PlotWindowSet& w = CurrentPlotWindows();
  if (!w.histogramPlot || w.binCount < 1 || !w.histogramCurves[1] || !w.histogramCurves[2]) return;
  CWINPlot& h = *w.histogramPlot;
  h.AddCurve(w.histogramCurves[1]);
  const int bars = h.curveCount - 1;
  h.SetCurveStyle(bars, 21);
  h.AttachCurveArrays(bars, w.binArrays[1], w.binArrays[3], w.binCount);
  h.SetCurveColor(bars, 0x646464);
  h.AddCurve(w.histogramCurves[2]);
  const int gauss = h.curveCount - 1;
  h.SetCurveStyle(gauss, 12);
  h.SetCurveColor(gauss, 0x0000ff);
}

void AxisTitles(CWINPlot& data, CWINPlot& residuals) {
  const DataTypeFlags& f = CurrentDataTypeFlags();
  const char* dataTitle = nullptr;
  const char* residualTitle = nullptr;
  if (f.absorbance && !f.fluorescence) {
    dataTitle = "absorbance [OD]";
    residualTitle = "residuals [OD]";
  } else if (f.intensity) {
    dataTitle = residualTitle = "intensity";
  } else if (f.fluorescence) {
    dataTitle = residualTitle = "fluorescence counts";
  } else if (f.interference) {
    dataTitle = residualTitle = "fringes";
  } else if (f.dls) {
    const bool field = PlotHooks().dlsFieldAutocorrelation && PlotHooks().dlsFieldAutocorrelation();
    dataTitle = residualTitle = field ? "g(1) field autocorrelation " : "g(2)-1 intensity autocorrelation ";
  }
  if (dataTitle) data.SetYLabel(dataTitle);
  if (residualTitle) residuals.SetYLabel(residualTitle);
}

// First and last point of scan s inside the fit limits (0 stands for the
// scan's ends).

}  // namespace

// ---------------------------------------------------------------- building

void SetPlotAxisTitles() {
  ScanSet& s = CurrentScanSet();
  if (s.count < 1 || !Entry(s.dataCurve, 1)) return;
  PlotWindowSet& w = CurrentPlotWindows();
  const DataTypeFlags& f = CurrentDataTypeFlags();
  ReplacePlot(w.dataPlot, true);
  ReplacePlot(w.residualPlot, true);
  ReplacePlot(w.histogramPlot, !IsDls());
  LayoutPlotWindows();

  CWINPlot& data = *w.dataPlot;
  CWINPlot& residuals = *w.residualPlot;
  for (int i = 1; i <= s.count; ++i) {
    const int scan = ScanAt(s, i);
    const COLORREF colour = ScanColor(i);
    if (CCurve* c = Entry(s.dataCurve, scan)) {
      data.AddCurve(c);
      data.SetCurveStyle(data.curveCount - 1, f.fluorescence ? -1 : 6);
      data.SetCurveColor(data.curveCount - 1, colour);
    }
    if (CCurve* c = Entry(s.residualCurve, scan)) {
      residuals.AddCurve(c);
      residuals.SetCurveStyle(residuals.curveCount - 1, -1);
      residuals.SetCurveColor(residuals.curveCount - 1, colour);
    }
  }
  if (f.intensity) {
    for (int i = 1; i <= s.count; ++i) {
      CCurve* c = Entry(s.signal2Curve, ScanAt(s, i));
      if (!c) continue;
      data.AddCurve(c);
      data.SetCurveStyle(data.curveCount - 1, 7);
      data.SetCurveColor(data.curveCount - 1, ScanColor(i));
    }
  }
  if (f.interference) {
    data.symbolSize = 0;
    if (s.count > 50)
      for (int i = 0; i < s.count && i < data.curveCount; ++i) data.SetCurveStyle(i, -1);
  } else {
    data.symbolSize = 2;
  }
  data.ShowYAxisTitle();
  if (!IsDls()) AddHistogramCurves();
  AxisTitles(data, residuals);
}

void LayoutPlotWindows() {
  PlotWindowSet& w = CurrentPlotWindows();
  const int scans = CurrentScanSet().count;
  if (w.dataPlot) w.dataPlot->SetPlotRect(w.dataTop, w.layoutLeft, w.dataBottom, w.layoutRight);
  if (w.residualPlot) {
    const int top = w.residualTop + (w.showBitmap ? scans : 0);
    const int right = w.layoutRight - (w.showHistogram ? w.histogramWidth : 0);
    w.residualPlot->SetPlotRect(top, w.layoutLeft, w.areaBottom, right);
  }
  if (w.histogramPlot && w.showHistogram) {
    w.histogramPlot->narrowMargins = 1;
    w.histogramPlot->SetPlotRect(w.residualTop, w.layoutRight - w.histogramWidth + 10, w.areaBottom, w.layoutRight);
  }
}

void RelayoutAndRedrawPlots() {
  PlotWindowSet& w = CurrentPlotWindows();
  LayoutPlotWindows();
  if (w.dataPlot) w.dataPlot->Plot();
  if (w.residualPlot) w.residualPlot->Plot();
  if (w.histogramPlot) w.histogramPlot->Plot();
}

void PlaceDataPlotWindow() {
  PlotWindowSet& w = CurrentPlotWindows();
  if (!w.dataPlot) return;
  w.dataPlot->SetPlotRect(w.dataTop, w.layoutLeft, w.areaBottom, w.layoutRight);
  w.dataPlot->Plot();
}

void PlaceResidualPlotWindow() {
  PlotWindowSet& w = CurrentPlotWindows();
  if (!w.residualPlot) return;
  w.residualPlot->SetPlotRect(w.dataTop, w.layoutLeft, w.areaBottom, w.layoutRight);
  w.residualPlot->Plot();
}

void RedrawDataPlot(bool rescale) {
  CWINPlot* plot = CurrentPlotWindows().dataPlot;
  if (!plot) return;
  if (rescale) plot->Rescale();
  plot->Plot();
}

void UpdateResidualsPlot(bool rescale) {
  PlotWindowSet& w = CurrentPlotWindows();
  ScanSet& s = CurrentScanSet();
  if (!w.residualPlot || s.count < 1) return;
  const bool limited = s.leftFitLimit != 0 && s.rightFitLimit != 0;
  for (int scan = 1; scan <= s.count; ++scan) {
    float* r = Entry(s.residuals, scan);
    const float* y = Entry(s.signals, scan);
    const float* m = Entry(s.model, scan);
    if (!r || !y || !m) continue;
    const int points = s.points[static_cast<size_t>(scan)];
    int first = 1, last = points;
    if (limited) ScanFitRange(s, scan, first, last);
    for (int k = 1; k <= points; ++k) r[k] = (k >= first && k <= last) ? y[k] - m[k] : 0.0f;
  }
  if (limited) {
    if (rescale) w.residualPlot->SetXRangeAutoY(s.leftFitLimit, s.rightFitLimit);
    if (w.scanRmsEnabled) WriteScanRmsFile();
  } else if (rescale) {
    w.residualPlot->Rescale();
  }
  w.residualPlot->Plot();
}

void UpdateResidualHistogram() {
  PlotWindowSet& w = CurrentPlotWindows();
  if (IsDls() || !w.showHistogram || !w.histogramPlot || CurrentScanSet().count < 1) return;
  FillResidualHistogram();
  if (!w.histogramPlot) return;
  w.histogramPlot->Rescale();
  w.histogramPlot->Plot();
}

void FillResidualHistogram() {
  if (IsDls()) return;
  PlotWindowSet& w = CurrentPlotWindows();
  BuildPlotCurves();
  ReplacePlot(w.histogramPlot, true);
  LayoutPlotWindows();
  AddHistogramCurves();
}

void BuildPlotCurves() {
  if (IsDls()) return;
  PlotWindowSet& w = CurrentPlotWindows();
  DeletePlotCurveObjects();
  CreatePlotCurveObjects();
  if (w.binCount < 1) return;
  for (int k = 1; k <= 2; ++k) {
    w.histogramXViews[k] = new CVector();
    w.histogramXViews[k]->Attach(w.binArrays[2], w.binCount, 1);
    w.histogramYViews[k] = new CVector();
    w.histogramYViews[k]->Attach(w.countArrays[k], w.binCount, 1);
    w.histogramCurves[k] = new CCurve(w.histogramXViews[k], w.histogramYViews[k]);
  }
}

void CreatePlotCurveObjects() {
  PlotWindowSet& w = CurrentPlotWindows();
  float *centres = nullptr, *lower = nullptr, *upper = nullptr, *counts = nullptr, *gauss = nullptr;
  const int n = ComputeResidualStatistics(&centres, &lower, &upper, &counts, &gauss, nullptr);
  if (n < 1) return;
  w.binArrays[1] = lower;
  w.binArrays[2] = centres;
  w.binArrays[3] = upper;
  w.countArrays[1] = counts;
  w.countArrays[2] = gauss;
  w.binCount = n;
}

void DeletePlotCurveObjects() {
  PlotWindowSet& w = CurrentPlotWindows();
  // The plot refers to the curves and views; it must not outlive them.
  if (w.histogramPlot) w.histogramPlot->ClearCurves();
  for (int k = 1; k <= 2; ++k) {
    delete w.histogramCurves[k];
    delete w.histogramXViews[k];
    delete w.histogramYViews[k];
    w.histogramCurves[k] = nullptr;
    w.histogramXViews[k] = w.histogramYViews[k] = nullptr;
  }
  const int n = w.binCount > 0 ? w.binCount : 1;
  for (int k = 1; k <= 3; ++k) {
    if (w.binArrays[k]) free_vector(w.binArrays[k], 1, n);
    w.binArrays[k] = nullptr;
  }
  for (int k = 1; k <= 2; ++k) {
    if (w.countArrays[k]) free_vector(w.countArrays[k], 1, n);
    w.countArrays[k] = nullptr;
  }
  w.binCount = 0;
}

void DeletePlotWindows() {
  PlotWindowSet& w = CurrentPlotWindows();
  ReplacePlot(w.dataPlot, false);
  ReplacePlot(w.residualPlot, false);
  ReplacePlot(w.histogramPlot, false);
  DeletePlotCurveObjects();
  // The rating of the scans goes with the plots of them: the scan of that
  // number in data loaded next was never rated.
  w.worstScan = 0;
}

platform::HMETAFILE GetDataPlotMetafile() {
  const CWINPlot* p = CurrentPlotWindows().dataPlot;
  return p ? p->lastMetafile : 0;
}
platform::HMETAFILE GetResidualPlotMetafile() {
  const CWINPlot* p = CurrentPlotWindows().residualPlot;
  return p ? p->lastMetafile : 0;
}
platform::HMETAFILE GetResidualHistogramMetafile() {
  const CWINPlot* p = CurrentPlotWindows().histogramPlot;
  return p ? p->lastMetafile : 0;
}

bool ReplayPlotPicture(platform::DrawSurface& window, platform::HMETAFILE picture) {
  if (!picture) return false;
  auto dc = window.ClientDC();
  dc->SetMapMode(platform::MM_ANISOTROPIC);
  dc->SetWindowExt(PlotSpaceWidth(), PlotSpaceHeight());
  dc->SetViewportExt(window.ClientWidth(), window.ClientHeight());
  return platform::PlayMetaFile(*dc, picture);
}

bool ReplayPlotPictureOnWhite(platform::DrawSurface& window, const CWINPlot& plot) {
  if (!plot.lastMetafile) return false;
  {
    auto dc = window.ClientDC();
    dc->SetMapMode(platform::MM_ANISOTROPIC);
    dc->SetWindowExt(PlotSpaceWidth(), PlotSpaceHeight());
    dc->SetViewportExt(window.ClientWidth(), window.ClientHeight());
    platform::HBRUSH white = platform::CreateSolidBrush(0xffffff);
    platform::HGDIOBJ oldBrush = dc->SelectObject(white);
    platform::HGDIOBJ oldPen = dc->SelectObject(platform::GetStockObject(platform::NULL_PEN));
    const int top = plot.plotTop - PlotFrameMargin - 6;
    const int bottom = plot.plotBottom + PlotFrameMargin + AxisFontHeight + LabelFontHeight + 10;
    dc->Rectangle(0, top, PlotSpaceWidth() + 1, bottom);
    dc->SelectObject(oldPen);
    dc->SelectObject(oldBrush);
    platform::DeleteObject(white);
  }
  return ReplayPlotPicture(window, plot.lastMetafile);
}

// ---------------------------------------------------------------- rmsd file

void WriteScanRmsFile() { WriteScanRmsToFile(ScanRmsFilePath()); }

std::string ScanRmsFilePath() {
  const std::string& path = CurrentPlotWindows().scanRmsPath;
  // A bare name goes beside the data it describes, not into whatever
  // folder the program was started from.
  const std::string& dataFolder = CurrentScanSet().dataFolder;
  if (dataFolder.empty() || !platform::SplitPath(path).folder.empty()) return path;
  return platform::ToNative(platform::Combine(dataFolder, path));
}

// rmsd_s = sqrt(sum over the fit range of residual^2 / points), per scan in
// time order; the scan with the largest one becomes worstScan.
bool WriteScanRmsToFile(const std::string& path) {
  PlotWindowSet& w = CurrentPlotWindows();
  auto refuse = [&w](const char* text) {
    PlaySoundInfo();
    platform::Tell("ERROR", text);
    w.scanRmsEnabled = 0;
    return false;
  };
  // Whole or not at all, and never opened when a pipe stands at its name.
  platform::CheckedOutputFile file(path);
  std::FILE* out = file.get();
  if (!out) return refuse("could not open ScanRms file");
  const ScanSet& s = CurrentScanSet();
  w.worstScan = 0;
  double max = 0;
  for (int i = 1; i <= s.count; ++i) {
    const int scan = ScanAt(s, i);
    int first = 1, last = 0;
    ScanFitRange(s, scan, first, last);
    const int n = last - first + 1;
    const float* r = Entry(s.residuals, scan);
    if (n <= 0 || !r) {
      PlaySoundInfo();
      break;
    }
    double sum = 0;
    for (int k = first; k <= last; ++k) sum += static_cast<double>(r[k]) * r[k];
    const double rmsd = std::sqrt(sum / n);
    const std::string name = static_cast<size_t>(scan) < s.fileNames.size() ? s.fileNames[static_cast<size_t>(scan)] : "";
    std::fprintf(out, "%s \t%e\n", name.c_str(), rmsd);
    if (rmsd > max) {
      max = rmsd;
      w.worstScan = scan;
    }
  }
  if (!file.Commit()) return refuse("could not write ScanRms file");
  return true;
}

// ---------------------------------------------------------------- colours

COLORREF ColorForFraction(int i, int n) {
  PlotWindowSet& w = CurrentPlotWindows();
  float f = n != 0 ? static_cast<float>(i) / static_cast<float>(n) : 0.0f;
  if (!(f > 0)) f = 0;
  if (f > 1) f = 1;
  float r, g, b;
  if (f <= 0.2f) {
    r = 0;
    g = 0;
    b = f / 0.2f;
  } else if (f <= 0.4f) {
    r = 0;
    g = (f - 0.2f) / 0.2f;
    b = 1;
  } else if (f <= 0.65f) {
    r = (f - 0.4f) / 0.25f;
    g = 1;
    b = 1 - r;
  } else if (f <= 0.9f) {
    r = 1;
    g = 1 - (f - 0.65f) / 0.25f;
    b = 0;
  } else {
    r = 1 - (f - 0.9f) / ((1 - 0.9f) * 4);
    g = b = 0;
  }
  w.rampRed = r;
  w.rampGreen = g;
  w.rampBlue = b;
  auto byte = [](float c) { return static_cast<COLORREF>(static_cast<int>(std::floor(255.0f * c)) & 0xff); };
  return byte(r) | byte(g) << 8 | byte(b) << 16;
}

COLORREF ScanColor(int i) {
  const int count = CurrentScanSet().count;
  if (CurrentPlotWindows().colorByTime) return ColorForFraction(i, count);
  int k = i;
  bool dimmed = false;
  if (k > 14) {
    k -= 14;
    dimmed = true;
  }
  if (count == 0 || k < 1 || k > count) return 0;
  static const int base[8][3] = {{0, 0, 0},     {255, 0, 0},   {0, 255, 0},   {0, 0, 255},
                                 {200, 200, 0}, {255, 0, 255}, {0, 255, 255}, {125, 125, 125}};
  int r, g, b;
  if (k <= 7) {
    r = base[k][0];
    g = base[k][1];
    b = base[k][2];
    // The dimmed variants of the first seven are 70 darker where lit.
    if (dimmed) {
      if (r) r -= 70;
      if (g) g -= 70;
      if (b) b -= 70;
    }
  } else {
    const int u = 40 * k - 280;
    const int v = 255 - (30 * k - 240);
    g = ((k - 7) % 2 != 0) ? u : v;
    r = ((k - 8) % 2 != 0) ? u : v;
    b = ((k - 7) % 3 != 0) ? u : v;
    if (dimmed) {
      r -= 50;
      g -= 50;
      b -= 50;
    }
  }
  return platform::RGB(r, g, b);
}
