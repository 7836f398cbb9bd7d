// Static-grid path of CLammIdeal: linear finite elements on fixed nodes
// advanced by Crank-Nicolson with adaptive steps (the step in
// lamm_static_step.cpp, its checks in lamm_static_checks.cpp): the time
// loop of a step, its retries and its next length, and the run.
#include <algorithm>
#include <cmath>

#include "lamm/lamm_ideal.h"
#include "lamm/quiet_steps.h"
#include "lamm/static_grid_kernels.h"

double CLammIdeal::TimeLoopStaticGrid() {
  double prevDt = 1.0;
  if (opt_.fixedTimeStep) dt_ = opt_.stepTolerance;
  const int from = start_ < 4 ? 1 : start_ - 2;
  std::copy(c_ + from, c_ + end_ + 1, cPrev_ + from);
  bool hit = false;
  dt_ = LimitTimeStep(true, hit);
  // The event stays pending until a step accepted on it, so that retries
  // with smaller steps still end on it afterwards.
  if (EvenStepsToEvents()) dt_ = EvenStepToEvent(dt_);
  else if (pendingEvent_ && pendingTime_ < t_ + dt_) dt_ = pendingTime_ - t_;
  if (dt_ <= 0) {
    dt_ = 1.0;
    return 1.0;
  }
  AdvanceStaticGrid(dt_);
  if (abortFlag_) return 0;
  if (!AllWithinRange(c_, 1, N_)) {
    collapseFlag_ = true;
    return 0;
  }
  const bool layered = zone_.on || initialProfile_;
  if (layered && t_ < 10) {
    // Nearly empty is a share of the loading.
    const double least = 1e-10 * (initialProfile_ ? 1.0 : std::fabs(LoadingConcentration()));
    for (int i = 2; i <= N_ - 1; ++i) {
      if (c_[i] < least) {
        c_[i - 1] += 0.5 * c_[i] * r_[i] / r_[i - 1];
        c_[i + 1] += 0.5 * c_[i] * r_[i] / r_[i + 1];
        c_[i] = 0;
      }
    }
  }
  if (schedule_) {
    if (c_[1] < 0) {
      c_[2] += c_[1] * r_[1] / r_[2];
      c_[1] = 0;
    }
    for (int i = 2; i <= N_ - 1; ++i) {
      if (c_[i] < 0 && c_[i - 1] > 0 && c_[i + 1] > 0) {
        c_[i - 1] += 0.5 * c_[i] * r_[i] / r_[i - 1];
        c_[i + 1] += 0.5 * c_[i] * r_[i] / r_[i + 1];
        c_[i] = 0;
      }
    }
  }
  if (pendingEvent_ && pendingTime_ == t_ + dt_ && stepCount_ != 0) {
    StepStaticGrid();
    return 1.0;
  }
  if (stepCount_ != 0 || (c_[1] <= 0 && !layered)) {
    if (opt_.fixedTimeStep) {
      StepStaticGrid();
      return 1.0;
    }
    // A sedimenting species' steps on the layered grid follow its boundary
    // and depletion layer (EvenStepToEvent); the change at single nodes
    // would cut them for the boundary's leading edge, whose values are
    // tiny, at no gain (the 200-species list took 1.6 times the steps).
    // The first seconds keep the test for values below zero at the meniscus.
    // The change still tells a steady profile, and a solution that is no
    // longer finite still takes the shorter steps.
    double change = StepChangeAtBottom();
    if (EvenStepsToEvents() && StepsByBoundaryAlone() && t_ >= 10 && change < 1e300) {
      StepStaticGrid();
      dt_ = EvenStepToEvent(std::min(10 * dt_, dtMax_));
      bool reached = hit;
      dt_ = LimitTimeStep(false, reached);
      startChanged_ = false;
      return change;
    }
    while (change > opt_.stepTolerance) {
      if (retryCounter_ > 10) {
        collapseFlag_ = true;
        break;
      }
      if (abortFlag_) break;
      double x = change == 0 ? 0 : (opt_.stepTarget / change) * dt_;
      const double y = dt_ / opt_.stepFactor;
      prevDt = dt_;
      double dt = (x - y) * opt_.blend + y;
      if (dt >= 0.8 * prevDt && dt <= 1.2 * prevDt) dt /= 2;
      dt = std::min(dt, 10 * prevDt);
      dt = std::min(dt, dtMax_);
      if (dt < 1e-15) {
        dt = 1e-15;
        ++retryCounter_;
      }
      dt = std::max(dt, 0.1 * prevDt);
      dt_ = dt;
      dt_ = LimitTimeStep(true, hit);
      std::copy(cPrev_ + from, cPrev_ + end_ + 1, c_ + from);
      AdvanceStaticGrid(dt_);
      if (abortFlag_) break;
      change = StepChangeAtBottom();
    }
    if (collapseFlag_ || abortFlag_) {
      std::copy(cPrev_ + from, cPrev_ + end_ + 1, c_ + from);
      return change;
    }
    retryCounter_ = 1;
    StepStaticGrid();
    prevDt = dt_;
    double dt = dt_;
    if (change == 0) {
      dt = dt_ * 10;
    } else if (change < opt_.stepLowerTolerance) {
      const double x = (opt_.stepTarget / change) * dt_;
      const double y = dt_ * opt_.stepFactor;
      dt = (x - y) * opt_.blend + y;
      if (dt >= 0.9 * prevDt && dt <= 1.1 * prevDt) dt *= 2;
    }
    dt = std::min(dt, 10 * prevDt);
    dt = std::min(dt, dtMax_);
    dt = std::max(dt, 1e-15);
    dt = std::max(dt, 0.1 * prevDt);
    dt_ = dt;
    if (EvenStepsToEvents()) dt_ = EvenStepToEvent(dt_);
    else if (pendingEvent_ && pendingTime_ < t_ + dt_) dt_ = pendingTime_ - t_;
    bool hit2 = hit;
    dt_ = LimitTimeStep(false, hit2);
    startChanged_ = false;
    return change;
  }
  StepStaticGrid();
  return dt_;
}

