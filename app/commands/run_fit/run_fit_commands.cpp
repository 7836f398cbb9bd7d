// "Run" and "Fit": the one place that decides which computation the chosen
// model needs, the bookkeeping every run shares, and the plausibility
// review of the residuals afterwards.
#include "app/commands/run_fit/run_fit_commands.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/window/main_window_flags.h"
#include "app/plot_input/markers.h"
#include "app/window/program_options.h"
#include "equilibrium/eqtools/eq_test_mode.h"
#include "app/window/road_services.h"
#include "app/window/txla_window.h"
#include "app/window/main_fit_host.h"
#include "app/window/window_services.h"
#include "data/realtime_update.h"
#include "data/scan_set.h"
#include "distributions/conti_models.h"
#include "distributions/conti_run.h"
#include "distributions/prior_knowledge.h"
#include "distributions/conti_context.h"
#include "distributions/conti_settings.h"
#include "fit/rmsd.h"
#include "lamm/lamm_settings.h"
#include "fit/fit_driver.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_report.h"
#include "fit/model_evaluation.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/model_table.h"
#include "fit/serial_fit_settings.h"
#include "models/buffer/buffer_sed_settings.h"
#include "plot/text_in_place.h"
#include "platform/sounds.h"
#include "platform/draw_surface.h"
#include "platform/frame_window.h"
#include "platform/clock.h"
#include "platform/input_events.h"
#include "platform/user_interface.h"

namespace {

// Puts the window back as idle when a routine's failure ends Run or Fit
// part way (the command loop takes the failure): otherwise the window
// stays busy, paints nothing and takes every press as a stop.
class EndsOnFailure {
 public:
  explicit EndsOnFailure(std::function<void()> undo) : undo_(std::move(undo)) {}
  ~EndsOnFailure() {
    if (std::uncaught_exceptions() > exceptions_) undo_();
  }
  EndsOnFailure(const EndsOnFailure&) = delete;
  EndsOnFailure& operator=(const EndsOnFailure&) = delete;

 private:
  std::function<void()> undo_;
  int exceptions_ = std::uncaught_exceptions();
};

// The picture first, then the advice. A box shown with a paint still
// pending would do that paint inside its own loop before it appears: it
// came late, took the keys typed meanwhile, and every box of a chain
// waited again for the repaint the last one left behind.
void PaintBeforeAdvice(TXLAWindow& window) {
  window.Frame().Update();
  // A first paint may only ask for the erased one that draws.
  window.Frame().Update();
}

const char* const kAdvice[] = {
    "",
    "Residuals seem larger than typically expected for the interference and absorbance optical system\n"
    "(However, if the total loading signal >> 1, the residuals may be fine, but should not exceed 0.1%% of "
    "the total loading signal).",
    "Residuals close to meniscus are significantly larger than elsewhere.\nThis could indicate (a) problems "
    "with the model, (b) initial convection.\n\n*(a) Model problems that frequently show up in this region "
    "include wrong position of the meniscus,\n     too tight left fitting limits (too close to optical "
    "artifacts at meniscus),\n     unaccounted for concentration-dependent non-ideality (usually at "
    "concentrations > 1 mg/ml),\n     or unaccounted for small species.\n\n*(b) Initial convection may be "
    "caused by misalingment of the cell, or non-uniform temperature at the \n     start of the run.  The "
    "latter may sometimes be diagnosed also from the temperature plot showing large (> 0.5C) initial "
    "variation.",
    "Residuals close to bottom are significantly larger than elsewhere.\nFrequently this arises from "
    "improperly modeled backdiffusion, either from \n\n**the data containing back-diffusion that is not "
    "modeled\n(for example, from the bottom position in the model being at too high radii or from lack of "
    "smaller species in \nthe model)\n\n** or from back-diffusion in the model but not in the real data (in "
    "which case the bottom position in the model\nmay be too far to the left [too close to the fitting "
    "limit])",
    "Meniscus estimate has reached max/min value. \nThis may indicate that a better fit would be achieved "
    "when relaxing the max/min constraint.\n If the max/min settings are adjusted purposely as extreme "
    "values of the physically possible range\n (from graphical inspection of clearly discernable air and "
    "solvent range), \nthis suggests that there may have been convection.",
    "Bottom estimate has reached max/min value. \nThis may indicate that a better fit would be achieved "
    "when relaxing the max/min constraint.\n If the min settings are adjusted purposely as extreme values "
    "of the physically possible range\n (the minimum from graphical inspection of clearly identifiable "
    "solvent range [the maximum is usually not possible to visually discern]), \nthis suggests that there "
    "may be a problem with the model.",
    "Distribution value at min value is going up.  Assuming default distribution settings, this indicates "
    "that there's something smaller sedimenting that has not been captured in this range of the "
    "distribution.\n To fix this, set smin to a lower value (mabye 0).",
    "Distribution value at max value is going up.  This indicates that the distribution range is too "
    "small.\n(When setting the max value higher, you may sometimes want to consider increasing the "
    "resolution, as well, or changing the type of grid [linear/log])"};

// The advice texts are format strings; "%%" prints one percent sign.
std::string Unescape(const char* text) {
  std::string out;
  for (const char* p = text; *p; ++p) {
    if (p[0] == '%' && p[1] == '%') ++p;
    out += *p;
  }
  return out;
}


// The plain distributions that get the checks of the grid ends.
bool PlainDistribution() {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  if (!m.DistributionModel || m.SedTransformModel) return false;
  if (m.LsgStarModel || m.LsgStarWith1DiscreteModel || m.ElectrophoresisLsgModel || m.ZoneCentrifugationLsgModel ||
      m.AnyCsff0Model() || m.CSWith1DiscreteModel || m.CSWith1DiscreteComponent || m.NonidealCSModel)
    return false;
  // The one-discrete-component switches were refused above.
  return m.CsModelWithMolarMass() || m.HybridCSLsgModel || m.ElectrophoresisCVModel;
}

// Area of the distribution between s1 and s2, trapezoids over the grid
// points inside.
double GridArea(const float* s, const float* c, int n, double s1, double s2) {
  double area = 0;
  for (int i = 1; i < n; ++i) {
    if (s[i] < s1 || s[i + 1] > s2) continue;
    area += 0.5 * (static_cast<double>(c[i]) + c[i + 1]) * (static_cast<double>(s[i + 1]) - s[i]);
  }
  return area;
}

double DistributionArea(const float* s, const float* c, int n, double s1, double s2, double* total) {
  if (Road().integrateDistribution) return Road().integrateDistribution(s1, s2, total);
  if (total) *total = GridArea(s, c, n, s[1], s[n]);
  return GridArea(s, c, n, s1, s2);
}

}  // namespace

