#include "lamm/global/static_grid_lamm.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cmath>
#include <optional>
#include <vector>

#include "data/rotor_speed_profile.h"
#include "data/scan_set.h"
#include "lamm/element_integrals.h"
#include "lamm/global/global_lamm_hooks.h"
#include "lamm/lamm_grid_arrays.h"
#include "lamm/lamm_run_state.h"
#include "lamm/lamm_settings.h"
#include "lamm/quiet_steps.h"
#include "numerics/constants.h"
#include "platform/error_box.h"

unsigned char gStaticGridAfterFailedRun = 0;
unsigned char gSteepBoundary = 0;

namespace {
constexpr double kControlA = 2.0, kControlB = 1.0;   // step controller
constexpr double kDepletionFraction = 1e-4;
// From a measured start: the first step (s), the largest change of a node
// in a step, and the longest step as a share of the time since the start.
constexpr double kLayeredFirstStep = 0.1;
constexpr double kLayeredStartChange = 0.7;
constexpr double kLayeredStepAge = 0.5;

struct StaticGridState {
  int N = 0;
  int start = 1, end = 0;          // active region s_a..e_a
  double threshold = 0, cRef = 0;  // T = f_T c_ref
  double sw2 = 0;                  // driving rate (1/s), or velocity (cm/s)
  double plateau = 0, plateauTime = 0;
  int extension = 0, startCap = 0;
  bool startTruncation = false, endTruncation = false, openEnd = false;
  int assembled = 0, storedEnd = 0;
  double storedDt = 0;
  bool matricesChanged = true, rebuild = false;
  int reductions = 0;
  double dtMax = 1000;
  int steps = 0;
  int factorisations = 0;  // of the steps by the boundary rule
  // Rows heldFrom..heldTo (none while heldFrom is 0) hold the loading
  // untouched between the travelling boundary and the layer at the far end
  // (steps by the boundary rule from an even loading).
  int heldFrom = 0, heldTo = 0, heldStep = 0;
  long solvedRows = 0;  // rows solved by the steps of the boundary rule
  long eliminatedRows = 0;  // rows their systems eliminated from either end
  double heldValue = 0;
  bool geometry = false;
  ElementIntegralContext planar;
  double eHi = 1.0, eLo = 0.05, eTarget = 0.2;
  double boundaryDt = 0;  // last step of the boundary rule before output limits
  double loaded = 0;      // the solve's start: the boundary's age counts from it
  bool zone = false;
  bool layered = false;   // the start is no uniform loading
  // The amount at the start and what has left the cell through an open
  // bottom since: their balance tells a solve that lost its loading.
  double amount0 = 0, outflow = 0;
  bool balanced = false;
};

struct DepletionStop {
  int node = 0;
  double threshold = 0;
  bool negative = false;  // the loading there, and so the threshold, below 0
  int activeStart = 1;
  bool stopped = false;
};

// Per thread: independent solves may run side by side, each on its own grid
// and run state.
thread_local StaticGridState gState;
thread_local DepletionStop gStop;

LammGrid& G() { return CurrentLammGrid(); }
LammRunState& RS() { return CurrentLammRunState(); }
bool Solvent() {
  const auto& h = CurrentStaticGridSolventHooks();
  return h.useInhomogeneousSolvent && h.useInhomogeneousSolvent();
}
bool Cosolute() {
  const auto& h = CurrentStaticGridSolventHooks();
  return h.sedimentingCosolute && h.sedimentingCosolute();
}
bool DynamicGradient() {
  const auto& h = CurrentStaticGridSolventHooks();
  return h.dynamicGradient && h.dynamicGradient();
}

bool Ramping() { return LammSettings().rampRotorSpeed && RS().accelerating; }

const GlobalLammHooks& Hooks() { return CurrentGlobalLammHooks(); }

double DrivingRate(double rpm, double s) {
  if (Hooks().electrophoresis()) return s * 1e-4;
  const double w = RpmToOmega(rpm);
  return w * w * s * 1e-13;
}

// The planar geometry of the chosen model; false for the sector cell.
bool ChoosePlanarGeometry(ElementIntegralContext& ctx) {
  const std::optional<PlanarGeometry> planar = Hooks().planarGeometry();
  if (!planar) return false;
  ctx.geometry = *planar;
  return true;
}

// The open end at node L: its flux is tS c_L + tD (c_L - c_(L-1)).
void OpenEndTerms(int L, double& tD, double& tS) {
  const double* r = G().Radius;
  const double D = RS().D;
  const auto& hooks = CurrentStaticGridSolventHooks();
  const bool solvent = Solvent();
  const double h = r[L] - r[L - 1];
  tD = solvent ? D * hooks.densgradEndTermD() : D * r[L] / h;
  tS = solvent ? gState.sw2 * hooks.densgradEndTermS() : r[L] * r[L] * gState.sw2;
}

// Row i of M and K with node L as the last node of the domain.
void AssembleRow(int i, int L) {
  LammGrid& g = G();
  StaticGridState& st = gState;
  const double* r = g.Radius;
  const int N = st.N;
  const double D = RS().D;
  const bool solvent = Solvent();
  const auto& hooks = CurrentStaticGridSolventHooks();
  for (int d = -1; d <= 1; ++d) {
    const int j = i + d;
    double m = 0, k = 0;
    if (j >= 1 && j <= L) {
      m = CalcElementIntegral2F(r, N, i, j, L);
      if (solvent)
        k = st.sw2 * hooks.densgradElementB(i, j) - D * hooks.densgradElementA(i, j);
      else
        k = st.sw2 * CalcElementIntegral2H(r, N, i, j, L) - D * CalcElementIntegral2G(r, N, i, j, L);
    }
    (d < 0 ? g.MassSub : d == 0 ? g.MassDiag : g.MassSuper)[i] = m;
    (d < 0 ? g.StiffnessNewSub : d == 0 ? g.StiffnessNewDiag : g.StiffnessNewSuper)[i] = k;
  }
  if (i == L) {
    g.MassSuper[i] = g.StiffnessNewSuper[i] = 0;
    if (st.openEnd && L >= 2) {
      // The end of the cut region lets the species flow on into the plateau.
      double tD, tS;
      OpenEndTerms(L, tD, tS);
      g.StiffnessNewSub[i] += tD;
      g.StiffnessNewDiag[i] -= tS + tD;
    }
  }
}

void MarkAssembled(int n) {
  gState.assembled = n;
  gState.storedEnd = n;
  gState.matricesChanged = true;
}

// A Thomas solve of rows lo..n of (a, b, c) with u_(lo-1) = 0; the
// decomposition runs from row 1 and stays in TridagWork / FactorPivot.
bool TridagStaticGridLamm(const double* a, const double* b, const double* c, const double* rr,
                          double* u, int n, int lo) {
  LammGrid& g = G();
  double* gam = g.TridagWork;
  double* bet = g.FactorPivot;
  if (b[1] == 0) {
    if (!RS().worker) ErrorBox("Error 1 in tridag", false);
    LammSettings().singularMatrixError = 1;
    return false;
  }
  bet[1] = b[1];
  for (int j = 2; j <= n; ++j) {
    gam[j] = c[j - 1] / bet[j - 1];
    bet[j] = b[j] - a[j] * gam[j];
    if (bet[j] == 0 && j >= lo) {
      if (!RS().worker) ErrorBox("Error 2 in tridag", false);
      LammSettings().singularMatrixError = 1;
      return false;
    }
  }
  for (int j = 1; j < lo; ++j) u[j] = 0;
  u[lo] = rr[lo] / bet[lo];
  for (int j = lo + 1; j <= n; ++j) u[j] = (rr[j] - a[j] * u[j - 1]) / bet[j];
  for (int j = n - 1; j >= lo; --j) u[j] -= gam[j + 1] * u[j + 1];
  return true;
}

void TridagStaticGridResolve(const double* a, const double* rr, double* u, int n, int lo) {
  const LammGrid& g = G();
  const double* gam = g.TridagWork;
  const double* bet = g.FactorPivot;
  for (int j = 1; j < lo; ++j) u[j] = 0;
  u[lo] = rr[lo] / bet[lo];
  for (int j = lo + 1; j <= n; ++j) u[j] = (rr[j] - a[j] * u[j - 1]) / bet[j];
  for (int j = n - 1; j >= lo; --j) u[j] -= gam[j + 1] * u[j + 1];
}

// The last decomposition kept as multipliers, from the top (as
// TridagStaticGridLamm eliminates) and from the bottom: a solve then
// eliminates from both ends towards the middle row and substitutes back from
// it in both directions. The two halves are independent and run side by
// side, and no recurrence waits on a division; a step by the boundary rule
// solves hundreds of times with one decomposition.
struct TwoEndedFactors {
  std::vector<double> lower, inverse, upper;        // from the top: a_j/bet_(j-1), 1/bet_j, c_j/bet_j
  std::vector<double> lowerB, inverseB, upperB;     // from the bottom: c_j/bet'_(j+1), 1/bet'_j, a_j/bet'_j
  std::vector<double> pivot, pivotB;
  // Products of neighbouring multipliers for two rows at a time:
  // lower_j lower_(j-1), lowerB_j lowerB_(j+1), upper_j upper_(j+1),
  // upperB_j upperB_(j-1).
  std::vector<double> lowerPairs, lowerPairsB, upperPairs, upperPairsB;
};

// The systems of the steps by the boundary rule, kept for a few step
// lengths: the rule's step and the remainders cut at the scan times take
// turns (a slow boundary's remainder is the same at every scan), and each
// return to a length factorised before finds its system as it was left.
// Every system is that of the matrices in place; a change of them forgets
// all. Factors, decomposition and results are those of a fresh elimination,
// bit for bit. Rows are formed and eliminated as the solves reach them:
// from the top as far as the rows above the held ones, from the bottom as
// far as those below (most of the rows of the first steps, whose length
// grows at every step, are held and never solved with that length).
struct KeptSystem {
  double dt = 0;
  int n = 0;              // rows 1..n; 0: nothing kept
  int lastZeroPivot = 0;  // the last row eliminated from the top whose pivot vanished (0: none)
  int top = 0;            // rows 1..top eliminated from the top
  int bottom = 0;         // rows bottom..n eliminated from the bottom
  int formedTop = 0, formedBottom = 0;  // rows 1..formedTop and formedBottom..n formed
  bool zeroFromBottom = false;          // a pivot from the bottom vanished in rows bottom..n
  unsigned long used = 0;
  std::vector<double> aSub, aDiag, aSuper;  // M - dt/2 K
  std::vector<double> bSub, bDiag, bSuper;  // M + dt/2 K
  std::vector<double> gam, bet;             // decomposition from the top
  TwoEndedFactors factors;
};
struct KeptSystems {
  std::array<KeptSystem, 3> systems;
  KeptSystem* current = nullptr;  // the system of the last step
  unsigned long clock = 0;
};
thread_local KeptSystems gKept;

void ForgetKeptSystems() {
  for (KeptSystem& k : gKept.systems) k.n = 0;
  gKept.current = nullptr;
}

// The kept system for step dt over rows 1..n, or nullptr.
KeptSystem* FindKeptSystem(double dt, int n) {
  for (KeptSystem& k : gKept.systems)
    if (k.n == n && k.dt == dt) return &k;
  return nullptr;
}

void TellZeroPivot(const char* text) {
  if (!RS().worker) ErrorBox(text, false);
  LammSettings().singularMatrixError = 1;
}

// Row i of the Crank-Nicolson matrices A = M - h K and B = M + h K
// (h = dt/2, s) from the mass and stiffness matrices of g.
inline void CrankNicolsonRow(const LammGrid& g, double h, int i, double* aSub, double* aDiag, double* aSuper,
                             double* bSub, double* bDiag, double* bSuper) {
  aSub[i] = g.MassSub[i] - h * g.StiffnessNewSub[i];
  aDiag[i] = g.MassDiag[i] - h * g.StiffnessNewDiag[i];
  aSuper[i] = g.MassSuper[i] - h * g.StiffnessNewSuper[i];
  bSub[i] = g.MassSub[i] + h * g.StiffnessNewSub[i];
  bDiag[i] = g.MassDiag[i] + h * g.StiffnessNewDiag[i];
  bSuper[i] = g.MassSuper[i] + h * g.StiffnessNewSuper[i];
}

// Row i of A = M - dt/2 K and B = M + dt/2 K.
void FormRow(KeptSystem& k, const LammGrid& g, int i) {
  CrankNicolsonRow(g, 0.5 * k.dt, i, k.aSub.data(), k.aDiag.data(), k.aSuper.data(), k.bSub.data(), k.bDiag.data(),
                   k.bSuper.data());
  if (i == k.n) k.aSuper[i] = k.bSuper[i] = 0;
}

// Rows 1..topTo and bottomFrom..n formed, each once.
void FormRows(KeptSystem& k, int topTo, int bottomFrom) {
  const LammGrid& g = G();
  for (int i = k.formedTop + 1; i <= std::min(topTo, k.formedBottom - 1); ++i) FormRow(k, g, i);
  k.formedTop = std::max(k.formedTop, topTo);
  for (int i = k.formedBottom - 1; i >= std::max(bottomFrom, k.formedTop + 1); --i) FormRow(k, g, i);
  k.formedBottom = std::min(k.formedBottom, bottomFrom);
}

// The eliminations of A = (a, b, c) carried on from the top to row topTo
// (as TridagStaticGridLamm eliminates) and from the bottom to row
// bottomFrom, in one loop as far as both go: the two chains of divisions are
// independent and overlap. The reciprocals of the pivots of the row before
// go along: they wait on neither chain and fill the divider while the chains
// wait on theirs. The last pivot of each chain stays in a register: read
// back from memory it would add a store's latency to every link. False,
// with the error of TridagStaticGridLamm, for a vanishing pivot from the top
// at a row from lo on.
bool EliminateRows(KeptSystem& k, int topTo, int bottomFrom, int lo) {
  const int n = k.n;
  topTo = std::min(topTo, n);
  bottomFrom = std::max(bottomFrom, 1);
  FormRows(k, topTo, bottomFrom);
  const double *a = k.aSub.data(), *b = k.aDiag.data(), *c = k.aSuper.data();
  double *gam = k.gam.data(), *bet = k.bet.data();
  TwoEndedFactors& f = k.factors;
  double* pivotB = f.pivotB.data();
  double* lowerB = f.lowerB.data();
  double* inverse = f.inverse.data();
  double* inverseB = f.inverseB.data();
  const int top0 = k.top, bottom0 = k.bottom;
  double top = bet[top0], bottom = pivotB[bottom0];
  auto topLink = [&](int j) {
    const double g = c[j - 1] / top;
    const double pivot = b[j] - a[j] * g;
    gam[j] = g;
    bet[j] = pivot;
    inverse[j - 1] = 1 / top;
    top = pivot;
  };
  auto bottomLink = [&](int i) {
    const double m = c[i] / bottom;
    const double pivot = b[i] - m * a[i + 1];
    lowerB[i] = m;
    pivotB[i] = pivot;
    inverseB[i + 1] = 1 / bottom;
    bottom = pivot;
  };
  int j = top0 + 1, i = bottom0 - 1;
  for (; j <= topTo && i >= bottomFrom; ++j, --i) {
    topLink(j);
    bottomLink(i);
  }
  for (; j <= topTo; ++j) topLink(j);
  for (; i >= bottomFrom; --i) bottomLink(i);
  gState.eliminatedRows += std::max(0, topTo - top0) + std::max(0, bottom0 - bottomFrom);
  if (topTo > top0) {
    inverse[topTo] = 1 / bet[topTo];
    for (j = topTo; j > top0; --j)
      if (bet[j] == 0) {
        k.lastZeroPivot = std::max(k.lastZeroPivot, j);
        break;
      }
    std::copy(bet + top0 + 1, bet + topTo + 1, f.pivot.begin() + top0 + 1);
    for (j = top0 + 1; j <= topTo; ++j) {
      f.upper[j] = j < n ? c[j] * inverse[j] : 0;
      f.lower[j] = a[j] * inverse[j - 1];
      f.lowerPairs[j] = f.lower[j] * f.lower[j - 1];
      f.upperPairs[j - 1] = f.upper[j - 1] * f.upper[j];
    }
    k.top = topTo;
  }
  if (bottomFrom < bottom0) {
    inverseB[bottomFrom] = 1 / pivotB[bottomFrom];
    for (i = bottomFrom; i < bottom0 && !k.zeroFromBottom; ++i) k.zeroFromBottom = pivotB[i] == 0;
    for (i = bottom0 - 1; i >= bottomFrom; --i) {
      f.upperB[i] = i > 1 ? a[i] * inverseB[i] : 0;
      if (i + 2 <= n) f.lowerPairsB[i] = lowerB[i] * lowerB[i + 1];
      f.upperPairsB[i + 1] = f.upperB[i + 1] * f.upperB[i];
    }
    k.bottom = bottomFrom;
  }
  if (k.lastZeroPivot >= lo) {
    TellZeroPivot("Error 2 in tridag");
    return false;
  }
  return true;
}

// A system of step dt over rows 1..n in the least recently used place, its
// first and last rows eliminated; nullptr (nothing kept) when the first
// pivot vanishes.
KeptSystem* NewKeptSystem(double dt, int n) {
  KeptSystem* k = &gKept.systems[0];
  for (KeptSystem& s : gKept.systems)
    if (s.n == 0 || s.used < k->used) k = &s;
  k->n = 0;
  const size_t size = static_cast<size_t>(n) + 2;
  for (auto* v : {&k->aSub, &k->aDiag, &k->aSuper, &k->bSub, &k->bDiag, &k->bSuper, &k->gam, &k->bet})
    if (v->size() < size) v->resize(size);
  TwoEndedFactors& f = k->factors;
  for (auto* v : {&f.lower, &f.inverse, &f.upper, &f.lowerB, &f.inverseB, &f.upperB, &f.pivot, &f.pivotB,
                  &f.lowerPairs, &f.lowerPairsB, &f.upperPairs, &f.upperPairsB})
    if (v->size() < size) v->resize(size);
  ++gState.factorisations;
  k->dt = dt;
  k->n = n;
  k->formedTop = 0;
  k->formedBottom = n + 1;
  FormRows(*k, 1, n);
  const double *a = k->aSub.data(), *b = k->aDiag.data(), *c = k->aSuper.data();
  if (b[1] == 0) {
    TellZeroPivot("Error 1 in tridag");
    k->n = 0;
    return nullptr;
  }
  k->lastZeroPivot = 0;
  k->bet[1] = f.pivot[1] = b[1];
  f.inverse[1] = 1 / b[1];
  f.upper[1] = n > 1 ? c[1] * f.inverse[1] : 0;
  f.lower[1] = 0;
  k->top = 1;
  f.pivotB[n] = b[n];
  f.inverseB[n] = 1 / b[n];
  f.upperB[n] = n > 1 ? a[n] * f.inverseB[n] : 0;
  k->zeroFromBottom = b[n] == 0;
  k->bottom = n;
  gState.eliminatedRows += n > 1 ? 2 : 1;
  return k;
}

// Two links of a chain y_i = r_i - m_i y_(i-d) at once, rows i and i + d
// (d = 1 down the rows, -1 up them), the second as
//   y_(i+d) = (r_(i+d) - m_(i+d) r_i) + m_(i+d) m_i y_(i-d)
// with m2 the products of neighbouring multipliers: the chain waits on half
// as many links, and y_i is formed beside it. The eliminations (r the
// right-hand side) and the substitutions (r the eliminated row over its
// pivot) from either end are such chains.
template <int d>
inline __attribute__((always_inline)) void ChainPair(const double* m, const double* m2, double r0, double r1,
                                                     double& y, double* u, int i) {
  const double yi = r0 - m[i] * y;
  y = (r1 - m[i + d] * r0) + m2[i + d] * y;
  u[i] = yi;
  u[i + d] = y;
}

// The eliminations from both ends two rows at a time, side by side: down
// from row i towards row e, up from row j towards row b, while both have
// two rows left. rTop and rBottom form a row's right-hand side.
template <class Top, class Bottom>
inline __attribute__((always_inline)) void EliminateFromBothEnds(const TwoEndedFactors& f, const Top& rTop,
                                                                 const Bottom& rBottom, double* u, int& i, int e,
                                                                 int& j, int b, double& y, double& z) {
  const double* l = f.lower.data();
  const double* l2 = f.lowerPairs.data();
  const double* lB = f.lowerB.data();
  const double* lB2 = f.lowerPairsB.data();
  for (; i + 1 <= e && j - 1 >= b; i += 2, j -= 2) {
    const double a0 = rTop(i), a1 = rTop(i + 1);
    const double b0 = rBottom(j), b1 = rBottom(j - 1);
    ChainPair<1>(l, l2, a0, a1, y, u, i);
    ChainPair<-1>(lB, lB2, b0, b1, z, u, j);
  }
}

// The substitutions from the middle to both ends two rows at a time, side
// by side: up from row i towards row lo, down from row j towards row n,
// while both have two rows left.
inline __attribute__((always_inline)) void SubstituteToBothEnds(const TwoEndedFactors& f, double* u, int& i, int lo,
                                                                int& j, int n, double& xu, double& xd) {
  const double* q = f.inverse.data();
  const double* up = f.upper.data();
  const double* up2 = f.upperPairs.data();
  const double* qB = f.inverseB.data();
  const double* dn = f.upperB.data();
  const double* dn2 = f.upperPairsB.data();
  for (; i - 1 >= lo && j + 1 <= n; i -= 2, j += 2) {
    const double p0 = u[i] * q[i], p1 = u[i - 1] * q[i - 1];
    const double d0 = u[j] * qB[j], d1 = u[j + 1] * qB[j + 1];
    ChainPair<-1>(up, up2, p0, p1, xu, u, i);
    ChainPair<1>(dn, dn2, d0, d1, xd, u, j);
  }
}

// Solves rows lo..n for the right-hand side (oa, ob, oc) x, formed row by
// row as the eliminations reach it (as TridiagMatVecActiveStart forms it).
void ResolveTwoEnded(const TwoEndedFactors& f, const double* a, const double* c, const double* oa,
                     const double* ob, const double* oc, const double* x, double* u, int n, int lo) {
  auto rhs = [&](int i) {
    double v = ob[i] * x[i];
    if (i > 1) v += oa[i] * x[i - 1];
    if (i < n) v += oc[i] * x[i + 1];
    return v;
  };
  auto inner = [&](int i) {
    double v = ob[i] * x[i];
    v += oa[i] * x[i - 1];
    v += oc[i] * x[i + 1];
    return v;
  };
  for (int j = 1; j < lo; ++j) u[j] = 0;
  const double* l = f.lower.data();
  const double* q = f.inverse.data();
  const double* up = f.upper.data();
  if (n - lo < 4) {
    // Too short to split: from the top only.
    double y = rhs(lo);
    u[lo] = y;
    for (int j = lo + 1; j <= n; ++j) u[j] = y = rhs(j) - l[j] * y;
    double z = u[n] * q[n];
    u[n] = z;
    for (int j = n - 1; j >= lo; --j) u[j] = z = u[j] * q[j] - up[j] * z;
    return;
  }
  const int k = (lo + n) / 2;
  const double* lB = f.lowerB.data();
  // Row lo starts from its pivot of the whole decomposition, the rows
  // before it being left out (as TridagStaticGridResolve does).
  double y = rhs(lo), z = rhs(n);
  u[lo] = y;
  u[n] = z;
  int top = lo + 1, bottom = n - 1;
  EliminateFromBothEnds(f, inner, inner, u, top, k - 1, bottom, k + 1, y, z);
  for (; top < k; ++top) u[top] = y = inner(top) - l[top] * y;
  for (; bottom > k; --bottom) u[bottom] = z = inner(bottom) - lB[bottom] * z;
  // The middle row with both halves eliminated into it.
  const double pk = f.pivot[k] - c[k] * a[k + 1] * f.inverseB[k + 1];
  const double xk = (inner(k) - l[k] * y - lB[k] * z) / pk;
  u[k] = xk;
  const double* qB = f.inverseB.data();
  const double* dn = f.upperB.data();
  double xu = xk, xd = xk;
  top = k - 1;
  bottom = k + 1;
  SubstituteToBothEnds(f, u, top, lo, bottom, n, xu, xd);
  for (; top >= lo; --top) u[top] = xu = u[top] * q[top] - up[top] * xu;
  for (; bottom <= n; ++bottom) u[bottom] = xd = u[bottom] * qB[bottom] - dn[bottom] * xd;
}

int SolveStart() { return gState.start >= 4 ? gState.start - 1 : 1; }

void TridiagMatVecActiveStart(const double* a, const double* b, const double* c, const double* x,
                              double* y, int n) {
  const int lo = SolveStart();
  for (int i = 1; i < lo; ++i) y[i] = 0;
  // The end rows apart, the rows between have no tests left.
  auto row = [&](int i) {
    double v = b[i] * x[i];
    if (i > 1) v += a[i] * x[i - 1];
    if (i < n) v += c[i] * x[i + 1];
    y[i] = v;
  };
  if (lo > n) return;
  row(lo);
  for (int i = std::max(lo + 1, 2); i <= n - 1; ++i) {
    double v = b[i] * x[i];
    v += a[i] * x[i - 1];
    v += c[i] * x[i + 1];
    y[i] = v;
  }
  if (n > lo) row(n);
}

void BuildStaticGridCNMatrices(double dt, int n) {
  LammGrid& g = G();
  const double h = 0.5 * dt;
  for (int i = 1; i <= n; ++i)
    CrankNicolsonRow(g, h, i, g.SystemSub, g.SystemDiag, g.SystemSuper, g.StiffnessOldSub, g.StiffnessOldDiag,
                     g.StiffnessOldSuper);
  g.SystemSuper[n] = g.StiffnessOldSuper[n] = 0;
}

void ReassembleActiveEnd(int e) {
  StaticGridState& st = gState;
  if (e > st.assembled) {
    AssembleStaticGridMatrices(e);
  } else {
    const int old = st.storedEnd;
    for (int i = std::max(1, old - 1); i <= old; ++i) AssembleRow(i, st.assembled);
    for (int i = std::max(1, e - 1); i <= e; ++i) AssembleRow(i, e);
    st.storedEnd = e;
    st.matricesChanged = true;
  }
}

void Reassemble() {
  if (gState.geometry) {
    AssembleStaticGridMatricesRomberg();
  } else {
    AssembleStaticGridMatrices(gState.N);
    if (gState.end < gState.N) ReassembleActiveEnd(gState.end);
  }
}

void LimitForAcceleration(double& dt) {
  const LammRunState& rs = RS();
  if (!Ramping()) return;
  dt = std::min(dt, rs.maxStepAccelerating);
  if (rs.t + dt > rs.accelerationEnd) dt = rs.accelerationEnd - rs.t;
}

// The output time stays pending until a step accepted on it.
void LimitForOutput(double& dt) {
  const LammRunState& rs = RS();
  if (rs.pendingFlag && rs.t + dt > rs.pendingTime) dt = rs.pendingTime - rs.t;
}

// Deviation from the loading below which rows count as untouched: the
// loading's own rounding, far below what a kernel keeps (single precision).
constexpr double kHeldDeviation = 1e-10;

// The step over rows lo..n with rows h0..h1 (lo < h0 <= h1 < n) held at
// the value p: the rows above them solve with the factors from the top (an
// elimination from the top never reaches below its last row), the rows
// below with those from the bottom, each next to the held value as a known
// one. Each substitution two rows at a time, as ResolveTwoEnded; the two
// sides are independent and go through one loop side by side, so that
// neither waits on its own chain alone.
void ResolveAroundHeldRows(const TwoEndedFactors& f, const double* a, const double* c, const double* oa,
                           const double* ob, const double* oc, const double* x, double* u, int n, int lo,
                           int h0, int h1, double p) {
  for (int j = 1; j < lo; ++j) u[j] = 0;
  for (int j = h0; j <= h1; ++j) u[j] = p;
  // Rows between lo and n: lo >= 1 and n beyond the held rows, so both
  // neighbours take part.
  auto inner = [&](int i) {
    double v = ob[i] * x[i];
    v += oa[i] * x[i - 1];
    v += oc[i] * x[i + 1];
    return v;
  };
  auto rhs = [&](int i) {
    double v = ob[i] * x[i];
    if (i > 1) v += oa[i] * x[i - 1];
    v += oc[i] * x[i + 1];
    return v;
  };
  // Above: rows lo..e, row e next to the held row e + 1; below: rows b..n,
  // row b next to the held row b - 1.
  const int e = h0 - 1, b = h1 + 1;
  const double* l = f.lower.data();
  const double* l2 = f.lowerPairs.data();
  const double* q = f.inverse.data();
  const double* up = f.upper.data();
  const double* up2 = f.upperPairs.data();
  const double* lB = f.lowerB.data();
  const double* lB2 = f.lowerPairsB.data();
  const double* qB = f.inverseB.data();
  const double* dn = f.upperB.data();
  const double* dn2 = f.upperPairsB.data();
  auto r = [&](int i) { return i == e ? inner(i) - c[i] * p : inner(i); };
  auto rb = [&](int j) { return j == b ? inner(j) - a[j] * p : inner(j); };
  // Eliminations: down from lo, up from n (which has no row below it).
  double y = lo == e ? rhs(lo) - c[lo] * p : rhs(lo);
  double z = ob[n] * x[n];
  z += oa[n] * x[n - 1];
  if (n == b) z -= a[n] * p;
  u[lo] = y;
  u[n] = z;
  int i = lo + 1, j = n - 1;
  EliminateFromBothEnds(f, r, rb, u, i, e, j, b, y, z);
  // The longer side goes on alone.
  for (; i + 1 <= e; i += 2) ChainPair<1>(l, l2, r(i), r(i + 1), y, u, i);
  for (; i <= e; ++i) u[i] = y = r(i) - l[i] * y;
  for (; j - 1 >= b; j -= 2) ChainPair<-1>(lB, lB2, rb(j), rb(j - 1), z, u, j);
  for (; j >= b; --j) u[j] = z = rb(j) - lB[j] * z;
  // Substitutions: up from e, down from b.
  double xu = u[e] * q[e], xd = u[b] * qB[b];
  u[e] = xu;
  u[b] = xd;
  i = e - 1;
  j = b + 1;
  SubstituteToBothEnds(f, u, i, lo, j, n, xu, xd);
  for (; i - 1 >= lo; i -= 2) ChainPair<-1>(up, up2, u[i] * q[i], u[i - 1] * q[i - 1], xu, u, i);
  for (; i >= lo; --i) u[i] = xu = u[i] * q[i] - up[i] * xu;
  for (; j + 1 <= n; j += 2) ChainPair<1>(dn, dn2, u[j] * qB[j], u[j + 1] * qB[j + 1], xd, u, j);
  for (; j <= n; ++j) u[j] = xd = u[j] * qB[j] - dn[j] * xd;
}

// After a step: the held rows give way where the boundary or the far layer
// come near them (a row next to them has left the loading), and are given
// up once few remain.
void MoveHeldRows(int lo) {
  StaticGridState& st = gState;
  if (st.heldFrom == 0) return;
  const double* c = G().Concentration;
  const double tolerance = kHeldDeviation * std::fabs(st.heldValue);
  auto touched = [&](int from, int to) {
    for (int i = std::max(from, 1); i <= std::min(to, st.N); ++i)
      if (!(std::fabs(c[i] - st.heldValue) <= tolerance)) return true;
    return false;
  };
  while (st.heldFrom <= st.heldTo && (touched(st.heldFrom - 3, st.heldFrom - 1) || st.heldFrom - lo < 8))
    st.heldFrom += st.heldStep;
  while (st.heldFrom <= st.heldTo && touched(st.heldTo + 1, st.heldTo + 3)) st.heldTo -= st.heldStep;
  if (st.heldTo - st.heldFrom < st.heldStep) st.heldFrom = st.heldTo = 0;
}

// A step of the boundary rule over rows lo..e from x to u with the kept
// system of its length, eliminated as far as the step needs: the rows
// around held ones, or both halves meeting in the middle, from both ends
// (from the top when a pivot from the bottom vanished or the rows are too
// few to split), as the fresh elimination solves. False for a vanishing
// pivot.
bool StepByKeptSystem(double dt, int e, int lo, const double* x, double* u) {
  StaticGridState& st = gState;
  LammGrid& g = G();
  if (st.matricesChanged || st.rebuild || Ramping()) ForgetKeptSystems();
  st.matricesChanged = false;
  st.rebuild = false;
  KeptSystem* k = FindKeptSystem(dt, e);
  if (k && k != gKept.current && k->lastZeroPivot >= lo) {
    TellZeroPivot("Error 2 in tridag");
    k = nullptr;
  } else if (!k) {
    k = NewKeptSystem(dt, e);
  }
  gKept.current = k;
  if (!k) return false;
  k->used = ++gKept.clock;
  auto eliminate = [&](int topTo, int bottomFrom) {
    if (EliminateRows(*k, topTo, bottomFrom, lo)) return true;
    k->n = 0;
    gKept.current = nullptr;
    return false;
  };
  if (st.heldFrom > lo && st.heldTo < e) {
    if (!eliminate(st.heldFrom - 1, st.heldTo + 1)) return false;
    if (!k->zeroFromBottom) {
      st.solvedRows += e - lo + 1 - (st.heldTo - st.heldFrom + 1);
      ResolveAroundHeldRows(k->factors, k->aSub.data(), k->aSuper.data(), k->bSub.data(), k->bDiag.data(),
                            k->bSuper.data(), x, u, e, lo, st.heldFrom, st.heldTo, st.heldValue);
      return true;
    }
  }
  st.heldFrom = st.heldTo = 0;
  st.solvedRows += e - lo + 1;
  // ResolveTwoEnded solves from the top alone below five rows.
  const int middle = e - lo < 4 ? e : (lo + e) / 2;
  if (!eliminate(middle, e - lo < 4 ? e + 1 : middle)) return false;
  if (!k->zeroFromBottom || e - lo < 4) {
    ResolveTwoEnded(k->factors, k->aSub.data(), k->aSuper.data(), k->bSub.data(), k->bDiag.data(),
                    k->bSuper.data(), x, u, e, lo);
    return true;
  }
  if (!eliminate(e, e + 1)) return false;
  TridiagMatVecActiveStart(k->bSub.data(), k->bDiag.data(), k->bSuper.data(), x, g.RightHandSide, e);
  const double* a = k->aSub.data();
  const double* gam = k->gam.data();
  const double* bet = k->bet.data();
  const double* rr = g.RightHandSide;
  for (int j = 1; j < lo; ++j) u[j] = 0;
  u[lo] = rr[lo] / bet[lo];
  for (int j = lo + 1; j <= e; ++j) u[j] = (rr[j] - a[j] * u[j - 1]) / bet[j];
  for (int j = e - 1; j >= lo; --j) u[j] -= gam[j + 1] * u[j + 1];
  return true;
}

void TrialStaticGridStep(double dt) {
  StaticGridState& st = gState;
  LammRunState& rs = RS();
  LammGrid& g = G();
  if (Ramping()) {
    rs.rpm = RotorSpeedDuringAcceleration(rs.t, dt);
    st.sw2 = DrivingRate(rs.rpm, rs.s);
    Reassemble();
  }
  if (st.end != st.storedEnd && !st.geometry) ReassembleActiveEnd(st.end);
  const int e = st.end, lo = SolveStart();
  double* c = g.Concentration;
  const double* cOld = g.PreviousConcentration;
  bool ok = true;
  const bool byBoundary = rs.boundaryStepFraction > 0;
  if (byBoundary) {
    ok = StepByKeptSystem(dt, e, lo, cOld, c);
    if (ok) MoveHeldRows(lo);
  } else if (dt == st.storedDt && !st.rebuild && !Ramping() && !st.matricesChanged) {
    TridiagMatVecActiveStart(g.StiffnessOldSub, g.StiffnessOldDiag, g.StiffnessOldSuper, cOld,
                             g.RightHandSide, e);
    TridagStaticGridResolve(g.SystemSub, g.RightHandSide, c, e, lo);
  } else {
    st.storedDt = dt;
    BuildStaticGridCNMatrices(dt, e);
    TridiagMatVecActiveStart(g.StiffnessOldSub, g.StiffnessOldDiag, g.StiffnessOldSuper, cOld,
                             g.RightHandSide, e);
    ok = TridagStaticGridLamm(g.SystemSub, g.SystemDiag, g.SystemSuper, g.RightHandSide, c, e, lo);
    st.matricesChanged = false;
    st.rebuild = false;
    if (!ok) st.storedDt = 0;
  }
  if (ok && st.start > 3 && st.start + 3 <= st.N) {
    const int a = st.start;
    const double m5 = 0.2 * (c[a - 1] + c[a] + c[a + 1] + c[a + 2] + c[a + 3]);
    if (m5 >= 10 * st.threshold) {
      // The cut start region is no longer depleted.
      LammSettings().singularMatrixError = 1;
      ok = false;
    } else if ((c[a] - m5) * (c[a - 1] - m5) < 0 && (c[a + 1] - m5) * (c[a] - m5) != 0) {
      static const double shape[5] = {5, 10, 20, 40, 60};
      for (int q = 0; q < 5; ++q) c[a - 1 + q] = m5 / 27 * shape[q];
    }
  }
  if (ok) {
    const double beyond = std::exp(-2 * st.sw2 * dt) * st.plateau;
    for (int i = e + 1; i <= st.N; ++i) c[i] = beyond;
  } else {
    for (int i = lo; i <= e; ++i) c[i] = cOld[i];
  }
}

// The relative change at node i that the step control weighs, or 0 where it
// cannot exceed `bound`: the division is skipped, the test lying a hair
// below bound p_i so that no larger change is missed.
// Inlined: a call per node costs more than the test.
inline __attribute__((always_inline)) double RelativeChange(const double* c, const double* p, int i,
                                                          double floor, double bound) {
  const double d = c[i] - p[i];
  if (p[i] > floor) return std::fabs(d) >= bound * p[i] * (1 - 1e-15) ? std::fabs(d / p[i]) : 0;
  if (d > floor) {
    if (p[i + 1] > floor) return std::fabs(d / p[i + 1]);
    if (i > 1 && p[i - 1] > floor) return std::fabs(d / p[i - 1]);
  }
  return 0;
}

double EstimateStepError() {
  const StaticGridState& st = gState;
  const LammGrid& g = G();
  const double* c = g.Concentration;
  const double* p = g.PreviousConcentration;
  // Four running maxima each: one alone would wait on its own result at
  // every node.
  double t0 = st.cRef, t1 = t0, t2 = t0, t3 = t0;
  int i = st.start;
  for (; i + 3 <= st.end; i += 4) {
    t0 = std::max(t0, c[i]);
    t1 = std::max(t1, c[i + 1]);
    t2 = std::max(t2, c[i + 2]);
    t3 = std::max(t3, c[i + 3]);
  }
  for (; i <= st.end; ++i) t0 = std::max(t0, c[i]);
  const double top = std::max(std::max(t0, t1), std::max(t2, t3));
  const double floor = 1e-4 * top;
  double err = 0;
  const int e = st.end;
  if (c[e] > floor && p[e] >= floor) err = std::fabs(c[e] - p[e]) / p[e];
  // A loading's step at the meniscus rings below zero at first; a layered
  // start undershoots beside its depleted points as the solution should.
  if (RS().t - st.loaded < 10 && !st.zone && !st.layered)
    for (i = e - 1; i >= st.start; --i)
      if (c[i] < -st.threshold) {
        ++gState.reductions;
        return 2 * st.eHi;
      }
  double m0 = err, m1 = err, m2 = err, m3 = err;
  for (i = st.start; i + 3 <= e - 1; i += 4) {
    m0 = std::max(m0, RelativeChange(c, p, i, floor, m0));
    m1 = std::max(m1, RelativeChange(c, p, i + 1, floor, m1));
    m2 = std::max(m2, RelativeChange(c, p, i + 2, floor, m2));
    m3 = std::max(m3, RelativeChange(c, p, i + 3, floor, m3));
  }
  for (; i <= e - 1; ++i) m0 = std::max(m0, RelativeChange(c, p, i, floor, m0));
  return std::max(std::max(m0, m1), std::max(m2, m3));
}

void ReflectNegativeMeniscusValue() {
  if (!gStaticGridAfterFailedRun) return;
  LammGrid& g = G();
  double* c = g.Concentration;
  const int N = gState.N;
  double w1, w2;
  if (gState.geometry) {
    w1 = RombergNodeWeightIntegral(gState.planar, 1);
    w2 = RombergNodeWeightIntegral(gState.planar, 2);
  } else {
    w1 = CalcElementIntegral2E(g.Radius, N, 1, N);
    w2 = CalcElementIntegral2E(g.Radius, N, 2, N);
  }
  const double x = w1 * std::fabs(c[1]) / w2;
  c[1] = std::fabs(c[1]);
  c[2] -= 2 * x;
}

void AcceptStaticGridStep() {
  StaticGridState& st = gState;
  LammRunState& rs = RS();
  if (st.balanced && st.openEnd && st.end == st.N) {
    // Crank-Nicolson: the flux at the middle of the step.
    const LammGrid& g = G();
    const int N = st.N;
    double tD, tS;
    OpenEndTerms(N, tD, tS);
    const double cN = 0.5 * (g.Concentration[N] + g.PreviousConcentration[N]);
    const double cM = 0.5 * (g.Concentration[N - 1] + g.PreviousConcentration[N - 1]);
    st.outflow += rs.dt * (tS * cN + tD * (cN - cM));
  }
  ++rs.iteration;
  ++st.steps;
  rs.t += rs.dt;
  if (rs.pendingFlag && std::fabs(rs.t - rs.pendingTime) <= 1e-9 * std::max(1.0, rs.pendingTime)) {
    rs.t = rs.pendingTime;
    rs.pendingFlag = 0;
  }
  if (rs.accelerating && rs.t >= rs.accelerationEnd) {
    rs.rpm = RotorSpeedDuringAcceleration(rs.t, rs.dt);
    st.sw2 = DrivingRate(rs.rpm, rs.s);
    if (st.geometry) {
      AssembleStaticGridMatricesRomberg();
    } else {
      AssembleStaticGridMatrices(DynamicGradient() ? st.end : st.N);
      ReassembleActiveEnd(st.end);
    }
    rs.accelerating = 0;
  }
  const double c1 = G().Concentration[1];
  if (c1 < 0 && c1 > -st.threshold) ReflectNegativeMeniscusValue();
  if (LammSettings().massConservationCheck)
    rs.totalAmount = st.geometry ? TotalAmountStaticGridRomberg() : TotalAmountStaticGrid();
}

// dt limited by the growth and shrink rules of the controller.
double LimitStep(double x, double previous) {
  x = std::min(x, 10 * previous);
  x = std::min(x, gState.dtMax);
  if (x < 1e-15) {
    x = 1e-15;
    ++gState.reductions;
  }
  return std::max(x, 0.1 * previous);
}

// The step that moves the boundary at most the set fraction of its width
// at the present time; the first is a hundredth of the time the boundary
// takes to cross the first element. The step grows by a fifth at a time and
// otherwise stays, so that the factors of the system are used again.
double BoundaryStep() {
  StaticGridState& st = gState;
  const LammRunState& rs = RS();
  const double v = std::fabs(st.sw2);
  const double t = std::max(rs.t - st.loaded, 0.0);
  const double width = std::sqrt(2 * rs.D * t);
  const double travelled = std::max(v * t, 1e-30);
  const double fraction = std::min(0.25, rs.boundaryStepFraction * std::sqrt(width / travelled));
  const double allowed = std::min(fraction * width / v, st.dtMax);
  if (st.boundaryDt <= 0) {
    const double* r = G().Radius;
    st.boundaryDt = std::min(0.01 * (r[2] - r[1]) / v, st.dtMax);
  }
  while (1.2 * st.boundaryDt <= allowed) st.boundaryDt *= 1.2;
  return st.boundaryDt;
}

double StaticGridLammStep() {
  StaticGridState& st = gState;
  LammRunState& rs = RS();
  LammGrid& g = G();
  LammSolverSettings& set = LammSettings();
  if (set.fixedTimeStep) rs.dt = st.eHi;
  const bool byBoundary = rs.boundaryStepFraction > 0 && st.sw2 != 0 && rs.D > 0;
  if (byBoundary) rs.dt = BoundaryStep();
  const int from = st.start >= 4 ? st.start - 2 : 1;
  std::copy(g.Concentration + from, g.Concentration + st.end + 1, g.PreviousConcentration + from);
  double dt = rs.dt;
  LimitForAcceleration(dt);
  LimitForOutput(dt);
  rs.dt = dt;
  if (dt <= 0) {
    rs.dt = 1;
    return 1;
  }
  auto trial = [&](double step) {
    std::copy(g.PreviousConcentration + from, g.PreviousConcentration + st.end + 1,
              g.Concentration + from);
    TrialStaticGridStep(step);
  };
  TrialStaticGridStep(dt);
  // Steps by the boundary take no trials back: every fourth step tests (a
  // profile that overflowed stays so).
  if ((!byBoundary || st.steps % 4 == 0) && StaticGridProfileOverflows(g.Concentration, st.N)) {
    set.discretizationError = 1;
    return 0;
  }
  if (st.zone && rs.t - st.loaded < 10) {
    double* c = g.Concentration;
    const double* r = g.Radius;
    for (int i = 2; i <= st.N - 1; ++i)
      if (c[i] < 1e-10) {
        c[i - 1] += static_cast<float>(c[i] * r[i] / (2 * r[i - 1]));
        c[i + 1] += static_cast<float>(c[i] * r[i] / (2 * r[i + 1]));
        c[i] = 0;
      }
  }
  const bool onOutput = rs.pendingFlag && rs.t + dt >= rs.pendingTime;
  if (onOutput && st.steps > 0) {
    AcceptStaticGridStep();
    return 1;
  }
  if (st.steps == 0 && g.Concentration[1] > 0) {
    AcceptStaticGridStep();
    return dt;
  }
  if (set.fixedTimeStep || byBoundary) {
    AcceptStaticGridStep();
    return 1;
  }
  double err = EstimateStepError();
  while (err > st.eHi) {
    if (st.reductions > 5) {
      set.discretizationError = 1;
      std::copy(g.PreviousConcentration + from, g.PreviousConcentration + st.end + 1,
                g.Concentration + from);
      return err;
    }
    if (set.singularMatrixError) return err;
    const double previous = rs.dt;
    const double d = err == 0 ? 0 : st.eTarget / err * previous;
    double x = (d - previous / kControlA) * kControlB + previous / kControlA;
    if (x >= 0.8 * previous && x <= 1.2 * previous) x *= 0.5;
    x = LimitStep(x, previous);
    LimitForAcceleration(x);
    LimitForOutput(x);
    rs.dt = x;
    trial(x);
    err = EstimateStepError();
  }
  st.reductions = 1;
  AcceptStaticGridStep();
  double next = rs.dt;
  if (err == 0) next *= 10;
  if (err < st.eLo) {
    const double before = next;
    const double d = err == 0 ? 0 : st.eTarget / err * before;
    double x = (d - before * kControlA) * kControlB + before * kControlA;
    if (x >= 0.9 * before && x <= 1.1 * before) x *= 2;
    next = LimitStep(x, before);
  }
  if (st.layered && !st.zone)
    next = std::min(next, std::max(kLayeredFirstStep, kLayeredStepAge * (rs.t - st.loaded)));
  LimitForAcceleration(next);
  LimitForOutput(next);
  rs.dt = next;
  // Matrices re-formed while accepting (end of the acceleration) must not
  // be solved with the factors of the old ones: the flag stays for the next
  // trial step, which clears it when it factorises.
  return err;
}

void AdvanceActiveStart() {
  StaticGridState& st = gState;
  if (!st.startTruncation || !LammSettings().truncateGrid) {
    st.start = 1;
  } else {
    const double* c = G().Concentration;
    for (int i = st.start; i <= st.end - 10 && (c[i] + c[i + 1] + c[i + 2]) / 3 < st.threshold; ++i)
      st.start = i;
    st.start = std::min(st.start, st.startCap);
  }
  gStop.activeStart = st.start;
}

void ExtendActiveEnd(double t) {
  StaticGridState& st = gState;
  if (!st.endTruncation || !LammSettings().truncateGrid || st.end >= st.N) {
    if (st.end != st.N) {
      st.end = st.N;
      ReassembleActiveEnd(st.N);
    }
    return;
  }
  if (LammSettings().rampRotorSpeed) {
    st.plateau *= std::exp(-2 * st.sw2 * (t - st.plateauTime));
    st.plateauTime = t;
  } else {
    // Diluted since the solve started, not since t = 0 (a start time).
    st.plateau = st.cRef * std::exp(-2 * st.sw2 * (t - st.loaded));
  }
  const double level = (1 - st.threshold) * st.plateau;
  const double* c = G().Concentration;
  for (int i = st.end; i >= std::max(st.end - st.extension, 3); --i)
    if ((c[i] + c[i - 1] + c[i - 2]) / 3 < level) {
      st.end += st.extension;
      if (st.end > st.N - 10) st.end = st.N;
      ReassembleActiveEnd(st.end);
      break;
    }
}

}  // namespace

