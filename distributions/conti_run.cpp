#include "distributions/conti_run.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "data/dls/dls_loading.h"
#include "data/load_hooks.h"
#include "data/scan_grid.h"
#include "data/scan_set.h"
#include "distributions/conti_context.h"
#include "distributions/conti_detection.h"
#include "distributions/conti_grid.h"
#include "distributions/conti_lamm_list.h"
#include "distributions/conti_model_family.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/distribution_loader.h"
#include "distributions/distribution_transforms.h"
#include "distributions/electrophoresis_kernels.h"
#include "distributions/hydrodynamics.h"
#include "distributions/max_entropy.h"
#include "distributions/ms_table.h"
#include "distributions/nnls.h"
#include "distributions/normal_equations.h"
#include "distributions/prior_assembly.h"
#include "distributions/regularization_scaling.h"
#include "distributions/work_blocks.h"
#include "fit/rmsd.h"
#include "fit/dls_kernels.h"
#include "fit/fit_engine_state.h"
#include "fit/model_evaluation.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/lamm_outcome.h"
#include "lamm/lamm_settings.h"
#include "numerics/constants.h"
#include "numerics/regrid.h"
#include "platform/sounds.h"
#include "platform/diagnostics.h"
#include "platform/fatal_error.h"
#include "platform/input_events.h"
#include "platform/user_interface.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

double Since(SteadyClock::time_point t0) {
  return std::chrono::duration<double>(SteadyClock::now() - t0).count();
}

const ModelSelectorFlags& F() { return gModelSelectorFlags; }

void Trace(const char* text) { platform::WriteDiagnostics(text); }

void Text(int y, const std::string& t) {
  DistributionPlotHost* h = GetDistributionPlotHost();
  if (h && ContiContext().drawingEnabled) h->DrawText(10, y, t);
}

bool Stopped() { return platform::StopFlag().load(); }

constexpr const char* kNoMemoryText = "not enough memory for the distribution's work arrays - nothing was computed";

// The progress line under "calculating normal equations", when the window
// has been painted and the line is switched on; true when shown.
bool ShowProgressLine(int penColour) {
  DistributionPlotHost* h = GetDistributionPlotHost();
  if (!h || !ContiContext().drawingEnabled || !Conti().progressLine) return false;
  if (!gFitEngineState.fitRunning) h->DrawText(10, 50, "calculating normal equations");
  h->ShowProgressLine(penColour, 10, 65);
  return true;
}

void EraseProgressLine() {
  if (DistributionPlotHost* h = GetDistributionPlotHost()) h->EraseProgressLine();
}

// The run's view of the records of the fit engine and the model.
void FillRunInputs() {
  ContiRunContext& c = ContiContext();
  UpdateContiShapeFromModel(ContiHooks().bufferCorrection && ContiHooks().bufferConcentrationFitted);
  c.dlsData = CurrentDataTypeFlags().dls != 0;
  LoadNeqInputsFromModel();
  NormalEquationInputs& in = NeqInputs();
  in.bufferSedimentation = ContiHooks().bufferCorrection;
  in.bufferConcentrationFitted = ContiHooks().bufferConcentrationFitted;
  const ContiSettings& cs = Conti();
  in.timeCourse = F().DlsIRhTimeCourseModel != 0;
  in.timeCourseFirst = std::max(1, static_cast<int>(cs.timeCourseFirstScan));
  in.timeCourseLast = std::max(in.timeCourseFirst, static_cast<int>(cs.timeCourseLastScan));
}

// A Run the user stopped says so; the fits and series that run it quietly
// have their own word for a stop.
void SayUserInterrupt() {
  const ContiSettings& cs = Conti();
  if (cs.silent || !cs.runCommand || gFitEngineState.fitRunning) return;
  platform::Tell("ERROR", "user interrupt", platform::BoxIcon::Information);
}

// Set when the Run under way was stopped by the user (or its time bound):
// whichever way it leaves, it leaves as a stopped Run.
bool gRunStopped = false;

// Interruption of the kernels: no result, the kernels go.
void InterruptedKernels() {
  ContiSettings& cs = Conti();
  CurrentScanSet().dataChanged = 1;
  gRunStopped = true;
  if (!cs.silent) {
    DistributionPlotHost* h = GetDistributionPlotHost();
    if (cs.runCommand && h) h->RequestRepaint();
    FreeDistributionWorkArrays(WorkBlock().gridPoints);
    FreeNormalEquationBlock();
  }
  platform::StopFlag() = false;
}

}  // namespace

bool DlsDataAsFieldAutocorrelation() {
  ForgetStopLeftByOthers();
  const ScanSet& sc = CurrentScanSet();
  if (sc.dlsRecords.size() < 2 || sc.dlsRecords[1].fieldFlag) return true;
  if (platform::UI().MessageBox("ERROR", "DLS data for this model must be field autocorrelation g(1) - transform?",
                                platform::BoxButtons::YesNo, platform::BoxIcon::Question) != platform::IDYES)
    return false;
  ToggleDlsFieldAutocorrelation();
  LoadHooks& h = CurrentLoadHooks();
  h.setPlotAxisTitles();
  h.invalidateWindow();
  return true;
}