// A refused computation shows no result: the model curves and residuals of
// an earlier run, and its fit information, would read as those of the
// model now chosen. The scans show as loaded.
void ForgetShownResult(TXLAWindow& window) {
  ScanSet& s = CurrentScanSet();
  for (int i = 1; i <= s.count; ++i) {
    if (static_cast<int>(s.points.size()) <= i) break;
    const int n = s.points[i];
    for (auto* table : {&s.model, &s.model2, &s.residuals})
      if (static_cast<int>(table->size()) > i && (*table)[i]) std::fill((*table)[i] + 1, (*table)[i] + n + 1, 0.0f);
  }
  WindowFlags().FitInfoPending = false;
  WindowFlags().FitInfoShown = false;
  RequestRepaint(window);
}

namespace {

bool StopRunHere() {
  return CurrentDataTypeFlags().flagTooStrongGradients && !CheckExcessGradients();
}

// Why the discrete species of a species model give no model (empty: they
// give one): none is included, or none has a concentration entered or
// fitted. Their sum would be zero everywhere.
std::string SpeciesGiveNoModel() {
  if (CurrentScanSet().count < 1) return {};
  const ModelRow* row = FindModelRow(SelectedModelKey());
  if (!row || !row->holdsSpecies || row->family != ModelFamily::Species) return {};
  if (gBufferSedSettings.BufferSedOn) return {};
  UnpackModelParameters();
  const ModelParams& mp = gModelParams;
  bool included = false;
  for (int k = 1; k <= kComponentSlots; ++k) {
    if (!mp.included[k]) continue;
    included = true;
    if (mp.concentration[k] != 0.0f || mp.concentrationFit[k]) return {};
  }
  if (!included)
    return "No species is included in the model.\n"
           "Nothing was computed: tick \"included\" beside a species in the model's parameters.";
  return "The species entered have no concentration, and no concentration is fitted.\n"
         "Nothing was computed: enter a concentration or tick its fit box in the model's parameters.";
}

// A model that cannot be computed for the data, or a distribution for the
// range entered, is refused with its reason; computed all the same it would
// show an rmsd with no model, or a grid running backwards.
// `asked`: Run or Fit was chosen by the user; computed on the way of
// another command (a load, a data edit, the real-time update) data without
// a model stay as loaded without a word.
bool DistributionRefused(bool asked) {
  auto refuse = [](const std::string& text) {
    PlaySoundError();
    platform::Tell("ERROR", text, platform::BoxIcon::Error);
    return true;
  };
  const ModelSelectorFlags& m = gModelSelectorFlags;
  const bool distribution = m.DistributionModel && !m.SedTransformModel && !EqTestModeOn();
  if (distribution && CurrentDataTypeFlags().dls && CurrentScanSet().count > 0 && !DlsDistributionModel())
    return refuse(
        "The model chosen is a distribution of sedimentation data; light scattering data are loaded.\n"
        "Nothing was computed: choose one of the distributions for light scattering data.");
  // Any model: data it cannot describe give no result, however long it runs.
  if (!EqTestModeOn())
    if (const char* reason = ModelDataRefusal()) {
      if (!asked && SelectedModelKey() == 0 && LoadedDataKind() != kDlsData) return true;
      return refuse(std::string(reason) + "\nNothing was computed: choose a model for the data loaded.");
    }
  if (!distribution) return false;
  // The run takes its range from the parameters entered.
  const float low = gModelParameterVector.P[1], high = gModelParameterVector.P[5];
  if (!Conti().gridFromFile && low > high) {
    char text[300];
    std::snprintf(text, sizeof text,
                  "The distribution range starts at %g, above its end at %g.\n"
                  "Nothing was computed: enter a start below the end in the model's parameters.",
                  low, high);
    return refuse(text);
  }
  return false;
}


// A Run or a fit writes its progress where the report of the last result
// stood: that report goes first, so that no stale line (its rmsd, its step counter)
// stands among the progress lines.
void EraseLastReport(TXLAWindow& w) {
  platform::DrawSurface* surface = w.Frame().Surface();
  if (!surface) return;
  EraseTextsInPlace(*surface);
  w.Frame().FlushCanvas();
}

// The step counters belong to the fit that counted them; a Run shows none.
void ClearStepCounters() {
  FitEngineState& fs = gFitEngineState;
  fs.minimiserRuns = 0;
  fs.evaluationsThisRun = 0;
  fs.evaluationsTotal = 0;
}

}  // namespace

