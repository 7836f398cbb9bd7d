#include "automation/tools/calculators.h"

#include <cmath>
#include <utility>

#include "data/data_messages.h"
#include "distributions/hydrodynamics.h"
#include "fit/model_params.h"
#include "numerics/constants.h"
#include "numerics/statistics.h"

using data_messages::Format;

namespace {

CalculatorAnswer Answer(std::string text) { return {true, std::move(text), {}}; }

// Mean plateau from 0 to the time where omega^2 s t = x reaches it; 1 in the
// limit x -> 0 (a particle that does not sediment does not dilute).
double AveragePlateau(double x) { return std::fabs(x) < 1e-12 ? 1.0 : (1.0 - std::exp(-2.0 * x)) / (2.0 * x); }

}  // namespace

CalculatorAnswer Refusal(std::string text) { return {false, std::move(text), {}}; }

CalculatorAnswer FrictionForceAnswer(float s, float radius, float ff0, float rpm, float M, float vbar,
                                     float etaRel) {
  const double eta = static_cast<double>(etaRel) * kWaterViscosity20;
  const double r0 = CalculateRadius(M, vbar);
  const double f = ff0 * 6.0 * kPi * eta * r0;
  const double v = s * 1e-13 * Omega2(rpm) * radius * 0.01;
  return Answer(Format(
      "for mass =%.2f Da, v-bar =%.3f ml/g, f/fo =%.3f, s = %.2f S, relative viscosity = %.3f\n"
      "at %.0f rpm and %.2f cm --> F = %.3e N\n(Rs = %.3f nm, v = %.3e m/s, f = %.3e Ns/m)",
      M, vbar, ff0, s, etaRel, rpm, radius, v * f, r0 * 1e9, v, f));
}

namespace {

// The hydrated sphere itself has a frictional ratio above 1: a smaller one
// fits no ellipsoid of that hydration, and the ratios come out 0.
std::string NoEllipsoidReason(float ff0, float vbar, float hydration, float density, float oblate, float prolate) {
  if (oblate > 0.0f && prolate > 0.0f) return {};
  const double x = (vbar + static_cast<double>(hydration) * density) / vbar;
  if (!(x > 0.0)) return {};
  return Format("\n(a/b = 0: f/f0 = %.3f is not above %.3f, that of the hydrated sphere;\n no ellipsoid with %.2f g/g "
                "hydration is as compact)",
                ff0, std::cbrt(x), hydration);
}

}  // namespace

CalculatorAnswer FrictionalRatiosAnswer(float M, float s, float vbar, float hydration, float T,
                                        float density, float etaRel) {
  const float r0 = CalculateRadius(M, vbar);
  const float ff0 = Ff0FromMS(M, s, vbar, density, etaRel);
  const float D = DFromMS(M, s, vbar, T, density, etaRel);
  const float oblate = CalculateOblateRatio(M, s, vbar, hydration, density, etaRel);
  const float prolate = CalculateProlateRatio(M, s, vbar, hydration, density, etaRel);
  return Answer(Format(
      "for M=%.0f Da, s=%.4f S, v=%.3f ml/g, hydration = %.3f g/g, density=%.4f g/ml, rel. viscosity=%.4f:\n"
      " r0 = %.2f nm, rh = %.2f nm\n D= %.3e cm^2/sec\n f/f0 = %.2f \n a/b(oblate)=%.2f\n a/b(prolate)=%.2f",
      M, s, vbar, hydration, density, etaRel, r0 * 1e9, r0 * ff0 * 1e9, D, ff0, oblate, prolate) +
                NoEllipsoidReason(ff0, vbar, hydration, density, oblate, prolate));
}

