// The sedimentation-equilibrium models of the Model menu (no menu items):
// the equilibrium analysis, and the hetero-association A + B <-> AB with
// start values derived from the mass action. Both fit the time-invariant
// and the radially-invariant noise.
#include "app/commands/model/model_commands_equilibrium.h"

#include <algorithm>
#include <cmath>

#include "app/commands/model/model_commands.h"
#include "app/window/txla_window.h"
#include "distributions/model_entries.h"
#include "data/scan_set.h"
#include "fit/clear_model_selection.h"
#include "fit/fit_engine_state.h"
#include "fit/model_ids.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/model_table.h"
#include "models/reacting/mass_action.h"
#include "platform/user_interface.h"

EquilibriumStartValues& StoredEquilibriumStartValues() {
  static EquilibriumStartValues v;
  return v;
}

namespace {

// The common part; false when the model was on already.
bool SelectEquilibrium(TXLAWindow& w, unsigned char ModelSelectorFlags::*own, int item) {
  ModelSelectorFlags& m = gModelSelectorFlags;
  if (ModelChosen(item)) return false;
  if (!CurrentScanSet().equilibriumMode) platform::Tell("Equilibrium Analysis", "please load equilibrium data");
  ClearSelectionForModel();
  m.*own = 1;
  w.CheckMenuItem(item, true);
  if (!ModelEntriesInPlace()) {
    gFitEngineState.fitTINoise = 1;
    gModelParams.riNoiseFit = 1;
  }
  return true;
}

}  // namespace

void TXLAWindow::CmEquilibriumModel284() {
  SelectEquilibrium(*this, &ModelSelectorFlags::EquilibriumModel284, kCmEquilibriumModel284);
}

void TXLAWindow::CmEquilibriumModel523() {
  if (!SelectEquilibrium(*this, &ModelSelectorFlags::EquilibriumModel523, kCmEquilibriumModel523)) return;
  if (ModelEntriesInPlace()) {
    UnpackModelParameters();
    return;
  }
  const EquilibriumStartValues& st = StoredEquilibriumStartValues();
  ModelParameterVector& v = gModelParameterVector;
  float* P = v.P;
  P[9] = st.concentration1;
  P[10] = st.concentration2;
  P[4] = st.massOrD4;
  P[12] = st.concentration4;
  P[1] = st.massOrD1;
  P[2] = st.massOrD2;
  for (int i = 5; i <= 7; ++i) {
    P[i] = 1.0f;
    v.F[i] = 0;
  }
  P[8] = st.s4;
  P[3] = P[1] + P[2];
  // A zero divisor gives no complex rather than a NaN start value.
  const double a = P[4] != 0 ? static_cast<double>(P[9]) / P[4] : 0.0;
  const double b = P[12] != 0 ? static_cast<double>(P[10]) / P[12] : 0.0;
  P[11] = static_cast<float>(SmallerComplexRoot(a, b, std::pow(10.0, static_cast<double>(P[8]))));
  UnpackModelParameters();
}
