#include "app/commands/model/params_dialog.h"
#include "app/commands/model/nonideal_cs_commands.h"
#include "models/nonideal/mean_field/mean_field.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/commands/run_fit/fit_limits.h"
#include "app/window/main_window_flags.h"
#include "app/dialogs/nonideal_params.h"
#include "app/commands/model/wiener_skew_entries.h"
#include "app/screens/eq_test_screen.h"
#include "equilibrium/eqtools/eq_test_mode.h"
#include "app/window/road_services.h"
#include "app/window/txla_window.h"
#include "app/window/window_services.h"
#include "data/load_hooks.h"
#include "data/scan_grid.h"
#include "data/scan_set.h"
#include "data/wiener_skew.h"
#include "distributions/conti_parameters.h"
#include "distributions/conti_settings.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "models/buffer/buffer_sed_settings.h"
#include "fit/model_selector.h"
#include "fit/model_table.h"
#include "lamm/lamm_settings.h"
#include "platform/error_box.h"
#include "platform/sounds.h"
#include "platform/user_interface.h"

namespace {

constexpr int kIncluded[] = {0, 401, 408, 415, 422};
constexpr int kGridFromFile = 417, kLogGrid = 424;
// Fields that some templates give a meaning of their own.
constexpr int kToleranceEdit = 438, kExtraEdit = 443;
constexpr int kPlotSM = 442, kPlotSFf0 = 445, kPlotSR = 446;
// The ls-g*(s) area-fraction model: "fit boundary fractions" and the
// consecutive-groups switch, which the dialog carries without showing.
constexpr int kFitBoundaryFractions = 442, kConsecutiveGroups = 445;
constexpr int kNoDeconvolution = 409, kCalibrate = 425;

bool ContinuousFamily() {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  return m.DistributionModel || m.SedTransformModel;
}

bool MMode() { return gFitEngineState.molarMassParameters != 0; }

// The nonideal species' templates show D, but in the M-and-s form the
// species' second value, and so the solver's, is its molar mass.
const char* MassFormLabel(int templateId, int slot) {
  static constexpr struct {
    int templateId, slot;
    const char* label;
  } kLabels[] = {{325, 1, "M"}, {1101, 1, "M0 (Da)"}};
  if (!MMode()) return nullptr;
  for (const auto& l : kLabels)
    if (l.templateId == templateId && l.slot == slot) return l.label;
  return nullptr;
}

std::string Text(const ParamsTransfer& b, int id) {
  auto it = b.texts.find(id);
  return it == b.texts.end() ? std::string() : it->second;
}

int State(const ParamsTransfer& b, int id) {
  auto it = b.states.find(id);
  return it == b.states.end() ? 0 : it->second;
}

float Value(const ParamsTransfer& b, int id) { return static_cast<float>(std::atof(Text(b, id).c_str())); }

// The box as it was filled, before the user typed.
ParamsTransfer& ShownTransfer() {
  static ParamsTransfer shown;
  return shown;
}

// A field's entry: the value behind it while its text is the one shown (the
// box shows fewer digits than the value has; OK without an edit must not
// round a fitted meniscus), else the value typed.
float Entry(const ParamsTransfer& b, int id, float behind) {
  return Text(b, id) == Text(ShownTransfer(), id) ? behind : Value(b, id);
}

// Component 4 of the discrete species is the buffer of the buffer correction.
bool BufferSlot() { return gBufferSedSettings.BufferSedOn && gModelSelectorFlags.LammDiscreteModel; }

struct ControlSpec {
  int id;
  FormControl::Kind kind;
  const char* label;
};

const std::vector<ControlSpec>& Controls() {
  using K = FormControl::Kind;
  static const std::vector<ControlSpec> controls = [] {
    std::vector<ControlSpec> c;
    for (int comp = 0; comp < 4; ++comp) {
      const int base = 401 + 7 * comp;
      c.push_back({base, K::Check, "included"});
      for (int j = 1; j <= 3; ++j) c.push_back({base + j, K::Check, "fit"});
      for (int j = 4; j <= 6; ++j) c.push_back({base + j, K::Edit, ""});
    }
    c.push_back({429, K::Radio, "Experimental Initial Distribution"});
    c.push_back({430, K::Radio, "Constant Initial Distribution"});
    c.push_back({431, K::Check, "Fit TI Noise"});
    c.push_back({455, K::Check, "Fit RI Noise"});
    c.push_back({432, K::Check, "fit"});
    c.push_back({433, K::Edit, "baseline"});
    c.push_back({434, K::Check, "fit"});
    c.push_back({435, K::Edit, "meniscus"});
    c.push_back({436, K::Check, "fit"});
    c.push_back({437, K::Edit, "bottom"});
    c.push_back({438, K::Edit, "Tolerance"});
    c.push_back({439, K::Edit, "Grid Size"});
    c.push_back({440, K::Edit, "max dc/c (or dt)"});
    c.push_back({441, K::Check, "Claverie Simulations"});
    c.push_back({442, K::Check, "auto method"});
    c.push_back({443, K::Edit, ""});
    const char* rest[] = {"move hat",    "auto s hat", "fixed dt",    "conc local", "global", "conc local",
                          "global",      "conc local", "global",      "conc local", "global"};
    for (int i = 0; i < 11; ++i) c.push_back({444 + i, K::Check, rest[i]});
    return c;
  }();
  return controls;
}

// Row and column of a control in the dialog's grid: the four components
// side by side (label, edit, and the fit box right beside the value it
// fits), the common entries below them.
void Place(FormControl& c) {
  if (c.id >= 401 && c.id <= 428) {
    const int comp = (c.id - 401) / 7, k = (c.id - 401) % 7;
    const int base = 3 * comp;
    if (k == 0) {
      c.row = 1;
      c.column = base;
    } else if (k <= 3) {
      c.row = 1 + k;
      c.column = base + 2;
    } else {
      c.row = k - 2;
      c.column = base;
    }
    return;
  }
  struct Cell {
    int id, row, column;
  };
  static const Cell cells[] = {{429, 6, 0},  {430, 6, 3},  {431, 7, 0},  {455, 7, 3},  {432, 8, 2},
                               {433, 8, 0},  {434, 8, 5},  {435, 8, 3},  {436, 8, 8},  {437, 8, 6},
                               {438, 9, 0},  {439, 9, 3},  {440, 9, 6},  {443, 9, 9},  {441, 10, 0},
                               {442, 10, 3}};
  for (const Cell& cell : cells)
    if (cell.id == c.id) {
      c.row = cell.row;
      c.column = cell.column;
      return;
    }
  c.row = 11 + (c.id - 444) / 4;
  c.column = 3 * ((c.id - 444) % 4);
}

// The quantities of the distribution family behind the vector slots the
// dialog shows: grid, confidence level, frictional ratio and the solution.
struct ContiField {
  int slot;
  float* value;
  std::uint8_t* fit;  // null: no fit flag
  float scale;        // shown value = stored value x scale
};

std::vector<ContiField> ContiFields() {
  ContiSettings& cs = Conti();
  SolutionConditions& sc = gSolutionConditions;
  std::vector<ContiField> f = {{9, &cs.resolution, nullptr, 1.0f},
                               {1, &cs.sMin, nullptr, 1.0f},
                               {5, &cs.sMax, nullptr, 1.0f},
                               {2, &cs.confidenceLevel, nullptr, 1.0f},
                               {3, &sc.vbar, nullptr, 1.0f},
                               {7, &sc.density, nullptr, 1.0f},
                               {12, &sc.viscosity, nullptr, 0.01002f}};
  const ModelSelectorFlags& m = gModelSelectorFlags;
  // The mobility distribution has no vbar: its third field is the constant
  // D, and the box beside it floats D instead of taking the grid from file.
  if (m.ElectrophoresisCVModel) f[4] = {3, &cs.constantD, &cs.fitConstantD, 1.0f};
  if (m.AnyCsff0Model()) {
    f.push_back({8, &cs.ffResolution, nullptr, 1.0f});
    f.push_back({10, &cs.ffMin, nullptr, 1.0f});
    f.push_back({6, &cs.ffMax, nullptr, 1.0f});
    f.push_back({11, &cs.ffDirectionWeight, nullptr, 1.0f});
  } else if (m.FixFF0FloatingVbarCSModel) {
    // vbar and the frictional ratio trade places in this model.
    f[4] = {11, &sc.vbar, nullptr, 1.0f};
    f.push_back({3, &cs.ffValue, nullptr, 1.0f});
  } else if (m.GeneralScalingLawCSModel || m.FMScalingLawModel) {
    // The exponent travels as extra value 3 of the vector.
    f.push_back({11, &cs.scalingKs, &cs.fitScalingKs, 1.0f});
    f.push_back({8, &gModelParams.extra[3], nullptr, 1.0f});
  } else if (m.WormlikeChainCSModel) {
    f.push_back({11, &cs.wormPersistenceLength, &cs.fitWormPersistenceLength, 1.0f});
    f.push_back({10, &cs.wormCrossSection, nullptr, 1.0f});
    f.push_back({6, &cs.wormMonomerMass, nullptr, 1.0f});
    f.push_back({8, &cs.wormHydration, nullptr, 1.0f});
  } else if (m.CSInvariantDModel) {
    f.push_back({11, &cs.invariantD, &cs.fitInvariantD, 1.0f});
  } else {
    f.push_back({11, &cs.ffValue, &cs.fitFfValue, 1.0f});
    if (m.ConformationalChangeCSModel) {
      f.push_back({10, &cs.conformationM, nullptr, 1.0f});
      f.push_back({6, &cs.conformationSMin, nullptr, 1.0f});
      f.push_back({8, &cs.conformationSMax, nullptr, 1.0f});
    } else if (m.AnyBimodalCsModel()) {
      f.push_back({10, &cs.secondFf, &cs.fitSecondFf, 1.0f});
      f.push_back({6, &cs.secondFfSMin, nullptr, 1.0f});
      f.push_back({8, &cs.secondFfSMax, nullptr, 1.0f});
    } else if (m.CSWith1DiscreteModel) {
      f.push_back({10, &cs.discreteD, &cs.fitDiscreteD, 1.0f});
      f.push_back({6, &cs.discreteS, &cs.fitDiscreteS, 1.0f});
    } else if (m.CSWith1DiscreteComponent || m.CSWithMsTableModel) {
      f.push_back({10, &cs.discreteM, &cs.fitDiscreteM, 1.0f});
      f.push_back({6, &cs.discreteS, &cs.fitDiscreteS, 1.0f});
    }
  }
  return f;
}

// A distribution quantity as its field shows it.
std::string ContiFieldText(const ContiField& f) {
  const bool cs = gModelSelectorFlags.CSModel != 0;
  const bool massGrid = gModelSelectorFlags.GridIsMass(CurrentDataTypeFlags().dls != 0);
  const double shown = static_cast<double>(*f.value) * f.scale;
  const char* format = f.slot == 5 && cs ? (shown > 1000 ? "%.0f" : "%.1f") : "%.5f";
  // A molar-mass grid's ends are converted from s and would show
  // fractions of a dalton nobody typed.
  if (massGrid && (f.slot == 1 || f.slot == 5)) format = shown >= 100 ? "%.0f" : "%.3g";
  // The resolutions are counts of grid points.
  if (f.slot == 9 || f.value == &Conti().ffResolution) format = "%.0f";
  // A diffusion coefficient in cm^2/s would show as 0.00000 and be
  // taken back as 0.
  if (f.value == &gModelParams.extra[3] || f.value == &Conti().invariantD) format = "%.3e";
  return FormatField(format, shown);
}

// In the distribution models only some quantities can float; the others
// show no fit box.
bool ContiFieldIsFitted(int slot) {
  for (const ContiField& f : ContiFields())
    if (f.slot == slot) return f.fit != nullptr;
  return false;
}

// The model options a few templates show on the check boxes 441-454.
struct TemplateOption {
  int templateId, id;
  const char* label;
};
constexpr TemplateOption kOptions[] = {
    {400, 450, "c1 nonideal"},
    {1101, 441, "Wiener skew"},
    {892, 441, "Wiener skew"},
    {586, 441, "Wiener skew"},
    {1102, 441, "Wiener skew"},
    {596, 442, "plot s-M"},
    {596, 446, "plot s-R"},
    {596, 445, "plot s-ff0"},
    {599, 442, "plot s-M"},
    {599, 446, "plot s-R"},
    {599, 445, "plot s-ff0"},
    {586, 445, "log(kD/(mg/ml))"},
    {1102, 445, "Baxter T (set -1 for non-sticky spheres)"},
    {586, 448, "best fit"},
    {586, 449, "interpol. data"},
    {586, 451, "load external"},
    {586, 452, "freeze"},
    {1102, 448, "best fit"},
    {1102, 449, "interpol. data"},
    {1102, 451, "load external"},
    {1102, 452, "freeze"},
    {586, 446, "extra disc. species (excluded from ctot)"},
    {1102, 446, "extra disc. species (excluded from ctot)"},
    {586, 453, "create debug files"},
    {1102, 453, "create debug files"},
    {324, 442, "fit boundary fractions"},
    {333, 447, "integrate linear scale"},
    {333, 448, "or integrate log scale"},
    {333, 450, "equidistant 1/tau grid"},
    {333, 451, "equidistant log(1/tau) grid"},
    {334, 447, "integrate linear scale"},
    {334, 448, "or integrate log scale"},
    {334, 450, "equidistant 1/tau grid"},
    {334, 451, "equidistant log(1/tau) grid"},
    {335, 447, "integrate linear scale"},
    {335, 448, "or integrate log scale"},
    {335, 450, "equidistant 1/tau grid"},
    {335, 451, "equidistant log(1/tau) grid"},
    {318, 441, "Claverie Simulations"},
    {318, 444, "move hat"},
    {318, 445, "auto s hat"},
    {318, 446, "fixed dt"},
    {888, 409, "no diffusional deconvolution (i.e., ls-g*(s))"},
    {888, 425, "calibrate"},
};

const TemplateOption* OptionOf(int templateId, int id) {
  for (const TemplateOption& o : kOptions)
    if (o.templateId == templateId && o.id == id) return &o;
  return nullptr;
}

}  // namespace

