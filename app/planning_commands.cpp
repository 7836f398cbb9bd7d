// Run planning in the window: the time-to-equilibrium parameter dialog, its
// start-up step and "Estimate Equilibrium Rotor Speeds".
#include "app/planning_commands.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/params_dialog.h"
#include "app/shell_services.h"
#include "app/txla_window.h"
#include "app/window_services.h"
#include "data/scan_set.h"
#include "distributions/hydrodynamics.h"
#include "equilibrium/planning/approach_to_eq_sim.h"
#include "equilibrium/planning/rotor_speed_estimate.h"
#include "equilibrium/planning/time_to_eq_params.h"
#include "fit/model_params.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "numerics/error_box.h"
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
    {832, K::Check, "iniital EQ at (rpm)", 2, 0, 0},
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
// written with format. The meniscus (a radius or a fill volume), the initial
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
    {834, "%.6f", &P::density},    {835, "%.6f", &P::viscosity, 10.0f},
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
  platform::UI().MessageBox("Input Error", "Invalid Entry", platform::BoxButtons::Ok,
                            platform::BoxIcon::Information);
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
  if (!AskEstimate(lo, "lowest Mw of interest (Da)") || !AskEstimate(hi, "highest Mw of interest (Da)") ||
      !AskEstimate(bottom, "bottom (cm)"))
    return;
  platform::UI().MessageBox(kPlanningCaption,
                            "for predicting meniscus position, consider in 12 mm centerpieces\n130 ul -> "
                            "~6.8 cm\n170 ul -> ~6.65 cm\n200 ul -> ~6.55",
                            platform::BoxButtons::Ok, platform::BoxIcon::Information);
  if (!AskEstimate(meniscus, "meniscus (cm)")) return;
  const SolutionConditions& sc = gSolutionConditions;
  const std::string refusal = RotorSpeedEstimateRefusal(lo, hi, meniscus, bottom, sc.vbar, sc.density);
  if (!refusal.empty()) {
    platform::UI().MessageBox(kEstimateCaption, refusal, platform::BoxButtons::Ok, platform::BoxIcon::Warning);
    return;
  }
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
  platform::UI().MessageBox(kPlanningCaption, text, platform::BoxButtons::Ok, platform::BoxIcon::Information);
}
