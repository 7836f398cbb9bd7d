// "Fit Time Dependent s,M": the series of set fits, their two result files
// in the data folder and the plot of the apparent molar mass against time,
// which goes to the clipboard as a picture.
#include <memory>

#include "app/window/txla_window.h"
#include "app/window/main_fit_host.h"
#include "data/scan_set.h"
#include "distributions/analysis/time_dependent_fit.h"
#include "lamm/lamm_settings.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "platform/error_box.h"
#include "platform/clipboard.h"
#include "platform/user_interface.h"
#include "plot/cwinplot.h"
#include "plot/plot_clipboard.h"
#include "plot/plot_window_set.h"

namespace {

constexpr const char* kTitle = "FIT TIME DEPENDENT s,M";

// The result plot and the views it draws (over the series' vectors).
struct TimeDependentPlot {
  std::unique_ptr<CVector> times, masses;
  std::unique_ptr<CCurve> curve;
  std::unique_ptr<CWINPlot> plot;
};

TimeDependentPlot& Result() {
  static TimeDependentPlot* p = new TimeDependentPlot();
  return *p;
}

void FreeTimeDependentCurves() {
  TimeDependentPlot& r = Result();
  r.plot.reset();
  r.curve.reset();
  r.times.reset();
  r.masses.reset();
}

// Writes the two files and builds the plot of M against time.
void PlotTimeDependentResults() {
  TimeDependentFitState& st = TimeDependentFit();
  SaveTimeDependentResults(CurrentScanSet().dataFolder);
  FreeTimeDependentCurves();
  if (st.entries < 1) return;
  TimeDependentPlot& r = Result();
  r.times = std::make_unique<CVector>();
  r.masses = std::make_unique<CVector>();
  r.times->Attach(st.times.data(), st.entries, 1);
  r.masses->Attach(st.molarMasses.data(), st.entries, 1);
  r.curve = std::make_unique<CCurve>(r.times.get(), r.masses.get());
  const PlotWindowSet& w = CurrentPlotWindows();
  r.plot = std::make_unique<CWINPlot>();
  r.plot->SetPlotRect(w.dataTop, w.layoutLeft, w.dataBottom, w.layoutRight);
  r.plot->AddCurve(r.curve.get());
  r.plot->SetCurveStyle(0, 6);
  r.plot->SetXLabel("time [sec]");
  r.plot->SetYLabel("MWapp [Da]");
  r.plot->yIncludesZero = 1;
  r.plot->ToggleDisplayOption();
}

platform::HMETAFILE PaintTimeDependentPlot() {
  CWINPlot* plot = Result().plot.get();
  if (!plot) return 0;
  plot->Rescale();
  plot->Plot();
  return plot->lastMetafile;
}

}  // namespace

void TXLAWindow::CmFitTimeDependentSM() {
  if (!LammSettings().experimentalInitialDistribution) {
    platform::Tell("time dependence analysis",
                   "please switch to experimental initial  condition (in parameter box) and load "
                   "initial scan");
    return;
  }
  TimeDependentFitState& st = TimeDependentFit();
  float size = static_cast<float>(st.setSize > 0 ? st.setSize : 3);
  // Cancel keeps the size offered.
  InputFloat(&size, size, true, "enter number of scans per set", kTitle);
  auto ask = [](const char* text) {
    return platform::UI().MessageBox(kTitle, text, platform::BoxButtons::YesNo, platform::BoxIcon::Question) ==
           platform::IDYES;
  };
  FitHost* host = MainFitHost();
  bool ran = false;
  FitBusy = true;
  if (ask("moving average (scans 1-4, 2-5, 3-6,...)"))
    ran = FitTimeDependentDcdt(host, static_cast<int>(size));
  else if (ask("increasing set (scans 1-4, 1-5, 1-6,...)"))
    ran = FitTimeDependentScanByScan(host);
  FitBusy = false;
  if (ran) {
    PlotTimeDependentResults();
    if (const platform::HMETAFILE mf = PaintTimeDependentPlot()) {
      // Mapping mode 7 and 130 x 90 mm, as every copied plot.
      const platform::ClipboardPicture picture = PlotClipboardPicture(mf);
      if (picture.metafile) platform::Clipboard().SetPicture(picture);
    }
    FreeTimeDependentCurves();
    // The scans show the last set's model until the whole set with the
    // restored parameters is simulated again.
    CmRun();
  }
  Frame().Invalidate(true);
}
