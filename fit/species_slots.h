#pragma once
// The species slots of one model evaluation: which are included, the
// loading fraction and amplitude each is simulated with, and D from the
// slot's entries. Shared by the species loops of every solver path.
class FitHost;

// D (cm^2/s) of a slot from its entries: D = entry x 1e-7, or with the
// molar-mass parametrisation D = s 1e-13 R T / ((1 - vbar rho) M)
// (M <= 0 taken as 1e-10); always the magnitude.
double SpeciesDiffusion(float s, float massOrD);

// First included slot of 1..n, 0 when none.
int FirstIncludedSpecies(int n);
// The buffer slot n: included, scaled by the buffer signal (with linear
// concentrations by 1, the signal then set to 1), its sedimentation updated.
void ScaleBufferSpecies(FitHost* host, int n, bool algebraic);
// Loading fraction f of included slot k: the first included slot takes what
// the others leave of 1 (the buffer slot not counted), the others their
// concentration entry; never negative.
double SpeciesFraction(int k, int first, int n, bool buffer);
// Amplitude f c_first of a slot (1 instead of 0 with linear concentrations),
// also stored as the slot's scale factor.
double SpeciesAmplitude(int k, int first, double f, bool algebraic);
