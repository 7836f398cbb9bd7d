#pragma once
// Small routines that shape simulated signals: the transmittance average of
// an absorbance profile over the radial resolution of the optics, two radial
// corrections of model curves, the complementary error function, the
// approximate analytic (Faxen) sedimentation boundary and the test whether a
// species' equilibrium gradient leaves the fit window practically empty.
// Arrays are 1-based floats of radii (cm) and signals.
#include <cstdint>

// y_i <- -log10( mean of 10^(-y_k) over r_k in [r_i - width/2, r_i + width/2] ).
void AverageAbsorbanceOverWindow(std::int32_t n, float width, const float* r, float* y);

// Gaussian smoothing exp(-(x - r_i)^2 / sigma^2) out to extent x sigma on
// both sides; points beyond the data continue at the mean spacing and add
// weight but no signal, as do points outside [meniscus, bottom].
void RadialCorrection1(std::int32_t n, const float* r, float* y, float sigma, float extent);
// Attenuation by the circular segment of an aperture of radius d (cm)
// that extends past the bottom: factor 1/2 at the bottom, 0 beyond b + d.
void RadialCorrection2(std::int32_t n, const float* r, float* y, float d);

// Chebyshev fit of erfc with fractional error below 1.2e-7 (single precision).
float erfcApprox(float x);

// Approximate solution of the Lamm equation for one species loaded at c0,
//   c(r, t) = c0/2 exp(-2 a t) erfc( (2 a t - 2 ln(r/m)) / (2 sqrt(2 g a t)) ),
// a = s w^2 (1/s), g = 2 D / (a m^2); t in s, D in cm^2/s, m in cm.
void FaxenApproximationCurve(float c0, double t, const float* r, float* out, std::int32_t n,
                             float a, float D, float m);

// True when the equilibrium concentration at the right fit limit relative to
// the loading concentration, for s (Svedberg) and D (cm^2/s) at the speed
// and temperature of the last scan, is below the "Tolerance" setting.
bool SteepBoundaryTest(double s, double D);
