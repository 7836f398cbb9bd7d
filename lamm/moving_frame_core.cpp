// Moving-frame core: frame integrals, assembly, Crank-Nicolson steps, the
// stored period factorization and the frame shift (equations in the header).
#include "lamm/moving_frame_core.h"

#include <algorithm>
#include <cmath>
#include <vector>


#include "lamm/element_integrals.h"
#include "lamm/fe_integrals.h"
#include "lamm/solvent_model.h"
#include "lamm/static_grid_kernels.h"
#include "numerics/constants.h"
#include "platform/error_box.h"

namespace {
// Below this many rows the period system is factorised from the top alone.
constexpr int kTwistedRows = 16;


// The eight boundary positions (1,1) (1,2) (2,1) (2,2) (N-1,N-1) (N-1,N)
// (N,N-1) (N,N) as (row, column) pairs.
void BoundaryPair(int k, int N, int& i, int& j) {
  static const int rows[8] = {1, 1, 2, 2, -1, -1, 0, 0};
  static const int cols[8] = {1, 2, 1, 2, -1, 0, -1, 0};
  i = rows[k] <= 0 ? N + rows[k] : rows[k];
  j = cols[k] <= 0 ? N + cols[k] : cols[k];
}

double& Band(double* lo, double* di, double* up, int i, int j) {
  if (j == i - 1) return lo[i];
  if (j == i + 1) return up[i];
  return di[i];
}
}  // namespace

// ------------------------------------------------------------ frame integrals

double CMovingFrameCore::IntegralMass(int i, int j) const {
  return static_cast<double>(FEIntegralMassNonUniform(xi, N, i, j, N));
}

double CMovingFrameCore::IntegralWeight(int i) const {
  return static_cast<double>(FEIntegralSedimentation(xi, N, i, N));
}

namespace {
// Rows and columns next to the ends see the moving end radii; the moments
// hold only the interior elements as they were prepared.
bool NearEnd(int i, int j, int N) { return i <= 2 || j <= 2 || i >= N - 1 || j >= N - 1; }
}  // namespace

double CMovingFrameCore::IntegralDiffusion(int i, int j) const {
  double v;
  if (!solvent) v = static_cast<double>(FEIntegralDiffusionNonUniform(xi, N, i, j, N));
  else if (NearEnd(i, j, N)) v = WeightedElementA(i, j, xi, N, solvent->e.data());
  else v = solvent->MomentA(i, j, N);
  // Outflow terms carry the factor of their end node.
  const double e1 = solvent ? solvent->e[1] : 1.0, eN = solvent ? solvent->e[N] : 1.0;
  if (steep && s < 0) {
    const double t = e1 * xi[1] / (xi[2] - xi[1]);
    if (i == 1 && j == 1) v -= t;
    if (i == 1 && j == 2) v += t;
  } else if (steep && s > 0) {
    const double t = eN * xi[N] / (xi[N] - xi[N - 1]);
    if (i == N && j == N) v -= t;
    if (i == N && j == N - 1) v += t;
  }
  return v;
}

double CMovingFrameCore::IntegralSedimentation(int i, int j) const {
  double v;
  if (!solvent) v = static_cast<double>(FEIntegralSedimentationNonUniform(xi, N, i, j, N));
  else if (NearEnd(i, j, N)) v = WeightedElementB(i, j, xi, N, solvent->e.data(), solvent->q.data());
  else v = solvent->MomentB(i, j, N);
  // Outflow where the species piles up: the flux k_s r^2 c leaves the cell.
  const double f1 = solvent ? solvent->e[1] * solvent->q[1] : 1.0;
  const double fN = solvent ? solvent->e[N] * solvent->q[N] : 1.0;
  if (steep && s < 0 && i == 1 && j == 1) v += f1 * xi[1] * xi[1];
  if (steep && s > 0 && i == N && j == N) v -= fN * xi[N] * xi[N];
  return v;
}

double CMovingFrameCore::IntegralMotion(int i, int j) const {
  return CalcElementIntegral2L(xi, N, i, j);
}

