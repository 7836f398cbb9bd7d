// Run planning in the window: the time-to-equilibrium parameter dialog, its
// start-up step and "Estimate Equilibrium Rotor Speeds".
#include "app/commands/equilibrium/planning_commands.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/commands/model/model_commands.h"
#include "app/window/main_window_flags.h"
#include "app/dialogs/params_fields.h"
#include "app/window/shell_services.h"
#include "app/window/txla_window.h"
#include "app/window/main_fit_host.h"
#include "app/window/window_services.h"
#include "data/scan_set.h"
#include "distributions/hydrodynamics.h"
#include "equilibrium/planning/approach_to_eq_sim.h"
#include "equilibrium/planning/minimum_time_to_eq.h"
#include "equilibrium/planning/planning_result_files.h"
#include "equilibrium/planning/rotor_speed_estimate.h"
#include "equilibrium/planning/speed_profile_optimizer.h"
#include "equilibrium/planning/time_to_eq_params.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/model_table.h"
#include "lamm/lamm_settings.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "platform/error_box.h"
#include "platform/draw_surface.h"
#include "platform/frame_window.h"
#include "platform/paths.h"
#include "platform/process_launcher.h"
#include "platform/program_paths.h"
#include "platform/user_interface.h"
#include "plot/adhoc_plot_arrays.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"

