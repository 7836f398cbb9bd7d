#pragma once
// The inhomogeneous solvent: a solvent whose density and viscosity vary
// with radius, either compressed by the centrifugal pressure (static
// gradient) or made by a sedimenting cosolute (dynamic gradient). While the
// model is on the species' s and D are held at 20 degC water and the Lamm
// solvers scale them locally by the viscosity factor e = eta_w/eta(r) and
// the buoyancy ratio q = (1 - v' rho(r))/(1 - vbar rho_w).
#include <string>
#include <vector>

inline constexpr float kWaterDensity20C = 0.99823f;     // g/ml
inline constexpr float kWaterViscosity20C = 0.001002f;  // Pa s

struct SolventGradientSettings {
  bool UseInhomogeneousSolvent = false;
  bool FitVbar = false;
  bool StaticGradient = true;
  bool DynamicGradient = false;
  bool SedimentingCosolute = false;
  double Compressibility = 4.591e-4;  // 1/MPa
  bool AddWaterCompressibility = false;
  bool WaterCompressibilityApplied = false;
  float BufferDensity1atm = 0.99823f;     // g/ml
  float BufferViscosity1atm = 0.001002f;  // Pa s
  float ViscosityRatio = 1.0f;
  float VbarSolvated = 0;
  float EffectiveVbar = 0.73f;
  int CosoluteGridSize = 0;
  int CosoluteGridSizeEntry = 50;
  double CosoluteLoadingConcentration = 1.5;  // M
  bool NonidealCosolute = false;
  double CosoluteS = 0.2;   // S
  double CosoluteD = 3e-6;  // cm^2/s
  bool CsClAt25C = false;
  bool PlotCosoluteData = false;
  bool SaveCosoluteData = false;
  std::vector<double> DensityCoefficients;    // 1-based, entry 0 unused
  std::vector<double> ViscosityCoefficients;  // 1-based, entry 0 unused
  std::string DensityCoefficientFile, ViscosityCoefficientFile;
  bool StandardConditionsApplied = false;
  float SavedContiVbar = 0.73f, SavedContiSmin = 1.0f;
  bool TruncateGridNoteShown = false, DynamicGradientNoteShown = false,
       StaticGradientNoteShown = false;
};
SolventGradientSettings& CurrentSolventGradientSettings();

// Reads one coefficient per line into a 1-based vector; false (and empty)
// when the file cannot be read.
bool ReadCoefficientList(const std::string& path, std::vector<double>& out);

// Viscosity (Pa s) and density (g/ml) of the cosolute solution at c (M);
// without coefficients those of water at 20 degC. Negative c counts as 0.
double ViscosityAtConcentration(double c);
double DensityAtConcentration(double c);
// Density of a compressible solvent at radius r (cm): rho0 at the meniscus
// m, kappa in 1/MPa.
double CompressibleSolventDensity(double r, double rho0, double meniscus, double rpm, double kappa);

// Buoyancy ratio (1 - v rho)/(1 - vbar rho_w).
double BuoyancyRatio(double v, double rho, double vbar);
// The factor that takes s at 20 degC water to the uniform buffer
// (ratio 1/eta_rel and buoyancy of the buffer), v the macromolecule's vbar
// in the buffer.
double StandardConditionsSFactor(const SolventGradientSettings& sg, double vbar);

// A problem of the settings that would divide by zero (density or
// viscosity not positive, no buoyancy, too small a cosolute grid), as the
// message to show; empty when they can be used.
std::string SolventGradientProblem(const SolventGradientSettings& sg, double vbar);

// Per-node factors of the species grid r[1..N] (1-based).
struct LocalSolventFactors {
  std::vector<double> e, q, rhoWater;  // 1-based
  int count = 0;
};
LocalSolventFactors& CurrentLocalSolventFactors();
// Fills e and q for the current settings, vbar of the solution conditions,
// the meniscus of the model and the rotor speed of the first scan.
void InitLocalSDFactors(const double* r, int N);
// Dynamic gradient: e and q from the cosolute concentration cs[1..N]
// interpolated onto the species' radii.
void UpdateLocalSDFactorsFrom(const double* cs, int N);
void UpdateLocalSDFactors(const double* r, int N);
// x q e with the uniform buffer's factors (1 without the gradient).
double LocalSolventDensityViscosity(double x);
// s and D of a species held at 20 degC water, in the uniform buffer when
// the model is on (unchanged when it is off).
double BufferSedimentationCoefficient(double s20w);
double BufferDiffusionCoefficient(double D20w);

// Element integrals on r[1..N] weighted by the local factors (count N'):
// A(i, j) = int r e phi_i' phi_j', B(i, j) = int r^2 e q phi_i' phi_j.
double DensgradElementA(int i, int j, const double* r, int N);
double DensgradElementB(int i, int j, const double* r, int N);
double DensgradEndTermD(const double* r, int k);
double DensgradEndTermS(const double* r, int k);

// Converts the discrete species' s[1..n] and D[1..n] between the buffer and
// 20 degC water; D <= 0 becomes 0.
void ConvertSpeciesToStandard(const SolventGradientSettings& sg, double vbar, float* s, float* D, int n);
void ConvertSpeciesToExperimental(const SolventGradientSettings& sg, double vbar, float* s, float* D, int n);

// Hands the buffer to a solver object (nothing while the model is off); the
// object runs the species with the buffer's mean factors.
class CLammIdeal;
void ApplySolventGradientToSolver(CLammIdeal& L, double vbar);

// The fit engine's vbar entry while the model is on and vbar is fitted.
struct FitOptionEntries;
void ProvideSolventFitOptions(FitOptionEntries& entries);

// Connects the static-grid solver's solvent branches to this model.
void InstallSolventGradientHooks();

// Element integrals with node weights e, q (1-based, linear in each
// element) on r[1..n]; q null means 1.
double WeightedElementA(int i, int j, const double* r, int n, const double* e);
double WeightedElementB(int i, int j, const double* r, int n, const double* e, const double* q);

// ------------------------------------------------------------ cosolute
// The sedimenting cosolute on its own even grid of n nodes from meniscus to
// bottom: ideal (constant s, D) or nonideal (CsCl or the s(c), D(c) lists),
// Crank-Nicolson with a predictor-corrector for s(c), D(c). No flux at the
// ends, so the amount is conserved.
struct CosoluteState {
  int n = 0;
  std::vector<double> r, c, cOld, s, D;  // 1-based
  double time = 0;                       // start of the species step
  double rpm = 0;
  bool failed = false;                   // a solve failed (zero pivot)
};
CosoluteState& CurrentCosolute();
// Start profile and coefficients; false when the run cannot go on (a list
// file is missing: reported once, and the run is stopped).
bool InitCosoluteGradient();
void SetCosoluteTime(double t);
// Advances the cosolute to the run state's clock.
void StepCosoluteGradient();
// Advances by dt at rpm (used by the above and by the tests).
bool AdvanceCosolute(double dt, double rpm);
// The cosolute concentration at radius x (linear between nodes).
double CosoluteConcentrationAt(double x);
// Forgets which missing list files were already reported.
void ResetSolventListNotes();
