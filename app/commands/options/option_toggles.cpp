// The Options commands that switch a preference, tick their menu item and
// store the preference line on request.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/window/parameter_preferences.h"
#include "app/window/program_options.h"
#include "app/window/shell_services.h"
#include "app/window/thread_counts.h"
#include "app/window/txla_window.h"
#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "fit/fit_engine_state.h"
#include "platform/error_box.h"
#include "platform/frame_window.h"
#include "platform/sounds.h"
#include "platform/user_interface.h"

namespace {

template <typename Switch>
void ToggleWithPreference(TXLAWindow& w, const char* question, Switch& sw, int command, int line) {
  sw = static_cast<Switch>(platform::AskYes("SET PREFERENCE", question));
  w.CheckMenuItem(command, sw);
  if (platform::AskYes("SET PREFERENCE", "save as default setting?"))
    SetParameterPreference(w, line - 1, sw ? 1 : 0);
  CallService(Services().playSoundOk);
}

void ChooseRegularization(TXLAWindow& w, int kind) {
  const bool on = kind == 1 ? Conti().maxEntropy : kind == 2 ? Conti().secondDerivative : Conti().showBothRegularizations;
  if (on) return;
  SelectRegularization(w, kind);
  if (platform::AskYes("SET PREFERENCE", "save new regularization as default setting?"))
    SetParameterPreference(w, 9, kind);
}

void ChooseFitMethod(TXLAWindow& w, int method) {
  gFitEngineState.useSimplex = method == 1;
  gFitEngineState.useAnnealing = method == 2;
  gFitEngineState.useMarquardt = method == 3;
  w.CheckMenuItem(cmd::SimplexAlgorithm, false);
  w.CheckMenuItem(cmd::SimulatedAnnealing, false);
  w.CheckMenuItem(cmd::MarquardtLevenberg, false);
  w.CheckMenuItem(method == 1 ? cmd::SimplexAlgorithm
                  : method == 2 ? cmd::SimulatedAnnealing
                                : cmd::MarquardtLevenberg,
                  true);
  if (platform::AskYes("SET PREFERENCE", "save as default setting?"))
    SetParameterPreference(w, 12, method);
}

}  // namespace

void TXLAWindow::CmErrorPropagationToSw() {
  ToggleWithPreference(*this,
                       "Calculate Error Propagation from Residuals to Sw in Integration Range?",
                       Options().ErrorPropagationToSw, cmd::ErrorPropagationToSw, 20);
}

void TXLAWindow::CmSuppressBaselineCorrelation() {
  ToggleWithPreference(*this, "Suppress Baseline Correlation in Max Ent?",
                       Conti().suppressBaselineCorrelation, cmd::SuppressBaselineCorrelation, 14);
}

void TXLAWindow::CmAlwaysLoadG2m1() {
  ToggleWithPreference(*this,
                       "calculate with DLS data as g(2)-1 intensity autocorrelation function?",
                       Options().AlwaysLoadG2m1, cmd::AlwaysLoadG2m1, 17);
}

void TXLAWindow::CmSound() {
  ToggleWithPreference(*this, "Play Sounds?", SoundState.soundsOn, cmd::Sound, 7);
}

void TXLAWindow::CmScanColorTemperatureFromTime() {
  ProgramOptions& o = Options();
  o.ScanColorFromTime = !o.ScanColorFromTime;
  CheckMenuItem(609, o.ScanColorFromTime);
  if (platform::AskYes("SET PREFERENCE", "save as default setting?"))
    SetParameterPreference(*this, 7, o.ScanColorFromTime ? 1 : 0);
  CallService(Services().playSoundOk);
  CallService(Services().setPlotAxisTitles);
  platform::RequestRepaint();
}

void TXLAWindow::CmPlaySoundBeer() { CallService(Services().playSoundBeer); }

void TXLAWindow::CmCheckElapsedTimeAgainstTimestamp() {
  ProgramOptions& o = Options();
  const int scans = Services().loadedScanCount ? Services().loadedScanCount() : 0;
  if (scans > 1 && Services().checkScanTimeStamps && Services().checkScanTimeStamps(*this))
    CallService(Services().loadListedScansAndSimulate, *this);
  if (platform::AskYes("SET PREFERENCE", "Always Check Timestamps Automatically?")) {
    o.TimeStampCheck = true;
    SetParameterPreference(*this, 17, 1);
    CheckMenuItem(cmd::CheckElapsedTime, true);
    float tolerance = 0;
    if (InputFloat(&tolerance, static_cast<float>(o.TimeStampTolerance), true,
                   "threshold for correction factor", "SET PREFERENCE")) {
      o.TimeStampTolerance = tolerance;
      SetParameterPreference(*this, 18, ToleranceLine(o.TimeStampTolerance));
    }
  } else {
    o.TimeStampCheck = false;
    SetParameterPreference(*this, 17, 0);
    CheckMenuItem(cmd::CheckElapsedTime, false);
  }
}

