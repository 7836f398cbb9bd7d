#pragma once
// The continuous-distribution family's reading of the fit vector P[1..34]:
// grid range, resolution, confidence level, frictional ratio, solvent and
// the model values of each variant. Every pack and unpack of the model
// parameters ends with this derivation, so that whatever the parameter
// dialog, the parameter file, the fit engine or the unattended run wrote
// into P[] is what the next c(s) run computes with.
//
// Slots (n = 4 component slots): P[1] smin, P[5] smax, P[9] resolution,
// P[2] confidence level, P[11] f/f0 (or the variant's shape value), P[3]
// vbar, P[7] density (g/ml), P[12] viscosity (poise), P[4] hydration (g/g);
// F[3] and F[4] carry the grid-from-file and log-grid switches.

// Registers the derivation with the model parameters; calling it again does
// nothing. The window's start-up and the unattended run call it.
void RegisterContiParameterDerivation();

// The derivation itself; `packing` is true after a pack.
void DeriveContiParameters(bool packing);

// On while a solvent gradient is in use (the extended models switch it on
// when a non-ideal D(c) data file is loaded): the standard density and
// viscosity are then fixed and entries in P[7] and P[12] are refused.
bool& ContiSolventGradient();

// The area-fraction extrapolation of ls-g*(s): the number of equal-area
// boundary fractions (at most the g*(s) resolution) and the scans per
// g*(s) group, which the model command offers in P[11] and P[3].
struct LsgExtrapolationSettings {
  int vhwResolution = 20;
  int scansPerGStar = 3;
  // On: groups 1..g, g+1..2g, ...; off ("slide frame"): a group starts at
  // every scan.
  unsigned char consecutiveGroups = 1;
  // "fit boundary fractions": the lines are refined by a Simplex fit of the
  // boundary model.
  unsigned char fitFractions = 0;
  // The transforms also plot s(app) against 1/sqrt(t) (switched off by Escape).
  unsigned char plotExtrapolation = 0;
};
LsgExtrapolationSettings& LsgExtrapolation();
