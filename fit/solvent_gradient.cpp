#include "fit/solvent_gradient.h"

#include <algorithm>
#include <cmath>

#include "data/scan_set.h"
#include "fit/lamm_grid.h"
#include "fit/lamm_run_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/static_grid_lamm.h"
#include "fit/conc_dependent_coefficients.h"
#include "fit/fit_vector.h"
#include "lamm/element_integrals.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_settings.h"
#include "numerics/cvector.h"
#include "numerics/error_box.h"
#include "platform/input_events.h"

namespace {
constexpr double kPi = 3.141592653589793;
void PrepareElementMoments(const double* r, int n);

double Sum(const std::vector<double>& a, const double* terms, int most) {
  const int m = std::min(static_cast<int>(a.size()) - 1, most);
  double sum = 0;
  for (int k = 1; k <= m; ++k) sum += a[k] * terms[k - 1];
  return sum;
}

double FirstScanRpm() {
  const ScanSet& ss = CurrentScanSet();
  if (ss.count >= 1) return ss.records[ss.order[1]].rpm;
  return CurrentLammRunState().rpm;
}

// rho and v' of the node: 4 combinations of static/dynamic and water
// compressibility; c the cosolute concentration there.
void NodeFactors(const SolventGradientSettings& sg, double c, double rhoWater, double vbar,
                 double& e, double& q) {
  const double eta = ViscosityAtConcentration(c);
  double rho = DensityAtConcentration(c);
  if (sg.WaterCompressibilityApplied) rho += rhoWater - kWaterDensity20C;
  e = kWaterViscosity20C / eta;
  q = BuoyancyRatio(sg.EffectiveVbar, rho, vbar);
}
}  // namespace

SolventGradientSettings& CurrentSolventGradientSettings() {
  static SolventGradientSettings settings;
  return settings;
}

bool ReadCoefficientList(const std::string& path, std::vector<double>& out) {
  out.clear();
  if (path.empty()) return false;
  CVector v;
  if (!v.ReadFromFile(path.c_str()) || v.Count() == 0) return false;
  out.assign(v.Count() + 1, 0.0);
  for (unsigned k = 0; k < v.Count(); ++k) out[k + 1] = v[k];
  return true;
}

double ViscosityAtConcentration(double c) {
  const auto& a = CurrentSolventGradientSettings().ViscosityCoefficients;
  if (a.size() < 2) return kWaterViscosity20C;
  c = std::fmax(c, 0.0);
  const double terms[5] = {1, 1e-3 * std::sqrt(c), 1e-2 * c, 1e-3 * c * c, 1e-4 * c * c * c};
  return kWaterViscosity20C * Sum(a, terms, 5);
}

double DensityAtConcentration(double c) {
  const auto& a = CurrentSolventGradientSettings().DensityCoefficients;
  if (a.size() < 2) return kWaterDensity20C;
  c = std::fmax(c, 0.0);
  const double terms[6] = {1, 1e-3 * std::sqrt(c), 1e-2 * c, 1e-3 * c * c, 1e-4 * c * c * c,
                           1e-6 * c * c * c * c};
  return Sum(a, terms, 6);
}

double CompressibleSolventDensity(double r, double rho0, double meniscus, double rpm, double kappa) {
  const double w = rpm * 2 * kPi / 60;
  const double k = 1000 * rho0 * 0.5 * w * w * kappa * 1e-6;
  return rho0 / (1 - (r * r - meniscus * meniscus) * k * 1e-4);
}

double BuoyancyRatio(double v, double rho, double vbar) {
  return (1 - v * rho) / (1 - vbar * kWaterDensity20C);
}

double StandardConditionsSFactor(const SolventGradientSettings& sg, double vbar) {
  const double v = sg.DynamicGradient ? sg.EffectiveVbar : vbar;
  return sg.ViscosityRatio * (1 - vbar * kWaterDensity20C) / (1 - v * sg.BufferDensity1atm);
}

