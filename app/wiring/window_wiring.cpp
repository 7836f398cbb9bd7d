#include "app/wiring/window_wiring.h"
#include "app/window/main_window_flags.h"
#include "data/scan_set.h"
#include "plot/progress_line.h"
#include "plot/text_in_place.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/commands/equilibrium/planning_commands.h"
#include "app/commands/options/buffer_commands.h"
#include "app/commands/plot/plotter_commands.h"
#include "app/wiring/automation_window.h"
#include "app/window/shell_services.h"
#include "app/wiring/data_wiring.h"
#include "app/commands/equilibrium/eqtools_commands.h"
#include "app/commands/options/fluorescence_commands.h"
#include "app/commands/generate/generate_commands.h"
#include "app/commands/equilibrium/mstar_commands.h"
#include "app/commands/model/nonideal_cs_commands.h"
#include "app/wiring/plot_wiring.h"
#include "app/window/program_options.h"
#include "app/wiring/road_wiring.h"
#include "app/wiring/saved_params_wiring.h"
#include "app/commands/data/scan_repair_commands.h"
#include "app/wiring/screen_button_wiring.h"
#include "app/window/txla_window.h"
#include "app/window/main_fit_host.h"
#include "app/wiring/window_fit_host.h"
#include "app/window/window_services.h"
#include "data/load_hooks.h"
#include "data/mouse_actions.h"
#include "distributions/conti_run.h"
#include "distributions/conti_startup.h"
#include "fit/global_lamm_connection.h"
#include "fit/serial_fit_settings.h"
#include "fit/solvent_gradient.h"
#include "lamm/solver_display.h"
#include "models/equilibrium_curves/equilibrium_curves.h"
#include "models/reacting/hetero_association.h"
#include "platform/draw_surface.h"
#include "platform/frame_window.h"
#include "platform/metafile.h"
#include "plot/cwinplot.h"
#include "plot/direct_curve.h"
#include "plot/distribution_plot.h"
#include "plot/plot_window_set.h"

namespace {

// What the hooks held before the window took them over.
struct Saved {
  LoadHooks hooks;
  LoadTargets targets;
};
std::unique_ptr<Saved>& Previous() {
  static std::unique_ptr<Saved> saved;
  return saved;
}

// A Lamm solver's progress lines and curves go into the window: the text
// at its place, the curves over the data plot.
void ConnectLammSolverDisplay(TXLAWindow& window) {
  TXLAWindow* w = &window;
  LammSolverDisplay& d = CurrentLammSolverDisplay();
  // The step lines come at every time step: the screen follows them at most
  // ten times a second.
  // The time of the last flush belongs to this connection, not to the process.
  auto shown = std::make_shared<std::atomic<std::chrono::steady_clock::rep>>(0);
  d.drawText = [w, shown](int x, int y, const std::string& text) {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const auto last = std::chrono::steady_clock::duration(shown->load(std::memory_order_relaxed));
    const bool flush = now - last >= std::chrono::milliseconds(100);
    if (flush) shown->store(now.count(), std::memory_order_relaxed);
    DrawProgressText(*w, x, y, text, flush);
  };
  auto over = [w](std::vector<float>& x, std::vector<float>& y, int n, unsigned colour) {
    CWINPlot* plot = CurrentPlotWindows().dataPlot;
    platform::DrawSurface* surface = w->Frame().Surface();
    if (!plot || !surface || n < 1) return;
    const platform::HMETAFILE mf = PlotFloatArrays(plot, x.data(), y.data(), n, colour, -1, plot->symbolSize);
    if (!mf) return;
    MainWindowFlags& flags = WindowFlags();
    if (!flags.SolverCurvesOverData) {
      // The picture under the first profile, for a box of the computation
      // to stand over (the plots may have been laid out anew since it was
      // painted: the picture, not the plots, is what was shown).
      flags.UnderSolverCurves =
          PixelsWithoutTextsInPlace(*surface, 0, 0, surface->ClientWidth(), surface->ClientHeight());
      flags.SolverCurvesOverData = true;
    }
    ReplayPlotPicture(*surface, mf);
    platform::DeleteMetaFile(mf);
    w->Frame().FlushCanvas();
  };
  d.plotFloats = [over](const float* r, const float* y, int n, unsigned colour) {
    if (!r || !y || n < 1) return;
    std::vector<float> x(r, r + n + 1), v(y, y + n + 1);
    over(x, v, n, colour);
  };
  d.plotDoubles = [over](const double* r, const double* y, int n, unsigned colour) {
    if (!r || !y || n < 1) return;
    std::vector<float> x(static_cast<size_t>(n) + 1), v(static_cast<size_t>(n) + 1);
    for (int i = 1; i <= n; ++i) x[i] = static_cast<float>(r[i]), v[i] = static_cast<float>(y[i]);
    over(x, v, n, colour);
  };
}

}  // namespace