ParamsTransfer& ParamsTransferBuffer() {
  static ParamsTransfer buffer = [] {
    ParamsTransfer b;
    InitParamsTransfer(b);
    return b;
  }();
  return buffer;
}

void InitParamsTransfer(ParamsTransfer& b) {
  b.states.clear();
  b.texts.clear();
  for (const ControlSpec& c : Controls()) {
    if (c.kind == FormControl::Kind::Edit)
      b.texts[c.id] = "";
    else
      b.states[c.id] = 0;
  }
  for (int comp = 0; comp < 4; ++comp) {
    const int base = 401 + 7 * comp;
    b.states[base] = 1;
    b.states[base + 1] = 1;
    b.states[base + 2] = 0;
    b.states[base + 3] = 1;
  }
  b.states[430] = 1;
  b.states[431] = 1;
  b.states[441] = 1;
}

int ChooseParamsTemplate() {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  const bool M = MMode();
  if (m.EquilibriumModel284) return M ? 306 : 400;
  if (m.LammDiscreteModel) {
    if (M) return m.ZoneCentrifugationModel ? 316 : 306;
    if (m.ElectrophoresisLammModel) return 322;
    if (m.ZoneCentrifugationModel) return 317;
    if (m.DlsStokesRadiiModel) return 339;
    if (m.DlsCumulantModel) return 891;
    return 400;
  }
  if (m.DlsStokesRadiiModel) return 339;
  if (m.DlsCumulantModel) return 891;
  if (m.MonomerDimerModel) return M ? 308 : 307;
  if (m.MonomerTetramerOctamerModel) return 330;
  if (m.MonomerDimerTetramerModel) return 331;
  if (m.NonidealSingleSpeciesModel) return m.NonidealVariantModel ? 1101 : 325;
  if (m.NonidealMultipleSpeciesModel) return 892;
  if (m.MonomerTrimerModel) return M ? 310 : 309;
  if (m.DistributionModel || m.SedTransformModel) {
    if (m.ElectrophoresisCVModel) return 328;
    if (m.CSff0Model) return 596;
    if (m.CSff0With1DiscreteModel) return 599;
    if (m.BimodalFF0CSModel) return 340;
    if (m.BimodalFF0With1DiscreteCSModel) return 871;
    if (m.HybridCSLsgModel) return 951;
    if (m.FixFF0FloatingVbarCSModel) return 604;
    if (m.FMScalingLawModel) return 888;
    if (m.GeneralScalingLawCSModel) return 873;
    if (m.WormlikeChainCSModel) return 605;
    if (m.ConformationalChangeCSModel) return 329;
    if (m.CSWith1DiscreteModel) return 337;
    if (m.CSWith1DiscreteComponent) return 338;
    if (m.CSWithMsTableModel) return 588;
    if (m.NonidealCSModel) return m.NonidealCSVariant ? 1102 : 586;
    if (m.CSInvariantDModel) return 336;
    if (m.CSModel521) return 332;
    if (m.SedTransformModel && m.LsgExtrapolationModel) return 324;
    if (m.LsgStarWith1DiscreteModel) return 538;
    if (m.LsgStarModel || m.ZoneCentrifugationLsgModel || m.ElectrophoresisLsgModel) {
      if (m.ZoneCentrifugationLsgModel) return 327;
      if (m.ElectrophoresisLsgModel) return 323;
      return 319;
    }
    if (m.CSModel) return m.ZoneCentrifugationCSModel ? 326 : 320;
    if (m.CMInvariantDModel) return 321;
    if (m.DlsIDModel) return 334;
    if (m.DlsIRhModel) return 333;
    if (m.DlsIRhTimeCourseModel) return 335;
    return 311;
  }
  if (m.Model267 || m.EquilibriumModel523) return 318;
  return 0;
}

