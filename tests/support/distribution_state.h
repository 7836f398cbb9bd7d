#pragma once
// The continuous distributions' program-wide records as a fresh process has
// them: no distribution or work arrays of an earlier run, the settings, the
// run context, the prior, the regularisation and the ls-g*(s) extrapolation settings
// at their defaults. (The boundary analyses' own records are their tests'.)
#include "distributions/conti_context.h"
#include "distributions/conti_models.h"
#include "distributions/conti_parameters.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/model_entries.h"
#include "distributions/prior_knowledge.h"
#include "distributions/regularization_scaling.h"
#include "distributions/work_blocks.h"

namespace teststate {

inline void ResetDistributionState() {
  FreeDistributionArrays();
  // A transform an earlier test left would refuse this test's integration
  // range (a run clears it; a test that builds its plot by hand does not).
  DistArrays().transformedToR = DistArrays().transformedToS20 = false;
  FreeDistributionWorkArrays(WorkBlock().gridPoints);
  FreeNormalEquationBlock();
  Conti() = ContiSettings{};
  Priors() = PriorKnowledge{};
  ContiContext() = ContiRunContext{};
  ContiStore() = ContiModelStore{};
  Regularization() = RegularizationState{};
  LsgExtrapolation() = LsgExtrapolationSettings{};
  ModelEntries() = ModelEntryBook{};
}

// The switches of a c(s) run as the tests want them: a linear grid made
// anew, one thread, one regularisation shown, no prior, neither messages nor
// drawing.
inline ContiSettings& QuietContiRun() {
  ContiSettings& cs = Conti();
  cs.logSpacedGrid = cs.gridFromFile = cs.useMinimumS = 0;
  cs.multipleThreads = 0;
  cs.showBothRegularizations = 0;
  cs.silent = cs.synthetic = 0;
  Priors().use = false;
  ContiContext().infoMessages = false;
  ContiContext().drawingEnabled = false;
  return cs;
}

}  // namespace teststate
