// "Options/Calculator": pocket calculators that ask their numbers one at a
// time (defaults from the solution, the model and the scans) and show the
// answer; the two second-moment commands also draw a step model into the
// scans and leave their table on the clipboard; the protein calculator
// takes its sequence from a text window.
#include <string>
#include <vector>

#include "app/window/txla_window.h"
#include "app/window/window_services.h"
#include "automation/tools/calculators.h"
#include "automation/tools/protein_sequence.h"
#include "automation/tools/second_moment.h"
#include "data/data_messages.h"
#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "distributions/hydrodynamics.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "numerics/clipboard_tables.h"
#include "platform/error_box.h"
#include "platform/user_interface.h"

namespace {

using data_messages::Box;

constexpr float kPoisePerRelative = 0.01002f;
constexpr float kRelativePerPoise = 99.80039920159682f;
constexpr const char* kSecondMomentCaption = "CALCULATE SW BY SECOND MOMENT";

// The viscosity is asked in poise and kept relative to water at 20 C.
bool AskViscosity(float& relative, const char* caption) {
  float poise = relative * kPoisePerRelative;
  if (!AskFloat(poise, "enter absolute viscosity (Poise)", caption)) return false;
  relative = poise * kRelativePerPoise;
  return true;
}

void Show(const char* caption, const CalculatorAnswer& a) {
  if (!a.ok) data_messages::InfoSound();
  Box(caption, a.text);
}

float ScanTemperatureDefault() {
  const ScanSet& s = CurrentScanSet();
  if (s.count < 1) return 20.0f;
  if (CurrentDataTypeFlags().dls) return gSolutionConditions.temperature - kAbsoluteZero;
  return s.records[s.count].temperature;
}

float ScanRpmDefault() {
  const ScanSet& s = CurrentScanSet();
  return s.count < 1 || CurrentDataTypeFlags().dls ? 50000.0f : s.records[1].rpm;
}

// Scans loaded and the right fit limit set; refuses the latter.
bool ScansWithFitLimits() {
  const ScanSet& s = CurrentScanSet();
  if (s.count < 1) return false;
  if (s.rightFitLimit == 0) {
    data_messages::InfoSound();
    Box("ERROR", "Set Fitting Limits First");
    return false;
  }
  return true;
}

// The sphere calculators: their own number, then vbar, temperature,
// density and viscosity of the solvent.
void RunSphereCalculator(const char* caption, const char* resultCaption, const char* prompt, float value,
                         CalculatorAnswer (*calculate)(float, float, float, float, float)) {
  float vbar = gSolutionConditions.vbar, T = ScanTemperatureDefault();
  float density = gSolutionConditions.density, viscosity = gSolutionConditions.viscosity;
  if (!AskFloat(value, prompt, caption) || !AskFloat(vbar, "enter partial specific volume [ml/g]", caption) ||
      !AskFloat(T, "enter temperature [C]", caption) || !AskFloat(density, "enter buffer density [g/ml]", caption) ||
      !AskViscosity(viscosity, caption))
    return;
  Show(resultCaption, calculate(value, vbar, T, density, viscosity));
}

void RunSecondMoment(TXLAWindow& window, bool differential) {
  if (!ScansWithFitLimits()) return;
  Box(kSecondMomentCaption,
      "subtract all systematic noise from raw data first\n(this will involve integrating the area under the raw "
      "data)\ncheck that plateaus are established (within 0.1cm of right fit limit)");
  ScanSet& s = CurrentScanSet();
  std::vector<MomentScan> scans;
  std::vector<int> order;
  for (int k = 1; k <= s.count; ++k) {
    MomentScan m;
    m.r = s.radii[k];
    m.c = s.signals[k];
    m.points = s.points[k];
    m.firstInLimits = s.firstFitPoint[k];
    m.lastInLimits = s.lastFitPoint[k];
    m.rpm = s.records[k].rpm;
    m.elapsed = s.records[k].timeRead;
    m.w2t = s.records[k].w2t;
    scans.push_back(m);
    order.push_back(s.order[k] - 1);
  }
  const float meniscus = gModelParams.meniscus, rightLimit = s.rightFitLimit;
  const SecondMomentResult r = differential ? DifferentialSecondMomentSw(scans, order, meniscus, rightLimit)
                                            : SecondMomentSw(scans, order, meniscus, rightLimit);
  if (!r.ok) {
    data_messages::InfoSound();
    Box(kSecondMomentCaption, r.text);
    return;
  }
  for (int k = 1; k <= s.count; ++k) {
    if (!s.model[k]) continue;
    for (int i = 1; i <= s.points[k]; ++i)
      s.model[k][i] = s.radii[k][i] > r.boundary[k - 1] ? r.plateau[k - 1] : 0.0f;
  }
  // One-based columns for the clipboard table.
  std::vector<float> time(1, 0.0f), sw(1, 0.0f);
  time.insert(time.end(), r.tableTime.begin(), r.tableTime.end());
  sw.insert(sw.end(), r.tableS.begin(), r.tableS.end());
  const float* columns[2] = {nullptr, sw.data()};
  CopyColumnsToClipboard(time.data(), columns, 1, static_cast<int>(r.tableS.size()), 1);
  Box(kSecondMomentCaption, r.text);
  RequestRepaint(window);
}

}  // namespace

