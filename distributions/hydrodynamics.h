#pragma once
#include "numerics/constants.h"
// Hydrodynamic conversions between sedimentation coefficient s (Svedberg,
// 1e-13 s), diffusion coefficient D (cm^2/s), molar mass M (g/mol), frictional
// ratio f/f0, Stokes radius (m), friction coefficient (g/s), partial-specific
// volume vbar (ml/g), axial ratios and the s(M) relations of the scaling-law,
// rod and worm-like-chain models. Temperatures T are in degrees Celsius;
// viscosities eta are absolute (Pa s) where an argument, else the solvent's
// relative viscosity eta_r times the water viscosity at 20 C.
//
//   Svedberg:        s = (1 - vbar rho) M D / (R (T + 273.15))
//   Stokes-Einstein: D = k_B (T + 273.15) / (6 pi eta R)
//   anhydrous sphere R0 = (3 M vbar / (4 pi N_A))^(1/3)
//
// The solvent comes from gSolutionConditions, the global f/f0 and the model
// constants from Conti(). Guards report through ErrorBox and return the
// documented fall-back value; nothing here allocates.

// Constants shared with the callers.
inline constexpr float kAvogadro = 6.02214e23f;
inline constexpr float kBoltzmann = 1.38065e-23f;     // J/K
inline constexpr float kWaterViscosity20 = 0.001002f; // Pa s
inline constexpr float kWaterDensity20 = 0.99823f;    // g/ml
inline constexpr float kGasConstant = 8.31451e7f;     // erg/(mol K)
inline constexpr float kAbsoluteZero = 273.15f;
inline constexpr float kUndefinedD = 0.0001f;

// Module values of the c(M) variants.
struct HydroModelConstants {
  double powerLawA = 0.0159;   // s = a M^b of the power-law c(M)
  double powerLawB = 0.47;
  double vbarOffset = 1.04248;     // v0 of VbarFromMass (ml/g)
  double vbarIncrement = 0.01909;  // a of VbarFromMass (ml/g)
  int vbarMassExponent = 8;    // k of VbarFromMass
  float rodMassPerLength = 0;  // Da/nm, held for LinearRodS
  float rodTargetS = 0;        // last target of CalculateMofSforLinearRod
  float wormTargetS = 0;       // last target of CalculateMofSforWormLikeChain
};
HydroModelConstants& HydroConstants();

// vbar(M) = v0 + a (M / 10^k)^(1/3)  (ml/g, M in g/mol), with the values
// of the c(M) prior.
float VbarFromMass(float M);
float SFromM(float M);
float SvedbergD(float M, float s, float T);
// Also the Svedberg relation solved for M: DFromSM(s, D, T) = M.
float DFromSM(float s, float M, float T);
float SFromMD(float M, float D, float T);
float S20ToStokesRadius(float s20w, float vbar20);
float CalculateRadius(float M, float vbar);
float MassFromRadius(float R, float vbar);
float CalculateM(float s);
float CalculateMassFromSedcoeffSphere(float s, float etaR, float vbar, float rho);
float CalculateMff02(float s, float ff0);
float LinearRodS(float M);
float CalculateMofSforLinearRod(float s, float massPerLength);
float DFromMGlobalFf0(float M, float T);
float DFromMff0(float M, float T, float ff0);
float CalculateHydratedRadius(float M);
float FrictionFromMS(float M, float s, float vbar, float rho);
float SphereFriction(float M, float vbar);
float Ff0FromMS(float M, float s, float vbar, float rho, float etaR);
float SFromMff0(float M, float vbar, float T, float rho, float ff0);
float DFromMS(float M, float s, float vbar, float T, float rho, float etaR);
float DFromStokesRadius(float R, float T);
float DFromStokesRadius2(float R, float T);
// Stokes radius (m) of a sphere with diffusion coefficient D (cm^2/s) at T
// in the current solvent; 0 for D not above 0.
float StokesRadiusFromD(float D, float T);
float SToS20w(float s, float eta, float rho, float vbar, float vbar20);
float S20wToS(float s20w, float eta, float rho, float vbar, float vbar20);
float SToS20wCurrent(float s);
float S20wToSCurrent(float s20w);
float CalculateProlateRatio(float M, float s, float vbar, float hydration, float rho, float etaR);
float CalculateOblateRatio(float M, float s, float vbar, float hydration, float rho, float etaR);
float CalculateProlateRatioFromFf0(float ff0, float vbar, float hydration, float rho);
float CalculateOblateRatioFromFf0(float ff0, float vbar, float hydration, float rho);
float WormLikeChainS(float M);
float CalculateMofSforWormLikeChain(float s);
float MFromSPowerLaw(float s);
float SFromMPowerLaw(float M);
// "~WormChain_mofs.dat" in the program folder: s20,w and 0.001 M (buoyancy
// referred to water) of every grid point.
bool WriteWormChainMofS();