double CMovingFrameCore::IntegralCombined(int i, int j) const {
  double v = IntegralMotion(i, j) -
             static_cast<double>(FEIntegralSedimentationNonUniform(xi, N, i, j, N));
  // The same outflow terms as Motion - Sedimentation carries: -xi_1^2 at
  // the meniscus for flotation, +xi_N^2 at the bottom for sedimentation.
  if (steep && s < 0 && i == 1 && j == 1) v -= xi[1] * xi[1];
  if (steep && s > 0 && i == N && j == N) v += xi[N] * xi[N];
  return v;
}

double CMovingFrameCore::FrameStiffness(int i, int j) const {
  return kF * IntegralMotion(i, j) - kS * IntegralSedimentation(i, j);
}

// ------------------------------------------------------------ grid and bands

void CMovingFrameCore::SetupGrid(double rpm, double t) {
  const double m = meniscus, b = bottom;
  const double w2 = Omega2(rpm);
  kS = w2 * s * 1e-13;
  kF = w2 * sStar * 1e-13;
  t0 = t;
  period = sStar == 0 ? 1e10 : std::log(b / m) * (1.0 / (N - 1)) * (1.0 / std::fabs(kF));
  const double q = std::pow(b / m, 1.0 / (N - 1));
  xi[1] = m;
  if (sStar >= 0) {
    for (int i = 2; i <= N - 1; ++i) xi[i] = m * std::pow(b / m, (i - 1.5) / (N - 1));
  } else {
    xi[2] = m * std::pow(b / m, 1.5 / (N - 1));
    for (int i = 3; i <= N - 1; ++i) xi[i] = xi[i - 1] * q;
  }
  xi[N] = b;
  for (int i = 1; i <= N; ++i) r[i] = xi[i];
}

void CMovingFrameCore::Assemble(double rpm, double t) {
  SetupGrid(rpm, t);
  for (int i = 1; i <= N; ++i) {
    const int j0 = i - 1, j2 = i + 1;
    Klo[i] = i > 1 ? IntegralDiffusion(i, j0) : 0;
    Kdi[i] = IntegralDiffusion(i, i);
    Kup[i] = i < N ? IntegralDiffusion(i, j2) : 0;
    Blo[i] = i > 1 ? kS * IntegralSedimentation(i, j0) : 0;
    Bdi[i] = kS * IntegralSedimentation(i, i);
    Bup[i] = i < N ? kS * IntegralSedimentation(i, j2) : 0;
    Clo[i] = i > 1 ? FrameStiffness(i, j0) : 0;
    Cdi[i] = FrameStiffness(i, i);
    Cup[i] = i < N ? FrameStiffness(i, j2) : 0;
    Mlo[i] = i > 1 ? IntegralMass(i, j0) : 0;
    Mdi[i] = IntegralMass(i, i);
    Mup[i] = i < N ? IntegralMass(i, j2) : 0;
  }
  const double m = meniscus, b = bottom;
  const double x2 = xi[2], x3 = xi[3], y1 = xi[N - 1], y2 = xi[N - 2];
  E[1] = (x2 * x2 + m * x2 - 2 * m * m) / 6;
  E[2] = (x2 + m + x3) * (x3 - m) / 6;
  E[3] = x2 * x2 / 3 - x2 * m / 6 - m * m / 6;
  E[4] = x3 * x3 / 3 - x3 * x2 / 6 - x2 * x2 / 6;
  E[5] = (y1 * y1 + y2 * y1 - 2 * y2 * y2) / 6;
  E[6] = (b * b + y1 * b - 2 * y1 * y1) / 6;
  E[7] = (y1 + y2 + b) * (b - y2) / 6;
  E[8] = b * b / 3 - b * y1 / 6 - y1 * y1 / 6;
}