std::string SolventGradientProblem(const SolventGradientSettings& sg, double vbar) {
  if (!(sg.BufferDensity1atm > 0)) return "the buffer density must be positive";
  if (!(sg.BufferViscosity1atm > 0) || !(sg.ViscosityRatio > 0))
    return "the buffer viscosity must be positive";
  if (!std::isfinite(vbar) || std::fabs(1 - vbar * kWaterDensity20C) < 1e-6)
    return "vbar leaves no buoyancy in water (1 - vbar x 0.99823 = 0)";
  const double v = sg.DynamicGradient ? sg.EffectiveVbar : vbar;
  if (!std::isfinite(v) || std::fabs(1 - v * sg.BufferDensity1atm) < 1e-6)
    return "vbar leaves no buoyancy in the buffer (1 - vbar x density = 0)";
  if (!(sg.Compressibility >= 0)) return "the compressibility must not be negative";
  if (sg.DynamicGradient) {
    if (sg.CosoluteGridSize < 3) return "the cosolute grid needs at least 3 points";
    if (!(sg.CosoluteLoadingConcentration >= 0))
      return "the cosolute loading concentration must not be negative";
    if (!sg.NonidealCosolute && !(sg.CosoluteD > 0)) return "the cosolute's D must be positive";
  }
  return {};
}

LocalSolventFactors& CurrentLocalSolventFactors() {
  static LocalSolventFactors factors;
  return factors;
}

void InitLocalSDFactors(const double* r, int N) {
  const SolventGradientSettings& sg = CurrentSolventGradientSettings();
  LocalSolventFactors& f = CurrentLocalSolventFactors();
  if (f.count != N) {
    f.e.assign(N + 1, 1.0);
    f.q.assign(N + 1, 1.0);
    f.rhoWater.assign(N + 1, kWaterDensity20C);
    f.count = N;
  }
  const double vbar = gSolutionConditions.vbar;
  const double m = gModelParams.meniscus, rpm = FirstScanRpm();
  for (int i = 1; i <= N; ++i) {
    double e = 1, q = 1;
    if (sg.StaticGradient) {
      const double rho =
          CompressibleSolventDensity(r[i], sg.BufferDensity1atm, m, rpm, sg.Compressibility);
      e = 1.0 / sg.ViscosityRatio;
      q = BuoyancyRatio(vbar, rho, vbar);
    } else if (sg.DynamicGradient) {
      if (sg.WaterCompressibilityApplied)
        f.rhoWater[i] = CompressibleSolventDensity(r[i], kWaterDensity20C, m, rpm, sg.Compressibility);
      NodeFactors(sg, sg.CosoluteLoadingConcentration, f.rhoWater[i], vbar, e, q);
    }
    f.e[i] = e;
    f.q[i] = q;
  }
  PrepareElementMoments(r, N);
}

void UpdateLocalSDFactorsFrom(const double* cs, int N) {
  const SolventGradientSettings& sg = CurrentSolventGradientSettings();
  LocalSolventFactors& f = CurrentLocalSolventFactors();
  if (!sg.DynamicGradient || !sg.SedimentingCosolute || f.count < N) return;
  const double vbar = gSolutionConditions.vbar;
  for (int i = 1; i <= N; ++i) NodeFactors(sg, cs[i], f.rhoWater[i], vbar, f.e[i], f.q[i]);
}

double LocalSolventDensityViscosity(double x) {
  const SolventGradientSettings& sg = CurrentSolventGradientSettings();
  const double vbar = gSolutionConditions.vbar;
  if (sg.StaticGradient)
    return x * BuoyancyRatio(vbar, sg.BufferDensity1atm, vbar) / sg.ViscosityRatio;
  if (sg.DynamicGradient)
    return x * BuoyancyRatio(sg.EffectiveVbar, sg.BufferDensity1atm, vbar) / sg.ViscosityRatio;
  return x;
}

double BufferSedimentationCoefficient(double s20w) {
  if (!CurrentSolventGradientSettings().UseInhomogeneousSolvent) return s20w;
  return LocalSolventDensityViscosity(s20w);
}

