#include "distributions/conti_startup.h"

#include "distributions/conti_lamm_list.h"
#include "distributions/conti_lamm_pool.h"
#include "distributions/conti_parameters.h"

void ConnectContinuousDistributions() {
  RegisterContiParameterDerivation();
  SetLammListSolver(SolveContiSpeciesOnLammPool);
}
