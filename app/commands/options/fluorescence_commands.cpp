// The fluorescence-detection corrections as the user sets them: one chain of
// questions per correction (commands 905-914 and 925) and the tool box that
// edits all of them at once (915). The settings live in data/; the solvers,
// the fit vector and the report read them from there.
#include "app/commands/options/fluorescence_commands.h"

#include <cmath>
#include <string>

#include "app/window/txla_window.h"
#include "app/window/window_services.h"
#include "automation/serial/fluorescence_correction_record.h"
#include "data/fluorescence_corrections.h"
#include "data/load_hooks.h"
#include "data/nonlinear_detection.h"
#include "data/fluorescence_sort.h"
#include "data/scan_set.h"
#include "fit/saved_params.h"
#include "models/equilibrium_curves/equilibrium_curves.h"
#include "platform/error_box.h"
#include "platform/sounds.h"
#include "platform/user_interface.h"

namespace {

constexpr const char* kNotFluorescence = "this is intended for fluorescence data - proceed anyway?";

FdsSignalParams& P() { return CurrentFdsSignalParams(); }


// Every other kind of data is allowed too, but only after a question.
bool FluorescenceOrConfirmed(const char* caption) {
  return CurrentDataTypeFlags().fluorescence || platform::AskYes(caption, kNotFluorescence);
}

// The number prompt offers the current value; Cancel keeps it.
void AskValue(float& value, const char* prompt, const char* caption) {
  InputFloat(&value, value, true, prompt, caption);
}

std::uint8_t Flag(bool on) { return on ? 1 : 0; }

// Bounds of the sort's whole numbers: a list of more scans than a run
// records, a cell number beyond any rotor's holes.
constexpr int kMaxTargetScans = 100000;
constexpr int kMaxCellNumber = 99;

// Steps shared by the one-correction commands: true when the correction is
// to be on.
bool WantCorrection(const char* caption, const char* question) {
  return FluorescenceOrConfirmed(caption) && platform::AskYes(caption, question);
}

// The serial fits save the corrections at their start and put them back.
class FdsCorrections : public IFluorescenceCorrections {
 public:
  FluorescenceCorrectionValues Get() const override {
    const FdsSignalParams& p = P();
    FluorescenceCorrectionValues v;
    v.convolutionOn = p.useConvolution;
    v.convolutionFloating = p.fitConvolutionWidth;
    v.convolutionWidth = p.convolutionWidth;
    v.shadowOn = p.useShadow;
    v.shadowFloating = p.fitConeRadius;
    v.shadow = p.coneRadius;
    v.timeDependentOn = p.useDrift;
    v.photobleachingOn = p.useExponentialDrift;
    v.kbleachFloating = p.fitDriftRate;
    v.alimFloating = p.fitLimitingLevel;
    v.kbleach = p.driftRate;
    v.alim = p.limitingLevel;
    v.driftOn = p.useLinearDrift;
    v.driftFloating = p.fitLinearDrift;
    v.drift = p.linearDrift;
    v.gradientOn = p.useRadialGradient;
    v.gradientFloating = p.fitRadialGradient;
    v.gradient = p.radialGradient;
    return v;
  }
  void Set(const FluorescenceCorrectionValues& v) override {
    FdsSignalParams& p = P();
    p.useConvolution = Flag(v.convolutionOn);
    p.fitConvolutionWidth = Flag(v.convolutionFloating);
    p.convolutionWidth = v.convolutionWidth;
    p.useShadow = Flag(v.shadowOn);
    p.fitConeRadius = Flag(v.shadowFloating);
    p.coneRadius = v.shadow;
    p.useDrift = Flag(v.timeDependentOn);
    p.useExponentialDrift = Flag(v.photobleachingOn);
    p.fitDriftRate = Flag(v.kbleachFloating);
    p.fitLimitingLevel = Flag(v.alimFloating);
    p.driftRate = v.kbleach;
    p.limitingLevel = v.alim;
    p.useLinearDrift = Flag(v.driftOn);
    p.fitLinearDrift = Flag(v.driftFloating);
    p.linearDrift = v.drift;
    p.useRadialGradient = Flag(v.gradientOn);
    p.fitRadialGradient = Flag(v.gradientFloating);
    p.radialGradient = v.gradient;
    if (window) CheckFluorescenceMenuItems(*window);
  }
  TXLAWindow* window = nullptr;
};

FdsCorrections gSerialFitView;

ModelCurveCorrections CurveCorrections() {
  const FdsSignalParams& p = P();
  ModelCurveCorrections c;
  c.stretch = p.useRadialGradient;
  c.stretchFactor = p.radialGradient;
  c.bottomEdge = p.useShadow;
  c.bottomEdgeRadius = p.coneRadius;
  c.radialSmoothing = p.useConvolution;
  c.smoothingWidth = p.convolutionWidth;
  c.smoothingExtent = p.convolutionCutoff;
  return c;
}

// Without the window the loaders' corrections have no menu.
void NoMenuToTick() {}

}  // namespace

