#include "distributions/hydrodynamics.h"

#include <cmath>

#include "distributions/brent_roots.h"
#include "distributions/conti_settings.h"
#include "fit/model_params.h"
#include "numerics/arrays.h"
#include "platform/error_box.h"
#include "numerics/matrix_files.h"
#include "platform/program_paths.h"

namespace {

using LD = long double;

constexpr LD kNA = static_cast<LD>(kAvogadro);
constexpr LD kPiL = static_cast<LD>(kPiF);
constexpr LD kKB = static_cast<LD>(kBoltzmann);
constexpr LD kEtaW = static_cast<LD>(kWaterViscosity20);
constexpr LD kRhoW = static_cast<LD>(kWaterDensity20);
constexpr LD kR = static_cast<LD>(kGasConstant);
constexpr LD kT0 = static_cast<LD>(kAbsoluteZero);

SolutionConditions& Sol() { return gSolutionConditions; }
LD Buoyancy() { return 1.0L - static_cast<LD>(Sol().vbarRho); }
LD EtaR() { return static_cast<LD>(Sol().viscosity); }

// Radius of the anhydrous sphere (m) for M (g/mol) and vbar (ml/g).
LD R0(LD M, LD v) { return std::cbrt(3.0L * M * v * 1e-6L / (4.0L * kPiL * kNA)); }

// Stokes-Einstein D (cm^2/s) of radius R (m) in the current solvent.
LD StokesEinstein(LD R, LD T) { return (T + kT0) * kKB * 1e4L / (6.0L * kPiL * kEtaW * EtaR() * R); }

// M from s for a given f/f0, relative viscosity, vbar and buoyancy.
LD MassFromS(LD s, LD ff0, LD etaR, LD vbar, LD buoy) {
  const LD X = ff0 * 6.0L * kPiL * kEtaW * etaR * 1000.0L *
               std::cbrt(3.0L * vbar * 1e-6L / (4.0L * kPiL)) * s * 1e-13L / buoy;
  if (X == 0.0L) return 0.0L;
  return kNA * std::pow(std::fabs(X), 1.5L) * (X < 0 ? -1.0L : 1.0L);
}

void Guard(const char* text) { ErrorBox(text); }

float AxialRatio(float ff0, float vbar, float hydration, float rho, bool prolate,
                 const char* message) {
  const LD q = (static_cast<LD>(vbar) + static_cast<LD>(hydration) * rho) / vbar;
  if (!(vbar != 0.0f) || !(q > 0.0L)) {
    Guard(message);
    return 0.0f;
  }
  const LD hf = std::cbrt(q);
  const LD x = ff0 / hf - 1.0L;
  if (!(x > 0.0L)) return 0.0f;
  const LD sx = std::sqrt(x);
  if (prolate)
    return static_cast<float>(1.0L + 2.939184L * sx + 8.027775L * x + 8.55676L * x * x -
                              0.505951L * x * x * x + 0.0361508L * x * x * x * x);
  return static_cast<float>(1.0L + 3.009376L * sx + 8.413897L * x + 13.34978L * x * x -
                            3.18903L * x * x * x + 0.106307L * x * x * x * x);
}

}  // namespace

HydroModelConstants& HydroConstants() {
  static HydroModelConstants c;
  return c;
}

float VbarFromMass(float M) {
  if (M == 0.0f) {
    Guard("mass == 0 in function VbarFromMass");
    return 0.0f;
  }
  const HydroModelConstants& h = HydroConstants();
  const LD scale = std::pow(10.0L, h.vbarMassExponent);
  return static_cast<float>(static_cast<LD>(h.vbarOffset) +
                            static_cast<LD>(h.vbarIncrement) * std::cbrt(static_cast<LD>(M) / scale));
}

float SFromM(float M) {
  if (M == 0.0f) {
    Guard("mass == 0 in function SFromM");
    return 0.0f;
  }
  const HydroModelConstants& h = HydroConstants();
  return static_cast<float>(h.powerLawA * std::pow(static_cast<double>(M), h.powerLawB));
}

float SvedbergD(float M, float s, float T) {
  if (M == 0.0f || s == 0.0f) return kUndefinedD;
  const LD q = Buoyancy() * 1e13L * M / (static_cast<LD>(s) * kR * (T + kT0));
  return static_cast<float>(1.0L / std::fabs(q));
}

