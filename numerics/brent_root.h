#pragma once
// Brent's method: a root of f in [a, b] where fa = f(a) and fb = f(b) have
// opposite signs, by inverse quadratic interpolation that falls back to
// bisection whenever it would not shrink the bracket fast enough. It stops
// when half the bracket is within 2 eps |x| + tol / 2 (eps: the machine
// precision of Real) or f vanishes. True with the root in *root; false after
// maxIter steps without convergence (*root untouched).
#include <cmath>

// f(a) and f(b) of one sign: [a, b] brackets no root (a zero at an end does).
template <typename Real>
bool SameSign(Real fa, Real fb) {
  return (fa > 0 && fb > 0) || (fa < 0 && fb < 0);
}

template <typename Real, typename F>
bool BrentRoot(const F& f, Real a, Real b, Real fa, Real fb, Real tol, Real eps, int maxIter,
               Real* root) {
  Real c = b, fc = fb, d = 0, e = 0;
  for (int iter = 1; iter <= maxIter; ++iter) {
    if (SameSign(fb, fc)) {
      c = a;
      fc = fa;
      e = d = b - a;
    }
    if (std::fabs(fc) < std::fabs(fb)) {
      a = b;
      b = c;
      c = a;
      fa = fb;
      fb = fc;
      fc = fa;
    }
    const Real tol1 = 2 * eps * std::fabs(b) + Real(0.5) * tol;
    const Real xm = Real(0.5) * (c - b);
    if (std::fabs(xm) <= tol1 || fb == 0) {
      *root = b;
      return true;
    }
    if (std::fabs(e) >= tol1 && std::fabs(fa) > std::fabs(fb)) {
      Real p, q, r;
      const Real s = fb / fa;
      if (a == c) {
        p = 2 * xm * s;
        q = 1 - s;
      } else {
        q = fa / fc;
        r = fb / fc;
        p = s * (2 * xm * q * (q - r) - (b - a) * (r - 1));
        q = (q - 1) * (r - 1) * (s - 1);
      }
      if (p > 0) q = -q;
      p = std::fabs(p);
      const Real min1 = 3 * xm * q - std::fabs(tol1 * q);
      const Real min2 = std::fabs(e * q);
      if (2 * p < (min1 < min2 ? min1 : min2)) {
        e = d;
        d = p / q;
      } else {
        d = xm;
        e = d;
      }
    } else {
      d = xm;
      e = d;
    }
    a = b;
    fa = fb;
    if (std::fabs(d) > tol1)
      b += d;
    else
      b += (xm >= 0 ? std::fabs(tol1) : -std::fabs(tol1));
    fb = f(b);
  }
  return false;
}
