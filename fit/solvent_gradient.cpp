#include "fit/solvent_gradient.h"

#include <algorithm>
#include <cmath>

#include "data/scan_set.h"
#include "fit/fit_vector.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/element_integrals.h"
#include "lamm/global/conc_dependent_coefficients.h"
#include "lamm/global/static_grid_lamm.h"
#include "lamm/lamm_grid_arrays.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_run_state.h"
#include "lamm/lamm_settings.h"
#include "lamm/solver_display.h"
#include "numerics/cvector.h"
#include "platform/error_box.h"
#include "platform/input_events.h"
#include "platform/paths.h"
#include "platform/program_paths.h"

namespace {
double FirstScanRpm() {
  const ScanSet& ss = CurrentScanSet();
  if (ss.count >= 1) return ss.records[ss.order[1]].rpm;
  return CurrentLammRunState().rpm;
}
}  // namespace

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
  return ViscosityAtConcentration(CurrentSolventGradientSettings(), c);
}

double DensityAtConcentration(double c) {
  return DensityAtConcentration(CurrentSolventGradientSettings(), c);
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
    if (sg.CosoluteGridSize > kMaxCosoluteGridPoints)
      return "the cosolute grid takes at most " + std::to_string(kMaxCosoluteGridPoints) + " points";
    if (!(sg.CosoluteLoadingConcentration >= 0))
      return "the cosolute loading concentration must not be negative";
    if (!sg.NonidealCosolute && !(sg.CosoluteD > 0)) return "the cosolute's D must be positive";
  }
  return {};
}

void InitLocalSDFactors(const double* r, int N) {
  LocalSolventFactors& f = CurrentLocalSolventFactors();
  f.eReference = f.qReference = 1;
  f.Init(CurrentSolventGradientSettings(), gSolutionConditions.vbar, r, N, gModelParams.meniscus,
         FirstScanRpm());
}

void InitLocalSDFactorsRelativeToBuffer(const double* r, int N) {
  const SolventGradientSettings& sg = CurrentSolventGradientSettings();
  LocalSolventFactors& f = CurrentLocalSolventFactors();
  f.eReference = MeanViscosityFactor(sg);
  f.qReference = MeanBuoyancyRatio(sg, gSolutionConditions.vbar);
  f.Init(sg, gSolutionConditions.vbar, r, N, gModelParams.meniscus, FirstScanRpm());
}

void UpdateLocalSDFactorsFrom(const double* cs, int N) {
  CurrentLocalSolventFactors().UpdateFrom(CurrentSolventGradientSettings(), gSolutionConditions.vbar,
                                          cs, N);
}

double LocalSolventDensityViscosity(double x) {
  const SolventGradientSettings& sg = CurrentSolventGradientSettings();
  if (!sg.StaticGradient && !sg.DynamicGradient) return x;
  return x * MeanBuoyancyRatio(sg, gSolutionConditions.vbar) * MeanViscosityFactor(sg);
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
}  // namespace

double DensgradElementA(int i, int j, const double* r, int N) {
  const int n = Usable(N);
  return F().MomentsFor(r, n) ? F().MomentA(i, j, n) : WeightedElementA(i, j, r, n, F().e.data());
}

double DensgradElementB(int i, int j, const double* r, int N) {
  const int n = Usable(N);
  return F().MomentsFor(r, n) ? F().MomentB(i, j, n)
                              : WeightedElementB(i, j, r, n, F().e.data(), F().q.data());
}

double DensgradEndTermD(const double* r, int k) { return F().EndTermD(r, k); }

double DensgradEndTermS(const double* r, int k) { return F().EndTermS(r, k); }

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
  SolventGradientSettings& sg = CurrentSolventGradientSettings();
  if (!sg.UseInhomogeneousSolvent || !sg.FitVbar) return;
  FitOptionEntry& e = entries.entry[kFitOptionVbar];
  e.present = true;
  if (sg.DynamicGradient) {
    // With a sedimenting cosolute the buoyancy comes from the apparent
    // (solvated) vbar: that is the one floated.
    e.f = &sg.EffectiveVbar;
    e.follower = &sg.VbarSolvated;
    return;
  }
  e.f = &gSolutionConditions.vbar;
  e.plainVbar = true;
  e.densityFactor = gSolutionConditions.density;
}

// ------------------------------------------------------------ cosolute lists