CalculatorAnswer BoundaryBroadeningAnswer(float meniscus, float bottom, float rpm, float MkDa, float vbar,
                                          float density, float T, float s, float dsOverS) {
  if (!(s > 0.0f)) return Refusal("the s-value must be positive");
  if (!(vbar * density < 1.0f)) return Refusal("the particle does not sediment: vbar * density >= 1");
  if (!(MkDa > 0.0f)) return Refusal("the molar mass must be positive");
  if (!(rpm > 0.0f)) return Refusal("the rotor speed must be positive");
  if (!(meniscus > 0.0f) || !(bottom > meniscus)) return Refusal("the bottom must lie beyond the meniscus");
  const double rmid = meniscus + (bottom - meniscus) / 2.0;
  const double RT = (T + 273.15) * 8.31451 * 1e7;
  const double D = s * 1e-13 * RT / (MkDa * 1000.0 * (1.0 - static_cast<double>(vbar) * density));
  const double lnR = std::log(rmid / meniscus);
  const double t = lnR / (Omega2(rpm) * s * 1e-13);
  const double diffusion = std::sqrt(2.0 * D * t);
  const double heterogeneity = dsOverS * rmid * lnR;
  return Answer(Format(
      "for M=%.0f kDa, s = %.2f S (D = %.2e cm^2/s), heterogeneity delta-s/s=%.3f\n"
      "(at v=%.3f ml/g, density=%.4f g/ml, w = %.0f rpm)\nspread from heterogeneity in s = %.4fcm\n"
      "spread from diffusion = %0.4f cm\n ratio (diff-broadening)/(heterogeneous s-value broadending) = %e",
      MkDa, s, D, dsOverS, vbar, density, rpm, heterogeneity, diffusion, diffusion / heterogeneity));
}

CalculatorAnswer RadialDilutionAnswer(float s, float meniscus, float bottom, double w2tLast,
                                      const std::vector<double>& w2tScans) {
  const double x = s * 1e-13 * w2tLast;
  const double plateau = std::exp(-2.0 * x) * 100.0;
  const double average = AveragePlateau(x) * 100.0;
  double all = 0;
  for (double w2t : w2tScans) all += AveragePlateau(s * 1e-13 * w2t);
  all = w2tScans.empty() ? 100.0 : all / static_cast<double>(w2tScans.size()) * 100.0;
  const char* tail =
      "the average plateau concentration during sedimenation from t=0 to t(last scan) is %.3f%% of the loading "
      "concentration\n(this is the effective concentration required for modeling the boundary position at the "
      "time of the last scan)\nin the average for all scans, the effective plateau concentration during "
      "sedimentation is %.3f%% of the loading concentration";
  if (s >= 0.0f)
    return Answer(Format("a non-diffusing particle with s = %.3f S\nwith the meniscus at %.3f cm would have a "
                         "boundary position of %.3fcm in the last scan\nradial dilution reduces the plateau "
                         "concentration at the time of the last scan to %.3f%% of the loading concentration\n",
                         s, meniscus, meniscus * std::exp(x), plateau) +
                  Format(tail, average, all));
  return Answer(Format("a non-diffusing particle with s = %.3f S \nwith the bottom at %.3f cm would have a "
                       "boundary position of %.3fcm in the last scan\nradial dilution increases the plateau "
                       "concentration at the time of the last scan to %.3f%% of the loading concentration\n",
                       s, bottom, bottom * std::exp(x), plateau) +
                Format(tail, average, all));
}

CalculatorAnswer PressureAnswer(float density, float rpm, float meniscus, float bottom) {
  const auto bar = [&](double r) {
    return density * 1000.0 * 0.5 * Omega2(rpm) * (r * r - static_cast<double>(meniscus) * meniscus) * 1e-4 * 1e-5;
  };
  return Answer(Format("pressure at the bottom is %.3f bar\npressure in the middle of the solution column is %.3f bar",
                       bar(bottom), bar((meniscus + bottom) / 2.0)));
}

CalculatorAnswer SphereSFromMAnswer(float M, float vbar, float T, float density, float etaRel) {
  if (!(M > 0.0f) || !(vbar > 0.0f)) return Refusal("molar mass and partial specific volume must be positive");
  const float s = SFromMff0(M, vbar, T, density, etaRel);
  const float D = DFromMS(M, s, vbar, T, density, etaRel);
  return Answer(Format("a compact, smooth sphere of M=%.0f Da, v=%.3f ml/g, in density=%.4f g/ml, rel. "
                       "viscosity=%.4f \nhas the following properties:\n s=%.4f S\n r0 = %.2f nm\n D= %.3e "
                       "cm^2/sec\n(this is without hydration)",
                       M, vbar, density, etaRel, s, CalculateRadius(M, vbar) * 1e9, D));
}

CalculatorAnswer SphereSFromRhAnswer(float radiusNm, float vbar, float T, float density, float etaRel) {
  if (!(radiusNm > 0.0f) || !(vbar > 0.0f)) return Refusal("radius and partial specific volume must be positive");
  const float M = MassFromRadius(radiusNm * 1e-9f, vbar);
  const float s = SFromMff0(M, vbar, T, density, etaRel);
  const float D = DFromMS(M, s, vbar, T, density, etaRel);
  return Answer(Format("a sphere of R = %.2f nm, at v=%.3f ml/g has a mass of M=%.0f Da\n in a solvent of "
                       "density=%.4f g/ml, rel. viscosity=%.4f, \nit will sediment with \n s=%.4f S \n and diffuse "
                       "with D= %.3e cm^2/sec\n",
                       radiusNm, vbar, M, density, etaRel, s, D));
}

