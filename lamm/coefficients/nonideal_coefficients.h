#pragma once
// Concentration-dependent sedimentation and diffusion coefficients of
// hydrodynamically interacting macromolecules, and the hydrodynamic
// conversions that feed them.
//
//   phi = 0.001 c k (f/f0)^3 vbar                       (hydrodynamic volume fraction)
//   s(c)/s0 = (1 - phi)^4.27 / (1 + 2.28 phi [- 0.89 G(phi/tau)])
//   D(c)/D0 = (s(c)/s0) / S(0)                          (generalised Stokes-Einstein)
//   S(0) = ((1 - phi)^2 / (1 + 2 phi))^2                 (hard spheres)
//   S(0) = ((1 - phi)^2 / (1 + 2 phi - lambda phi (1 - phi)))^2   (sticky spheres)
// with lambda the smaller root of
//   (phi/12) lambda^2 - (tau + phi/(1 - phi)) lambda + (1 + phi/2)/(1 - phi)^2 = 0.
//
// Units: c in mg/ml, s0 in S, D0 in cm^2/s (a value above 0.1 is read as
// 1e-7 cm^2/s), vbar in ml/g, rho in g/ml, T in degC (above 200 read as K),
// eta relative to water at 20 degC. Out-of-range inputs give the fixed
// values 1.0, 0.0 or -1.0 documented below; -1.0 (and any non-finite value)
// marks a factor that must never become a coefficient.

// On: sticky hard spheres (Baxter stickiness tau); off: plain hard spheres.
extern unsigned char StickyHardSphereFlag;

// True for a factor that a solver may use (finite and not negative).
bool IsUsableConcentrationFactor(double factor);

double HydrodynamicVolumeFraction(float c, float k, float ff0, float vbar);
double HardSphereSedimentationFactor(float phi);
double StickySphereAttractionTerm(float phi, float tau);
double StickySphereSedimentationFactor(float phi, float tau);
double HardSphereStructureFactor(float phi);
// Smaller root lambda; 0 with the flag off or phi, tau out of range; NaN
// when the quadratic has no real root (no physical solution).
double BaxterStickinessRoot(float phi, float tau);
// NaN when no real root exists or the denominator vanishes (spinodal).
double StickySphereStructureFactor(float phi, float tau);
double HardSphereDiffusionFactor(float phi);
double HardSphereDiffusionFactorFromS(float phi, double fs);
double StickySphereDiffusionFactor(float phi, float tau);
double StickySphereDiffusionFactorFromS(float phi, float tau, double fs);
// Reduced second virial coefficient B2/B2,HS = 1 - 1/(4 tau) of sticky spheres.
double HardSphereCorrectionFactor(float tau);

// M = s RT / ((1 - vbar rho) D), g/mol; s in S, D in cm^2/s.
float MassFromSD(float s, float D, float T, float vbarRho);
float MolarMassFromSAndD(float s, float D, float vbarRho, float T);
// Radius (m) and friction (g/s) of the compact sphere of mass M.
double SphereRadiusOfMass(float M, float vbar);
double SphereFrictionOfMass(float M, float vbar, float eta);
double FrictionOfMassAndS(float M, float s, float vbar, float rho);
float FrictionalRatioFromMassAndS(float M, float s, float vbar, float rho, float eta);
double VolumeFractionFromSD(float c, float k, float s0, float D0, float vbar, float rho, float T,
                            float eta);

// s(c)/s0 and D(c)/D0 at total concentration c.
double ConcentrationFactorS(float c, float k, float tau, float s0, float D0, float vbar,
                            float rho, float T, float eta);
double ConcentrationFactorD(float c, float k, float tau, float s0, float D0, float vbar,
                            float rho, float T, float eta);
// Writes s0 fs and D0 fd, returns phi (1.0, outputs untouched, for c < 0).
double ConcentrationFactorsSD(float c, float k, float tau, float s0, float D0, float vbar,
                              float rho, float T, float eta, double* sOut, double* dOut);
// The same with f/f0 given instead of derived from s0 and D0.
double ConcentrationFactorSSimple(float c, float k, float tau, float ff0, float vbar);
double ConcentrationFactorDSimple(float c, float k, float tau, float ff0, float vbar);
// Drop of s/s0 and rise of D/D0 over the next 1 mg/ml.
float ConcentrationFactorSDifference(float c, float k, float tau, float ff0, float vbar);
float ConcentrationFactorDDifference(float c, float k, float tau, float ff0, float vbar);
