// Inhomogeneous solvent: cosolute formulas, solvent density and viscosity,
// the cosolute's finite-element solution and the species' local factors
// with their weighted element integrals (equations in the header).
#include "lamm/solvent_model.h"

#include <algorithm>
#include <cmath>

#include "lamm/element_integrals.h"
#include "numerics/constants.h"
#include "numerics/linear_solvers.h"

namespace {
// Three Gauss points integrate the degree-5 integrands exactly.
constexpr double kGaussX[3] = {-0.7745966692414834, 0.0, 0.7745966692414834};
constexpr double kGaussW[3] = {5.0 / 9, 8.0 / 9, 5.0 / 9};

double Sum(const std::vector<double>& a, const double* terms, int most) {
  const int m = std::min(static_cast<int>(a.size()) - 1, most);
  double sum = 0;
  for (int k = 1; k <= m; ++k) sum += a[k] * terms[k - 1];
  return sum;
}

// Hat function of node k on the element [r_a, r_(a+1)] at x, and its slope.
double Hat(int k, int a, const double* r, double x) {
  const double h = r[a + 1] - r[a];
  if (k == a) return (r[a + 1] - x) / h;
  if (k == a + 1) return (x - r[a]) / h;
  return 0;
}
double HatSlope(int k, int a, const double* r) {
  const double h = r[a + 1] - r[a];
  return k == a ? -1 / h : k == a + 1 ? 1 / h : 0;
}
}  // namespace

double CsClSedimentationCoefficient25C(double c) {
  // A slightly negative concentration (undershoot of a step) is no CsCl.
  const double x = 168.4 * std::fmax(c, 0.0);
  return 0.596 - 0.000322 * x - 0.0633 * std::exp(-0.00399 * x);
}

double CsClDiffusionCoefficient25C(double c) {
  c = std::fmax(c, 0.0);
  return 1e-5 * (2.04 + (2.03 - 2.04) * std::exp(-18.1 * c) + 0.507 * c - 0.0341 * c * c -
                 0.614 * std::sqrt(c));
}

double EvalPolynomial(const double* a, int m, double c) {
  if (!a || m < 1) return 0;
  double sum = 0;
  for (int k = m; k >= 1; --k) sum = sum * c + a[k];
  return sum;
}

double ViscosityAtConcentration(const SolventGradientSettings& sg, double c) {
  const auto& a = sg.ViscosityCoefficients;
  if (a.size() < 2) return kWaterViscosity20C;
  c = std::fmax(c, 0.0);
  const double terms[5] = {1, 1e-3 * std::sqrt(c), 1e-2 * c, 1e-3 * c * c, 1e-4 * c * c * c};
  return kWaterViscosity20C * Sum(a, terms, 5);
}

double DensityAtConcentration(const SolventGradientSettings& sg, double c) {
  const auto& a = sg.DensityCoefficients;
  if (a.size() < 2) return kWaterDensity20C;
  c = std::fmax(c, 0.0);
  const double terms[6] = {1, 1e-3 * std::sqrt(c), 1e-2 * c, 1e-3 * c * c, 1e-4 * c * c * c,
                           1e-6 * c * c * c * c};
  return Sum(a, terms, 6);
}

double CompressibleSolventDensity(double r, double rho0, double meniscus, double rpm, double kappa) {
  const double w = RpmToOmega(rpm);
  const double k = 1000 * rho0 * 0.5 * w * w * kappa * 1e-6;
  return rho0 / (1 - (r * r - meniscus * meniscus) * k * 1e-4);
}

double BuoyancyRatio(double v, double rho, double vbar) {
  return (1 - v * rho) / (1 - vbar * kWaterDensity20C);
}

double MeanViscosityFactor(const SolventGradientSettings& sg) {
  return sg.StaticGradient || sg.DynamicGradient ? 1.0 / sg.ViscosityRatio : 1.0;
}

