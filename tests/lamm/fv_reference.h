#pragma once
// An independent solution of the Lamm equation for the solver tests:
// finite volumes on an even grid of cells between meniscus and bottom,
// exponentially fitted (Scharfetter-Gummel) fluxes, zero flux at both ends,
// Crank-Nicolson in time started by implicit Euler half-steps (the loading's
// step at the meniscus would otherwise ring). Nothing of the program's
// solvers is used.
//
//   d(r c)/dt = -d(r J)/dr,  J = s(r,t) w^2 r c - D(r,t) dc/dr
//
// s and D may depend on radius and time through a callback (an inhomogeneous
// solvent); by default they are constants.
#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace lammtest {

struct FvLamm {
  double m = 6.0, b = 7.2;
  double s = 4.3, D = 6e-7;  // S, cm^2/s
  double rpm = 50000;
  double rampRate = 0;  // rpm/s: a linear ramp from rest up to rpm; 0 = rpm from t = 0
  int cells = 4000;
  double dt = 0.05;  // s
  // Optional s (S) and D at radius r and time t; overrides s and D.
  std::function<void(double r, double t, double& s, double& D)> coefficients;
  // Optional step hook, called after each accepted step at time t (for a
  // cosolute advanced alongside).
  std::function<void(double t)> afterStep;

  std::vector<double> x, c;  // cell centres and values
  double t = 0;
  std::vector<double> a_, g_;  // face coefficients (kept for constant s, D)
  std::vector<double> V_, lo_, di_, up_, rhs_, cp_, dp_;

  void Start(double c0) {
    x.assign(cells, 0);
    c.assign(cells, c0);
    const double h = (b - m) / cells;
    for (int i = 0; i < cells; ++i) x[i] = m + (i + 0.5) * h;
    t = 0;
    a_.clear();
  }

  static double Bern(double z) {
    if (std::fabs(z) < 1e-8) return 1 - 0.5 * z;
    return z / std::expm1(z);
  }

  double RpmAt(double time) const { return rampRate > 0 ? std::min(rpm, rampRate * time) : rpm; }

  // Face fluxes as r_f J_f = a_f c_i - g_f c_{i+1} (face between cells i, i+1).
  void FaceCoefficients(double time, std::vector<double>& a, std::vector<double>& g) const {
    const double w = RpmAt(time) * 2 * 3.141592653589793 / 60;
    const double h = (b - m) / cells;
    a.assign(cells, 0);
    g.assign(cells, 0);
    for (int i = 0; i + 1 < cells; ++i) {
      const double r = m + (i + 1) * h;
      double sv = s, Dv = D;
      if (coefficients) coefficients(r, time, sv, Dv);
      const double v = sv * 1e-13 * w * w * r;
      const double pe = v * h / Dv;
      a[i] = r * Dv / h * Bern(-pe);
      g[i] = r * Dv / h * Bern(pe);
    }
  }

