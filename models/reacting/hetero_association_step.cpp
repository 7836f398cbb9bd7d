#include "models/reacting/hetero_association_step.h"

#include <algorithm>
#include <cmath>

#include "fit/lamm_grid.h"
#include "lamm/lamm_run_state.h"
#include "lamm/element_integrals.h"
#include "lamm/lamm_settings.h"
#include "models/reacting/hetero_association_flux_table.h"
#include "models/reacting/hetero_association_state.h"
#include "platform/error_box.h"

namespace {

constexpr int kMaxCorrectorPasses = 50;
constexpr double kPassTolerance = 1e-6;  // of the loading total a + b
// Share of a pass's new fluxes in the flux term of the next pass. Without
// relaxation (1) the passes contract like the binding: with weak binding a
// change common to both fluxes comes back with the opposite sign at full
// size and the passes never settle. The contraction factors of the plain
// passes lie in [-1, 0]; 2/3 maps them into [-1/3, 1/3].
constexpr double kFluxRelaxation = 2.0 / 3.0;

// The radii the element integrals read (the frame copy when there is one).
const double* IntegralRadii(const LammGrid& g) { return g.FrameRadius ? g.FrameRadius : g.Radius; }

Tridiagonal Mass(LammGrid& g) { return {g.MassSub, g.MassDiag, g.MassSuper}; }

// out += X(., x) over the stored index pairs of each row.
void ApplyTensor(double* const X[7], const double* x, Tridiagonal out, int N) {
  for (int i = 1; i <= N; ++i) {
    const double xm = i > 1 ? x[i - 1] : 0.0;
    const double xp = i < N ? x[i + 1] : 0.0;
    const double xi = x[i];
    if (i > 1) out.sub[i] += X[0][i] * xm + X[1][i] * xi;
    out.diag[i] += X[2][i] * xm + X[3][i] * xi + X[4][i] * xp;
    if (i < N) out.sup[i] += X[5][i] * xi + X[6][i] * xp;
  }
}

// (x + y)/2 in the average scratch, or x itself when there is no y.
const double* Midpoint(const HeteroAssociationArrays& a, const double* x, const double* y, int N) {
  if (!y) return x;
  for (int i = 1; i <= N; ++i) a.avg[i] = (x[i] + y[i]) * 0.5;
  return a.avg;
}

void CopyTridiagonal(Tridiagonal from, Tridiagonal to, int N) {
  for (int i = 1; i <= N; ++i) {
    to.sub[i] = from.sub[i];
    to.diag[i] = from.diag[i];
    to.sup[i] = from.sup[i];
  }
}

// One species' Crank-Nicolson system from the effective matrices in the
// grid's two work sets M, S: the matrix M + dt/2 S and the part of the
// right-hand side that stays over the passes, (M - dt/2 S) x0.
struct SpeciesSystem {
  Tridiagonal matrix;
  double* fixedRhs;
};

void FormSpeciesSystem(LammGrid& g, const double* x0, double dt, int N, SpeciesSystem out) {
  const Tridiagonal Meff{g.StiffnessNewSub, g.StiffnessNewDiag, g.StiffnessNewSuper};
  const Tridiagonal Seff{g.StiffnessOldSub, g.StiffnessOldDiag, g.StiffnessOldSuper};
  for (int i = 1; i <= N; ++i) out.fixedRhs[i] = 0;
  AddCombinedTridiagonalProduct(Meff, Seff, -0.5 * dt, x0, out.fixedRhs, N);
  CombineTridiagonals(Meff, Seff, 0.5 * dt, out.matrix, N);
}

// (M + dt/2 S) x = (M - dt/2 S) x0 - dt/2 (fluxA + fluxB).
bool SolveSpecies(LammGrid& g, const SpeciesSystem& sys, const double* fluxSum, double* target, double dt, int N) {
  double* rhs = g.RightHandSide;
  for (int i = 1; i <= N; ++i) rhs[i] = sys.fixedRhs[i] - 0.5 * dt * fluxSum[i];
  return TridagHeteroAssociation(sys.matrix.sub, sys.matrix.diag, sys.matrix.sup, rhs, target, N);
}

double MeanFluxDifference(const HeteroAssociationArrays& h, int N) {
  double sum = 0;
  for (int i = 1; i <= N; ++i) sum += std::fabs(h.fluxA[i] - h.fluxB[i]);
  return sum / N;
}

}  // namespace