// A run whose steps and scans depend on nothing but the profile, the step
// and the scan times: no speed that changes, no solvent that follows the
// run, no layers, pieces of scans, timed profiles or corrections of the
// written scans (the retry keeps the scans written before its top).
bool CLammIdeal::ResumableStaticRun() const {
  const bool corrected = detection_.magnification || detection_.shadow || detection_.convolution ||
                         detection_.drift || detection_.wiener;
  return opt_.staticGrid && !concDependentSolver_ && !accelerating_ && !schedule_ && !speedChanging_ &&
         !localSolvent_ && !zone_.on && !initialProfile_ && !FiniteScan() && !timed_.on && !corrected &&
         !retry_ && !shutOff_;
}

// The retry without trimming from the top kept by the failed trimming run:
// its state there, and the factors of the kept step formed again from the
// same matrices, so that its steps go on as they went.
void CLammIdeal::ResumeStaticRun(const std::vector<double>& from, int& collapse, CQuietSteps& quiet) {
  const StaticLoopTop& top = resumeTop_;
  std::copy(from.begin(), from.end(), c_ + 1);
  t_ = top.t;
  dt_ = top.dt;
  evenDt_ = top.evenDt;
  sw2Integral_ = top.sw2Integral;
  nextScanTime_ = top.nextScanTime;
  pendingTime_ = top.pendingTime;
  pendingEvent_ = top.pendingEvent;
  cellContent_ = top.cellContent;
  stepCount_ = top.stepCount;
  retryCounter_ = top.retryCounter;
  outIndex_ = top.outIndex;
  collapse = top.collapse;
  quiet = top.quiet;
  cachedDt_ = top.cachedDt;
  if (cachedDt_ != 0) {
    // The substitution's values go to cPrev_, which each step fills anew.
    BuildStepMatrices(cachedDt_, end_);
    if (!TridagActive(Alo_, Adi_, Aup_, rhs_, cPrev_, end_)) cachedDt_ = 0;
    if (top.bottomFactors && !bottomFactorsFailed_) PairFactors(end_);
  }
  matricesChanged_ = top.matricesChanged;
  rebuilt_ = top.rebuilt;
}