void PrepareContiContext(TXLAWindow& w) {
  ContiRunContext& c = ContiContext();
  c.drawingEnabled = WindowFlags().WindowPainted && w.Frame().Surface() != nullptr;
  c.infoMessages = Options().InfoWizardMessages != 0;
}

bool CheckExcessGradients() {
  const ScanSet& s = CurrentScanSet();
  const DataTypeFlags& types = CurrentDataTypeFlags();
  const ModelParams& mp = gModelParams;
  if (types.fluorescence) return true;
  if (mp.meniscus == 0 || mp.bottom == 0 || s.leftFitLimit == 0 || s.rightFitLimit == 0) return true;
  if (!(mp.meniscus < s.leftFitLimit && s.leftFitLimit < s.rightFitLimit && s.rightFitLimit < mp.bottom))
    return true;
  if (static_cast<int>(s.firstFitPoint.size()) <= s.count || static_cast<int>(s.lastFitPoint.size()) <= s.count)
    return true;
  const float limit = types.maxGradient;
  for (int i = 1; i <= s.count; ++i) {
    const float* r = s.radii[i];
    const float* c = s.signals[i];
    if (!r || !c) continue;
    for (int j = s.firstFitPoint[i]; j <= s.lastFitPoint[i] && j < s.points[i] - 4; ++j) {
      float g[4];
      bool allSteep = true;
      for (int k = 0; k < 4; ++k) {
        g[k] = (c[j + k + 1] - c[j + k]) / (r[j + k + 1] - r[j + k]);
        if (!(g[k] > limit)) allSteep = false;
      }
      if (!allSteep) continue;
      float largest = g[0];
      for (float v : g) largest = std::max(largest, v);
      char text[512];
      std::snprintf(text, sizeof text, "max gradient exceeded:  grad = %.1f/cm at r ~ %.4fcm in scan %s",
                    static_cast<double>(largest), static_cast<double>(r[j]), s.fileNames[i].c_str());
      platform::Tell("ERROR", text, platform::BoxIcon::Error);
      return false;
    }
  }
  return true;
}

