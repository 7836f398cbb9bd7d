// The lifetime of a CLammIdeal and its run: the settings checked once (with the outcome each
// refusal ends in), the rotor, time step and grid set up, and the run
// dispatched to the solver path that fits the species.
#include "lamm/lamm_ideal.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "data/rotor_speed_profile.h"
#include "data/scan_set.h"
#include "lamm/amount_kept.h"
#include "lamm/lamm_no_diffusion.h"
#include "numerics/constants.h"
#include "numerics/regrid.h"
#include "platform/input_events.h"
#include "platform/program_paths.h"

// The destructor is the class's key function: the table of its virtual
// functions, which names every stage of a run, is emitted with it here, on
// top of the files that hold those stages.
CLammIdeal::CLammIdeal() { debug_ = LammDiagnosticsOutput(); }

CLammIdeal::~CLammIdeal() {
  FreeAllWorkMemory();
  delete[] ownMatrixBlock_;
  delete[] ownedIndexMap_;
}

// With a component table every node holds the weighted sum of the
// components' loading concentrations.
double CLammIdeal::LoadingConcentration() const {
  if (!(tableModel_ && componentCount_ > 0)) return c0_;
  double loading = 0;
  for (int k = 1; k <= componentCount_; ++k) loading += compConc_[k] * compWeight_[k];
  return loading;
}

void CLammIdeal::SetInitialConcentration() {
  const double loading = LoadingConcentration();
  if (zone_.on) {
    const double edge = r_[1] + zone_.lamellaWidth;
    for (int i = 1; i <= N_; ++i) {
      const bool loaded = zone_.inverse ? !(r_[i] < edge) : r_[i] <= edge;
      c_[i] = loaded ? loading : 0.0;
    }
    return;
  }
  if (initialProfile_ && initialCount_ >= 2 && !tableModel_) {
    InterpolateOntoGridMixed(N_, r_, c_, initialCount_, initialRadii_.data(),
                             initialValues_.data());
    return;
  }
  if (syntheticBoundary_) {
    for (int i = 1; i <= N_; ++i) c_[i] = SyntheticBoundaryLoading(0, r_[i]);
    return;
  }
  for (int i = 1; i <= N_; ++i) c_[i] = loading;
}

double CLammIdeal::SyntheticBoundaryLoading(int component, double r) const {
  const bool overlay = r < boundaryPosition_;
  auto part = [&](int k, double load) {
    const size_t at = static_cast<size_t>(k);
    return overlay && at < overlayFraction_.size() ? overlayFraction_[at] * load : load;
  };
  if (!(tableModel_ && componentCount_ > 0)) return part(1, c0_);
  if (component > 0) return part(component, compConc_[static_cast<size_t>(component)]);
  double c = 0;
  for (int k = 1; k <= componentCount_; ++k) c += compWeight_[static_cast<size_t>(k)] * part(k, compConc_[static_cast<size_t>(k)]);
  return c;
}

