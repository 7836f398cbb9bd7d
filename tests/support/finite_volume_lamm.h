#pragma once
// An independent reference for the approach to sedimentation equilibrium:
// the Lamm equation of one species from unit loading, solved by finite
// volumes rather than finite elements.
#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

// An independent solution: 1500 cells of equal width, Scharfetter-Gummel
// fluxes (exact at equilibrium for the face radius), the rotor speed
// rpmAt(t) with its kinks. Profiles at times[k] are read at radii by linear
// interpolation between cell centres.
inline std::vector<std::vector<double>> FiniteVolumeApproach(double s, double D, double m, double b,
                                                      const std::function<double(double)>& rpmAt,
                                                      const std::vector<double>& kinks,
                                                      const std::vector<double>& times,
                                                      const std::vector<double>& radii) {
  const int n = 1500;
  const double h = (b - m) / n;
  std::vector<double> x(n), c(n, 1.0), lo(n), di(n), up(n), rhs(n), gam(n);
  for (int i = 0; i < n; ++i) x[i] = m + (i + 0.5) * h;
  auto bern = [](double z) { return std::fabs(z) < 1e-8 ? 1.0 - 0.5 * z : z / std::expm1(z); };
  // A c for face speeds at rotor speed v: (A c)_i = (r J)_{i-1/2} - (r J)_{i+1/2}, over x_i h.
  auto assemble = [&](double v, std::vector<double>& aL, std::vector<double>& aD, std::vector<double>& aU) {
    const double w2 = std::pow(v * M_PI / 30.0, 2);
    std::fill(aL.begin(), aL.end(), 0.0);
    std::fill(aD.begin(), aD.end(), 0.0);
    std::fill(aU.begin(), aU.end(), 0.0);
    for (int i = 0; i + 1 < n; ++i) {
      const double rf = m + (i + 1) * h, pe = s * 1e-13 * w2 * rf * h / D;
      const double kl = rf * D / h * bern(-pe), kr = rf * D / h * bern(pe);  // rJ = kl cL - kr cR
      aD[i] -= kl / (x[i] * h);
      aU[i] += kr / (x[i] * h);
      aL[i + 1] += kl / (x[i + 1] * h);
      aD[i + 1] -= kr / (x[i + 1] * h);
    }
  };
  std::vector<double> aL(n), aD(n), aU(n);
  double assembled = -1;
  auto step = [&](double t, double dt, double theta) {
    const double v = rpmAt(t + 0.5 * dt);
    if (v != assembled) assemble(v, aL, aD, aU);
    assembled = v;
    for (int i = 0; i < n; ++i) {
      double ac = aD[i] * c[i];
      if (i > 0) ac += aL[i] * c[i - 1];
      if (i + 1 < n) ac += aU[i] * c[i + 1];
      rhs[i] = c[i] + (1 - theta) * dt * ac;
      lo[i] = -theta * dt * aL[i];
      di[i] = 1 - theta * dt * aD[i];
      up[i] = -theta * dt * aU[i];
    }
    double bet = di[0];
    c[0] = rhs[0] / bet;
    for (int i = 1; i < n; ++i) {
      gam[i] = up[i - 1] / bet;
      bet = di[i] - lo[i] * gam[i];
      c[i] = (rhs[i] - lo[i] * c[i - 1]) / bet;
    }
    for (int i = n - 2; i >= 0; --i) c[i] -= gam[i + 1] * c[i + 1];
  };
  std::vector<std::vector<double>> out;
  double t = 0;
  // Implicit 1 s steps from every kink of the speed course for 120 s,
  // Crank-Nicolson steps of up to 60 s elsewhere, none across a kink.
  auto nearKink = [&](double time) {
    for (double k : kinks)
      if (time >= k && time < k + 120) return true;
    return false;
  };
  for (double target : times) {
    while (t < target - 1e-9) {
      const bool fine = nearKink(t);
      double dt = std::min(fine ? 1.0 : 60.0, target - t);
      for (double k : kinks)
        if (k > t && k < t + dt) dt = k - t;
      step(t, dt, fine ? 1.0 : 0.5);
      t += dt;
    }
    std::vector<double> profile;
    for (double r : radii) {
      const double q = std::clamp((r - x[0]) / h, 0.0, n - 1.000001);
      const int i = static_cast<int>(q);
      profile.push_back(c[i] + (q - i) * (c[i + 1] - c[i]));
    }
    out.push_back(profile);
  }
  return out;
}