namespace {
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

std::string NotPositiveMessage(double c) {
  return "the cosolute's D(c) is not positive at c = " + std::to_string(c) + " M";
}

// The s(c), D(c) lists, read once for a pair of paths.
bool LoadCosoluteLists() {
  const SolventGradientSettings& sg = CurrentSolventGradientSettings();
  CosoluteCoefficients& cc = CurrentCosoluteCoefficients();
  if (!sg.NonidealCosolute || sg.CsClAt25C) return true;
  if (cc.sLength() > 0 && cc.dLength() > 0 && gLoadedS == cc.sPath && gLoadedD == cc.dPath)
    return true;
  if (gListProblemShown && platform::StopFlag()) {
    CurrentLammRunState().running = 0;
    return false;
  }
  cc.csClAt25C = false;
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

bool CosoluteUsed() {
  const SolventGradientSettings& sg = CurrentSolventGradientSettings();
  return sg.UseInhomogeneousSolvent && sg.DynamicGradient && sg.SedimentingCosolute;
}
}  // namespace

bool PrepareSolventForSolverObjects() { return !CosoluteUsed() || LoadCosoluteLists(); }

void ApplySolventGradientToSolver(CLammIdeal& L, double vbar) {
  const SolventGradientSettings& sg = CurrentSolventGradientSettings();
  if (!sg.UseInhomogeneousSolvent || !(sg.StaticGradient || sg.DynamicGradient)) return;
  const float v = static_cast<float>(vbar);
  L.SetReactionParameters({.inhomogeneous = true, .staticGradient = sg.StaticGradient,
                           .compressibility = sg.Compressibility, .gradientVbar = sg.EffectiveVbar,
                           .bufferViscosityRatio = sg.ViscosityRatio,
                           .bufferDensity = sg.BufferDensity1atm, .bufferVbar = v,
                           .reference = {kWaterDensity20C, kWaterViscosity20C, 1.0f, v}});
  const CosoluteCoefficients& cc = CurrentCosoluteCoefficients();
  // The rotor speed of the first scan compresses the solvent.
  L.SetSolventGradientParameters(sg, vbar, FirstScanRpm(), cc.s, cc.D);
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
  h.densgradElementA = [grid, count](int i, int j) { return DensgradElementA(i, j, grid(), count()); };
  h.densgradElementB = [grid, count](int i, int j) { return DensgradElementB(i, j, grid(), count()); };
  h.densgradEndTermD = [grid, count] { return DensgradEndTermD(grid(), count()); };
  h.densgradEndTermS = [grid, count] { return DensgradEndTermS(grid(), count()); };
  h.solventStiffness = [](double sw2, double D, int n, double* lo, double* di, double* up) {
    CurrentLocalSolventFactors().Stiffness(sw2, D, n, lo, di, up);
  };
  h.initCosoluteGradient = [] { InitCosoluteGradient(); };
  h.setCosoluteTime = SetCosoluteTime;
  h.stepCosoluteGradient = StepCosoluteGradient;
}

// ------------------------------------------------------------ cosolute

void ResetSolventListNotes() {
  gListProblemShown = false;
  gLoadedS.clear();
  gLoadedD.clear();
}

bool InitCosoluteGradient() {
  const SolventGradientSettings& sg = CurrentSolventGradientSettings();
  if (sg.CosoluteGridSize < 3) {
    StopRun("the cosolute grid needs at least 3 points");
    return false;
  }
  if (!LoadCosoluteLists()) return false;
  const bool zone = gModelSelectorFlags.ZoneCentrifugationModel != 0;
  const CosoluteCoefficients& cc = CurrentCosoluteCoefficients();
  CosoluteState& cs = CurrentCosolute();
  const auto status = cs.Init(sg, cc.s, cc.D, gModelParams.meniscus, gModelParams.bottom,
                              CurrentLammRunState().rpm, zone ? gModelParams.zoneValue : 0.0);
  if (status == CosoluteState::kDNotPositive) StopRun(NotPositiveMessage(cs.badConcentration));
  return status == CosoluteState::kOk;
}

void SetCosoluteTime(double t) { CurrentCosolute().time = t; }

bool AdvanceCosolute(double dt, double rpm) {
  CosoluteState& cs = CurrentCosolute();
  const auto status = cs.Advance(dt, rpm);
  // The solver's worker threads must not raise boxes: the flag reports it.
  if (status == CosoluteState::kSingular) LammSettings().singularMatrixError = 1;
  if (status == CosoluteState::kDNotPositive) StopRun(NotPositiveMessage(cs.badConcentration));
  return status == CosoluteState::kOk;
}

void StepCosoluteGradient() {
  const LammRunState& rs = CurrentLammRunState();
  CosoluteState& cs = CurrentCosolute();
  const double dt = rs.t - cs.time;
  // Inside the acceleration the cosolute feels the mean speed of the step.
  double rpm = rs.rpm;
  if (LammSettings().rampRotorSpeed && rs.accelerationEnd >= 10 && cs.time < rs.accelerationEnd)
    rpm = RotorSpeedDuringAcceleration(cs.time, dt);
  AdvanceCosolute(dt, rpm);
  cs.time = rs.t;
}

void ShowCosoluteAtScan(int j, bool draw) {
  const SolventGradientSettings& sg = CurrentSolventGradientSettings();
  const CosoluteState& cs = CurrentCosolute();
  if (!sg.UseInhomogeneousSolvent || !sg.SedimentingCosolute || cs.n < 1) return;
  const LammSolverDisplay& display = CurrentLammSolverDisplay();
  if (draw && sg.PlotCosoluteData && display.plotDoubles)
    display.plotDoubles(cs.r.data(), cs.c.data(), cs.n, kCosoluteColour);
  const ScanSet& ss = CurrentScanSet();
  if (!sg.SaveCosoluteData || j < 1 || j > ss.count || j >= static_cast<int>(ss.fileNames.size())) return;
  const platform::PathParts scan = platform::SplitPath(ss.fileNames[j]);
  WriteCosoluteScan(CosoluteFolder(platform::ProgramPaths.TempFolder) + scan.name + scan.extension, cs.r.data(),
                    cs.c.data(), cs.n, ss.records[j]);
}

double CosoluteConcentrationAt(double x) {
  const CosoluteState& cs = CurrentCosolute();
  if (cs.n < 2) return CurrentSolventGradientSettings().CosoluteLoadingConcentration;
  return cs.ConcentrationAt(x);
}

void UpdateLocalSDFactors(const double* r, int N) {
  // For the next species step: the cosolute halfway through it.
  CurrentLocalSolventFactors().UpdateFrom(CurrentSolventGradientSettings(), gSolutionConditions.vbar,
                                          CurrentCosolute(), r, r, N, 0.5 * CurrentLammRunState().dt);
}