StaticGridSolventHooks& CurrentStaticGridSolventHooks() {
  static StaticGridSolventHooks hooks;
  return hooks;
}

void AssembleStaticGridMatrices(int n) {
  StaticGridState& st = gState;
  st.sw2 = DrivingRate(RS().rpm, RS().s);
  n = std::min(n, st.N);
  for (int i = 1; i <= n; ++i) AssembleRow(i, n);
  MarkAssembled(n);
}

void ReassembleSolventStiffness(int n) {
  StaticGridState& st = gState;
  const auto& hooks = CurrentStaticGridSolventHooks();
  n = std::min(n, st.N);
  // Only the stiffness follows the solvent; the mass matrix stays.
  if (!hooks.solventStiffness || n != st.assembled || st.openEnd) {
    AssembleStaticGridMatrices(n);
    return;
  }
  LammGrid& g = G();
  st.sw2 = DrivingRate(RS().rpm, RS().s);
  hooks.solventStiffness(st.sw2, RS().D, n, g.StiffnessNewSub, g.StiffnessNewDiag, g.StiffnessNewSuper);
  MarkAssembled(n);
}

void AssembleStaticGridMatricesRomberg() {
  StaticGridState& st = gState;
  LammGrid& g = G();
  st.sw2 = DrivingRate(RS().rpm, RS().s);
  ElementIntegralContext& ctx = st.planar;
  ctx.r = g.Radius;
  ctx.N = st.N;
  SelectIntegralWeight(ctx, ExternalLoadingOilVolume());
  const double D = RS().D;
  for (int i = 1; i <= st.N; ++i)
    for (int d = -1; d <= 1; ++d) {
      const int j = i + d;
      // The driving term carries the test function's slope: int w r phi_j phi_i'.
      const double m = RombergElementIntegralA(ctx, i, j);
      const double k = st.sw2 * RombergElementIntegralC(ctx, j, i) - D * RombergElementIntegralB(ctx, i, j);
      (d < 0 ? g.MassSub : d == 0 ? g.MassDiag : g.MassSuper)[i] = m;
      (d < 0 ? g.StiffnessNewSub : d == 0 ? g.StiffnessNewDiag : g.StiffnessNewSuper)[i] = k;
    }
  MarkAssembled(st.N);
}