void ConnectWindowToSubsystems(TXLAWindow& window) {
  LoadHooks& hooks = CurrentLoadHooks();
  LoadTargets& targets = CurrentLoadTargets();
  if (!Previous()) Previous() = std::make_unique<Saved>(Saved{hooks, targets});

  ProgramOptions& o = Options();
  targets.checkTimeStamps = &o.TimeStampCheck;
  targets.timeDilationThreshold = &o.TimeStampTolerance;
  targets.infoMessages = &o.InfoWizardMessages;
  targets.serialFitRunning = &gSerialFitSettings.running;
  targets.automationRun = &CommandLineState().AutomationMode;

  TXLAWindow* w = &window;
  hooks.requestRepaint = [w] { RequestRepaint(*w); };
  hooks.invalidateWindow = [w] { w->Frame().Invalidate(true); };
  hooks.setWindowTitle = [w](const std::string& title) { w->Frame().SetTitle(title); };
  hooks.drawText = [w](const std::string& text, int x, int y) { DrawProgressText(*w, x, y, text); };
  // The scan set holds the line while a load runs; the line restores the
  // pixels under it when it goes.
  hooks.loadProgress = [w](double fraction) {
    ScanSet& s = CurrentScanSet();
    platform::DrawSurface* surface = w->Frame().Surface();
    if (fraction < 0 || (fraction == 0 && s.loadProgress)) {
      if (s.loadProgress && surface) s.loadProgress->Erase(*surface);
      delete s.loadProgress;
      s.loadProgress = nullptr;
      if (surface) w->Frame().FlushCanvas();
      if (fraction < 0) return;
    }
    if (!surface || !WindowFlags().WindowPainted) return;
    if (!s.loadProgress) {
      s.loadProgress = new CProgressLine();
      s.loadProgress->Show(*surface, 10, 10);
    }
    s.loadProgress->Draw(static_cast<float>(fraction), *surface);
    w->Frame().FlushCanvas();
  };
  ConnectPlotsToWindow(window);
  ConnectDataLayerToWindow(window);
  ConnectMainRoad(window);
  ConnectSavedParamsToWindow(window);
  ConnectBufferSedimentation(window);
  ConnectMeanField();
  InstallEquilibriumCurveHooks();
  InstallSolventGradientHooks();
  ConnectGlobalLammSolvers();
  InstallHeteroAssociationModel();
  ConnectLammSolverDisplay(window);
  ConnectContinuousDistributions();
  ContiHooks().host = [] { return static_cast<FitHost*>(MainFitHost()); };
  InstallDistributionPlot();
  ConnectMStarAnalysis(window);
  ConnectOnPlotButtons(window);
  ConnectEqTools(window);
  ConnectSyntheticDataToWindow(window);
  ConnectFluorescenceCorrections(window);
  ConnectScanRepairs(window);
}

void DisconnectWindowFromSubsystems() {
  CurrentLammSolverDisplay() = LammSolverDisplay{};
  DisconnectOnPlotButtons();
  DisconnectFluorescenceCorrections();
  DisconnectSyntheticData();
  DisconnectScanRepairs();
  DisconnectMStarAnalysis();
  DisconnectEqTools();
  if (GetDistributionPlotHost() == &DistributionPlotWindow()) SetDistributionPlotHost(nullptr);
  DisconnectSavedParamsFromWindow();
  DisconnectBufferSedimentation();
  DisconnectMainRoad();
  DisconnectPlotsFromWindow();
  if (!Previous()) return;
  CurrentLoadHooks() = Previous()->hooks;
  CurrentLoadTargets() = Previous()->targets;
  Previous().reset();
}

ShellServices ProgramShellServices() {
  ShellServices s = DefaultShellServices();
  s.createMouseActions = [](TXLAWindow& w) { CreateMouseActions(&w.Frame()); };
  InstallPlotShellServices(s);
  InstallAutomationServices(s);
  InstallPlanningShellServices(s);
  InstallPlotterShellServices(s);
  return s;
}
