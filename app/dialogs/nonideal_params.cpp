#include "app/dialogs/nonideal_params.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <utility>

#include "data/scan_set.h"
#include "distributions/hydrodynamics.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "lamm/coefficients/nonideal_coefficients.h"
#include "platform/error_box.h"

namespace {
constexpr int kHinderedTemplate = 1101, kHardSphereCsTemplate = 1102;
constexpr int kStickyBox1101 = 411, kStickyBox1102 = 445;

int State(const ParamsTransfer& b, int id) {
  const auto it = b.states.find(id);
  return it == b.states.end() ? 0 : it->second;
}
}  // namespace

void ShowHinderedSedimentationFields(ParamsTransfer& b) {
  const float* P = gModelParameterVector.P;
  const SolutionConditions& sc = gSolutionConditions;
  const float k = std::fabs(P[10]), tau = std::fabs(P[11]);
  b.texts[EditForSlot(10)] = FormatField("%.3f", k);
  b.texts[EditForSlot(11)] = FormatField("%.3f", tau);
  // The Svedberg relation is symmetric in D and M: given D0 it yields M
  // (in the M-and-s form the entry is M0 itself).
  const float M = gFitEngineState.molarMassParameters ? P[1] : DFromSM(P[5], P[1] * 1e-7f, 20.0f);
  b.texts[EditForSlot(7)] = FormatField("%.1f", M / 1000.0);
  const float ff0 = Ff0FromMS(M, P[5], sc.vbar, sc.density, sc.viscosity);
  b.texts[EditForSlot(12)] = FormatField("%.3f", ff0);
  const double signal = CurrentScanSet().signalPerConcentration;
  const float load = static_cast<float>(signal > 0 ? P[9] / signal : P[9]);
  b.texts[EditForSlot(4)] = FormatField("%.3f", HydrodynamicVolumeFraction(load, k, ff0, sc.vbar));
  b.texts[EditForSlot(6)] = FormatField("%.3f", HardSphereCorrectionFactor(tau));
  b.texts[EditForSlot(3)] = FormatField("%.5f", sc.vbar);
  b.states[kStickyBox1101] = StickyHardSphereFlag != 0;
}

void TakeHardSphereOptions(int templateId, const ParamsTransfer& b) {
  int box = 0;
  if (templateId == kHinderedTemplate) box = kStickyBox1101;
  if (templateId == kHardSphereCsTemplate) box = kStickyBox1102;
  if (box == 0) return;
  StickyHardSphereFlag = State(b, box) ? 1 : 0;
  if (templateId == kHinderedTemplate) {
    // The box stands beside a value computed for display, never fitted.
    ModelParams& mp = gModelParams;
    mp.sFit[2] = 0;
    mp.massOrDFit[4] = 0;
  }
}

namespace {
// Term j (1-based): its edit and its check box.
constexpr int kTermEdit[11] = {0, 439, 420, 443, 414, 413, 428, 426, 421, 427, 438};
constexpr int kTermBox[11] = {0, 401, 423, 442, 411, 418, 446, 422, 445, 415, 408};
constexpr int kSyntheticBoundaryBox = 424;

std::map<int, int>& KeptBoxStates() {
  static std::map<int, int> kept;
  return kept;
}

float Value(const ParamsTransfer& b, int id) {
  const auto it = b.texts.find(id);
  return it == b.texts.end() ? 0.0f : static_cast<float>(std::atof(it->second.c_str()));
}
}  // namespace

void ShowNonidealTerms(ParamsTransfer& b) {
  const ModelParams& mp = gModelParams;
  std::map<int, int>& kept = KeptBoxStates();
  kept.clear();
  for (int j = 1; j <= kNonidealTerms; ++j) {
    kept[kTermBox[j]] = State(b, kTermBox[j]);
    b.texts[kTermEdit[j]] = FormatField("%.5f", mp.nonidealTerm[j]);
    b.states[kTermBox[j]] = mp.nonidealTermFit[j] != 0;
  }
  kept[kSyntheticBoundaryBox] = State(b, kSyntheticBoundaryBox);
  b.states[kSyntheticBoundaryBox] = mp.syntheticBoundary != 0;
}

void PlaceNonidealTermBoxes(std::vector<FormControl>& controls) {
  auto find = [&](int id) -> FormControl* {
    for (FormControl& c : controls)
      if (c.id == id) return &c;
    return nullptr;
  };
  auto isTermBox = [](int id) { return std::find(std::begin(kTermBox) + 1, std::end(kTermBox), id) != std::end(kTermBox); };
  // The overlay fractions of the synthetic boundary borrow fields no label
  // of the template names (one of them the solver's "Tolerance"): they are
  // shown, and named, for the user to enter.
  for (const auto& [term, label] : {std::pair{2, "overlay fraction 1"}, std::pair{6, "overlay fraction 2"},
                                    std::pair{10, "overlay fraction 3"}})
    if (FormControl* edit = find(kTermEdit[term])) {
      edit->visible = true;
      edit->label = label;
    }
  for (int j = 1; j <= kNonidealTerms; ++j) {
    FormControl* edit = find(kTermEdit[j]);
    FormControl* box = find(kTermBox[j]);
    if (!edit || !box) continue;
    box->visible = edit->visible;
    box->row = edit->row;
    box->column = edit->column + 2;
    box->label = "fit";
    for (FormControl& c : controls)
      if (c.visible && c.kind == FormControl::Kind::Check && !isTermBox(c.id) && c.row == box->row &&
          c.column == box->column)
        c.visible = false;
  }
  if (FormControl* synthetic = find(kSyntheticBoundaryBox)) {
    // (The first row, which the term boxes left.)
    synthetic->visible = true;
    synthetic->label = "with synthetic boundary";
    synthetic->row = 1;
    synthetic->column = 0;
  }
}

void TakeNonidealTerms(ParamsTransfer& b) {
  ModelParams& mp = gModelParams;
  for (int j = 1; j <= kNonidealTerms; ++j) {
    mp.nonidealTerm[j] = Value(b, kTermEdit[j]);
    mp.nonidealTermFit[j] = static_cast<unsigned char>(State(b, kTermBox[j]));
  }
  mp.syntheticBoundary = State(b, kSyntheticBoundaryBox) ? 1 : 0;
  for (const auto& [box, state] : KeptBoxStates()) b.states[box] = state;
  AssociationModelParams& as = gAssociationModelParams;
  auto ask = [&](int k, const char* prompt, const char* title) {
    float answer = as.extinction[k];
    if (InputFloat(&answer, as.extinction[k], true, prompt, title)) as.extinction[k] = answer;
  };
  if (mp.nonidealTerm[3] > 0) {
    ask(1, "extinction species 1:", "NONIDEAL COMPONENT 1");
    ask(2, "extinction species 2:", "NONIDEAL COMPONENT 2");
  }
  if (mp.nonidealTerm[7] > 0) ask(3, "extinction species 3:", "NONIDEAL COMPONENT 3");
}