void CMovingFrameCore::UpdateSedimentationTerms(double rpm) {
  kS = Omega2(rpm) * s * 1e-13;
  for (int i = 1; i <= N; ++i) {
    Blo[i] = i > 1 ? kS * IntegralSedimentation(i, i - 1) : 0;
    Bdi[i] = kS * IntegralSedimentation(i, i);
    Bup[i] = i < N ? kS * IntegralSedimentation(i, i + 1) : 0;
    Clo[i] = i > 1 ? FrameStiffness(i, i - 1) : 0;
    Cdi[i] = FrameStiffness(i, i);
    Cup[i] = i < N ? FrameStiffness(i, i + 1) : 0;
  }
  storedReady = false;  // the stored period system holds the old speed
}

void CMovingFrameCore::UpdateSolventTerms(double rpm) {
  if (!solvent || !solvent->MomentsFor(xi, N) || N < 6) {
    for (int i = 1; i <= N; ++i) {
      Klo[i] = i > 1 ? IntegralDiffusion(i, i - 1) : 0;
      Kdi[i] = IntegralDiffusion(i, i);
      Kup[i] = i < N ? IntegralDiffusion(i, i + 1) : 0;
    }
    UpdateSedimentationTerms(rpm);
    return;
  }
  // One sweep over the elements for each band; the frame part k Motion of
  // C stays as it is (the frame radii do not change): C = C + B_old - B_new.
  kS = Omega2(rpm) * s * 1e-13;
  solvent->Stiffness(0, -1, N, Klo, Kdi, Kup);
  for (int i = 1; i <= N; ++i) Clo[i] += Blo[i], Cdi[i] += Bdi[i], Cup[i] += Bup[i];
  solvent->Stiffness(kS, 0, N, Blo, Bdi, Bup);
  for (int i = 1; i <= N; ++i) Clo[i] -= Blo[i], Cdi[i] -= Bdi[i], Cup[i] -= Bup[i];
  // The rows at the ends carry the outflow terms and see the moving end
  // radii: made in full.
  for (int i : {1, 2, N - 1, N})
    for (int j = i - 1; j <= i + 1; ++j) {
      if (j < 1 || j > N) continue;
      Band(Klo, Kdi, Kup, i, j) = IntegralDiffusion(i, j);
      Band(Blo, Bdi, Bup, i, j) = kS * IntegralSedimentation(i, j);
      Band(Clo, Cdi, Cup, i, j) = FrameStiffness(i, j);
    }
  storedReady = false;
}

void CMovingFrameCore::SetFrameEndRadii(double tau) {
  const double e = std::exp(kF * tau);
  xi[1] = meniscus / e;
  xi[N] = bottom / e;
}

void CMovingFrameCore::RefreshBoundaryEntries() {
  for (int k = 0; k < 8; ++k) {
    int i, j;
    BoundaryPair(k, N, i, j);
    Band(Mlo, Mdi, Mup, i, j) = IntegralMass(i, j);
    Band(Klo, Kdi, Kup, i, j) = IntegralDiffusion(i, j);
    Band(Blo, Bdi, Bup, i, j) = kS * IntegralSedimentation(i, j);
    Band(Clo, Cdi, Cup, i, j) = FrameStiffness(i, j);
  }
}

void CMovingFrameCore::BoundaryEntriesAt(double tau) {
  const double x1 = xi[1], xN = xi[N];
  SetFrameEndRadii(tau);
  for (int k = 0; k < 8; ++k) {
    int i, j;
    BoundaryPair(k, N, i, j);
    endStore[0][k] = IntegralMass(i, j);
    endStore[1][k] = IntegralDiffusion(i, j);
    endStore[2][k] = kS * IntegralSedimentation(i, j);
    endStore[3][k] = FrameStiffness(i, j);
  }
  xi[1] = x1;
  xi[N] = xN;
}

