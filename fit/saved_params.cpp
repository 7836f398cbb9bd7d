#include "fit/saved_params.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <utility>
#include <vector>

#include "numerics/constants.h"
#include "data/fluorescence_corrections.h"
#include "data/scan_set.h"
#include "data/wiener_skew.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/model_table.h"
#include "fit/serial_fit_settings.h"
#include "lamm/coefficients/nonideal_coefficients.h"
#include "lamm/lamm_settings.h"
#include "numerics/whole_number.h"
#include "platform/error_box.h"
#include "platform/diagnostics.h"
#include "platform/paths.h"
#include "platform/user_interface.h"

namespace {

// The values as last read. A line that no record of this build owns (the
// carried lines below) is written back from here unchanged, and so is a
// line whose owner's hooks are not installed.
std::vector<float>& KeptLines() {
  static std::vector<float> kept(kSavedParamsLines + 1, 0.0f);
  return kept;
}

constexpr int kBufferFirstLine = 96, kBufferLastLine = 118;
// The model in use when the file was written (its command id): the switches
// of the lines above name only some models, and a reload that cannot choose
// the one saved says so.
constexpr int kModelInUseLine = 208;

bool IsContiLine(int line) {
  return (line >= 86 && line <= 91) || (line >= 200 && line <= 203);
}

float Flag(bool on) { return on ? 1.0f : 0.0f; }
bool On(float v) { return v == 1.0f; }
// (Only for the lines RefusedValue has checked: every int they hold.)
int Int(float v) { return static_cast<int>(v); }

// Model code of line 72.
float NonidealCode() {
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  if (!sel.NonidealSingleSpeciesModel) return 0;
  return sel.NonidealVariantModel ? 1001.0f : 1.0f;
}

// Model code of line 73, tested in this order.
float DistributionCode() {
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  if (!sel.DistributionModel) return 0;
  if (sel.CSff0Model) return 3;
  if (sel.CSff0With1DiscreteModel) return 4;
  if (sel.GeneralScalingLawCSModel) return 5;
  if (sel.FMScalingLawModel) return 6;
  if (sel.NonidealCSModel) return sel.NonidealCSVariant ? 7001.0f : 7.0f;
  if (sel.CSWith1DiscreteComponent) return 2;
  return 1;
}

// The switches of the distribution model of line 73 (none for 0).
void DefaultReselect(int code) {
  if (code <= 0) return;
  ModelSelectorFlags& sel = gModelSelectorFlags;
  sel.DistributionModel = 1;
  PutDistributionGridSize(LammSettings().gridSize);
  switch (code) {
    case 2: sel.CSWith1DiscreteComponent = 1; break;
    case 3: sel.CSff0Model = 1; break;
    case 4: sel.CSff0With1DiscreteModel = 1; break;
    case 5: sel.GeneralScalingLawCSModel = 1; break;
    case 6: sel.FMScalingLawModel = 1; break;
    case 7: sel.NonidealCSModel = 1; break;
    case 7001:
      sel.NonidealCSModel = 1;
      sel.NonidealCSVariant = 1;
      break;
    default: sel.CSModel = 1; break;
  }
}

// The discrete models' switches of lines 68-72.
template <typename Has, typename At>
void ReadModelSwitches(const Has&, const At& at) {
  ModelSelectorFlags& sel = gModelSelectorFlags;
  sel.LammDiscreteModel = On(at(68));
  sel.MonomerDimerModel = On(at(69));
  sel.MonomerTrimerModel = On(at(70));
  sel.MonomerDimerTetramerModel = On(at(71));
  sel.NonidealSingleSpeciesModel = at(72) >= 1.0f;
  sel.NonidealVariantModel = at(72) == 1001.0f;
}

// The model switches appended later (absent: off, or unchanged).
template <typename Has, typename At>
void ReadLaterModelSwitches(const Has& has, const At& at) {
  ModelSelectorFlags& sel = gModelSelectorFlags;
  if (has(83)) sel.MonomerTetramerOctamerModel = On(at(83));
  if (has(84)) sel.EquilibriumModel284 = On(at(84));
  sel.ZoneCentrifugationModel = has(123) && On(at(123));
  sel.ZoneCentrifugationLsgModel = has(124) && On(at(124));
  sel.ZoneCentrifugationCSModel = has(125) && On(at(125));
  sel.NonidealMultipleSpeciesModel = has(129) && On(at(129));
}

// Lines 154-187, the fluorescence signal corrections (173 belongs to the
// Lamm settings). Switches are 'S', values 'V'; the D of the depletion is
// kept in units of 1e-7 cm^2/s.
struct FdsLine {
  int line;
  char kind;
  std::uint8_t* flag;
  float* value;
};

std::vector<FdsLine> FdsLines() {
  FdsSignalParams& p = CurrentFdsSignalParams();
  return {{154, 'S', &p.fitRadialGradient, nullptr},   {155, 'V', nullptr, &p.radialGradient},
          {156, 'S', &p.useRadialGradient, nullptr},   {157, 'S', &p.useNonlinearDetection, nullptr},
          {158, 'V', nullptr, &p.detectionPower},      {159, 'V', nullptr, &p.detectionBaseline},
          {160, 'S', &p.fitDetectionPower, nullptr},   {161, 'S', &p.fitLimitingLevel, nullptr},
          {162, 'V', nullptr, &p.limitingLevel},       {163, 'S', &p.useDrift, nullptr},
          {164, 'S', &p.fitConvolutionWidth, nullptr}, {165, 'V', nullptr, &p.convolutionWidth},
          {166, 'S', &p.useConvolution, nullptr},      {167, 'S', &p.fitConeRadius, nullptr},
          {168, 'V', nullptr, &p.coneRadius},          {169, 'S', &p.useShadow, nullptr},
          {170, 'S', &p.showTransformed, nullptr},     {171, 'V', nullptr, &p.convolutionCutoff},
          {172, 'S', &p.useExponentialDrift, nullptr}, {174, 'S', &p.fitDriftRate, nullptr},
          {175, 'V', nullptr, &p.driftRate},           {176, 'S', &p.useLinearDrift, nullptr},
          {177, 'S', &p.fitLinearDrift, nullptr},      {178, 'V', nullptr, &p.linearDrift},
          {179, 'S', &p.useDepletion, nullptr},        {180, 'S', &p.fitDepletionS, nullptr},
          {181, 'S', &p.fitDepletionD, nullptr},       {182, 'S', &p.fitDepletionAmplitude, nullptr},
          {183, 'S', &p.fitDepletionKs, nullptr},      {184, 'V', nullptr, &p.depletionS},
          {185, 'V', nullptr, &p.depletionD},          {186, 'V', nullptr, &p.depletionAmplitude},
          {187, 'V', nullptr, &p.depletionLogKs}};
}

constexpr float kDepletionDUnit = 1e7f;

void ComposeFluorescence(std::vector<float>& v) {
  for (const FdsLine& l : FdsLines())
    v[l.line] = l.flag ? Flag(*l.flag) : (l.line == 185 ? *l.value * kDepletionDUnit : *l.value);
}

// Older files lack the later lines: their switches are off, their values
// stay; they kept the limiting level in % before line 178 existed.
template <typename Has, typename At>
void ReloadFluorescence(Has has, At at) {
  FdsSignalParams& p = CurrentFdsSignalParams();
  for (const FdsLine& l : FdsLines()) {
    if (l.line == 163) continue;
    if (l.flag)
      *l.flag = has(l.line) && On(at(l.line)) ? 1 : 0;
    else if (has(l.line))
      *l.value = l.line == 185 ? at(l.line) / kDepletionDUnit : at(l.line);
  }
  if (!has(178)) {
    p.linearDrift = 0.0f;
    if (has(162)) p.limitingLevel *= 0.01f;
  }
  if (!p.useExponentialDrift) p.fitDriftRate = p.fitLimitingLevel = 0;
  if (!p.useLinearDrift) p.fitLinearDrift = 0;
  p.useDrift = p.useExponentialDrift || p.useLinearDrift ? 1 : 0;
}

// The 208 values in file order (index 0 unused), on top of `start`.
std::vector<float> Compose(bool intermediate, std::vector<float> v) {
  ModelParams& mp = gModelParams;
  const FitEngineState& fs = gFitEngineState;
  const SolutionConditions& sc = gSolutionConditions;
  const LammSolverSettings& ls = LammSettings();
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  const ScanSet& s = CurrentScanSet();
  const SavedParamsHooks& hooks = CurrentSavedParamsHooks();
  v[1] = intermediate ? 0.0f : 1.0f;
  for (int k = 1; k <= kComponentSlots; ++k) {
    const int b = 2 + 9 * (k - 1);
    v[b] = static_cast<float>(mp.included[k]);
    v[b + 1] = mp.concentration[k];
    // Concentrations solved as linear amplitudes carry clear fit flags: the
    // file says they are floated, so that the reload solves them again.
    v[b + 2] = mp.concentrationsLinear && mp.included[k] ? 1.0f : static_cast<float>(mp.concentrationFit[k]);
    v[b + 3] = mp.massOrD[k];
    v[b + 4] = static_cast<float>(mp.massOrDFit[k]);
    v[b + 5] = mp.s[k];
    v[b + 6] = static_cast<float>(mp.sFit[k]);
    v[b + 7] = mp.extra[k];
    v[b + 8] = static_cast<float>(mp.extraFit[k]);
  }
  v[38] = mp.baseline;
  // The baseline box as the user left it: a baseline solved as a linear
  // amplitude has its fit flag cleared and keeps the tick beside it. With
  // the noise fitted the linear solve takes the baseline anyway, ticked or
  // not; without, it is there only because the box was ticked.
  const bool noiseTakesBaseline = fs.fitTINoise || mp.riNoiseFit;
  const bool baselineTicked = mp.baselineFit != 0 ||
                              (mp.baselineLinear && (gModelParameterVector.dialogF[15] != 0 || !noiseTakesBaseline));
  v[39] = Flag(baselineTicked);
  v[40] = mp.meniscus;
  v[41] = mp.bottom;
  // What the user set, not what these data allowed of it: the analysis
  // restored over other scans is fitted over the user's range again.
  v[42] = s.enteredLeftFitLimit != 0 ? s.enteredLeftFitLimit : s.leftFitLimit;
  v[43] = s.enteredRightFitLimit != 0 ? s.enteredRightFitLimit : s.rightFitLimit;
  v[44] = static_cast<float>(SavedGridSize(ls.gridSize));
  v[45] = mp.value20;
  v[46] = static_cast<float>(mp.meniscusFit);
  v[47] = sc.vbar20;
  v[48] = static_cast<float>(mp.bottomFit);
  v[49] = fs.meniscusMax;
  v[50] = fs.meniscusMin;
  v[51] = fs.bottomMax;
  v[52] = fs.bottomMin;
  v[53] = sc.vbar;
  v[54] = sc.density;
  // The parameter box's switches of the model record.
  v[55] = Flag(mp.baselineLinear);
  v[56] = Flag(mp.concentrationsLinear);
  v[57] = Flag(mp.experimentalInitialDistribution);
  v[58] = Flag(mp.parametersEntered);
  v[59] = Flag(ls.automaticAlgorithm);
  v[60] = Flag(fs.molarMassParameters);
  v[61] = Flag(ls.movingHatAlgorithm);
  v[62] = Flag(ls.claverieAlgorithm);
  v[63] = static_cast<float>(ls.backDiffusionLevel);
  v[64] = static_cast<float>(ls.gridS);
  v[65] = static_cast<float>(ls.maxDcOverC);
  v[66] = ls.pointsPerSigma;
  v[67] = Flag(ls.fixedTimeStep);
  v[68] = Flag(sel.LammDiscreteModel);
  v[69] = Flag(sel.MonomerDimerModel);
  v[70] = Flag(sel.MonomerTrimerModel);
  v[71] = Flag(sel.MonomerDimerTetramerModel);
  v[72] = NonidealCode();
  v[73] = DistributionCode();
  // Constant initial concentration, the switch the zone and c(M) commands set.
  v[74] = Flag(ls.modelInitialDistribution);
  v[75] = Flag(ls.experimentalInitialDistribution);
  v[76] = Flag(fs.fitTINoise);
  v[77] = Flag(ls.automaticAlgorithm);
  v[78] = Flag(ls.automaticSGrid);
  v[79] = Flag(mp.startTimeFit);
  v[80] = mp.startTime;
  v[81] = Flag(mp.riNoiseFit);
  v[82] = Flag(ls.rampRotorSpeed);
  v[83] = Flag(sel.MonomerTetramerOctamerModel);
  v[84] = Flag(sel.EquilibriumModel284);
  v[85] = sel.CSff0Model ? 1.0f : (sel.CSff0With1DiscreteModel ? 2.0f : 0.0f);
  v[92] = Flag(ls.automaticGridSize);
  v[93] = static_cast<float>(ls.maxDcOverC);
  v[94] = static_cast<float>(ls.gridSizeUpperLimit);
  v[95] = static_cast<float>(ls.gridSizeLowerLimit);
  if (hooks.getBufferValue)
    for (int line = kBufferFirstLine; line <= kBufferLastLine; ++line) v[line] = hooks.getBufferValue(line);
  v[119] = ls.scanVelocity;
  v[120] = ls.convolutionRange;
  v[121] = Flag(ls.simulateTimeResolution);
  v[122] = Flag(ls.simulateRadialResolution);
  v[123] = Flag(sel.ZoneCentrifugationModel);
  v[124] = Flag(sel.ZoneCentrifugationLsgModel);
  v[125] = Flag(sel.ZoneCentrifugationCSModel);
  // The parameter box's "with synthetic boundary" of the multiple species.
  v[126] = Flag(mp.syntheticBoundary);
  // The nonideal c(s) shows its log kd in component 4's second field, and
  // a fit of kd moves it there only through its store.
  if (sel.NonidealCSModel) v[32] = gAssociationModelParams.logKd;
  v[127] = mp.zoneValue;
  v[128] = static_cast<float>(mp.zoneFit);
  v[129] = Flag(sel.NonidealMultipleSpeciesModel);
  // The parameter box's sticky-sphere choice: without it a restored sticky
  // model would be computed with plain hard spheres.
  v[130] = Flag(StickyHardSphereFlag != 0);
  for (int t = 1; t <= kNonidealTerms; ++t) {
    v[131 + 2 * (t - 1)] = static_cast<float>(mp.nonidealTermFit[t]);
    v[132 + 2 * (t - 1)] = mp.nonidealTerm[t];
  }
  ComposeFluorescence(v);
  v[173] = Flag(ls.checkRotorAcceleration);
  // The concentration dependence of the self-associating and nonideal species.
  const AssociationModelParams& as = gAssociationModelParams;
  v[193] = Flag(as.repulsive);
  v[194] = Flag(as.hardSphere);
  v[195] = Flag(as.dimerNonideal);
  v[196] = Flag(as.polynomialSD);
  v[197] = Flag(as.csClSD);
  if (hooks.getContiValue)
    for (int line = 1; line <= kSavedParamsLines; ++line)
      if (IsContiLine(line)) v[line] = hooks.getContiValue(line);
  const WienerSkewSettings& w = CurrentWienerSkew();
  v[204] = Flag(w.use);
  v[205] = 1e6f * w.magnitude;
  v[206] = w.signalPerConcentration;
  v[207] = static_cast<float>(w.fit);
  v[kModelInUseLine] = static_cast<float>(SelectedModelKey());
  return v;
}

// "%f", or where its six decimals would read back as another float, as
// many digits as read back to the value itself: a fit limit a hair beyond a
// radius must not take that radius into the restored fit range, nor a
// fitted value give another rmsd.
void WriteValue(std::FILE* f, float value) {
  char text[64];
  std::snprintf(text, sizeof text, "%f", static_cast<double>(value));
  if (std::strtof(text, nullptr) != value && std::isfinite(value))
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
  std::fprintf(f, "%s\n", text);
}

// The solver's double values (lines 63-65 and 93): written with as many
// digits as read back to the double itself, which a reader of floats takes
// as the float it always took. Read back as floats they would give a
// restored analysis another rmsd (1e-4 is no float).
bool IsSolverDoubleLine(int line) { return (line >= 63 && line <= 65) || line == 93; }
double SolverDouble(int line) {
  const LammSolverSettings& ls = LammSettings();
  switch (line) {
    case 63: return ls.backDiffusionLevel;
    case 64: return ls.gridS;
    default: return ls.maxDcOverC;
  }
}
void WriteDouble(std::FILE* f, double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%f", value);
  if (std::strtod(text, nullptr) != value && std::isfinite(value)) std::snprintf(text, sizeof text, "%.17g", value);
  std::fprintf(f, "%s\n", text);
}

// Reads "%f" values one a line, stopping at the first line without one;
// `exact` gets each as a double too.
bool ReadValues(const std::string& path, std::vector<float>& values, std::vector<double>* exact = nullptr) {
  const platform::CheckedInputFile in(platform::ToNative(path), platform::kTableFileLimit);
  if (!in) return false;
  std::FILE* f = in.get();
  values.assign(1, 0.0f);
  if (exact) exact->assign(1, 0.0);
  char line[1000];
  while (std::fgets(line, sizeof line, f)) {
    char* end = nullptr;
    const float v = std::strtof(line, &end);
    if (end == line) break;
    values.push_back(v);
    if (exact) exact->push_back(std::strtod(line, nullptr));
  }
  return true;
}

// The scans' working times as the reloaded switches want them: from their
// omega^2 t while "times from w^2t" is on, their elapsed times again with
// "ramp rotor speed". Without this the times of the switches saved with the
// analysis would not be the times the scans carry.
// Times that already follow omega^2 t (the switch was on before the file's
// was read, or the model's command switched it on) stay as they are: taken
// again they could come out a rounding apart, and the restored analysis
// with them.
void FollowReloadedTimeSwitches(bool alreadyFromW2t) {
  LammSolverSettings& ls = LammSettings();
  const DataTypeFlags& df = CurrentDataTypeFlags();
  ScanSet& s = CurrentScanSet();
  if (ls.timesFromW2t && !alreadyFromW2t && !df.dls && !df.floToolsData) {
    for (int i = 1; i <= s.count; ++i) {
      ScanRecord& r = s.records[i];
      const double omega = r.rpm * kOmegaPerRpm8;
      if (omega > 0.0) r.timeRead = r.w2t / (omega * omega);
    }
  }
  if (ls.rampRotorSpeed) {
    ls.timesFromW2t = 0;
    for (int i = 1; i <= s.count; ++i) s.records[i].timeRead = s.records[i].time;
  }
}

}  // namespace