LammOutcome CLammIdeal::CheckAndRun() {
  if (debug_) DebugLog(nullptr);
  resumeFrom_.clear();  // a top kept by an earlier run of the object is not this run's

  if (specialGeometry_) {
    ShowRefusal("can't do special geometries in CLammIdeal");
    return kLammInvalidSettings;
  }
  if (!geometryValid_) {
    if (!rightLimitInside_ && meniscus_ > 0 && bottom_ > 0)
      ShowRefusal("meniscus or bottom parameters in conflict with fitting limits in CLammIdeal");
    else
      ShowRefusal("invalid geometry or s, D parameters loaded in CLammIdeal");
    if (detailCode_ == 1) ShowRefusal("meniscus or bottom <= 0 loaded in CLammIdeal");
    if (detailCode_ == 2) ShowRefusal("c0 < 0 loaded in CLammIdeal");
    if (detailCode_ == 3) ShowRefusal("diffcoeff < 0 loaded in CLammIdeal");
    return kLammInvalidSettings;
  }
  // A solvent given at its ends divides by its viscosity and buoyancy there.
  if (medium_.inhomogeneous && medium_.twoEnds &&
      !(medium_.endCoefficients[2] > 0 && medium_.endCoefficients[3] > 0 &&
        std::isfinite(SolventMeanScale()) && SolventMeanScale() != 0)) {
    ShowRefusal("the solvent at meniscus and bottom needs a positive viscosity and buoyancy");
    return kLammInvalidSettings;
  }
  // The scans drive the time loop: their times must be finite, non-negative
  // and in order, and without a schedule their rotor speeds must be positive.
  bool scansValid = outputValid_ && scans_.records && scans_.indexMap;
  if (scansValid) {
    double previous = -1;
    for (int k = 1; k <= scans_.scanCount && scansValid; ++k) {
      const int idx = scans_.indexMap[k];
      if (idx < 1) {
        scansValid = false;
        break;
      }
      const ScanRecord& rec = scans_.records[idx];
      const double tk = ScanTime(k);
      if (!std::isfinite(tk) || tk < 0 || tk < previous) scansValid = false;
      if (!schedule_ && !(rec.rpm > 0 && std::isfinite(rec.rpm))) scansValid = false;
      previous = tk;
    }
  }
  if (!scansValid) {
    ShowRefusal("invalid output parameters loaded in CLammIdeal");
    return kLammInvalidSettings;
  }
  // The scans stay as they are for the whole solve.
  struct SlowestRpmOfTheSolve {
    CLammIdeal& L;
    ~SlowestRpmOfTheSolve() { L.solveSlowestRpm_ = std::numeric_limits<double>::quiet_NaN(); }
  } slowest{*this};
  solveSlowestRpm_ = SlowestScanRpm();
  if (!modelSet_) {
    ShowRefusal("model not set properly in CLammIdeal");
    return kLammInvalidSettings;
  }
  if (!parametersValid_) {
    ShowRefusal("Lamm discretization parameters not loaded in CLammIdeal");
    return kLammInvalidSettings;
  }
  if (!nonIdealValid_) {
    ShowRefusal("non-ideality parameters not loaded properly in CLammIdeal");
    return kLammNonidealSetup;
  }
  if (concDependentSolver_ && (D_ == 0 || (positiveSOnly_ && !(s_ > 0)))) {
    ShowRefusal(positiveSOnly_ ? "D = 0 or s <= 0 models are not implemented yet for concentration "
                                 "dependent sedimentation models"
                               : "D = 0 or s = 0 models are not implemented yet for concentration "
                                 "dependent sedimentation models");
    return kLammNonidealSetup;
  }
  if (concDependentSolver_ && !ConcDependentSchemeValid(cdModel_.scheme)) {
    ShowRefusal("Lamm discretization parameters not loaded in CLammIdeal");
    return kLammInvalidSettings;
  }
  if (detection_.wienerConflict) {
    ShowRefusal("Wiener skewing correction incompatible with finite scan time resolution");
    return kLammNonidealOutOfRange;
  }
  {
    const ScanRecord& first = scans_.records[scans_.indexMap[1]];
    const double rate = first.acceleration;
    // A ramp in effect with no acceleration at all would leave the rotor at
    // rest for the whole ramp; it is refused like a too slow one.
    const bool rampInEffect = opt_.linearRamp && !schedule_ && first.accelerationTime >= 10.0;
    const bool tooSlow = rotor_.checkAcceleration && opt_.linearRamp && rate > 0.0001 && rate < 150;
    const bool none = rampInEffect && !(rate > 0.0001);
    if (tooSlow || none) {
      ShowRefusal("too slow rotor acceleration");
      platform::StopFlag() = true;
      return kLammSlowAcceleration;
    }
    if (schedule_) {
      for (int i = 1; i <= steps_; ++i) {
        const double prev = i > 1 ? stepRpm_[i - 1] : 0.0;
        const bool bad = !(stepRpm_[i] > 0) || !std::isfinite(stepEnd_[i]) ||
                         (stepRpm_[i] != prev && !(stepRate_[i] > 0));
        if (bad) {
          ShowRefusal("too slow rotor acceleration");
          platform::StopFlag() = true;
          return kLammSlowAcceleration;
        }
      }
    }
  }

  // In an inhomogeneous solvent s and D are held at 20 degC water: the run
  // takes them to the buffer, and a later run of the object starts again
  // from the water values.
  struct WaterValues {
    CLammIdeal& L;
    double s, D;
    ~WaterValues() { L.s_ = s, L.D_ = D; }
  } water{*this, s_, D_};
  if (medium_.inhomogeneous) {
    s_ *= SolventMeanScale();
    D_ *= SolventMeanViscosityFactor();
  }
  // The static-grid and moving-frame paths weigh the buffer's s and D by
  // the local factors; the other paths run with the buffer's mean.
  localSolvent_ =
      medium_.inhomogeneous &&
      (medium_.twoEnds || (solventGiven_ && (solvent_.StaticGradient || solvent_.DynamicGradient)));
  // Unusable cosolute settings are refused once, before the run.
  if (localSolvent_ && solvent_.SedimentingCosolute && !LammInitLoading()) return kLammInvalidSettings;

  InitRotorRamp();
  ChooseTimeStep();
  LimitAccelerationStep();
  SetupGrid();
  ShutOffNegligibleDiffusion();
  if (!allocated_) return kLammNoWorkMemory;
  SetInitialConcentration();

  errNonConvergence_ = errTridag_ = errConcDependent_ = errAmount_ = 0;
  noTransport_ = false;
  if (D_ == 0 && concDependentModel_) {
    ShowRefusal(
        "D = 0 or s = 0 models are not implemented yet for concentration dependent "
        "sedimentation models");
  } else if (D_ == 0 && s_ == 0) {
    noTransport_ = true;
    SolveWithoutTransport();
  } else if (D_ == 0) {
    SolveWithoutDiffusion();
  } else {
    Run();
    CheckAmountKept();
    ApplyDetectionCorrections();
    if (errNonConvergence_ || errTridag_ || errAmount_) {
      const bool savedTruncation = opt_.truncateDynamically;
      opt_.truncateDynamically = false;
      auto again = [&]() {
        errNonConvergence_ = errTridag_ = errAmount_ = 0;
        SetInitialConcentration();
        Run();
        CheckAmountKept();
        ApplyDetectionCorrections();
      };
      // The concentration-dependent paths keep their uniform grid: only the
      // last retry, with another node count, applies to them.
      if (!concDependentSolver_) {
        InitRotorRamp();
        LimitAccelerationStep();
        again();
      }
      if ((errNonConvergence_ || errTridag_ || errAmount_) && opt_.staticGrid && !concDependentSolver_) {
        opt_.staticGrid = false;
        opt_.movingFrame = true;
        InitRotorRamp();
        LimitAccelerationStep();
        // Without an adaptive grid size no candidate was made: the grid
        // keeps its size rather than falling to the smallest allowed.
        int n = movingCandidate_ > 0 ? static_cast<int>(std::floor(movingCandidate_)) : N_;
        n = std::clamp(n, opt_.minNodes, opt_.maxNodes);
        if (ResizeWorkMemory(n)) again();
        opt_.staticGrid = true;
        opt_.movingFrame = false;
        opt_.fixedTimeStep = false;
      }
      if (errNonConvergence_ || errTridag_ || errAmount_) {
        retry_ = true;
        opt_.staticGrid = true;
        opt_.movingFrame = false;
        opt_.fixedTimeStep = false;
        InitRotorRamp();
        LimitAccelerationStep();
        // The candidate is clamped in both cases: without an adaptive grid
        // size it was never computed and would leave a grid of no nodes.
        const int n = std::clamp(
            staticCandidate_ > 0 ? static_cast<int>(std::floor(staticCandidate_)) : N_, opt_.minNodes,
            opt_.maxNodes);
        if (opt_.optimiseGrid && IsGradientTooSteep(s_, D_) && !zone_.on) {
          FreeWorkMemory();
          N_ = n;
          AllocWorkMemory();
          SetupGradedGrid(refineRadius_);
        } else {
          ResizeWorkMemory(n);
        }
        if (allocated_) again();
        retry_ = false;
      }
      opt_.truncateDynamically = savedTruncation;
    }
    // On per-scan radii the result is added to what the caller's arrays hold.
    if (perScanMode_ && ownMatrixBlock_) {
      for (int k = 1; k <= scans_.scanCount; ++k) {
        const int scan = scans_.indexMap[k];
        float* row = ownMatrixBlock_ + static_cast<size_t>(scan - 1) * ownCols_ - 1;
        float* out = scans_.output[scan];
        if (!out) continue;
        for (int j = 1; j <= scans_.perScanCounts[scan]; ++j) out[j] += perScanFactor_ * row[j];
      }
    }
  }
  FinishTimedProfiles();
  if (errNonConvergence_) return kLammDiscretization;
  if (errTridag_) return kLammSingularMatrix;
  if (errAmount_) {
    RecordAmountNotKept(amountNotKept_);
    return kLammAmountNotKept;
  }
  if (errConcDependent_) return kLammNonidealOutOfRange;
  return kLammSolved;
}