float DFromSM(float s, float M, float T) {
  if (!(M > 0.0f)) return 0.0f;  // also 0 for M not a number
  return static_cast<float>(1e-13L * s * kR * (T + kT0) / (Buoyancy() * M));
}

float SFromMD(float M, float D, float T) {
  return static_cast<float>(Buoyancy() * 1e13L * M * D / (kR * (T + kT0)));
}

float S20ToStokesRadius(float s20w, float vbar20) {
  if (!(vbar20 > 0.0f)) {
    Guard("vbar20 <= 0 in function S20ToStokesRadius");
    return 0.0f;
  }
  const LD ff0 = Conti().ffValue;
  const LD v = vbar20;
  const LD f = ff0 * 6.0L * kPiL * kEtaW * 1000.0L * std::cbrt(3.0L * v * 1e-6L / (4.0L * kPiL)) /
               ((1.0L - v * kRhoW) / (s20w * 1e-13L));
  const LD Mp = kNA * std::pow(std::fabs(f), 1.5L);
  return static_cast<float>(ff0 * R0(Mp, v));
}

float CalculateRadius(float M, float vbar) {
  if (M == 0.0f || vbar == 0.0f) {
    Guard("(mass == 0)||(vbar== 0) in function CalculateRadius");
    return 0.0f;
  }
  if (!(static_cast<LD>(M) * vbar > 0.0L)) return 0.0f;
  return static_cast<float>(R0(M, vbar));
}

float MassFromRadius(float R, float vbar) {
  if (!(R > 0.0f) || !(vbar > 0.0f)) return 0.0f;
  const LD r = 100.0L * R;
  return static_cast<float>(4.0L / 3.0L * kPiL * r * r * r * kNA / vbar);
}

float CalculateM(float s) {
  if (s == 0.0f) return 0.0f;
  if (!(Sol().vbar > 0.0f)) {
    Guard("VBAR <= 0 in function CalculateM");
    return 0.0f;
  }
  return static_cast<float>(MassFromS(s, Conti().ffValue, EtaR(), Sol().vbar, Buoyancy()));
}

float CalculateMassFromSedcoeffSphere(float s, float etaR, float vbar, float rho) {
  if (s == 0.0f) return 0.0f;
  if (!(vbar > 0.0f)) {
    Guard("vbar <= 0 in function CalculateMassFromSedcoeffSphere");
    return 0.0f;
  }
  return static_cast<float>(MassFromS(s, 1.0L, etaR, vbar, 1.0L - static_cast<LD>(vbar) * rho));
}

float CalculateMff02(float s, float ff0) {
  if (s == 0.0f) return 0.0f;
  if (!(Sol().vbar > 0.0f)) {
    Guard("VBAR <= 0 in function CalculateMff02");
    return 0.0f;
  }
  return static_cast<float>(MassFromS(s, ff0, EtaR(), Sol().vbar, Buoyancy()));
}

// s (S) of a straight rod of mass M with the held mass per length, by the
// slender-body friction ln p + nu; compact particles (p < 1) as spheres.
float LinearRodS(float M) {
  const LD mL = HydroConstants().rodMassPerLength;
  if (!(M > 1.0f) || !(mL > 1.0L)) return 0.0f;
  const LD vbar = Sol().vbar;
  const LD L = (M / mL) * 1e-9L;
  const LD V = M / kNA * vbar * 1e-6L;
  const LD d = std::sqrt(4.0L * V / (kPiL * L));
  const LD p = L / d;
  if (p >= 1.0L) {
    const LD nu = p >= 10.0L ? 0.386L : 0.312L + 0.561L / p + 0.1L / (p * p);
    return static_cast<float>(1e13L * Buoyancy() * mL * 1e9L /
                              (kNA * 3.0L * kPiL * kEtaW * EtaR() * 1000.0L) * (std::log(p) + nu));
  }
  return static_cast<float>(1e13L * (1.0L / 8.31451e7L) * Buoyancy() * M * kKB * 1e4L /
                            (6.0L * kPiL * kEtaW * EtaR() * R0(M, vbar)));
}

