#include "equilibrium/planning/equilibrium_closed_forms.h"

#include <cmath>

#include "numerics/constants.h"

namespace {
constexpr double kTwoR = 1.662902e8;  // 2 R, erg/(mol K)

// log of g(u) = u / (1 - exp(-u)), which is positive for every u and 1 at 0.
double LogG(double u) {
  if (u == 0) return 0;
  if (u > 0) return std::log(u) - std::log(-std::expm1(-u));
  return std::log(-u) + u - std::log(-std::expm1(u));
}

// ln(cosh x + 1) = |x| + 2 ln(1 + exp(-|x|)) - ln 2, without overflow.
double LogCoshPlusOne(double x) {
  const double a = std::fabs(x);
  return a + 2.0 * std::log1p(std::exp(-a)) - std::log(2.0);
}

}  // namespace

double ReducedBuoyantMass(double s, double D, double rpm) {
  const double w = RpmToOmega(rpm);
  return 0.5 * s * 1e-13 * w * w / D;
}

double IdealEquilibriumConcentration(double sigma, double r, double m, double b) {
  const double u = sigma * (b * b - m * m);
  if (u == 0) return 1.0;
  // The exponent is taken from the end where the profile is highest, so it
  // never exceeds 0.
  if (u > 0) return std::exp(LogG(u) + sigma * (r * r - b * b));
  return std::exp(std::log(-u) - std::log(-std::expm1(u)) + sigma * (r * r - m * m));
}

double StepPlateauConcentration(double sigma, double r, double m, double b) {
  return std::exp(LogG(sigma * (b * b - m * m)) - LogG(sigma * (b * b - r * r)));
}

float EstimateTimeToEquilibrium(float rpm, float temperature, float M, float density, float vbar,
                                float bottom, float meniscus, float D, float epsilon) {
  const double w = rpm * kOmegaPerRpm8;
  const double b = bottom, m = meniscus;
  const double alpha =
      (temperature + 273.15) * kTwoR / ((b * b - m * m) * (1.0 - density * vbar) * M * w * w);
  const double beta = 1.0 + 1.0 / (4.0 * kPi * kPi * alpha * alpha);
  const double log = std::log(kPi * kPi * epsilon * beta * beta / 4.0) -
                     LogCoshPlusOne(1.0 / (2.0 * alpha));
  const double t = -(b - m) * (b - m) / (D * kPi * kPi * beta) * log;
  return static_cast<float>(t / 3600.0);
}
