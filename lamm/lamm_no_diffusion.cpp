#include "lamm/lamm_no_diffusion.h"

#include <cmath>

#include "lamm/lamm_ideal.h"

void CLLammNoDiffvec(const CLammIdeal& o, float c0, double t, double rpm, double w2t,
                     const float* radii, float* out, int n) {
  constexpr double kPi = 3.141592653589793;
  const double w = 2 * kPi * rpm / 60.0;
  const double w2 = w * w;
  double te, a;
  if (!o.accelerating_ && !o.schedule_) {
    te = t;
    a = o.sw2Final_;
  } else {
    te = w2 > 0 ? w2t / w2 : 0;
    a = w2 * o.s_ * 1e-13;
  }
  float k = static_cast<float>(a * te);
  const double m = o.meniscus_, b = o.bottom_;
  double rb, p;
  const bool finite = o.timeResolution_ && o.scanVelocity_ > 0;
  const double v = o.scanVelocity_ / 60.0;  // cm/s
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
  double rl = (m + o.lamellaWidth_) * std::exp(k);
  if (finite) {
    const double tau = (rl - m) / v;
    rl = (m + o.lamellaWidth_) * std::exp((te + tau) * a);
  }
  for (int j = 1; j <= n; ++j) {
    const double r = radii[j];
    const double f = finite ? std::exp(-2 * a * (r - m) / v) : 1.0;
    double y;
    if (!o.zoneLoading_) {
      if (a <= 0)
        y = r <= rb ? p * f : 0;
      else
        y = r >= rb ? p * f : 0;
    } else if (!o.zoneInverse_) {
      y = (r >= rb && r < rl) ? p * f : 0;
    } else {
      y = (r >= rl && r >= rb) ? p * f : 0;
    }
    out[j] = static_cast<float>(y);
  }
}
