#include "distributions/conti_startup.h"

#include "distributions/conti_lamm_list.h"
#include "distributions/conti_lamm_pool.h"
#include "distributions/conti_parameters.h"
#include "distributions/sharp_boundary.h"
#include "fit/model_evaluation.h"

void ConnectContinuousDistributions() {
  RegisterContiParameterDerivation();
  SetLammListSolver(SolveContiSpeciesOnLammPool);
  CurrentModelEvaluationHooks().sharpBoundaryCurve = SpeciesSharpBoundaryCurve;
}