bool IsCarriedSavedParamsLine(int line) {
  // 151-153: model values no record here keeps; 188-191: values and
  // switches of a dialog this program lacks; 192: a scan-set value nothing
  // here uses; 198-199: two mean-field integers no record here keeps.
  return (line >= 151 && line <= 153) || (line >= 188 && line <= 192) ||
         line == 198 || line == 199;
}

std::vector<int> SavedParamsOwnershipFaults() {
  const float unset = std::numeric_limits<float>::quiet_NaN();
  const std::vector<float> v = Compose(false, std::vector<float>(kSavedParamsLines + 1, unset));
  std::vector<int> lines;
  for (int line = 1; line <= kSavedParamsLines; ++line)
    if (std::isnan(v[static_cast<std::size_t>(line)]) != IsCarriedSavedParamsLine(line)) lines.push_back(line);
  return lines;
}

SavedParamsHooks& CurrentSavedParamsHooks() {
  static SavedParamsHooks hooks;
  return hooks;
}

bool TmpSaveBestParams(const std::string& path, bool intermediate) {
  platform::WriteDiagnostics("\nEnter TmpSaveBestParams");
  if (path.empty()) return false;
  UnpackModelParameters();
  const std::vector<float> v = Compose(intermediate, KeptLines());
  // Whole or not at all: a failed write keeps the analysis saved before.
  platform::CheckedOutputFile file(path);
  std::FILE* f = file.get();
  if (!f) {
    const std::string text = "Attention: could not open " + path;
    ErrorBox(text.c_str());
    return false;
  }
  for (int line = 1; line <= kSavedParamsLines; ++line) {
    if (IsSolverDoubleLine(line))
      WriteDouble(f, SolverDouble(line));
    else
      WriteValue(f, v[static_cast<std::size_t>(line)]);
  }
  const bool written = file.Commit();
  if (!written) {
    const std::string text = "Attention: could not write " + path;
    ErrorBox(text.c_str());
  }
  const SavedParamsHooks& hooks = CurrentSavedParamsHooks();
  if (written && gModelSelectorFlags.NonidealCSModel && hooks.savedNonidealModel) hooks.savedNonidealModel(path);
  platform::WriteDiagnostics(" --> done.");
  return written;
}