bool CMovingFrameCore::PrecomputeFramePeriodSystem() {
  const double P = period;
  const double f1 = std::exp(kF * P);
  const double d0 = D, d1 = D / (f1 * f1);
  SetFrameEndRadii(0);
  RefreshBoundaryEntries();
  BoundaryEntriesAt(P);
  // Mass averaged over the period at its eight time-dependent entries.
  double Mbar[8];
  for (int k = 0; k < 8; ++k) {
    int i, j;
    BoundaryPair(k, N, i, j);
    Mbar[k] = 0.5 * (Band(Mlo, Mdi, Mup, i, j) + endStore[0][k]);
  }
  for (int i = 1; i <= N; ++i) {
    Tlo[i] = Mlo[i] + 0.5 * P * (-d0 * Klo[i] - Clo[i]);
    Tdi[i] = Mdi[i] + 0.5 * P * (-d0 * Kdi[i] - Cdi[i]);
    Tup[i] = Mup[i] + 0.5 * P * (-d0 * Kup[i] - Cup[i]);
    Slo[i] = Mlo[i] - 0.5 * P * (-d1 * Klo[i] - Clo[i]);
    Srat[i] = Mup[i] - 0.5 * P * (-d1 * Kup[i] - Cup[i]);  // left super-diagonal for now
    Spiv[i] = Mdi[i] - 0.5 * P * (-d1 * Kdi[i] - Cdi[i]);
  }
  for (int k = 0; k < 8; ++k) {
    int i, j;
    BoundaryPair(k, N, i, j);
    const double l0 = -d0 * Band(Klo, Kdi, Kup, i, j) - Band(Clo, Cdi, Cup, i, j);
    const double l1 = -d1 * endStore[1][k] - endStore[3][k];
    Band(Tlo, Tdi, Tup, i, j) = Mbar[k] + 0.5 * P * l0;
    Band(Slo, Spiv, Srat, i, j) = Mbar[k] - 0.5 * P * l1;
  }
  // The rows below the twist factorised from the bottom, from the entries as
  // assembled; kept aside until the factorisation from the top has checked
  // every pivot.
  storedReady = false;
  twist = 0;
  static thread_local std::vector<double> fromBottom;
  int middle = N >= kTwistedRows ? N / 2 : 0;
  if (middle > 0) {
    // Per row below the middle: reciprocal pivot, super-diagonal and
    // sub-diagonal over the pivot.
    fromBottom.assign(3 * static_cast<size_t>(N + 1), 0.0);
    double* inv = fromBottom.data();
    double* up = inv + (N + 1);
    double* lo = up + (N + 1);
    double pivot = Spiv[N];
    for (int i = N;; --i) {
      if (pivot == 0 || !std::isfinite(pivot)) {
        middle = 0;
        break;
      }
      inv[i] = 1.0 / pivot;
      up[i] = Srat[i] * inv[i];
      lo[i] = Slo[i] * inv[i];
      if (i == middle + 1) break;
      pivot = Spiv[i - 1] - Srat[i - 1] * lo[i];
    }
  }
  const double middleLo = middle > 0 ? Slo[middle] : 0, middleDi = middle > 0 ? Spiv[middle] : 0,
               middleUp = middle > 0 ? Srat[middle] : 0;
  // Factorise the left matrix in place: Spiv the pivots, Srat the ratios.
  // Every pivot is checked, as in the step-by-step solve.
  if (Spiv[1] == 0 || !std::isfinite(Spiv[1])) {
    if (!quiet) ErrorBox("Error 1 in tridag");
    tridagError = 1;
    return false;
  }
  double upPrev = Srat[1];
  for (int i = 2; i <= N; ++i) {
    const double ratio = upPrev / Spiv[i - 1];
    upPrev = Srat[i];
    Srat[i] = ratio;
    Spiv[i] = Spiv[i] - Slo[i] * ratio;
    if (Spiv[i] == 0 || !std::isfinite(Spiv[i])) {
      if (!quiet) ErrorBox("Error 2 in tridag");
      tridagError = 2;
      return false;
    }
  }
  Srat[1] = 0;
  // Kept as reciprocal pivots and sub-diagonal / pivot: the period steps then
  // substitute without divisions.
  for (int i = 1; i <= N; ++i) {
    Spiv[i] = 1.0 / Spiv[i];
    Slo[i] *= Spiv[i];
  }
  if (middle > 0) {
    // Row `middle` meets both: its pivot less what each side's elimination
    // takes from it.
    const double* inv = fromBottom.data();
    const double* up = inv + (N + 1);
    const double* lo = up + (N + 1);
    const double pivot = middleDi - middleLo * Srat[middle] - middleUp * lo[middle + 1];
    if (pivot != 0 && std::isfinite(pivot)) {
      for (int i = middle + 1; i <= N; ++i) {
        Spiv[i] = inv[i];
        Slo[i] = up[i];
        Srat[i] = lo[i];
      }
      twist = middle;
      twistLo = middleLo;
      twistUp = middleUp;
      twistPivot = 1.0 / pivot;
    }
  }
  storedReady = true;
  return true;
}