double TotalAmountStaticGrid() {
  const LammGrid& g = G();
  const int N = gState.N;
  double sum = 0;
  for (int i = 1; i <= N; ++i) sum += CalcElementIntegral2E(g.Radius, N, i, N) * g.Concentration[i];
  return sum * kSectorFactor;
}

double TotalAmountStaticGridRomberg() {
  const LammGrid& g = G();
  double sum = 0;
  for (int i = 1; i <= gState.N; ++i)
    sum += RombergNodeWeightIntegral(gState.planar, i) * g.Concentration[i];
  return sum * kSectorFactor;
}

void SetupDepletionStopTest() {
  const LammGrid& g = G();
  const ScanSet& ss = CurrentScanSet();
  const int N = g.AllocatedGridSize;
  const double s = RS().s;
  gStop = DepletionStop{};
  if (!g.GridAllocated || N < 3 || s == 0) return;
  const double* r = g.Radius;
  int node = 0;
  if (s > 0) {
    // Beyond the last node, or before the first, the fit range holds no node to watch.
    if (ss.rightFitLimit < r[1] || ss.rightFitLimit >= r[N]) return;
    node = 1;
    while (node <= N && r[node] <= ss.rightFitLimit) ++node;
  } else {
    if (ss.leftFitLimit < r[1] || ss.leftFitLimit >= r[N]) return;
    node = N;
    while (node >= 1 && r[node] > ss.leftFitLimit) --node;
  }
  if (node < 1 || node > N) return;
  const double c = g.Concentration[node];
  // Nothing there yet: a threshold of 0 would stop at the first undershoot.
  // A negative loading (the nonideal models take the signal's sign as it
  // is) depletes towards 0 from below: without its own test a fit that
  // walked the loading negative ran every such solve to the last scan, at
  // a second each.
  if (!(c != 0)) return;
  gStop.node = node;
  gStop.threshold = kDepletionFraction * c;
  gStop.negative = c < 0;
}