namespace {

constexpr const char* kDialogCaption = "Parameters For Optimizing Time To Equilibrium";
constexpr const char* kPlanningCaption = "CALCULATE MINIMUM TIME TO EQ";
constexpr const char* kEstimateCaption = "ESTIMATE EQ ROTOR SPEED";

// The edit fields in the order of the dialog's transfer buffer.
constexpr int kEdits[] = {628, 627, 616, 407, 612, 639, 421, 629, 834, 835, 412, 428,
                          426, 413, 406, 405, 414, 420, 427, 614, 617, 643, 619, 618};

using K = FormControl::Kind;

struct Layout {
  int id;
  K kind;
  const char* label;
  int row, column, group;
};

// Side by side: run and criteria | column and solvent | species 1 and 2;
// the optimisation settings below.
constexpr Layout kLayout[] = {
    {639, K::Edit, "final EQ (rpm)", 1, 0, 0},
    {832, K::Check, "initial EQ at (rpm)", 2, 0, 0},
    {612, K::Edit, "", 2, 0, 0},
    {924, K::Check, "continue current rpm(t) history", 3, 0, 0},
    {421, K::Edit, "up to [sec]", 4, 0, 0},
    {617, K::Edit, "target rmsd/loading signal", 6, 0, 0},
    {616, K::Edit, "consider up to right fitting limit at (cm)", 7, 0, 0},
    {627, K::Edit, "meniscus (cm) or volume (ul) (12 mm CP)", 1, 2, 0},
    {628, K::Edit, "bottom (cm)", 2, 2, 0},
    {407, K::Edit, "initial step (cm) or 0 for uniform loading", 3, 2, 0},
    {629, K::Edit, "temperature (C)", 5, 2, 0},
    {835, K::Edit, "viscosity (cP)", 6, 2, 0},
    {834, K::Edit, "density (g/ml)", 7, 2, 0},
    {428, K::Edit, "molar mass (Da)", 1, 4, 0},
    {426, K::Edit, "vbar (ml/g)", 2, 4, 0},
    {621, K::Radio, "use s[20w] (S)", 3, 4, 1},
    {412, K::Edit, "", 3, 6, 0},
    {620, K::Radio, "use ff0", 4, 4, 1},
    {413, K::Edit, "", 4, 6, 0},
    {615, K::Check, "with 2nd species, fraction", 5, 4, 0},
    {406, K::Edit, "", 5, 4, 0},
    {414, K::Edit, "molar mass (Da)", 6, 4, 0},
    {420, K::Edit, "vbar (ml/g)", 7, 4, 0},
    {624, K::Radio, "use s2[20w] (S)", 8, 4, 2},
    {405, K::Edit, "", 8, 6, 0},
    {625, K::Radio, "use ff02", 9, 4, 2},
    {427, K::Edit, "", 9, 6, 0},
    {614, K::Edit, "max overconc at bottom", 10, 0, 0},
    {643, K::Edit, "overspeed time (h)", 11, 0, 0},
    {619, K::Edit, "# of parameters", 12, 0, 0},
    {618, K::Edit, "# of repeats", 13, 0, 0},
    {626, K::Check, "exponential parameterization", 10, 2, 0},
    {623, K::Check, "save scan files for best prediction", 11, 2, 0},
    {833, K::Check, "save in ZEZ EQ Methods format", 12, 2, 0},
    {640, K::Check, "just run a rotor speed params file", 13, 2, 0},
};

// The edits that show one float of the record: shown = stored x scale,
// written with format. The viscosity is kept in Pa s and shown, as its
// label says, in cP. The meniscus (a radius or a fill volume), the initial
// speed (read only with its box ticked) and the counts are handled apart.
struct EditField {
  int id;
  const char* format;
  float TimeToEqParams::*field;
  float scale = 1.0f;
};
using P = TimeToEqParams;
const EditField kEditFields[] = {
    {639, "%.0f", &P::finalRpm},   {628, "%.3f", &P::bottom},
    {421, "%.0f", &P::historyDuration}, {616, "%.3f", &P::rightLimit},
    {407, "%.3f", &P::initialStep}, {629, "%.0f", &P::temperature},
    {834, "%.6f", &P::density},    {835, "%.6f", &P::viscosity, 1000.0f},
    {412, "%.3f", &P::s1},         {428, "%.0f", &P::M1},
    {426, "%.3f", &P::vbar1},      {413, "%.2f", &P::ff01},
    {406, "%.2f", &P::fraction2},  {405, "%.3f", &P::s2},
    {414, "%.0f", &P::M2},         {427, "%.2f", &P::ff02},
    {614, "%.2f", &P::maxOverconcentration}, {617, "%.4f", &P::targetRmsd},
    {643, "%.2f", &P::overspeedTime, 1.0f / 3600.0f},
};

std::string Text(const FormDialog& d, int id) {
  const FormControl* c = d.Find(id);
  return c ? c->text : std::string();
}
float Value(const FormDialog& d, int id) { return static_cast<float>(std::atof(Text(d, id).c_str())); }
bool On(const FormDialog& d, int id) {
  const FormControl* c = d.Find(id);
  return c && c->state != 0;
}

void Put(FormDialog& d, int id, const char* format, double value) {
  if (FormControl* c = d.Find(id)) c->text = FormatField(format, value);
}
void Tick(FormDialog& d, int id, bool on) {
  if (FormControl* c = d.Find(id)) c->state = on ? 1 : 0;
}

// The meniscus an entry stands for: a radius, or above the bottom a fill
// volume in ul (NaN when the volume does not fit).
float MeniscusEntry(float entry, float bottom) {
  return entry > bottom ? MeniscusFromFillVolume(entry, bottom) : entry;
}

bool Sound(const FormDialog& d) {
  const float bottom = Value(d, 628);
  const float meniscus = MeniscusEntry(Value(d, 627), bottom);
  if (!(meniscus > 0) || !(meniscus < bottom)) return false;
  const float right = Value(d, 616);
  if (!(right > meniscus + 0.02f) || !(right < bottom)) return false;
  if (!(Value(d, 639) > 0) || !(Value(d, 835) > 0)) return false;
  const float vbar = Value(d, 426), density = Value(d, 834);
  if (1.0f - vbar * density == 0) return false;
  if (!(Value(d, 428) > 0)) return false;
  if (On(d, 621) ? Value(d, 412) == 0 : !(Value(d, 413) > 0)) return false;
  if (On(d, 615)) {
    if (!(Value(d, 406) <= 1) || !(Value(d, 414) > 0)) return false;
    if (On(d, 624) ? Value(d, 405) == 0 : !(Value(d, 427) > 0)) return false;
  }
  const float parameters = std::floor(Value(d, 619));
  return parameters >= 1 && parameters <= kMaxProfileParameters;
}

}  // namespace

