#pragma once
// Sedimentation equilibrium of one ideal species: no Lamm equation is
// solved, the signal at radius r (cm) is the Boltzmann exponential
//
//   c(r) = A exp(M_b sigma (r^2 - 49)),   sigma = w^2 / (2 R T),
//
// w = 2 pi rpm / 60 (rpm of each scan), T = scan temperature (degC) + 273.15,
// 2R = 1.662902e8 erg/(mol K), M_b the buoyant molar mass (1 - vbar rho) M in
// g/mol, with A chosen so that the mean of c over r^2 between the meniscus m
// and the bottom b is the loading amplitude c0. The same curve in a form that
// cannot overflow, x = M_b sigma, D = b^2 - m^2:
//
//   x > 0:  c(r) = c0 x D e^{x (r^2 - b^2)} / (1 - e^{-x D})
//   x < 0:  c(r) = c0 x D e^{x (r^2 - m^2)} / (e^{x D} - 1)
//   x = 0 (or a scan at rest, or no cell: b <= m):  c(r) = c0.
//
// ComputeModelCurves delivers one curve per scan where the caller's model
// needs it: added to the scans' models, stored as a species slot's curves on
// the common grid (linear amplitudes or noise), or stored as one column of
// the distribution kernel.
#include <functional>

// The signal corrections of the detector model that apply to a model curve.
// Their settings belong to the fluorescence corrections; until those
// register a source, every correction is off.
struct ModelCurveCorrections {
  bool stretch = false;
  float stretchFactor = 1.0f;  // f: values are multiplied by (f - 1)(r - m) + 1
  bool bottomEdge = false;
  float bottomEdgeRadius = 0.0f;  // cm, see RadialCorrection2
  bool radialSmoothing = false;
  float smoothingWidth = 0.0f;   // cm, see RadialCorrection1
  float smoothingExtent = 2.0f;  // in widths
};
// nullptr restores the all-off source.
void SetModelCurveCorrectionsSource(std::function<ModelCurveCorrections()> source);

// sigma (mol/(g cm^2)) of a scan at rpm and celsius; 0 for a rotor at rest and
// for temperatures at or below absolute zero.
double EquilibriumSigma(double rpm, double celsius);

// The curve for buoyant mass Mb (g/mol) and loading c0 at out[1..n] over the
// radii r[1..n] (cm), before any correction.
void BoltzmannCurve(double Mb, double c0, double sigma, double meniscus, double bottom, const float* r,
                    float* out, int n);

// Where ComputeModelCurves puts its curves.
struct ModelCurveTarget {
  // Distribution kernel block [grid point][scan][point]; null for the
  // discrete species.
  float*** kernels = nullptr;
  int gridPoint = 1;      // kernel column k
  bool ownRadii = false;  // kernels on each scan's own radii, not the common grid
  int species = 1;        // species slot of the discrete model
};
ModelCurveTarget& CurrentModelCurveTarget();

// Time position of the scan being computed (0 outside a computation).
extern int gModelCurveScan;

// One curve per scan, in time order, for buoyant mass Mb (g/mol) and loading
// c0 (signal units), with the corrections applied, into the current target;
// meniscus and bottom from the model parameters. A key press sets the stop
// flag; the loop still finishes.
void ComputeModelCurves(double Mb, double c0);

// Puts the curves into the per-species evaluation of the discrete model and
// into the kernels of the distributions.
void InstallEquilibriumCurveHooks();