namespace {

// The DLS kernels of grid point i with diffusion coefficient D (cm^2/s);
// false ends the run: a refused set leaves no distribution behind, an
// interrupt is handled as for the Lamm solutions.
bool DlsGridPointKernels(int i, double D) {
  ContiSettings& cs = Conti();
  if (!gFitEngineState.fitRunning) {
    char text[120];
    std::snprintf(text, sizeof text, "simulating for D = %.3e cm^2/sec (log10(rh/cm) = %1.3e)    ", D,
                  static_cast<double>(cs.sValues[i]));
    Text(30, text);
  }
  DlsKernelInputs& in = DlsKernels();
  in = DlsKernelInputs{};
  in.D = D;
  in.amplitude = 1.0;
  in.gridPoint = i;
  in.cube = WorkBlock().lammSolutions;
  in.ownLagTimes = cs.ownLagTimes != 0;
  in.firstSet = NeqInputs().timeCourseFirst;
  in.lastSet = NeqInputs().timeCourseLast;
  const bool filled = F().DlsIRhTimeCourseModel ? ComputeDlsKernels() : ComputeDlsKernelsFull();
  if (!filled) {
    platform::StopFlag() = false;
    CurrentScanSet().dataChanged = 1;
    FreeDistributionWorkArrays(WorkBlock().gridPoints);
    FreeNormalEquationBlock();
    return false;
  }
  if (Stopped()) {
    InterruptedKernels();
    return false;
  }
  return true;
}

struct Species {
  double s = 0, D = 0, M = 0;
};

// The species of "Nonideal c(s)" in their mean field, with the error marks
// of the ideal list; a refusal (negative code) has told its reason.
void RunNonidealSpeciesList(int n, const double* s, const double* D, const double* vbar) {
  LammSolverSettings& st = LammSettings();
  st.discretizationError = 0;
  st.singularMatrixError = 0;
  const int code = ContiHooks().nonidealList(n, s, D, vbar);
  st.listError = code;
  ReportListError(code);
  if (code == kLammDiscretization) st.discretizationError = 1;
  if (code == kLammSingularMatrix) st.singularMatrixError = 1;
}

// After the kernels of a grid point: an interrupt ends the run without a result.
bool GoOnAfterKernels() {
  if (!Stopped()) return true;
  InterruptedKernels();
  return false;
}

bool ElectrophoresisModel() { return F().ElectrophoresisCVModel || F().ElectrophoresisLsgModel; }

// The ls-g*(v) kernels of grid point i (velocity sp.s in um/s); false ends
// the run after an interrupt.
bool MigrationStepGridPointKernels(int i, const Species& sp) {
  ForgetStopLeftByOthers();
  ComputeMigrationStepKernel(i, sp.s);
  return GoOnAfterKernels();
}

// The c(v) kernels of grid points 1..n (velocities v, D in cm^2/s), on the
// threads of the species lists; false ends the run (no grid arrays, or an
// interrupt). Solver errors are collected in `error` for the one report
// after the grid.
bool MobilityKernels(CMobilityKernels& mobility, int n, const double* v, const double* D, int& error) {
  ForgetStopLeftByOthers();
  const auto progress = [&](int i) {
    if (gFitEngineState.fitRunning) return;
    char text[120];
    std::snprintf(text, sizeof text, "simulating for v = %.3f (D=%1.3e cm^2/sec)    ", v[i], D[i]);
    Text(30, text);
  };
  const int threads = Conti().multipleThreads ? LammListThreads() : 1;
  const int code = mobility.SolveList(n, v, threads, progress);
  if (code == kLammNoWorkMemory && !Stopped()) {
    // No grid arrays: as when the Lamm arrays cannot be allocated.
    FreeDistributionWorkArrays(WorkBlock().gridPoints);
    FreeNormalEquationBlock();
    return false;
  }
  error = code;
  return GoOnAfterKernels();
}

// The kernels of grid point i of equilibrium data: buoyant mass
// (1 - rho vbar) M, amplitude 1; false ends the run (interrupt, or no
// equilibrium model installed).
bool EquilibriumGridPointKernels(int i, const Species& sp, double vbar) {
  ContiRunHooks& hooks = ContiHooks();
  if (!hooks.equilibriumKernels) {
    platform::Tell("ERROR in simulation", "equilibrium model curves are not available for this model");
    FreeDistributionWorkArrays(WorkBlock().gridPoints);
    FreeNormalEquationBlock();
    return false;
  }
  if (!gFitEngineState.fitRunning) {
    char text[160];
    if (MassGridModel())
      std::snprintf(text, sizeof text, "solving Lamm equation for M = %.0f Da (D=%1.3e cm^2/sec, s=%.3fS), n=%d    ",
                    sp.M, sp.D, sp.s, LammSettings().gridSize.inUse);
    else
      std::snprintf(text, sizeof text,
                    "solving Lamm equation for s = %.3f S (D=%1.3e cm^2/sec, M=%.0f), n=%d    ", sp.s, sp.D, sp.M,
                    LammSettings().gridSize.inUse);
    Text(30, text);
  }
  hooks.equilibriumKernels(i, (1.0 - gSolutionConditions.density * vbar) * sp.M);
  return GoOnAfterKernels();
}

// s, D and M of grid point i (x its M-grid value, T in C) for the chosen
// model; false ends the run (its message has been shown).
bool GridSpecies(int i, float T, Species& sp) {
  ContiSettings& cs = Conti();
  SolutionConditions& sol = gSolutionConditions;
  const ModelSelectorFlags& f = F();
  const bool twoD = TwoDimensionalModel();
  // The 2-D points run past the s grid (N2 = N x n_f); they take their
  // values from the 2-D arrays only.
  const float x = twoD ? 0.0f : cs.molarMasses[i];
  float* sg = cs.sValues;
  float* mg = cs.molarMasses;
  float s = 0, M = 0, D = 0;
  // Point 1 as the discrete species of the model, with its entered s and M.
  auto enteredSpecies = [&] {
    s = sg[1] = cs.discreteS;
    M = mg[1] = cs.discreteM;
    D = SvedbergD(M, s, T);
  };
  // M and D of the grid point's s under the global f/f0.
  auto globalFf0 = [&] {
    M = mg[i] = CalculateM(s);
    D = DFromMGlobalFf0(M, T);
  };
  if (f.CMPriorVbarModel) {
    M = x;
    sol.vbar = VbarFromMass(x);
    sol.vbarRho = sol.vbar * sol.density;
    D = DFromMGlobalFf0(M, T);
    s = SFromMD(M, D, T);
  } else if (f.CMPowerLawModel) {
    M = x;
    s = SFromM(x);
    D = SvedbergD(M, s, T);
  } else if (f.CMInvariantDModel && !f.ElectrophoresisCVModel) {
    M = x;
    D = cs.ffValue * 1e-7f;
    s = static_cast<float>(1e13 * M * static_cast<double>(D) / ((T + 273.15) * 8.31451 * 1e7));
  } else if (f.ElectrophoresisCVModel) {
    s = sg[i];
    M = x;
    D = cs.constantD * 1e-7f;
  } else if (f.LsgStarModel || f.ZoneCentrifugationLsgModel || f.ElectrophoresisLsgModel) {
    s = sg[i];
    M = x;
    D = 0;
  } else if (f.HybridCSLsgModel) {
    if (i == 1 && cs.hybridDiscrete) {
      enteredSpecies();
    } else {
      s = sg[i];
      M = x;
      if (s <= cs.hybridThreshold) {
        globalFf0();
      } else {
        D = 0;
      }
    }
  } else if (f.LsgStarWith1DiscreteModel) {
    if (i == 1) {
      enteredSpecies();
    } else {
      s = sg[i];
      M = x;
      D = 0;
    }
  } else if (twoD) {
    if (i == 1 && f.CSff0With1DiscreteModel) {
      cs.grid2DS[1] = cs.discreteS;
      cs.grid2DM[1] = cs.discreteM;
      cs.grid2DFf[1] = Ff0FromMS(cs.discreteM, cs.discreteS, sol.vbar, sol.density, sol.viscosity);
    }
    s = cs.grid2DS[i];
    M = cs.grid2DM[i];
    D = M == 0.0f ? 0.0f : SvedbergD(M, s, T);
    cs.grid2DD[i] = D;
    // The Stokes radius of the point belongs to its diffusion coefficient.
    cs.grid2DStokes[i] = StokesRadiusFromD(D, T) * 1e9f;
    if (D == 0.0f) {
      char text[80];
      std::snprintf(text, sizeof text, "error: D = 0 encountered species #%d", i);
      platform::Tell("", text);
      return false;
    }
  } else if (f.CSModel) {
    s = sg[i];
    globalFf0();
  } else if (f.AnyBimodalCsModel()) {
    if (i == 1 && f.BimodalFF0With1DiscreteCSModel) {
      enteredSpecies();
    } else {
      s = sg[i];
      if (s < cs.secondFfSMin || s > cs.secondFfSMax) {
        globalFf0();
      } else {
        M = mg[i] = CalculateMff02(s, cs.secondFf);
        D = DFromMff0(M, T, cs.secondFf);
      }
    }
  } else if (f.FixFF0FloatingVbarCSModel) {
    s = sg[i];
    M = mg[i] = CalculateM(s);
    D = SvedbergD(M, s, T);
  } else if (f.GeneralScalingLawCSModel) {
    s = sg[i];
    M = mg[i] = MFromSPowerLaw(s);
    D = SvedbergD(M, s, T);
  } else if (f.FMScalingLawModel) {
    M = x;
    s = sg[i] = SFromMPowerLaw(x);
    D = cs.scalingZeroD ? 0.0f : SvedbergD(M, s, T);
  } else if (f.WormlikeChainCSModel) {
    s = sg[i];
    M = mg[i] = CalculateMofSforWormLikeChain(s);
    D = SvedbergD(M, s, T);
  } else if (f.ConformationalChangeCSModel) {
    s = sg[i];
    const bool inside = s >= cs.conformationSMin && s <= cs.conformationSMax;
    M = mg[i] = inside ? cs.conformationM : CalculateM(s);
    D = SvedbergD(M, s, T);
  } else if (f.NonidealCSModel) {
    // Point 1 is the discrete species once its s and M were entered (the
    // parameter box or a reloaded analysis); until then a grid point.
    if (i == 1 && gModelParams.parametersReloaded) {
      enteredSpecies();
    } else {
      s = sg[i];
      globalFf0();
    }
  } else if (f.CSWith1DiscreteModel || f.CSWith1DiscreteComponent || f.CSWithMsTableModel) {
    if (i == 1) {
      s = sg[1] = cs.discreteS;
      if (f.CSWith1DiscreteComponent || !f.CSWith1DiscreteModel) {
        M = cs.discreteM;
        D = SvedbergD(M, s, T);
      } else {
        D = cs.discreteD * 1e-7f;
        M = DFromSM(s, D, T);
      }
      mg[1] = M;
    } else {
      s = sg[i];
      M = mg[i] = CalculateM(s);
      if (f.CSWithMsTableModel) {
        M = mg[i] = static_cast<float>(InterpolateSMTable(s));
        D = SvedbergD(M, s, T);
      } else {
        D = DFromMGlobalFf0(M, T);
      }
    }
  } else if (f.CSInvariantDModel) {
    s = sg[i];
    D = cs.invariantD * 1e-7f;
    M = mg[i] = DFromSM(s, D, T);
  } else if (f.CSModel521) {
    s = sg[i];
    M = mg[i] = CalculateMofSforLinearRod(s, cs.ffValue);
    D = SvedbergD(M, s, T);
  } else {
    M = x;
    D = DFromMGlobalFf0(M, T);
    s = SFromMD(M, D, T);
  }
  if (!twoD) sg[i] = s;
  sp.s = s;
  sp.D = D;
  sp.M = M;
  return true;
}

// Species whose s the data could not show: the boundary of the fastest grid
// point must not have left the data in the earliest scan.
bool MaximumSCheckApplies() {
  const ContiSettings& cs = Conti();
  const ModelSelectorFlags& f = F();
  return !(f.LsgStarModel || f.LsgStarWith1DiscreteModel || f.HybridCSLsgModel ||
           f.ZoneCentrifugationLsgModel || f.ElectrophoresisLsgModel ||
           CurrentDataTypeFlags().dls || f.ElectrophoresisCVModel || CurrentScanSet().equilibriumMode ||
           cs.silent || cs.synthetic);
}

// The model of a synthetic data set: the stored distribution times the kernels.
void SyntheticModel() {
  ContiSettings& cs = Conti();
  ScanSet& sc = CurrentScanSet();
  NormalEquationBlock& b = NeqBlock();
  const int n = cs.gridSize;
  for (int i = 1; i <= n; ++i) {
    b.solution[i] = cs.distribution[i];
    cs.companionDistribution[i] = 0.0f;
    if (b.savedSolution) b.savedSolution[i] = 0.0;
  }
  std::vector<float> onGrid(static_cast<size_t>(sc.gridLength) + 1);
  for (int j = 1; j <= sc.count; ++j) {
    for (int r = 1; r <= sc.gridLength; ++r) {
      double v = 0.0;
      for (int k = 1; k <= n; ++k) v += cs.distribution[k] * WorkBlock().lammSolutions[k][j][r];
      onGrid[r] = static_cast<float>(v);
    }
    if (sc.model[j]) {
      for (int p = 1; p <= sc.points[j]; ++p) sc.model[j][p] = 0.0f;
      InterpolateOntoGrid(sc.points[j], sc.radii[j], sc.model[j], sc.gridLength, sc.grid,
                          onGrid.data());
    }
  }
  ConvertAmplitudesToDensity();
  FreeDistributionWorkArrays(WorkBlock().gridPoints);
  FreeNormalEquationBlock();
  RedrawDistributionPlot();
}

void Regularize() {
  ContiSettings& cs = Conti();
  const bool trace = !cs.silent || gFitEngineState.fitRunning || cs.monteCarloRun;
  if (trace) Trace("\nStarting Regularization");
  SolveWithChosenRegularization();
  if (trace) Trace(" --> DONE");
}

}  // namespace