void CMovingFrameCore::SolveStoredPeriodStep() {
  // Each row of T cPrev over its pivot first, several rows at a time (the
  // same products and sums per row as one at a time), then the sweeps, which
  // wait on their chains of products alone.
  auto right = [&](int i) {
    if (i == 1) return Tdi[1] * cPrev[1] + Tup[1] * cPrev[2];
    if (i == N) return Tlo[N] * cPrev[N - 1] + Tdi[N] * cPrev[N];
    return Tlo[i] * cPrev[i - 1] + Tdi[i] * cPrev[i] + Tup[i] * cPrev[i + 1];
  };
  double* g = rhs;
  g[1] = right(1) * Spiv[1];
  PeriodRightSides(Tlo, Tdi, Tup, cPrev, Spiv, g, 2, N - 1);
  g[N] = right(N) * Spiv[N];
  if (twist == 0) {
    double y = g[1];
    c[1] = y;
    for (int k = 2; k <= N; ++k) {
      y = g[k] - Slo[k] * y;
      c[k] = y;
    }
    for (int k = N - 1; k >= 1; --k) {
      y = c[k] - Srat[k + 1] * y;
      c[k] = y;
    }
    return;
  }
  // Down from the top to the row above the twist, up from the bottom to the
  // row below it, side by side.
  const int m = twist;
  double top = g[1], bottom = g[N];
  c[1] = top;
  c[N] = bottom;
  const int pairs = std::min(m - 2, N - m - 1);
  for (int k = 0; k < pairs; ++k) {
    const int a = 2 + k, b = N - 1 - k;
    top = g[a] - Slo[a] * top;
    bottom = g[b] - Slo[b] * bottom;
    c[a] = top;
    c[b] = bottom;
  }
  for (int a = 2 + pairs; a < m; ++a) {
    top = g[a] - Slo[a] * top;
    c[a] = top;
  }
  for (int b = N - 1 - pairs; b > m; --b) {
    bottom = g[b] - Slo[b] * bottom;
    c[b] = bottom;
  }
  // The twist row from its neighbours' partial solutions.
  const double x = (right(m) - twistLo * c[m - 1] - twistUp * c[m + 1]) * twistPivot;
  c[m] = x;
  // Back out to either end.
  top = bottom = x;
  const int back = std::min(m - 1, N - m);
  for (int k = 1; k <= back; ++k) {
    const int a = m - k, b = m + k;
    top = c[a] - Srat[a + 1] * top;
    bottom = c[b] - Srat[b] * bottom;
    c[a] = top;
    c[b] = bottom;
  }
  for (int a = m - 1 - back; a >= 1; --a) {
    top = c[a] - Srat[a + 1] * top;
    c[a] = top;
  }
  for (int b = m + 1 + back; b <= N; ++b) {
    bottom = c[b] - Srat[b] * bottom;
    c[b] = bottom;
  }
}

bool CMovingFrameCore::Tridag(const double* a, const double* b, const double* cc,
                              const double* right, double* u, int n) {
  // Every pivot is checked: a zero or non-finite one is a singular system.
  double bet = b[1];
  if (bet == 0 || !std::isfinite(bet)) {
    if (!quiet) ErrorBox("Error 1 in tridag");
    tridagError = 1;
    return false;
  }
  u[1] = right[1] / bet;
  for (int j = 2; j <= n; ++j) {
    gam[j] = cc[j - 1] / bet;
    bet = b[j] - a[j] * gam[j];
    if (bet == 0 || !std::isfinite(bet)) {
      if (!quiet) ErrorBox("Error 2 in tridag");
      tridagError = 2;
      return false;
    }
    u[j] = (right[j] - a[j] * u[j - 1]) / bet;
  }
  for (int j = n - 1; j >= 1; --j) u[j] -= gam[j + 1] * u[j + 1];
  return true;
}