void CheckMenuPair(TXLAWindow& w, int first, int second, bool on) {
  w.CheckMenuItem(first, on);
  w.CheckMenuItem(second, on);
}

void ConnectFluorescenceCorrections(TXLAWindow& window) {
  TXLAWindow* w = &window;
  gSerialFitView.window = w;
  SetFluorescenceCorrections(&gSerialFitView);
  SetModelCurveCorrectionsSource(CurveCorrections);
  CurrentSavedParamsHooks().checkCorrectionMenuItems = [w] { CheckFluorescenceMenuItems(*w); };
  CurrentLoadHooks().checkCorrectionMenuItems = [w] { CheckFluorescenceMenuItems(*w); };
}

void DisconnectFluorescenceCorrections() {
  gSerialFitView.window = nullptr;
  SetFluorescenceCorrections(nullptr);
  SetModelCurveCorrectionsSource(nullptr);
  CurrentSavedParamsHooks().checkCorrectionMenuItems = nullptr;
  CurrentLoadHooks().checkCorrectionMenuItems = NoMenuToTick;
}

float DepletionLogKsOfEntry(double ks) { return ks > 1e-8 ? static_cast<float>(std::log10(ks)) : -8.0f; }

float DetectionPowerOfEntry(double power) { return power > 0.0 ? static_cast<float>(power) : 0.01f; }

void CheckFluorescenceMenuItems(TXLAWindow& w) {
  const FdsSignalParams& p = P();
  CheckMenuPair(w, 905, 907, p.useRadialGradient);
  CheckMenuPair(w, 906, 908, p.useNonlinearDetection);
  CheckMenuPair(w, 909, 910, p.useDrift);
  CheckMenuPair(w, 911, 912, p.useConvolution);
  CheckMenuPair(w, 913, 914, p.useShadow);
  w.CheckMenuItem(925, p.useDepletion);
}

void TXLAWindow::CmSignalRadialConvolution() {
  FdsSignalParams& p = P();
  const char* caption = "Signal Radial Convolution";
  const bool on = WantCorrection(caption, "use radial convolution?");
  p.useConvolution = Flag(on);
  CheckMenuPair(*this, 911, 912, on);
  if (!on) {
    p.fitConvolutionWidth = 0;
    return;
  }
  AskValue(p.convolutionWidth, "characteristic width (cm)", caption);
  p.fitConvolutionWidth = Flag(platform::AskYes(caption, "fit characteristic convolution width?"));
  AskValue(p.convolutionCutoff, "consider dist factor", caption);
}

void TXLAWindow::CmJohnstonOgstonSignalDepletion() {
  FdsSignalParams& p = P();
  const char* caption = "Johnston Ogston Signal Depletion";
  const bool on = WantCorrection(caption, "account for Johnston Ogston anomaly of moving signal depletion?");
  p.useDepletion = Flag(on);
  CheckMenuItem(925, on);
  if (!on) {
    // The ks fit flag stays: it floats nothing while the correction is off.
    p.fitDepletionS = p.fitDepletionD = p.fitDepletionAmplitude = 0;
    return;
  }
  AskValue(p.depletionS, "s-value of depletion (S)", caption);
  p.fitDepletionS = Flag(platform::AskYes(caption, "fit s-value?"));
  float d = p.depletionD * 1e7f;
  AskValue(d, "D-value of depletion (F)", caption);
  p.depletionD = d * 1e-7f;
  p.fitDepletionD = Flag(platform::AskYes(caption, "fit D-value?"));
  AskValue(p.depletionAmplitude, "amplitude of depletion (S)", caption);
  p.fitDepletionAmplitude = Flag(platform::AskYes(caption, "fit amplitude?"));
  float ks = static_cast<float>(std::pow(10.0, p.depletionLogKs));
  AskValue(ks, "ks-value", caption);
  p.depletionLogKs = DepletionLogKsOfEntry(ks);
  p.fitDepletionKs = Flag(platform::AskYes(caption, "fit ks-value?"));
}

void TXLAWindow::CmExcitationShadowAtBottom() {
  FdsSignalParams& p = P();
  const char* caption = "Signal Excitation Shadow";
  const bool on = WantCorrection(caption, "account for excitation shadow at bottom of cell??");
  p.useShadow = Flag(on);
  CheckMenuPair(*this, 913, 914, on);
  if (!on) {
    p.fitConeRadius = 0;
    return;
  }
  AskValue(p.coneRadius, "cone radius (cm)", caption);
  p.fitConeRadius = Flag(platform::AskYes(caption, "fit cone radius?"));
}

void TXLAWindow::CmSignalMagnificationRadialGradient() {
  FdsSignalParams& p = P();
  const char* caption = "Signal Amplitude Change With Radius";
  const bool on = WantCorrection(caption, "use radial magnification gradient?");
  p.useRadialGradient = Flag(on);
  CheckMenuPair(*this, 905, 907, on);
  if (!on) {
    p.fitRadialGradient = 0;
    return;
  }
  AskValue(p.radialGradient, "1+da/dr", caption);
  p.fitRadialGradient = Flag(platform::AskYes(caption, "fit radial magnification gradient?"));
}