namespace {

// Lines 2-67: the species or grid slots, cell, fit limits, solution and
// solver choices. Read before the model's own command, which needs them, and
// again after it: what the command sets up from the current settings (its
// range, resolution and solver defaults) must not stand over the file's.
// (Line 44, the grid size, is taken once, after the model is chosen.)
template <typename At>
void ReadModelLines(const At& at) {
  ModelParams& mp = gModelParams;
  FitEngineState& fs = gFitEngineState;
  SolutionConditions& sc = gSolutionConditions;
  LammSolverSettings& ls = LammSettings();
  ScanSet& s = CurrentScanSet();
  for (int k = 1; k <= kComponentSlots; ++k) {
    const int b = 2 + 9 * (k - 1);
    mp.included[k] = Int(at(b));
    mp.concentration[k] = at(b + 1);
    mp.concentrationFit[k] = Int(at(b + 2));
    mp.massOrD[k] = at(b + 3);
    mp.massOrDFit[k] = Int(at(b + 4));
    mp.s[k] = at(b + 5);
    mp.sFit[k] = Int(at(b + 6));
    mp.extra[k] = at(b + 7);
    mp.extraFit[k] = Int(at(b + 8));
  }
  mp.baseline = at(38);
  mp.baselineFit = Int(at(39));
  mp.meniscus = at(40);
  mp.bottom = at(41);
  s.leftFitLimit = s.enteredLeftFitLimit = at(42);
  s.rightFitLimit = s.enteredRightFitLimit = at(43);
  mp.value20 = at(45);
  mp.meniscusFit = Int(at(46));
  sc.vbar20 = at(47);
  mp.bottomFit = Int(at(48));
  fs.meniscusMax = at(49);
  fs.meniscusMin = at(50);
  fs.bottomMax = at(51);
  fs.bottomMin = at(52);
  sc.vbar = at(53);
  sc.density = at(54);
  sc.vbarRho = sc.vbar * sc.density;
  mp.baselineLinear = On(at(55));
  mp.concentrationsLinear = On(at(56));
  mp.experimentalInitialDistribution = On(at(57));
  mp.parametersEntered = On(at(58));
  ls.automaticAlgorithm = On(at(59));
  fs.molarMassParameters = On(at(60));
  ls.movingHatAlgorithm = On(at(61));
  ls.claverieAlgorithm = On(at(62));
  ls.backDiffusionLevel = at.Exact(63);
  ls.gridS = at.Exact(64);
  ls.maxDcOverC = at.Exact(65);
  ls.pointsPerSigma = at(66);
  ls.fixedTimeStep = On(at(67));
}

}  // namespace