// From a loading of one sign no part of the cell turns negative: the open
// bottom of the back-diffusion shut-off may take all of the loading, the
// undershoots of a pelleted species a hundredth more, and a run that ends
// with more than twice its loading or clearly less than nothing (a
// diffusion so large that the time step's mass term vanishes beside it)
// was not computed. A species that diffuses faster than any solute (from
// a partial-specific volume, frictional ratio or molar mass no sample has)
// is flat at once in the closed cell; its solutions came out 40 % off
// either way and were taken for one: it keeps its amount as the fits'
// solvers do, or fails.
void CLammIdeal::CheckAmountKept() {
  if (errNonConvergence_ || errTridag_ || concDependentSolver_ || zone_.on || initialProfile_ || tableModel_ ||
      localSolvent_ || !allocated_ || !(c0_ > 0))
    return;
  constexpr double kOpenBottomTolerance = 1.01, kClosedTolerance = 1e-3;
  const double loaded = c0_ * (bottom_ * bottom_ - meniscus_ * meniscus_) / 2 * kSectorFactor;
  const double kept = opt_.movingFrame && !opt_.staticGrid ? MovingFrameTotalAmount() : CellContent();
  const double tolerance = D_ > kFastestSolute && !shutOff_ ? kClosedTolerance : kOpenBottomTolerance;
  if (!AmountKeptWithin(loaded, kept, tolerance)) {
    errAmount_ = 1;
    amountNotKept_ = AmountNotKept{loaded, kept, s_, D_};
  }
}