FormDialog TimeToEqDialog(TimeToEqParams& p) {
  const SolutionConditions& sc = gSolutionConditions;
  if (p.density == 0) p.density = sc.density;
  if (p.viscosity == 0) p.viscosity = sc.viscosity * kWaterViscosity20;
  if (p.vbar1 == 0) p.vbar1 = sc.vbar;
  if (CurrentScanSet().count < 1) p.experimentalInitial = 0;
  p.vbar2 = p.vbar1;

  FormDialog d;
  d.caption = kDialogCaption;
  for (const Layout& l : kLayout) {
    FormControl c;
    c.id = l.id;
    c.kind = l.kind;
    c.label = l.label;
    c.row = l.row;
    c.column = l.column;
    c.group = l.group;
    c.maxChars = 15;
    c.enabled = l.id != 420;  // species 2 shares the vbar of species 1
    d.controls.push_back(c);
  }
  for (const EditField& e : kEditFields) Put(d, e.id, e.format, p.*e.field * e.scale);
  Put(d, 612, "%.0f", p.initialRpm);
  Put(d, 627, "%.3f", p.meniscus);
  Put(d, 420, "%.3f", p.vbar2);
  if (FormControl* c = d.Find(619)) c->text = std::to_string(p.parameterCount);
  if (FormControl* c = d.Find(618)) c->text = std::to_string(p.repeats);
  Tick(d, 832, !p.continueHistory);
  Tick(d, 924, p.continueHistory);
  Tick(d, 621, !p.species1ByFf0);
  Tick(d, 620, p.species1ByFf0);
  Tick(d, 624, !p.species2ByFf0);
  Tick(d, 625, p.species2ByFf0);
  // The switches show what the record holds, so that OK keeps them.
  Tick(d, 615, p.secondSpecies);
  Tick(d, 626, p.exponential);
  Tick(d, 623, p.saveScans);
  Tick(d, 833, p.saveEquMethod);
  Tick(d, 640, p.justRunSpeedFile);
  d.canClose = TimeToEqDialogCanClose;
  return d;
}

bool TimeToEqDialogCanClose(const FormDialog& d) {
  bool ok = true;
  for (int id : kEdits) {
    const std::string text = Text(d, id);
    ok = ok && ((id == 412 || id == 405) ? IsNumber(text.c_str()) : IsNonNegativeNumber(text.c_str()));
  }
  if (ok && Sound(d)) return true;
  platform::UI().Beep();
  platform::Tell("Input Error", "Invalid Entry");
  return false;
}

void ReadTimeToEqDialog(const FormDialog& d, const FormDialog& shown, TimeToEqParams& p) {
  // An entry left as shown keeps the stored value: the shown text is rounded
  // (8.33 h for 30000 s, 0.0000 for a target of 5e-5).
  auto take = [&](int id, float& field, float scale = 1.0f) {
    if (Text(d, id) != Text(shown, id)) field = Value(d, id) * scale;
  };
  for (const EditField& e : kEditFields) take(e.id, p.*e.field, 1.0f / e.scale);
  if (Text(d, 627) != Text(shown, 627) || Text(d, 628) != Text(shown, 628))
    p.meniscus = MeniscusEntry(Value(d, 627), p.bottom);
  p.continueHistory = On(d, 924);
  if (On(d, 832)) {
    p.continueHistory = 0;
    take(612, p.initialRpm);
  }
  p.species1ByFf0 = !On(d, 621);
  p.secondSpecies = On(d, 615);
  p.vbar2 = p.vbar1;
  p.species2ByFf0 = !On(d, 624);
  const auto parameters = static_cast<std::int32_t>(std::floor(Value(d, 619)));
  if (parameters != p.parameterCount) p.profileParameters.clear();
  p.parameterCount = parameters;
  p.exponential = On(d, 626);
  p.repeats = static_cast<std::int32_t>(std::floor(Value(d, 618)));
  p.saveScans = On(d, 623);
  p.saveEquMethod = On(d, 833);
  p.justRunSpeedFile = On(d, 640);
  p.leftLimit = p.meniscus + 0.02f;
  CompleteTimeToEqSpecies(p);
}

bool RunTimeToEQPBox(TXLAWindow& window) {
  (void)window;
  TimeToEqParams& p = CurrentTimeToEqParams();
  FormDialog d = TimeToEqDialog(p);
  const FormDialog shown = d;
  if (!RunFormDialog(d)) return false;
  ReadTimeToEqDialog(d, shown, p);
  BackupOptimizedSpeedSteps();
  SaveTimeToEqPreferences(p, platform::ProgramPaths.SimAppEqParamsIniPath);
  return true;
}

void InitApproachToEqSim(TXLAWindow& window) {
  (void)window;
  TimeToEqParams& p = CurrentTimeToEqParams();
  LoadTimeToEqPreferences(p, platform::ProgramPaths.SimAppEqParamsIniPath);
  p.simParamsPath.clear();
  if (!ConstantSpeedSimulation()) ConstantSpeedSimulation() = std::make_unique<CApproachToEqSim>();
}

void InstallPlanningShellServices(ShellServices& services) {
  services.initApproachToEqSim = [](TXLAWindow& w) { InitApproachToEqSim(w); };
}

// ---------------------------------------------------------------- command 875

