#include "app/commands/options/solvent_commands.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/window/txla_window.h"
#include "distributions/conti_parameters.h"
#include "distributions/conti_settings.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/solvent_gradient.h"
#include "lamm/global/conc_dependent_coefficients.h"
#include "lamm/lamm_settings.h"
#include "platform/error_box.h"
#include "platform/program_paths.h"
#include "platform/user_interface.h"

namespace {

constexpr int kCommand = 542;
SolventGradientSettings& S() { return CurrentSolventGradientSettings(); }

struct Layout {
  int id;
  FormControl::Kind kind;
  const char* label;
  int group, row, column;
  bool enabled = true;
  int maxChars = 15;
};

constexpr FormControl::Kind kCheck = FormControl::Kind::Check;
constexpr FormControl::Kind kEdit = FormControl::Kind::Edit;
constexpr FormControl::Kind kRadio = FormControl::Kind::Radio;

const Layout kLayout[] = {
    {857, kCheck, "Use Inhomogeneous Solvent Model", 0, 1, 0},
    {838, kEdit, "vbar (macromolecule)", 0, 2, 0},
    {839, kCheck, "fit vbar (requires strong density gradients)", 0, 2, 2},
    {840, kRadio, "compressible solvent (static gradient)", 1, 3, 0},
    {841, kEdit, "compressibility [1e-4/MPa]", 0, 4, 0},
    {842, kEdit, "buffer density at 1 atm [g/ml]", 0, 5, 0},
    {843, kEdit, "buffer viscosity at 1 atm [Poise]", 0, 6, 0},
    {844, kRadio, "sedimenting cosolute (dynamic gradient)", 1, 7, 0},
    {845, kEdit, "vbar (macromolecule including solvation)", 0, 8, 0},
    {846, kEdit, "cosolute loading concentration [M]", 0, 9, 0},
    {863, kRadio, "ideally sedimenting cosolute", 2, 10, 0},
    {864, kEdit, "apparent s [S]", 0, 11, 0},
    {865, kEdit, "apparent D [1e-7 cm^2/sec]", 0, 12, 0},
    {847, kRadio, "nonideal cosolute", 2, 13, 0},
    {848, kEdit, "", 0, 14, 1, false, 1000},
    {849, kEdit, "", 0, 15, 1, false, 1000},
    {850, kRadio, "CsCl at 25C", 2, 16, 0},
    {851, kEdit, "radial grid size", 0, 17, 0},
    {852, kCheck, "plot cosolute data", 0, 18, 0},
    {853, kCheck, "save cosolute data in ", 0, 19, 0},
    {854, kEdit, "density(c) coefficients [g/ml], (c in [M])", 0, 20, 0, false, 1000},
    {855, kEdit, "viscosity(c) coefficients [Poise], (c in [M])", 0, 21, 0, false, 1000},
    {856, kCheck, "add H2O compressibility", 0, 22, 0},
    {858, kCheck, "Load New Nonideal D(c) File", 0, 14, 0},
    {859, kCheck, "Load New Nonideal s(c) File", 0, 15, 0},
    {860, kCheck, "Load New DENSITY(c) File", 0, 23, 0},
    {861, kCheck, "Load New VISCOSITY(c) File", 0, 24, 0},
    {862, kEdit, "", 0, 19, 2, false, 1000},
};

constexpr int kNumericIds[] = {838, 841, 842, 843, 845, 846, 864, 865, 851};

void Put(FormDialog& d, int id, const std::string& text) {
  if (FormControl* c = d.Find(id)) c->text = text;
}

std::string& DcPath() { return CurrentCosoluteCoefficients().dPath; }
std::string& ScPath() { return CurrentCosoluteCoefficients().sPath; }

void DefaultPaths() {
  const platform::ProgramPathsRecord& p = platform::ProgramPaths;
  SolventGradientSettings& sg = S();
  if (DcPath().empty()) DcPath() = p.DnonidTablePath;
  if (ScPath().empty()) ScPath() = p.SnonidTablePath;
  if (sg.DensityCoefficientFile.empty()) sg.DensityCoefficientFile = p.DensityTablePath;
  if (sg.ViscosityCoefficientFile.empty()) sg.ViscosityCoefficientFile = p.ViscosityTablePath;
}

// The buffer of the dynamic gradient: the cosolute solution at its loading
// concentration (water at 20 degC without lists).
void BufferAtLoading(SolventGradientSettings& sg) {
  const double c0 = sg.CosoluteLoadingConcentration;
  sg.ViscosityRatio = static_cast<float>(ViscosityAtConcentration(c0) / kWaterViscosity20C);
  sg.BufferViscosity1atm = sg.ViscosityRatio * kWaterViscosity20C;
  sg.BufferDensity1atm = static_cast<float>(DensityAtConcentration(c0));
}

// The settings with the dialog's entries, before any file is chosen.
SolventGradientSettings Candidate(const FormDialog& d, double& vbar) {
  SolventGradientSettings sg = S();
  vbar = d.Value(838);
  sg.FitVbar = d.Ticked(839);
  sg.Compressibility = d.Value(841) * 1e-4;
  sg.BufferDensity1atm = static_cast<float>(d.Value(842));
  sg.BufferViscosity1atm = static_cast<float>(d.Value(843) * 0.1);
  sg.ViscosityRatio = sg.BufferViscosity1atm / kWaterViscosity20C;
  sg.DynamicGradient = sg.SedimentingCosolute = d.Ticked(844);
  sg.StaticGradient = !sg.DynamicGradient;
  sg.VbarSolvated = static_cast<float>(d.Value(845));
  sg.EffectiveVbar = sg.DynamicGradient ? sg.VbarSolvated : static_cast<float>(vbar);
  sg.CosoluteLoadingConcentration = d.Value(846);
  sg.NonidealCosolute = !d.Ticked(863);
  sg.CosoluteS = d.Value(864);
  sg.CosoluteD = d.Value(865) * 1e-7;
  sg.CsClAt25C = d.Ticked(850);
  // A size no int holds is held as the largest, which the check refuses.
  const double grid = std::floor(d.Value(851));
  sg.CosoluteGridSize = sg.CosoluteGridSizeEntry = grid < INT_MAX ? static_cast<int>(grid) : INT_MAX;
  sg.PlotCosoluteData = d.Ticked(852);
  sg.SaveCosoluteData = d.Ticked(853);
  sg.AddWaterCompressibility = d.Ticked(856);
  return sg;
}

// Every value is checked, with the model on or off: an entry stored now is
// used the moment the model is switched on.
bool ValidEntries(const FormDialog& d) {
  for (int id : kNumericIds) {
    const FormControl* c = d.Find(id);
    if (!c || !IsNonNegativeNumber(c->text.c_str())) return false;
  }
  double vbar = 0;
  SolventGradientSettings candidate = Candidate(d, vbar);
  if (candidate.DynamicGradient) BufferAtLoading(candidate);
  const std::string problem = SolventGradientProblem(candidate, vbar);
  if (problem.empty()) return true;
  platform::Tell("Input Error", problem, platform::BoxIcon::Error);
  return false;
}

// The path chosen in an open-file dialog, or empty when cancelled.
std::string AskDataFile(const char* title) {
  platform::FileDialogRequest request;
  request.title = title;
  request.filters = {{"dat files (*.dat*)", "*.dat*"}, {"All Files (*.*)", "*.*"}};
  const platform::FileDialogResult file = platform::UI().FileDialog(request);
  if (!file.accepted || file.paths.empty()) return {};
  return file.paths.front();
}

void AskCosoluteFile(const char* title, const char* failure, std::string& path) {
  const std::string chosen = AskDataFile(title);
  if (!chosen.empty()) {
    path = chosen;
    return;
  }
  ErrorBox(failure, false);
  if (!S().CsClAt25C) S().NonidealCosolute = false;
}

void AskCoefficientFile(const char* title, const char* failure, std::string& path,
                        std::vector<double>& coefficients) {
  const std::string chosen = AskDataFile(title);
  if (chosen.empty()) {
    ErrorBox(failure, false);
    return;
  }
  path = chosen;
  ReadCoefficientList(path, coefficients);
}

bool Continuous() { return gModelSelectorFlags.DistributionModel != 0; }
bool Extrapolating() { return gModelSelectorFlags.LsgExtrapolationModel != 0; }
float* P() { return gModelParameterVector.P; }

void Apply(const FormDialog& d, TXLAWindow& window) {
  SolventGradientSettings& sg = S();
  SolutionConditions& sol = gSolutionConditions;
  const bool wasOn = sg.UseInhomogeneousSolvent;
  double vbar = 0;
  sg = Candidate(d, vbar);
  sol.vbar = static_cast<float>(vbar);
  sol.vbarRho = sol.vbar * sol.density;
  gFitEngineState.fitVbar = sg.FitVbar;
  if (d.Ticked(858))
    AskCosoluteFile("Select NONIDEAL D(c) Data File", "Could Not Open New NONIDEAL D(c) Data File", DcPath());
  if (d.Ticked(859))
    AskCosoluteFile("Select NONIDEAL s(c) Data File", "Could Not Open New NONIDEAL s(c) Data File", ScPath());
  if (d.Ticked(860))
    AskCoefficientFile("Select DENSITY(c) Data File", "Could Not Open New DENSITY(c) Data File",
                       sg.DensityCoefficientFile, sg.DensityCoefficients);
  if (d.Ticked(861))
    AskCoefficientFile("Select VISCOSITY(c) Data File", "Could Not Open New VISCOSITY(c) Data File",
                       sg.ViscosityCoefficientFile, sg.ViscosityCoefficients);
  if (sg.DynamicGradient) {
    if (sg.DensityCoefficients.empty()) ReadCoefficientList(sg.DensityCoefficientFile, sg.DensityCoefficients);
    if (sg.ViscosityCoefficients.empty())
      ReadCoefficientList(sg.ViscosityCoefficientFile, sg.ViscosityCoefficients);
    sg.WaterCompressibilityApplied = sg.AddWaterCompressibility;
    if (sg.WaterCompressibilityApplied) sg.Compressibility = 4.591e-4;
    BufferAtLoading(sg);
  }
  CurrentCosoluteCoefficients().csClAt25C = sg.CsClAt25C;
  ResetSolventListNotes();
  bool on = d.Ticked(857);
  // Lists chosen just now may make a buffer the solvers cannot use.
  const std::string problem = SolventGradientProblem(sg, vbar);
  if (!problem.empty()) {
    ErrorBox(problem.c_str(), false);
    on = false;
  }
  if (on == wasOn) return;
  if (on) {
    sg.UseInhomogeneousSolvent = true;
    if (Continuous()) {
      P()[3] = sol.vbar;
      sg.SavedContiVbar = sol.vbar;
      sg.SavedContiSmin = P()[1];
    }
    if (LammSettings().truncateGrid) {
      if (!sg.TruncateGridNoteShown)
        platform::Tell("",
                       "make sure Lamm equation option 'dyanmically trucate grid' \nis not used when "
                       "macromolecular flotation near meniscus can occur");
      sg.TruncateGridNoteShown = true;
    }
    window.CheckMenuItem(kCommand, true);
    if (sg.DynamicGradient && !sg.DynamicGradientNoteShown) {
      platform::Tell("Attention",
                     "this is only implemented for regular Lamm equation models\nlike discrete "
                     "noninteracting species (boundary and analytical zone centrifugation)\nc(s) "
                     "and c(M) distributions");
      sg.DynamicGradientNoteShown = true;
    }
    if (sg.StaticGradient && !sg.StaticGradientNoteShown) {
      platform::Tell("Attention",
                     "this is only implemented for regular Lamm equation models and ls-g*(s)\nlike "
                     "discrete noninteracting species (boundary and analytical zone "
                     "centrifugation)\nc(s) and c(M) distributions");
      sg.StaticGradientNoteShown = true;
    }
    if (Continuous() && !Extrapolating()) P()[3] = sol.vbar;
    platform::Tell("", "changing s and D (and M) to standard conditions!");
    ConvertToStandardConditions();
  } else {
    sg.UseInhomogeneousSolvent = false;
    window.CheckMenuItem(kCommand, false);
    if (sg.StandardConditionsApplied) {
      platform::Tell("", "changing s and D (and M) back to experimental conditions!");
      ConvertToExperimentalConditions();
    }
    sg.ViscosityCoefficients.clear();
    sg.DensityCoefficients.clear();
    sg.FitVbar = false;
    gFitEngineState.fitVbar = 0;
    if (Continuous()) {
      P()[3] = sg.SavedContiVbar;
      Conti().sMin = P()[1] = sg.SavedContiSmin;
    }
  }
  ContiSolventGradient() = sg.UseInhomogeneousSolvent;
}

// With the M-and-s parametrisation the slot holds M, which the conversion
// leaves as it is (s/(D (1 - vbar rho)) is the same in both solvents).
void ConvertSpecies(bool toStandard) {
  ModelParams& mp = gModelParams;
  const int n = mp.componentCount;
  float D[kComponentSlots + 1] = {};
  const bool mass = gFitEngineState.molarMassParameters != 0;
  for (int i = 1; i <= n; ++i) D[i] = mass ? 1.0f : mp.massOrD[i];
  if (toStandard)
    ConvertSpeciesToStandard(S(), gSolutionConditions.vbar, mp.s, D, n);
  else
    ConvertSpeciesToExperimental(S(), gSolutionConditions.vbar, mp.s, D, n);
  if (!mass)
    for (int i = 1; i <= n; ++i) mp.massOrD[i] = D[i];
}

}  // namespace