TParamsBox::TParamsBox(TXLAWindow* parent, int templateId, ParamsTransfer& buffer)
    : parent_(parent), templateId_(templateId), buffer_(buffer) {
  const ParamsTemplate* t = FindParamsTemplate(templateId);
  form_.templateId = templateId;
  form_.caption = t ? t->caption : "";
  const bool continuous = ContinuousFamily();
  std::map<int, std::string> labels;
  if (t)
    for (const TemplateLabel& l : t->labels)
      labels[l.slot ? EditForSlot(l.number) : l.number] =
          l.slot && MassFormLabel(templateId, l.number) ? MassFormLabel(templateId, l.number) : l.text;
  for (const ControlSpec& spec : Controls()) {
    FormControl c;
    c.id = spec.id;
    c.kind = spec.kind;
    c.label = spec.label;
    Place(c);
    if (c.kind == FormControl::Kind::Edit)
      c.text = Text(buffer, c.id);
    else
      c.state = State(buffer, c.id);
    const bool componentBlock = c.id >= 401 && c.id <= 428;
    if (const TemplateOption* option = componentBlock ? OptionOf(templateId, c.id) : nullptr) {
      // A component's box that this template uses for a model option.
      c.visible = true;
      c.label = option->label;
    } else if (componentBlock) {
      const int k = (c.id - 401) % 7;
      if (k >= 4) {
        c.visible = labels.count(c.id) > 0;
        if (c.visible) c.label = labels[c.id];
      } else if (k >= 1) {
        c.visible = labels.count(c.id + 3) > 0 && (!continuous || ContiFieldIsFitted(SlotForEdit(c.id + 3)));
      } else {
        c.visible = !continuous && (labels.count(c.id + 4) || labels.count(c.id + 5) || labels.count(c.id + 6));
      }
      if (continuous && c.id == kGridFromFile && !gModelSelectorFlags.ElectrophoresisCVModel) {
        c.visible = true;
        c.label = "s grid from file";
      } else if (continuous && c.id == kLogGrid) {
        c.visible = true;
        c.label = "log spaced s grid";
      }
    } else if (c.id == 443) {
      c.visible = labels.count(443) > 0;
      if (c.visible) c.label = labels[443];
    } else if (labels.count(c.id)) {
      c.label = labels[c.id];
    } else if (c.id >= 441 && c.id != 443 && c.id != 455 && (c.id >= 444 || OptionOf(templateId, c.id))) {
      // Model options of a few templates only.
      const TemplateOption* option = OptionOf(templateId, c.id);
      c.visible = option != nullptr;
      if (option) c.label = option->label;
    }
    // The Lamm solver's switches, shown as they stand: a Run of a
    // distribution and the Lamm-equation settings set them, this dialog does
    // not read them back, so they take no entry here.
    if ((c.id == 441 || c.id == 442) && !OptionOf(templateId, c.id)) c.enabled = false;
    form_.controls.push_back(c);
  }
  if (templateId == 892) PlaceNonidealTermBoxes(form_.controls);
  form_.canClose = [this](const FormDialog& entries) { return CanClose(entries); };
}

