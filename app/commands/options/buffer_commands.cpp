#include "app/commands/options/buffer_commands.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/commands/model/wiener_skew_entries.h"
#include "app/window/txla_window.h"
#include "app/window/main_fit_host.h"
#include "data/load_hooks.h"
#include "data/scan_set.h"
#include "distributions/conti_fit_display.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_vector.h"
#include "fit/fluorescence_options.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/saved_params.h"
#include "fit/solvent_gradient.h"
#include "models/buffer/buffer_sedimentation.h"
#include "platform/error_box.h"
#include "platform/sounds.h"
#include "platform/user_interface.h"

namespace {

constexpr int kCommand = 552;

BufferSedSettings& B() { return gBufferSedSettings; }
bool MassParametrisation() { return gFitEngineState.molarMassParameters != 0; }

struct Layout {
  int id;
  FormControl::Kind kind;
  const char* label572;
  const char* label575;
  int row, column;
};

constexpr FormControl::Kind kCheck = FormControl::Kind::Check;
constexpr FormControl::Kind kEdit = FormControl::Kind::Edit;

const Layout kLayout[] = {
    {553, kCheck, "turn on buffer mismatch model", "turn on buffer mismatch model", 1, 0},
    {554, kCheck, "excess signal in sample side", "excess signal in sample side", 2, 0},
    {555, kCheck, "excess signal in reference side", "excess signal in reference side", 2, 2},
    {556, kEdit, "", "", 3, 0},
    {557, kCheck, "buffer D (sample side)", "buffer Mb (sample side)", 3, 2},
    {558, kEdit, "", "", 4, 0},
    {559, kCheck, "buffer s (sample side)", "buffer s (sample side)", 4, 2},
    {560, kEdit, "", "", 5, 0},
    {561, kCheck, "buffer signal", "buffer signal", 5, 2},
    {562, kCheck, "with meniscus mismatch", "with meniscus mismatch", 6, 0},
    {563, kEdit, "", "", 7, 0},
    {564, kCheck, "float meniscus difference (s-r)", "meniscus difference (s-r)", 7, 2},
    {565, kEdit, "", "", 8, 0},
    {566, kCheck, "relative concentration s/r", "relative concentration s/r", 8, 2},
    {567, kCheck, "different buffer in reference", "different buffer in reference", 9, 0},
    {568, kEdit, "", "", 10, 0},
    {569, kCheck, "reference D", "reference Mb", 10, 2},
    {570, kEdit, "", "", 11, 0},
    {571, kCheck, "reference s", "reference s", 11, 2},
};

// The buffer masses of template 575 must not be negative; the D of 572 is
// taken as its magnitude, so a negative one is only mistyped, not invalid.
bool ValidEntries(const FormDialog& d) {
  for (int id : {556, 568, 558, 560, 563, 565, 570}) {
    const FormControl* c = d.Find(id);
    const char* text = c ? c->text.c_str() : "";
    const bool size = id == 556 || id == 568;
    const bool ok = size && d.templateId == 575 ? IsNonNegativeNumber(text) : IsNumber(text);
    if (ok) continue;
    PlaySoundInfo();
    platform::Tell("Input Error", "Invalid Entry", platform::BoxIcon::Error);
    return false;
  }
  return true;
}

void Apply(const FormDialog& d) {
  BufferSedSettings& b = B();
  const bool mass = MassParametrisation();
  b.BufferSedOn = d.Ticked(553);
  if (mass)
    b.SampleBufferMb = d.Value(556);
  else
    b.SampleBufferD = std::fabs(d.Value(556));
  b.FloatSampleD = d.Ticked(557);
  b.SampleBufferS = d.Value(558);
  b.FloatSampleS = d.Ticked(559);
  b.BufferSignal = d.Value(560);
  b.ExcessInReference = b.BufferSignal < 0.0;
  if (b.ExcessInReference) b.BufferSignal = -b.BufferSignal;
  b.SignalSign = b.ExcessInReference ? -1.0 : 1.0;
  b.ExcessInSample = !b.ExcessInReference;
  b.FloatBufferSignal = d.Ticked(561);
  b.MeniscusMismatch = d.Ticked(562);
  b.MeniscusDifference = d.Value(563);
  b.FloatMeniscusDifference = d.Ticked(564);
  b.RelativeConcentration = d.Value(565);
  b.FloatRelativeConcentration = d.Ticked(566);
  b.DifferentReferenceBuffer = d.Ticked(567);
  if (mass)
    b.ReferenceBufferMb = d.Value(568);
  else
    b.ReferenceBufferD = std::fabs(d.Value(568));
  b.FloatReferenceD = d.Ticked(569);
  b.ReferenceBufferS = d.Value(570);
  b.FloatReferenceS = d.Ticked(571);
  if (!b.MeniscusMismatch) b.FloatMeniscusDifference = b.FloatRelativeConcentration = false;
  if (!b.DifferentReferenceBuffer) b.FloatReferenceD = b.FloatReferenceS = false;
}

// Mb or D of the other parametrisation, from the one entered.
void DeriveSizes(double rt) {
  BufferSedSettings& b = B();
  if (!MassParametrisation()) {
    b.SampleBufferMb = b.SampleBufferD > 0 ? 1e-6 * b.SampleBufferS * rt / b.SampleBufferD : 0.0;
    b.ReferenceBufferMb =
        b.ReferenceBufferD > 0 ? 1e-6 * b.ReferenceBufferS * rt / b.ReferenceBufferD : 0.0;
    return;
  }
  // An Mb of 0 would divide by zero: it is raised to the 10 g/mol that every
  // evaluation would make of it anyway.
  for (double* mb : {&b.SampleBufferMb, &b.ReferenceBufferMb})
    if (*mb == 0.0) *mb = 10.0;
  b.SampleBufferD = 1e-6 * std::fabs(b.SampleBufferS) * rt / std::fabs(b.SampleBufferMb);
  b.ReferenceBufferD = 1e-6 * std::fabs(b.ReferenceBufferS) * rt / std::fabs(b.ReferenceBufferMb);
  if ((b.SampleBufferS < 0) != (b.SampleBufferMb < 0)) b.SampleBufferS = -b.SampleBufferS;
}

}  // namespace