namespace {

bool AskEstimate(float& value, const char* prompt) {
  return InputFloat(&value, value, true, prompt, kEstimateCaption);
}

// Asks for one entry and checks it at once: a refused entry is said and
// asked for again, the others already given kept. The same refused value
// given twice (as an unattended answer does) ends the command.
bool AskEstimateChecked(float& value, const char* prompt, const std::function<std::string(float)>& refusal) {
  constexpr int kMaxTries = 10;
  float refused = std::nanf("");
  for (int attempt = 0; attempt < kMaxTries; ++attempt) {
    if (!AskEstimate(value, prompt)) return false;
    const std::string why = refusal(value);
    if (why.empty()) return true;
    platform::Tell(kEstimateCaption, why, platform::BoxIcon::Warning);
    if (value == refused) return false;
    refused = value;
  }
  return false;
}

// The nine profiles as the extra plot: radius against each curve, the
// masses in red and blue, their mean in black; a speed that was not found
// shows no curves.
void ShowEstimatePlot(TXLAWindow& window, const RotorSpeedEstimate& e, float meniscus, float bottom) {
  FreeAdHocPlotArrays();
  AdHocPlotArrays& a = CurrentAdHocPlot();
  const int n = kRotorSpeedEstimatePoints;
  a.adHocCount = n;
  for (int k = 1; k <= 10; ++k) {
    a.adHocArrays[k] = vector(1, n);
    const std::vector<float>& source = k == 1 ? e.radius : e.curve[k - 1];
    for (int i = 1; i <= n; ++i) a.adHocArrays[k][i] = source[static_cast<size_t>(i)];
    a.adHocViews[k] = new CVector();
    a.adHocViews[k]->Attach(a.adHocArrays[k], n, 1);
  }
  const PlotWindowSet& w = CurrentPlotWindows();
  a.adHocPlot = new CWINPlot;
  CWINPlot& plot = *a.adHocPlot;
  plot.SetPlotRect(w.dataTop, w.layoutLeft, w.dataBottom, w.layoutRight);
  plot.SetXLabel("radius");
  plot.SetYLabel("signal");
  int index = 0;
  for (int k = 1; k <= 9; ++k) {
    a.adHocCurves[k] = new CCurve(a.adHocViews[1], a.adHocViews[k + 1]);
    const int speed = (k - 1) % 3 + 1;
    if (e.rpm[speed] <= 0) continue;
    plot.AddCurve(a.adHocCurves[k]);
    plot.SetCurveStyle(index, k <= 6 ? 14 : 12);
    plot.SetCurveColor(index, k <= 3 ? 0x0000FF : (k <= 6 ? 0xFF0000 : 0));
    ++index;
  }
  plot.SetRanges(meniscus, bottom, 0, 5);
  a.adHocKeepRanges = 1;
  RequestRepaint(window);
}

}  // namespace

void TXLAWindow::CmEstimateEquilibriumRotorSpeeds() {
  float lo = 0, hi = 0, bottom = 7.2f, meniscus = 6.7f;
  const SolutionConditions& sc = gSolutionConditions;
  // Each entry is checked as it is given; the solvent before any is asked.
  const auto check = [&](float l, float h, float m, float b) {
    return RotorSpeedEstimateRefusal(l, h, m, b, sc.vbar, sc.density);
  };
  const std::string solvent = check(1, 1, 1, 2);
  if (!solvent.empty()) {
    platform::Tell(kEstimateCaption, solvent, platform::BoxIcon::Warning);
    return;
  }
  if (!AskEstimateChecked(lo, "lowest Mw of interest (Da)", [&](float v) { return check(v, 1, 1, 2); }) ||
      !AskEstimateChecked(hi, "highest Mw of interest (Da)", [&](float v) { return check(lo, v, 1, 2); }) ||
      !AskEstimate(bottom, "bottom (cm)"))
    return;
  // The boxes of the estimate carry its own title, as its prompts do.
  platform::Tell(kEstimateCaption,
                 "for predicting meniscus position, consider in 12 mm centerpieces\n130 ul -> "
                 "~6.8 cm\n170 ul -> ~6.65 cm\n200 ul -> ~6.55");
  if (!AskEstimateChecked(meniscus, "meniscus (cm)", [&](float v) { return check(lo, hi, v, bottom); })) return;
  RotorSpeedEstimate e;
  EstimateEquilibriumRotorSpeeds(lo, hi, meniscus, bottom, sc.vbar, sc.density, e);
  ShowEstimatePlot(*this, e, meniscus, bottom);

  char line[300];
  std::string text;
  std::snprintf(line, sizeof line, "first rotor speed of %.0f rpm brings highest Mw in c(b)/c(m) = %.1f",
                e.rpm[1], 5.0);
  text += line;
  std::snprintf(line, sizeof line, "\nsecond rotor speed of %.0f rpm brings lowest Mw in c(b)/c(m) = %.1f",
                e.rpm[2], 10.0);
  text += line;
  if (e.rpm[3] > 0) {
    std::snprintf(line, sizeof line,
                  "\nthird rotor speed of %.0f rpm brings lowest Mw close to meniscus depletion", e.rpm[3]);
    text += line;
  } else {
    text += "\nno rotor speed up to 60000 rpm brings lowest Mw close to meniscus depletion";
  }
  text +=
      "\n\nWhat we see in the plot are the distributions for the lowest Mw (blue),\nthe highest Mw (red), and "
      "the average (black)\n(all normalized to unit loading concentration).";
  std::snprintf(line, sizeof line,
                "\n\nAt 4C, moderately globular proteins would need at least %.0f h to reach the first "
                "equilibrium at a constant rotor speed",
                e.hours);
  text += line;
  text += "\n\nConsider smart overspeeding with toEQ tool";
  platform::Tell(kEstimateCaption, text);
}

