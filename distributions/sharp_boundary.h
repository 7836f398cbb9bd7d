#pragma once
// Concentration profile of one species that sediments without diffusion: a
// step at the boundary with radial dilution behind it,
//   sector:  r_b = m exp(k t),  c_p = c0 exp(-2 k t),   k = s w^2 (1/s)
//   linear:  r_b = m + k t,     c_p = c0                 k = velocity (cm/s)
// (for k <= 0 the boundary leaves the bottom b instead, the species below it)
// with the detector's scan-time and radial-resolution effects, the trailing
// boundary of a zone-centrifugation lamella, and the closed-form
// characteristics of a sharp boundary in a solvent density gradient.
// Radii in cm, t in s.

// Module values set by the caller before ContiShapeModelCurve.
struct SharpBoundaryState {
  double k = 0.0;                // s w^2 (sector) or velocity (linear geometry)
  // Solvent density gradient (filled by the extended models when in use).
  bool densityGradient = false;
  double speciesS = 0.0;         // S
  double gradientDensity = 1.0;  // g/ml
  double gradientViscosity = 1.0;
  double gradientCoefficient = 0.0;
  double rpm = 0.0;              // rotor speed of the last scan
};
SharpBoundaryState& SharpBoundary();

void ContiShapeModelCurve(float c0, double t, const float* r, float* c, int n);
// The same curve for the state and geometry given, leaving the module values alone.
void ContiShapeModelCurve(const SharpBoundaryState& st, bool linear, float c0, double t, const float* r, float* c,
                          int n);

// The curve of a species without diffusion in the model evaluation (the
// model evaluation's sharp-boundary hook): k = s w^2 (1/s) of the species
// whose s (S) the evaluation left in the Lamm run state. In the compressed
// solvent of the inhomogeneous-solvent model the boundary follows the
// density gradient; the module values are neither read nor changed.
void SpeciesSharpBoundaryCurve(float c0, double t, double k, const float* r, float* c, int n);