void SolveWithChosenRegularization() {
  ContiSettings& cs = Conti();
  NormalEquationBlock& b = NeqBlock();
  if (TwoDimensionalModel()) {
    ScaleRegularization();
  } else if (cs.showBothRegularizations) {
    ScaleRegularization();
    if (b.savedSolution)
      for (int i = 1; i <= b.gridPoints; ++i) b.savedSolution[i] = b.solution[i];
    RegularizeDistribution();
  } else if (cs.maxEntropy) {
    RegularizeDistribution();
  } else {
    ScaleRegularization();
  }
}

ContiRunTimings& LastContiRunTimings() {
  static ContiRunTimings t;
  return t;
}

bool ContiNormalEquations(int penColour) {
  Trace("\n RunContiSed starting normal equations");
  ForgetStopLeftByOthers();
  const bool line = ShowProgressLine(penColour);
  FillRunInputs();
  const bool built = SelectAndBuildNormalEquations();
  if (line) EraseProgressLine();
  Trace("\n normal equations done");
  return built;
}

namespace {

// The end of a Run that was stopped, whichever step it was in: nothing it
// made is a result or is taken by the next Run, and the distribution shown
// before it is shown again.
void EndStoppedRun(const ShownDistribution& shownBefore) {
  ContiSettings& cs = Conti();
  DistArrays().kernelsWhole = false;
  CurrentScanSet().dataChanged = 1;
  if (cs.silent) return;
  FreeDistributionWorkArrays(WorkBlock().gridPoints);
  FreeNormalEquationBlock();
  shownBefore.PutBack();
  DistributionPlotHost* h = GetDistributionPlotHost();
  if (cs.runCommand && h) h->RequestRepaint();
  if (platform::StopDeadlinePassed() && cs.runCommand && !gFitEngineState.fitRunning)
    platform::Tell("ERROR", kRunTimeBoundText, platform::BoxIcon::Error);
  else
    SayUserInterrupt();
}

void RunContiSedSteps();

}  // namespace