double MeanBuoyancyRatio(const SolventGradientSettings& sg, double vbar) {
  if (sg.StaticGradient) return BuoyancyRatio(vbar, sg.BufferDensity1atm, vbar);
  if (sg.DynamicGradient) return BuoyancyRatio(sg.EffectiveVbar, sg.BufferDensity1atm, vbar);
  return 1.0;
}

// ------------------------------------------------------------ element integrals

double WeightedElementA(int i, int j, const double* r, int n, const double* e) {
  if (i < 1 || j < 1 || i > n || j > n || std::abs(i - j) > 1) return 0;
  auto term = [&](int a) {
    const double ra = r[a], rb = r[a + 1];
    return (e[a] * (2 * ra + rb) + e[a + 1] * (ra + 2 * rb)) / (6 * (rb - ra));
  };
  if (i != j) return -term(std::min(i, j));
  double sum = 0;
  if (i > 1) sum += term(i - 1);
  if (i < n) sum += term(i);
  return sum;
}

double WeightedElementB(int i, int j, const double* r, int n, const double* e, const double* q) {
  if (i < 1 || j < 1 || i > n || j > n || std::abs(i - j) > 1) return 0;
  double sum = 0;
  for (int a = std::max(i, j) - 1; a <= std::min(i, j); ++a) {
    if (a < 1 || a >= n) continue;
    const double ra = r[a], rb = r[a + 1], half = 0.5 * (rb - ra), mid = 0.5 * (ra + rb);
    const double slope = HatSlope(i, a, r);
    for (int g = 0; g < 3; ++g) {
      const double x = mid + half * kGaussX[g];
      const double pa = Hat(a, a, r, x), pb = Hat(a + 1, a, r, x);
      const double ex = e[a] * pa + e[a + 1] * pb;
      const double qx = q ? q[a] * pa + q[a + 1] * pb : 1.0;
      sum += kGaussW[g] * half * x * x * ex * qx * slope * Hat(j, a, r, x);
    }
  }
  return sum;
}

// Per element a = [r_a, r_(a+1)], h its width: left = int r^2 e q phi_a,
// right = int r^2 e q phi_(a+1) (three Gauss points, whose hat values are
// the same in every element), diffusion = int r d phi_a'^2 = (d_a (2 r_a +
// r_(a+1)) + d_(a+1) (r_a + 2 r_(a+1))) / (6 h).
void ElementMoments(const double* r, int n, const double* d, const double* e, const double* q,
                    double* left, double* right, double* diffusion) {
  constexpr double pa[3] = {0.5 * (1 - kGaussX[0]), 0.5, 0.5 * (1 - kGaussX[2])};
  constexpr double pb[3] = {1 - pa[0], 0.5, 1 - pa[2]};
  for (int a = 1; a < n; ++a) {
    const double ra = r[a], rb = r[a + 1], h = rb - ra, half = 0.5 * h, mid = 0.5 * (ra + rb);
    double L = 0, R = 0;
    for (int g = 0; g < 3; ++g) {
      const double x = mid + half * kGaussX[g];
      const double ex = e[a] * pa[g] + e[a + 1] * pb[g];
      const double qx = q ? q[a] * pa[g] + q[a + 1] * pb[g] : 1.0;
      const double f = kGaussW[g] * half * x * x * ex * qx;
      L += f * pa[g];
      R += f * pb[g];
    }
    left[a] = L;
    right[a] = R;
    diffusion[a] = (d[a] * (2 * ra + rb) + d[a + 1] * (ra + 2 * rb)) / (6 * h);
  }
}

void StiffnessFromMoments(const double* r, int n, const double* left, const double* right,
                          const double* diffusion, double sw2, double D, double* lo, double* di,
                          double* up) {
  lo[1] = 0;
  di[1] = 0;
  for (int a = 1; a < n; ++a) {
    const double g = 1 / (r[a + 1] - r[a]), dd = D * diffusion[a];
    const double L = sw2 * left[a] * g, R = sw2 * right[a] * g;
    di[a] += -L - dd;
    up[a] = -R + dd;
    lo[a + 1] = L + dd;
    di[a + 1] = R - dd;
  }
  up[n] = 0;
}