void AssembleHeteroAssociationMatrices() {
  LammGrid& g = CurrentLammGrid();
  HeteroAssociationArrays h;
  if (!BindHeteroAssociationArrays(h)) return;
  const HeteroAssociationState& st = CurrentHeteroAssociationState();
  const int N = g.AllocatedGridSize;
  const double* xi = IntegralRadii(g);
  const double w2 = st.omega2;
  const Tridiagonal M = Mass(g);
  const Tridiagonal SA{h.SASub, h.SADiag, h.SASup}, SB{h.SBSub, h.SBDiag, h.SBSup};
  auto stiffness = [&](int i, int j, double D, double s) {
    double v = D * CalcElementIntegral2J(xi, N, i, j) - w2 * s * CalcElementIntegral2K(xi, N, i, j);
    if (st.sFrame != 0) v += w2 * st.sFrame * CalcElementIntegral2L(xi, N, i, j);
    return v;
  };
  for (int i = 1; i <= N; ++i) {
    for (int j = std::max(1, i - 1); j <= std::min(N, i + 1); ++j) {
      const double m = CalcElementIntegral2I(xi, N, i, j);
      const double a = stiffness(i, j, st.runDA, st.sA);
      const double b = stiffness(i, j, st.runDB, st.sB);
      if (j == i - 1) {
        M.sub[i] = m, SA.sub[i] = a, SB.sub[i] = b;
      } else if (j == i) {
        M.diag[i] = m, SA.diag[i] = a, SB.diag[i] = b;
      } else {
        M.sup[i] = m, SA.sup[i] = a, SB.sup[i] = b;
      }
    }
    static const int dj[7] = {-1, -1, 0, 0, 0, 1, 1};
    static const int dk[7] = {-1, 0, -1, 0, 1, 0, 1};
    for (int p = 0; p < 7; ++p) {
      const int j = i + dj[p], k = i + dk[p];
      if (j < 1 || j > N || k < 1 || k > N) {
        h.QK[p][i] = h.TK[p][i] = 0;
        continue;
      }
      h.QK[p][i] = st.K * CalcElementIntegral3D(xi, N, i, j, k);
      double t = st.runDAB * CalcElementIntegral3E(xi, N, i, j, k) -
                 w2 * st.sAB * CalcElementIntegral3A(xi, N, i, j, k);
      if (st.sFrame != 0) t += w2 * st.sFrame * CalcElementIntegral3C(xi, N, i, j, k);
      h.TK[p][i] = st.K * t;
    }
  }
}

void HalveHeteroAssociationMatrices() {
  LammGrid& g = CurrentLammGrid();
  HeteroAssociationArrays h;
  if (!BindHeteroAssociationArrays(h)) return;
  const int N = g.AllocatedGridSize;
  double* arrays[9] = {g.MassSub, g.MassDiag, g.MassSuper, h.SASub, h.SADiag, h.SASup, h.SBSub, h.SBDiag, h.SBSup};
  for (double* a : arrays)
    for (int i = 1; i <= N; ++i) a[i] *= 0.5;
}

void ComputeHeteroAssociationFlux(double* out, const double* x, const double* y, double h, Tridiagonal S) {
  LammGrid& g = CurrentLammGrid();
  HeteroAssociationArrays a;
  if (!BindHeteroAssociationArrays(a)) return;
  const int N = g.AllocatedGridSize;
  if (h == 0) {
    for (int i = 1; i <= N; ++i) out[i] = 0;
    return;
  }
  for (int i = 1; i <= N; ++i) {
    a.avg[i] = (x[i] + y[i]) * 0.5;
    a.rate[i] = (x[i] - y[i]) / h;
  }
  const Tridiagonal M = Mass(g);
  for (int i = 1; i <= N; ++i) {
    double v = S.diag[i] * a.avg[i] + M.diag[i] * a.rate[i];
    if (i > 1) v += S.sub[i] * a.avg[i - 1] + M.sub[i] * a.rate[i - 1];
    if (i < N) v += S.sup[i] * a.avg[i + 1] + M.sup[i] * a.rate[i + 1];
    out[i] = v;
  }
}

void BuildHeteroAssociationMassMatrix(Tridiagonal out, const double* x, const double* y) {
  LammGrid& g = CurrentLammGrid();
  HeteroAssociationArrays a;
  if (!BindHeteroAssociationArrays(a)) return;
  const int N = g.AllocatedGridSize;
  CopyTridiagonal(Mass(g), out, N);
  ApplyTensor(a.QK, Midpoint(a, x, y, N), out, N);
}