void ShownDistribution::Copy(std::vector<float>& to, const float* from, int count) {
  to.clear();
  if (from && count > 0) to.assign(from + 1, from + count + 1);
}

void ShownDistribution::Back(const std::vector<float>& from, float* to) {
  if (to && !from.empty()) std::copy(from.begin(), from.end(), to + 1);
}

void ShownDistribution::Keep() {
  const ContiSettings& cs = Conti();
  const DistributionArrays& a = DistArrays();
  kept = false;
  if (!cs.sValues || !cs.distribution || cs.gridSize < 1 || cs.gridSize > a.allocatedN) return;
  n = cs.gridSize;
  Copy(s, cs.sValues, n);
  Copy(M, cs.molarMasses, n);
  Copy(c, cs.distribution, n);
  Copy(companion, cs.companionDistribution, n);
  n2 = cs.grid2DAmplitude && cs.grid2DSize <= a.allocated2D ? cs.grid2DSize : 0;
  nf = cs.ffValues && cs.ffCount <= a.allocatedFf ? cs.ffCount : 0;
  show2D = cs.show2D;
  Copy(amplitude2D, cs.grid2DAmplitude, n2);
  Copy(M2D, cs.grid2DM, n2);
  Copy(s2D, cs.grid2DS, n2);
  Copy(ff2D, cs.grid2DFf, n2);
  Copy(D2D, cs.grid2DD, n2);
  Copy(stokes2D, cs.grid2DStokes, n2);
  Copy(ff, cs.ffValues, nf);
  kept = true;
}

