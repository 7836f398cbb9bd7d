#include "distributions/peak_details.h"

#include <cstdio>

#include "distributions/conti_models.h"
#include "distributions/conti_settings.h"
#include "distributions/hydrodynamics.h"
#include "distributions/model_molar_mass.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"

namespace {

const ModelSelectorFlags& F() { return gModelSelectorFlags; }

bool InSecondClass(float s) {
  const ContiSettings& cs = Conti();
  return s >= cs.secondFfSMin && s <= cs.secondFfSMax;
}

template <typename... Args>
std::string Format(const char* format, Args... args) {
  char text[1000] = {};
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

}  // namespace

float PeakMolarMass(float s) {
  if (F().CSModel521) return CalculateMofSforLinearRod(s, ContiStore().rodValue);
  return MolarMassUnderModel(s);
}

bool PeakLabelsShowSw() {
  const ModelSelectorFlags& m = F();
  if (m.AnyLsgModel() && m.DistributionModel) return true;
  return !m.CsModelWithMolarMass();
}

std::string PeakMassLabel(float M) {
  if (M > 1e7f) return Format("Mf~%.1f MDa", M * 1e-6f);
  if (M > 1e6f) return Format("Mf~%.2f MDa", M * 1e-6f);
  if (M > 1e5f) return Format("Mf~%.0f kDa", M * 0.001f);
  if (M > 1e4f) return Format("Mf~%.1f kDa", M * 0.001f);
  if (M > 1000.0f) return Format("Mf~%.2f kDa", M * 0.001f);
  if (M > 100.0f) return Format("Mf~%.0f Da", M);
  return Format("Mf~%.1f Da", M);
}

std::string PeakLabelText(float sw) {
  if (PeakLabelsShowSw()) return Format("sw = %.3f S", sw);
  return PeakMassLabel(PeakMolarMass(sw));
}

std::string PeakDetailsText(float s, float c, float fraction) {
  const SolutionConditions& sc = gSolutionConditions;
  const ContiSettings& cs = Conti();
  const float buffer = sc.vbar > 0 ? sc.vbarRho / sc.vbar : sc.density;
  const float s20 = SToS20w(s, sc.viscosity * kWaterViscosity20, buffer, sc.vbar, sc.vbar20);
  const std::string head = Format("sw = %.3f S, sw(20,w) = %.3f S\n(c = %.4f, %.3f%% of total)", s, s20, c,
                                  100 * fraction);
  if (PeakLabelsShowSw()) return head;
  const float M = PeakMolarMass(s);
  const float minimum = CalculateMff02(s, 1.0f);
  const std::string basis =
      Format("(based on vbar = %.3f, vbar20 = %.3f, hydration = %.3f, buffer density = %.5f, rel. viscosity = %.4f)",
             sc.vbar, sc.vbar20, sc.hydration, buffer, sc.viscosity);
  const std::string sphere = Format("minimum Mw (for compact sphere) = %.0f Da", minimum);
  if (F().CsModelWithOwnMassRelation()) return head + Format("\nMw = %.0f Da \n", M) + basis + "\n" + sphere;
  const float ratio = F().AnyBimodalCsModel() && InSecondClass(s) ? cs.secondFf : cs.ffValue;
  const float stokes = S20ToStokesRadius(s20, sc.vbar20) * 1e9f;
  const float oblate = CalculateOblateRatioFromFf0(ratio, sc.vbar, sc.hydration, buffer);
  const float prolate = CalculateProlateRatioFromFf0(ratio, sc.vbar, sc.hydration, buffer);
  return head + Format("\nwith best-fit friction ratio = %.3f: Mw = %.0f Da \n", ratio, M) + basis + "\n" + sphere +
         Format("\nStokes Radius (20C) = %.2f nm, a/b(oblate)=%.2f, a/b(prolate)=%.2f", stokes, oblate, prolate);
}
