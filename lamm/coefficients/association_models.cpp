#include "lamm/coefficients/association_models.h"

#include <cmath>

#include "lamm/coefficients/nonideal_coefficients.h"

bool NonidealityModel::HardSphereFactors(double c, float s0, float D0, double& fs, double& fd) const {
  const float x = static_cast<float>(c / scale);
  if (x < 0) {
    fs = fd = 1.0;
    return true;
  }
  // phi is proportional to the concentration: the species' mass and
  // frictional ratio are worked out once, not at every node and step.
  if (phiPerUnit_ < 0 || s0 != refS0_ || D0 != refD0_) {
    phiPerUnit_ = VolumeFractionFromSD(1.0f, k, s0, D0, vbar, rho, T, eta);
    refS0_ = s0;
    refD0_ = D0;
  }
  const float phi = static_cast<float>(phiPerUnit_ * x);
  if (StickyHardSphereFlag) {
    fs = StickySphereSedimentationFactor(phi, tau);
    fd = StickySphereDiffusionFactorFromS(phi, tau, fs);
  } else {
    fs = HardSphereSedimentationFactor(phi);
    fd = HardSphereDiffusionFactorFromS(phi, fs);
  }
  return IsUsableConcentrationFactor(fs) && IsUsableConcentrationFactor(fd);
}

double AssociationCubicRoot(double x, double K) {
  if (x == 0) return 0.0;
  if (!(K > 0)) return x;
  const double K2 = K * K, K3 = K2 * K;
  const double S = std::sqrt(1.0 / (27.0 * K3) + x * x / (4.0 * K2));
  double t = std::cbrt(x / (2.0 * K) + S) - std::cbrt(-x / (2.0 * K) + S);
  // The difference of two nearly equal cube roots loses digits when K x^2
  // is small; f(t) = K t^3 + t - x is monotone, so Newton steps restore them.
  for (int it = 0; it < 3; ++it) {
    const double f = (K * t * t + 1.0) * t - x;
    t -= f / (3.0 * K * t * t + 1.0);
  }
  return t;
}

void DimerAverages(double c, double K, float s1, float s2, float D1, float D2, double& s,
                   double& D) {
  const float arg = static_cast<float>(4.0 * K * c + 1.0);
  const double m = (std::sqrt(static_cast<double>(arg)) - 1.0) / 2.0;
  s = static_cast<float>((m * s2 + s1) / (m + 1.0));
  D = static_cast<float>((2.0 * m * D2 + D1) / (2.0 * m + 1.0));
}

void TrimerAverages(double c, double K, float s1, float s2, float D1, float D2, double& s,
                    double& D) {
  const double t = AssociationCubicRoot(c, K);
  const double u = K * t * t;
  s = (u * s2 + s1) / (u + 1.0);
  D = (3.0 * u * D2 + D1) / (3.0 * u + 1.0);
}

double AssociationTotalFromMonomer(const ThreeSpeciesScheme& p, double x) {
  if (p.tetramerOctamer) {
    const double x4 = x * x * x * x;
    return x + p.K2 * x4 + p.K3 * x4 * x4;
  }
  const double x2 = x * x;
  return x + p.K2 * x2 + p.K3 * x2 * x2;
}

double AssociationWeightedS(const ThreeSpeciesScheme& p, double x) {
  double a, b;  // weight fractions of the two oligomers relative to the monomer
  if (p.tetramerOctamer) {
    const double x3 = x * x * x;
    a = p.K2 * x3;
    b = p.K3 * x3 * x3 * x;
  } else {
    a = p.K2 * x;
    b = p.K3 * x * x * x;
  }
  return (b * p.s3 + a * p.s2 + p.s1) / (b + a + 1.0);
}

double AssociationWeightedD(const ThreeSpeciesScheme& p, double x) {
  float a, b, na, nb;
  if (p.tetramerOctamer) {
    const double x3 = x * x * x;
    a = static_cast<float>(p.K2 * x3);
    b = static_cast<float>(p.K3 * x3 * x3 * x);
    na = 4.0f;
    nb = 8.0f;
  } else {
    a = static_cast<float>(p.K2 * x);
    b = static_cast<float>(p.K3 * x * x * x);
    na = 2.0f;
    nb = 4.0f;
  }
  return (nb * b * p.D3 + na * a * p.D2 + p.D1) / (nb * b + na * a + 1.0f);
}

bool CAssociationTable::Build(const ThreeSpeciesScheme& p, double xMin, double xMax, int rows,
                              const NonidealityModel& nonideal) {
  Free();
  if (rows < 2 || !(xMin > 0) || !(xMax > xMin)) return false;
  x_.assign(rows + 1, 0.0);
  c_ = s_ = D_ = x_;
  const double q = std::pow(xMax / xMin, 1.0 / (rows - 1));
  bool ok = true;
  for (int j = 1; j <= rows; ++j) {
    const double x = j == 1 ? xMin : q * x_[j - 1];
    x_[j] = x;
    c_[j] = AssociationTotalFromMonomer(p, x);
    s_[j] = AssociationWeightedS(p, x);
    D_[j] = AssociationWeightedD(p, x);
    if (j > 1 && nonideal.on) {
      double fs, fd;
      ok = nonideal.Factors(c_[j], static_cast<float>(s_[1]), static_cast<float>(D_[1]), fs, fd) &&
           ok;
      s_[j] *= fs;
      D_[j] *= fd;
    }
  }
  remembered_ = 1;
  return ok;
}

void CAssociationTable::Lookup(double c, double& s, double& D) {
  const int n = Rows();
  if (n < 1) {
    s = D = 0;
    return;
  }
  if (c <= c_[1]) {
    s = s_[1];
    D = D_[1];
    return;
  }
  int j = 1;
  if (remembered_ > 10 && remembered_ <= n && c > c_[remembered_ - 10]) j = remembered_ - 10;
  while (j <= n && c > c_[j]) ++j;
  if (j > n) {
    s = s_[n];
    D = D_[n];
    return;
  }
  remembered_ = j;
  if (c == c_[j]) {
    s = s_[j];
    D = D_[j];
    return;
  }
  const double w = (c - c_[j - 1]) / (c_[j] - c_[j - 1]);
  s = s_[j - 1] + w * (s_[j] - s_[j - 1]);
  D = D_[j - 1] + w * (D_[j] - D_[j - 1]);
}

void CAssociationTable::Free() {
  x_.clear();
  c_.clear();
  s_.clear();
  D_.clear();
  remembered_ = 1;
}
