// Moving-frame path of CLammIdeal: the step-length control of the object
// (scan times, speed schedules, timed profiles, negative end values) around
// the shared moving-frame core (lamm/moving_frame_core.h), which the object
// points at its own work block.
#include <algorithm>
#include <cmath>

#include "lamm/lamm_ideal.h"
#include "lamm/moving_frame_core.h"
#include "lamm/quiet_steps.h"
#include "lamm/static_grid_kernels.h"


// ------------------------------------------------------------ frame integrals

double CLammIdeal::FrameIntegralMass(int i, int j) const {
  BindFrameCore();
  return mf_.IntegralMass(i, j);
}
double CLammIdeal::FrameIntegralWeight(int i) const {
  BindFrameCore();
  return mf_.IntegralWeight(i);
}
double CLammIdeal::FrameIntegralDiffusion(int i, int j) const {
  BindFrameCore();
  return mf_.IntegralDiffusion(i, j);
}
double CLammIdeal::FrameIntegralSedimentation(int i, int j) const {
  BindFrameCore();
  return mf_.IntegralSedimentation(i, j);
}
double CLammIdeal::FrameIntegralMotion(int i, int j) const {
  BindFrameCore();
  return mf_.IntegralMotion(i, j);
}
double CLammIdeal::FrameIntegralCombined(int i, int j) const {
  BindFrameCore();
  return mf_.IntegralCombined(i, j);
}

// ------------------------------------------------------------ grid and steps

void CLammIdeal::SetupMovingFrameGrid() {
  BindFrameCore();
  mf_.SetupGrid(rotor_.rpm, t_);
  nonUniformGrid_ = true;
}

void CLammIdeal::AssembleMovingFrameMatrices() {
  BindFrameCore();
  mf_.Assemble(rotor_.rpm, t_);
  nonUniformGrid_ = true;
}

void CLammIdeal::UpdateSedimentationTerms() { mf_.UpdateSedimentationTerms(rotor_.rpm); }

void CLammIdeal::CrankNicolsonMovingFrameStep(double dt) {
  if ((opt_.linearRamp || schedule_) && accelerating_) {
    RotorOmegaInStep(t_, dt);
    UpdateSedimentationTerms();
  }
  const bool stored = (periodStepping_ && storedUse_) || (dt == mf_.period && t_ - mf_.t0 == 0);
  if (!mf_.Step(t_, dt, stored && !accelerating_)) {
    errTridag_ = 1;
    pivotFailed_ = true;
  }
}

void CLammIdeal::FinishMovingFrameStep() {
  ++stepCount_;
  t_ += dt_;
  if (pendingEvent_ && std::fabs(t_ - pendingTime_) <= 1e-9 * std::max(1.0, pendingTime_))
    t_ = pendingTime_;
  if (!schedule_ && t_ >= rotor_.accelDuration && accelerating_) {
    RotorOmegaInStep(t_, dt_);
    UpdateSedimentationTerms();
    accelerating_ = false;
  }
  if (schedule_ && !scheduleFinished_) {
    if (accelerating_) {
      RotorOmegaInStep(t_, dt_);
      UpdateSedimentationTerms();
    }
    UpdateSpeedStep(t_);
  }
  if (opt_.solverSetting != 0 || massTracking_) totalAmount_ = MovingFrameTotalAmount();
}

double CLammIdeal::MovingFrameTotalAmount() const {
  BindFrameCore();
  return mf_.TotalAmount(t_);
}

void CLammIdeal::ShiftMovingFrame() { mf_.ShiftFrame(t_); }