double BufferDiffusionCoefficient(double D20w) {
  const SolventGradientSettings& sg = CurrentSolventGradientSettings();
  if (!sg.UseInhomogeneousSolvent || !(sg.StaticGradient || sg.DynamicGradient)) return D20w;
  return D20w / sg.ViscosityRatio;
}

// ------------------------------------------------------------ element integrals

namespace {
const LocalSolventFactors& F() { return CurrentLocalSolventFactors(); }
int Usable(int N) { return std::min(N, F().count); }

// Hat function of node k on the element [r_a, r_b] (a = b - 1) at x.
double Hat(int k, int a, const double* r, double x) {
  const double h = r[a + 1] - r[a];
  if (k == a) return (r[a + 1] - x) / h;
  if (k == a + 1) return (x - r[a]) / h;
  return 0;
}
double HatSlope(int k, int a, const double* r) {
  const double h = r[a + 1] - r[a];
  return k == a ? -1 / h : k == a + 1 ? 1 / h : 0;
}
}  // namespace

double WeightedElementA(int i, int j, const double* r, int n, const double* e) {
  if (i < 1 || j < 1 || i > n || j > n || std::abs(i - j) > 1) return 0;
  auto term = [&](int a) {
    const double ra = r[a], rb = r[a + 1];
    return (e[a] * (2 * ra + rb) + e[a + 1] * (ra + 2 * rb)) / (6 * (rb - ra));
  };
  if (i != j) return -term(std::min(i, j));
  double sum = 0;
  if (i > 1) sum += term(i - 1);
  if (i < n) sum += term(i);
  return sum;
}

double WeightedElementB(int i, int j, const double* r, int n, const double* e, const double* q) {
  if (i < 1 || j < 1 || i > n || j > n || std::abs(i - j) > 1) return 0;
  // Three Gauss points integrate the degree-5 integrand exactly.
  static const double x3[3] = {-0.7745966692414834, 0.0, 0.7745966692414834};
  static const double w3[3] = {5.0 / 9, 8.0 / 9, 5.0 / 9};
  double sum = 0;
  for (int a = std::max(i, j) - 1; a <= std::min(i, j); ++a) {
    if (a < 1 || a >= n) continue;
    const double ra = r[a], rb = r[a + 1], half = 0.5 * (rb - ra), mid = 0.5 * (ra + rb);
    const double slope = HatSlope(i, a, r);
    for (int g = 0; g < 3; ++g) {
      const double x = mid + half * x3[g];
      const double pa = Hat(a, a, r, x), pb = Hat(a + 1, a, r, x);
      const double ex = e[a] * pa + e[a + 1] * pb;
      const double qx = q ? q[a] * pa + q[a + 1] * pb : 1.0;
      sum += w3[g] * half * x * x * ex * qx * slope * Hat(j, a, r, x);
    }
  }
  return sum;
}


namespace {
// Per element a the integrals of r^2 e q phi_a and r^2 e q phi_(a+1): each
// band entry is one of them times a slope, and the dynamic gradient
// re-assembles every step.
struct ElementMoments {
  std::vector<double> left, right, diffusion;
  const double* r = nullptr;
  int n = 0;
} gMoments;

void PrepareElementMoments(const double* r, int n) {
  const auto& e = F().e;
  const auto& q = F().q;
  gMoments.left.assign(n + 1, 0.0);
  gMoments.right.assign(n + 1, 0.0);
  gMoments.diffusion.assign(n + 1, 0.0);
  gMoments.r = r;
  gMoments.n = n;
  static const double x3[3] = {-0.7745966692414834, 0.0, 0.7745966692414834};
  static const double w3[3] = {5.0 / 9, 8.0 / 9, 5.0 / 9};
  for (int a = 1; a < n; ++a) {
    const double ra = r[a], rb = r[a + 1], half = 0.5 * (rb - ra), mid = 0.5 * (ra + rb);
    double L = 0, R = 0;
    for (int g = 0; g < 3; ++g) {
      const double x = mid + half * x3[g];
      const double pb = (x - ra) / (rb - ra), pa = 1 - pb;
      const double f = w3[g] * half * x * x * (e[a] * pa + e[a + 1] * pb) * (q[a] * pa + q[a + 1] * pb);
      L += f * pa;
      R += f * pb;
    }
    gMoments.left[a] = L;
    gMoments.right[a] = R;
    gMoments.diffusion[a] = (e[a] * (2 * ra + rb) + e[a + 1] * (ra + 2 * rb)) / (6 * (rb - ra));
  }
}
}  // namespace