void ConvertToStandardConditions() {
  SolventGradientSettings& sg = S();
  SolutionConditions& sol = gSolutionConditions;
  ConvertSpecies(true);
  if (!Continuous()) PackModelParameters();
  sol.density = kWaterDensity20C;
  sol.vbarRho = sol.vbar * kWaterDensity20C;
  sol.viscosity = 1.0f;
  if (Continuous() && !Extrapolating()) {
    const int n = gModelParams.componentCount;
    P()[n + 3] = kWaterDensity20C;
    P()[2 * n + 4] = 1.0f * 0.01002f;
  }
  sg.StandardConditionsApplied = true;
}

void ConvertToExperimentalConditions() {
  SolventGradientSettings& sg = S();
  SolutionConditions& sol = gSolutionConditions;
  ConvertSpecies(false);
  sol.density = sg.BufferDensity1atm;
  if (sg.DynamicGradient) {
    sol.vbarRho = sg.EffectiveVbar * sol.density;
    sol.vbar = sg.EffectiveVbar;
  } else {
    sol.vbarRho = sol.vbar * sol.density;
  }
  sol.viscosity = sg.ViscosityRatio;
  if (Continuous() && !Extrapolating()) {
    const int n = gModelParams.componentCount;
    P()[n + 3] = sol.density;
    P()[2 * n + 4] = sol.viscosity * 0.01002f;
  }
  sg.StandardConditionsApplied = false;
  PackModelParameters();
}