double CLammIdeal::TimeLoopMovingFrame() {
  bool hit = false;
  // The graded steps of a measured start in place of the frame's own.
  auto graded = [&](double frameStep) {
    const double dt = graded_ > 0 ? mf_.LayeredStep(graded_, layeredStart_, t_, frameStep) : 0;
    if (dt == 0) graded_ = 0;
    return dt > 0 ? dt : frameStep;
  };
  if (!periodStepping_) {
    dt_ = graded(dtFixed_);
    if (std::fabs(t_ - mf_.t0 - mf_.period) < 1e-10) ShiftMovingFrame();
    if (t_ + dt_ > mf_.t0 + mf_.period) dt_ = mf_.t0 + mf_.period - t_;
    dt_ = LimitTimeStep(true, hit);
    std::copy_n(c_ + 1, N_, cPrev_ + 1);
    if (pendingEvent_ && pendingTime_ < t_ + dt_) {
      pendingEvent_ = false;
      dt_ = pendingTime_ - t_;
    }
    if (dt_ <= 0) {
      dt_ = 1.0;
      return 1.0;
    }
    const int before = stepCount_;
    CrankNicolsonMovingFrameStep(dt_);
    if (errTridag_) return 1.0;
    FinishMovingFrameStep();
    return before == 0 ? dt_ : 1.0;
  }

  const double T = pendingTime_;
  auto cut = [&](double dt) {
    dt_ = dt;
    completeNext_ = storedUse_ = false;
    partial_ = true;
  };
  auto cuts = [&]() {
    if (pendingEvent_ && T < t_ + dt_) cut(T - t_);
    if (opt_.linearRamp && accelerating_ && !schedule_) {
      if (dt_ > rotor_.maxStepAccelerating) cut(rotor_.maxStepAccelerating);
      if (t_ + dt_ > rotor_.accelDuration) {
        cut(rotor_.accelDuration - t_);
        hit = true;
      }
    }
    if (schedule_ && !scheduleFinished_) {
      if (!accelerating_) {
        if (currentStep_ < steps_ && !hit && stepStart_[currentStep_ + 1] < t_ + dt_) {
          cut(stepStart_[currentStep_ + 1] - t_);
          hit = true;
        }
      } else {
        if (dt_ > rotor_.maxStepAccelerating) cut(rotor_.maxStepAccelerating);
        if (!hit && stepEnd_[currentStep_] < t_ + dt_) {
          cut(stepEnd_[currentStep_] - t_);
          hit = true;
        }
      }
    }
    if (timed_.on && timed_.nextTime < t_ + dt_) cut(timed_.nextTime - t_);
  };
  if (graded_ > 0) dt_ = graded(mf_.period);
  if (graded_ > 0) {
    // The rest of the frame next, then whole periods.
    veryFirst_ = firstRunStep_ = completeNext_ = storedUse_ = false;
    partial_ = true;
    cuts();
    if (pendingEvent_ && T - t_ == dt_) pendingEvent_ = false;
  } else if (pendingEvent_ && T < t_ + dt_ && T <= mf_.t0 + mf_.period) {
    dt_ = stepCount_ <= 1 ? 1.0 : T - t_;
    dt_ = LimitTimeStep(true, hit);
    if (pendingEvent_ && T < t_ + dt_) {
      pendingEvent_ = false;
      dt_ = T - t_;
    }
    if (T - t_ == dt_) pendingEvent_ = false;
    partial_ = true;
    veryFirst_ = firstRunStep_ = storedUse_ = false;
  } else if (firstRunStep_) {
    storedUse_ = false;
    if (veryFirst_) {
      veryFirst_ = false;
      dt_ = mf_.period < 1.0 ? mf_.period : 1.0;
    } else {
      firstRunStep_ = false;
      partial_ = true;
      // After a first step of 1 s a period of less than 1.11 s ends within
      // this one: past its end the nodes would run on unshifted.
      dt_ = std::min(0.1 * mf_.period, mf_.t0 + mf_.period - t_);
    }
    dt_ = LimitTimeStep(true, hit);
  } else if (partial_) {
    partial_ = false;
    completeNext_ = true;
    storedUse_ = false;
    dt_ = mf_.t0 + mf_.period - t_;
    cuts();
  } else if (completeNext_) {
    completeNext_ = partial_ = false;
    storedUse_ = true;
    dt_ = mf_.period;
    cuts();
  }
  std::copy_n(c_ + 1, N_, cPrev_ + 1);
  if (dt_ <= 0) {
    dt_ = 1.0;
    return 1.0;
  }
  CrankNicolsonMovingFrameStep(dt_);
  if (errTridag_) return 1.0;
  // A negative value at the end the species moves away from: smaller steps,
  // and at last its amount goes to the neighbour. That last step stands: the
  // clock advances by the length it was taken with (advanced by half of it,
  // the solution ran ahead of the clock, for 40 S by 0.5 s over the first
  // seconds, errors of 1e-2 at the scans).
  // The undershoot allowed is a share of the loading: the equation is linear
  // in c, and so is every step taken for it.
  const int endNode = s_ < 0 ? N_ : 1, neighbour = s_ < 0 ? N_ - 1 : 2;
  const double undershoot = 1e-3 * (initialProfile_ ? 1.0 : std::fabs(LoadingConcentration()));
  while (c_[endNode] < -undershoot) {
    storedUse_ = false;
    partial_ = true;
    if (dt_ <= undershootFloor_) {
      const double we = mf_.IntegralWeight(endNode), wn = mf_.IntegralWeight(neighbour);
      c_[neighbour] += we * c_[endNode] / wn;
      cPrev_[neighbour] = c_[neighbour];
      c_[endNode] = cPrev_[endNode] = 0;
      break;
    }
    dt_ /= 2;
    std::copy_n(cPrev_ + 1, N_, c_ + 1);
    CrankNicolsonMovingFrameStep(dt_);
    if (errTridag_) return 1.0;
  }
  FinishMovingFrameStep();
  if (storedUse_ || std::fabs(t_ - mf_.t0 - mf_.period) < 1e-10) ShiftMovingFrame();
  return 1.0;
}

