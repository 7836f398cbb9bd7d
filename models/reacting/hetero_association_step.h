#pragma once
// The finite-element core of the reacting system A + B <-> AB (see
// hetero_association.h for the equations). Hat functions phi_1..phi_N on the
// node radii; the free concentrations are nodal values, the complex K a b
// enters both equations through two three-index tensors, so that each
// component's equation is linear in its own free concentration once the
// partner's is given:
//
//   (M + QK(., b)) da/dt + (S_A + TK(., b) + QK(., db/dt)) a = 0
//
//   M_ij     = int phi_i phi_j r dr                     (mass, halved)
//   S_X,ij   = D_X int phi_i' phi_j' r dr - w^2 s_X int phi_i' phi_j r^2 dr   (halved)
//   QK_ijk   = K int phi_i phi_j phi_k r dr
//   TK_ijk   = K (D_AB int phi_i' (phi_j phi_k)' r dr - w^2 s_AB int phi_i' phi_j phi_k r^2 dr)
//
// A step solves a with b given and b with a given by Crank-Nicolson, first
// with the partner at the step start (predictor), then with the partner's
// provisional values (corrector), the half of the free-species terms that is
// not implicit replaced by the mean transport residual ("flux") of A and B,
// which local equilibrium makes equal. Corrector passes repeat, each moving
// the flux term two thirds of the way to its own new fluxes, until neither
// free concentration moves by more than 1e-6 of the loading total; a step
// that has not settled after 50 passes sets the discretisation flag and
// keeps the concentrations of its start.
// A tridiagonal matrix is three arrays over rows 1..N: sub[i] = (i, i-1),
// diag[i] = (i, i), sup[i] = (i, i+1).

struct Tridiagonal {
  double* sub;
  double* diag;
  double* sup;
};

// M, S_A, S_B and the two tensors on the current radii; then M, S_A and S_B
// are halved (the tensors keep their full values).
void AssembleHeteroAssociationMatrices();
void HalveHeteroAssociationMatrices();
// out = S (x + y)/2 + M (x - y)/h; 0 when h = 0.
void ComputeHeteroAssociationFlux(double* out, const double* x, const double* y, double h, Tridiagonal S);
// out = M + QK(., xbar), xbar = (x + y)/2, or x when y is null.
void BuildHeteroAssociationMassMatrix(Tridiagonal out, const double* x, const double* y);
// out = S + TK(., xbar) + QK(., (v - u)/h) (no rate term when h = 0).
void BuildHeteroAssociationStiffnessMatrix(Tridiagonal out, const double* x, const double* y, const double* u,
                                           const double* v, double h, Tridiagonal S);
// out = A + h B.
void CombineTridiagonals(Tridiagonal A, Tridiagonal B, double h, Tridiagonal out, int N);
// y += (A + h B) x.
void AddCombinedTridiagonalProduct(Tridiagonal A, Tridiagonal B, double h, const double* x, double* y, int N);
// Thomas algorithm with the grid's work vector; false (the singular-matrix
// flag set, "Error 1 in tridag" or "Error 2 in tridag" shown, out as it
// was) when a pivot is zero or not finite.
bool TridagHeteroAssociation(const double* sub, const double* diag, const double* sup, const double* rhs,
                             double* out, int N);
// One coupled step of length dt = the run state's current step. On a
// singular matrix the free concentrations of the step start stay.
void HeteroAssociationStep();