bool IsDepletionStopReached() {
  if (gStop.node == 0 || Solvent() || Hooks().zoneCentrifugation()) return false;
  const double c = G().Concentration[gStop.node];
  const bool depleted = gStop.negative ? c > gStop.threshold : c < gStop.threshold;
  if (depleted || (RS().s > 0 && gStop.activeStart > gStop.node)) gStop.stopped = true;
  return gStop.stopped;
}

void StopAndDeliverRemainingScans() {
  LammRunState& rs = RS();
  const ScanSet& ss = CurrentScanSet();
  if (!rs.running) return;  // the last scan is out already, or the user stopped
  LammSolverSettings& set = LammSettings();
  // The profile no longer changes: every scan gets it whole, no slices.
  const std::uint8_t slices = set.simulateTimeResolution;
  set.simulateTimeResolution = 0;
  rs.profilePending = 0;
  const std::uint8_t after = rs.continueAfterLastScan;
  rs.continueAfterLastScan = 0;
  while (rs.scanCounter >= 1 && rs.scanCounter <= ss.count && rs.running) {
    const int before = rs.scanCounter;
    rs.nextScanTime = rs.t;
    Hooks().stepDone(0.0);
    if (before == ss.count || rs.scanCounter == before) break;
  }
  rs.continueAfterLastScan = after;
  set.simulateTimeResolution = slices;
  rs.running = 0;
}