// ---------------------------------------------------------------- command 874

namespace {

constexpr const char* kPickCaption = "Pick Rotor Speed File";
constexpr float kRpmScale = kProgressRange / kProgressTopRpm;

// The path of the planning run under way, and whether its preferences were
// saved or loaded once.
std::string& ResultPath() {
  static std::string path;
  return path;
}
// The result path of the last finished run: its folder holds the
// "simparams.txt" a chosen speed file goes with.
std::string& LastResultPath() {
  static std::string path;
  return path;
}
bool& PreferencesLoaded() {
  static bool loaded = false;
  return loaded;
}

// A new 1-based array of n values.
float* NewArray(int n, const std::function<float(int)>& value) {
  float* a = vector(1, n);
  for (int i = 1; i <= n; ++i) a[i] = value(i);
  return a;
}

void AddPairCurve(CWINPlot& plot, int k, int n, float* x, float* y, COLORREF color) {
  AdHocPlotArrays& a = CurrentAdHocPlot();
  a.adHocPairs[k][0] = x;
  a.adHocPairs[k][1] = y;
  a.adHocPairCount[k] = n;
  a.adHocPairViews[2 * k - 1] = new CVector();
  a.adHocPairViews[2 * k - 1]->Attach(x, n, 1);
  a.adHocPairViews[2 * k] = new CVector();
  a.adHocPairViews[2 * k]->Attach(y, n, 1);
  a.adHocPairCurves[k] = new CCurve(a.adHocPairViews[2 * k - 1], a.adHocPairViews[2 * k]);
  plot.AddCurve(a.adHocPairCurves[k]);
  plot.SetCurveColor(k, color);
}

// The corner points of sim's speed course scaled onto the deviation axis.
void SpeedCourse(const CApproachToEqSim& sim, int& n, float*& t, float*& rpm) {
  sim.BuildRpmTimeCourse(&n, &t, &rpm);
  for (int i = 1; i <= n; ++i) rpm[i] *= kRpmScale;
}

// The deviation from equilibrium of the constant-speed run and of the
// trial against time, with the speeds; in the inset the radial difference
// at the time each reached the criterion.
void ShowPlanningPlots(TXLAWindow& window, const CApproachToEqSim& constant, const CApproachToEqSim* trial,
                       float constantHours) {
  FreeAdHocPlotArrays();
  AdHocPlotArrays& a = CurrentAdHocPlot();
  const PlotWindowSet& w = CurrentPlotWindows();
  const int n = constant.nScans;
  a.adHocCount = n;
  a.adHocArrays[1] = NewArray(n, [&](int i) { return constant.timeHours[i]; });
  a.adHocArrays[2] = NewArray(n, [&](int i) { return constant.rmsDev[i]; });
  for (int k = 1; k <= 2; ++k) {
    a.adHocViews[k] = new CVector();
    a.adHocViews[k]->Attach(a.adHocArrays[k], n, 1);
  }
  a.adHocCurves[1] = new CCurve(a.adHocViews[1], a.adHocViews[2]);
  a.adHocPlot = new CWINPlot;
  CWINPlot& plot = *a.adHocPlot;
  plot.SetPlotRect(w.dataTop, w.layoutLeft, w.dataBottom, w.layoutRight);
  plot.SetXLabel("elapsed time (h)");
  plot.SetYLabel("rms difference to eq from left to right fit limit");
  plot.AddCurve(a.adHocCurves[1]);
  plot.SetCurveColor(0, 0x646464);
  const float hours = constantHours > 0 ? constantHours : constant.timeHours[n];
  AddPairCurve(plot, 1, 2, NewArray(2, [&](int i) { return i == 1 ? 0.0f : hours; }),
               NewArray(2, [&](int) { return constant.finalRpm * kRpmScale; }), 0xC8FFC8);
  if (trial) {
    AddPairCurve(plot, 2, trial->nScans, NewArray(trial->nScans, [&](int i) { return trial->timeHours[i]; }),
                 NewArray(trial->nScans, [&](int i) { return trial->rmsDev[i]; }), 0xFF00FF);
    int m = 0;
    float *t = nullptr, *rpm = nullptr;
    SpeedCourse(*trial, m, t, rpm);
    AddPairCurve(plot, 3, m, t, rpm, 0xF00000);
  }
  plot.SetRanges(0, hours, 0, kProgressRange);
  a.adHocKeepRanges = 1;

  // The radial differences, compared as the criterion compared them.
  const int lo = constant.leftIndex, hi = constant.rightIndex, count = hi - lo + 1;
  if (count >= 2) {
    float factor = 1;
    if (constant.stepInitial) {
      const float mass = constant.RadialIntegral(constant.total[constant.indexRms]);
      if (mass > 0) factor = constant.RadialIntegral(constant.eqProfile) / mass;
    }
    auto difference = [&](const CApproachToEqSim& sim) {
      return NewArray(count, [&, factor](int i) {
        const int j = lo + i - 1;
        return sim.eqProfile[j] - factor * sim.total[sim.indexRms][j];
      });
    };
    a.adHocCount2 = count;
    a.adHocArrays2[1] = NewArray(count, [&](int i) { return constant.radius[lo + i - 1]; });
    a.adHocArrays2[2] = difference(constant);
    const bool withTrial = trial && trial->nPoints == constant.nPoints;
    if (withTrial) a.adHocArrays2[3] = difference(*trial);
    a.adHocPlot2 = new CWINPlot;
    CWINPlot& inset = *a.adHocPlot2;
    const int height = w.dataBottom - w.dataTop, width = w.layoutRight - w.layoutLeft;
    inset.SetPlotRect(w.dataTop + height / 10, w.layoutLeft + width / 2, w.dataTop + height / 2,
                      w.layoutRight - width / 20);
    inset.SetXLabel("radius (cm)");
    inset.SetYLabel("difference to eq");
    for (int k = 1; k <= (withTrial ? 3 : 2); ++k) {
      a.adHocViews2[k] = new CVector();
      a.adHocViews2[k]->Attach(a.adHocArrays2[k], count, 1);
    }
    for (int k = 1; k <= (withTrial ? 2 : 1); ++k) {
      a.adHocCurves2[k] = new CCurve(a.adHocViews2[1], a.adHocViews2[k + 1]);
      inset.AddCurve(a.adHocCurves2[k]);
      inset.SetCurveColor(k - 1, k == 1 ? 0x646464 : 0xFF00FF);
    }
    inset.Rescale();
  }
  RequestRepaint(window);
}

// The trial's deviation and speed course, drawn straight into the window.
void DrawProgressPlot(TXLAWindow& window, const CApproachToEqSim& trial, float hours) {
  platform::DrawSurface* surface = window.Frame().Surface();
  if (!surface || !WindowFlags().WindowPainted || trial.nScans < 1) return;
  const PlotWindowSet& w = CurrentPlotWindows();
  FloatVec t(1, trial.nScans), rms(1, trial.nScans);
  for (int i = 1; i <= trial.nScans; ++i) {
    t[i] = trial.timeHours[i];
    rms[i] = trial.rmsDev[i];
  }
  int m = 0;
  float *ct = nullptr, *crpm = nullptr;
  SpeedCourse(trial, m, ct, crpm);
  {
    CVector tv, rv, ctv, crv;
    tv.Attach(t, trial.nScans, 1);
    rv.Attach(rms, trial.nScans, 1);
    ctv.Attach(ct, m, 1);
    crv.Attach(crpm, m, 1);
    CCurve deviation(&tv, &rv), speeds(&ctv, &crv);
    CWINPlot plot;
    plot.SetPlotRect(w.dataTop, w.layoutLeft, w.dataBottom, w.layoutRight);
    plot.SetXLabel("time (h)");
    plot.SetYLabel("difference to eq");
    plot.AddCurve(&deviation);
    plot.SetCurveColor(0, 0xFF00FF);
    plot.AddCurve(&speeds);
    plot.SetCurveColor(1, 0xF00000);
    plot.SetRanges(0, hours, 0, kProgressRange);
    plot.Plot();
    // Over the simulation's profiles: their "radius" stood where "time (h)" goes.
    ReplayPlotPictureOnWhite(*surface, plot);
  }
  free_vector(ct, 1, m);
  free_vector(crpm, 1, m);
  window.Frame().FlushCanvas();
}

}  // namespace

