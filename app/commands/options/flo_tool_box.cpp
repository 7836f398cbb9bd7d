// The fluorescence tool box: every correction of the fluorescence signal in
// one dialog. Values are shown in the units the user thinks in (% per hour,
// % of the initial signal, D in 1e-7 cm^2/s, ks itself) and stored as the
// solvers use them.
#include <cmath>

#include "app/commands/options/fluorescence_commands.h"
#include "app/window/txla_window.h"
#include "app/window/window_services.h"
#include "data/fluorescence_corrections.h"
#include "data/nonlinear_detection.h"
#include "data/scan_set.h"
#include "platform/error_box.h"
#include "platform/user_interface.h"

namespace {

struct Layout {
  int id;
  FormControl::Kind kind;
  const char* label;
  int row, column;
};

constexpr FormControl::Kind kCheck = FormControl::Kind::Check;
constexpr FormControl::Kind kEdit = FormControl::Kind::Edit;

// In the order of the dialog's transfer record. Each row: the use switch,
// the value (its label left of it) and the fit switch.
const Layout kLayout[] = {
    {613, kCheck, "", 1, 3},
    {612, kEdit, "1+da/dr", 1, 1},
    {615, kCheck, "with radial magnification gradient", 1, 0},
    {621, kCheck, "with temporal linear magnification drift", 2, 0},
    {620, kCheck, "", 2, 3},
    {614, kEdit, "% per h", 2, 1},
    {835, kCheck, "exponential photophysical intensity change", 3, 0},
    {834, kEdit, "rate (per h)", 3, 1},
    {450, kEdit, "limiting level %", 4, 1},
    {832, kCheck, "", 3, 3},
    {449, kCheck, "", 4, 3},
    {622, kCheck, "", 5, 3},
    {616, kEdit, "cm", 5, 1},
    {623, kCheck, "with excitation shadow", 5, 0},
    {624, kCheck, "", 6, 3},
    {617, kEdit, "cm", 6, 1},
    {619, kEdit, "calculate Gaussian within # std", 7, 1},
    {625, kCheck, "with radial convolution from detection cone", 6, 0},
    {626, kCheck, "with nonlinear detection", 8, 0},
    {618, kEdit, "power coefficient d(log(a))/dc", 8, 1},
    {627, kEdit, "baseline for tranform", 9, 1},
    {630, kCheck, "", 8, 3},
    {640, kCheck, "show transformed", 9, 3},
    {401, kCheck, "with JO depletion", 10, 0},
    {414, kEdit, "", 10, 1},
    {413, kEdit, "", 11, 1},
    {405, kEdit, "", 12, 1},
    {412, kEdit, "", 13, 1},
    {404, kCheck, "JO s (S)", 10, 3},
    {403, kCheck, "JO D", 11, 3},
    {402, kCheck, "JO amp", 12, 3},
    {409, kCheck, "JO ks", 13, 3},
};

// Checked in this order; the first failure keeps the dialog open.
struct Rule {
  int id;
  bool nonNegative;
};
const Rule kRules[] = {{612, false}, {834, true}, {614, false}, {450, true}, {616, true},
                       {617, true},  {619, true}, {618, true},  {414, true}, {413, true},
                       {405, true},  {412, true}, {627, false}};

bool ValidEntries(const FormDialog& d) {
  for (const Rule& r : kRules) {
    const FormControl* c = d.Find(r.id);
    const char* text = c ? c->text.c_str() : "";
    if (r.nonNegative ? IsNonNegativeNumber(text) : IsNumber(text)) continue;
    platform::UI().Beep();
    platform::Tell("Input Error", "Invalid Entry", platform::BoxIcon::Warning);
    return false;
  }
  return true;
}

std::uint8_t Flag(bool on) { return on ? 1 : 0; }
float F(const FormDialog& d, int id) { return static_cast<float>(d.Value(id)); }

// Nonlinear detection last: it may transform the scans at once.
void ApplyNonlinearDetection(const FormDialog& d, TXLAWindow& w) {
  FdsSignalParams& p = CurrentFdsSignalParams();
  const bool wanted = d.Ticked(626);
  if (wanted == (p.useNonlinearDetection != 0)) {
    const float power = DetectionPowerOfEntry(d.Value(618));
    const float baseline = F(d, 627);
    const bool show = d.Ticked(640);
    const bool changed =
        power != p.detectionPower || baseline != p.detectionBaseline || show != (p.showTransformed != 0);
    p.detectionPower = power;
    p.detectionBaseline = baseline;
    p.fitDetectionPower = Flag(d.Ticked(630));
    p.showTransformed = Flag(show);
    if (wanted) CheckMenuPair(w, 906, 908, true);
    if (changed) NonlinearDetectionTransform(power, baseline, show);
  } else if (wanted) {
    // The values beside the switch were not in force when they were typed;
    // the next visit of the box takes them.
    p.useNonlinearDetection = 1;
    CheckMenuPair(w, 906, 908, true);
  } else {
    SwitchOffNonlinearDetection();
    p.showTransformed = p.fitDetectionPower = p.useNonlinearDetection = 0;
    CheckMenuPair(w, 906, 908, false);
  }
}

}  // namespace