namespace {

// The lines read as whole numbers: the components' inclusion and fit flags,
// the baseline fit, the grid size, the meniscus and bottom fits, the
// distribution code, the grid-size limits, the zone fit, the fits of the
// nonideal terms, the minimum s of the logarithmic grid and the skew fit.
std::vector<int> WholeNumberLines() {
  std::vector<int> lines;
  for (int k = 1; k <= kComponentSlots; ++k) {
    const int b = 2 + 9 * (k - 1);
    for (int offset : {0, 2, 4, 6, 8}) lines.push_back(b + offset);
  }
  for (int line : {39, 44, 46, 48, 73, 94, 95, 128}) lines.push_back(line);
  for (int t = 1; t <= kNonidealTerms; ++t) lines.push_back(131 + 2 * (t - 1));
  lines.push_back(201);
  lines.push_back(207);
  return lines;
}

bool KnownDistributionCode(int code) { return (code >= 0 && code <= 7) || code == 7001; }

// The c(M) distributions: line 73 gives them the code of c(s), whose
// switches they share but for the c(s) switch itself.
bool ContinuousMassModel(int key) {
  return key == kCmContinuousCMModel || key == kCmCMInvariantDModel || key == kCmCMPowerLawModel ||
         key == kCmCMPriorVbarModel;
}

// Models the switches of the file cannot name but whose every value the
// component lines hold, come back by the model in use the file names: the
// light-scattering species (Stokes radii or the cumulants in the discrete
// species' slots), not as the discrete species of their switches, which
// would read a radius as a diffusion coefficient; and c(M) and its variants,
// not as the c(s) of line 73, which would read their range of molar masses
// as one of sedimentation coefficients. (A file without that line names
// neither: it comes back by its switches, as it always did.)
int ModelNamedInUse(const std::vector<float>& v, int fromSwitches) {
  if (static_cast<int>(v.size()) - 1 < kModelInUseLine) return fromSwitches;
  const std::optional<std::int32_t> saved = WholeNumberOf(v[kModelInUseLine]);
  if (!saved) return fromSwitches;
  if (fromSwitches == kCmDiscreteSpeciesModel && (*saved == kCmDlsStokesRadiiModel || *saved == kCmDlsCumulantModel))
    return *saved;
  if (fromSwitches == kCmContinuousCSModel && ContinuousMassModel(*saved)) return *saved;
  return fromSwitches;
}

// Why the values cannot be restored (empty: they can): a whole-number line
// that no int holds, or a distribution model the program does not know.
std::string RefusedValue(const std::vector<float>& v) {
  const int n = static_cast<int>(v.size()) - 1;
  char text[200];
  for (int line : WholeNumberLines()) {
    if (line > n) continue;
    const float value = v[static_cast<std::size_t>(line)];
    const std::optional<std::int32_t> whole = WholeNumberOf(value);
    if (!whole) {
      std::snprintf(text, sizeof text, "line %d holds %g, which is no whole number", line,
                    static_cast<double>(value));
      return text;
    }
    if (line == 73 && !KnownDistributionCode(*whole)) {
      std::snprintf(text, sizeof text, "line 73 holds %d, which is no distribution model", *whole);
      return text;
    }
  }
  return {};
}

std::string ModelNameOf(int key) {
  const SavedParamsHooks& hooks = CurrentSavedParamsHooks();
  std::string name = hooks.modelName ? hooks.modelName(key) : std::string();
  if (name.empty()) name = "model " + std::to_string(key);
  return "\"" + name + "\"";
}

// The file was written with a model its switches cannot name: the user is
// told which, and where its entries went.
void TellModelNotRestored(const std::string& path, float savedLine) {
  const std::optional<std::int32_t> saved = WholeNumberOf(savedLine);
  const int loaded = SelectedModelKey();
  if (!saved || *saved == loaded || !IsModelCommand(*saved)) return;
  // A serial fit reloads a file for every set: the same news is told once.
  static std::pair<int, int> toldInSeries{0, 0};
  const std::pair<int, int> news{*saved, loaded};
  if (gSerialFitSettings.running && news == toldInSeries) return;
  toldInSeries = gSerialFitSettings.running ? news : std::pair<int, int>{0, 0};
  std::string text = "the model of " + path + ", " + ModelNameOf(*saved) + ", cannot be restored from it:\n";
  text += loaded ? "its entries were loaded into " + ModelNameOf(loaded)
                 : "its entries were loaded, but no model is chosen (choose one in the Model menu)";
  platform::UI().MessageBox("reload parameters", text, platform::BoxButtons::Ok, platform::BoxIcon::Warning);
}

}  // namespace