float CalculateMofSforLinearRod(float s, float massPerLength) {
  HydroModelConstants& h = HydroConstants();
  h.rodTargetS = s;
  h.rodMassPerLength = massPerLength;
  if (!(Sol().vbar > 0.0f)) {
    Guard("VBAR <= 0 in function CalculateMofSforLinearRod");
    return 0.0f;
  }
  if (!(kWaterViscosity20 * Sol().viscosity > 0.0f)) {
    Guard("STANDARDVISCOSITY*RELVISCOSITY <= 0 in function CalculateMofSforLinearRod");
    return 0.0f;
  }
  // A rod never sediments at or below zero (and the bracketing below would
  // halve forever): no mass belongs to such a target.
  if (!(s > 0.0f)) return 0.0f;
  const float M0 = CalculateMassFromSedcoeffSphere(s, Sol().viscosity, Sol().vbar, Sol().density);
  if (!(M0 > 0.0f)) return 0.0f;
  double lo = M0, hi = M0;
  for (int i = 0; i < 200 && LinearRodS(static_cast<float>(lo)) - s >= 0.0f; ++i) lo *= 0.5;
  for (int i = 0; i < 200 && LinearRodS(static_cast<float>(hi)) - s <= 0.0f; ++i) hi *= 2.0;
  const double target = s;
  return static_cast<float>(zbrentRoot(
      [target](double M) { return static_cast<double>(LinearRodS(static_cast<float>(M))) - target; },
      lo, hi, 1.0));
}

float DFromMGlobalFf0(float M, float T) { return DFromMff0(M, T, Conti().ffValue); }

float DFromMff0(float M, float T, float ff0) {
  if (M == 0.0f) return kUndefinedD;
  const LD R = ff0 * R0(M, Sol().vbar);
  if (R == 0.0L || EtaR() == 0.0L) return kUndefinedD;
  return static_cast<float>(StokesEinstein(R, T));
}

float CalculateHydratedRadius(float M) {
  if (M == 0.0f) {
    Guard("mass <= 0 in function CalculateHydratedRadius");
    return 0.0f;
  }
  if (!(Sol().vbar > 0.0f)) {
    Guard("VBAR <= 0 in function CalculateHydratedRadius");
    return 0.0f;
  }
  return static_cast<float>(std::cbrt(3.0L * (static_cast<LD>(Sol().vbar) + Sol().hydration) * M *
                                      1e-6L / (4.0L * kPiL * kNA)));
}

float FrictionFromMS(float M, float s, float vbar, float rho) {
  if (s == 0.0f) return 0.0f;
  return static_cast<float>((1.0L - static_cast<LD>(vbar) * rho) * M / kNA / (1e-13L * s));
}

float SphereFriction(float M, float vbar) {
  if (!(M > 0.0f) || !(vbar > 0.0f)) return 0.0f;
  return static_cast<float>(6.0L * kPiL * kEtaW * EtaR() * R0(M, vbar) * 1000.0L);
}

float Ff0FromMS(float M, float s, float vbar, float rho, float etaR) {
  if (M == 0.0f || vbar == 0.0f) return 0.0f;
  const float saved = Sol().viscosity;
  Sol().viscosity = etaR;
  const float f0 = SphereFriction(M, vbar);
  Sol().viscosity = saved;
  if (f0 == 0.0f) return 0.0f;
  return static_cast<float>(static_cast<LD>(FrictionFromMS(M, s, vbar, rho)) / f0);
}

float SFromMff0(float M, float vbar, float T, float rho, float ff0) {
  const LD D = (T + kT0) * kKB * 1e4L / (6.0L * kPiL * kEtaW * ff0 * R0(M, vbar));
  return static_cast<float>((1.0L - static_cast<LD>(vbar) * rho) * 1e13L * M * D / (kR * (T + kT0)));
}

float DFromMS(float M, float s, float vbar, float T, float rho, float etaR) {
  const LD ff = Ff0FromMS(M, s, vbar, rho, etaR);
  return static_cast<float>((T + kT0) * kKB * 1e4L /
                            (R0(M, vbar) * 6.0L * kPiL * kEtaW * etaR * ff));
}

float DFromStokesRadius(float R, float T) {
  if (!(R > 0.0f)) return 0.0f;
  return static_cast<float>(StokesEinstein(R, T));
}

float DFromStokesRadius2(float R, float T) { return DFromStokesRadius(R, T); }

float StokesRadiusFromD(float D, float T) {
  if (!(D > 0.0f)) return 0.0f;
  return static_cast<float>((T + kT0) * kKB * 1e4L / (6.0L * kPiL * kEtaW * EtaR() * D));
}

