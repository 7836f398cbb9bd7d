#pragma once
// The records of the reacting system A + B <-> AB (hetero_association.h):
// the model's values and the coefficients of a run in one state record
// (fit/hetero_association_record.h), the names of its per-node arrays inside
// LammGrid, and the amount a per-node array holds in the cell.
#include "fit/hetero_association_record.h"

// Names of the per-node arrays (1..N) inside LammGrid::ReactingArrays.
struct HeteroAssociationArrays {
  double *cA, *cB, *cAOld, *cBOld, *cAOlder, *cBOlder;
  double *fluxA, *fluxB, *cATmp, *cBTmp, *cAB, *avg, *rate;
  double *SASub, *SADiag, *SASup, *SBSub, *SBDiag, *SBSup;
  double* QK[7];  // pairs (j,k) = (i-1,i-1), (i-1,i), (i,i-1), (i,i), (i,i+1), (i+1,i), (i+1,i+1)
  double* TK[7];
  double* solve;  // scratch of the tridiagonal solver
};
// False when the grid holds no reacting arrays.
bool BindHeteroAssociationArrays(HeteroAssociationArrays& out);

// Amount (signal x cm^3) of a per-node array in a 2-degree sector of 1.2 cm.
double HeteroAssociationSectorAmount(const double* values);
