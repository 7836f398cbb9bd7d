#include "lamm/coefficients/nonideal_coefficients.h"

#include <cmath>

#include "numerics/constants.h"

unsigned char StickyHardSphereFlag = 0;

namespace {
constexpr float kAvogadro = 6.02214e23f;
constexpr float kWaterViscosity = 0.001002f;  // Pa s, 20 degC
constexpr double kGasConstant = 8.31451 * 1e7;  // erg / (mol K)
constexpr double kExponent = 4.27, kLinear = 2.28, kAttraction = 0.89, kCurve = 0.43,
                 kCurveExponent = 1.85;
constexpr double kOutOfRange = -1.0;

bool Sticky() { return StickyHardSphereFlag != 0; }

// D/D0 = fs / S(0); at phi = 1 both vanish and the ratio tends to 0.
double DiffusionFromS(double fs, double structure) {
  if (!IsUsableConcentrationFactor(fs) || !std::isfinite(structure) || structure <= 0)
    return kOutOfRange;
  const double fd = fs / structure;
  return IsUsableConcentrationFactor(fd) ? fd : kOutOfRange;
}
}  // namespace

bool IsUsableConcentrationFactor(double factor) { return std::isfinite(factor) && factor >= 0; }

double HydrodynamicVolumeFraction(float c, float k, float ff0, float vbar) {
  const double f = ff0;
  return 0.001 * c * k * f * f * f * vbar;
}

double HardSphereSedimentationFactor(float phi) {
  if (phi <= 0 || phi > 1) return 1.0;
  return std::pow(1.0 - phi, kExponent) / (1.0 + kLinear * phi);
}

double StickySphereAttractionTerm(float phi, float tau) {
  if (!Sticky() || tau <= 0 || phi <= 0 || phi > 1) return 0.0;
  const double x = static_cast<double>(phi) / tau;
  const double den = std::pow(1.0 + kCurve * std::pow(x, kCurveExponent), 1.0 / kCurveExponent);
  if (den == 0) return 0.0;
  return x / den;
}

double StickySphereSedimentationFactor(float phi, float tau) {
  if (phi > 1 || tau <= 0) return kOutOfRange;
  if (phi <= 0) return 1.0;
  return std::pow(1.0 - phi, kExponent) /
         (1.0 + kLinear * phi - kAttraction * StickySphereAttractionTerm(phi, tau));
}

double HardSphereStructureFactor(float phi) {
  if (phi <= 0 || phi > 1) return 1.0;
  const double q = (1.0 - phi) * (1.0 - phi) / (1.0 + 2.0 * phi);
  return q * q;
}

double BaxterStickinessRoot(float phi, float tau) {
  if (!Sticky() || phi <= 0 || phi > 1 || tau <= 0) return 0.0;
  if (phi == 1) return std::nan("");
  const double p = phi;
  const double a = p / 12.0;
  const double b = tau + p / (1.0 - p);
  const double c = (1.0 + p / 2.0) / ((1.0 - p) * (1.0 - p));
  const double disc = b * b - 4.0 * a * c;
  if (disc < 0) return std::nan("");
  // The smaller root, in the form without cancellation.
  return 2.0 * c / (b + std::sqrt(disc));
}

double StickySphereStructureFactor(float phi, float tau) {
  if (phi <= 0 || phi > 1 || tau <= 0) return 1.0;
  const double lambda = BaxterStickinessRoot(phi, tau);
  if (!std::isfinite(lambda)) return std::nan("");
  const double q = (1.0 - phi) * (1.0 - phi);
  const double d = 1.0 + 2.0 * phi - lambda * phi * (1.0 - phi);
  if (d == 0) return std::nan("");
  return (q / d) * (q / d);
}

double HardSphereDiffusionFactor(float phi) {
  return HardSphereDiffusionFactorFromS(phi, HardSphereSedimentationFactor(phi));
}

double HardSphereDiffusionFactorFromS(float phi, double fs) {
  if (phi > 1) return kOutOfRange;
  if (phi <= 0) return 1.0;
  if (phi == 1) return 0.0;
  return DiffusionFromS(fs, HardSphereStructureFactor(phi));
}

double StickySphereDiffusionFactor(float phi, float tau) {
  return StickySphereDiffusionFactorFromS(phi, tau, StickySphereSedimentationFactor(phi, tau));
}

double StickySphereDiffusionFactorFromS(float phi, float tau, double fs) {
  if (phi > 1 || tau <= 0) return kOutOfRange;
  if (phi <= 0) return 1.0;
  if (phi == 1) return 0.0;
  return DiffusionFromS(fs, StickySphereStructureFactor(phi, tau));
}

double HardSphereCorrectionFactor(float tau) {
  if (Sticky() && tau > 0) return 1.0 - 1.0 / (4.0 * tau);
  return 1.0;
}

float MassFromSD(float s, float D, float T, float vbarRho) {
  if (T > 200) T -= 273.15f;
  if (D <= 0) return 0.0f;
  return static_cast<float>(1e-13 * s * ((T + 273.15) * kGasConstant) / ((1.0 - vbarRho) * D));
}