// Without a branch per node (the test runs after every trial). The magnitudes compare as
// their bit patterns, in that order for every value, NaN above all; four
// running maxima, so that none waits on the previous node's.
bool StaticGridProfileOverflows(const double* c, int n) {
  constexpr std::uint64_t kMagnitude = ~(std::uint64_t{1} << 63);
  const std::uint64_t limit = std::bit_cast<std::uint64_t>(1e100);
  std::uint64_t m0 = 0, m1 = 0, m2 = 0, m3 = 0;
  auto bits = [&](int i) { return std::bit_cast<std::uint64_t>(c[i]) & kMagnitude; };
  int i = 1;
  for (; i + 3 <= n; i += 4) {
    m0 = std::max(m0, bits(i));
    m1 = std::max(m1, bits(i + 1));
    m2 = std::max(m2, bits(i + 2));
    m3 = std::max(m3, bits(i + 3));
  }
  for (; i <= n; ++i) m0 = std::max(m0, bits(i));
  return std::max(std::max(m0, m1), std::max(m2, m3)) > limit;
}

int StaticGridStepCount() { return gState.steps; }

void ForgetStaticGridAmountBalance() { gState.balanced = false; }

double StaticGridAmountImbalance() {
  const StaticGridState& st = gState;
  if (!st.balanced || !(std::fabs(st.amount0) > 0) || st.N != G().AllocatedGridSize) return 0;
  const double now = TotalAmountStaticGrid() / kSectorFactor;
  return (now + st.outflow - st.amount0) / std::fabs(st.amount0);
}