// ------------------------------------------------------------ stepping

void CMovingFrameCore::ClampOverflowAtEnds() {
  if (D > 2e-8) return;
  if (s > 0 && std::fabs(c[N]) >= 1e30)
    for (int i = N; i >= std::max(1, N - 20); --i)
      if (std::fabs(c[i]) > 1e35) c[i] *= 0.1;
  if (s < 0 && std::fabs(c[1]) >= 1e15)
    for (int i = 1; i <= std::min(20, N); ++i)
      if (std::fabs(c[i]) > 1e15) c[i] *= 0.1;
}

bool CMovingFrameCore::Step(double t, double dt, bool stored) {
  if (stored) {
    if (!storedReady && !PrecomputeFramePeriodSystem()) {
      for (int i = 1; i <= N; ++i) c[i] = cPrev[i];
      return false;
    }
    SetFrameEndRadii(0);
    SolveStoredPeriodStep();
    ClampOverflowAtEnds();
    return true;
  }
  const double tau = t - t0;
  const double f0 = std::exp(kF * tau), f1 = std::exp(kF * (tau + dt));
  const double d0 = D / (f0 * f0), d1 = D / (f1 * f1);
  SetFrameEndRadii(tau);
  RefreshBoundaryEntries();
  BoundaryEntriesAt(tau + dt);
  for (int k = 0; k < 8; ++k) {
    int i, j;
    BoundaryPair(k, N, i, j);
    double& m = Band(Mlo, Mdi, Mup, i, j);
    m = 0.5 * (m + endStore[0][k]);
  }
  for (int i = 1; i <= N; ++i) {
    L0lo[i] = -d0 * Klo[i] - Clo[i];
    L0di[i] = -d0 * Kdi[i] - Cdi[i];
    L0up[i] = -d0 * Kup[i] - Cup[i];
    L1lo[i] = -d1 * Klo[i] - Clo[i];
    L1di[i] = -d1 * Kdi[i] - Cdi[i];
    L1up[i] = -d1 * Kup[i] - Cup[i];
  }
  for (int k = 0; k < 8; ++k) {
    int i, j;
    BoundaryPair(k, N, i, j);
    Band(L1lo, L1di, L1up, i, j) = -d1 * endStore[1][k] - endStore[3][k];
  }
  const double h = 0.5 * dt;
  // rhs = (M + dt/2 L0) c_old, left = M - dt/2 L1
  for (int i = 1; i <= N; ++i) {
    double v = (Mdi[i] + h * L0di[i]) * cPrev[i];
    if (i > 1) v += (Mlo[i] + h * L0lo[i]) * cPrev[i - 1];
    if (i < N) v += (Mup[i] + h * L0up[i]) * cPrev[i + 1];
    rhs[i] = v;
    Alo[i] = Mlo[i] - h * L1lo[i];
    Adi[i] = Mdi[i] - h * L1di[i];
    Aup[i] = Mup[i] - h * L1up[i];
  }
  // The averaged mass entries are for this step only.
  RefreshBoundaryEntries();
  if (!Tridag(Alo, Adi, Aup, rhs, c, N)) {
    for (int i = 1; i <= N; ++i) c[i] = cPrev[i];
    return false;
  }
  ClampOverflowAtEnds();
  return true;
}

double CMovingFrameCore::LayeredFirstStep() const {
  if (!(D > 0) || N < 2) return period;
  double h = HUGE_VAL;
  for (int i = 1; i < N; ++i) h = std::min(h, xi[i + 1] - xi[i]);
  // A diffusion so fast that the elements smooth everything at once needs
  // no grading: the steps start at no less than a millionth of the period.
  return std::min(period, std::max(0.25 * h * h / D, 1e-6 * period));
}

