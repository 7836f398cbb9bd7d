#pragma once
// The pocket calculators of the Calculator menu as plain functions: numbers
// in, the text of the result box (or of the refusal) out, so that the
// arithmetic is checked without a window. Viscosities are relative to water
// at 20 C; temperatures in degrees Celsius.
#include <string>
#include <vector>

struct CalculatorAnswer {
  bool ok = true;
  std::string text;    // the result, or why there is none
  std::string second;  // a further box that follows the result, when there is one
};

CalculatorAnswer Refusal(std::string text);

// Hydrodynamic force on a particle at radius r (cm) and rotor speed rpm.
CalculatorAnswer FrictionForceAnswer(float s, float radius, float ff0, float rpm, float M, float vbar,
                                     float etaRel);
// f/f0, radii, D and the axial ratios of a particle of mass M and s.
CalculatorAnswer FrictionalRatiosAnswer(float M, float s, float vbar, float hydration, float T,
                                        float density, float etaRel);
// Diffusional against heterogeneous spread of a boundary halfway down the
// column (M in kDa).
CalculatorAnswer BoundaryBroadeningAnswer(float meniscus, float bottom, float rpm, float MkDa, float vbar,
                                          float density, float T, float s, float dsOverS);
// Plateau dilution of a non-diffusing particle; w2tScans holds the omega^2 t
// of every scan, w2tLast that of the last one in time.
CalculatorAnswer RadialDilutionAnswer(float s, float meniscus, float bottom, double w2tLast,
                                      const std::vector<double>& w2tScans);
// Hydrostatic pressure at the bottom and in the middle of the column.
CalculatorAnswer PressureAnswer(float density, float rpm, float meniscus, float bottom);
// Compact spheres: s from M, s from the radius (nm), radius from s.
CalculatorAnswer SphereSFromMAnswer(float M, float vbar, float T, float density, float etaRel);
CalculatorAnswer SphereSFromRhAnswer(float radiusNm, float vbar, float T, float density, float etaRel);
CalculatorAnswer SphereRhFromSAnswer(float s, float vbar, float T, float density, float etaRel);
// M of s and the hydrated f/f0 in the current solution conditions.
CalculatorAnswer MFromSAnswer(float s, float ff0);
// s(20,w) of an s measured at vbarXp, density and etaRel.
float S20wOf(float s, float vbarXp, float vbar20, float density, float etaRel);
CalculatorAnswer S20wAnswer(float s, float vbarXp, float vbar20, float density, float etaRel);
// Critical variance ratio of two fits; rmsd is the current fit's.
CalculatorAnswer VarianceRatioAnswer(float confidence, float n1, float n2, float rmsd);
// Oblate and prolate axial ratios of a hydrated ellipsoid with that f/f0.
CalculatorAnswer EllipsoidAnswer(float ff0, float vbar, float hydration, float density);