void TXLAWindow::CmSignalMagnificationDriftWithTime() {
  FdsSignalParams& p = P();
  const char* caption = "Signal Amplitude Change With Time";
  p.useDrift = p.useLinearDrift = p.fitLinearDrift = 0;
  p.useExponentialDrift = p.fitDriftRate = p.fitLimitingLevel = 0;
  CheckMenuPair(*this, 909, 910, false);
  if (!FluorescenceOrConfirmed(caption)) return;
  if (platform::AskYes(caption, "use linear temporal magnification drift?")) {
    p.useDrift = p.useLinearDrift = 1;
    float percent = p.linearDrift * 100.0f;
    AskValue(percent, "(df/dt) [%%/h]", caption);
    p.linearDrift = percent * 0.01f;
    p.fitLinearDrift = Flag(platform::AskYes(caption, "fit temporal magnification drift?"));
  }
  if (platform::AskYes(caption, "use exponential photophysics model?")) {
    p.useDrift = p.useExponentialDrift = 1;
    AskValue(p.driftRate, "rate [per h]", caption);
    float percent = p.limitingLevel * 100.0f;
    AskValue(percent, "limiting signal level [%%]", caption);
    p.limitingLevel = percent * 0.01f;
    p.fitLimitingLevel = Flag(platform::AskYes(caption, "fit limiting signal level?"));
    p.fitDriftRate = Flag(platform::AskYes(caption, "fit temporal magnification drift?"));
  }
  if (p.useDrift) CheckMenuPair(*this, 909, 910, true);
}

void TXLAWindow::CmNonlinearDetection() {
  FdsSignalParams& p = P();
  const char* caption = "Nonlinear Detection";
  const bool proceed = FluorescenceOrConfirmed(caption);
  if (proceed && platform::AskYes(caption, "account for nonlinear detection")) {
    p.useNonlinearDetection = 1;
    CheckMenuPair(*this, 906, 908, true);
    AskValue(p.detectionPower, "power coeff d(log(a))/dc", caption);
    p.detectionPower = DetectionPowerOfEntry(p.detectionPower);
    p.fitDetectionPower = Flag(platform::AskYes(caption, "fit power coefficient?"));
    AskValue(p.detectionBaseline, "baseline for power law", caption);
    p.showTransformed = Flag(platform::AskYes(caption, "want to show transformed data (YES) or original (NO)?"));
    NonlinearDetectionTransform(p.detectionPower, p.detectionBaseline, p.showTransformed != 0);
    RequestRepaint(*this);
    return;
  }
  // Also when the data kind was refused: the scans must not keep the
  // transformed signals once nothing can switch them back.
  SwitchOffNonlinearDetection();
  p.useNonlinearDetection = p.fitDetectionPower = 0;
  CheckMenuPair(*this, 906, 908, false);
}

void SwitchOffNonlinearDetection() {
  FdsSignalParams& p = P();
  // The measured signals go back into the scans before the switch is off.
  if (p.useNonlinearDetection && p.transformShown) {
    p.showTransformed = 0;
    NonlinearDetectionTransform(p.appliedPower, p.appliedBaseline, false);
  }
}

void TXLAWindow::CmSortFluorescenceDataToDisk() {
  if (!CurrentDataTypeFlags().fluorescence || CurrentScanSet().count < 1) {
    // Loaded data of another kind are no fluorescence scans to sort.
    platform::Tell("Sort Fluorescence AUC data", CurrentScanSet().count < 1
                                                     ? "please load data"
                                                     : "please load fluorescence data: the data loaded are "
                                                       "not fluorescence scans");
    return;
  }
  const char* caption = "SORT FLUORESCENCE AUC DATA";
  if (!platform::AskYes(caption, "sort all data in this folder?")) {
    CopyLoadedFluorescenceFiles();
    PlaySoundOk();
    return;
  }
  FluorescenceSortOptions o;
  if (platform::AskYes(caption, "make list files?")) {
    o.makeLists = true;
    AskValue(o.tMin, "t min [sec]", caption);
    AskValue(o.tMax, "t max [sec]", caption);
    InputWholeNumber(&o.targetScans, o.targetScans, 0, kMaxTargetScans, "target # of scans", caption);
    InputWholeNumber(&o.excludedCell, o.excludedCell, 0, kMaxCellNumber, "exclude fluorescence reference in cell#",
                     caption);
  }
  if (platform::AskYes(caption, "exclude files with signal below thresold in [rmin rmax] interval?")) {
    o.thresholdFilter = true;
    AskValue(o.rMin, "r min [cm]", caption);
    AskValue(o.rMax, "r max [cm]", caption);
    AskValue(o.minSignal, "minimal signal", caption);
    AskValue(o.maxNoise, "maximal noise", caption);
  }
  CopySortedFluorescenceFiles(o);
  PlaySoundOk();
}