FormDialog BufferSedimentationDialog() {
  const BufferSedSettings& b = B();
  const bool mass = MassParametrisation();
  FormDialog d;
  d.templateId = mass ? 575 : 572;
  d.caption = "Buffer Mismatch";
  for (const Layout& l : kLayout) {
    FormControl c;
    c.id = l.id;
    c.kind = l.kind;
    c.label = mass ? l.label575 : l.label572;
    c.row = l.row;
    c.column = l.column;
    c.maxChars = 15;
    c.enabled = l.id != 554 && l.id != 555;
    d.controls.push_back(c);
  }
  d.Tick(553, b.BufferSedOn);
  d.Put(556, "%.3f ", mass ? b.SampleBufferMb : b.SampleBufferD);
  d.Tick(557, b.FloatSampleD);
  d.Put(558, "%.4f ", b.SampleBufferS);
  d.Tick(559, b.FloatSampleS);
  d.Put(560, "%.3f ", b.ExcessInSample ? b.BufferSignal : -b.BufferSignal);
  d.Tick(561, b.FloatBufferSignal);
  d.Tick(562, b.MeniscusMismatch);
  d.Put(563, "%.4f ", b.MeniscusDifference);
  d.Tick(564, b.FloatMeniscusDifference);
  d.Put(565, "%.3f ", b.RelativeConcentration);
  d.Tick(566, b.FloatRelativeConcentration);
  d.Tick(567, b.DifferentReferenceBuffer);
  d.Put(568, "%.3f ", mass ? b.ReferenceBufferMb : b.ReferenceBufferD);
  d.Tick(569, b.FloatReferenceD);
  d.Put(570, "%.4f ", b.ReferenceBufferS);
  d.Tick(571, b.FloatReferenceS);
  d.canClose = ValidEntries;
  return d;
}