std::string& PlanningResultPath() { return ResultPath(); }

bool SetupTimeToEqFromScans(TXLAWindow& window) {
  if (!RunTimeToEQPBox(window)) return false;
  TimeToEqParams& p = CurrentTimeToEqParams();
  const ScanSet& scans = CurrentScanSet();
  if (p.continueHistory) {
    if (scans.count > 0) {
      int last = scans.count;
      if (static_cast<int>(scans.order.size()) > scans.count && scans.order[static_cast<size_t>(scans.count)] > 0)
        last = scans.order[static_cast<size_t>(scans.count)];
      p.initialRpm = scans.records[static_cast<size_t>(last)].rpm;
    } else {
      platform::Tell(kPlanningCaption, "sorry, no scan files are loaded, simulating from rest at 0 rpm");
      p.continueHistory = 0;
      p.initialRpm = 0;
    }
  }
  if (p.experimentalInitial) {
    platform::Tell(kPlanningCaption, "sorry, extrapolation of given data not yet implemented, switching off");
    p.experimentalInitial = 0;
  }
  if (p.justRunSpeedFile) {
    std::string picked;
    if (SelectFileNameOpenOrSave(window, false, picked, 10000, kPickCaption, "", "All Files (*.*)", "*.*") && !picked.empty())
      p.speedFilePath = picked;
    else
      p.speedFilePath.clear();
    const std::string previous = LastResultPath().empty() ? std::string() : platform::SplitPath(LastResultPath()).folder;
    p.simParamsPath = previous + "simparams.txt";
    if (platform::FileExists(p.simParamsPath) &&
        platform::UI().MessageBox(kPickCaption, "also use associated simparams.txt file?",
                                  platform::BoxButtons::YesNo, platform::BoxIcon::Question) == platform::IDYES) {
      LoadTimeToEqPreferences(p, p.simParamsPath);
    } else {
      p.simParamsPath.clear();
    }
  } else {
    p.speedFilePath.clear();
    p.simParamsPath.clear();
  }
  ResultPath() = NextNumberedResultPath(platform::ProgramPaths.TempFolder, "optimizedoverspeedsteps");
  return PrepareResultFolder(ResultPath());
}

