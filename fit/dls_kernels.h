#pragma once
// Kernels of dynamic light scattering: the field autocorrelation of one
// diffusing species over the lag times tau (s) of every loaded DLS set,
//
//   g1(tau) = A exp(-D' q^2 tau),            D' = 1e-4 D  (D in cm^2/s -> m^2/s)
//   q = 4 pi n sin(theta / 2) / lambda       (n solvent, theta degrees, lambda m)
//
// or, as cumulants about the mean D with the moments mu2 (cm^4/s^2) and
// mu3 (cm^6/s^3) of the distribution of D,
//
//   g1 = A exp(-D' q^2 tau) (1 + mu2' (q^2 tau)^2 / 2 - mu3' (q^2 tau)^3 / 6),
//   mu2' = 1e-8 mu2, mu3' = 1e-12 mu3.
//
// D <= 0 stands for a constant term: A at the first lag time, 0 after it.
// The lag times are held as log10 tau in the x arrays of the sets (and of
// the common grid); q comes from each set's DlsHeaderRecord.
#include "data/dls_header.h"

// What the caller sets before each computation.
struct DlsKernelInputs {
  double D = 0.0;          // cm^2/s; the mean D of the cumulant form
  double amplitude = 1.0;  // A
  bool cumulant = false;
  double mu2 = 0.0, mu3 = 0.0;  // moments of the cumulant form
  int component = 1;            // species slot of the discrete model
  // Distribution models: the kernel block [grid point][set][lag] over the
  // common lag-time grid, and the grid point to fill.
  float*** cube = nullptr;
  int gridPoint = 1;
  bool ownLagTimes = false;  // each set's own lag times instead of the common grid
  int firstSet = 1, lastSet = 1;  // time positions of the sets of ComputeDlsKernels
};
DlsKernelInputs& DlsKernels();

// q^2 (1/m^2) of a set, kept in single precision; 0 when the record cannot
// describe a measurement (q^2 not above 0 or not finite).
float DlsScatteringVectorSquared(const DlsHeaderRecord& r);
// The kernel at lag time tau (s) for q^2 (1/m^2); D <= 0 is the caller's case.
double DlsKernelValue(const DlsKernelInputs& in, float q2, double tau);
// Stokes-Einstein D (cm^2/s) of a sphere of radius R (m) at T (degC) in the
// solvent of gSolutionConditions (viscosity relative to water at 20 degC).
double DiffusionFromStokesRadius(double radius, double celsius);

// Set j holds the intensity autocorrelation g(2)-1 (not g(1)); any set does.
bool DlsSetHoldsG2(int j);
bool DlsIntensityAutocorrelationLoaded();

// The kernel of the current species for every loaded set: added to the
// sets' models (discrete model), stored as the slot's curves on the common
// grid (discrete model with algebraic amplitudes or noise), or stored into
// the distribution's kernel block at the current grid point. False, after
// its message, when a set holds g(2)-1 for a distribution model or its
// scattering vector is not valid: the kernels are then incomplete.
bool ComputeDlsKernelsFull();
// The distribution kernels of the sets at time positions firstSet..lastSet
// (the normal equations of a time-course window take the same); a key press sets
// the stop flag and the range is still finished.
bool ComputeDlsKernels();