namespace {
// The band entries from the element moments of the grid they were made for.
double MomentA(int i, int j) {
  const int n = gMoments.n;
  if (i < 1 || j < 1 || i > n || j > n || std::abs(i - j) > 1) return 0;
  const double* d = gMoments.diffusion.data();
  if (i != j) return -d[std::min(i, j)];
  return (i > 1 ? d[i - 1] : 0.0) + (i < n ? d[i] : 0.0);
}

double MomentB(int i, int j) {
  const int n = gMoments.n;
  if (i < 1 || j < 1 || i > n || j > n || std::abs(i - j) > 1) return 0;
  const double* r = gMoments.r;
  double sum = 0;
  for (int a = std::max(i, j) - 1; a <= std::min(i, j); ++a) {
    if (a < 1 || a >= n) continue;
    const double slope = (i == a ? -1 : 1) / (r[a + 1] - r[a]);
    sum += slope * (j == a ? gMoments.left[a] : gMoments.right[a]);
  }
  return sum;
}

bool MomentsFor(const double* r, int n) { return gMoments.r == r && gMoments.n == n; }
}  // namespace

double DensgradElementA(int i, int j, const double* r, int N) {
  const int n = Usable(N);
  return MomentsFor(r, n) ? MomentA(i, j) : WeightedElementA(i, j, r, n, F().e.data());
}

double DensgradElementB(int i, int j, const double* r, int N) {
  const int n = Usable(N);
  return MomentsFor(r, n) ? MomentB(i, j) : WeightedElementB(i, j, r, n, F().e.data(), F().q.data());
}

double DensgradEndTermD(const double* r, int k) {
  k = std::min(k, F().count);
  if (k < 2) return 0;
  return r[k] * F().e[k] / (r[k] - r[k - 1]);
}

double DensgradEndTermS(const double* r, int k) {
  k = std::min(k, F().count);
  if (k < 1) return 0;
  return F().e[k] * F().q[k] * r[k] * r[k];
}

// ------------------------------------------------------------ conversions

void ConvertSpeciesToStandard(const SolventGradientSettings& sg, double vbar, float* s, float* D, int n) {
  const double fs = StandardConditionsSFactor(sg, vbar);
  for (int i = 1; i <= n; ++i) {
    D[i] = D[i] > 0 ? static_cast<float>(D[i] * static_cast<double>(sg.ViscosityRatio)) : 0.0f;
    s[i] = static_cast<float>(s[i] * fs);
  }
}

void ConvertSpeciesToExperimental(const SolventGradientSettings& sg, double vbar, float* s, float* D, int n) {
  const double fs = StandardConditionsSFactor(sg, vbar);
  for (int i = 1; i <= n; ++i) {
    D[i] = D[i] > 0 ? static_cast<float>(D[i] / static_cast<double>(sg.ViscosityRatio)) : 0.0f;
    s[i] = static_cast<float>(s[i] / fs);
  }
}

// ------------------------------------------------------------ solver hooks

void ProvideSolventFitOptions(FitOptionEntries& entries) {
  const SolventGradientSettings& sg = CurrentSolventGradientSettings();
  if (!sg.UseInhomogeneousSolvent || !sg.FitVbar) return;
  FitOptionEntry& e = entries.entry[kFitOptionVbar];
  e.present = true;
  e.f = &gSolutionConditions.vbar;
  e.plainVbar = true;
  e.densityFactor = gSolutionConditions.density;
}