CalculatorAnswer SphereRhFromSAnswer(float s, float vbar, float T, float density, float etaRel) {
  if (!(vbar > 0.0f)) return Refusal("the partial specific volume must be positive");
  if (!(s * (1.0f - vbar * density) > 0.0f))
    return Refusal("s and the buoyancy (1 - vbar * density) must have the same sign, and s must not be 0");
  const float M = CalculateMassFromSedcoeffSphere(s, etaRel, vbar, density);
  const float D = DFromMS(M, s, vbar, T, density, etaRel);
  return Answer(Format("a spherical particle with s = %.2f S, at v=%.3f ml/g\n in a solvent of density=%.4f g/ml, "
                       "rel. viscosity=%.4f, \nhas a mass of M=%.0f Da, a radius of %.1f nm, and D= %.3e cm^2/sec\n",
                       s, vbar, density, etaRel, M, CalculateRadius(M, vbar) * 1e9, D));
}

CalculatorAnswer MFromSAnswer(float s, float ff0) {
  const SolutionConditions& c = gSolutionConditions;
  return Answer(Format("for s=%.3f S, f/f0(hydrated) = %.3f \n(with v=%.3f ml/g, density=%.4f g/ml, rel. "
                       "viscosity=%.4f)\n M=%.0f",
                       s, ff0, c.vbar, c.density, c.viscosity, CalculateMff02(s, ff0)));
}

float S20wOf(float s, float vbarXp, float vbar20, float density, float etaRel) {
  return static_cast<float>(s * (1.0 - vbar20 * static_cast<double>(kWaterDensity20)) * etaRel /
                            (1.0 - static_cast<double>(vbarXp) * density));
}

CalculatorAnswer S20wAnswer(float s, float vbarXp, float vbar20, float density, float etaRel) {
  if (!(vbarXp * static_cast<double>(density) < 1.0))
    return Refusal("no s(20,w): the particle does not sediment in this buffer (vbar * density >= 1)");
  return Answer(Format("v(xp)=%.3f ml/g, v(20,w) = %.3f ml/g, density=%.4f g/ml, viscosity=%.4f Poise:\n s(xp) of "
                       "%.3f S converts to s(20,w) = %.3f ",
                       vbarXp, vbar20, density, etaRel * 0.01002, s, S20wOf(s, vbarXp, vbar20, density, etaRel)));
}

CalculatorAnswer VarianceRatioAnswer(float confidence, float n1, float n2, float rmsd) {
  if (!(confidence > 0.0f && confidence < 1.0f)) return Refusal("the confidence level must lie between 0 and 1");
  if (!(n1 > 0.0f) || !(n2 > 0.0f)) return Refusal("the degrees of freedom must be positive");
  const double ratio = FRatioForConfidence(confidence, n1, n2) * n2 / n1;
  CalculatorAnswer a = Answer(Format("variance (or sosq) ratio (chisq1/chisq2) at a %2.1f%% confidence level "
                                     "(n1=%.0f, n2=%.0f) is %f\ncritical relative rmsd increase is a factor of %f",
                                     confidence * 100.0, n1, n2, ratio, std::sqrt(ratio)));
  a.second = Format("for current rmsd (%f): critical value is %f", rmsd, rmsd * std::sqrt(ratio));
  return a;
}

CalculatorAnswer EllipsoidAnswer(float ff0, float vbar, float hydration, float density) {
  if (!(vbar > 0.0f)) return Refusal("the partial specific volume must be positive");
  const float oblate = CalculateOblateRatioFromFf0(ff0, vbar, hydration, density);
  const float prolate = CalculateProlateRatioFromFf0(ff0, vbar, hydration, density);
  return Answer(Format("for f/fo =%.3f, v-bar =%.3f ml/g, hydration =%.2f g/g:\n a/b(oblate)=%.2f\n a/b(prolate)=%.2f",
                       ff0, vbar, hydration, oblate, prolate) +
                NoEllipsoidReason(ff0, vbar, hydration, density, oblate, prolate));
}