int ReloadParameters(const std::string& path) {
  std::vector<float> v;
  std::vector<double> exact;
  if (!ReadValues(path, v, &exact)) return 0;
  const int n = static_cast<int>(v.size()) - 1;
  if (n < kSavedParamsMinimumLines) return 0;
  auto has = [&](int line) { return line <= n; };
  // A line's value, and (for the solver's doubles) the double written.
  struct {
    const std::vector<float>& v;
    const std::vector<double>& exact;
    float operator()(int line) const { return v[static_cast<std::size_t>(line)]; }
    double Exact(int line) const { return exact[static_cast<std::size_t>(line)]; }
  } at{v, exact};
  // Refused before anything is taken: the model and its settings stay.
  if (const std::string why = RefusedValue(v); !why.empty()) {
    platform::UI().MessageBox("reload parameters", "cannot restore parameters from " + path + ":\n" + why,
                              platform::BoxButtons::Ok, platform::BoxIcon::Warning);
    return -1;
  }

  ModelParams& mp = gModelParams;
  FitEngineState& fs = gFitEngineState;
  SolutionConditions& sc = gSolutionConditions;
  LammSolverSettings& ls = LammSettings();
  ModelSelectorFlags& sel = gModelSelectorFlags;
  const SavedParamsHooks& hooks = CurrentSavedParamsHooks();

  if (hooks.reloadModelEntry) hooks.reloadModelEntry(false);
  std::vector<float>& kept = KeptLines();
  for (int line = 1; line <= kSavedParamsLines; ++line)
    kept[static_cast<std::size_t>(line)] = has(line) ? at(line) : 0.0f;

  // The model in use is left: a grid size it replaced goes back.
  GiveBackGridSize(ls.gridSize);
  // The model the file names is chosen by its own command, as from the
  // menu; the file's values are then read over what the command set up.
  const int code = Int(at(73));
  sel.ClearSwitches();
  ReadModelLines(at);
  ReadModelSwitches(has, at);
  DefaultReselect(code);
  ReadLaterModelSwitches(has, at);
  const int key = ModelNamedInUse(v, SelectedModelKey());
  if (key != 0 && hooks.reselectModel) {
    if (code >= 2) fs.molarMassParameters = 1;
    sel.ClearSwitches();
    hooks.reselectModel(key);
    ReadModelLines(at);
  }
  if (code >= 2) fs.molarMassParameters = 1;
  ReadLaterModelSwitches(has, at);
  // Once the model is chosen: a distribution's grid size is its own.
  TakeSavedGridSize(ls.gridSize, Int(at(44)));
  ls.modelInitialDistribution = On(at(74));
  ls.experimentalInitialDistribution = On(at(75));
  fs.fitTINoise = On(at(76));
  ls.automaticAlgorithm = On(at(77));
  ls.automaticSGrid = On(at(78));
  mp.startTimeFit = On(at(79));
  mp.startTime = at(80);
  mp.riNoiseFit = On(at(81));
  const bool alreadyFromW2t = ls.timesFromW2t != 0;
  if (has(82)) {
    ls.rampRotorSpeed = On(at(82));
    ls.timesFromW2t = !ls.rampRotorSpeed;
  }
  if (has(92)) ls.automaticGridSize = On(at(92));
  if (has(93)) ls.maxDcOverC = at.Exact(93);
  if (has(94)) ls.gridSizeUpperLimit = Int(at(94));
  if (has(95)) ls.gridSizeLowerLimit = Int(at(95));
  if (hooks.setBufferValue)
    for (int line = kBufferFirstLine; line <= kBufferLastLine; ++line)
      hooks.setBufferValue(line, has(line) ? at(line) : 0.0f, has(line));
  if (has(119)) ls.scanVelocity = at(119);
  if (has(120)) ls.convolutionRange = at(120);
  ls.simulateTimeResolution = has(121) && On(at(121));
  ls.simulateRadialResolution = has(122) && On(at(122));
  mp.syntheticBoundary = has(126) && On(at(126)) ? 1 : 0;
  if (has(127)) mp.zoneValue = at(127);
  if (has(128)) mp.zoneFit = Int(at(128));
  StickyHardSphereFlag = has(130) && On(at(130)) ? 1 : 0;
  for (int t = 1; t <= kNonidealTerms; ++t) {
    const int line = 131 + 2 * (t - 1);
    mp.nonidealTermFit[t] = has(line) ? Int(at(line)) : 0;
    if (has(line + 1)) mp.nonidealTerm[t] = at(line + 1);
  }
  ReloadFluorescence(has, at);
  if (has(173)) ls.checkRotorAcceleration = On(at(173));
  AssociationModelParams& as = gAssociationModelParams;
  as.repulsive = !has(193) || On(at(193));
  as.hardSphere = has(194) && On(at(194));
  as.dimerNonideal = has(195) && On(at(195));
  as.polynomialSD = has(196) && On(at(196));
  as.csClSD = has(197) && On(at(197));
  if (hooks.setContiValue)
    for (int line = 1; line <= n && line <= kSavedParamsLines; ++line)
      if (IsContiLine(line)) hooks.setContiValue(line, at(line));
  WienerSkewSettings& w = CurrentWienerSkew();
  w.use = has(204) && On(at(204)) ? 1 : 0;
  if (has(205)) w.magnitude = 1e-6f * at(205);
  if (has(206)) w.signalPerConcentration = at(206);
  w.fit = has(207) ? Int(at(207)) : 0;
  mp.reloadGridFlag = 1;
  mp.parametersReloaded = 1;

  // The box ticked stays ticked while its baseline is solved as a linear
  // amplitude (the check below clears its fit flag).
  gModelParameterVector.dialogF[15] = mp.baselineFit;
  ComponentDefaultsContext context;
  CheckComponentDefaults(context);
  FollowReloadedTimeSwitches(alreadyFromW2t);
  if (sc.vbar20 == 0.0f &&
      platform::UI().MessageBox("reload parameters", "VBAR20 is 0.0 ... adjust to VBAR20=VBAR?",
                                platform::BoxButtons::YesNo,
                                platform::BoxIcon::Question) == platform::IDYES)
    sc.vbar20 = sc.vbar;
  // The nonideal c(s) packs its log ks from the nonideality's store: the
  // file's is the newest entry, not the one its command started from.
  if (sel.NonidealCSModel) {
    as.logKs = mp.value20;
    as.logKd = mp.value21 = mp.massOrD[4];
  }
  PackModelParameters();
  if (hooks.checkFitLimits) hooks.checkFitLimits();
  if (hooks.checkCorrectionMenuItems) hooks.checkCorrectionMenuItems();
  if (hooks.afterReload && !gSerialFitSettings.running) hooks.afterReload();
  if (sel.NonidealCSModel && hooks.reloadedNonidealModel) hooks.reloadedNonidealModel(path);
  if (hooks.reloadModelEntry) hooks.reloadModelEntry(true);
  if (has(kModelInUseLine)) TellModelNotRestored(path, at(kModelInUseLine));
  return 1;
}

bool OfferRestorePreviousAnalysis(const std::string& path, bool unattended) {
  if (unattended || path.empty()) return false;
  std::vector<float> v;
  if (!ReadValues(path, v) || static_cast<int>(v.size()) - 1 < kSavedParamsMinimumLines)
    return false;
  // A serial fit asked once, at its start, for every set.
  const SerialFitSettings& serial = gSerialFitSettings;
  if (serial.running && serial.reuseSavedParameters) return ReloadParameters(path) == 1;
  if (v[1] == 0.0f &&
      platform::UI().MessageBox("", "restore previous data?", platform::BoxButtons::YesNo,
                                platform::BoxIcon::Warning) == platform::IDYES)
    return ReloadParameters(path) == 1;
  if (platform::UI().MessageBox("", "load previous analysis?", platform::BoxButtons::YesNo,
                                platform::BoxIcon::Warning) == platform::IDYES)
    return ReloadParameters(path) == 1;
  return false;
}