void ApplySolventGradientToSolver(CLammIdeal& L, double vbar) {
  const SolventGradientSettings& sg = CurrentSolventGradientSettings();
  if (!sg.UseInhomogeneousSolvent || !(sg.StaticGradient || sg.DynamicGradient)) return;
  const float v = static_cast<float>(vbar);
  L.SetReactionParameters(true, false, sg.StaticGradient, false, sg.Compressibility, sg.EffectiveVbar,
                          sg.ViscosityRatio, sg.BufferDensity1atm, v, v * sg.BufferDensity1atm,
                          kWaterDensity20C, kWaterViscosity20C, 1.0f, v, 0, 0, 0, 0);
}

void InstallSolventGradientHooks() {
  StaticGridSolventHooks& h = CurrentStaticGridSolventHooks();
  auto on = [] { return CurrentSolventGradientSettings().UseInhomogeneousSolvent; };
  h.useInhomogeneousSolvent = on;
  h.sedimentingCosolute = [on] { return on() && CurrentSolventGradientSettings().SedimentingCosolute; };
  h.dynamicGradient = [on] { return on() && CurrentSolventGradientSettings().DynamicGradient; };
  h.initLocalSDFactors = InitLocalSDFactors;
  h.updateLocalSDFactors = UpdateLocalSDFactors;
  auto grid = [] { return CurrentLammGrid().Radius; };
  auto count = [] { return CurrentLammGrid().AllocatedGridSize; };
  // The solver assembles right after the factors were made on its grid.
  h.densgradElementA = [grid, count](int i, int j) {
    return MomentsFor(grid(), count()) ? MomentA(i, j) : DensgradElementA(i, j, grid(), count());
  };
  h.densgradElementB = [grid, count](int i, int j) {
    return MomentsFor(grid(), count()) ? MomentB(i, j) : DensgradElementB(i, j, grid(), count());
  };
  h.densgradEndTermD = [grid, count] { return DensgradEndTermD(grid(), count()); };
  h.densgradEndTermS = [grid, count] { return DensgradEndTermS(grid(), count()); };
  h.initCosoluteGradient = [] { InitCosoluteGradient(); };
  h.setCosoluteTime = SetCosoluteTime;
  h.stepCosoluteGradient = StepCosoluteGradient;
}

// ------------------------------------------------------------ cosolute

