#pragma once
// The inhomogeneous solvent: a solvent whose density and viscosity vary
// with radius, either compressed by the centrifugal pressure (static
// gradient) or made by a sedimenting cosolute (dynamic gradient). While the
// model is on the species' s and D are held at 20 degC water and the Lamm
// solvers scale them locally by the viscosity factor e = eta_w/eta(r) and
// the buoyancy ratio q = (1 - v' rho(r))/(1 - vbar rho_w):
//
//   dc/dt = (1/r) d/dr [ r e D dc/dr - e q s w^2 r^2 c ].
//
// The physics lives here, free of program-wide state, so that the global
// solvers of the model evaluation and every solver object (one per worker
// thread in a c(s) list) run the same code on their own copies.
// r in cm, c in M, s in S, D in cm^2/s, density g/ml, viscosity Pa s.
#include <string>
#include <vector>

inline constexpr float kWaterDensity20C = 0.99823f;     // g/ml
inline constexpr float kWaterViscosity20C = 0.001002f;  // Pa s

// Nodes of the cosolute's radial grid: vectors of this length are made for
// each of its profiles; a million would be far finer than any scan.
constexpr int kMaxCosoluteGridPoints = 1000000;

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
  int CosoluteGridSize = 0;  // at most kMaxCosoluteGridPoints
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

  // The compressed solvent, the one whose sharp boundary has a closed form.
  bool CompressedSolvent() const { return UseInhomogeneousSolvent && StaticGradient; }
};

// s(c) of CsCl at 25 degC (S) and D(c) (cm^2/s), c molar (negative c is
// taken as 0).
double CsClSedimentationCoefficient25C(double c);
double CsClDiffusionCoefficient25C(double c);
// sum of a[k] c^(k-1), k = 1..m (a 1-based); 0 without coefficients.
double EvalPolynomial(const double* a, int m, double c);

// Viscosity (Pa s) and density (g/ml) of the cosolute solution at c (M)
// from the settings' coefficient lists; without them those of water at
// 20 degC. Negative c counts as 0.
double ViscosityAtConcentration(const SolventGradientSettings& sg, double c);
double DensityAtConcentration(const SolventGradientSettings& sg, double c);
// Density of a compressible solvent at radius r (cm): rho0 at the meniscus
// m, kappa in 1/MPa.
double CompressibleSolventDensity(double r, double rho0, double meniscus, double rpm, double kappa);
// Buoyancy ratio (1 - v rho)/(1 - vbar rho_w).
double BuoyancyRatio(double v, double rho, double vbar);
// Mean viscosity factor and buoyancy ratio of the buffer at 1 atm: the
// factors that take s and D at 20 degC water to the uniform buffer.
double MeanViscosityFactor(const SolventGradientSettings& sg);
double MeanBuoyancyRatio(const SolventGradientSettings& sg, double vbar);

// Element integrals with node weights e, q (1-based, linear in each
// element) on r[1..n]; q null means 1.
//   A(i, j) = int r e phi_i' phi_j',  B(i, j) = int r^2 e q phi_i' phi_j.
double WeightedElementA(int i, int j, const double* r, int n, const double* e);
double WeightedElementB(int i, int j, const double* r, int n, const double* e, const double* q);

// Per-element moments of the weighted integrals on r[1..n] (element a from
// r_a to r_(a+1)): left/right = int r^2 e q phi_a / phi_(a+1) (q null
// means 1), diffusion = int r d phi_a'^2; and from them the rows 1..n of
// the stiffness sw2 B - D A without flux at the ends.
void ElementMoments(const double* r, int n, const double* d, const double* e, const double* q,
                    double* left, double* right, double* diffusion);
void StiffnessFromMoments(const double* r, int n, const double* left, const double* right,
                          const double* diffusion, double sw2, double D, double* lo, double* di,
                          double* up);

// ------------------------------------------------------------ cosolute
// The sedimenting cosolute on its own even grid of n nodes from meniscus to
// bottom: ideal (constant s, D) or nonideal (CsCl or the s(c), D(c) power
// series), Crank-Nicolson with a predictor-corrector for s(c), D(c). No
// flux at the ends, so the amount is conserved.
struct CosoluteState {
  enum Status { kOk = 0, kGridTooSmall, kDNotPositive, kSingular };
  int n = 0;
  std::vector<double> r, c, cOld, s, D;  // 1-based
  double time = 0;                       // start of the species step
  double rpm = 0;
  bool failed = false;                   // a solve failed (zero pivot)
  double badConcentration = 0;           // where D(c) was not positive