float SToS20w(float s, float eta, float rho, float vbar, float vbar20) {
  return static_cast<float>(static_cast<LD>(s) * (1.0L - static_cast<LD>(vbar20) * kRhoW) * eta /
                            ((1.0L - static_cast<LD>(vbar) * rho) * kEtaW));
}

float S20wToS(float s20w, float eta, float rho, float vbar, float vbar20) {
  return static_cast<float>(static_cast<LD>(s20w) * (1.0L - static_cast<LD>(vbar) * rho) * kEtaW /
                            ((1.0L - static_cast<LD>(vbar20) * kRhoW) * eta));
}

float SToS20wCurrent(float s) {
  const SolutionConditions& c = Sol();
  return SToS20w(s, kWaterViscosity20 * c.viscosity, c.density, c.vbar, c.vbar);
}

float S20wToSCurrent(float s20w) {
  const SolutionConditions& c = Sol();
  return S20wToS(s20w, kWaterViscosity20 * c.viscosity, c.density, c.vbar, c.vbar);
}

float CalculateProlateRatio(float M, float s, float vbar, float hydration, float rho, float etaR) {
  const LD q = (static_cast<LD>(vbar) + static_cast<LD>(hydration) * rho) / vbar;
  if (vbar == 0.0f || !(q > 0.0L)) {
    Guard("(vbar+hydration*density)/vbar <= 0 in function CalculateProlateRatio");
    return 0.0f;
  }
  return AxialRatio(Ff0FromMS(M, s, vbar, rho, etaR), vbar, hydration, rho, true,
                    "(vbar+hydration*density)/vbar <= 0 in function CalculateProlateRatio");
}

float CalculateOblateRatio(float M, float s, float vbar, float hydration, float rho, float etaR) {
  const LD q = (static_cast<LD>(vbar) + static_cast<LD>(hydration) * rho) / vbar;
  if (vbar == 0.0f || !(q > 0.0L)) {
    Guard("(vbar+hydration*density)/vbar <= 0 in function CalculateOblateRatio");
    return 0.0f;
  }
  return AxialRatio(Ff0FromMS(M, s, vbar, rho, etaR), vbar, hydration, rho, false,
                    "(vbar+hydration*density)/vbar <= 0 in function CalculateOblateRatio");
}

float CalculateProlateRatioFromFf0(float ff0, float vbar, float hydration, float rho) {
  return AxialRatio(ff0, vbar, hydration, rho, true,
                    "(vbar+hydration*density)/vbar <= 0 in function CalculateProlateRatio");
}

float CalculateOblateRatioFromFf0(float ff0, float vbar, float hydration, float rho) {
  return AxialRatio(ff0, vbar, hydration, rho, false,
                    "(vbar+hydration*density)/vbar <= 0 in function CalculateOblateRatio");
}