namespace {

// The advice (indices into kAdvice) the residuals and fitted values call
// for, in the order the boxes come.
std::vector<int> ResidualAdvice() {
  std::vector<int> advice;
  const ScanSet& s = CurrentScanSet();
  if (EqTestModeOn() || CurrentRealtimeState().running || CurrentDataTypeFlags().dls ||
      RunState().DistributionQuietPass || gSerialFitSettings.running)
    return advice;
  const float rmsd = CalcRmsd();
  if (rmsd > 0.02f) advice.push_back(1);

  double menSum = 0, botSum = 0;
  int menCount = 0, botCount = 0;
  const bool ranges = static_cast<int>(s.firstFitPoint.size()) > s.count &&
                      static_cast<int>(s.lastFitPoint.size()) > s.count;
  for (int i = 1; ranges && i <= s.count; ++i) {
    const float* m = static_cast<int>(s.model.size()) > i ? s.model[i] : nullptr;
    const float* c = s.signals[i];
    if (!m || !c) continue;
    const int first = s.firstFitPoint[i], last = s.lastFitPoint[i];
    const int k = static_cast<int>(std::floor(0.1 * (last - first)));
    for (int j = first; j <= first + k && j <= last; ++j) {
      const double d = static_cast<double>(m[j]) - c[j];
      menSum += d * d;
      ++menCount;
    }
    for (int j = std::max(first, last - k); j <= last; ++j) {
      const double d = static_cast<double>(m[j]) - c[j];
      botSum += d * d;
      ++botCount;
    }
  }
  const double menRms = std::sqrt(menCount > 0 ? menSum / menCount : menSum);
  const double botRms = std::sqrt(botCount > 0 ? botSum / botCount : botSum);
  if (menRms > 1.5 * rmsd) advice.push_back(2);
  if (botRms > 1.5 * rmsd) advice.push_back(3);

  const FitEngineState& fs = gFitEngineState;
  const ModelParameterVector& v = gModelParameterVector;
  if (v.F[13] && (v.P[13] == fs.meniscusMax || v.P[13] == fs.meniscusMin)) advice.push_back(4);
  if (v.F[14] && (v.P[14] == fs.bottomMax || v.P[14] == fs.bottomMin)) advice.push_back(5);

  if (!PlainDistribution()) return advice;
  const ContiSettings& cs = Conti();
  const float* c = cs.distribution;
  const float* sg = cs.sValues;
  const int n = cs.gridSize;
  if (!c || !sg || n <= 2) return advice;
  if (c[1] > c[2]) {
    double total = 0;
    const double area = DistributionArea(sg, c, n, sg[1], sg[2], &total);
    if (area > 0.01 * total) advice.push_back(6);
  }
  if (c[n] > c[n - 1]) {
    const double last = DistributionArea(sg, c, n, sg[n - 1], sg[n], nullptr);
    const double rest = DistributionArea(sg, c, n, sg[2], sg[n], nullptr);
    if (last > 0.01 * rest) advice.push_back(7);
  }
  return advice;
}

}  // namespace

std::vector<std::string> ResidualNotes() {
  std::vector<std::string> notes;
  for (int k : ResidualAdvice()) notes.push_back(Unescape(kAdvice[k]));
  return notes;
}

void CheckResidualSize() {
  for (const std::string& note : ResidualNotes()) {
    PlaySoundError();
    platform::Tell("Help Wizard", note + WizardFooter);
  }
}