double CMovingFrameCore::LayeredStep(double first, double start, double t, double frameStep) const {
  constexpr double kStepAge = 0.5;
  // Never a step that the clock cannot add.
  const double wanted = std::max({first, kStepAge * (t - start), 1e-12 * std::fabs(t)});
  const double left = t0 + period - t;
  if (wanted >= frameStep || !(left > 0)) return 0;
  return std::min(wanted, left);
}

double CMovingFrameCore::TotalAmount(double t) const {
  const double f = std::exp(kF * (t - t0));
  // Frame end radii as they are at time t.
  const double x1 = xi[1], xN = xi[N];
  xi[1] = meniscus / f;
  xi[N] = bottom / f;
  double sum = 0;
  for (int i = 1; i <= N; ++i) sum += IntegralWeight(i) * f * f * c[i];
  xi[1] = x1;
  xi[N] = xN;
  return sum * kSectorFactor;
}

void CMovingFrameCore::ShiftFrame(double t) {
  const double tau = t - t0;
  const double e = std::exp(kF * tau), f2 = e * e;
  SetFrameEndRadii(tau);
  const double m = meniscus, b = bottom;
  double W[5] = {0, IntegralWeight(1), IntegralWeight(2), IntegralWeight(N - 1),
                 IntegralWeight(N)};  // W1, W2, W_(N-1), W_N
  double n1, n2, nN1, nN;  // new values of nodes 1, 2, N-1, N
  if (s < 0) {
    if (D != 0 || std::fabs(s) <= 1e-10) {
      nN = c[N];
      nN1 = c[N] + (xi[N - 1] - b) * (c[N - 1] - c[N]) / ((xi[N - 1] - xi[N]) * e);
    } else {
      nN = 0;
      const double E9 = (xi[N] * xi[N] + xi[N - 1] * xi[N] - 2 * xi[N - 1] * xi[N - 1]) / 6;
      const double Q = (c[N - 1] * E9 + W[4] * c[N]) * f2;
      nN1 = (Q - E[5] * c[N - 1]) / E[7];
    }
    const double Q = (c[3] * E[4] + W[2] * c[2] + W[1] * c[1]) * f2;
    n2 = c[3];
    n1 = (Q - E[3] * c[3]) / E[1];
    if (n1 < n2) n1 = n2 = (n2 * E[2] + n1 * E[1]) / (E[2] + E[1]);
    if (N > 4) std::copy(c + 4, c + N, c + 3);
  } else {
    const double Q = (c[N - 2] * E[5] + W[3] * c[N - 1] + W[4] * c[N]) * f2;
    nN1 = c[N - 2];
    nN = (Q - c[N - 2] * E[6]) / E[8];
    if (s > 0 && nN < nN1) nN1 = nN = (nN1 * E[7] + nN * E[8]) / (E[8] + E[7]);
    if (D != 0 || s <= 1e-10) {
      n1 = c[1];
      n2 = c[1] + (xi[2] - m) * (c[2] - c[1]) / ((xi[2] - xi[1]) * e);
    } else {
      n1 = 0;
      n2 = (((xi[2] * xi[2] / 3 - xi[2] * xi[1] / 6 - xi[1] * xi[1] / 6) * f2 - E[4]) * c[2] +
            W[1] * f2 * c[1]) /
           E[2];
    }
    if (N > 4) std::copy_backward(c + 2, c + N - 2, c + N - 1);
  }
  c[1] = n1;
  c[2] = n2;
  c[N - 1] = nN1;
  c[N] = nN;
  for (int i = 1; i <= N; ++i) cPrev[i] = c[i];
  xi[1] = m;
  xi[N] = b;
  t0 = t;
  RefreshBoundaryEntries();
}

void CMovingFrameCore::UpdateRadii(double t) {
  if (!xi) return;
  const double f = std::exp((t - t0) * kF);
  for (int i = 2; i <= N - 1; ++i) r[i] = f * xi[i];
  r[1] = meniscus;
  r[N] = bottom;
}