  // Start profile c0 (0 inside a zone lamella of the given thickness) and
  // matrices; sCoef and dCoef are the 1-based s(c) and D(c) series.
  Status Init(const SolventGradientSettings& sg, const std::vector<double>& sCoef,
              const std::vector<double>& dCoef, double meniscus, double bottom, double rpm,
              double lamella);
  // One step of dt at rpm; a failed solve leaves the previous profile.
  Status Advance(double dt, double rpm);
  // The concentration at radius x (linear between nodes).
  double ConcentrationAt(double x) const;
  // The nodal profile `ahead` seconds after the last step (0 .. the last
  // step's length), carried on at that step's rate of change, into out
  // (1-based); and a nodal profile's value at x (linear between nodes).
  void ProfileAhead(double ahead, std::vector<double>& out) const;
  double ValueAt(const std::vector<double>& values, double x) const;
  double lastStep = 0;  // length of the last step (s)

 private:
  bool NodeCoefficients(const std::vector<double>& x, std::vector<double>& s, std::vector<double>& D);
  void Assemble(double rpm);
  bool Solve(double dt);
  bool nonideal_ = false, csCl_ = false;
  double s0_ = 0, D0_ = 0;
  std::vector<double> sCoef_, dCoef_;
  std::vector<double> mSub_, mDiag_, mSup_, kSub_, kDiag_, kSup_, aSub_, aDiag_, aSup_, rhs_, gam_,
      sPrev_, dPrev_, left_, right_, diffusion_;
};

// ------------------------------------------------------------ species factors
// Per-node factors of a species grid r[1..N] (1-based), each divided by a
// reference (1, or the buffer's mean factor for a solver that already runs
// with the buffer's s and D), and the per-element moments of the weighted
// integrals, so that a dynamic gradient can re-assemble every step cheaply.
struct LocalSolventFactors {
  std::vector<double> e, q, rhoWater;  // 1-based
  int count = 0;
  double eReference = 1, qReference = 1;

  // Fills e and q for the factor model of the settings: compressible
  // buffer, cosolute solution at c0 (plus compressed water), or 1.
  void Init(const SolventGradientSettings& sg, double vbar, const double* r, int N,
            double meniscus, double rpm);
  // Dynamic gradient: e and q from the cosolute concentrations cs[1..N] at
  // the nodes (nothing without a dynamic gradient and cosolute).
  void UpdateFrom(const SolventGradientSettings& sg, double vbar, const double* cs, int N);
  // The same with the cosolute's profile read at the radii `at`, the
  // moments then made on `grid` (the frame radii of a moving frame, else r).
  void UpdateFrom(const SolventGradientSettings& sg, double vbar, const CosoluteState& cosolute,
                  const double* at, const double* grid, int N, double ahead = 0);

  // Element moments on r[1..n] from the present factors.
  void PrepareMoments(const double* r, int n);
  bool MomentsFor(const double* r, int n) const { return momentR == r && momentN == n; }
  // Band entries of an operator whose last row is `last` (<= n).
  double MomentA(int i, int j, int last) const;
  double MomentB(int i, int j, int last) const;
  // All rows 1..last of the stiffness sw2 B - D A (no flux at the ends), in
  // one sweep over the elements.
  void Stiffness(double sw2, double D, int last, double* lo, double* di, double* up) const;
  // Outflow terms at node k: r_k e_k / (r_k - r_(k-1)) and e_k q_k r_k^2.
  double EndTermD(const double* r, int k) const;
  double EndTermS(const double* r, int k) const;

  std::vector<double> left, right, diffusion;  // per element a = 1..n-1
  const double* momentR = nullptr;
  int momentN = 0;

 private:
  void NodeFactors(const SolventGradientSettings& sg, double c, double rhoWater, double vbar,
                   double& e, double& q) const;
  std::vector<double> work_, ahead_;
};