// ------------------------------------------------------------ species factors

void LocalSolventFactors::NodeFactors(const SolventGradientSettings& sg, double c, double rhoW,
                                      double vbar, double& ev, double& qv) const {
  const double eta = ViscosityAtConcentration(sg, c);
  double rho = DensityAtConcentration(sg, c);
  if (sg.WaterCompressibilityApplied) rho += rhoW - kWaterDensity20C;
  ev = kWaterViscosity20C / eta / eReference;
  qv = BuoyancyRatio(sg.EffectiveVbar, rho, vbar) / qReference;
}

void LocalSolventFactors::Init(const SolventGradientSettings& sg, double vbar, const double* r,
                               int N, double meniscus, double rpm) {
  if (count != N) {
    e.assign(N + 1, 1.0);
    q.assign(N + 1, 1.0);
    rhoWater.assign(N + 1, kWaterDensity20C);
    count = N;
  }
  for (int i = 1; i <= N; ++i) {
    double ev = 1, qv = 1;
    if (sg.StaticGradient) {
      const double rho =
          CompressibleSolventDensity(r[i], sg.BufferDensity1atm, meniscus, rpm, sg.Compressibility);
      ev = 1.0 / sg.ViscosityRatio / eReference;
      qv = BuoyancyRatio(vbar, rho, vbar) / qReference;
    } else if (sg.DynamicGradient) {
      if (sg.WaterCompressibilityApplied)
        rhoWater[i] = CompressibleSolventDensity(r[i], kWaterDensity20C, meniscus, rpm, sg.Compressibility);
      NodeFactors(sg, sg.CosoluteLoadingConcentration, rhoWater[i], vbar, ev, qv);
    } else {
      ev = 1 / eReference;
      qv = 1 / qReference;
    }
    e[i] = ev;
    q[i] = qv;
  }
  PrepareMoments(r, N);
}

void LocalSolventFactors::UpdateFrom(const SolventGradientSettings& sg, double vbar, const double* cs,
                                     int N) {
  if (!sg.DynamicGradient || !sg.SedimentingCosolute || count < N) return;
  for (int i = 1; i <= N; ++i) NodeFactors(sg, cs[i], rhoWater[i], vbar, e[i], q[i]);
}

void LocalSolventFactors::UpdateFrom(const SolventGradientSettings& sg, double vbar,
                                     const CosoluteState& cosolute, const double* at,
                                     const double* grid, int N, double ahead) {
  if (cosolute.n < 2 || !sg.DynamicGradient || !sg.SedimentingCosolute || count < N) return;
  work_.resize(N + 1);
  cosolute.ProfileAhead(ahead, ahead_);
  for (int i = 1; i <= N; ++i) work_[i] = cosolute.ValueAt(ahead_, at[i]);
  UpdateFrom(sg, vbar, work_.data(), N);
  PrepareMoments(grid, N);
}

void LocalSolventFactors::PrepareMoments(const double* r, int n) {
  left.resize(n + 1);
  right.resize(n + 1);
  diffusion.resize(n + 1);
  momentR = r;
  momentN = n;
  ElementMoments(r, n, e.data(), e.data(), q.data(), left.data(), right.data(), diffusion.data());
}

double LocalSolventFactors::MomentA(int i, int j, int last) const {
  const int n = std::min(last, momentN);
  if (i < 1 || j < 1 || i > n || j > n || std::abs(i - j) > 1) return 0;
  const double* d = diffusion.data();
  if (i != j) return -d[std::min(i, j)];
  return (i > 1 ? d[i - 1] : 0.0) + (i < n ? d[i] : 0.0);
}

double LocalSolventFactors::MomentB(int i, int j, int last) const {
  const int n = std::min(last, momentN);
  if (i < 1 || j < 1 || i > n || j > n || std::abs(i - j) > 1) return 0;
  const double* r = momentR;
  double sum = 0;
  for (int a = std::max(i, j) - 1; a <= std::min(i, j); ++a) {
    if (a < 1 || a >= n) continue;
    const double slope = (i == a ? -1 : 1) / (r[a + 1] - r[a]);
    sum += slope * (j == a ? left[a] : right[a]);
  }
  return sum;
}