namespace {

// The model in use while the planning switches to the non-interacting
// species: the planning simulates its own species, so the user's model and
// its entries come back when the planning ends, and the menu marks are the
// table's for it.
class BorrowedModel {
 public:
  explicit BorrowedModel(TXLAWindow& w)
      : w_(w), flags_(gModelSelectorFlags), params_(gModelParams), vector_(gModelParameterVector),
        lamm_(LammSettings()), fitTINoise_(gFitEngineState.fitTINoise) {}
  ~BorrowedModel() {
    gModelSelectorFlags = flags_;
    gModelParams = params_;
    gModelParameterVector = vector_;
    LammSettings() = lamm_;
    gFitEngineState.fitTINoise = fitTINoise_;
    MarkSelectedModel(w_);
  }
  BorrowedModel(const BorrowedModel&) = delete;
  BorrowedModel& operator=(const BorrowedModel&) = delete;

 private:
  TXLAWindow& w_;
  ModelSelectorFlags flags_;
  ModelParams params_;
  ModelParameterVector vector_;
  LammSolverSettings lamm_;
  unsigned char fitTINoise_;
};

}  // namespace

void TXLAWindow::CmMinimizeTimeToEquilibrium() {
  platform::Tell(kPlanningCaption,
                 "Please Note:  This estimate is only a guide for the order of magnitude it's really going to take. It "
                 "does not take into account chemical reactions.\nOne needs to experimentally verify attainment of "
                 "equilibrium by sequential scans, if possible in 3 to 6 h intervals. (See the tool for testing "
                 "attainment of equilibrium: Options > Equilibrium Tools > Test Approach to Equilibrium.)");
  std::optional<BorrowedModel> borrowed;
  if (!gModelSelectorFlags.LammDiscreteModel) {
    platform::Tell(kPlanningCaption,
                   "switching to non-interacting species model\n(the model in use comes back when the planning ends)");
    borrowed.emplace(*this);
    const int before = SelectedModelKey();
    CmDiscreteSpeciesModel();
    // (Borrowed without an entry: the species start is written here.)
    WriteSpeciesStart(kCmDiscreteSpeciesModel, before);
  }
  ResultPath().clear();
  TimeToEqParams& p = CurrentTimeToEqParams();
  const std::string& prefs = platform::ProgramPaths.SimAppEqParamsIniPath;
  if (!PreferencesLoaded()) LoadTimeToEqPreferences(p, prefs);
  if (!SetupTimeToEqFromScans(*this)) return;
  PreferencesLoaded() = SaveTimeToEqPreferences(p, prefs);

  float maxHours = 0;
  if (!p.skipCompletion) {
    maxHours = PlanningMaximumHours();
  } else {
    platform::Tell(kPlanningCaption, "...need to implement maximum time calculation... please enter manually (h)");
    if (!InputFloat(&maxHours, maxHours, true, "max sim time (h)", kPlanningCaption)) return;
  }

  FitHost* host = MainFitHost();
  SpeedProfileOptimizerState& st = SpeedProfileOptimizer();
  st.drawProgressPlot = [this](const CApproachToEqSim& trial, float hours) { DrawProgressPlot(*this, trial, hours); };
  MinimumTimeToEqOutcome outcome;
  // The progress is drawn straight into the window; no painting meanwhile.
  RunBusy = true;
  CalculateMinimumTimeToEq(host, maxHours, ResultPath(), outcome);
  RunBusy = false;
  st.drawProgressPlot = nullptr;
  LastResultPath() = ResultPath();

  MainWindowFlags& flags = WindowFlags();
  flags.TimeToEqSummary = MinimumTimeToEqSummary(outcome, ResultPath());
  flags.TimeToEqSummaryPending = true;
  const CApproachToEqSim* constant = ConstantSpeedSimulation().get();
  if (!outcome.constantFailed && !outcome.cancelled && constant && constant->nScans > 0)
    ShowPlanningPlots(*this, *constant, outcome.trialShown && st.trial ? st.trial.get() : nullptr,
                      outcome.constantHours);
  else
    RequestRepaint(*this);
}