FormDialog InhomogeneousSolventDialog() {
  SolventGradientSettings& sg = S();
  DefaultPaths();
  FormDialog d;
  d.templateId = 866;
  d.caption = "Inhomogeneous Solvent Parameters";
  for (const Layout& l : kLayout) {
    FormControl c;
    c.id = l.id;
    c.kind = l.kind;
    c.label = l.label;
    c.group = l.group;
    c.row = l.row;
    c.column = l.column;
    c.enabled = l.enabled;
    c.maxChars = l.maxChars;
    d.controls.push_back(c);
  }
  const float vbar = gSolutionConditions.vbar;
  d.Tick(857, sg.UseInhomogeneousSolvent);
  d.Put(838, "%.4f", vbar);
  d.Tick(839, sg.FitVbar);
  d.Tick(840, sg.StaticGradient);
  d.Put(841, "%.4f", sg.Compressibility * 10000);
  d.Put(842, "%.6f", sg.BufferDensity1atm);
  d.Put(843, "%.4f", sg.BufferViscosity1atm * 10.0);
  d.Tick(844, sg.DynamicGradient);
  // A solvated vbar not yet entered is shown as the vbar.
  d.Put(845, "%.4f", sg.VbarSolvated == 0 ? vbar : sg.VbarSolvated);
  d.Put(846, "%.3f", sg.CosoluteLoadingConcentration);
  d.Tick(847, sg.NonidealCosolute && !sg.CsClAt25C);
  d.Tick(863, !sg.NonidealCosolute);
  d.Put(864, "%.3f", sg.CosoluteS);
  d.Put(865, "%.2f", sg.CosoluteD * 1e7);
  Put(d, 848, DcPath());
  Put(d, 849, ScPath());
  d.Tick(850, sg.CsClAt25C);
  Put(d, 851, std::to_string(sg.CosoluteGridSizeEntry));
  d.Tick(852, sg.PlotCosoluteData);
  d.Tick(853, sg.SaveCosoluteData);
  Put(d, 854, sg.DensityCoefficientFile);
  Put(d, 855, sg.ViscosityCoefficientFile);
  d.Tick(856, sg.AddWaterCompressibility);
  Put(d, 862, platform::ProgramPaths.TempFolder);
  d.canClose = ValidEntries;
  return d;
}

void RunInhomogeneousSolventDialog(TXLAWindow& window) {
  FormDialog d = InhomogeneousSolventDialog();
  if (!RunFormDialog(d)) return;
  Apply(d, window);
}

void TXLAWindow::CmInhomogeneousSolvent() { RunInhomogeneousSolventDialog(*this); }