void BuildHeteroAssociationStiffnessMatrix(Tridiagonal out, const double* x, const double* y, const double* u,
                                           const double* v, double h, Tridiagonal S) {
  LammGrid& g = CurrentLammGrid();
  HeteroAssociationArrays a;
  if (!BindHeteroAssociationArrays(a)) return;
  const int N = g.AllocatedGridSize;
  CopyTridiagonal(S, out, N);
  ApplyTensor(a.TK, Midpoint(a, x, y, N), out, N);
  if (h == 0) return;
  for (int i = 1; i <= N; ++i) a.rate[i] = (v[i] - u[i]) / h;
  ApplyTensor(a.QK, a.rate, out, N);
}

void CombineTridiagonals(Tridiagonal A, Tridiagonal B, double h, Tridiagonal out, int N) {
  for (int i = 1; i <= N; ++i) {
    out.sub[i] = A.sub[i] + h * B.sub[i];
    out.diag[i] = A.diag[i] + h * B.diag[i];
    out.sup[i] = A.sup[i] + h * B.sup[i];
  }
}

void AddCombinedTridiagonalProduct(Tridiagonal A, Tridiagonal B, double h, const double* x, double* y, int N) {
  for (int i = 1; i <= N; ++i) {
    double v = (A.diag[i] + h * B.diag[i]) * x[i];
    if (i > 1) v += (A.sub[i] + h * B.sub[i]) * x[i - 1];
    if (i < N) v += (A.sup[i] + h * B.sup[i]) * x[i + 1];
    y[i] += v;
  }
}

bool TridagHeteroAssociation(const double* sub, const double* diag, const double* sup, const double* rhs,
                             double* out, int N) {
  LammGrid& g = CurrentLammGrid();
  double* gam = g.TridagWork;
  auto fail = [](const char* text) {
    ErrorBox(text);
    LammSettings().singularMatrixError = 1;
    return false;
  };
  double bet = diag[1];
  if (bet == 0 || !std::isfinite(bet)) return fail("Error 1 in tridag");
  // Solved into a scratch vector first, so that a failure further down
  // leaves out as it was.
  HeteroAssociationArrays h;
  if (!BindHeteroAssociationArrays(h)) return false;
  double* u = h.solve;
  u[1] = rhs[1] / bet;
  for (int j = 2; j <= N; ++j) {
    gam[j] = sup[j - 1] / bet;
    bet = diag[j] - sub[j] * gam[j];
    if (bet == 0 || !std::isfinite(bet)) return fail("Error 2 in tridag");
    u[j] = (rhs[j] - sub[j] * u[j - 1]) / bet;
  }
  for (int j = N - 1; j >= 1; --j) u[j] -= gam[j + 1] * u[j + 1];
  for (int j = 1; j <= N; ++j) out[j] = u[j];
  return true;
}