void TXLAWindow::CmRun() {
  RunSwitches& rs = RunState();
  rs.KeepDistributionPlot = false;
  rs.TransformAwaitsRun = false;
  if (StopRunHere()) return;
  if (DistributionRefused(CommandInHand() == 213)) {
    ForgetShownResult(*this);
    return;
  }
  if (const std::string why = SpeciesGiveNoModel(); !why.empty()) {
    PlaySoundError();
    platform::Tell("ERROR", why, platform::BoxIcon::Error);
    ForgetShownResult(*this);
    return;
  }
  const ModelSelectorFlags& m = gModelSelectorFlags;
  RoadServices& r = Road();
  std::function<void()> work;
  bool species = false;
  if (EqTestModeOn()) {
    work = r.runEqTest;
  } else if (m.DistributionModel && !m.SedTransformModel) {
    if (const auto& run = m.DlsIRhTimeCourseModel ? r.runContiSedAndShow : r.runContiSed)
      work = [&run] {
        Conti().runCommand = 1;
        run();
        Conti().runCommand = 0;
      };
  } else if (m.EquilibriumModel284 || m.EquilibriumModel523) {
    work = r.runEquilibrium;
  } else if (m.SedTransformModel) {
    work = m.LsgExtrapolationModel ? r.runLsgs : r.runVanHoldeWeischet;
  } else if (FitHost* host = MainFitHost()) {
    work = [host] { SimulateModel(host); };
    species = true;
  } else {
    return;
  }
  if (CurrentScanSet().count < 1 && !EqTestModeOn()) {
    // As the fit says it.
    platform::Tell("ERROR", "load data first", platform::BoxIcon::Error);
    return;
  }
  // An rmsd over no points would read as a perfect model.
  if (species && !EqTestModeOn() && PointsInsideTheFitLimits() == 0) {
    platform::Tell("ERROR", "no data points inside the fit limits", platform::BoxIcon::Error);
    ForgetShownResult(*this);
    return;
  }
  RunBusy = true;
  ClearStepCounters();
  if (DropOneShotPrior()) CheckMenuItem(529, PriorMenuChecked());
  // A Monte-Carlo series leaves its runs' silent mark set; a Run sets up its
  // own grid, which a load may have freed since.
  Conti().silent = 0;
  rs.InFitEvaluation = false;
  rs.RunProgressDisplay = true;
  LammSettings().liveDisplay = 1;
  PrepareContiContext(*this);
  Frame().SetCursor(platform::CursorKind::Wait);
  EraseLastReport(*this);
  const bool distribution = m.DistributionModel && !m.SedTransformModel && !EqTestModeOn();
  // A distribution Run is bounded in time as a fit is: past the bound its
  // polls end it as a key would, and it says so.
  const double deadlineBefore = platform::ArmedStopDeadline();
  const EndsOnFailure idleAfterAFailure([this, &rs, deadlineBefore] {
    platform::ArmStopDeadline(deadlineBefore);
    platform::StopFlag() = false;
    Frame().SetCursor(platform::CursorKind::Arrow);
    rs.RunProgressDisplay = false;
    LammSettings().liveDisplay = 0;
    RunBusy = false;
    RequestRepaint(*this);
  });
  if (distribution)
    platform::ArmStopDeadline(static_cast<double>(platform::Clock().TickCountMs()) / 1000.0 + kRunTimeBoundSeconds);
  work();
  platform::ArmStopDeadline(deadlineBefore);
  // Keys typed during the Run asked it to stop: those still on their way
  // are taken while the window counts as busy, so that none starts a
  // command after it.
  platform::FlushTypedInput();
  platform::StopFlag() = false;
  Frame().SetCursor(platform::CursorKind::Arrow);
  rs.RunProgressDisplay = false;
  LammSettings().liveDisplay = 0;
  // A distribution that was refused or stopped has no model: an rmsd of the
  // data against nothing would read as a result.
  const bool noResult = distribution && Conti().lastRunFailed;
  // The rmsd held (the report's, the parameter listing's, the calculators',
  // a Fit's start) is that of the model the Run leaves, as after a Fit: a
  // distribution's Run solves its noise and amplitudes without forming it,
  // and the next paint, which would, never comes while the window is not
  // drawn.
  if (!noResult && !EqTestModeOn() && CurrentScanSet().count > 0) CalcRmsd();
  WindowFlags().FitInfoPending = !noResult;
  if (noResult) WindowFlags().FitInfoShown = false;
  CurrentScanSet().dataChanged = 0;
  RunBusy = false;
  RequestRepaint(*this);
  if (Options().InfoWizardMessages && !EqTestModeOn() && !noResult) {
    PaintBeforeAdvice(*this);
    CheckResidualSize();
  }
}

void RunModelFromTools(TXLAWindow& window) { window.CmRun(); }