namespace {
struct CosoluteMatrices {
  std::vector<double> mSub, mDiag, mSup, kSub, kDiag, kSup;
  std::vector<double> aSub, aDiag, aSup, rhs, gam;
};
CosoluteMatrices gCM;
std::string gLoadedS, gLoadedD;  // list files read for the present settings
bool gListProblemShown = false;

void StopRun(const std::string& message) {
  // Every evaluation of a fit would meet the problem again: one message
  // while the run is being stopped.
  if (!gListProblemShown || !platform::StopFlag()) ErrorBox(message.c_str(), false);
  gListProblemShown = true;
  platform::StopFlag() = true;
  CurrentLammRunState().running = 0;
}

// The s(c), D(c) lists, read once for a pair of paths.
bool LoadCosoluteLists() {
  const SolventGradientSettings& sg = CurrentSolventGradientSettings();
  CosoluteCoefficients& cc = CurrentCosoluteCoefficients();
  cc.csClAt25C = sg.CsClAt25C;
  if (sg.CsClAt25C) return true;
  if (cc.sLength() > 0 && cc.dLength() > 0 && gLoadedS == cc.sPath && gLoadedD == cc.dPath)
    return true;
  // The reader would report a missing file at every evaluation of a fit.
  for (const std::string& path : {cc.dPath, cc.sPath})
    if (!FileExists(path.c_str())) {
      StopRun("\nAttention: could not open " + path);
      return false;
    }
  ResetCosoluteGradient();
  if (cc.sLength() < 1 || cc.dLength() < 1) {
    StopRun("\nAttention: could not open " + (cc.dLength() < 1 ? cc.dPath : cc.sPath));
    return false;
  }
  gLoadedS = cc.sPath;
  gLoadedD = cc.dPath;
  return true;
}

// Node s_i, D_i at concentrations x; false (run stopped) when D <= 0.
bool NodeCoefficients(const std::vector<double>& x, std::vector<double>& s, std::vector<double>& D) {
  const SolventGradientSettings& sg = CurrentSolventGradientSettings();
  CosoluteState& cs = CurrentCosolute();
  const CosoluteCoefficients& cc = CurrentCosoluteCoefficients();
  for (int i = 1; i <= cs.n; ++i) {
    const double c = std::fmax(x[i], 0.0);
    if (!sg.NonidealCosolute) {
      s[i] = sg.CosoluteS;
      D[i] = sg.CosoluteD;
    } else if (sg.CsClAt25C) {
      s[i] = CsClSedimentationCoefficient25C(c);
      D[i] = CsClDiffusionCoefficient25C(c);
    } else {
      s[i] = EvalPolynomial(cc.s.data(), cc.sLength(), c);
      D[i] = EvalPolynomial(cc.D.data(), cc.dLength(), c);
    }
    if (!(D[i] > 0)) {
      StopRun("the cosolute's D(c) is not positive at c = " + std::to_string(c) + " M");
      return false;
    }
  }
  return true;
}

void AssembleCosolute(double rpm) {
  CosoluteState& cs = CurrentCosolute();
  const int n = cs.n;
  const double w = rpm * 2 * kPi / 60, w2 = w * w * 1e-13;
  const double* r = cs.r.data();
  for (int i = 1; i <= n; ++i) {
    double* mm[3] = {&gCM.mSub[i], &gCM.mDiag[i], &gCM.mSup[i]};
    double* kk[3] = {&gCM.kSub[i], &gCM.kDiag[i], &gCM.kSup[i]};
    for (int d = -1; d <= 1; ++d) {
      const int j = i + d;
      *mm[d + 1] = *kk[d + 1] = 0;
      if (j < 1 || j > n) continue;
      *mm[d + 1] = CalcElementIntegral2F(r, n, i, j, n);
      *kk[d + 1] = w2 * WeightedElementB(i, j, r, n, cs.s.data(), nullptr) -
                   WeightedElementA(i, j, r, n, cs.D.data());
    }
  }
}

// One Crank-Nicolson step from cOld into c; false on a zero pivot.
bool SolveCosolute(double dt) {
  CosoluteState& cs = CurrentCosolute();
  const int n = cs.n;
  const double h = 0.5 * dt;
  for (int i = 1; i <= n; ++i) {
    gCM.aSub[i] = gCM.mSub[i] - h * gCM.kSub[i];
    gCM.aDiag[i] = gCM.mDiag[i] - h * gCM.kDiag[i];
    gCM.aSup[i] = gCM.mSup[i] - h * gCM.kSup[i];
    double v = (gCM.mDiag[i] + h * gCM.kDiag[i]) * cs.cOld[i];
    if (i > 1) v += (gCM.mSub[i] + h * gCM.kSub[i]) * cs.cOld[i - 1];
    if (i < n) v += (gCM.mSup[i] + h * gCM.kSup[i]) * cs.cOld[i + 1];
    gCM.rhs[i] = v;
  }
  if (SolveTridiagonal(gCM.aSub.data(), gCM.aDiag.data(), gCM.aSup.data(), gCM.rhs.data(), cs.c.data(),
                       gCM.gam.data(), n))
    return true;
  // The solver's worker threads must not raise boxes: the flag reports it.
  cs.failed = true;
  LammSettings().singularMatrixError = 1;
  cs.c = cs.cOld;
  return false;
}
}  // namespace

CosoluteState& CurrentCosolute() {
  static CosoluteState state;
  return state;
}

void ResetSolventListNotes() {
  gListProblemShown = false;
  gLoadedS.clear();
  gLoadedD.clear();
}