// ---------------------------------------------------------------- command 928

void TXLAWindow::CmConvertSpeedStepsToEqu() {
  constexpr const char* kFilter = "speedsteps txt file (*.txt*)";
  constexpr const char* kMethodCaption = "create EQU method";
  std::string input = platform::Combine(platform::ProgramPaths.ProgramFolder, "speedsteps.txt");
  if (!SelectFileNameOpenOrSave(*this, true, input, 260, "input file", "", kFilter, "*.txt*")) return;
  const std::string ext = platform::SplitPath(input).extension;
  std::string output;
  bool ok = false;
  if (ext.size() > 1 && (ext[1] == 't' || ext[1] == 'T')) {
    platform::PathParts parts = platform::SplitPath(input);
    parts.extension = ".EQU";
    output = platform::JoinPath(parts);
    if (!SelectFileNameOpenOrSave(*this, true, output, 260, "output file", "", kFilter, "*.txt*")) return;
    float temperature = 20, cycle = 90;
    int perStep = 1, finals = 0;
    if (!InputFloat(&temperature, temperature, true, "temperature (C)", kMethodCaption) ||
        !InputFloat(&cycle, cycle, true, "scan cycle time (sec)", kMethodCaption) ||
        !InputCount(&perStep, perStep, "max # of scans per step", kMethodCaption) ||
        !InputCount(&finals, finals, "# of final scans", kMethodCaption))
      return;
    ok = ConvertSpeedStepsToMethod(input, output, cycle, static_cast<int>(std::floor(temperature)),
                                   finals, perStep);
  } else {
    output = platform::SplitPath(input).folder + "speedsteps.txt";
    if (!SelectFileNameOpenOrSave(*this, true, output, 260, "output file", "", kFilter, "*.txt*")) return;
    ok = ConvertEquToSpeedSteps(input, output);
  }
  if (ok) platform::Processes().OpenTextEditor(output);
}