void TXLAWindow::CmFit() {
  RunSwitches& rs = RunState();
  rs.KeepDistributionPlot = false;
  if (StopRunHere()) return;
  if (DistributionRefused(CommandInHand() == 215)) {
    ForgetShownResult(*this);
    return;
  }
  FitBusy = true;
  const ModelSelectorFlags& m = gModelSelectorFlags;
  if (m.SedTransformModel) {
    // A boundary transform has nothing to fit.
    CmRun();
    FitBusy = false;
    return;
  }
  FitEngineState& fs = gFitEngineState;
  const ModelParams& mp = gModelParams;
  const ScanSet& s = CurrentScanSet();
  auto ask = [](const char* text) {
    return platform::UI().MessageBox("PROBLEM WITH FITTING", text, platform::BoxButtons::YesNo,
                                     platform::BoxIcon::Question) == platform::IDYES;
  };
  if (mp.meniscusFit && s.leftFitLimit > 0 && fs.meniscusMax > 0 && s.leftFitLimit < fs.meniscusMax) {
    if (!ask("Left fitting limit is at smaller radius than maximum potential meniscus value.\n"
             "This could cause problems during the fit.\nFix by repositioning maximum meniscus")) {
      FitBusy = false;
      return;
    }
    DrawVerticalMarkerXor(*this, MarkerColumn(*this, fs.meniscusMax), kMarkerWhite);
    fs.meniscusMax = s.leftFitLimit - 0.001f;
    DrawLimitMarkersXor(*this, MarkerColumn(*this, fs.meniscusMax), kFitRangeColor, 30);
  }
  if (mp.bottomFit && s.rightFitLimit > 0 && fs.bottomMin > 0 && s.rightFitLimit > fs.bottomMin) {
    if (!ask("Right fitting limit is at higher radius than minimum potential bottom value.\n"
             "This could cause problems during the fit.\nFix by repositioning minimum bottom?")) {
      FitBusy = false;
      return;
    }
    DrawVerticalMarkerXor(*this, MarkerColumn(*this, fs.bottomMin), kMarkerWhite);
    fs.bottomMin = s.rightFitLimit + 0.001f;
    DrawLimitMarkersXor(*this, MarkerColumn(*this, fs.bottomMin), kFitRangeColor, 30);
  }
  PrepareContiContext(*this);
  Frame().SetCursor(platform::CursorKind::Wait);
  EraseLastReport(*this);
  const unsigned long userStopsBefore = platform::UserStopRequests();
  RoadServices& r = Road();
  FitHost* host = MainFitHost();
  DeferredFitEndBox endBox;
  const EndsOnFailure idleAfterAFailure([this, &rs] {
    rs.InFitEvaluation = false;
    gFitEngineState.fitRunning = 0;
    platform::StopFlag() = false;
    Frame().SetCursor(platform::CursorKind::Arrow);
    FitBusy = false;
    RequestRepaint(*this);
  });
  if (EqTestModeOn()) {
    r.runEqTest();
  } else if (m.DistributionModel) {
    rs.InFitEvaluation = true;
    r.contiFit();
    rs.InFitEvaluation = false;
  } else if (m.EquilibriumModel284 || m.EquilibriumModel523) {
    r.fitEquilibrium();
  } else if (host) {
    FitCurrentModel(host);
  }
  Frame().SetCursor(platform::CursorKind::Arrow);
  // Every press, click or stop of the user stops a fit: one that came
  // during it ended it early.
  const bool stoppedByUser = platform::UserStopRequests() != userStopsBefore;
  // Presses after the one that stopped the fit asked for nothing: none of
  // them stops the next computation or answers the next box. Those still
  // on their way are taken while the window counts as busy.
  if (stoppedByUser) platform::FlushTypedInput();
  platform::ReleaseInput();
  platform::ClearInput();
  platform::StopFlag() = false;
  PlaySoundFitDone();
  FitBusy = false;
  WindowFlags().FitInfoPending = true;
  WindowFlags().UnsavedFit = CurrentScanSet().count > 0;
  CurrentScanSet().dataChanged = 0;
  // The report's rmsd is that of the model on the screen, the one the
  // next paint reports again.
  const float rmsd = CalcRmsd();
  ComposeFitInfoText(host);
  // The end of the fit is drawn whole, whatever paint came during it.
  RequestRepaint(*this);
  // How the fit ended is said over the picture of that end. A fit the user
  // stopped ended by the stop.
  const std::string ended = endBox.Take();
  if (!ended.empty() && !stoppedByUser) {
    PaintBeforeAdvice(*this);
    platform::Tell("", ended);
  }
  if (stoppedByUser && !gSerialFitSettings.running && !CurrentRealtimeState().running) {
    PaintBeforeAdvice(*this);
    char text[160];
    std::snprintf(text, sizeof text, "fit stopped by the user: the best fit found so far is kept (rmsd = %f)", rmsd);
    platform::Tell("FIT", text);
  }
  if (Options().InfoWizardMessages) {
    PaintBeforeAdvice(*this);
    CheckResidualSize();
  }
}