void CLammIdeal::Run() {
  iteration_ = 1;
  t_ = startTime_;
  outIndex_ = 1;
  nextScanTime_ = ScanTime(1);
  ChooseScanSegments();
  abortRequest_ = false;
  dt_ = initialDt_;
  opt_.stepTolerance = opt_.stepBase;
  opt_.stepLowerTolerance = 0.05 * opt_.stepBase;
  opt_.stepTarget = 0.2 * opt_.stepBase;
  // The first scan time is an event: the path ends a step exactly on it.
  pendingEvent_ = true;
  pendingTime_ = nextScanTime_;
  running_ = true;
  endCondition_ = false;
  if (timed_.on) {
    timed_.next = 1;
    timed_.nextTime = timed_.times[1];
  }
  // A run that starts later than t = 0 starts in the rotor state of its time.
  if (schedule_) UpdateSpeedStep(t_);
  else if (accelerating_ && t_ >= rotor_.accelDuration) accelerating_ = false;
  if (concDependentSolver_) {
    SolveConcDependent();
  } else if (opt_.staticGrid) {
    SolveStaticGrid();
  } else if (opt_.movingFrame) {
    SolveMovingFrame();
    UpdateMovingGridRadii();
  }
  if (endCondition_ && !collapseFlag_ && !abortFlag_) FillRemainingScansWithFinalProfile();
  if (abortRequest_) platform::StopFlag() = true;
}

// A scan's own radii are written into the solver's block first and added to
// the caller's array from there.
void CLammIdeal::FinishScanRow(float* row, const float* radii, int n, int scan) {
  CorrectScan(row, radii, n, scan);
  if (perScanMode_ && scans_.output[scan])
    for (int j = 1; j <= n; ++j) scans_.output[scan][j] += perScanFactor_ * row[j];
}

void CLammIdeal::SolveWithoutTransport() {
  // Neither sedimentation nor diffusion: every scan shows the loading.
  ForEachOutputRow([&](int, int scan, float* row, const float* radii, int n) {
    if (perScanMode_) std::fill(row + 1, row + 1 + n, 0.0f);
    InterpolateOntoGridD(n, radii, row, N_, r_, c_);
    FinishScanRow(row, radii, n, scan);
  });
}

void CLammIdeal::SolveWithoutDiffusion() {
  ForEachOutputRow([&](int k, int scan, float* row, const float* radii, int n) {
    const ScanRecord& rec = scans_.records[scan];
    CLLammNoDiffvec(*this, static_cast<float>(c0_), ScanTime(k), rec.rpm, rec.w2t, radii, row,
                    n);
    FinishScanRow(row, radii, n, scan);
  });
}