void HeteroAssociationStep() {
  LammGrid& g = CurrentLammGrid();
  HeteroAssociationArrays h;
  if (!BindHeteroAssociationArrays(h)) return;
  HeteroAssociationState& st = CurrentHeteroAssociationState();
  LammRunState& rs = CurrentLammRunState();
  LammSolverSettings& settings = LammSettings();
  const int N = g.AllocatedGridSize;
  const double dt = rs.dt, dtPrev = st.dtPrev;
  const Tridiagonal SA{h.SASub, h.SADiag, h.SASup}, SB{h.SBSub, h.SBDiag, h.SBSup};
  const Tridiagonal Meff{g.StiffnessNewSub, g.StiffnessNewDiag, g.StiffnessNewSuper};
  const Tridiagonal Seff{g.StiffnessOldSub, g.StiffnessOldDiag, g.StiffnessOldSuper};
  auto restoreStart = [&] {
    for (int i = 1; i <= N; ++i) {
      h.cA[i] = h.cAOld[i];
      h.cB[i] = h.cBOld[i];
    }
  };

  // The residuals of the previous step drive the predictor (none on the first).
  std::vector<double>& sumStore = st.fluxSum;
  if (static_cast<int>(sumStore.size()) < N + 1) sumStore.resize(N + 1);
  double* sum = sumStore.data();
  auto takeFluxes = [&](double share) {
    for (int i = 1; i <= N; ++i) sum[i] = (1 - share) * sum[i] + share * (h.fluxA[i] + h.fluxB[i]);
  };
  ComputeHeteroAssociationFlux(h.fluxA, h.cAOld, h.cAOlder, dtPrev, SA);
  ComputeHeteroAssociationFlux(h.fluxB, h.cBOld, h.cBOlder, dtPrev, SB);
  takeFluxes(1.0);
  // The systems of A and B: the grid's system diagonals hold A's, the
  // state's store B's.
  std::vector<double>& store = st.systemStore;
  if (static_cast<int>(store.size()) < 5 * (N + 1)) store.resize(5 * static_cast<std::size_t>(N + 1));
  double* b0 = store.data();
  const std::size_t n1 = static_cast<std::size_t>(N) + 1;
  const SpeciesSystem sysA{{g.SystemSub, g.SystemDiag, g.SystemSuper}, b0};
  const SpeciesSystem sysB{{b0 + n1, b0 + 2 * n1, b0 + 3 * n1}, b0 + 4 * n1};
  auto formA = [&](const double* x, const double* y, const double* u, const double* v, double hStep) {
    BuildHeteroAssociationMassMatrix(Meff, x, y);
    BuildHeteroAssociationStiffnessMatrix(Seff, x, y, u, v, hStep, SA);
    FormSpeciesSystem(g, h.cAOld, dt, N, sysA);
  };
  auto formB = [&](const double* x, const double* y, const double* u, const double* v, double hStep) {
    BuildHeteroAssociationMassMatrix(Meff, x, y);
    BuildHeteroAssociationStiffnessMatrix(Seff, x, y, u, v, hStep, SB);
    FormSpeciesSystem(g, h.cBOld, dt, N, sysB);
  };
  formA(h.cBOld, nullptr, h.cBOlder, h.cBOld, dtPrev);
  formB(h.cAOld, nullptr, h.cAOlder, h.cAOld, dtPrev);
  // Solves A and B into a and b, then their fluxes over the step; false
  // (the step start restored) on a singular matrix.
  auto solveBoth = [&](double* a, double* b, double share) {
    if (!SolveSpecies(g, sysA, sum, a, dt, N) || !SolveSpecies(g, sysB, sum, b, dt, N)) {
      restoreStart();
      return false;
    }
    ComputeHeteroAssociationFlux(h.fluxA, a, h.cAOld, dt, SA);
    ComputeHeteroAssociationFlux(h.fluxB, b, h.cBOld, dt, SB);
    st.meanFluxDiff = MeanFluxDifference(h, N);
    takeFluxes(share);
    return true;
  };
  if (!solveBoth(h.cATmp, h.cBTmp, 1.0)) return;
  ShowHeteroAssociationFluxTableTemp();

  // The partner's provisional values stay fixed over the passes; only the
  // (relaxed) flux term changes. The mean flux difference does not measure
  // convergence (it is set by the discretisation, not by the passes), so
  // the passes end when the concentrations themselves have settled.
  std::vector<double>& passA = st.passA;
  std::vector<double>& passB = st.passB;
  if (static_cast<int>(passA.size()) < N + 1) passA.resize(N + 1), passB.resize(N + 1);
  for (int i = 1; i <= N; ++i) {
    passA[i] = h.cATmp[i];
    passB[i] = h.cBTmp[i];
  }
  // The corrector's systems: the partner at its provisional values.
  formA(h.cBTmp, h.cBOld, h.cBOld, h.cBTmp, dt);
  formB(h.cATmp, h.cAOld, h.cAOld, h.cATmp, dt);
  const double tolerance = kPassTolerance * (st.a0 + st.b0);
  bool settled = false;
  st.passes = 0;
  while (st.passes < kMaxCorrectorPasses) {
    ++st.passes;
    if (!solveBoth(h.cA, h.cB, kFluxRelaxation)) return;
    double change = 0;
    bool finite = true;
    for (int i = 1; i <= N; ++i) {
      change = std::max({change, std::fabs(h.cA[i] - passA[i]), std::fabs(h.cB[i] - passB[i])});
      finite = finite && std::isfinite(h.cA[i]) && std::isfinite(h.cB[i]);
      passA[i] = h.cA[i];
      passB[i] = h.cB[i];
      // The fluxes above keep the values before this clamp.
      if (h.cA[i] < 0) h.cA[i] = 0;
      if (h.cB[i] < 0) h.cB[i] = 0;
      h.cAB[i] = h.cA[i] * h.cB[i] * st.K;
    }
    if (!finite) break;
    ShowHeteroAssociationFluxTable();
    if (change <= tolerance) {
      settled = true;
      break;
    }
    if (!rs.running) return;  // stopped from the flux table
  }
  if (!settled) {
    settings.discretizationError = 1;
    restoreStart();
  }
}