bool InitCosoluteGradient() {
  const SolventGradientSettings& sg = CurrentSolventGradientSettings();
  CosoluteState& cs = CurrentCosolute();
  const int n = sg.CosoluteGridSize;
  if (n < 3) {
    StopRun("the cosolute grid needs at least 3 points");
    return false;
  }
  if (sg.NonidealCosolute && !LoadCosoluteLists()) return false;
  cs = CosoluteState{};
  cs.n = n;
  for (auto* v : {&cs.r, &cs.c, &cs.cOld, &cs.s, &cs.D}) v->assign(n + 1, 0.0);
  for (auto* v : {&gCM.mSub, &gCM.mDiag, &gCM.mSup, &gCM.kSub, &gCM.kDiag, &gCM.kSup, &gCM.aSub,
                  &gCM.aDiag, &gCM.aSup, &gCM.rhs, &gCM.gam})
    v->assign(n + 1, 0.0);
  const double m = gModelParams.meniscus, b = gModelParams.bottom, h = (b - m) / (n - 1);
  // Layered on top of the column in zone centrifugation, the lamella holds
  // no cosolute.
  const bool zone = gModelSelectorFlags.ZoneCentrifugationModel != 0;
  for (int i = 1; i <= n; ++i) {
    cs.r[i] = m + (i - 1) * h;
    const bool lamella = zone && cs.r[i] < m + gModelParams.zoneValue;
    cs.c[i] = cs.cOld[i] = lamella ? 0.0 : sg.CosoluteLoadingConcentration;
  }
  cs.rpm = CurrentLammRunState().rpm;
  if (!NodeCoefficients(cs.c, cs.s, cs.D)) return false;
  AssembleCosolute(cs.rpm);
  return true;
}

void SetCosoluteTime(double t) { CurrentCosolute().time = t; }

bool AdvanceCosolute(double dt, double rpm) {
  const SolventGradientSettings& sg = CurrentSolventGradientSettings();
  CosoluteState& cs = CurrentCosolute();
  if (cs.n < 3 || dt <= 0) return true;
  cs.cOld = cs.c;
  if (!sg.NonidealCosolute) {
    if (rpm != cs.rpm) AssembleCosolute(rpm);
    cs.rpm = rpm;
    return SolveCosolute(dt);
  }
  // Predictor with s, D at the old profile, corrector with their mean over
  // the old and the predicted profile.
  cs.rpm = rpm;
  if (!NodeCoefficients(cs.cOld, cs.s, cs.D)) return false;
  const std::vector<double> s0 = cs.s, D0 = cs.D;
  AssembleCosolute(rpm);
  if (!SolveCosolute(dt)) return false;
  if (!NodeCoefficients(cs.c, cs.s, cs.D)) return false;
  for (int i = 1; i <= cs.n; ++i) {
    cs.s[i] = 0.5 * (cs.s[i] + s0[i]);
    cs.D[i] = 0.5 * (cs.D[i] + D0[i]);
  }
  AssembleCosolute(rpm);
  return SolveCosolute(dt);
}

void StepCosoluteGradient() {
  const LammRunState& rs = CurrentLammRunState();
  CosoluteState& cs = CurrentCosolute();
  const double dt = rs.t - cs.time;
  AdvanceCosolute(dt, rs.rpm);
  cs.time = rs.t;
}

double CosoluteConcentrationAt(double x) {
  const CosoluteState& cs = CurrentCosolute();
  if (cs.n < 2) return CurrentSolventGradientSettings().CosoluteLoadingConcentration;
  if (x <= cs.r[1]) return cs.c[1];
  if (x >= cs.r[cs.n]) return cs.c[cs.n];
  const double h = cs.r[2] - cs.r[1];
  const int a = std::min(cs.n - 1, 1 + static_cast<int>((x - cs.r[1]) / h));
  const double t = (x - cs.r[a]) / (cs.r[a + 1] - cs.r[a]);
  return cs.c[a] + t * (cs.c[a + 1] - cs.c[a]);
}

void UpdateLocalSDFactors(const double* r, int N) {
  const CosoluteState& cs = CurrentCosolute();
  if (cs.n < 2) return;
  std::vector<double> c(N + 1, 0.0);
  for (int i = 1; i <= N; ++i) c[i] = CosoluteConcentrationAt(r[i]);
  UpdateLocalSDFactorsFrom(c.data(), N);
  PrepareElementMoments(r, N);
}