void TXLAWindow::CmCalculateFrictionForce() {
  constexpr const char* kCaption = "CALCULATE HYDRODYNAMIC FRICTIONAL FORCE";
  float s = 5.0f, r = 7.0f, ff0 = Conti().ffValue, rpm = ScanRpmDefault(), M = 100000.0f;
  float vbar = gSolutionConditions.vbar, viscosity = gSolutionConditions.viscosity;
  if (!AskFloat(s, "enter s-value [S]", kCaption) || !AskFloat(r, "enter radius position [cm]", kCaption) ||
      !AskFloat(ff0, "enter frictional ratio", kCaption) || !AskFloat(rpm, "enter rotor speed [rpm]", kCaption) ||
      !AskFloat(M, "enter molar mass [Da]", kCaption) || !AskFloat(vbar, "enter part.-spec. volume [ml/g]", kCaption) ||
      !AskFloat(viscosity, "enter solution relative viscosity", kCaption))
    return;
  Show(kCaption, FrictionForceAnswer(s, r, ff0, rpm, M, vbar, viscosity));
}

void TXLAWindow::CmCalculateAxialAndFrictionalRatios() {
  constexpr const char* kCaption = "CALCULATE FRICTIONAL AND AXIAL RATIOS";
  float M = 100000.0f, s = 7.0f, vbar = 0.73f, hydration = 0.3f, T = ScanTemperatureDefault();
  float density = 1.0067f, viscosity = 1.0f;
  if (!AskFloat(M, "enter molar mass [Da]", kCaption) ||
      !AskFloat(s, "enter sedimentation coefficient [S]", kCaption) ||
      !AskFloat(vbar, "enter partial specific volume [ml/g]", kCaption) ||
      !AskFloat(hydration, "enter hydration [g/g]", kCaption) || !AskFloat(T, "enter temperature [C]", kCaption) ||
      !AskFloat(density, "enter buffer density [g/ml]", kCaption) || !AskViscosity(viscosity, kCaption))
    return;
  Show("CALCULATE FRICTIONAL AND AXIAL RATIOS", FrictionalRatiosAnswer(M, s, vbar, hydration, T, density, viscosity));
}