namespace {

// Empty when the meniscus lies in the cell; else what it must be.
std::string MeniscusOutsideTheCell(double meniscus, double bottom) {
  // 0 is "not set": the Run asks for it.
  if (meniscus == 0.0) return {};
  // The solution column lies between meniscus and bottom, and the data were
  // recorded in it: a meniscus at or past the last radius of the data leaves
  // nothing that sediments from it in the fit.
  const ScanSet& s = CurrentScanSet();
  double lastRadius = 0.0;
  for (int i = 1; i <= s.count; ++i)
    if (s.points[i] > 0) lastRadius = std::max(lastRadius, static_cast<double>(s.radii[i][s.points[i]]));
  const bool belowBottom = !(bottom > 0.0) || meniscus < bottom;
  const bool belowData = !(lastRadius > 0.0) || meniscus < lastRadius;
  if (std::isfinite(meniscus) && meniscus > 0.0 && belowBottom && belowData) return {};
  std::string bounds;
  char number[64];
  if (bottom > 0.0) {
    std::snprintf(number, sizeof number, "the bottom (%.4f cm)", bottom);
    bounds = number;
  }
  if (lastRadius > 0.0) {
    std::snprintf(number, sizeof number, "the last radius of the data (%.4f cm)", lastRadius);
    bounds += (bounds.empty() ? "" : " and ") + std::string(number);
  }
  return "a radius inside the cell: the meniscus lies above 0 cm" + (bounds.empty() ? "" : " and below " + bounds);
}

}  // namespace

