#include "app/wiring/plot_wiring.h"
#include "app/wiring/window_fit_host.h"

#include <memory>

#include "app/window/main_window_flags.h"
#include "app/window/program_options.h"
#include "app/window/road_services.h"
#include "app/window/shell_services.h"
#include "app/window/txla_window.h"
#include "app/window/window_services.h"
#include "data/load_hooks.h"
#include "data/rotor_speed_profile.h"
#include "data/scan_set.h"
#include "platform/fit_progress.h"
#include "platform/metafile.h"
#include "plot/adhoc_plot_arrays.h"
#include "plot/cwinplot.h"
#include "plot/direct_curve.h"
#include "plot/fit_redraw.h"
#include "plot/plot_window_set.h"
#include "plot/residual_bitmap.h"

namespace {

struct SavedPlotWiring {
  PlotWindowHooks plotHooks;
  LoadHooks loadHooks;
};
std::unique_ptr<SavedPlotWiring>& Saved() {
  static std::unique_ptr<SavedPlotWiring> saved;
  return saved;
}

// The rotor-speed plot of scans run under a speed profile: the profile's
// speed course over the speeds the scans record.
void DrawSpeedProfileOverlay(platform::DrawSurface& surface) {
  CWINPlot* plot = CurrentAdHocPlot().adHocPlot;
  if (!plot || !CurrentSpeedProfile.Active()) return;
  CRotorSpeedProfile& profile = *CurrentSpeedProfile.profile;
  profile.BuildTimeSpeedTable();
  const int n = profile.GetTableSize();
  float* t = profile.GetTimeTable();
  float* rpm = profile.GetSpeedTable();
  if (n < 2 || !t || !rpm) return;
  const platform::HMETAFILE mf = PlotFloatArrays(plot, t, rpm, n, 0, -1, plot->symbolSize);
  if (!mf) return;
  ReplayPlotPicture(surface, mf);
  platform::DeleteMetaFile(mf);
}

}  // namespace

void ConnectPlotsToWindow(TXLAWindow& window) {
  if (!Saved()) Saved() = std::make_unique<SavedPlotWiring>(SavedPlotWiring{PlotHooks(), CurrentLoadHooks()});
  TXLAWindow* w = &window;

  PlotWindowHooks& p = PlotHooks();
  p.surface = [w] { return w->Frame().Surface(); };
  p.flush = [w] { w->Frame().FlushCanvas(); };
  p.painted = [] { return WindowFlags().WindowPainted; };
  p.drawText = [w](int x, int y, const std::string& text) { DrawProgressText(*w, x, y, text); };
  p.requestRepaint = [w] { RequestRepaint(*w); };
  p.invalidate = [w](bool erase) { w->Frame().Invalidate(erase); };
  p.checkMenuItem = [w](int id, bool checked) { w->CheckMenuItem(id, checked); };
  // The painting of the plots (with the markers and overlays) is the main
  // road's (road_wiring.cpp).

  LoadHooks& h = CurrentLoadHooks();
  h.buildPlotCurves = [] { BuildPlotCurves(); };
  h.deletePlots = [] { DeletePlotWindows(); };
  h.setPlotAxisTitles = [] {
    SyncPlotPreferences();
    SetPlotAxisTitles();
  };
  h.redrawDataPlot = [](bool rescale) { RedrawDataPlot(rescale); };
  h.updateResidualsPlot = [] { UpdateResidualsPlot(true); };
  h.updateResidualHistogram = [] { UpdateResidualHistogram(); };
  h.checkTemperatureFluctuations = [](double limit) { CheckTemperatureFluctuations(static_cast<float>(limit)); };

  // The ad-hoc plot takes over the window for one painting; its picture
  // covers the plots until the next painting of the window. The painting
  // is this window's (a window made later installs its own).
  RoadServices& r = Road();
  r.otherScreenShown = [] {
    const AdHocPlotArrays& a = CurrentAdHocPlot();
    return a.adHocPlot != nullptr || a.adHocShown != 0;
  };
  r.paintOtherScreen = [w] {
    if (platform::DrawSurface* s = w->Frame().Surface())
      PaintPendingAdHocPlot(*s, [s] { DrawSpeedProfileOverlay(*s); });
  };

  platform::SetFitProgressRedraw([] {
    SyncPlotPreferences();
    RedrawFitProgress();
  });
}

void DisconnectPlotsFromWindow() {
  platform::SetFitProgressRedraw({});
  Road().paintOtherScreen = nullptr;
  // The plots are the window's and view the scan set; once the loaders can
  // no longer reach them they would outlive the scans they show.
  DeletePlotWindows();
  if (!Saved()) return;
  PlotHooks() = Saved()->plotHooks;
  CurrentLoadHooks() = Saved()->loadHooks;
  Saved().reset();
}

void InstallPlotShellServices(ShellServices& s) {
  s.relayoutAndRedrawPlots = [] {
    SyncPlotPreferences();
    RelayoutAndRedrawPlots();
  };
  s.setPlotAxisTitles = [] {
    SyncPlotPreferences();
    SetPlotAxisTitles();
  };
  s.redrawDataPlot = [](bool rescale) { RedrawDataPlot(rescale); };
  s.updateResidualsPlot = [](bool rescale) { UpdateResidualsPlot(rescale); };
  s.updateResidualBitmap = [](bool rescale) { UpdateResidualBitmap(rescale); };
  s.setDataPlotRanges = [](float xMin, float xMax, float yMin, float yMax) {
    if (CWINPlot* plot = CurrentPlotWindows().dataPlot) plot->SetRanges(xMin, xMax, yMin, yMax);
  };
}
