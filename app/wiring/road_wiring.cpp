#include "app/wiring/road_wiring.h"

#include <memory>

#include "app/commands/model/boundary_analysis_commands.h"
#include "app/commands/display/clipboard_commands.h"
#include "app/commands/options/dls_commands.h"
#include "app/commands/options/hydro_commands.h"
#include "app/commands/run_fit/fit_limits.h"
#include "app/window/main_window_flags.h"
#include "app/commands/data/morlean_commands.h"
#include "app/commands/model/nonideal_cs_commands.h"
#include "app/plot_input/marker_moves.h"
#include "app/window/plot_replay.h"
#include "app/commands/data/raw_data_commands.h"
#include "app/window/road_services.h"
#include "distributions/conti_fit.h"
#include "equilibrium/eqtools/eq_test_mode.h"
#include "distributions/conti_run.h"
#include "distributions/distribution_arrays.h"
#include "distributions/dls_time_course.h"
#include "fit/rmsd.h"
#include "plot/plot_window_set.h"
#include "plot/residual_bitmap.h"
#include "app/window/txla_window.h"
#include "app/window/main_fit_host.h"
#include "app/wiring/window_fit_host.h"
#include "automation/automation_run.h"
#include "data/load_hooks.h"
#include "distributions/conti_settings.h"
#include "fit/saved_params.h"
#include "fit/fit_engine_state.h"
#include "fit/lamm_grid.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/lamm_settings.h"
#include "platform/user_interface.h"

namespace {

std::unique_ptr<WindowFitHost>& Host() {
  static std::unique_ptr<WindowFitHost> host;
  return host;
}

std::unique_ptr<ModelSelectionHooks>& SavedSelectionHooks() {
  static std::unique_ptr<ModelSelectionHooks> saved;
  return saved;
}

}  // namespace

namespace {

// The plots, the c(s) runner and the distribution plot as the window's
// commands and painting reach them.
void InstallRoadServices(TXLAWindow& window) {
  RoadServices& r = Road();
  TXLAWindow* w = &window;
  r.dataPlot = [] { return CurrentPlotWindows().dataPlot; };
  r.residualPlot = [] { return CurrentPlotWindows().residualPlot; };
  r.residualBitmapPlot = [] { return CurrentPlotWindows().histogramPlot; };
  r.showData = [] { return CurrentPlotWindows().showData != 0; };
  r.showResiduals = [] { return CurrentPlotWindows().showResiduals != 0; };
  r.showResidualsBitmap = [] { return CurrentPlotWindows().showBitmap != 0; };
  r.showModelCurves = [] { return true; };
  r.scanColor = [](int i) { return ScanColor(i); };
  r.updateResidualsPlot = [](bool rescale) { UpdateResidualsPlot(rescale); };
  r.drawResidualsBitmap = [w] {
    if (platform::DrawSurface* s = w->Frame().Surface()) DrawResidualsBitmap(*s);
  };
  r.reloadParameters = [](const std::string& path) { ReloadParameters(path); };
  r.saveParametersToFile = [w](const std::string& path) { SaveParametersListing(*w, path); };
  r.runContiSed = [] { RunContiSed(); };
  r.runContiSedAndShow = [] { RunContiSedAndShow(); };
  r.contiFit = [] { ContiFit(MainFitHost()); };
  r.freeDistributionArrays = [] { FreeDistributionArrays(); };
  // A model command that turns on a block of the Lamm arrays (moving frame,
  // reacting system, concentration dependence) allocates them again.
  r.freeLammArrays = [] { FreeLammArrays(); };
  r.allocLammArrays = [] { AllocLammArrays(); };
  r.lammArraysAllocated = [] { return CurrentLammGrid().GridAllocated != 0; };
  r.makeDistributionPlot = [] { MakeDistributionPlot(); };
  r.redrawDistributionPlot = [] {
    return DistArrays().plotExists ? static_cast<platform::HMETAFILE>(RedrawDistributionPlot()) : 0u;
  };

  r.drawDataScreenMarkers = [w](platform::DrawContext& dc, bool fitRanges) { DrawDataScreenMarkers(dc, *w, fitRanges); };
  r.drawDataPlotMovie = [w](CWINPlot* plot, platform::DrawContext& dc) { DrawCtotMovie(*w, plot, dc); };

  InstallBoundaryAnalyses(window);

  PlotWindowHooks& p = PlotHooks();
  p.paintDataPlot = [w] { PaintDataPlot(*w); };
  p.paintResidualPlots = [w] { PaintResidualPlots(*w); };
  p.paintDistributionPlot = [w] { PaintDistributionPlot(*w); };
}

}  // namespace

void ConnectMainRoad(TXLAWindow& window) {
  Host() = std::make_unique<WindowFitHost>(window);
  SetMainFitHost(Host().get());
  InstallRoadServices(window);
  ConnectDlsData();
  ConnectMorleanExchange(window);
  ConnectHydroTools(window);

  // The model records the loaders write are the same for the unattended run;
  // the window adds the switches only it keeps.
  ConnectLoadTargetsToModelRecords();
  LoadTargets& t = CurrentLoadTargets();
  t.meniscusBottomLimitsFixed = &UserFitLimitsSet();
  t.approachToEquilibriumTest = &EqTest().testMode;
  t.multiSpeedRawDataMode = &AutocorrectLoad();
  t.hiddenDisplayFlag = &WindowFlags().ScanNameHoverOn;

  LoadHooks& h = CurrentLoadHooks();
  TXLAWindow* w = &window;
  h.runModel = [w] { w->CmRun(); };
  h.runModelFromTools = [w] { w->CmRun(); };
  h.setDefaultMeniscusBottomLimits = [] { SetDefaultMeniscusBottomLimits(); };
  h.calcRmsd = [] { return static_cast<double>(CalcRmsd()); };

  ModelSelectionHooks& sel = CurrentModelSelectionHooks();
  if (!SavedSelectionHooks()) SavedSelectionHooks() = std::make_unique<ModelSelectionHooks>(sel);
  sel.checkMenuItem = [w](int item, bool checked) { w->CheckMenuItem(item, checked); };
  sel.message = [](const std::string& text) { platform::Tell("", text); };
  InstallRawDataCommands(window);
}

void DisconnectMainRoad() {
  UninstallRawDataCommands();
  Road() = RoadServices{};
  UninstallBoundaryAnalyses();
  SetMainFitHost(nullptr);
  Host().reset();
  if (SavedSelectionHooks()) {
    CurrentModelSelectionHooks() = *SavedSelectionHooks();
    SavedSelectionHooks().reset();
  }
}
