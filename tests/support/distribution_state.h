#pragma once
// The continuous distributions' program-wide records as a fresh process has
// them: no distribution or work arrays of an earlier run, the settings, the
// run context, the regularisation and the ls-g*(s) extrapolation at their
// defaults.
#include "distributions/analysis/extrapolation_plot.h"
#include "distributions/analysis/lsgs_extrapolation.h"
#include "distributions/conti_context.h"
#include "distributions/conti_models.h"
#include "distributions/conti_parameters.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/regularization_scaling.h"
#include "distributions/work_blocks.h"

namespace teststate {

inline void ResetDistributionState() {
  FreeDistributionArrays();
  FreeDistributionWorkArrays(WorkBlock().gridPoints);
  FreeNormalEquationBlock(NeqBlock().gridPoints);
  FreeLsgsArrays();
  Lsgs() = LsgsRunState{};
  Conti() = ContiSettings{};
  ContiContext() = ContiRunContext{};
  ContiStore() = ContiModelStore{};
  Regularization() = RegularizationState{};
  LsgExtrapolation() = LsgExtrapolationSettings{};
}

}  // namespace teststate
