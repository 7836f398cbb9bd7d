#include "lamm/lamm_conc_dependent.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "lamm/fe_integrals.h"
#include "lamm/lamm_ideal.h"
#include "lamm/quiet_steps.h"
#include "lamm/static_grid_kernels.h"
#include "numerics/constants.h"
#include "numerics/vector_kernel.h"
#include "platform/error_box.h"

namespace {
// Lanes of doubles for the components solved side by side.
typedef double Lanes2 __attribute__((vector_size(16)));
typedef float Floats2 __attribute__((vector_size(8)));
// Unaligned loads and stores of two lanes.
inline Lanes2 Load2(const double* p) {
  Lanes2 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void Store2(double* p, Lanes2 v) { std::memcpy(p, &v, sizeof v); }
typedef double Lanes4 __attribute__((vector_size(32)));

// The operands of the Crank-Nicolson rows of a concentration-dependent step.
struct StepRows {
  const double* B[7];
  const double* C[7];
  const double *alo, *adi, *aup, *s, *D, *x;
  double *llo, *ldi, *lup, *rhs;
  double w2, h;
};

// The left bands A - dt/2 K and the right-hand side (A + dt/2 K) x of rows
// from, from + 1, ... (each with both neighbours) in the lanes of V, as long
// as a whole vector of rows lies below `end`; returns the first row left.
// Every lane forms its row by the scalar products and sums, in their order
// and none fused, so that every kernel gives the scalar loop's bits.
template <typename V>
__attribute__((always_inline)) inline int StepRowsBody(const StepRows& a, int from, int end) {
  constexpr int W = static_cast<int>(sizeof(V) / sizeof(double));
  const double *__restrict B0 = a.B[0], *__restrict B1 = a.B[1], *__restrict B2 = a.B[2], *__restrict B3 = a.B[3],
                           *__restrict B4 = a.B[4], *__restrict B5 = a.B[5], *__restrict B6 = a.B[6];
  const double *__restrict C0 = a.C[0], *__restrict C1 = a.C[1], *__restrict C2 = a.C[2], *__restrict C3 = a.C[3],
                           *__restrict C4 = a.C[4], *__restrict C5 = a.C[5], *__restrict C6 = a.C[6];
  const double *__restrict alo = a.alo, *__restrict adi = a.adi, *__restrict aup = a.aup;
  const double *__restrict s = a.s, *__restrict D = a.D, *__restrict x = a.x;
  double *__restrict llo = a.llo, *__restrict ldi = a.ldi, *__restrict lup = a.lup, *__restrict rhs = a.rhs;
  const double w2 = a.w2, h = a.h;
  // Loads and stores by reference: no vector is passed or returned by value
  // (the unoptimised build calls these, and a vector wider than the
  // baseline's has no calling convention there).
  auto load = [](V& v, const double* p) { std::memcpy(&v, p, sizeof v); };
  auto put = [](double* p, const V& v) { std::memcpy(p, &v, sizeof v); };
  int i = from;
  for (; i + W <= end; i += W) {
    V sm, si, sp, Dm, Di, Dp, b0, b1, b2, b3, b4, b5, b6, c0, c1, c2, c3, c4, c5, c6, a0, a1, a2, xm, xi, xp;
    load(sm, s + i - 1), load(si, s + i), load(sp, s + i + 1);
    load(Dm, D + i - 1), load(Di, D + i), load(Dp, D + i + 1);
    load(b0, B0 + i), load(b1, B1 + i), load(b2, B2 + i), load(b3, B3 + i), load(b4, B4 + i), load(b5, B5 + i);
    load(b6, B6 + i);
    load(c0, C0 + i), load(c1, C1 + i), load(c2, C2 + i), load(c3, C3 + i), load(c4, C4 + i), load(c5, C5 + i);
    load(c6, C6 + i);
    load(a0, alo + i), load(a1, adi + i), load(a2, aup + i);
    load(xm, x + i - 1), load(xi, x + i), load(xp, x + i + 1);
    const V lo = w2 * (sm * c0 + si * c2) - (Dm * b0 + Di * b2);
    const V di = w2 * (sm * c1 + si * c3 + sp * c5) - (Dm * b1 + Di * b3 + Dp * b5);
    const V up = w2 * (si * c4 + sp * c6) - (Di * b4 + Dp * b6);
    put(llo + i, a0 - h * lo);
    put(ldi + i, a1 - h * di);
    put(lup + i, a2 - h * up);
    put(rhs + i, (a1 + h * di) * xi + (a0 + h * lo) * xm + (a2 + h * up) * xp);
  }
  return i;
}

// The linear nonideality factors of nodes from, from + 1, ... while a whole
// vector of them lies below `end`: fs = max(float(1 - ks c), 0) and
// fd = float(kd c + 1), each lane's arithmetic and conversions the scalar
// ones. `good` is cleared when an fd lies outside (0, the float range].
// Returns the first node left.
template <typename V, typename F>
__attribute__((always_inline)) inline int FactorRowsBody(const double* __restrict total, double ks, double kd,
                                                         double* __restrict fs, double* __restrict fd, int from,
                                                         int end, bool& good) {
  constexpr int W = static_cast<int>(sizeof(V) / sizeof(double));
  const V zero = {}, limit = zero + static_cast<double>(3.4e38f);
  V ok = zero + 1.0;  // 1 in a lane whose factors have all been in range
  int i = from;
  for (; i + W <= end; i += W) {
    V t;
    std::memcpy(&t, total + i, sizeof t);
    const V sf = __builtin_convertvector(__builtin_convertvector(1.0 - ks * t, F), V);
    const V df = __builtin_convertvector(__builtin_convertvector(kd * t + 1.0, F), V);
    const V sfKept = sf > 0 ? sf : zero;
    std::memcpy(fs + i, &sfKept, sizeof sfKept);
    std::memcpy(fd + i, &df, sizeof df);
    ok = df > zero ? ok : zero;
    ok = df <= limit ? ok : zero;
  }
  for (int q = 0; q < W; ++q) good = good && ok[q] == 1.0;
  return i;
}

// A component's s and D at nodes from, from + 1, ... while a whole vector of
// them lies below `end`: s0 and D0 times the factors of the step's start, or
// the mean of those at both its ends. Returns the first node left.
template <typename V, bool Mean>
__attribute__((always_inline)) inline int NodeRowsBody(const double* __restrict fsOld, const double* __restrict fdOld,
                                                       const double* __restrict fsNew, const double* __restrict fdNew,
                                                       double s0, double D0, double* __restrict s,
                                                       double* __restrict D, int from, int end) {
  constexpr int W = static_cast<int>(sizeof(V) / sizeof(double));
  auto load = [](V& v, const double* p) { std::memcpy(&v, p, sizeof v); };
  auto put = [](double* p, const V& v) { std::memcpy(p, &v, sizeof v); };
  int i = from;
  for (; i + W <= end; i += W) {
    V fso, fdo;
    load(fso, fsOld + i), load(fdo, fdOld + i);
    if (Mean) {
      V fsn, fdn;
      load(fsn, fsNew + i), load(fdn, fdNew + i);
      put(s + i, 0.5 * (fsn * s0 + fso * s0));
      put(D + i, 0.5 * (fdn * D0 + fdo * D0));
    } else {
      put(s + i, fso * s0);
      put(D + i, fdo * D0);
    }
  }
  return i;
}

int StepRowsGeneric(const StepRows& a, int from, int end) { return StepRowsBody<Lanes2>(a, from, end); }
// AVX2 without FMA, so that no product is fused into a sum.
__attribute__((target("avx2"))) int StepRowsAvx2(const StepRows& a, int from, int end) {
  return StepRowsBody<Lanes4>(a, from, end);
}

typedef float Floats4 __attribute__((vector_size(16)));

int FactorRowsGeneric(const double* total, double ks, double kd, double* fs, double* fd, int from, int end,
                      bool& good) {
  return FactorRowsBody<Lanes2, Floats2>(total, ks, kd, fs, fd, from, end, good);
}
__attribute__((target("avx2"))) int FactorRowsAvx2(const double* total, double ks, double kd, double* fs,
                                                   double* fd, int from, int end, bool& good) {
  return FactorRowsBody<Lanes4, Floats4>(total, ks, kd, fs, fd, from, end, good);
}

template <bool Mean>
int NodeRowsGeneric(const double* fsOld, const double* fdOld, const double* fsNew, const double* fdNew, double s0,
                    double D0, double* s, double* D, int from, int end) {
  return NodeRowsBody<Lanes2, Mean>(fsOld, fdOld, fsNew, fdNew, s0, D0, s, D, from, end);
}
template <bool Mean>
__attribute__((target("avx2"))) int NodeRowsAvx2(const double* fsOld, const double* fdOld, const double* fsNew,
                                                 const double* fdNew, double s0, double D0, double* s, double* D,
                                                 int from, int end) {
  return NodeRowsBody<Lanes4, Mean>(fsOld, fdOld, fsNew, fdNew, s0, D0, s, D, from, end);
}

// fs and fd of nodes lo..hi from the totals c, as FactorRowsBody forms
// them (the last few nodes one by one); `inRange` is cleared when an fd lies
// outside (0, the float range].
void LinearFactors(const double* c, double ks, double kd, double* fs, double* fd, int lo, int hi, bool& inRange) {
  int i = ForActiveKernel(FactorRowsGeneric, FactorRowsAvx2, FactorRowsAvx2)(c, ks, kd, fs, fd, lo, hi + 1, inRange);
  for (; i <= hi; ++i) {
    const float sf = static_cast<float>(1.0 - ks * c[i]);
    const float df = static_cast<float>(kd * c[i] + 1.0);
    fs[i] = sf > 0 ? sf : 0.0;
    fd[i] = df;
    inRange = inRange && df > 0 && df <= 3.4e38f;
  }
}

// A component's s and D at nodes lo..hi, by NodeRowsBody (the last few
// nodes one by one).
template <bool Mean>
void NodeValues(const double* fsOld, const double* fdOld, const double* fsNew, const double* fdNew, double s0,
                double D0, double* s, double* D, int lo, int hi) {
  const int i = ForActiveKernel(NodeRowsGeneric<Mean>, NodeRowsAvx2<Mean>, NodeRowsAvx2<Mean>)(fsOld, fdOld, fsNew,
                                                                                               fdNew, s0, D0, s, D,
                                                                                               lo, hi + 1);
  NodeRowsBody<double, Mean>(fsOld, fdOld, fsNew, fdNew, s0, D0, s, D, i, hi + 1);
}

// Continuants (of magnitude mag, the newer a) rescaled together by a power
// of two before they leave the double range; their ratios stay exact.
inline void RescaleContinuants(double mag, double& a, double& b) {
  if (mag > 0x1p+500 || mag < 0x1p-500) {
    const double scale = mag > 1 ? 0x1p-500 : 0x1p+500;
    a *= scale;
    b *= scale;
  }
}

// Nodes handed on at a time beside the back substitution: enough for the
// vector units to work beside its chains, few enough to stay in the
// processor's window.
constexpr int kRowsPerBlock = 32;
// Fewer rows than this are eliminated from the top alone: from both ends the
// middle row m = N/2 needs a row above it (N >= 4), and below 8 rows the two
// chains are too short to gain from running side by side.
constexpr int kBothEndsRows = 8;
constexpr int kMaxForcedSteps = 10;  // more forced steps end the run with a step failure
// Largest dc/c tolerance of a step while s and D follow c: the coefficients
// of a step are averaged from its ends only, and longer steps leave an
// associating boundary about 1e-3 of the loading behind.
constexpr double kConcDependentMaxDc = 0.5;
// A diffusion so fast that the cell is flat to this fraction of its
// concentration against sedimentation is taken as infinitely fast. Beyond
// it the Crank-Nicolson matrix, A - dt/2 K, holds the mass term A only to
// the rounding of K's entries (relative rounding times dt D / h^2): a
// nonideality kd c of 1e12 lost or made 2-10 % of the loading, 1e14 gave
// a negative profile, and the solver reported neither. Held at the cap the
// rounding stays below about 1e-7 of the loading per cm^2/s of D (measured
// on 500-4000 nodes), so the two errors are of one size, 1e-5.
constexpr double kFlatCellFraction = 1e-5;
// Without sedimentation the cap is the diffusion that crosses the cell in
// 100 ms, far below any scan's time.
constexpr double kCellCrossingRate = 10;  // 1/s

}  // namespace

void ConcStepControl::Start(double tolerance, double lower, double aim, double growth, double weight) {
  tol = tolerance;
  tolLow = lower;
  target = aim;
  g = growth > 0 ? growth : 2.0;
  w = weight;
  forced = 0;
}

double ConcStepControl::Shrink(double err, double dt) {
  const double e = static_cast<float>(err) == 0 ? 0.0 : target / err * dt;
  const double b = dt / g;
  double next = (e - b) * w + b;
  if (next >= 0.8 * dt && next <= 1.2 * dt) next *= 0.5;
  next = std::min({next, 10 * dt, dtMax});
  if (next < 1e-15) {
    // A step that cannot shrink further counts as forced: a run that keeps
    // failing at the floor ends with a step failure instead of looping.
    next = 1e-15;
    ++forced;
  }
  return std::max(next, 0.1 * dt);
}

double ConcStepControl::Grow(double err, double dt) const {
  if (err == 0) dt *= 10;
  if (!(err < tolLow)) return dt;
  const double e = static_cast<float>(err) == 0 ? 0.0 : target / err * dt;
  const double b = dt * g;
  double next = (e - b) * w + b;
  if (next >= 0.9 * dt && next <= 1.1 * dt) next *= 2;
  next = std::min({next, 10 * dt, dtMax});
  return std::max({next, 1e-15, 0.1 * dt});
}

double ConcStepControl::Undershoot() {
  tol *= 0.5;
  tolLow *= 0.5;
  target *= 0.5;
  ++forced;
  return 2 * tol;
}

bool ConcDependentSchemeValid(float scheme) {
  const float a = std::fabs(scheme);
  return a == 1.0f || a == 2.0f || a == 3.0f;
}

NonidealityModel NonidealityFromSettings(const CLammIdeal& L) {
  const ConcDependentModel& m = L.cdModel_;
  NonidealityModel n;
  n.on = m.nonideality;
  n.hardSphere = m.hardSphere;
  n.scale = m.scale > 0 ? m.scale : 1.0;
  if (m.hardSphere) {
    n.k = std::fabs(m.a);
    n.tau = std::fabs(m.b);
  } else {
    n.ks = (m.signA ? 1.0 : -1.0) * std::pow(10.0, m.a) / n.scale;
    n.kd = (m.signB ? 1.0 : -1.0) * std::pow(10.0, m.b) / n.scale;
  }
  n.vbar = static_cast<float>(L.conditions_.vbar);
  n.rho = static_cast<float>(L.conditions_.density);
  n.T = static_cast<float>(L.conditions_.temperature);
  n.eta = static_cast<float>(L.conditions_.viscosity);
  return n;
}

void CLammIdeal::SetConcDependentModel(const ConcDependentModel& model) {
  cdModel_ = model;
  concDependentSolver_ = true;
  concDependentModel_ = true;
  opt_.automaticGridSize = false;
  opt_.optimiseGrid = false;
}

void CLammIdeal::SolveConcDependent() {
  CConcDependentPath path(*this);
  path.Run();
}

// ------------------------------------------------------------ assembly

void CConcDependentPath::Allocate(int components) {
  N_ = L_.N_;
  const size_t n = static_cast<size_t>(N_) + 2;
  for (std::vector<double>* v : {&sN, &DN, &cOld, &cTrial, &Alo_, &Adi_, &Aup_, &DCapped_, &Llo_, &Ldi_, &Lup_,
                                  &Rlo_, &Rdi_, &Rup_, &rhs_, &gam_, &eta_, &fsOld_, &fdOld_, &fsNew_,
                                  &fdNew_, &total_})
    v->assign(n, 0.0);
  for (int p = 0; p < 7; ++p) {
    B_[p].assign(n, 0.0);
    C_[p].assign(n, 0.0);
  }
  nc_ = components;
  old_.assign(static_cast<size_t>(nc_) + 1, std::vector<double>(n, 0.0));
  trial_ = acc_ = gamK_ = old_;
  live_.clear();
}

void CConcDependentPath::AssembleNonidealMatrices() {
  const double* x = L_.r_;
  const double m = L_.meniscus_, b = L_.bottom_;
  h_ = (b - m) / (N_ - 1);
  // At sedimentation-diffusion equilibrium ln c rises by s w^2 (b^2 - m^2) / (2 D)
  // across the cell.
  flatPerSw2_ = (b * b - m * m) / (2 * kFlatCellFraction);
  flatFloor_ = (b - m) * (b - m) * kCellCrossingRate;
  for (int i = 1; i <= N_; ++i) {
    Alo_[i] = i > 1 ? static_cast<double>(FEIntegralA(x, N_, m, b, i, i - 1)) : 0.0;
    Adi_[i] = static_cast<double>(FEIntegralA(x, N_, m, b, i, i));
    Aup_[i] = i < N_ ? static_cast<double>(FEIntegralA(x, N_, m, b, i, i + 1)) : 0.0;
    const int pj[7] = {i - 1, i, i - 1, i, i + 1, i, i + 1};
    const int pk[7] = {i - 1, i - 1, i, i, i, i + 1, i + 1};
    for (int p = 0; p < 7; ++p) {
      B_[p][i] = static_cast<double>(FEIntegralB(x, N_, m, b, i, pj[p], pk[p]));
      C_[p][i] = static_cast<double>(FEIntegralC(x, N_, m, b, i, pj[p], pk[p]));
    }
  }
}

// The diffusion capped at each node for its own s at this speed: no cap
// lies below the floor, so a D that stays below it is taken as it is.
const double* CConcDependentPath::CappedDiffusion(const double* s, const double* D, double w2) {
  double most = 0;
  for (int i = 1; i <= N_; ++i)
    if (!(D[i] <= most)) most = D[i];
  if (most <= flatFloor_) return D;
  const double flat = w2 * flatPerSw2_, floor = flatFloor_;
  for (int i = 0; i <= N_ + 1; ++i) DCapped_[i] = std::min(D[i], std::max(std::fabs(s[i]) * flat, floor));
  return DCapped_.data();
}

void CConcDependentPath::AssembleCrankNicolson(const double* s, const double* D, bool closedBottom, double dt) {
  dtStored_ = dt;
  const double w2 = SvedbergOmega2(L_.rotor_.rpm);
  D = CappedDiffusion(s, D, w2);
  const double *__restrict B0 = B_[0].data(), *__restrict B1 = B_[1].data(), *__restrict B2 = B_[2].data(),
                           *__restrict B3 = B_[3].data(), *__restrict B4 = B_[4].data(),
                           *__restrict B5 = B_[5].data(), *__restrict B6 = B_[6].data();
  const double *__restrict C0 = C_[0].data(), *__restrict C1 = C_[1].data(), *__restrict C2 = C_[2].data(),
                           *__restrict C3 = C_[3].data(), *__restrict C4 = C_[4].data(),
                           *__restrict C5 = C_[5].data(), *__restrict C6 = C_[6].data();
  const double *__restrict alo = Alo_.data(), *__restrict adi = Adi_.data(), *__restrict aup = Aup_.data();
  double *__restrict llo = Llo_.data(), *__restrict ldi = Ldi_.data(), *__restrict lup = Lup_.data();
  double *__restrict rlo = Rlo_.data(), *__restrict rdi = Rdi_.data(), *__restrict rup = Rup_.data();
  const double h = 0.5 * dt;
  // K and the Crank-Nicolson bands A -+ dt/2 K in one pass; K itself is not kept.
  for (int i = 1; i <= N_; ++i) {
    const double sm = s[i - 1], si = s[i], sp = s[i + 1];
    const double Dm = D[i - 1], Di = D[i], Dp = D[i + 1];
    const double lo = w2 * (sm * C0[i] + si * C2[i]) - (Dm * B0[i] + Di * B2[i]);
    const double di = w2 * (sm * C1[i] + si * C3[i] + sp * C5[i]) - (Dm * B1[i] + Di * B3[i] + Dp * B5[i]);
    const double up = w2 * (si * C4[i] + sp * C6[i]) - (Di * B4[i] + Dp * B6[i]);
    llo[i] = alo[i] - h * lo;
    rlo[i] = alo[i] + h * lo;
    ldi[i] = adi[i] - h * di;
    rdi[i] = adi[i] + h * di;
    lup[i] = aup[i] - h * up;
    rup[i] = aup[i] + h * up;
  }
  // The ends: no column beyond them, and the outflow row.
  llo[1] = rlo[1] = alo[1];
  lup[N_] = rup[N_] = aup[N_];
  if (closedBottom && s[N_] > 0) {
    // Open bottom: what arrives there leaves the grid instead of piling up.
    const int n = N_;
    const double* r = L_.r_;
    const double g = r[n] / (r[n] - r[n - 1]);
    double lo = w2 * (s[n - 1] * C0[n] + s[n] * C2[n]) - (D[n - 1] * B0[n] + D[n] * B2[n]);
    double di = w2 * (s[n - 1] * C1[n] + s[n] * C3[n] + s[n + 1] * C5[n]) -
                (D[n - 1] * B1[n] + D[n] * B3[n] + D[n + 1] * B5[n]);
    lo += g * D[n];
    di -= g * D[n] + r[n] * r[n] * s[n] * w2;
    llo[n] = alo[n] - h * lo;
    rlo[n] = alo[n] + h * lo;
    ldi[n] = adi[n] - h * di;
    rdi[n] = adi[n] + h * di;
  }
}

bool CConcDependentPath::SolveCrankNicolson(const double* x, double* out, int first) {
  const int f = first >= 4 ? first - 1 : 1;
  for (int i = f; i <= N_; ++i) {
    double v = Rdi_[i] * x[i];
    if (i > f) v += Rlo_[i] * x[i - 1];
    if (i < N_) v += Rup_[i] * x[i + 1];
    rhs_[i] = v;
  }
  // Solved in rhs_, so that a failed solve leaves `out` as it was.
  if (!SweepInPlace(rhs_.data(), f)) return false;
  for (int i = 1; i < f; ++i) out[i] = 0;
  for (int i = f; i <= N_; ++i) out[i] = rhs_[i];
  return true;
}

bool CConcDependentPath::StepCrankNicolson(const double* s, const double* D, bool closedBottom, double dt,
                                           const double* x, double* out) {
  dtStored_ = dt;
  const int N = N_;
  const double w2 = SvedbergOmega2(L_.rotor_.rpm);
  // The cap of AssembleCrankNicolson, decided by the same largest D: while
  // every D is a number no greater than the floor, that largest lies below
  // it too.
  const double floor = flatFloor_;
  const Lanes2 zero = {}, below = zero + floor;
  Lanes2 within = zero + 1.0;  // 1 in a lane whose D have all been below the floor
  int k = 1;
  for (; k < N; k += 2) within = Load2(D + k) <= below ? within : zero;
  bool beyond = !(within[0] == 1.0 && within[1] == 1.0);
  for (; k <= N; ++k) beyond = beyond || !(D[k] <= floor);
  if (beyond) D = CappedDiffusion(s, D, w2);
  const double *__restrict B0 = B_[0].data(), *__restrict B1 = B_[1].data(), *__restrict B2 = B_[2].data(),
                           *__restrict B3 = B_[3].data(), *__restrict B4 = B_[4].data(),
                           *__restrict B5 = B_[5].data(), *__restrict B6 = B_[6].data();
  const double *__restrict C0 = C_[0].data(), *__restrict C1 = C_[1].data(), *__restrict C2 = C_[2].data(),
                           *__restrict C3 = C_[3].data(), *__restrict C4 = C_[4].data(),
                           *__restrict C5 = C_[5].data(), *__restrict C6 = C_[6].data();
  const double *__restrict alo = Alo_.data(), *__restrict adi = Adi_.data(), *__restrict aup = Aup_.data();
  double *__restrict llo = Llo_.data(), *__restrict ldi = Ldi_.data(), *__restrict lup = Lup_.data();
  // The rhs goes into out, which the sweeps then solve in place.
  double* __restrict rhs = out;
  const double h = 0.5 * dt;
  // The left bands and rhs = (A + dt/2 K) x, row by row as AssembleCrankNicolson
  // and SolveCrankNicolson form them; the first and the last row apart, where
  // the sum of rhs has a term less.
  {
    const int i = 1;
    const double lo = w2 * (s[0] * C0[i] + s[1] * C2[i]) - (D[0] * B0[i] + D[1] * B2[i]);
    const double di = w2 * (s[0] * C1[i] + s[1] * C3[i] + s[2] * C5[i]) - (D[0] * B1[i] + D[1] * B3[i] + D[2] * B5[i]);
    const double up = w2 * (s[1] * C4[i] + s[2] * C6[i]) - (D[1] * B4[i] + D[2] * B6[i]);
    llo[i] = alo[i] - h * lo;
    ldi[i] = adi[i] - h * di;
    lup[i] = aup[i] - h * up;
    rhs[i] = (adi[i] + h * di) * x[i] + (aup[i] + h * up) * x[i + 1];
  }
  auto last = [&] {
    const int i = N;
    double lo = w2 * (s[i - 1] * C0[i] + s[i] * C2[i]) - (D[i - 1] * B0[i] + D[i] * B2[i]);
    double di = w2 * (s[i - 1] * C1[i] + s[i] * C3[i] + s[i + 1] * C5[i]) -
                (D[i - 1] * B1[i] + D[i] * B3[i] + D[i + 1] * B5[i]);
    if (closedBottom && s[N] > 0) {
      // The outflow row.
      const double* r = L_.r_;
      const double g = r[N] / (r[N] - r[N - 1]);
      lo += g * D[N];
      di -= g * D[N] + r[N] * r[N] * s[N] * w2;
    }
    llo[i] = alo[i] - h * lo;
    ldi[i] = adi[i] - h * di;
    rhs[i] = (adi[i] + h * di) * x[i] + (alo[i] + h * lo) * x[i - 1];
  };
  const StepRows rows{{B0, B1, B2, B3, B4, B5, B6}, {C0, C1, C2, C3, C4, C5, C6}, alo, adi, aup, s, D, x, llo, ldi,
                      lup, rhs, w2, h};
  const auto formRows = ForActiveKernel(StepRowsGeneric, StepRowsAvx2, StepRowsAvx2);
  // (The last few rows one at a time, by the same body.)
  if (N >= 2) StepRowsBody<double>(rows, formRows(rows, 2, N), N);
  last();
  if (N >= kBothEndsRows) return SweepFromBothEnds(out);
  if (!SweepInPlace(out, 1)) return false;
  if (solved_) solved_(1, N);
  return true;
}

// The Thomas elimination from both ends at once: rows 1..m-1 downwards by
// the continuants of SweepForward, rows N..m+1 upwards by their mirror
// image, the middle row m from both neighbours. The two chains of dependent
// operations are independent, so the processor runs them side by side: the
// step takes some 15 % less time than from the top alone. The solution
// differs from that one in rounding only (both lie within 5e-9 of the
// largest value from a solve in extended precision, over the 290 000 solves
// of a featureless nonideal fit), and a zero or infinite pivot fails the
// solve as it does there.
bool CConcDependentPath::SweepFromBothEnds(double* y) {
  const int N = N_, m = N / 2;
  const double *__restrict llo = Llo_.data(), *__restrict ldi = Ldi_.data(), *__restrict lup = Lup_.data();
  double *__restrict gam = gam_.data(), *__restrict eta = eta_.data();
  // From the top: th the continuants, p = th_(i-1) / th_i the reciprocal
  // pivots, gam_i = lup_(i-1) p_(i-1), and v the eliminated right-hand side.
  double th2 = 1.0, th1 = ldi[1];
  // From the bottom: ph, q and w the same, eta_j = llo_j q_j.
  double ph2 = 1.0, ph1 = ldi[N];
  if (th1 == 0 || !std::isfinite(th1)) return TridagFailure("Error 1 in tridag");
  if (ph1 == 0 || !std::isfinite(ph1)) return TridagFailure("Error 2 in tridag");
  double piv = 1.0 / th1, v = y[1] * piv;
  double q = 1.0 / ph1, w = y[N] * q;
  y[1] = v;
  y[N] = w;
  for (int i = 2, j = N - 1; i < m; ++i, --j) {
    const double th = ldi[i] * th1 - (llo[i] * lup[i - 1]) * th2;
    const double ph = ldi[j] * ph1 - (lup[j] * llo[j + 1]) * ph2;
    if (th == 0 || !std::isfinite(th) || ph == 0 || !std::isfinite(ph)) return TridagFailure("Error 2 in tridag");
    const double p = th1 / th, r = ph1 / ph;
    gam[i] = lup[i - 1] * piv;
    eta[j + 1] = llo[j + 1] * q;
    v = (y[i] - llo[i] * v) * p;
    w = (y[j] - lup[j] * w) * r;
    y[i] = v;
    y[j] = w;
    piv = p, q = r;
    th2 = th1, th1 = th;
    ph2 = ph1, ph1 = ph;
    RescaleContinuants(std::fabs(th), th1, th2);
    RescaleContinuants(std::fabs(ph), ph1, ph2);
  }
  // The bottom's last one or two rows (one more for an odd count).
  for (int j = N - m + 1; j > m; --j) {
    const double ph = ldi[j] * ph1 - (lup[j] * llo[j + 1]) * ph2;
    if (ph == 0 || !std::isfinite(ph)) return TridagFailure("Error 2 in tridag");
    const double r = ph1 / ph;
    eta[j + 1] = llo[j + 1] * q;
    w = (y[j] - lup[j] * w) * r;
    y[j] = w;
    q = r;
    ph2 = ph1, ph1 = ph;
    RescaleContinuants(std::fabs(ph), ph1, ph2);
  }
  eta[m + 1] = llo[m + 1] * q;
  gam[m] = lup[m - 1] * piv;
  // The middle row with x_(m-1) = v - gam_m x_m and x_(m+1) = w - eta_(m+1) x_m.
  const double dm = ldi[m] - llo[m] * gam[m] - lup[m] * eta[m + 1];
  if (dm == 0 || !std::isfinite(dm)) return TridagFailure("Error 2 in tridag");
  double u = (y[m] - llo[m] * v - lup[m] * w) / dm;
  y[m] = u;
  // Back outwards from the middle, both chains side by side, each block of
  // nodes handed on as it is final.
  double d = u;
  for (int hi = m - 1, lo2 = m + 1; hi >= 1 || lo2 <= N;) {
    const int lo = std::max(1, hi - kRowsPerBlock + 1), hi2 = std::min(N, lo2 + kRowsPerBlock - 1);
    int i = hi, j = lo2;
    for (; i >= lo && j <= hi2; --i, ++j) {
      u = y[i] - gam[i + 1] * u;
      d = y[j] - eta[j] * d;
      y[i] = u;
      y[j] = d;
    }
    for (; i >= lo; --i) y[i] = u = y[i] - gam[i + 1] * u;
    for (; j <= hi2; ++j) y[j] = d = y[j] - eta[j] * d;
    if (solved_) {
      if (hi >= lo) solved_(lo, hi);
      if (hi2 >= lo2) solved_(lo2, hi2);
    }
    hi = lo - 1;
    lo2 = hi2 + 1;
  }
  if (solved_) solved_(m, m);
  return true;
}

bool CConcDependentPath::TridagFailure(const char* text) {
  if (!L_.inWorker_) ErrorBox(text);
  L_.errTridag_ = 1;
  return false;
}

// Thomas elimination with the pivots p_i = theta_i / theta_(i-1) of the
// continuants theta_i = d_i theta_(i-1) - l_i u_(i-1) theta_(i-2): the
// recurrence needs no division, so the divisions for 1/p_i leave the
// critical path. theta is rescaled by powers of two, which the ratios do
// not see.
bool CConcDependentPath::SweepFirstRow(double* y, int f, SweepState& st) {
  st.th2 = 1.0;
  st.th1 = Ldi_[f];
  if (st.th1 == 0 || !std::isfinite(st.th1)) return TridagFailure("Error 1 in tridag");
  st.piv = 1.0 / st.th1;
  st.v = y[f] * st.piv;
  y[f] = st.v;
  return true;
}

bool CConcDependentPath::SweepForward(double* __restrict y, int from, int to, SweepState& st) {
  const double *__restrict llo = Llo_.data(), *__restrict ldi = Ldi_.data(), *__restrict lup = Lup_.data();
  double* __restrict gam = gam_.data();
  double th2 = st.th2, th1 = st.th1, piv = st.piv, v = st.v;  // kept in registers along the rows
  for (int i = from; i <= to; ++i) {
    const double th = ldi[i] * th1 - (llo[i] * lup[i - 1]) * th2;
    if (th == 0 || !std::isfinite(th)) return TridagFailure("Error 2 in tridag");
    const double p = th1 / th;
    gam[i] = lup[i - 1] * piv;
    v = (y[i] - llo[i] * v) * p;
    y[i] = v;
    piv = p;
    th2 = th1;
    th1 = th;
    RescaleContinuants(std::fabs(th), th1, th2);
  }
  st = {th1, th2, piv, v};
  return true;
}

void CConcDependentPath::SweepBack(double* __restrict y, int f, double v) {
  const double* __restrict gam = gam_.data();
  for (int i = N_ - 1; i >= f; --i) {
    v = y[i] - gam[i + 1] * v;
    y[i] = v;
  }
}

bool CConcDependentPath::SweepInPlace(double* y, int f) {
  SweepState st;
  if (!SweepFirstRow(y, f, st) || !SweepForward(y, f + 1, N_, st)) return false;
  SweepBack(y, f, st.v);
  return true;
}

// ------------------------------------------------------------ per-node models

bool CConcDependentPath::PrepareModel() {
  const ConcDependentModel& m = L_.cdModel_;
  nonideal_ = NonidealityFromSettings(L_);
  s1_ = m.s1;
  s2_ = m.s2;
  D1_ = m.D1;
  D2_ = m.D2;
  K_ = std::pow(10.0, m.logK);
  scheme_ = static_cast<int>(std::fabs(m.scheme));
  sedimenting_ = m.scheme > 0;
  if (nc_ > 0)
    model_ = Model::Components;
  else if (m.dimer)
    model_ = Model::Dimer;
  else if (m.trimer)
    model_ = Model::Trimer;
  else if (m.singleNonideal || !(m.tetramerOctamer || m.dimerTetramer))
    model_ = Model::Single;
  else
    model_ = Model::Table;
  if (model_ == Model::Table) {
    three_ = ThreeSpeciesScheme{m.tetramerOctamer, std::pow(10.0, m.logK2), std::pow(10.0, m.logK3),
                                m.s1, m.s2, m.s3, m.D1, m.D2, m.D3};
    if (!table_.Build(three_, m.monomerMin, m.monomerMax, m.tableRows, nonideal_)) return false;
  }
  if (nonideal_.on && !nonideal_.hardSphere && nonideal_.ks * L_.c_[1] > 1.0) return false;
  return true;
}

bool CConcDependentPath::FactorsBeyondFloat(double c, double fs, double& fd) const {
  // A repulsive kd c beyond the float range is a diffusion far beyond the
  // cap of the assembly, which takes it as it takes any such diffusion.
  const NonidealityModel& n = nonideal_;
  if (!n.on || n.hardSphere || !(n.kd > 0) || !(c >= 0) || !std::isfinite(fs)) return false;
  fd = c > 0 ? HUGE_VAL : 1.0;
  return true;
}

// s and D of the single nonideal species at concentration c.
bool CConcDependentPath::SingleValue(double c, double& s, double& D) const {
  double fs, fd;
  const bool ok = Factors(c, static_cast<float>(L_.s_), static_cast<float>(L_.D_), fs, fd);
  s = fs * L_.s_;
  D = fd * L_.D_;
  return ok;
}

// Weight averages of the association models (without nonideality).
void CConcDependentPath::AssociationValue(double c, double& s, double& D) {
  if (model_ == Model::Dimer)
    DimerAverages(c, K_, s1_, s2_, D1_, D2_, s, D);
  else if (model_ == Model::Trimer)
    TrimerAverages(c, K_, s1_, s2_, D1_, D2_, s, D);
  else
    table_.Lookup(c, s, D);
}

// kind 1: coefficients at c_old; kind 2: mean of the predictor values and
// the values at c_trial; kind 3: values at the mean concentration.
bool CConcDependentPath::NodeCoefficients(int kind) {
  if (model_ == Model::Components) return ComponentFactors(kind);
  bool ok = true;
  for (int i = 1; i <= N_; ++i) {
    const double co = cOld[i], ct = cTrial[i];
    double s, D;
    if (model_ == Model::Single) {
      if (kind == 1) {
        ok = SingleValue(co, s, D) && ok;
      } else if (kind == 2) {
        ok = SingleValue(ct, s, D) && ok;
        s = 0.5 * (s + sN[i]);
        D = 0.5 * (D + DN[i]);
      } else {
        ok = SingleValue(0.5 * (co + ct), s, D) && ok;
      }
    } else if (model_ == Model::Table) {
      AssociationValue(kind == 1 ? co : ct, s, D);
      if (kind == 2) {
        s = 0.5 * (s + sN[i]);
        D = 0.5 * (D + DN[i]);
      } else if (kind == 3) {
        double so, Do;
        AssociationValue(co, so, Do);
        s = 0.5 * (s + so);
        D = 0.5 * (D + Do);
      }
    } else {
      double cf = co;
      AssociationValue(co, s, D);
      if (kind != 1) {
        double st, Dt;
        AssociationValue(ct, st, Dt);
        s = 0.5 * (s + st);
        D = 0.5 * (D + Dt);
        cf = 0.5 * (co + ct);
      }
      double fs, fd;
      ok = Factors(cf, s1_, D1_, fs, fd) && ok;
      s *= fs;
      D *= fd;
    }
    sN[i] = s;
    DN[i] = D;
  }
  return ok;
}

bool CConcDependentPath::ComponentFactors(int kind) {
  const std::vector<std::vector<double>>& from = kind == 1 ? old_ : trial_;
  double* fsAt = (kind == 1 ? fsOld_ : fsNew_).data();
  double* fdAt = (kind == 1 ? fdOld_ : fdNew_).data();
  const float s0 = static_cast<float>(L_.compS_[1]), D0 = static_cast<float>(L_.compD_[1]);
  mean_ = kind != 1;
  const int N = N_;
  // The total at each node, summed in the order of live_.
  double* __restrict total = total_.data();
  if (live_.size() == 1) {
    const double* __restrict c = from[static_cast<size_t>(live_[0])].data();
    int i = 1;
    for (; i < N; i += 2) Store2(total + i, 0.0 + Load2(c + i));
    for (; i <= N; ++i) total[i] = 0.0 + c[i];
  } else {
    for (int i = 1; i <= N; ++i) total[i] = 0;
    for (int k : live_) {
      const double* __restrict c = from[static_cast<size_t>(k)].data();
      for (int i = 1; i <= N; ++i) total[i] += c[i];
    }
  }
  bool ok = true;
  if (nonideal_.on && !nonideal_.hardSphere) {
    // The linear factors of NonidealityModel::Factors, node by node without
    // a branch; the rare node out of the float range then goes through
    // Factors' own way out.
    const double ks = nonideal_.ks, kd = nonideal_.kd;
    // A vector of nodes at a time, each lane's arithmetic and conversions
    // the scalar ones; the rest one by one.
    bool inRange = true;
    LinearFactors(total, ks, kd, fsAt, fdAt, 1, N, inRange);
    if (!inRange)
      for (int j = 1; j <= N; ++j) {
        const float df = static_cast<float>(fdAt[j]);
        if (!(df > 0 && df <= 3.4e38f)) ok = FactorsBeyondFloat(total[j], fsAt[j], fdAt[j]) && ok;
      }
  } else {
    for (int i = 1; i <= N; ++i) ok = Factors(total[i], s0, D0, fsAt[i], fdAt[i]) && ok;
  }
  // The largest fd only decides which components StepComponents solves
  // side by side: none while one is live.
  double most = 0;
  if (live_.size() > 1)
    for (int i = 1; i <= N; ++i) {
      const double fd = mean_ ? std::max(fdAt[i], fdOld_[i]) : fdAt[i];
      if (!(fd <= most)) most = fd;
    }
  fdMost_ = most;
  return ok;
}

void CConcDependentPath::StepComponents(const std::vector<std::vector<double>>& from,
                                        std::vector<std::vector<double>>& to, double dt) {
  dtStored_ = dt;
  // A D that may reach the cap of AssembleCrankNicolson (above its floor)
  // is left to it.
  auto alone = [&](int k) {
    // Component k's s and D at each node: its s0 and D0 times the factors,
    // or the mean of those at both ends of the step.
    const double s0 = L_.compS_[k], D0 = L_.compD_[k];
    const double *__restrict fsOld = fsOld_.data(), *__restrict fdOld = fdOld_.data();
    const double *__restrict fsNew = fsNew_.data(), *__restrict fdNew = fdNew_.data();
    double *__restrict s = sN.data(), *__restrict D = DN.data();
    if (nodesReady_) {
      // Formed already (TrialStep).
    } else if (mean_) {
      NodeValues<true>(fsOld, fdOld, fsNew, fdNew, s0, D0, s, D, 1, N_);
    } else {
      NodeValues<false>(fsOld, fdOld, fsNew, fdNew, s0, D0, s, D, 1, N_);
    }
    if (!StepCrankNicolson(s, D, closedBottom_, dt, from[k].data(), to[k].data())) to[k] = from[k];
  };
  bool capped = false;
  for (int k : live_) capped = capped || !(L_.compD_[k] * fdMost_ <= flatFloor_);
  const size_t n = live_.size();
  // Two components at a time in the lanes of a 128-bit vector; one left
  // over, or any where D may be capped, alone.
  for (size_t first = 0; first < n; first += 2) {
    if (capped || first + 1 == n) {
      alone(live_[first]);
      if (first + 1 < n) alone(live_[first + 1]);
      continue;
    }
    const int at = static_cast<int>(first);
    mean_ ? SolveComponentsTogether<Lanes2, 2, true>(at, from, to, dt)
          : SolveComponentsTogether<Lanes2, 2, false>(at, from, to, dt);
  }
}

// AssembleCrankNicolson and SolveCrankNicolson (from row 1) for the W
// live components from `first` on side by side, one in each lane of V, with the same operations
// in the same order (each lane's arithmetic is the scalar one's, so the
// results are the same to the bit): the sweeps are chains of dependent
// operations, which lanes and the processor overlap, and each row's bands
// are formed as the sweep reaches it instead of being stored.
template <typename V, int W, bool Mean>
void CConcDependentPath::SolveComponentsTogether(int first, const std::vector<std::vector<double>>& from,
                                                 std::vector<std::vector<double>>& to, double dt) {
  const int N = N_;
  const double w2 = SvedbergOmega2(L_.rotor_.rpm);
  const double h = 0.5 * dt;
  const double *__restrict alo = Alo_.data(), *__restrict adi = Adi_.data(), *__restrict aup = Aup_.data();
  const double *__restrict B0 = B_[0].data(), *__restrict B1 = B_[1].data(), *__restrict B2 = B_[2].data(),
                           *__restrict B3 = B_[3].data(), *__restrict B4 = B_[4].data(),
                           *__restrict B5 = B_[5].data(), *__restrict B6 = B_[6].data();
  const double *__restrict C0 = C_[0].data(), *__restrict C1 = C_[1].data(), *__restrict C2 = C_[2].data(),
                           *__restrict C3 = C_[3].data(), *__restrict C4 = C_[4].data(),
                           *__restrict C5 = C_[5].data(), *__restrict C6 = C_[6].data();
  const double *__restrict fsOld = fsOld_.data(), *__restrict fdOld = fdOld_.data();
  const double *__restrict fsNew = fsNew_.data(), *__restrict fdNew = fdNew_.data();
  const double* x[W];
  double* y[W];
  double* gam[W];
  V s0 = {}, D0 = {};
  for (int q = 0; q < W; ++q) {
    const size_t k = static_cast<size_t>(live_[static_cast<size_t>(first + q)]);
    x[q] = from[k].data();
    y[q] = to[k].data();
    gam[q] = gamK_[k].data();
    s0[q] = L_.compS_[k];
    D0[q] = L_.compD_[k];
  }
  // As StepComponents' alone.
  auto sAt = [&](int i) { return Mean ? 0.5 * (fsNew[i] * s0 + fsOld[i] * s0) : fsOld[i] * s0; };
  auto dAt = [&](int i) { return Mean ? 0.5 * (fdNew[i] * D0 + fdOld[i] * D0) : fdOld[i] * D0; };
  auto load = [&](int i) {
    V v;
    for (int q = 0; q < W; ++q) v[q] = x[q][i];
    return v;
  };
  // s, D and x at the nodes i - 1, i, i + 1 (s and D 0 beyond the ends).
  V sm = {}, si = sAt(1), sp, Dm = {}, Di = dAt(1), Dp;
  V xm = {}, xi = load(1), xp;
  const char* failed[W] = {};
  V th1 = {}, th2 = {}, piv = {}, lupPrev = {}, yv = {};
  const double* r = L_.r_;
  const V zero = {};
  for (int i = 1; i <= N; ++i) {
    const bool last = i == N;
    sp = last ? zero : sAt(i + 1);
    Dp = last ? zero : dAt(i + 1);
    xp = last ? zero : load(i + 1);
    V lo = w2 * (sm * C0[i] + si * C2[i]) - (Dm * B0[i] + Di * B2[i]);
    V di = w2 * (sm * C1[i] + si * C3[i] + sp * C5[i]) - (Dm * B1[i] + Di * B3[i] + Dp * B5[i]);
    const V up = w2 * (si * C4[i] + sp * C6[i]) - (Di * B4[i] + Dp * B6[i]);
    if (last && closedBottom_) {
      // The outflow row of AssembleCrankNicolson, where s_N > 0.
      const double g = r[N] / (r[N] - r[N - 1]);
      for (int q = 0; q < W; ++q)
        if (si[q] > 0) {
          lo[q] += g * Di[q];
          di[q] -= g * Di[q] + r[N] * r[N] * si[q] * w2;
        }
    }
    const V llo = alo[i] - h * lo, rlo = alo[i] + h * lo;
    const V ldi = adi[i] - h * di, rdi = adi[i] + h * di;
    const V lup = last ? aup[N] + zero : aup[i] - h * up, rup = aup[i] + h * up;
    V rhs = rdi * xi;
    if (i > 1) rhs += rlo * xm;
    if (!last) rhs += rup * xp;
    V th;
    if (i == 1) {
      th = ldi;
      th2 = zero + 1.0;
    } else {
      th = ldi * th1 - (llo * lupPrev) * th2;
    }
    const V mag = th < 0 ? -th : th;
    // A zero or non-finite pivot: the component fails, its lane goes on
    // harmlessly.
    const auto bad = (th == 0) | !(mag <= 1.7976931348623157e308);
    bool any = false;
    for (int q = 0; q < W; ++q) any = any || bad[q] != 0;
    if (any)
      for (int q = 0; q < W; ++q)
        if (bad[q] != 0) {
          if (!failed[q]) failed[q] = i == 1 ? "Error 1 in tridag" : "Error 2 in tridag";
          th[q] = 1.0;
        }
    if (i == 1) {
      piv = 1.0 / th;
      yv = rhs * piv;
      th1 = th;
    } else {
      const V p = th1 / th;
      const V g = lupPrev * piv;
      for (int q = 0; q < W; ++q) gam[q][i] = g[q];
      yv = (rhs - llo * yv) * p;
      piv = p;
      th2 = th1;
      th1 = th;
      const V m = th < 0 ? -th : th;
      const auto far = (m > 0x1p+500) | (m < 0x1p-500);
      bool rescale = false;
      for (int q = 0; q < W; ++q) rescale = rescale || far[q] != 0;
      if (rescale)
        for (int q = 0; q < W; ++q)
          if (far[q] != 0) {
            const double scale = m[q] > 1 ? 0x1p-500 : 0x1p+500;
            th1[q] *= scale;
            th2[q] *= scale;
          }
    }
    for (int q = 0; q < W; ++q) y[q][i] = yv[q];
    lupPrev = lup;
    sm = si;
    si = sp;
    Dm = Di;
    Di = Dp;
    xm = xi;
    xi = xp;
  }
  for (int i = N - 1; i >= 1; --i) {
    V g, v;
    for (int q = 0; q < W; ++q) {
      g[q] = gam[q][i + 1];
      v[q] = y[q][i];
    }
    yv = v - g * yv;
    for (int q = 0; q < W; ++q) y[q][i] = yv[q];
  }
  for (int q = 0; q < W; ++q) {
    if (!failed[q]) continue;
    if (!L_.inWorker_) ErrorBox(failed[q]);
    L_.errTridag_ = 1;
    const size_t k = static_cast<size_t>(live_[static_cast<size_t>(first + q)]);
    to[k] = from[k];
  }
}

// ------------------------------------------------------------ steps

bool CConcDependentPath::Diverged() const {
  // Two nodes at a time (a NaN fails the comparison as it does alone).
  const double* c = cTrial.data();
  const Lanes2 zero = {}, most = zero + 1e100;
  Lanes2 ok = zero + 1.0;
  int i = 1;
  for (; i < N_; i += 2) {
    const Lanes2 v = Load2(c + i);
    ok = (v < zero ? -v : v) <= most ? ok : zero;
  }
  bool within = ok[0] == 1.0 && ok[1] == 1.0;
  for (; i <= N_; ++i) within = within && std::fabs(c[i]) <= 1e100;
  return !within;
}

// The weighted sum of the live components at each node, from 0 in the
// order of live_.
void CConcDependentPath::SumComponents(const std::vector<std::vector<double>>& from, double* __restrict to) const {
  if (live_.empty()) {
    std::fill(to + 1, to + N_ + 1, 0.0);
    return;
  }
  for (size_t q = 0; q < live_.size(); ++q) {
    const int k = live_[q];
    const double w = L_.compWeight_[k];
    const double* __restrict v = from[static_cast<size_t>(k)].data();
    if (q == 0)
      for (int i = 1; i <= N_; ++i) to[i] = 0.0 + w * v[i];
    else
      for (int i = 1; i <= N_; ++i) to[i] += w * v[i];
  }
}

bool CConcDependentPath::StepReadyingNext(std::vector<std::vector<double>>& to, double dt, double* sum, double* fs,
                                          double* fd, bool mean) {
  const size_t k = static_cast<size_t>(live_[0]);
  const double* v = to[k].data();
  const double ks = nonideal_.ks, kd = nonideal_.kd, s0 = L_.compS_[k], D0 = L_.compD_[k];
  const double *fsOld = mean ? fsOld_.data() : fs, *fdOld = mean ? fdOld_.data() : fd;
  double *sAt = sN.data(), *dAt = DN.data();
  bool inRange = true;
  solved_ = [=, &inRange](int lo, int hi) {
    for (int i = lo; i <= hi; ++i) sum[i] = 0.0 + 1.0 * v[i];
    LinearFactors(v, ks, kd, fs, fd, lo, hi, inRange);
    if (mean)
      NodeValues<true>(fsOld, fdOld, fs, fd, s0, D0, sAt, dAt, lo, hi);
    else
      NodeValues<false>(fs, fd, fs, fd, s0, D0, sAt, dAt, lo, hi);
  };
  StepComponents(old_, to, dt);
  solved_ = nullptr;
  return inRange && !L_.errTridag_;
}

void CConcDependentPath::TrialStep(double dt) {
  if (L_.accelerating_ || L_.schedule_) L_.RotorOmegaInStep(L_.t_, dt);
  if (model_ == Model::Components) {
    correctorReady_ = false;
    if (trialReady_) {
      // As ComponentFactors(1) leaves them for one component.
      mean_ = false;
      fdMost_ = 0;
    } else if (!ComponentFactors(1)) {
      L_.errConcDependent_ = 1;
    }
    // One component of weight 1 with linear factors: the corrector's factors
    // (of the trial's values) and its mean node values are formed while the
    // trial's solution is substituted back, each node as it is final; the
    // same arithmetic as ComponentFactors(2) and StepComponents. A trial
    // that fails, or a factor beyond the float range, leaves them to those.
    const bool prepare = scheme_ != 1 && live_.size() == 1 && L_.compWeight_[live_[0]] == 1.0 && nonideal_.on &&
                         !nonideal_.hardSphere && !(L_.syntheticBoundary_ && L_.t_ < 10);
    nodesReady_ = trialReady_;
    trialReady_ = false;
    if (prepare)
      correctorReady_ = StepReadyingNext(trial_, dt, cTrial.data(), fsNew_.data(), fdNew_.data(), true);
    else
      StepComponents(old_, trial_, dt);
    nodesReady_ = false;
    for (int k : live_) CleanUpLayeredStart(trial_[k].data());
    if (!correctorReady_) SumComponents(trial_, cTrial.data());
    return;
  }
  if (!NodeCoefficients(1)) L_.errConcDependent_ = 1;
  if (!StepCrankNicolson(sN.data(), DN.data(), closedBottom_, dt, cOld.data(), cTrial.data())) cTrial = cOld;
}

void CConcDependentPath::Corrector() {
  double* c = L_.c_;
  if (model_ == Model::Components) {
    if (scheme_ == 1) {
      for (int k : live_) acc_[k] = trial_[k];
    } else {
      if (correctorReady_) {
        // As ComponentFactors(2) leaves them for one component.
        mean_ = true;
        fdMost_ = 0;
      } else if (!ComponentFactors(2)) {
        L_.errConcDependent_ = 1;
      }
      // The next trial's factors (of these values, the next step's start)
      // and node values, and the sum, formed beside the back substitution.
      nodesReady_ = correctorReady_;
      if (correctorReady_)
        trialReady_ = StepReadyingNext(acc_, dtStored_, c, fsOld_.data(), fdOld_.data(), false);
      else
        StepComponents(old_, acc_, dtStored_);
      nodesReady_ = correctorReady_ = false;
      for (int k : live_) CleanUpLayeredStart(acc_[k].data());
      if (trialReady_) {
        cIsTheComponent_ = true;
        return;
      }
    }
    SumComponents(acc_, c);
    // 0 + 1 x is x, bar the sign of a zero, which no comparison or |.| of
    // RelativeStepChange tells apart.
    cIsTheComponent_ = live_.size() == 1 && L_.compWeight_[live_[0]] == 1.0;
    return;
  }
  if (scheme_ == 1) {
    for (int i = 1; i <= N_; ++i) c[i] = cTrial[i];
    return;
  }
  if (!NodeCoefficients(scheme_)) L_.errConcDependent_ = 1;
  if (!StepCrankNicolson(sN.data(), DN.data(), closedBottom_, dtStored_, cOld.data(), c))
    for (int i = 1; i <= N_; ++i) c[i] = cOld[i];
}

void CConcDependentPath::MeniscusCorrection() {
  double* c = L_.c_;
  const double* r = L_.r_;
  if (!(c[1] < 0 && c[1] > -trimThreshold_)) return;
  // Fold the negative first node into the second with the node weights, so
  // that the amount in the cell stays what it was.
  const double u = h_ * (3 * r[1] + h_) * c[1] / (6 * r[2] * h_);
  c[1] = -c[1];
  c[2] = static_cast<float>(c[2] + 2 * u);
}

void CConcDependentPath::AcceptStep() {
  ++L_.stepCount_;
  L_.t_ += L_.dt_;
  if (!L_.schedule_ && L_.accelerating_ && L_.t_ >= L_.rotor_.accelDuration) {
    L_.accelerating_ = false;
    L_.rotor_.rpm = L_.rotor_.finalRpm;
  }
  if (L_.schedule_ && !L_.scheduleFinished_) L_.UpdateSpeedStep(L_.t_);
  if (model_ != Model::Components && L_.cdModel_.meniscusCorrection) MeniscusCorrection();
  if (L_.massTracking_) L_.cellContent_ = L_.CellContent();
}

double RelativeStepChange(const double* cNew, const double* cOld, int first, int N, double trim,
                          bool& undershoot) {
  // The largest new value, at least 0 (a NaN never counts).
  const double m = 1e-4 * LargestValue(cNew, first, N, 0.0);
  double e = 0;
  if (cNew[N] > m && cOld[N] >= m) e = std::fabs((cNew[N] - cOld[N]) / cOld[N]);
  const double below = -static_cast<float>(trim);
  bool under = false;
  for (int i = first; i < N; ++i) under = under || cNew[i] < below;
  undershoot = under;
  if (under) return e;
  return LargestChange(cNew, cOld, first, N - 1, m, e);
}

double CConcDependentPath::StepError() {
  bool undershoot = false;
  double e = RelativeStepChange(cTrial.data(), cOld.data(), 1, N_, trimThreshold_, undershoot);
  // The components are measured one by one as well: a fast one can change a
  // lot where the sum hardly does. The one component that the sum is (cOld
  // and cTrial as well as c) gives the sum's e again, without an undershoot
  // where the sum has none.
  const bool same = cIsTheComponent_;
  for (size_t q = 0; q < live_.size() && !undershoot && !same; ++q) {
    const int k = live_[q];
    e = std::max(e, RelativeStepChange(trial_[k].data(), old_[k].data(), 1, N_, HUGE_VAL, undershoot));
  }
  return undershoot ? ctl_.Undershoot() : e;
}

// Steps end exactly on the next scan time, so that the scan sees the profile
// of its own time.
void CConcDependentPath::CutAtNextScan() {
  const double t = L_.t_, next = L_.nextScanTime_;
  if (next > t && t + L_.dt_ > next) L_.dt_ = next - t;
}

// A synthetic boundary starts each component as a step, which the first
// seconds of Crank-Nicolson steps answer with undershoots beside it (of the
// order of the step's length times D/h^2): as for a zone's lamella, they are
// given to their neighbours, so that no part of the cell holds less than
// nothing and the amount stays.
void CConcDependentPath::CleanUpLayeredStart(double* c) {
  if (!L_.syntheticBoundary_ || !(L_.t_ < 10)) return;
  const double* r = L_.r_;
  // (A node given a share can turn negative itself: a few passes.)
  for (int pass = 0; pass < 4; ++pass) {
    bool moved = false;
    for (int i = 2; i < N_; ++i) {
      if (!(c[i] < 0)) continue;
      c[i - 1] += 0.5 * c[i] * r[i] / r[i - 1];
      c[i + 1] += 0.5 * c[i] * r[i] / r[i + 1];
      c[i] = 0;
      moved = true;
    }
    if (!moved) break;
  }
}

void CConcDependentPath::CleanUpNegatives() {
  const double* r = L_.r_;
  for (int i = 2; i < N_; ++i) {
    if (!(cTrial[i] < 1e-10)) continue;
    cTrial[i - 1] += static_cast<float>(0.5 * cTrial[i] * r[i] / r[i - 1]);
    cTrial[i + 1] += static_cast<float>(0.5 * cTrial[i] * r[i] / r[i + 1]);
    cTrial[i] = 0;
  }
}

double CConcDependentPath::AdaptiveStep() {
  double* c = L_.c_;
  for (int k : live_) old_[k] = acc_[k];
  std::copy(c + 1, c + N_ + 1, cOld.begin() + 1);
  bool hit = false;
  // The step within the rotor's and the scans' limits; false (the step set
  // to 1 s) when nothing of it is left.
  auto limit = [&] {
    L_.LimitTimeStep(true, hit);
    CutAtNextScan();
    if (L_.dt_ > 0) return true;
    L_.dt_ = 1.0;
    return false;
  };
  if (!limit()) return 1.0;
  auto trial = [&]() {
    TrialStep(L_.dt_);
    if (Diverged()) {
      L_.errNonConvergence_ = 1;
      return false;
    }
    if (model_ != Model::Components && L_.cdModel_.cleanUp && L_.t_ < 10) CleanUpNegatives();
    return !(L_.errTridag_ || L_.errConcDependent_);
  };
  if (!trial()) return 0;
  if (L_.stepCount_ == 0) {
    Corrector();
    AcceptStep();
    return L_.dt_;
  }
  double err = StepError();
  // A sedimenting species cannot lose material at the bottom of a closed
  // cell (nor a floating one gain it): such a step is redone at half length.
  if (!closedBottom_ && L_.dt_ > 1) {
    const bool wrongWay = sedimenting_ ? cTrial[N_] < cOld[N_] : cOld[N_] < cTrial[N_];
    if (wrongWay) {
      L_.dt_ *= 0.5;
      if (!trial()) return 0;
      err = StepError();
    }
  }
  while (err > ctl_.tol) {
    if (ctl_.forced > kMaxForcedSteps) {
      L_.errNonConvergence_ = 1;
      return 0;
    }
    L_.dt_ = ctl_.Shrink(err, L_.dt_);
    if (!limit()) return 1.0;
    if (!trial()) return 0;
    err = StepError();
  }
  Corrector();
  if (L_.errTridag_ || L_.errConcDependent_) return 0;
  AcceptStep();
  L_.dt_ = ctl_.Grow(err, L_.dt_);
  CutAtNextScan();
  L_.LimitTimeStep(false, hit);
  return err;
}

// ------------------------------------------------------------ the run

void CConcDependentPath::Run() {
  if (L_.N_ < 2 || !L_.allocated_) return;
  const bool components = L_.tableModel_ && L_.componentCount_ > 0;
  Allocate(components ? L_.componentCount_ : 0);
  correctorReady_ = nodesReady_ = trialReady_ = false;
  solved_ = nullptr;
  AssembleNonidealMatrices();
  double* c = L_.c_;
  if (components) {
    double loading = 0;
    for (int k = 1; k <= nc_; ++k) loading += L_.compConc_[k] * L_.compWeight_[k];
    // Under a synthetic boundary each component has an overlay of its own.
    for (int k = 1; k <= nc_; ++k)
      for (int i = 1; i <= N_; ++i)
        acc_[k][i] = L_.syntheticBoundary_ ? L_.SyntheticBoundaryLoading(k, L_.r_[i])
                                           : L_.compConc_[k] * (loading > 0 ? c[i] / loading : 1.0);
    // A component loaded with nothing stays nothing at every step.
    for (int k = 1; k <= nc_; ++k)
      if (std::any_of(acc_[k].begin(), acc_[k].end(), [](double v) { return v != 0.0; })) live_.push_back(k);
  }
  L_.errNonConvergence_ = L_.errTridag_ = L_.errConcDependent_ = 0;
  if (!PrepareModel()) {
    L_.errConcDependent_ = 1;
    table_.Free();
    return;
  }
  const double cap = L_.opt_.stepTolerance > kConcDependentMaxDc ? kConcDependentMaxDc / L_.opt_.stepTolerance : 1.0;
  ctl_.Start(cap * L_.opt_.stepTolerance, cap * L_.opt_.stepLowerTolerance, cap * L_.opt_.stepTarget, L_.opt_.stepFactor,
             L_.opt_.blend);
  double cmax = 0;
  for (int i = 1; i <= N_; ++i) cmax = std::max(cmax, std::fabs(c[i]));
  trimThreshold_ = L_.opt_.truncationSetting * cmax;
  closedBottom_ = L_.IsGradientTooSteep(L_.s_, L_.D_);
  const bool wiener = L_.detection_.wiener;
  if (wiener) L_.AllocProfileBuffers(N_);
  for (int i = 1; i <= N_; ++i) cOld[i] = c[i];
  for (int k = 1; k <= nc_; ++k) old_[k] = acc_[k];
  if (!NodeCoefficients(1)) L_.errConcDependent_ = 1;
  ctl_.dtMax = L_.maxTimeGiven_ ? L_.maxTimeValue_ : 1000.0;

  // The boundary stop: once the region beyond the observed one is depleted
  // nothing observable changes any more.
  int watch = N_;
  if (sedimenting_) {
    for (int i = 1; i <= N_; ++i)
      if (L_.r_[i] > L_.rightFitLimit_) {
        watch = i;
        break;
      }
  } else {
    watch = 1;
    for (int i = 1; i <= N_; ++i)
      if (L_.r_[i] <= L_.leftFitLimit_) watch = i;
  }
  const double watchThreshold = L_.watchFraction_ * c[watch];
  const bool watchOn = !L_.cdModel_.cleanUp && !L_.zone_.on && !L_.initialProfile_ && !L_.syntheticBoundary_;

  L_.endCondition_ = false;
  const double lastScanTime = L_.ScanTime(L_.scans_.scanCount);
  CQuietSteps quiet;
  while (L_.running_) {
    if (L_.errNonConvergence_ || L_.errTridag_ || L_.errConcDependent_) break;
    const double dtUsed = L_.dt_;
    double q = AdaptiveStep();
    if (L_.errNonConvergence_ || L_.errTridag_ || L_.errConcDependent_) break;
    if (wiener && L_.wienerRef_ && L_.t_ >= L_.nextScanTime_) {
      const double scale = nonideal_.scale;
      for (int i = 1; i <= N_; ++i) {
        double v = 0;
        if (components)
          for (int k = 1; k <= nc_; ++k) v += acc_[k][i];
        else
          v = c[i];
        L_.wienerRef_[i] = v / scale;
      }
    }
    L_.EachIterationOutput(q);
    q /= dtUsed;
    // Little change per second is not enough: a slow approach to equilibrium
    // must also have too little time left to move noticeably.
    const double remaining = std::max(0.0, lastScanTime - L_.t_);
    if (quiet.Count(IsQuietStep(dtUsed, q, L_.opt_.steadyTolerance, remaining))) {
      L_.endCondition_ = true;
      L_.running_ = false;
    }
    if (watchOn && L_.running_ && L_.s_ != 0 && c[watch] < watchThreshold) {
      L_.endCondition_ = true;
      L_.running_ = false;
    }
  }
  table_.Free();
  if (wiener) L_.FreeProfileBuffers();
}
