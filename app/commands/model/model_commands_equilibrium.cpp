// The sedimentation-equilibrium models of the Model menu (no menu items):
// the equilibrium analysis, and the hetero-association A + B <-> AB (their
// starts, which fit the time-invariant and the radially-invariant noise and
// derive the complex from the mass action, are their rows').
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
#include "lamm/coefficients/mass_action.h"
#include "platform/user_interface.h"

namespace {

// The common part.
void SelectEquilibrium(TXLAWindow& w, unsigned char ModelSelectorFlags::*own, int item) {
  ModelSelectorFlags& m = gModelSelectorFlags;
  if (!CurrentScanSet().equilibriumMode) platform::Tell("Equilibrium Analysis", "please load equilibrium data");
  ClearSelectionForModel();
  m.*own = 1;
  w.CheckMenuItem(item, true);
}

}  // namespace

void TXLAWindow::CmEquilibriumModel284() {
  SelectEquilibrium(*this, &ModelSelectorFlags::EquilibriumModel284, kCmEquilibriumModel284);
}

void TXLAWindow::CmEquilibriumModel523() {
  SelectEquilibrium(*this, &ModelSelectorFlags::EquilibriumModel523, kCmEquilibriumModel523);
  UnpackModelParameters();
}