int StaticGridFactorisationCount() { return gState.factorisations; }
long StaticGridSolvedRowCount() { return gState.solvedRows; }
long StaticGridEliminatedRowCount() { return gState.eliminatedRows; }
int StaticGridStopNode() { return gStop.node; }
bool StaticGridStoppedEarly() { return gStop.stopped; }

void SimulateStaticGridLamm() {
  LammGrid& g = G();
  LammRunState& rs = RS();
  LammSolverSettings& set = LammSettings();
  if (CurrentSpeedProfile.Active() || !g.GridAllocated) return;
  StaticGridState& st = gState;
  st = StaticGridState{};
  ForgetKeptSystems();
  gStop = DepletionStop{};
  const int N = g.AllocatedGridSize;
  const double* r = g.Radius;
  // A grid of fewer than 3 nodes or with radii out of order has no elements
  // to assemble (a zero-length element divides by zero).
  bool ordered = N >= 3;
  for (int i = 2; i <= N && ordered; ++i) ordered = r[i] > r[i - 1];
  if (!ordered) {
    set.discretizationError = 1;
    return;
  }
  st.N = N;
  st.end = N;
  st.loaded = rs.t;
  st.zone = Hooks().zoneCentrifugation();
  st.eHi = set.workingMaxDcOverC;
  if (!(st.eHi > 0)) st.eHi = 1.0;
  st.eLo = 0.05 * st.eHi;
  st.eTarget = 0.2 * st.eHi;
  set.singularMatrixError = set.discretizationError = 0;

  bool loaded = false;
  for (int i = 1; i <= N; ++i) loaded = loaded || g.Concentration[i] > 0;
  if (!loaded) {
    while (rs.running) {
      rs.t += 10;
      Hooks().stepDone(1.0);
    }
    return;
  }
  // The truncated regions stand for a uniform loading: a depleted start and
  // a plateau that only dilutes. A layered start (a measured scan, a zone)
  // has neither, and its reference level is its highest value, not the
  // meniscus value, which may be depleted already.
  double top = g.Concentration[1], low = g.Concentration[1];
  for (int i = 2; i <= N; ++i) {
    top = std::max(top, g.Concentration[i]);
    low = std::min(low, g.Concentration[i]);
  }
  const bool uniform = top - low <= 1e-12 * top;
  st.cRef = uniform ? g.Concentration[1] : top;
  st.layered = !uniform;
  if (st.layered && !st.zone) {
    // A measured start meets its extrapolations at the fit limits with a
    // kink or a step, which Crank-Nicolson carries on as ringing under steps
    // that may change a node by the whole of its value or outgrow the age of
    // the kink (its width grows as the root of that age): the layer a slow
    // species regrows at the bottom was missed by 3e-3 on any grid, a
    // floating boundary by 1.9e-3 on 1000 nodes.
    st.eHi = std::min(st.eHi, kLayeredStartChange);
    st.eLo = 0.05 * st.eHi;
    st.eTarget = 0.2 * st.eHi;
  }
  const auto& hooks = CurrentStaticGridSolventHooks();
  if (Solvent() && hooks.initLocalSDFactors) hooks.initLocalSDFactors(r, N);
  if (Cosolute() && hooks.initCosoluteGradient) hooks.initCosoluteGradient();

  st.geometry = ChoosePlanarGeometry(st.planar);
  st.openEnd = !st.geometry && gSteepBoundary && set.shutOffBackDiffusion && N > 20;
  if (st.geometry) AssembleStaticGridMatricesRomberg();
  else AssembleStaticGridMatrices(N);
  st.startCap = static_cast<int>(std::floor(0.95 * N));
  const double s = rs.s;
  st.threshold = set.truncationLevel * st.cRef;
  st.start = 1;
  if (!set.truncateGrid || s <= 0 || st.zone || !uniform) {
    st.startTruncation = st.endTruncation = false;
    st.end = N;
  } else {
    st.startTruncation = true;
    st.sw2 = DrivingRate(rs.rpm, s);
    st.plateau = st.cRef;
    st.plateauTime = rs.t;
    st.extension = std::max(1, static_cast<int>(std::floor(0.1 * N)));
    st.endTruncation = st.openEnd && !Solvent() && !st.geometry;
    if (st.endTruncation) {
      st.end = st.extension;
      ReassembleActiveEnd(st.extension);
    }
  }
  // The cut plateau of a uniform loading is analytic and an inhomogeneous
  // solvent or a planar cell has its own element integrals: the balance is
  // kept for the plain sector solved whole.
  st.balanced = !st.endTruncation && !st.geometry && !Solvent() && !st.zone && N >= 3;
  st.outflow = 0;
  st.amount0 = st.balanced ? TotalAmountStaticGrid() / kSectorFactor : 0;
  if (s == 0) {
    st.dtMax = 1000;
  } else {
    st.dtMax = std::clamp(0.5 * rs.fullSpeed * rs.fullSpeed * rs.D / std::fabs(s), 10.0, 1000.0);
  }
  SetupDepletionStopTest();
  if (st.zone || st.layered) rs.dt = kLayeredFirstStep;
  // Steps by the boundary rule from an even loading: the rows between the
  // boundary and the far end keep the loading until either comes near; they
  // are held out of the solve meanwhile.
  bool even = rs.boundaryStepFraction > 0 && rs.D > 0 && s != 0 && !st.zone && !Solvent() && !Cosolute() &&
              N >= 60 && st.cRef != 0;
  for (int i = 2; i <= N && even; ++i) even = g.Concentration[i] == st.cRef;
  if (even) {
    st.heldStep = std::max(8, N / 20);
    st.heldFrom = st.heldStep + 1;
    st.heldTo = N - st.heldStep;
    st.heldValue = st.cRef;
  }

  const ScanSet& ss = CurrentScanSet();
  double lastScan = rs.t;
  if (ss.count >= 1) {
    const ScanRecord& last = ss.records[ss.order[ss.count]];
    lastScan = set.rampRotorSpeed && !CurrentDataTypeFlags().dls ? last.time : last.timeRead;
  }
  int stalled = 0, still = 0;
  CQuietSteps quiet;
  while (rs.running) {
    if (set.singularMatrixError || set.discretizationError) break;
    // Steps held near the floor of 1e-15 s no longer move the clock: the
    // solve has failed (the step control alone would go on forever).
    if (rs.dt > 1e-10) {
      stalled = 0;
    } else if (++stalled > 1000) {
      set.discretizationError = 1;
      break;
    }
    const double dtPrev = rs.dt == 0 ? 1.0 : rs.dt;
    if (Cosolute() && hooks.setCosoluteTime) hooks.setCosoluteTime(rs.t);
    const double before = rs.t;
    double progress = StaticGridLammStep();
    if (set.singularMatrixError || set.discretizationError) break;
    // Nor does a solve whose steps leave the clock where it was.
    if (rs.t > before) {
      still = 0;
    } else if (++still > 1000) {
      set.discretizationError = 1;
      break;
    }
    if (st.startTruncation) {
      AdvanceActiveStart();
      ExtendActiveEnd(rs.t);
    }
    if (Cosolute() && hooks.stepCosoluteGradient) hooks.stepCosoluteGradient();
    if (DynamicGradient()) {
      if (hooks.updateLocalSDFactors) hooks.updateLocalSDFactors(r, N);
      ReassembleSolventStiffness(st.end);
      st.rebuild = true;
    }
    Hooks().stepDone(progress);
    progress /= dtPrev;
    if (rs.running && IsDepletionStopReached()) {
      StopAndDeliverRemainingScans();
      break;
    }
    // Steady only when the present rate could not change the profile
    // noticeably before the last scan either.
    const double remaining = std::max(0.0, lastScan - rs.t);
    if (quiet.Count(IsQuietStep(dtPrev, progress, set.equilibriumThreshold, remaining)))
      StopAndDeliverRemainingScans();
  }
}

int RunStaticGridLammSpecies() {
  SimulateStaticGridLamm();
  const LammSolverSettings& set = LammSettings();
  if (set.singularMatrixError) return 3;
  if (set.discretizationError) return 2;
  return 0;
}