void LocalSolventFactors::Stiffness(double sw2, double D, int last, double* lo, double* di,
                                    double* up) const {
  StiffnessFromMoments(momentR, std::min(last, momentN), left.data(), right.data(), diffusion.data(), sw2,
                       D, lo, di, up);
}

double LocalSolventFactors::EndTermD(const double* r, int k) const {
  k = std::min(k, count);
  if (k < 2) return 0;
  return r[k] * e[k] / (r[k] - r[k - 1]);
}

double LocalSolventFactors::EndTermS(const double* r, int k) const {
  k = std::min(k, count);
  if (k < 1) return 0;
  return e[k] * q[k] * r[k] * r[k];
}

// ------------------------------------------------------------ cosolute

bool CosoluteState::NodeCoefficients(const std::vector<double>& x, std::vector<double>& sv,
                                     std::vector<double>& Dv) {
  for (int i = 1; i <= n; ++i) {
    const double cc = std::fmax(x[i], 0.0);
    if (!nonideal_) {
      sv[i] = s0_;
      Dv[i] = D0_;
    } else if (csCl_) {
      sv[i] = CsClSedimentationCoefficient25C(cc);
      Dv[i] = CsClDiffusionCoefficient25C(cc);
    } else {
      sv[i] = EvalPolynomial(sCoef_.data(), static_cast<int>(sCoef_.size()) - 1, cc);
      Dv[i] = EvalPolynomial(dCoef_.data(), static_cast<int>(dCoef_.size()) - 1, cc);
    }
    if (!(Dv[i] > 0)) {
      badConcentration = cc;
      return false;
    }
  }
  return true;
}

void CosoluteState::Assemble(double rpmValue) {
  const double w = RpmToOmega(rpmValue);
  ElementMoments(r.data(), n, D.data(), s.data(), nullptr, left_.data(), right_.data(), diffusion_.data());
  StiffnessFromMoments(r.data(), n, left_.data(), right_.data(), diffusion_.data(), w * w * 1e-13, 1.0,
                       kSub_.data(), kDiag_.data(), kSup_.data());
}

// One Crank-Nicolson step from cOld into c; false on a zero pivot.
bool CosoluteState::Solve(double dt) {
  const double h = 0.5 * dt;
  for (int i = 1; i <= n; ++i) {
    aSub_[i] = mSub_[i] - h * kSub_[i];
    aDiag_[i] = mDiag_[i] - h * kDiag_[i];
    aSup_[i] = mSup_[i] - h * kSup_[i];
    double v = (mDiag_[i] + h * kDiag_[i]) * cOld[i];
    if (i > 1) v += (mSub_[i] + h * kSub_[i]) * cOld[i - 1];
    if (i < n) v += (mSup_[i] + h * kSup_[i]) * cOld[i + 1];
    rhs_[i] = v;
  }
  if (SolveTridiagonal(aSub_.data(), aDiag_.data(), aSup_.data(), rhs_.data(), c.data(), gam_.data(), n))
    return true;
  failed = true;
  c = cOld;
  return false;
}