bool TParamsBox::CanClose(const FormDialog& entries) const {
  auto text = [&](int id) {
    const FormControl* c = entries.Find(id);
    return c ? c->text : std::string();
  };
  auto state = [&](int id) {
    const FormControl* c = entries.Find(id);
    return c ? c->state : 0;
  };
  const ModelSelectorFlags& m = gModelSelectorFlags;
  if (CurrentDataTypeFlags().dls && m.LammDiscreteModel) {
    for (int comp = 0; comp < 4; ++comp) {
      const int base = 401 + 7 * comp;
      if (state(base + 2) && state(base + 3)) {
        platform::Tell("Parameter Error", "linear dependent floating parameters for modeling DLS data",
                       platform::BoxIcon::Error);
        return false;
      }
    }
  }
  if (m.CSInvariantDModel && !(std::atof(text(419).c_str()) > 0)) {
    platform::Tell("Parameter Error", "diffusion coefficient must be positive", platform::BoxIcon::Error);
    return false;
  }
  // The first field that fails, named as the dialog labels it.
  int bad = 0;
  const char* wanted = "";
  auto check = [&](int id, bool nonNegative) {
    if (bad) return;
    const std::string t = text(id);
    if (nonNegative ? IsNonNegativeNumber(t.c_str()) : IsNumber(t.c_str())) return;
    bad = id;
    wanted = nonNegative ? "a number of at least 0" : "a number";
  };
  for (int id : {405, 412, 419, 406, 407, 414, 420, 421, 433, 435, 437, 443}) check(id, false);
  for (int id : {413, 438, 439, 440}) check(id, true);
  // Component 4 shows "buffer" while it carries the buffer correction.
  if (!BufferSlot()) {
    check(426, true);
    check(428, false);
    if (!m.NonidealCSVariant) check(427, false);
  }
  std::string outside;
  if (!bad && !CurrentDataTypeFlags().dls) {
    outside = MeniscusOutsideTheCell(std::atof(text(435).c_str()),
                                     m.ElectrophoresisLammModel ? 0.0 : std::atof(text(437).c_str()));
    if (!outside.empty()) {
      bad = 435;
      wanted = outside.c_str();
    }
  }
  if (bad) {
    const FormControl* c = entries.Find(bad);
    const std::string name = c && !c->label.empty() ? c->label : "field " + std::to_string(bad);
    PlaySoundError();
    platform::Tell("Input Error", "Invalid Entry in \"" + name + "\": \"" + text(bad) + "\" is not " + wanted + ".",
                   platform::BoxIcon::Error);
    return false;
  }
  return true;
}

bool TParamsBox::Execute() {
  (void)parent_;
  if (!RunFormDialog(form_)) return false;
  for (const FormControl& c : form_.controls) {
    if (c.kind == FormControl::Kind::Edit)
      buffer_.texts[c.id] = c.text;
    else
      buffer_.states[c.id] = c.state;
  }
  return true;
}