void CLammIdeal::SolveStaticGrid() {
  // A top kept by the failed run before this one serves this run alone.
  std::vector<double> resumeFrom;
  resumeFrom.swap(resumeFrom_);
  if (!allocated_) return;
  double change = 1.0;
  cachedDt_ = 0;
  abortFlag_ = collapseFlag_ = pivotFailed_ = false;
  retryCounter_ = 0;
  stepCount_ = 0;
  evenDt_ = 0;
  sw2Integral_ = 0;
  start_ = 1;
  end_ = N_;
  lastStart_ = 1;
  speedChanging_ = accelerating_ || schedule_;
  shutOff_ = steep_;
  autoShutOff_ = opt_.backDiffusionCheck;
  matrixExtent_ = builtExtent_ = 0;
  rotor_.rpm = (accelerating_ || schedule_) ? RotorOmegaInStep(t_, 1.0) : rotor_.finalRpm;

  bool anyLoaded = false;
  for (int i = 1; i <= N_; ++i)
    if (c_[i] > 0) anyLoaded = true;
  if (!anyLoaded) {
    dt_ = 10;
    while (running_) {
      t_ += dt_;
      EachIterationOutput(change);
    }
    fullGrid_ = false;
    return;
  }

  cPlateau0_ = c_[1];
  const bool cosolute = localSolvent_ && solvent_.SedimentingCosolute;
  if (localSolvent_) InitLocalSolventFactors(r_);
  if (cosolute && !LammInitLoading()) return;
  BuildStaticMatrices(N_);
  maxStart_ = static_cast<int>(std::floor(0.95 * N_));
  const bool layered = zone_.on || initialProfile_;
  const double factor = opt_.truncationLevel;
  // Over a sedimenting cosolute the depleted region may fill again (the
  // solvent there changes as the cosolute leaves): no trimmed start, whose
  // check for a front that is no longer depleted would end the run late and
  // have it made again.
  const bool refill = localSolvent_ && solvent_.DynamicGradient && solvent_.SedimentingCosolute;
  if (!opt_.truncateDynamically || s_ <= 0 || layered || refill) {
    if (c_[1] > 0) {
      cThr_ = factor * c_[1];
    } else {
      double mean = 0;
      for (int i = 1; i <= N_; ++i) mean += c_[i];
      cThr_ = factor * mean / N_;
    }
    tracking_ = startTrimming_ = endLimitation_ = false;
    start_ = 1;
    end_ = N_;
  } else {
    tracking_ = true;
    cThr_ = factor * c_[1];
    start_ = 1;
    cPlateau_ = cPlateau0_;
    tPlateau_ = 0;
    extensionStep_ = std::max(1, static_cast<int>(std::floor(0.1 * N_)));
    startTrimming_ = true;
    endLimitation_ = false;
    end_ = N_;
    if (shutOff_ && !schedule_ && N_ > 20 && !localSolvent_) {
      endLimitation_ = true;
      end_ = std::max(extensionStep_, 12);
      MoveActiveEndRows(end_);
    }
  }
  widthMax_ = widthMin_ = end_ - start_;

  if (maxTimeGiven_) {
    dtMax_ = maxTimeValue_;
  } else if (s_ == 0) {
    dtMax_ = 1000;
  } else {
    dtMax_ = 0.5 * rotor_.finalRpm * rotor_.finalRpm * D_ / std::fabs(s_);
    if (dtMax_ > 1000) dtMax_ = 1000;
    if (dtMax_ < 10) dtMax_ = 10;
  }
  FindBoundaryNode();
  if (layered) dt_ = 0.1;
  // Such a species is left to the retry on the moving frame; the last
  // retry, back on the static grid, runs it all the same.
  if (!layered && !retry_ && !schedule_ && DepletionLayerBeyondTheGrid()) {
    collapseFlag_ = true;
    fullGrid_ = false;
    errNonConvergence_ = 1;
    return;
  }

  int collapse = 0;
  CQuietSteps quiet;
  // A trimming run keeps its state at the top of each step until the start
  // first moves; when it fails, the retry without trimming goes on from
  // there instead of computing the same steps again.
  resumable_ = tracking_ && !endLimitation_ && ResumableStaticRun();
  if (!tracking_ && resumeFrom.size() == static_cast<size_t>(N_) && ResumableStaticRun())
    ResumeStaticRun(resumeFrom, collapse, quiet);
  const double lastScanTime = ScanTime(scans_.scanCount);
  while (running_ && !abortFlag_ && !collapseFlag_) {
    const double stepDt = dt_ == 0 ? 1.0 : dt_;
    const double stepStart = t_;
    const bool untrimmed = resumable_ && start_ == 1;
    if (untrimmed)
      loopTop_ = {t_,          dt_,         evenDt_,       sw2Integral_, cachedDt_,
                  nextScanTime_, pendingTime_, cellContent_,  stepCount_,   retryCounter_,
                  outIndex_,   collapse,    pendingEvent_, bottomFactors_, matricesChanged_,
                  rebuilt_,    quiet};
    change = static_cast<float>(TimeLoopStaticGrid());
    if (tracking_) {
      AdvanceDepletedStart();
      ExtendActiveEnd(t_);
    }
    // Before this step's trimming the profile of the top is in cPrev_.
    if (untrimmed && start_ != 1) {
      resumable_ = false;
      resumeFrom_.assign(cPrev_ + 1, cPrev_ + N_ + 1);
      resumeTop_ = loopTop_;
    }
    if (cosolute && !abortFlag_ && !collapseFlag_) {
      LammTimeStep(stepStart);
      if (errTridag_ || errConcDependent_) break;
      if (solvent_.DynamicGradient) {
        UpdateLocalSolventFactors(r_, r_);
        // Over the whole grid only the stiffness follows the solvent.
        if (end_ == N_ && matrixExtent_ == N_ && !shutOff_ && !speedChanging_) {
          factors_.Stiffness(w2s_, D_, N_, Klo_, Kdi_, Kup_);
          rebuilt_ = true;
        } else {
          BuildStaticMatrices(end_);
        }
      }
    }
    if (dt_ < 1e-12) {
      if (++collapse > 100) collapseFlag_ = true;
    } else {
      collapse = 0;
    }
    // The adaptive steps of a run take hundreds to some tens of thousands;
    // a step rule gone astray must not hold the caller for hours.
    if (!opt_.fixedTimeStep && stepCount_ >= stepLimit_) collapseFlag_ = true;
    if (abortFlag_ || collapseFlag_) break;
    EachIterationOutput(change);
    change = change / stepDt;
    if (IsBoundaryReached()) running_ = false;
    // Steady only when the present rate could not change the profile
    // noticeably before the last scan either; a slow approach to
    // equilibrium otherwise stops percents short of it.
    const double remaining = std::max(0.0, lastScanTime - t_);
    if (quiet.Count(IsQuietStep(stepDt, change, opt_.steadyTolerance, remaining))) {
      endCondition_ = true;
      running_ = false;
    }
  }
  // A zero pivot is a singular matrix; every other failure of the path
  // (collapsed steps, overflow, a broken start region) is non-convergence.
  if (pivotFailed_) errTridag_ = 1;
  else if (collapseFlag_ || abortFlag_) errNonConvergence_ = 1;
  fullGrid_ = false;
}
