#include "models/reacting/hetero_association_state.h"

#include "fit/lamm_grid.h"
#include "lamm/element_integrals.h"
#include "numerics/constants.h"

bool BindHeteroAssociationArrays(HeteroAssociationArrays& out) {
  LammGrid& g = CurrentLammGrid();
  if (!g.GridAllocated || !g.ReactingArrays[0] || !g.ReactingArrays[33]) return false;
  double** r = g.ReactingArrays;
  double** named[] = {&out.cA,    &out.cB,    &out.cAOld,  &out.cBOld,  &out.cAOlder, &out.cBOlder, &out.fluxA,
                      &out.fluxB, &out.cATmp, &out.cBTmp,  &out.cAB,    &out.avg,     &out.rate,    &out.SASub,
                      &out.SADiag, &out.SASup, &out.SBSub, &out.SBDiag, &out.SBSup};
  int k = 0;
  for (double** p : named) *p = r[k++];
  for (double*& p : out.QK) p = r[k++];
  for (double*& p : out.TK) p = r[k++];
  out.solve = r[k];
  return true;
}

double HeteroAssociationSectorAmount(const double* values) {
  const LammGrid& g = CurrentLammGrid();
  const int N = g.AllocatedGridSize;
  const double* xi = g.FrameRadius ? g.FrameRadius : g.Radius;
  double sum = 0;
  for (int i = 1; i <= N; ++i) sum += values[i] * CalcElementIntegral1(xi, N, i);
  return kSectorFactor * sum;
}