// Worm-like chain of contour length L (reduced by 2P) and diameter d: the
// translational friction 3 pi eta L / Q with Q from the series of the
// cylinder (short chains) or the worm-like chain (L >= 2.4).
float WormLikeChainS(float M) {
  const ContiSettings& cs = Conti();
  const LD M1 = cs.wormMonomerMass, A = cs.wormCrossSection, P = cs.wormPersistenceLength;
  const LD h = cs.wormHydration, vbar = Sol().vbar;
  if (!(M > 0.0f) || M < cs.wormMonomerMass || A == 0.0L || P == 0.0L) return 0.0f;
  const LD hm = (M1 * vbar * 1e21L / 6.023e23L) / A;
  const LD mL = M1 / hm;
  const LD dh = 2.0L * std::sqrt(0.3182686L * (M1 * (h + vbar) * 1e21L / 6.023e23L) / hm);
  const LD d = dh / (2.0L * P);
  const LD L = M / (mL * 2.0L * P);
  if (!(L > 0.0L)) return 0.0f;
  if (L < 0.1L) {
    const float saved = HydroConstants().rodMassPerLength;
    HydroConstants().rodMassPerLength = static_cast<float>(mL);
    const float s = LinearRodS(M);
    HydroConstants().rodMassPerLength = saved;
    return s;
  }
  const LD d2 = d * d, d3 = d2 * d, d4 = d2 * d2;
  LD Q;
  if (L >= 2.4L) {
    const LD ld = std::log(d);
    Q = 1.843L * std::sqrt(L) +
        (-(1.0L - 0.01412L * d2 + 0.00592L * d4) * ld - 1.0561L - 0.1667L * d - 0.19L * d2 -
         0.0224L * d3 + 0.019L * d4) +
        (0.1382L + 0.691L * d2) / std::sqrt(L) +
        (0.5L * d - 0.3301L - (0.04167L * d2 + 0.00567L * d4) * ld - 0.5854L * d2 - 0.0094L * d3 -
         0.0421L * d4) / L +
        (-0.03L + 0.1209L * d2 + 0.0259L * d4) / std::pow(L, 1.5L);
  } else {
    const LD r = d / L, lg = std::log(L / d);
    Q = (1.0L - 0.01412L * d2 + 0.00592L * d4) * lg +
        (0.3863L - 0.1667L * d + 0.0016L * d2 - 0.0224L * d3 - 0.0007L * d4) +
        (0.1667L + 0.0222L * d2 + 0.0017L * d4) * L +
        (0.01883L - 0.00789L * d2 - 0.00038L * d4) * L * L +
        (-0.002039L + 0.000805L * d2 + 0.000017L * d4) * L * L * L +
        (0.5L + 0.0786L * d - 0.0094L * d2 + 0.0107L * d3 + 0.0039L * d4) * r +
        (0.04167L * d + 0.00567L * d3) * r * lg +
        (-0.0625L + 0.00132L * d2 - 0.00055L * d4) * r * r +
        (0.001302L * d + 0.000181L * d3) * r * r * r +
        (0.001953L - 0.000064L * d2 + 0.000027L * d4) * r * r * r * r;
  }
  const LD s20w = (mL * 2.0L * P * L) * 1e13L * 0.27L /
                  ((L * 0.09426L * 2.0L * P * 1e-7L / Q) * 6.023e23L);
  return S20wToSCurrent(static_cast<float>(s20w));
}

float CalculateMofSforWormLikeChain(float s) {
  ContiSettings& cs = Conti();
  const float M1 = cs.wormMonomerMass;
  const float M0 = CalculateMff02(s, 1.0f);
  if (M0 < M1) return M0;
  float lo = M0, hi = 100.0f * M0;
  while (WormLikeChainS(lo) > s) {
    lo /= 3.0f;
    if (lo < M1) return lo;
  }
  while (WormLikeChainS(hi) < s) {
    hi *= 3.0f;
    if (hi > 1e20f) return hi;
  }
  HydroConstants().wormTargetS = s;
  const uint8_t saved = cs.wormLikeChain;
  cs.wormLikeChain = 1;
  const float M = zbrent([s](float m) { return s - WormLikeChainS(m); }, lo, hi, 0.001f * s);
  cs.wormLikeChain = saved;
  return M;
}

float MFromSPowerLaw(float s) {
  const ContiSettings& cs = Conti();
  return static_cast<float>(std::pow(static_cast<LD>(s) / cs.scalingKs, 1.0L / cs.scalingBs));
}

float SFromMPowerLaw(float M) {
  const ContiSettings& cs = Conti();
  return static_cast<float>(cs.scalingKs * std::pow(static_cast<LD>(M), static_cast<LD>(cs.scalingBs)));
}

bool WriteWormChainMofS() {
  const ContiSettings& cs = Conti();
  const int n = cs.gridSize;
  if (n < 1 || !cs.sValues || !cs.molarMasses) return false;
  const SolutionConditions& c = Sol();
  double** m = dmatrix(1, n, 1, 2);
  const double toWater = (1.0 - static_cast<double>(c.vbar) * kWaterDensity20) / (1.0 - c.vbarRho);
  for (int i = 1; i <= n; ++i) {
    m[i][1] = SToS20w(cs.sValues[i], kWaterViscosity20 * c.viscosity, c.density, c.vbar, c.vbar);
    m[i][2] = 0.001 * toWater * cs.molarMasses[i];
  }
  std::string path = platform::ProgramPaths.WormChainMofsTablePath;
  if (path.empty()) path = platform::ProgramPaths.ProgramFolder + "~WormChain_mofs.dat";
  const bool ok = WriteMatrixFile(m, 1, n, 1, 2, path.c_str());
  free_dmatrix(m, 1, n, 1, 2);
  return ok;
}