void ShownDistribution::PutBack() const {
  if (!kept) return;
  ContiSettings& cs = Conti();
  const DistributionArrays& a = DistArrays();
  const bool sameArrays = cs.sValues && cs.distribution && cs.gridSize == n && a.allocatedN == n &&
                          (n2 == 0 || (cs.grid2DAmplitude && cs.grid2DSize == n2 && a.allocated2D == n2)) &&
                          (nf == 0 || (cs.ffValues && a.allocatedFf == nf));
  if (!sameArrays) {
    FreeDistributionArrays();
    AllocDistributionArrays(n, n2, nf);
    if (n2 == 0) cs.grid2DSize = 0;
  }
  if (nf > 0) cs.ffCount = nf;
  Back(s, cs.sValues);
  Back(M, cs.molarMasses);
  Back(c, cs.distribution);
  Back(companion, cs.companionDistribution);
  Back(amplitude2D, cs.grid2DAmplitude);
  Back(M2D, cs.grid2DM);
  Back(s2D, cs.grid2DS);
  Back(ff2D, cs.grid2DFf);
  Back(D2D, cs.grid2DD);
  Back(stokes2D, cs.grid2DStokes);
  Back(ff, cs.ffValues);
  cs.show2D = show2D;
  if (!sameArrays) BuildDistributionPlot();
}