void TXLAWindow::CmCalculateBoundaryBroadening() {
  constexpr const char* kCaption = "BOUNDARY BROADENING ANALYSIS";
  float meniscus = gModelParams.meniscus, bottom = gModelParams.bottom;
  if (meniscus == 0 || bottom == 0) {
    if (meniscus == 0) meniscus = 6.2f;
    if (bottom == 0) bottom = 7.2f;
    if (!AskFloat(meniscus, "enter meniscus (cm)", kCaption) || !AskFloat(bottom, "enter bottom (cm)", kCaption))
      return;
  }
  float rpm = ScanRpmDefault(), M = 1000.0f, vbar = gSolutionConditions.vbar;
  float density = gSolutionConditions.density, T = 20.0f, s = 100.0f, ds = 0.01f;
  if (!AskFloat(rpm, "enter rotor speed (rpm)", kCaption) || !AskFloat(M, "enter molar mass [kDa]", kCaption) ||
      !AskFloat(vbar, "enter partial specific volume [ml/g]", kCaption) ||
      !AskFloat(density, "enter buffer density [g/ml]", kCaption) || !AskFloat(T, "enter temperature [C]", kCaption) ||
      !AskFloat(s, "enter s-value [S]", kCaption) || !AskFloat(ds, "enter ratio delta-s/s", kCaption))
    return;
  Show(kCaption, BoundaryBroadeningAnswer(meniscus, bottom, rpm, M, vbar, density, T, s, ds));
}

void TXLAWindow::CmSwByDifferentialSecondMoment() { RunSecondMoment(*this, true); }

void TXLAWindow::CmSwBySecondMoment() { RunSecondMoment(*this, false); }

void TXLAWindow::CmCalculateRadialDilution() {
  constexpr const char* kCaption = "CALCULATE RADIAL DILUTION";
  if (!ScansWithFitLimits()) return;
  const ScanSet& s = CurrentScanSet();
  std::vector<double> w2t;
  for (int k = 1; k <= s.count; ++k) w2t.push_back(s.records[k].w2t);
  float sValue = 5.0f;
  if (!AskFloat(sValue, "enter s-value [S]", kCaption)) return;
  Show(kCaption, RadialDilutionAnswer(sValue, gModelParams.meniscus, gModelParams.bottom,
                                      s.records[s.order[s.count]].w2t, w2t));
}

void TXLAWindow::CmCalculatePressure() {
  const ScanSet& s = CurrentScanSet();
  if (s.count < 1) return;
  Show("CALCULATE PRESSURE", PressureAnswer(gSolutionConditions.density, s.records[1].rpm, gModelParams.meniscus,
                                            gModelParams.bottom));
}

void TXLAWindow::CmSphereSFromM() {
  RunSphereCalculator("CALCULATE SEDCOEFFICIENT OF SPHERE", "CALCULATE SEDCOEFFICIENT OF SPHERE",
                      "enter molar mass [Da]", 100000.0f, SphereSFromMAnswer);
}

void TXLAWindow::CmSphereSFromRh() {
  RunSphereCalculator("CALCULATE SEDCOEFFICIENT OF SPHERE", "CALCULATE SEDCOEFFICIENT OF SPHERE",
                      "enter particle radius [nm]", 10.0f, SphereSFromRhAnswer);
}

void TXLAWindow::CmSphereRhFromS() {
  RunSphereCalculator("CALCULATE RADIUS OF SPHERE", "CALCULATE RADIUS OF SPHERE", "enter s-value [S]", 100.0f,
                      SphereRhFromSAnswer);
}

void TXLAWindow::CmMFromS() {
  constexpr const char* kCaption = "CALCULATE M FROM S";
  float s = 7.0f, ff0 = Conti().ffValue;
  if (!AskFloat(s, "enter s-value [S]", kCaption) || !AskFloat(ff0, "enter hydrated frictional ratio", kCaption))
    return;
  Show(kCaption, MFromSAnswer(s, ff0));
}