float MolarMassFromSAndD(float s, float D, float vbarRho, float T) {
  if (D > 0.1f) D *= 1e-7f;
  return MassFromSD(s, D, T, vbarRho);
}

double SphereRadiusOfMass(float M, float vbar) {
  if (M == 0 || vbar == 0) return 0.0;
  const double V = static_cast<double>(M) / kAvogadro * vbar * 1e-6;  // m^3
  if (V <= 0) return 0.0;
  return std::exp(std::log(3.0 * V / (4.0 * kPiF)) * 0.333333333333333);
}

double SphereFrictionOfMass(float M, float vbar, float eta) {
  if (M <= 0 || vbar <= 0) return 0.0;
  return 6.0 * kPiF * kWaterViscosity * eta * SphereRadiusOfMass(M, vbar) * 1000.0;
}

double FrictionOfMassAndS(float M, float s, float vbar, float rho) {
  if (s == 0) return 0.0;
  return (1.0 - static_cast<double>(vbar) * rho) * M / kAvogadro / (1e-13 * s);
}

float FrictionalRatioFromMassAndS(float M, float s, float vbar, float rho, float eta) {
  if (M == 0 || vbar == 0) return 0.0f;
  const double f0 = SphereFrictionOfMass(M, vbar, eta);
  if (!(f0 > 0)) return 0.0f;  // no sphere (eta = 0 or negative mass)
  return static_cast<float>(FrictionOfMassAndS(M, s, vbar, rho) / f0);
}

double VolumeFractionFromSD(float c, float k, float s0, float D0, float vbar, float rho, float T,
                            float eta) {
  if (c < 0) return 1.0;
  const float M = MolarMassFromSAndD(s0, D0, vbar * rho, T);
  const float ff0 = FrictionalRatioFromMassAndS(M, s0, vbar, rho, eta);
  return HydrodynamicVolumeFraction(c, k, ff0, vbar);
}

double ConcentrationFactorS(float c, float k, float tau, float s0, float D0, float vbar,
                            float rho, float T, float eta) {
  if (c < 0) return 1.0;
  const float phi = static_cast<float>(VolumeFractionFromSD(c, k, s0, D0, vbar, rho, T, eta));
  return Sticky() ? StickySphereSedimentationFactor(phi, tau) : HardSphereSedimentationFactor(phi);
}

double ConcentrationFactorD(float c, float k, float tau, float s0, float D0, float vbar,
                            float rho, float T, float eta) {
  if (c < 0) return 1.0;
  const float phi = static_cast<float>(VolumeFractionFromSD(c, k, s0, D0, vbar, rho, T, eta));
  return Sticky() ? StickySphereDiffusionFactor(phi, tau) : HardSphereDiffusionFactor(phi);
}

double ConcentrationFactorsSD(float c, float k, float tau, float s0, float D0, float vbar,
                              float rho, float T, float eta, double* sOut, double* dOut) {
  if (c < 0) return 1.0;
  const double phiD = VolumeFractionFromSD(c, k, s0, D0, vbar, rho, T, eta);
  const float phi = static_cast<float>(phiD);
  double fs, fd;
  if (Sticky()) {
    fs = StickySphereSedimentationFactor(phi, tau);
    fd = StickySphereDiffusionFactorFromS(phi, tau, fs);
  } else {
    fs = HardSphereSedimentationFactor(phi);
    fd = HardSphereDiffusionFactorFromS(phi, fs);
  }
  *sOut = s0 * fs;
  *dOut = D0 * fd;
  return phiD;
}

double ConcentrationFactorSSimple(float c, float k, float tau, float ff0, float vbar) {
  if (c < 0) return 1.0;
  const float phi = static_cast<float>(HydrodynamicVolumeFraction(c, k, ff0, vbar));
  return Sticky() ? StickySphereSedimentationFactor(phi, tau) : HardSphereSedimentationFactor(phi);
}

double ConcentrationFactorDSimple(float c, float k, float tau, float ff0, float vbar) {
  if (c < 0) return 1.0;
  const float phi = static_cast<float>(HydrodynamicVolumeFraction(c, k, ff0, vbar));
  return Sticky() ? StickySphereDiffusionFactor(phi, tau) : HardSphereDiffusionFactor(phi);
}

float ConcentrationFactorSDifference(float c, float k, float tau, float ff0, float vbar) {
  return static_cast<float>(ConcentrationFactorSSimple(c, k, tau, ff0, vbar) -
                            ConcentrationFactorSSimple(c + 1, k, tau, ff0, vbar));
}

float ConcentrationFactorDDifference(float c, float k, float tau, float ff0, float vbar) {
  return static_cast<float>(ConcentrationFactorDSimple(c + 1, k, tau, ff0, vbar) -
                            ConcentrationFactorDSimple(c, k, tau, ff0, vbar));
}