FormDialog FloToolBoxDialog() {
  const FdsSignalParams& p = CurrentFdsSignalParams();
  FormDialog d;
  d.templateId = 916;
  d.caption = "Tools For Fitting Fluorescence AUC data";
  for (const Layout& l : kLayout) {
    FormControl c;
    c.id = l.id;
    c.kind = l.kind;
    c.label = l.label;
    c.row = l.row;
    c.column = l.column;
    c.maxChars = 15;
    d.controls.push_back(c);
  }
  d.Tick(613, p.fitRadialGradient);
  d.Put(612, "%.4f", p.radialGradient);
  d.Tick(615, p.useRadialGradient);
  d.Tick(621, p.useLinearDrift);
  d.Tick(620, p.fitLinearDrift);
  d.Put(614, "%.4f", p.linearDrift * 100.0);
  d.Tick(835, p.useExponentialDrift);
  d.Put(834, "%.3f", p.driftRate);
  d.Put(450, "%.3f", p.limitingLevel * 100.0);
  d.Tick(832, p.fitDriftRate);
  d.Tick(449, p.fitLimitingLevel);
  d.Tick(622, p.fitConeRadius);
  d.Put(616, "%.4f", p.coneRadius);
  d.Tick(623, p.useShadow);
  d.Tick(624, p.fitConvolutionWidth);
  d.Put(617, "%.4f", p.convolutionWidth);
  d.Put(619, "%.4f", p.convolutionCutoff);
  d.Tick(625, p.useConvolution);
  d.Tick(626, p.useNonlinearDetection);
  d.Put(618, "%.4f", p.detectionPower);
  d.Put(627, "%.4f", p.detectionBaseline);
  d.Tick(630, p.fitDetectionPower);
  d.Tick(640, p.showTransformed);
  d.Tick(401, p.useDepletion);
  d.Put(414, "%.4f", p.depletionS);
  d.Put(413, "%.4f", p.depletionD * 1e7);
  d.Put(405, "%.4f", p.depletionAmplitude);
  d.Put(412, "%.5f", std::pow(10.0, p.depletionLogKs));
  d.Tick(404, p.fitDepletionS);
  d.Tick(403, p.fitDepletionD);
  d.Tick(402, p.fitDepletionAmplitude);
  d.Tick(409, p.fitDepletionKs);
  d.canClose = ValidEntries;
  return d;
}

void ApplyFloToolBox(const FormDialog& d, TXLAWindow& w) {
  FdsSignalParams& p = CurrentFdsSignalParams();
  p.useDepletion = Flag(d.Ticked(401));
  w.CheckMenuItem(925, p.useDepletion);
  p.depletionS = F(d, 414);
  p.depletionD = static_cast<float>(d.Value(413) * 1e-7);
  p.depletionAmplitude = F(d, 405);
  p.depletionLogKs = DepletionLogKsOfEntry(d.Value(412));
  p.fitDepletionS = Flag(d.Ticked(404));
  p.fitDepletionD = Flag(d.Ticked(403));
  p.fitDepletionAmplitude = Flag(d.Ticked(402));
  p.fitDepletionKs = Flag(d.Ticked(409));

  p.fitRadialGradient = Flag(d.Ticked(613));
  p.radialGradient = F(d, 612);
  p.useRadialGradient = Flag(d.Ticked(615));
  CheckMenuPair(w, 905, 907, p.useRadialGradient);

  p.useLinearDrift = Flag(d.Ticked(621));
  p.fitLinearDrift = Flag(p.useLinearDrift && d.Ticked(620));
  p.linearDrift = static_cast<float>(d.Value(614) * 0.01);
  p.useExponentialDrift = Flag(d.Ticked(835));
  p.driftRate = F(d, 834);
  p.limitingLevel = static_cast<float>(d.Value(450) * 0.01);
  p.fitDriftRate = Flag(p.useExponentialDrift && d.Ticked(832));
  p.fitLimitingLevel = Flag(p.useExponentialDrift && d.Ticked(449));
  p.useDrift = Flag(p.useLinearDrift || p.useExponentialDrift);
  CheckMenuPair(w, 909, 910, p.useDrift);

  p.fitConeRadius = Flag(d.Ticked(622));
  p.coneRadius = F(d, 616);
  p.useShadow = Flag(d.Ticked(623));
  CheckMenuPair(w, 913, 914, p.useShadow);

  p.fitConvolutionWidth = Flag(d.Ticked(624));
  p.convolutionWidth = F(d, 617);
  p.convolutionCutoff = F(d, 619);
  p.useConvolution = Flag(d.Ticked(625));
  CheckMenuPair(w, 911, 912, p.useConvolution);

  ApplyNonlinearDetection(d, w);
}

void TXLAWindow::CmFloToolBox() {
  if (!CurrentDataTypeFlags().fluorescence &&
      platform::UI().MessageBox("FloTools", "this is intended for fluorescence data - proceed anyway?",
                                platform::BoxButtons::YesNo, platform::BoxIcon::Question) != platform::IDYES)
    return;
  FormDialog d = FloToolBoxDialog();
  if (!RunFormDialog(d)) return;
  ApplyFloToolBox(d, *this);
  RequestRepaint(*this);
}