void TXLAWindow::CmMultipleThreads() {
  ProgramOptions& o = Options();
  if (platform::AskYes("SET PREFERENCE", "Use Multiple Threads?")) {
    Conti().multipleThreads = true;
    int n = 0;
    if (InputCount(&n, Conti().normalEquationThreads, "number of threads", nullptr))
      Conti().normalEquationThreads = WholeCount(n);
    else
      Conti().multipleThreads = false;
    int lamm = 0;
    if (InputCount(&lamm, o.LammThreadCount, "number of threads for Lamm equations", nullptr))
      SetLammEquationThreads(WholeCount(lamm));
    else
      SetLammEquationThreads(1);
  } else {
    Conti().normalEquationThreads = 1;
    SetLammEquationThreads(1);
    Conti().multipleThreads = false;
  }
  CheckMenuItem(cmd::MultipleThreads, Conti().multipleThreads);
  if (platform::AskYes("SET PREFERENCE", "save as default setting?")) {
    SetParameterPreference(*this, 11, Conti().multipleThreads ? Conti().normalEquationThreads : 0);
    SetParameterPreference(*this, 14, o.LammThreadCount);
  }
  CallService(Services().playSoundOk);
}

void TXLAWindow::CmShowBothRegularizations() { ChooseRegularization(*this, 3); }
void TXLAWindow::CmRegularization2ndDerivative() { ChooseRegularization(*this, 2); }
void TXLAWindow::CmRegularizationMaxEnt() { ChooseRegularization(*this, 1); }

void TXLAWindow::CmChangeFitUpdatingPreferences() {
  ProgramOptions& o = Options();
  o.FitRedrawDataPlot = platform::AskYes("UPDATE DURING FIT", "data and fit plot?");
  o.FitRedrawResidualsPlot = platform::AskYes("UPDATE DURING FIT", "residuals plot?");
  o.FitRedrawResidualsBitmap = platform::AskYes("UPDATE DURING FIT", "residuals bitmap?");
  o.FitRedrawDistributionPlot = platform::AskYes("UPDATE DURING FIT", "distribution plot?");
  if (o.FitRedrawDataPlot || o.FitRedrawResidualsPlot || o.FitRedrawResidualsBitmap ||
      o.FitRedrawDistributionPlot) {
    float interval = 0;
    if (InputFloat(&interval, o.FitUpdateInterval, true, "max updating interval (sec)",
                   "UPDATE DURING FIT") &&
        interval > 0)
      o.FitUpdateInterval = interval;
  }
  CallService(Services().playSoundOk);
  SaveParameterPreferences(*this);
}

void TXLAWindow::CmSimplexAlgorithm() { ChooseFitMethod(*this, 1); }
void TXLAWindow::CmMarquardtLevenberg() { ChooseFitMethod(*this, 3); }

void TXLAWindow::CmSimulatedAnnealing() {
  float v = 0;
  if (InputFloat(&v, gFitEngineState.annealStartTemperature, true,
                 "starting 'temperature' (rel increase glob.chisq)", nullptr)) {
    gFitEngineState.annealStartTemperature = v;
    gFitEngineState.annealTemperature = v;
  }
  if (InputFloat(&v, static_cast<float>(gFitEngineState.annealSteps), true, "# of temperature steps",
                 nullptr))
    gFitEngineState.annealSteps = WholeCount(v, 1.0e9);
  if (InputFloat(&v, static_cast<float>(gFitEngineState.annealIterations), true,
                 "# of iterations per temperature", nullptr))
    gFitEngineState.annealIterations = WholeCount(v, 1.0e9);
  FitEngineState& f = gFitEngineState;
  const float finalMethod = f.annealFinalMarquardt ? 1.0f : f.annealFinalSimplex ? 2.0f : 0.0f;
  if (InputFloat(&v, finalMethod, true, "final ML (1), Simplex (2), or none (0)",
                 "Fit With Simulated Annealing")) {
    f.annealFinalMarquardt = v == 1.0f;
    f.annealFinalSimplex = v == 2.0f;
  }
  ChooseFitMethod(*this, 2);
}