namespace {

// The buffer from the model (step "fill").
// The zone species model carries its lamella in the component-4 s field
// (hidden in its box), so that confirming the box keeps it.
bool ZoneSpeciesLamella() { return gModelSelectorFlags.ZoneCentrifugationModel && !ContinuousFamily(); }

// Slot `slot` holds a molar mass in template `templateId` (the association
// models keep their log K in the same slots).
bool ShowsMolarMass(int templateId, int slot) {
  if (MassFormLabel(templateId, slot)) return true;
  const ParamsTemplate* t = FindParamsTemplate(templateId);
  if (!t) return true;
  for (const TemplateLabel& l : t->labels)
    if (l.slot && l.number == slot) return l.text[0] == 'M';
  return true;
}

void FillTransfer(ParamsTransfer& b, int templateId) {
  const ModelParams& mp = gModelParams;
  const ModelParameterVector& v = gModelParameterVector;
  const LammSolverSettings& l = LammSettings();
  const bool continuous = ContinuousFamily();
  const bool cs = gModelSelectorFlags.CSModel != 0;
  for (int k = 1; k <= 4; ++k) b.states[kIncluded[k]] = mp.included[k] != 0;
  for (const auto& e : kSlotOfEdit) {
    const int edit = e[0], slot = e[1];
    const double value = v.P[slot];
    const char* format = "%.5f";
    // (Whole grams per mole; a log K shown so would lose its decimals.)
    if (slot >= 1 && slot <= 4 && MMode() && !continuous && ShowsMolarMass(templateId, slot)) format = "%.0f";
    if (continuous && cs && slot == 5) format = value > 1000 ? "%.0f" : "%.1f";
    b.texts[edit] = FormatField(format, value);
    if (!(continuous && (edit - 3 == kGridFromFile || edit - 3 == kLogGrid))) b.states[edit - 3] = v.F[slot] != 0;
  }
  if (ZoneSpeciesLamella()) {
    b.texts[EditForSlot(8)] = FormatField("%.5f", mp.zoneValue);
    b.states[EditForSlot(8) - 3] = mp.zoneFit != 0;
  }
  if (mp.concentrationsLinear)
    for (int k = 1; k <= 4; ++k)
      if (mp.included[k]) b.states[EditForSlot(8 + k) - 3] = 1;
  if (BufferSlot()) b.texts[EditForSlot(12)] = "buffer";
  if (continuous) {
    b.states[kGridFromFile] = Conti().gridFromFile;
    b.states[kLogGrid] = Conti().logSpacedGrid;
    for (const ContiField& f : ContiFields()) {
      b.texts[EditForSlot(f.slot)] = ContiFieldText(f);
      if (f.fit) b.states[EditForSlot(f.slot) - 3] = *f.fit != 0;
    }
  }
  b.states[429] = l.experimentalInitialDistribution != 0;
  b.states[430] = l.experimentalInitialDistribution == 0;
  b.states[431] = gFitEngineState.fitTINoise != 0;
  b.states[455] = mp.riNoiseFit != 0;
  // A floated baseline is solved as a linear amplitude once the box is
  // confirmed (its fit flag cleared): the box the user ticked stays ticked
  // while it is so solved.
  b.states[432] = mp.baselineFit != 0 || (v.dialogF[15] != 0 && mp.baselineLinear != 0);
  b.texts[433] = FormatField("%.5f", mp.baseline);
  b.states[434] = mp.meniscusFit != 0;
  b.texts[435] = FormatField("%.4f", mp.meniscus);
  b.states[436] = mp.bottomFit != 0;
  const bool electrophoresis = gModelSelectorFlags.ElectrophoresisLammModel != 0;
  b.texts[437] = FormatField("%.4f", electrophoresis ? mp.bottom - mp.meniscus : mp.bottom);
  b.texts[438] = FormatField("%g", l.tolerance);
  b.texts[439] = FormatField("%.0f", l.gridSize.inUse);
  b.texts[440] = FormatField("%g", l.maxDcOverC);
  // The model-specific field carries a number even where no model uses it.
  if (!IsNumber(Text(b, 443).c_str())) b.texts[443] = "0";
  b.states[441] = l.claverieAlgorithm != 0;
  b.states[442] = l.automaticAlgorithm != 0;
  b.states[444] = l.movingHatAlgorithm != 0;
  b.states[445] = l.automaticSGrid != 0;
  b.states[446] = l.fixedTimeStep != 0;
}

// "f(M) vs M With Scaling Law": its two boxes are options, not fits (Ks is
// slot 11, bs slot 8).
bool ApplyScalingLawOptions(const ParamsTransfer& b) {
  ModelParams& mp = gModelParams;
  ContiSettings& cs = Conti();
  mp.concentrationFit[2] = 0;
  mp.sFit[4] = 0;
  cs.scalingZeroD = static_cast<std::uint8_t>(State(b, kNoDeconvolution));
  auto clearFits = [&] {
    mp.concentrationFit[3] = 0;
    cs.fitScalingKs = cs.fitScalingBs = 0;
  };
  auto box = [](const char* text) { platform::Tell("", text); };
  bool again = false;
  if (State(b, kCalibrate)) {
    if (Road().calibrateCMPowerLaw && Road().calibrateCMPowerLaw()) {
      clearFits();
    } else {
      box("calibration of scaling law failed");
      again = true;
    }
  }
  if (cs.scalingZeroD && (mp.concentrationFit[3] || cs.fitScalingBs)) {
    box("fitting for ks and bs impossible without diffusion deconvolution, switching this off.");
    clearFits();
  }
  if (mp.concentrationFit[3]) box("note: fitting ks will make prior calibration invalid");
  return !again;
}

// The entries back into the model (step "apply").
void ApplyTransfer(const ParamsTransfer& b) {
  ModelParams& mp = gModelParams;
  const bool continuous = ContinuousFamily();
  const float oldMeniscus = mp.meniscus, oldBottom = mp.bottom;
  for (int k = 1; k <= 4; ++k) mp.included[k] = State(b, kIncluded[k]);
  for (int k = 1; k <= 4; ++k) {
    const int cEdit = EditForSlot(8 + k), mEdit = EditForSlot(k), sEdit = EditForSlot(4 + k);
    const ModelParameterVector& v = gModelParameterVector;
    if (k != 4 || !BufferSlot()) mp.concentration[k] = Entry(b, cEdit, v.P[8 + k]);
    mp.concentrationFit[k] = State(b, cEdit - 3);
    mp.massOrD[k] = Entry(b, mEdit, v.P[k]);
    mp.s[k] = Entry(b, sEdit, v.P[4 + k]);
    const bool borrowedFit = continuous && (mEdit - 3 == kGridFromFile || mEdit - 3 == kLogGrid);
    if (!borrowedFit) mp.massOrDFit[k] = State(b, mEdit - 3);
    const bool borrowedS = continuous && (sEdit - 3 == kGridFromFile || sEdit - 3 == kLogGrid);
    if (!borrowedS) mp.sFit[k] = State(b, sEdit - 3);
  }
  if (ZoneSpeciesLamella()) {
    // The component-4 s field is the lamella's: species 4 keeps its s.
    mp.s[4] = gModelParameterVector.P[8];
    mp.sFit[4] = gModelParameterVector.F[8];
    mp.zoneValue = Value(b, EditForSlot(8));
    mp.zoneFit = State(b, EditForSlot(8) - 3);
  }
  if (continuous) {
    Conti().gridFromFile =
        gModelSelectorFlags.ElectrophoresisCVModel ? 0 : static_cast<std::uint8_t>(State(b, kGridFromFile));
    Conti().logSpacedGrid = static_cast<std::uint8_t>(State(b, kLogGrid));
    // The pack carries the two switches in F[3] and F[4], where the
    // distributions read them back.
    mp.massOrDFit[3] = State(b, kGridFromFile);
    mp.massOrDFit[4] = State(b, kLogGrid);
    for (const ContiField& f : ContiFields()) {
      const int edit = EditForSlot(f.slot);
      // A field left as shown keeps the value behind it, digits the field
      // does not show included.
      if (Text(b, edit) != ContiFieldText(f)) {
        *f.value = Value(b, edit) / f.scale;
      } else if (f.slot >= 1 && f.slot <= 12) {
        // So does the species entry the same field was read into above.
        const int k = (f.slot - 1) % 4 + 1;
        float& entry = f.slot <= 4 ? mp.massOrD[k] : f.slot <= 8 ? mp.s[k] : mp.concentration[k];
        entry = *f.value * f.scale;
      }
      if (f.fit) *f.fit = static_cast<std::uint8_t>(State(b, edit - 3));
    }
    gSolutionConditions.vbarRho = gSolutionConditions.vbar * gSolutionConditions.density;
  }
  mp.baseline = Entry(b, 433, mp.baseline);
  mp.baselineFit = State(b, 432);
  gModelParameterVector.dialogF[15] = mp.baselineFit;
  mp.meniscus = Entry(b, 435, oldMeniscus);
  mp.meniscusFit = State(b, 434);
  mp.bottomFit = State(b, 436);
  if (gModelSelectorFlags.ElectrophoresisLammModel) {
    mp.electrophoresisColumnLength = Entry(b, 437, oldBottom - oldMeniscus);
    mp.bottom = mp.meniscus + mp.electrophoresisColumnLength;
  } else {
    mp.bottom = Entry(b, 437, oldBottom);
  }
  if (mp.meniscus != oldMeniscus || mp.bottom != oldBottom) CurrentScanSet().dataChanged = 1;
  gFitEngineState.fitTINoise = static_cast<unsigned char>(State(b, 431));
  mp.riNoiseFit = static_cast<unsigned char>(State(b, 455));
  LammSolverSettings& l = LammSettings();
  l.experimentalInitialDistribution = static_cast<std::uint8_t>(State(b, 429));
  l.modelInitialDistribution = l.experimentalInitialDistribution ? 0 : 1;
  if (continuous) {
    // The distributions solve on the static grid, the mobility distribution
    // in the moving frame.
    const bool cv = gModelSelectorFlags.ElectrophoresisCVModel != 0;
    l.claverieAlgorithm = cv ? 0 : 1;
    l.movingHatAlgorithm = cv ? 1 : 0;
  }
}

// The fields of a few templates with a meaning of their own: the discrete
// species of the c(s,f/f0), bimodal and hybrid models (carried as extra
// values 1 and 2 of the parameter vector), the non-ideal c(s) ks, the size-and-shape display choice and the scaling-law
// options.

bool ShowsSizeAndShapeChoice(int templateId) { return templateId == 596 || templateId == 599; }

void FillTemplateFields(ParamsTransfer& b, int templateId) {
  const ModelParams& mp = gModelParams;
  const ContiSettings& cs = Conti();
  switch (templateId) {
    case 599:
      b.texts[kExtraEdit] = FormatField("%.1f", mp.extra[1]);
      b.texts[EditForSlot(4)] = FormatField("%.1f", mp.extra[2]);
      break;
    case 871:
    case 951:
      b.texts[kExtraEdit] = FormatField("%.1f", mp.extra[1]);
      b.texts[kToleranceEdit] = FormatField("%.5f", mp.extra[2]);
      break;
    case 586:
    case 1102:
      b.texts[kExtraEdit] = FormatField("%.3f", mp.value20);
      b.texts[EditForSlot(4)] = FormatField("%.3f", mp.value21);
      FillMeanFieldControls(b);
      break;
    case 888:
      b.states[kNoDeconvolution] = cs.scalingZeroD != 0;
      b.states[kCalibrate] = 0;
      break;
    case 324:
      b.states[kFitBoundaryFractions] = LsgExtrapolation().fitFractions != 0;
      b.states[kConsecutiveGroups] = LsgExtrapolation().consecutiveGroups != 0;
      break;
    default: break;
  }
  if (ShowsSizeAndShapeChoice(templateId)) {
    const std::uint8_t* sw = cs.display2DSwitch;
    b.states[kPlotSM] = sw[0] != 0;
    b.states[kPlotSR] = sw[1] != 0;
    b.states[kPlotSFf0] = !(sw[0] || sw[1] || sw[2] || sw[3]);
  }
}

// After the common entries; false when the dialog must come again.
bool ApplyTemplateFields(const ParamsTransfer& b, int templateId) {
  ModelParams& mp = gModelParams;
  ContiSettings& cs = Conti();
  switch (templateId) {
    case 599:
      mp.extra[1] = Value(b, kExtraEdit);
      mp.extra[2] = Value(b, EditForSlot(4));
      break;
    case 871:
    case 951:
      mp.extra[1] = Value(b, kExtraEdit);
      mp.extra[2] = Value(b, kToleranceEdit);
      break;
    case 586:
    case 1102:
      mp.value20 = Value(b, kExtraEdit);
      mp.value21 = Value(b, EditForSlot(4));
      // The pack takes slots 20 and 21 of this model from the nonideality terms.
      gAssociationModelParams.logKs = mp.value20;
      gAssociationModelParams.logKd = mp.value21;
      ApplyMeanFieldControls(b);
      break;
    case 888: return ApplyScalingLawOptions(b);
    case 324:
      LsgExtrapolation().fitFractions = static_cast<std::uint8_t>(State(b, kFitBoundaryFractions));
      LsgExtrapolation().consecutiveGroups = static_cast<std::uint8_t>(State(b, kConsecutiveGroups));
      break;
    default: break;
  }
  if (ShowsSizeAndShapeChoice(templateId)) {
    std::uint8_t* sw = cs.display2DSwitch;
    const bool plain = State(b, kPlotSFf0) != 0;
    sw[0] = !plain && State(b, kPlotSM);
    sw[1] = !plain && State(b, kPlotSR);
    if (plain) sw[2] = sw[3] = 0;
  }
  return true;
}

// The non-ideality of component 1 in the discrete model.
void AskNonideality() {
  ModelParams& mp = gModelParams;
  AssociationModelParams& as = gAssociationModelParams;
  const char* title = "NONIDEAL COMPONENT 1";
  float ks = mp.value20, kd = mp.value21;
  float answer = ks;
  if (InputFloat(&answer, ks, true, "log10(ks/(mg/ml)):", title)) mp.value20 = answer;
  mp.value20Fit = platform::UI().MessageBox(title, "fit ks?", platform::BoxButtons::YesNo,
                                            platform::BoxIcon::Question) == platform::IDYES;
  answer = kd;
  if (InputFloat(&answer, kd, true, "log10(kd/(mg/ml)):", title)) mp.value21 = answer;
  mp.value21Fit = platform::UI().MessageBox(title, "fit kd?", platform::BoxButtons::YesNo,
                                            platform::BoxIcon::Question) == platform::IDYES;
  // With the switch raised the packed slots 20 and 21 come from the
  // nonideality terms.
  as.logKs = mp.value20;
  as.logKsFit = mp.value20Fit;
  as.logKd = mp.value21;
  as.logKdFit = mp.value21Fit;
  float signal = static_cast<float>(CurrentScanSet().signalPerConcentration);
  answer = signal;
  if (InputFloat(&answer, signal, true, "Signal per mg/ml:", title))
    CurrentScanSet().signalPerConcentration = answer;
}

// Mean temperature of the loaded scans (degC); 20 without scans or for DLS data.
double MeanScanTemperature() {
  const ScanSet& s = CurrentScanSet();
  if (s.count <= 0 || CurrentDataTypeFlags().dls) return 20.0;
  double sum = 0;
  for (int i = 1; i <= s.count; ++i) sum += s.records[i].temperature;
  return sum / s.count;
}

}  // namespace