void RunContiSed() {
  ShownDistribution shownBefore;
  const ContiSettings& cs = Conti();
  if (!cs.silent && !cs.synthetic) shownBefore.Keep();
  gRunStopped = false;
  try {
    RunContiSedSteps();
  } catch (const platform::CommandFailure&) {
    // A routine failed on what the data gave it (its box has been shown):
    // the Run ends as a stopped one does, without a result and with the
    // distribution from before it, and the command ends.
    gRunStopped = false;
    Conti().lastRunFailed = 1;
    DistArrays().kernelsWhole = false;
    CurrentScanSet().dataChanged = 1;
    platform::StopFlag() = false;
    if (!cs.silent) {
      FreeDistributionWorkArrays(WorkBlock().gridPoints);
      FreeNormalEquationBlock();
      shownBefore.PutBack();
      if (DistributionPlotHost* h = GetDistributionPlotHost()) h->RequestRepaint();
    }
    throw;
  }
  if (gRunStopped) EndStoppedRun(shownBefore);
  gRunStopped = false;
}

namespace {

void RunContiSedSteps() {
  const auto t0 = SteadyClock::now();
  ContiRunTimings& timing = LastContiRunTimings();
  timing = ContiRunTimings{};
  ContiSettings& cs = Conti();
  ScanSet& sc = CurrentScanSet();
  LammSolverSettings& ls = LammSettings();
  const ModelSelectorFlags& f = F();
  const DataTypeFlags& df = CurrentDataTypeFlags();
  Trace("\nEntering RunContiSed");
  cs.msTablePlot = 0;
  // Every way out before the regularisation leaves no result.
  cs.lastRunFailed = 1;
  TakeNNLSTrialFailure();
  ls.discretizationError = 0;

  if (ls.timesFromW2t && f.NonidealCSModel) {
    platform::Tell("", "nonideal c(s) not implemented for wwt times (switch Lamm Eq settings and reload data)");
    return;
  }
  DistributionArrays& da = DistArrays();
  if (f.CSWithMsTableModel) {
    cs.msTablePlot = 1;
    if (da.plotRebuildPending) {
      MakeDistributionPlot();
      da.plotRebuildPending = false;
    }
  }
  if (df.dls && !DlsDataAsFieldAutocorrelation()) return;
  if (!ls.movingHatAlgorithm) {
    ls.movingHatAlgorithm = 1;
    ls.claverieAlgorithm = 0;
  }
  if (sc.count < 1) {
    platform::Tell("ERROR", "load data first", platform::BoxIcon::Error);
    return;
  }
  if (df.electrophoresis && !f.ElectrophoresisCVModel && !f.ElectrophoresisLsgModel) {
    platform::Tell("", "not implemented for electrophoresis data");
    return;
  }
  if (sc.equilibriumMode && (f.LsgStarModel || f.HybridCSLsgModel || f.LsgStarWith1DiscreteModel))
    platform::Tell("", "not implemented for sed eq data", platform::BoxIcon::Warning);
  // DLS sets keep their first and last log10 lag time there: a last lag
  // time of 1 s is a bottom of 0.
  if (!df.dls && (gModelParams.meniscus == 0.0f || gModelParams.bottom == 0.0f)) {
    platform::Tell("", "set Meniscus and Bottom first");
    return;
  }
  if (f.NonidealCSModel && !ContiHooks().nonidealList) {
    // Without its concentration-dependent species a grid of ideal ones would
    // be another model under its name.
    platform::Tell("ERROR",
                   "Nonideal c(s) cannot be computed yet: its concentration-dependent Lamm solutions "
                   "are not available");
    return;
  }
  LinearisedScansDuringRun detection;
  // A missing limit becomes the cell end, moved inside the data as every
  // other change of the limits is. The limits of DLS data are log10 lag
  // times, where 0 (1 s) is a limit like any other.
  if (sc.leftFitLimit == 0.0f && !df.dls) {
    sc.leftFitLimit = gModelParams.meniscus;
    CheckLeftFitLimit();
  }
  if (sc.rightFitLimit == 0.0f && !df.dls) {
    sc.rightFitLimit = gModelParams.bottom;
    CheckRightFitLimit();
  }
  if (PointsInsideTheFitLimits() == 0) {
    platform::Tell("ERROR", "no data points inside the fit limits", platform::BoxIcon::Error);
    return;
  }
  if (!cs.silent) UnpackModelParameters();
  if (ElectrophoresisModel() && !ElectrophoresisSettingsAccepted()) return;
  FillRunInputs();
  if (!gFitEngineState.fitRunning) Text(30, "allocating memory space...    ");

  double maxS = 0.0;
  if (!df.dls && !cs.synthetic && !f.ElectrophoresisCVModel && sc.grid && sc.lastGridPoint >= 1) {
    const ScanRecord& first = sc.records[sc.order[1]];
    const float w = static_cast<float>(RpmToOmega(first.rpm));
    const float w2 = w * w;
    const double w2t = first.w2t / w2 * w2;
    maxS = 1e13 * std::log(sc.grid[sc.lastGridPoint] / gModelParams.meniscus) / w2t;
  }

  const bool twoD = TwoDimensionalModel();
  // The mean field is chosen for the scans the run sees (the linearised
  // copy when the detection is corrected), also in each run of a fit.
  if (f.NonidealCSModel && !cs.synthetic && (!cs.silent || gFitEngineState.fitRunning) &&
      ContiHooks().checkMeanField)
    ContiHooks().checkMeanField();
  if (!cs.silent && !cs.synthetic) {
    if (!twoD) {
      if (!SetupContiGrid()) return;
    } else if (ContiFF0GridChanged()) {
      if (!SetupContiGrid()) return;
      cs.csffRecompute = 1;
    } else {
      AssemblePriorProbability();
      cs.csffRecompute = 0;
    }
  }
  if (cs.silent) cs.csffRecompute = 1;
  if (!WorkBlock().lammSolutions || !cs.molarMasses) {
    // A run inside a fit reuses the grid of the Run before it.
    platform::Tell("ERROR", "the distribution's grid is not set up - nothing was computed", platform::BoxIcon::Error);
    return;
  }
  {
    // A silent run keeps the arrays of the last set-up, but its scans may
    // have been regridded since (the linearised copy of a corrected
    // detection gets a grid of its own): kernel rows of the old length
    // would be overrun.
    const DistributionWorkBlock& wb = WorkBlock();
    const int rows = twoD ? cs.grid2DSize : cs.gridSize;
    if (wb.scans != sc.count || wb.gridLength != sc.gridLength || wb.gridPoints != rows) {
      if (!AllocDistributionWorkArrays(rows, sc.count, sc.gridLength) ||
          !AllocNormalEquationBlock(rows, sc.count, sc.gridLength)) {
        platform::Tell("ERROR", kNoMemoryText, platform::BoxIcon::Error);
        return;
      }
    }
  }

  const int n = twoD ? cs.grid2DSize : cs.gridSize;
  std::vector<double> sList(static_cast<size_t>(n) + 1), dList(sList.size()), vbarList(sList.size());
  da.transformedToR = da.transformedToS20 = false;
  const bool compute = !twoD || cs.csffRecompute;
  if (compute) {
    da.kernelsWhole = false;
    ForgetContiKernelInputs();
  }
  const auto tLamm = SteadyClock::now();
  // Equilibrium data have no Lamm solutions: each grid point's kernel is
  // the Boltzmann curve of its buoyant mass.
  const bool equilibrium = sc.equilibriumMode && !df.dls;
  if (compute) {
    if (equilibrium) ForgetStopLeftByOthers();
    const float T = df.dls ? gSolutionConditions.temperature - 273.15f : sc.records[sc.count].temperature;
    const bool checkMax = MaximumSCheckApplies();
    std::unique_ptr<CMobilityKernels> mobility;
    if (f.ElectrophoresisCVModel) mobility = std::make_unique<CMobilityKernels>(cs.constantD * 1e-7);
    int kernelError = 0;
    for (int i = 1; i <= n; ++i) {
      Species sp;
      if (df.dls) {
        sp.D = std::pow(10.0, static_cast<double>(cs.molarMasses[i]));
      } else if (!GridSpecies(i, T, sp)) {
        return;
      }
      if (checkMax && sp.s > maxS) {
        char text[400];
        std::snprintf(text, sizeof text,
                      "sedimentation coefficient #%d (%.3fS) is exceeding maximum observable s-values (%.3fS)\n"
                      "for given rotor speed, time of first scan, and outer data limit\n"
                      "load earlier scans or reduce maximal size of species",
                      i, sp.s, maxS);
        platform::Tell("", text);
        return;
      }
      sList[i] = sp.s;
      dList[i] = sp.D;
      vbarList[i] = f.CMPriorVbarModel ? VbarFromMass(cs.molarMasses[i]) : gSolutionConditions.vbar;
      if (df.dls && !DlsGridPointKernels(i, sp.D)) return;
      if (!mobility && f.ElectrophoresisLsgModel && !MigrationStepGridPointKernels(i, sp)) return;
      if (equilibrium && !EquilibriumGridPointKernels(i, sp, vbarList[i])) return;
      if (f.NonidealCSModel && !gFitEngineState.fitRunning) {
        // Its species are solved together afterwards: the grid is what can be shown.
        char text[160];
        std::snprintf(text, sizeof text, "solving Lamm equation for s = %.3f S (D=%1.3e cm^2/sec, M=%.0f), n=%d    ",
                      sp.s, sp.D, sp.M, ls.gridSize.inUse);
        Text(30, text);
      }
    }
    if (mobility && !MobilityKernels(*mobility, n, sList.data(), dList.data(), kernelError)) return;
    mobility.reset();
    ForgetStopLeftByOthers();
    if (ElectrophoresisModel()) {
      ls.discretizationError = kernelError == kLammDiscretization ? 1 : 0;
      ls.singularMatrixError = kernelError == kLammSingularMatrix ? 1 : 0;
    } else if (!df.dls && !equilibrium) {
      if (f.NonidealCSModel)
        RunNonidealSpeciesList(n, sList.data(), dList.data(), vbarList.data());
      else
        RunSVContiSedList(n, sList.data(), dList.data(), vbarList.data());
    }
    if (Stopped()) {
      InterruptedKernels();
      return;
    }
    // A lost or created loading has been told in its own words.
    if (ls.discretizationError && ls.listError != kLammAmountNotKept) {
      PlaySoundError();
      platform::Tell("ERROR in simulation", "discretization error", platform::BoxIcon::Error);
    }
    if (ls.singularMatrixError) {
      PlaySoundError();
      platform::Tell("ERROR in simulation", "singular tridiagonal matrix!", platform::BoxIcon::Error);
    }
    if (ls.listError != 0) {
      // Kernels of species that were refused or failed are empty or not
      // finite: a distribution fitted to them would look like a result.
      if (!cs.silent && !twoD) {
        FreeDistributionWorkArrays(WorkBlock().gridPoints);
        FreeNormalEquationBlock();
      }
      return;
    }
  }
  timing.lamm = Since(tLamm);
  Trace("\n RunContiSed loop and sims done");

  const auto tNeq = SteadyClock::now();
  if (compute) {
    if (!gFitEngineState.fitRunning) {
      Trace("\n RunContiSed normal equations output start");
      Text(50, "calculating normal equations (hit any key to interrupt)...");
      Trace("-end.");
    }
    if (cs.synthetic && !twoD) {
      SyntheticModel();
      CurrentModelEvaluationHooks().nonlinearInverse();
      return;
    }
    const bool built = ContiNormalEquations(1);
    if (f.NonidealCSModel && ContiHooks().refineMeanField) ContiHooks().refineMeanField();
    // Only kernels and normal equations computed whole are there for the
    // next Run of an unchanged c(s,f/f0) grid to take.
    da.kernelsWhole = built && !Stopped();
    // Only a Run's own inputs are known (a fit's runs move the parameters).
    if (da.kernelsWhole && twoD && !cs.silent) KeepContiKernelInputs();
  }
  timing.normalEquations = Since(tNeq);
  if (!gFitEngineState.fitRunning) Text(70, "calculating distribution, adjusting variance ratio  ");

  const auto tReg = SteadyClock::now();
  const bool line = ShowProgressLine(1);
  bool interrupted = Stopped();
  if (!interrupted) {
    Regularize();
    // The regularisation of a Run takes the user's key too.
    interrupted = Stopped();
  }
  if (!interrupted) {
    // A solve that could not go on inside a fit's trial rejects the trial.
    cs.lastRunFailed = TakeNNLSTrialFailure() ? 1 : 0;
    // A fixed buffer concentration stays what it was: its kernel is not
    // among the solved amplitudes.
    ContiRunHooks& hooks = ContiHooks();
    if (!cs.lastRunFailed && hooks.bufferCorrection && NeqBlock().solution && !NeqBlock().fixedComponent) {
      hooks.bufferConcentration = NeqBlock().solution[1];
      if (hooks.bufferConcentrationSolved) hooks.bufferConcentrationSolved(hooks.bufferConcentration);
    }
  } else {
    // A stop is what the user asked for: no error box, and the
    // distribution shown before stays (put back below).
    sc.dataChanged = 1;
    gRunStopped = true;
    PlaySoundOk();
    platform::StopFlag() = false;
  }
  timing.regularization = Since(tReg);
  Trace("\n RunContiSed cleanup start");
  if (line) EraseProgressLine();
  if (!interrupted) detection.HandOn();
  if (!cs.silent && !interrupted) ShowContiSolution();
  if (f.CSWithMsTableModel) FreeSMTable();
  ls.automaticAlgorithm = 1;
  ls.fixedTimeStep = 0;
  ls.movingHatAlgorithm = 0;
  ls.claverieAlgorithm = 1;
  if (f.NonidealCSModel && (gFitEngineState.fitTINoise || gModelParams.riNoiseFit) && ContiHooks().endNonidealRun)
    ContiHooks().endNonidealRun();
  Trace(" --> cleanup done.");
  timing.total = Since(t0);
}

}  // namespace

bool RunContiSedQuiet() {
  if (gFitEngineState.stopRequested) return false;
  ContiSettings& cs = Conti();
  cs.silent = 1;
  RunContiSed();
  cs.silent = 0;
  FillModelBaselineScanRange();
  CurrentModelEvaluationHooks().nonlinearInverse();
  RestoreScanChoice();
  const NormalEquationBlock& b = NeqBlock();
  if (b.solution && cs.distribution)
    for (int i = 1; i <= cs.gridSize; ++i) cs.distribution[i] = static_cast<float>(b.solution[i]);
  ConvertAmplitudesToDensity();
  return !gFitEngineState.stopRequested;
}
