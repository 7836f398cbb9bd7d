#include "lamm/lamm_no_diffusion.h"

#include <algorithm>
#include <cmath>

#include "lamm/lamm_ideal.h"
#include "numerics/constants.h"

namespace {

// Sedimentation without diffusion in a solvent compressed by the rotor:
// density rho(r) = rho0 / (1 - kk (r^2 - m^2)) (as the Lamm solvers take
// it), so s(r) = s (gamma - x) / (gamma (1 - x)) with x = kk (r^2 - m^2) and
// gamma = 1 - vbar rho0. Along a characteristic u = r^2 moves by
//   gamma/(gamma + mu) [psi(u) - psi(u0)] = 2 s w^2 t,
//   psi(u) = (1 + mu) ln u - (1 - gamma) ln(gamma - x(u)),  mu = kk m^2,
// and as the amount c r dr is kept along it, c = c0 u0 s(r0) / (u s(r)).
struct CompressedSolvent {
  double kk, m2, gamma, mu;
  double X(double u) const { return kk * (u - m2); }
  double Psi(double u) const { return (1 + mu) * std::log(u) - (1 - gamma) * std::log(gamma - X(u)); }
  // The buoyancy factor s(r)/s up to the constant 1/gamma.
  double Factor(double u) const { return (gamma - X(u)) / (1 - X(u)); }
  // u with Psi(u) = target, between lo and hi (Psi rises in u).
  double Solve(double target, double lo, double hi) const {
    for (int it = 0; it < 200 && hi - lo > 1e-13 * hi; ++it) {
      const double mid = 0.5 * (lo + hi);
      (Psi(mid) < target ? lo : hi) = mid;
    }
    return 0.5 * (lo + hi);
  }
};

}  // namespace

void CLLammNoDiffvec(const CLammIdeal& o, float c0, double t, double rpm, double w2t,
                     const float* radii, float* out, int n) {
  const double w = RpmToOmega(rpm);
  const double w2 = w * w;
  double te, a;
  if (!o.accelerating_ && !o.schedule_) {
    te = t;
    a = o.rotor_.sw2Final;
  } else {
    te = w2 > 0 ? w2t / w2 : 0;
    a = w2 * o.s_ * 1e-13;
  }
  float k = static_cast<float>(a * te);
  const double m = o.meniscus_, b = o.bottom_;
  double rb, p;
  const bool finite = o.scans_.timeResolution && o.scans_.scanVelocity > 0;
  const double v = o.scans_.scanVelocity / 60.0;  // cm/s
  if (!finite) {
    if (a > 0) {
      if (k <= 2) {
        rb = m * std::exp(k);
        p = c0 * std::exp(-2.0 * k);
      } else {
        rb = 10.0;
        p = 0;
      }
    } else {
      if (k >= -2) {
        rb = b * std::exp(k);
        p = c0 * std::exp(-2.0 * k);
      } else {
        rb = 3.0;
        p = 0;
      }
    }
  } else {
    rb = (a > 0 ? m : b) * std::exp(k);
    const double tau = (rb - m) / v;
    const double k2 = (te + tau) * a;
    rb = (a > 0 ? m : b) * std::exp(k2);
    p = c0 * std::exp(-2 * k2);
  }
  double rl = (m + o.zone_.lamellaWidth) * std::exp(k);
  if (finite) {
    const double tau = (rl - m) / v;
    rl = (m + o.zone_.lamellaWidth) * std::exp((te + tau) * a);
  }
  // A compressible solvent (without a zone loading): the profile along the
  // characteristics, at the time the boundary is seen.
  const double kappa = o.medium_.compressibility;  // 1/MPa
  if (o.medium_.inhomogeneous && o.medium_.staticGradient && !o.medium_.twoEnds && kappa > 0 &&
      !o.zone_.on && a != 0) {
    const double rho0 = o.medium_.bufferDensity, vbar = o.medium_.bufferVbar;
    CompressedSolvent cs;
    cs.kk = 1000 * rho0 * 0.5 * w2 * kappa * 1e-6 * 1e-4;  // 1/cm^2, as CompressibleSolventDensity
    cs.m2 = m * m;
    cs.gamma = 1 - vbar * rho0;
    cs.mu = cs.kk * cs.m2;
    const double uMax = cs.m2 + 0.999999 * cs.gamma / cs.kk;  // where s(r) would reach 0
    const double b2 = std::min(b * b, uMax);
    if (!(cs.gamma > 0) || !(b2 > cs.m2)) {
      for (int j = 1; j <= n; ++j) out[j] = 0;
      return;
    }
    double K = finite ? (te + (rb - m) / v) * a : a * te;  // s w^2 T
    const double shift = 2 * K * (cs.gamma + cs.mu) / cs.gamma;
    // The boundary starts at the meniscus (sedimentation) or the bottom.
    const double uStart = a > 0 ? cs.m2 : b2;
    const double psiB = cs.Psi(uStart) + shift;
    const double ub = psiB >= cs.Psi(b2) ? b2 : psiB <= cs.Psi(cs.m2) ? cs.m2 : cs.Solve(psiB, cs.m2, b2);
    const bool gone = a > 0 ? psiB >= cs.Psi(b2) : psiB <= cs.Psi(cs.m2);
    const double rbC = std::sqrt(ub);
    for (int j = 1; j <= n; ++j) {
      const double r = radii[j];
      const double u = r * r;
      const bool plateau = !gone && (a > 0 ? r >= rbC : r <= rbC) && u > cs.m2 * (1 - 1e-12) && u < b2 * (1 + 1e-12);
      if (!plateau) {
        out[j] = 0;
        continue;
      }
      const double uc = std::clamp(u, cs.m2, b2);
      const double target = cs.Psi(uc) - shift;
      const double u0 = cs.Solve(target, cs.m2, b2);
      out[j] = static_cast<float>(c0 * u0 * cs.Factor(u0) / (uc * cs.Factor(uc)));
    }
    return;
  }
  for (int j = 1; j <= n; ++j) {
    const double r = radii[j];
    const double f = finite ? std::exp(-2 * a * (r - m) / v) : 1.0;
    double y;
    if (!o.zone_.on) {
      if (a <= 0)
        y = r <= rb ? p * f : 0;
      else
        y = r >= rb ? p * f : 0;
    } else if (!o.zone_.inverse) {
      y = (r >= rb && r < rl) ? p * f : 0;
    } else {
      y = (r >= rl && r >= rb) ? p * f : 0;
    }
    out[j] = static_cast<float>(y);
  }
}
