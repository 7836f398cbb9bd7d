#include "equilibrium/planning/rotor_speed_estimate.h"

#include <algorithm>
#include <cmath>

#include "distributions/hydrodynamics.h"
#include "equilibrium/planning/equilibrium_closed_forms.h"
#include "numerics/constants.h"

namespace {
constexpr double kTwoR = 166290200.0;
constexpr double kTemperature = 4.0;

double RpmFromOmega(double w) { return 100.0 * std::floor(w * 60.0 / (2.0 * kPi) / 100.0); }

// sigma of molar mass M at rpm, 4 C.
double Sigma(double phi, double M, double rpm) {
  const double w = RpmToOmega(rpm);
  return phi * M * w * w / (kTwoR * (kTemperature + 273.15));
}

}  // namespace

std::string RotorSpeedEstimateRefusal(float Mlo, float Mhi, float meniscus, float bottom,
                                      float vbar, float density) {
  if (!(Mlo > 0) || !(Mhi > 0)) return "molar masses must be above 0";
  if (!(meniscus > 0) || !(meniscus < bottom)) return "meniscus must lie below the bottom";
  if (!(1.0f - vbar * density > 0)) return "1 - vbar * density must be above 0";
  return {};
}

void EstimateEquilibriumRotorSpeeds(float Mlo, float Mhi, float meniscus, float bottom, float vbar,
                                    float density, RotorSpeedEstimate& e) {
  const double m = meniscus, b = bottom, phi = 1.0 - static_cast<double>(vbar) * density;
  const double K = kTwoR * (kTemperature + 273.15) / (phi * (b * b - m * m));
  e.rpm[1] = static_cast<float>(RpmFromOmega(std::sqrt(std::log(5.0) * K / Mhi)));
  e.rpm[2] = static_cast<float>(RpmFromOmega(std::sqrt(std::log(10.0) * K / Mlo)));
  e.rpm[3] = 0;
  for (int rpm = 1000; rpm <= 60000; rpm += 1000) {
    if (IdealEquilibriumConcentration(Sigma(phi, Mlo, rpm), m, m, b) <= 0.01) {
      e.rpm[3] = static_cast<float>(rpm);
      break;
    }
  }

  const int n = kRotorSpeedEstimatePoints;
  e.radius.assign(n + 1, 0.0f);
  for (int i = 1; i <= n; ++i) e.radius[i] = static_cast<float>(m + (i - 1) * (b - m) / (n - 1));
  const double masses[2] = {Mhi, Mlo};
  for (int k = 0; k < 3; ++k) {
    std::vector<float>& hi = e.curve[1 + k];
    std::vector<float>& lo = e.curve[4 + k];
    std::vector<float>& mean = e.curve[7 + k];
    hi.assign(n + 1, 0.0f);
    lo.assign(n + 1, 0.0f);
    mean.assign(n + 1, 0.0f);
    const double sHi = Sigma(phi, masses[0], e.rpm[1 + k]);
    const double sLo = Sigma(phi, masses[1], e.rpm[1 + k]);
    for (int i = 1; i <= n; ++i) {
      hi[i] = static_cast<float>(IdealEquilibriumConcentration(sHi, e.radius[i], m, b));
      lo[i] = static_cast<float>(IdealEquilibriumConcentration(sLo, e.radius[i], m, b));
      mean[i] = 0.5f * (hi[i] + lo[i]);
    }
  }

  e.hours = 0;
  for (double M : masses) {
    const float Mf = static_cast<float>(M);
    const float s = SFromMff0(Mf, vbar, kTemperature, density, 1.6f) / 1.3f;
    const float D = SvedbergD(Mf, s, kTemperature);
    e.hours = std::max(e.hours, EstimateTimeToEquilibrium(e.rpm[1], kTemperature, Mf, density,
                                                          vbar, bottom, meniscus, D, 0.01f));
  }
}