// A step that leaves a value below zero at the end the species leaves is
// halved down to 0.2 s, then its amount goes to the neighbour. A floating
// species whose depletion layer at the bottom is far thinner than an
// element there (a cell Peclet number above 50, where the static grid
// refuses it: 2e-10 cm^2/s at 1 S) undershoots there at any step
// length while the boundary forms: some eight halvings a step, 25 times the
// cost of the run (80 ms for -1.2 S over two hours on 1000 nodes), for
// nothing the grid resolves. Its halving ends at a 32nd of the frame's
// period, a step that carries the boundary over a 32nd of an element: the
// boundary's second moment stays within 1e-5 cm of b exp(s w^2 t), and the
// profile as close to an independent finite-volume solution as before
// (6e-2 of the loading at the unresolved boundary, both), at an eighth of
// the cost.
double CLammIdeal::DepletedEndUndershootFloor() const {
  constexpr double kFloor = 0.2, kPeclet = 50, kPeriodShare = 1.0 / 32;
  if (!(s_ < 0) || !(D_ > 0) || schedule_ || N_ < 3 || !xi_) return kFloor;
  // A whole element: the frame's last one is half of one.
  const double h = xi_[N_ - 1] - xi_[N_ - 2];
  const double v = std::fabs(rotor_.sw2Final) * bottom_;
  if (!(v * h > kPeclet * D_)) return kFloor;
  return std::max(kFloor, kPeriodShare * mf_.period);
}

void CLammIdeal::SolveMovingFrame() {
  opt_.fixedTimeStep = true;
  if (!allocated_ || !xi_) return;
  sStar_ = opt_.automaticSGrid ? s_ : opt_.sGridValue;
  double phi = opt_.stepTolerance;
  if (std::fabs(sStar_) < 1 && phi >= 1) phi = 0.1;
  double change = 1.0;
  errNonConvergence_ = errTridag_ = 0;
  // Left over from a static-grid attempt before this one, they would keep
  // the scans after an early end from being filled.
  abortFlag_ = collapseFlag_ = false;
  pivotFailed_ = false;
  retryCounter_ = 0;
  stepCount_ = 0;
  totalAmount_ = 0;
  partial_ = completeNext_ = storedUse_ = false;
  mf_.storedReady = false;
  mf_.tridagError = 0;
  const bool cosolute = localSolvent_ && solvent_.SedimentingCosolute;
  if (localSolvent_) {
    SetupMovingFrameGrid();
    InitLocalSolventFactors(xi_);
  }
  AssembleMovingFrameMatrices();
  if (cosolute && !LammInitLoading()) return;
  dt_ = 1.0;
  dtFixed_ = sStar_ == 0 ? phi : phi * mf_.period;
  if (dtFixed_ >= mf_.period) {
    dtFixed_ = mf_.period;
    if (!mf_.PrecomputeFramePeriodSystem()) {
      errTridag_ = 1;
      pivotFailed_ = true;
    }
    periodStepping_ = true;
    firstRunStep_ = true;
  } else {
    periodStepping_ = false;
    storedUse_ = false;
  }
  undershootFloor_ = DepletedEndUndershootFloor();
  veryFirst_ = true;
  // A measured start meets its extrapolations at the fit limits with kinks,
  // which steps of the frame's own length carry on as ringing.
  graded_ = initialProfile_ && !zone_.on ? mf_.LayeredFirstStep() : 0;
  layeredStart_ = t_;
  if (graded_ >= std::min(dtFixed_, mf_.period)) graded_ = 0;
  FindBoundaryNode();
  CQuietSteps quiet;
  const double lastScanTime = ScanTime(scans_.scanCount);
  while (running_ && !errTridag_ && !errNonConvergence_) {
    const double before = dt_;
    const double stepStart = t_;
    change = static_cast<float>(TimeLoopMovingFrame());
    if (errTridag_) break;
    if (cosolute) {
      LammTimeStep(stepStart);
      if (errTridag_ || errConcDependent_) break;
      if (solvent_.DynamicGradient) {
        // The factors belong to the nodes' radii, the integrals to the frame
        // radii. The nodes travel by a grid spacing in a frame period: the
        // factors of the next step are those where the nodes are halfway
        // through it (at their start radii the species near the bottom fell
        // behind by an error of the order of the spacing).
        BindFrameCore();
        mf_.UpdateRadii(t_ + 0.5 * dt_);
        UpdateLocalSolventFactors(r_, xi_);
        mf_.UpdateRadii(t_);
        mf_.UpdateSolventTerms(rotor_.rpm);
      }
    }
    if (!AllWithinRange(c_, 1, N_)) {
      errNonConvergence_ = 1;
      break;
    }
    EachIterationOutput(change);
    change /= before;
    if (IsBoundaryReached()) running_ = false;
    const double remaining = std::max(0.0, lastScanTime - t_);
    if (quiet.Count(IsQuietStep(before, change, opt_.steadyTolerance, remaining))) {
      endCondition_ = true;
      running_ = false;
    }
  }
}