  // theta = 1: implicit Euler; 0.5: Crank-Nicolson (coefficients at the midpoint).
  void Step(double k, double theta) {
    const int n = cells;
    const bool ramping = rampRate > 0 && t < rpm / rampRate + k;
    if (coefficients || ramping || a_.empty()) FaceCoefficients(t + 0.5 * k, a_, g_);
    if (static_cast<int>(V_.size()) != n) {
      const double h = (b - m) / cells;
      V_.resize(n);
      for (int i = 0; i < n; ++i) {
        const double rl = m + i * h, rr = m + (i + 1) * h;
        V_[i] = 0.5 * (rr * rr - rl * rl);
      }
      lo_.resize(n), di_.resize(n), up_.resize(n), rhs_.resize(n), cp_.resize(n), dp_.resize(n);
    }
    const double* a = a_.data();
    const double* g = g_.data();
    // d(V c_i)/dt = F_{i-1/2} - F_{i+1/2}; F_{i+1/2} = a_i c_i - g_i c_{i+1}.
    for (int i = 0; i < n; ++i) {
      double f = 0, d = V_[i], l = 0, u = 0;
      if (i > 0) {
        f += a[i - 1] * c[i - 1] - g[i - 1] * c[i];
        l = -theta * k * a[i - 1];
        d += theta * k * g[i - 1];
      }
      if (i + 1 < n) {
        f -= a[i] * c[i] - g[i] * c[i + 1];
        d += theta * k * a[i];
        u = -theta * k * g[i];
      }
      rhs_[i] = V_[i] * c[i] + (1 - theta) * k * f;
      lo_[i] = l, di_[i] = d, up_[i] = u;
    }
    cp_[0] = up_[0] / di_[0];
    dp_[0] = rhs_[0] / di_[0];
    for (int i = 1; i < n; ++i) {
      const double p = di_[i] - lo_[i] * cp_[i - 1];
      cp_[i] = up_[i] / p;
      dp_[i] = (rhs_[i] - lo_[i] * dp_[i - 1]) / p;
    }
    c[n - 1] = dp_[n - 1];
    for (int i = n - 2; i >= 0; --i) c[i] = dp_[i] - cp_[i] * c[i + 1];
    t += k;
    if (afterStep) afterStep(t);
  }

  // Advances to time T (> t): the first call starts with four implicit Euler
  // steps of dt/2.
  void AdvanceTo(double T) {
    const int bound = 100000000;
    int guard = 0;
    if (t == 0) {
      for (int k = 0; k < 4 && t < T; ++k) Step(std::min(0.5 * dt, T - t), 1.0);
    }
    while (t < T - 1e-9 && ++guard < bound) Step(std::min(dt, T - t), 0.5);
  }

  // Linear interpolation between cell centres; the half cells at the ends
  // take the nearest centre's value extrapolated linearly.
  double At(double r) const {
    const double h = (b - m) / cells;
    double u = (r - m) / h - 0.5;
    int i = static_cast<int>(std::floor(u));
    i = std::clamp(i, 0, cells - 2);
    const double f = u - i;
    return c[i] + f * (c[i + 1] - c[i]);
  }
};

}  // namespace lammtest

namespace lammtest {

// A species over a sedimenting cosolute, both by FvLamm on the same cells
// and stepped together: at each step the cosolute first, then the species
// with s and D at each face from the cosolute's mean over the step,
// through `local` (cosolute concentration, radius -> factors on s and D).
struct FvCosoluteLamm {
  FvLamm species, cosolute;
  std::function<void(double c, double r, double& fs, double& fD)> local;
  std::vector<double> old_;

  double CosoluteAt(double r) const {
    const double h = (cosolute.b - cosolute.m) / cosolute.cells;
    double u = (r - cosolute.m) / h - 0.5;
    int i = std::clamp(static_cast<int>(std::floor(u)), 0, cosolute.cells - 2);
    const double f = u - i;
    const double a = 0.5 * (old_[i] + cosolute.c[i]), b = 0.5 * (old_[i + 1] + cosolute.c[i + 1]);
    return a + f * (b - a);
  }

  void Start(double c0, double cosolute0) {
    species.Start(c0);
    cosolute.Start(cosolute0);
    const double s0 = species.s, D0 = species.D;
    species.coefficients = [this, s0, D0](double r, double, double& s, double& D) {
      double fs = 1, fD = 1;
      local(CosoluteAt(r), r, fs, fD);
      s = s0 * fs;
      D = D0 * fD;
    };
  }

  void Step(double k, double theta) {
    old_ = cosolute.c;
    cosolute.Step(k, theta);
    species.Step(k, theta);
  }

  void AdvanceTo(double T) {
    const double dt = species.dt;
    int guard = 0;
    if (species.t == 0) {
      for (int k = 0; k < 4 && species.t < T; ++k) Step(std::min(0.5 * dt, T - species.t), 1.0);
    }
    while (species.t < T - 1e-9 && ++guard < 100000000) Step(std::min(dt, T - species.t), 0.5);
  }
};

}  // namespace lammtest