bool& ParametersBoxAccepted() {
  static bool accepted = false;
  return accepted;
}

namespace {

// What the kernels and normal equations that a c(s,f/f0) Run keeps for the
// next Run were computed from, beside the grid the Run compares itself: the
// noise the normal equations take out, the solvent that turns s and f/f0
// into D, and the solver's controls. The box changing one of them outdates
// what is kept, as a new meniscus does.
struct KeptKernelInputs {
  unsigned char ti = 0, ri = 0;
  int baselineFit = 0;
  unsigned char experimentalStart = 0;
  float baseline = 0, vbar = 0, density = 0, viscosity = 0;
  double tolerance = 0, maxDcOverC = 0;
  std::int32_t gridSize = 0;
  bool operator==(const KeptKernelInputs&) const = default;
};

KeptKernelInputs KernelInputsNow() {
  const LammSolverSettings& l = LammSettings();
  const SolutionConditions& sc = gSolutionConditions;
  return {gFitEngineState.fitTINoise, gModelParams.riNoiseFit, gModelParams.baselineFit,
          l.experimentalInitialDistribution, gModelParams.baseline, sc.vbar, sc.density, sc.viscosity,
          l.tolerance, l.maxDcOverC, l.gridSize.inUse};
}

}  // namespace

void TXLAWindow::CmParameters() {
  // In the test of approach to equilibrium the command is the way out of
  // the mode; the dialog waits for the next invocation.
  if (EqTestModeOn()) {
    ExitEqTestMode(*this);
    RequestRepaint(*this);
    return;
  }
  ParametersBoxAccepted() = false;
  for (;;) {
    DialogOpen = true;
    if (std::rand() % 5 == 0) PlaySoundInfo();
    if (CurrentDataTypeFlags().intensity) {
      LammSettings().experimentalInitialDistribution = 0;
      LammSettings().modelInitialDistribution = 1;
    }
    UnpackModelParameters();
    ParamsTransfer& buffer = ParamsTransferBuffer();
    const int templateId = ChooseParamsTemplate();
    if (templateId == 0 && SelectedModelKey() == 0) {
      // No model, no parameters: a box that never opens would say nothing.
      DialogOpen = false;
      platform::Tell("PARAMETERS", "choose a model first");
      return;
    }
    FillTransfer(buffer, templateId);
    FillTemplateFields(buffer, templateId);
    ShownTransfer() = buffer;
    if (templateId == 400) buffer.states[450] = gModelSelectorFlags.ConcDependentSolverSwitch != 0;
    if (templateId == 1101) ShowHinderedSedimentationFields(buffer);
    if (templateId == 892) ShowNonidealTerms(buffer);
    if (templateId != 0) {
      TParamsBox box(this, templateId, buffer);
      if (!box.Execute()) {
        DialogOpen = false;
        return;
      }
    }
    DialogOpen = false;
    if (templateId == 892) TakeNonidealTerms(buffer);
    const float oldMeniscus = gModelParams.meniscus, oldBottom = gModelParams.bottom;
    const KeptKernelInputs kernelInputs = KernelInputsNow();
    ApplyTransfer(buffer);
    const bool templateDone = ApplyTemplateFields(buffer, templateId);
    TakeHardSphereOptions(templateId, buffer);
    if (templateId == 400) {
      // "c1 nonideal": component 1 sediments with its own nonideality.
      gModelSelectorFlags.ConcDependentSolverSwitch = State(buffer, 450) ? 1 : 0;
      if (gModelSelectorFlags.ConcDependentSolverSwitch) AskNonideality();
    }
    // The vector holds the entries before anything reads it back (the
    // meniscus and bottom ranges below start from it).
    PackModelParameters();
    if (CurrentScanSet().count > 0 && (gModelParams.meniscus != oldMeniscus || gModelParams.bottom != oldBottom)) {
      // A new meniscus or bottom moves the fit limits that would reach
      // past it, and the automatic ranges follow the settled limits.
      CheckLeftFitLimit();
      CheckRightFitLimit();
      SetDefaultMeniscusBottomLimits();
    }
    ModelParams& mp = gModelParams;
    if (!mp.parametersEntered && (mp.meniscusFit || mp.bottomFit)) {
      SetMeniscusBottomRanges(*this, false);
      mp.parametersEntered = 1;
    }
    if (CurrentScanSet().equilibriumMode && gFitEngineState.fitTINoise) {
      gFitEngineState.fitTINoise = 0;
      platform::Tell("", "switching off TI noise - not implemented for sed eq data");
    }
    ComponentDefaultsContext context;
    context.equilibriumMode = CurrentScanSet().equilibriumMode != 0;
    context.dlsData = CurrentDataTypeFlags().dls != 0;
    context.bufferSedimentation = gBufferSedSettings.BufferSedOn;
    context.bufferSedimentationFit = gBufferSedSettings.FloatBufferSignal;
    CheckComponentDefaults(context);
    PackModelParameters();
    const ModelSelectorFlags& m = gModelSelectorFlags;
    SolutionConditions& sc = gSolutionConditions;
    if (m.DistributionModel && !m.LsgStarModel && !m.LsgExtrapolationModel && !m.FixFF0FloatingVbarCSModel &&
        !m.GeneralScalingLawCSModel && !m.FMScalingLawModel && sc.vbar20 != sc.vbar) {
      const double t = MeanScanTemperature();
      if (std::fabs(t - 20.0) <= 0.5) {
        sc.vbar20 = sc.vbar;
      } else {
        char question[80];
        std::snprintf(question, sizeof question, "set VBAR20 equal to VBAR(%.2fC)?", t);
        if (platform::UI().MessageBox("", question, platform::BoxButtons::YesNo, platform::BoxIcon::Question) ==
            platform::IDYES)
          sc.vbar20 = sc.vbar;
      }
    }
    AllocExtraScanArrays();
    if (!(KernelInputsNow() == kernelInputs)) CurrentScanSet().dataChanged = 1;
    if (CheckContiGridSettings() && templateDone) break;
  }
  ParametersBoxAccepted() = true;
  if (gModelSelectorFlags.NonidealCSModel && MeanField().loadExternal) LoadCtotFiles(*this, 1);
  if (CurrentWienerSkew().use) AskWienerSkewingParameters(*this);
  // The on-plot noise buttons exist while some noise is fitted.
  if (gFitEngineState.fitTINoise || gModelParams.riNoiseFit)
    CurrentLoadHooks().createNoiseButtons();
  else
    CurrentLoadHooks().removeNoiseButtons();
  RequestRepaint(*this);
}
