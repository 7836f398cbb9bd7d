#pragma once
// The fit layer's program-wide records as a fresh process has them: the
// model switches, the parameter records, the solution conditions, the
// association models and the fit engine's state, with no parameter
// derivations registered (the layers above register theirs when they are
// connected, as the window does when it is made). The Lamm solver's grid
// goes with them: arrays sized for an earlier test's settings are kept by
// the next allocation, whatever the settings of this one.
#include "fit/amplitudes.h"
#include "fit/fit_engine_state.h"
#include "fit/lamm_grid.h"
#include "lamm/lamm_grid_arrays.h"
#include "lamm/lamm_run_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"

namespace teststate {

inline void ResetFitState() {
  gModelSelectorFlags = ModelSelectorFlags{};
  gModelParams = ModelParams{};
  gModelParameterVector = ModelParameterVector{};
  gSolutionConditions = SolutionConditions{};
  gAssociationModelParams = AssociationModelParams{};
  gFitEngineState = FitEngineState{};
  ClearParameterDerivations();
  FreeLammArrays();
  // The cosolute's arrays with their sizes: a second component an earlier
  // test switched on would give this test's arrays another shape.
  FreeCosoluteArrays();
  CurrentCosoluteArrays() = CosoluteArrays{};
  CurrentLammRunState() = LammRunState{};
  gFirstSimulatedScan = 1;
}

}  // namespace teststate