CosoluteState::Status CosoluteState::Init(const SolventGradientSettings& sg,
                                          const std::vector<double>& sCoef,
                                          const std::vector<double>& dCoef, double meniscus,
                                          double bottom, double rpmValue, double lamella) {
  *this = CosoluteState{};
  const int nodes = sg.CosoluteGridSize;
  if (nodes < 3) return kGridTooSmall;
  n = nodes;
  nonideal_ = sg.NonidealCosolute;
  csCl_ = sg.CsClAt25C;
  s0_ = sg.CosoluteS;
  D0_ = sg.CosoluteD;
  if (nonideal_ && !csCl_) {
    sCoef_ = sCoef;
    dCoef_ = dCoef;
  }
  for (auto* v : {&r, &c, &cOld, &s, &D, &mSub_, &mDiag_, &mSup_, &kSub_, &kDiag_, &kSup_, &aSub_,
                  &aDiag_, &aSup_, &rhs_, &gam_, &left_, &right_, &diffusion_})
    v->assign(n + 1, 0.0);
  const double h = (bottom - meniscus) / (n - 1);
  for (int i = 1; i <= n; ++i) {
    r[i] = meniscus + (i - 1) * h;
    // Layered on top of the column in zone centrifugation, the lamella
    // holds no cosolute.
    const bool inLamella = lamella > 0 && r[i] < meniscus + lamella;
    c[i] = cOld[i] = inLamella ? 0.0 : sg.CosoluteLoadingConcentration;
  }
  for (int i = 1; i <= n; ++i) {
    mSub_[i] = i > 1 ? CalcElementIntegral2F(r.data(), n, i, i - 1, n) : 0;
    mDiag_[i] = CalcElementIntegral2F(r.data(), n, i, i, n);
    mSup_[i] = i < n ? CalcElementIntegral2F(r.data(), n, i, i + 1, n) : 0;
  }
  rpm = rpmValue;
  if (!NodeCoefficients(c, s, D)) return kDNotPositive;
  Assemble(rpm);
  return kOk;
}

CosoluteState::Status CosoluteState::Advance(double dt, double rpmValue) {
  if (n < 3 || dt <= 0) return kOk;
  cOld = c;
  lastStep = dt;
  if (!nonideal_) {
    if (rpmValue != rpm) Assemble(rpmValue);
    rpm = rpmValue;
    return Solve(dt) ? kOk : kSingular;
  }
  // Predictor with s, D at the old profile, corrector with their mean over
  // the old and the predicted profile.
  rpm = rpmValue;
  if (!NodeCoefficients(cOld, s, D)) return kDNotPositive;
  sPrev_ = s;
  dPrev_ = D;
  Assemble(rpm);
  if (!Solve(dt)) return kSingular;
  if (!NodeCoefficients(c, s, D)) return kDNotPositive;
  for (int i = 1; i <= n; ++i) {
    s[i] = 0.5 * (s[i] + sPrev_[i]);
    D[i] = 0.5 * (D[i] + dPrev_[i]);
  }
  Assemble(rpm);
  return Solve(dt) ? kOk : kSingular;
}

void CosoluteState::ProfileAhead(double ahead, std::vector<double>& out) const {
  out.resize(static_cast<size_t>(n) + 1);
  const bool carry = ahead > 0 && lastStep > 0 && static_cast<int>(cOld.size()) == n + 1;
  const double f = carry ? std::min(ahead, lastStep) / lastStep : 0.0;
  for (int i = 1; i <= n; ++i) {
    const double v = carry ? c[i] + f * (c[i] - cOld[i]) : c[i];
    // Traces of cosolute (a depleted meniscus) count as none.
    out[i] = v > 1e-30 ? v : 0.0;
  }
}

double CosoluteState::ValueAt(const std::vector<double>& values, double x) const {
  if (n < 2) return 0;
  if (x <= r[1]) return values[1];
  if (x >= r[n]) return values[n];
  const double h = r[2] - r[1];
  const int a = std::min(n - 1, 1 + static_cast<int>((x - r[1]) / h));
  const double t = (x - r[a]) / (r[a + 1] - r[a]);
  return values[a] + t * (values[a + 1] - values[a]);
}

double CosoluteState::ConcentrationAt(double x) const {
  if (n < 2) return 0;
  if (x <= r[1]) return c[1];
  if (x >= r[n]) return c[n];
  const double h = r[2] - r[1];
  const int a = std::min(n - 1, 1 + static_cast<int>((x - r[1]) / h));
  const double t = (x - r[a]) / (r[a + 1] - r[a]);
  return c[a] + t * (c[a + 1] - c[a]);
}