void RunBufferSedimentationDialog(TXLAWindow& window) {
  (void)window;
  FormDialog d = BufferSedimentationDialog();
  if (!RunFormDialog(d)) return;
  Apply(d);
  double rt = 8.31451e7 * gSolutionConditions.temperature;
  if (CurrentScanSet().count < 1) {
    rt = kBufferDefaultRT;
    platform::Tell("", "assuming t = 20 'C", platform::BoxIcon::None);
  }
  DeriveSizes(rt);
  const bool tiAndRi = gFitEngineState.fitTINoise && gModelParams.riNoiseFit;
  if (gModelSelectorFlags.DistributionModel && !B().FloatBufferSignal && !tiAndRi) {
    platform::Tell("Attention",
                   "fixed buffer concentration in c(s) only implemented with TI and RI noise - floating c now");
    B().FloatBufferSignal = true;
  }
}

void TXLAWindow::CmBufferSedimentation() {
  BufferSedSettings& b = B();
  if (gModelSelectorFlags.AnyCsff0Model()) {
    PlaySoundInfo();
    platform::Tell("ERROR", "c(s,ff0) model does not work in buffer mismatch mode");
    return;
  }
  const bool wasOn = b.BufferSedOn;
  b.BufferSedWasOn = wasOn;
  const bool floatedBefore = b.FloatBufferSignal;
  const bool mismatchBefore = b.MeniscusMismatch;
  RunBufferSedimentationDialog(*this);
  const bool switchedOn = b.BufferSedOn && !wasOn;
  if (switchedOn && !CheckBufferSedimentationModel()) b.BufferSedOn = false;
  if (b.BufferSedOn && (b.FloatBufferSignal != floatedBefore || switchedOn))
    ApplyBufferSedimentationToFitFlags();
  if (!b.BufferSedOn && wasOn) SetBufferSedimentationMenuCheck();
  CheckMenuItem(kCommand, b.BufferSedOn);
  // A changed mismatch moves the curves: the zoom of the old ones goes.
  if (b.BufferSedOn && b.MeniscusMismatch != mismatchBefore) CmFullRange();
  PublishBufferSedimentation();
}

namespace {

// The fit engine's option entries of the records above it.
void ProvideFitOptions(FitOptionEntries& entries) {
  ProvideWienerFitOptions(entries);
  ProvideFluorescenceFitOptions(entries);
  ProvideBufferFitOptions(entries);
  ProvideSolventFitOptions(entries);
}

}  // namespace

void ConnectBufferSedimentation(TXLAWindow& window) {
  TXLAWindow* w = &window;
  CurrentBufferSedHooks().checkMenuItem = [w](bool on) { w->CheckMenuItem(kCommand, on); };

  InstallBufferSedimentationHooks([] { return static_cast<FitHost*>(MainFitHost()); });

  LoadHooks& l = CurrentLoadHooks();
  l.bufferSedimentationOn = [] { return gBufferSedSettings.BufferSedOn; };
  l.updateBufferSedimentation = [](bool subtract) {
    if (subtract)
      SubtractBufferSedimentationFromData(MainFitHost());
    else
      UpdateBufferSedimentation(MainFitHost());
  };
  l.switchOffBufferSedimentation = [] { SwitchOffBufferSedimentation(); };

  SetFitOptionProvider(ProvideFitOptions);
  // The running c(s) fit's text shows the buffer and, next to it, the
  // inhomogeneous solvent's apparent vbar: both records live up here.
  ContiFitDisplay().bufferComponentLine = BufferComponentDisplayLine;
  ContiFitDisplay().apparentVbar = [](float* apparent) {
    const SolventGradientSettings& sg = CurrentSolventGradientSettings();
    if (!sg.UseInhomogeneousSolvent || !sg.DynamicGradient) return false;
    *apparent = sg.EffectiveVbar;
    return true;
  };

  SavedParamsHooks& s = CurrentSavedParamsHooks();
  s.getBufferValue = BufferSavedValue;
  s.setBufferValue = SetBufferSavedValue;
  s.afterReload = AfterBufferReload;
}

void DisconnectBufferSedimentation() {
  // The menu hook holds the window.
  CurrentBufferSedHooks() = BufferSedHooks{};
  ContiFitDisplay().bufferComponentLine = nullptr;
  ContiFitDisplay().apparentVbar = nullptr;
  SavedParamsHooks& s = CurrentSavedParamsHooks();
  s.getBufferValue = nullptr;
  s.setBufferValue = nullptr;
  s.afterReload = nullptr;
}