void TXLAWindow::CmSxpToS20w() {
  constexpr const char* kCaption = "CALCULATE s(xp) TO s(20,w)";
  constexpr const char* kResultCaption = "CALCULATE s(xp) TO s(20,w)";
  if (gModelSelectorFlags.CSModel && data_messages::AskYesNo("", "transform the complete distribution?")) {
    TransformDistributionToS20w();
    return;
  }
  SolutionConditions& sc = gSolutionConditions;
  float s = 5.0f, vbarXp = sc.vbar, vbar20 = sc.vbar20, density = sc.density, viscosity = sc.viscosity;
  if (!AskFloat(s, "enter experimental s-value", kCaption) ||
      !AskFloat(vbarXp, "partial specific volume at (xp) [ml/g]", kCaption) ||
      !AskFloat(vbar20, "enter partial specific volume at (20,w) [ml/g]", kCaption))
    return;
  sc.vbar20 = vbar20;
  if (!AskFloat(density, "enter buffer density [g/ml]", kCaption) || !AskViscosity(viscosity, kCaption)) return;
  const CalculatorAnswer first = S20wAnswer(s, vbarXp, vbar20, density, viscosity);
  Show(kResultCaption, first);
  if (!first.ok) return;
  float next = s;
  while (data_messages::AskYesNo("", "transform another s-value under same conditions?")) {
    if (!AskFloat(next, "enter experimental s-value", kCaption)) return;
    Show(kResultCaption, S20wAnswer(next, vbarXp, vbar20, density, viscosity));
  }
}

void TXLAWindow::CmVarianceRatioFStatistics() {
  constexpr const char* kCaption = "CALCULATE SOSQ RATIO";
  const ScanSet& s = CurrentScanSet();
  float points = 0;
  for (int k = 1; k <= s.count; ++k) {
    const int first = s.firstFitPoint[k] > 0 ? s.firstFitPoint[k] : 1;
    const int last = s.lastFitPoint[k] > 0 ? s.lastFitPoint[k] : s.points[k];
    if (last >= first) points += static_cast<float>(last - first + 1);
  }
  if (s.count < 1) points = 1000.0f;
  float confidence = 0.683f, n1 = points, n2 = points;
  if (!AskFloat(confidence, "enter desired confidence level", kCaption) ||
      !AskFloat(n1, "enter first degree of freedom", kCaption) ||
      !AskFloat(n2, "enter second degree of freedom", kCaption))
    return;
  const CalculatorAnswer a = VarianceRatioAnswer(confidence, n1, n2, gFitEngineState.currentRmsd);
  Show("CALCULATE SOSQ RATIO", a);
  if (a.ok) Box(kCaption, a.second);
}

void TXLAWindow::CmEllipsoidFromFrictionalRatio() {
  constexpr const char* kCaption = "CALCULATE SHAPE FROM AXIAL RATIOS";
  float ff0 = Conti().ffValue, vbar = gSolutionConditions.vbar, hydration = gSolutionConditions.hydration;
  if (!AskFloat(ff0, "enter frictional ratio", kCaption) ||
      !AskFloat(vbar, "enter partial specific volume (ml/g)", kCaption) ||
      !AskFloat(hydration, "enter hydration (g/g)", kCaption))
    return;
  Show(kCaption, EllipsoidAnswer(ff0, vbar, hydration, kWaterDensity20));
}

void TXLAWindow::CmCalculateFromProteinSequence() {
  constexpr const char* kCaption = "CALCULATE VBAR, EXT280 AND DNDC FROM SEQUENCE";
  const std::optional<std::string> text = platform::UI().EditText(
      kCaption, "delete this text, write (or paste) single letter aa sequence, and close this window", "");
  if (!text) return;
  const ProteinComposition composition = ParseProteinSequence(*text);
  for (const std::string& note : composition.notes) Box(kCaption, note);
  if (composition.residues == 0) {
    data_messages::InfoSound();
    Box(kCaption, "no amino acids found");
    return;
  }
  ProteinConditions conditions;
  if (composition.counts['C' - 'A'] >= 2) {
    float percent = 50.0f;
    if (!AskFloat(percent, "percent cysteines in disulfide bond", kCaption)) return;
    conditions.disulfideFraction = 0.01f * percent;
  }
  conditions.temperature = gSolutionConditions.temperature - kAbsoluteZero;
  if (!AskFloat(conditions.temperature, "enter temperature (C)", kCaption) ||
      !AskFloat(conditions.bufferIndex, "enter refractive index of buffer at 25 C", kCaption) ||
      !AskFloat(conditions.wavelength, "enter wavelength (nm)", kCaption))
    return;
  Box(kCaption, ProteinPropertiesText(composition, conditions,
                                      ComputeProteinProperties(composition, conditions)));
}
