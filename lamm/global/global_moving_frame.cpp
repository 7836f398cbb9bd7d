#include "lamm/global/global_moving_frame.h"

#include <algorithm>
#include <cmath>

#include "data/rotor_speed_profile.h"
#include "lamm/global/global_lamm_hooks.h"
#include "lamm/global/global_solvent.h"
#include "lamm/global/static_grid_lamm.h"
#include "lamm/lamm_grid_arrays.h"
#include "lamm/lamm_run_state.h"
#include "lamm/lamm_settings.h"
#include "lamm/moving_frame_core.h"
#include "lamm/quiet_steps.h"

namespace {

struct FrameStepControl {
  bool storedMode = false;
  // Phases of the stored mode: first step, start, remainder of a period,
  // full period next, stored factorization valid for this step.
  bool first = false, start = false, remainder = false, full = false, valid = false;
  double initialStep = 1.0;
  int shifts = 0;
  int steps = 0;  // steps taken in this run
  double worstShiftChange = 0;  // largest relative change of the amount at a shift
  double amount0 = 0;           // at the start of the run
  // A layered start: the first step, and the time it starts; the grading
  // is over (0) once its steps reach the period.
  double graded = 0, layeredStart = 0;
};


CMovingFrameCore gCore;
FrameStepControl gControl;

// The graded step of a layered start in place of the frame's own step
// `frameStep`, which follows once the grading is over.
double GradedStep(FrameStepControl& p, double frameStep) {
  const double dt = gCore.LayeredStep(p.graded, p.layeredStart, CurrentLammRunState().t, frameStep);
  if (dt > 0) return dt;
  p.graded = 0;
  return frameStep;
}

void BindCore() {
  LammGrid& g = CurrentLammGrid();
  const LammRunState& rs = CurrentLammRunState();
  CMovingFrameCore& f = gCore;
  f.N = g.AllocatedGridSize;
  const GlobalLammHooks& hooks = CurrentGlobalLammHooks();
  f.meniscus = hooks.meniscus();
  f.bottom = hooks.bottom();
  // The frame moves with the species in the buffer; its s and D are held
  // at 20 degC water while the inhomogeneous solvent is on.
  f.s = hooks.bufferSedimentation(rs.s);
  f.D = hooks.bufferDiffusion(rs.D);
  f.sStar = rs.sStar;
  f.steep = false;
  f.quiet = false;
  const SolventGradientSettings& sg = CurrentSolventGradientSettings();
  const bool local = sg.UseInhomogeneousSolvent && (sg.StaticGradient || sg.DynamicGradient);
  f.solvent = local ? &CurrentLocalSolventFactors() : nullptr;
  f.xi = g.FrameRadius;
  f.r = g.Radius;
  f.c = g.Concentration;
  f.cPrev = g.PreviousConcentration;
  f.rhs = g.RightHandSide;
  f.gam = g.TridagWork;
  f.Mlo = g.MassSub, f.Mdi = g.MassDiag, f.Mup = g.MassSuper;
  f.Klo = g.DiffusionStiffnessSub, f.Kdi = g.DiffusionStiffnessDiag,
  f.Kup = g.DiffusionStiffnessSuper;
  f.Blo = g.SedimentationStiffnessSub, f.Bdi = g.SedimentationStiffnessDiag,
  f.Bup = g.SedimentationStiffnessSuper;
  f.Clo = g.FrameStiffnessSub, f.Cdi = g.FrameStiffnessDiag, f.Cup = g.FrameStiffnessSuper;
  f.L0lo = g.StiffnessOldSub, f.L0di = g.StiffnessOldDiag, f.L0up = g.StiffnessOldSuper;
  f.L1lo = g.StiffnessNewSub, f.L1di = g.StiffnessNewDiag, f.L1up = g.StiffnessNewSuper;
  f.Alo = g.SystemSub, f.Adi = g.SystemDiag, f.Aup = g.SystemSuper;
  f.Tlo = g.PeriodRhsSub, f.Tdi = g.PeriodRhsDiag, f.Tup = g.PeriodRhsSuper;
  f.Slo = g.PeriodLhsSub, f.Spiv = g.FactorPivot, f.Srat = g.FactorRatio;
}

bool Ramping() {
  const LammRunState& rs = CurrentLammRunState();
  return LammSettings().rampRotorSpeed && rs.accelerating;
}

// Largest step while accelerating and the end of the acceleration; true
// when the step was shortened.
bool LimitForAcceleration(double& dt, bool endOnlyWhenSet) {
  const LammRunState& rs = CurrentLammRunState();
  if (!Ramping()) return false;
  bool limited = false;
  if (dt > rs.maxStepAccelerating) {
    dt = rs.maxStepAccelerating;
    limited = true;
  }
  if ((!endOnlyWhenSet || rs.accelerationEnd > 0) && rs.t + dt > rs.accelerationEnd) {
    dt = rs.accelerationEnd - rs.t;
    limited = true;
  }
  return limited;
}

void CrankNicolsonStep(double dt, bool useStored) {
  LammRunState& rs = CurrentLammRunState();
  if (Ramping()) {
    rs.rpm = RotorSpeedDuringAcceleration(rs.t, dt);
    gCore.UpdateSedimentationTerms(rs.rpm);
  }
  const bool firstOfFrame = dt == gCore.period && rs.t == gCore.t0;
  const bool stored = (useStored || firstOfFrame) && !rs.accelerating;
  if (!gCore.Step(rs.t, dt, stored)) LammSettings().singularMatrixError = 1;
}

void FinishStep() {
  LammRunState& rs = CurrentLammRunState();
  ++rs.iteration;
  ++gControl.steps;
  rs.t += rs.dt;
  // Land exactly on a scan time that the step was cut to reach.
  if (rs.pendingFlag && std::fabs(rs.t - rs.pendingTime) <= 1e-9 * std::fmax(1.0, rs.pendingTime))
    rs.t = rs.pendingTime;
  if (rs.accelerating && rs.t >= rs.accelerationEnd) {
    rs.rpm = RotorSpeedDuringAcceleration(rs.t, rs.dt);
    gCore.UpdateSedimentationTerms(rs.rpm);
    rs.accelerating = 0;
  }
  if (LammSettings().massConservationCheck) rs.totalAmount = gCore.TotalAmount(rs.t);
}

void Shift() {
  const double t = CurrentLammRunState().t;
  if (!LammSettings().massConservationCheck) {
    gCore.ShiftFrame(t);
    ++gControl.shifts;
    return;
  }
  const double before = gCore.TotalAmount(t);
  gCore.ShiftFrame(t);
  const double change = std::fabs(gCore.TotalAmount(t) - before) / std::fabs(before);
  if (change > gControl.worstShiftChange) gControl.worstShiftChange = change;
  ++gControl.shifts;
}

bool AtFrameEnd() {
  return std::fabs(CurrentLammRunState().t - gCore.t0 - gCore.period) < 1e-10;
}

double FixedStep() {
  LammRunState& rs = CurrentLammRunState();
  const int N = gCore.N;
  double dt = gControl.initialStep;
  if (AtFrameEnd()) Shift();
  if (gControl.graded > 0) dt = GradedStep(gControl, dt);
  if (rs.t + dt > gCore.t0 + gCore.period) dt = gCore.t0 + gCore.period - rs.t;
  LimitForAcceleration(dt, false);
  for (int i = 1; i <= N; ++i) gCore.cPrev[i] = gCore.c[i];
  if (rs.pendingFlag && rs.t + dt > rs.pendingTime) {
    dt = rs.pendingTime - rs.t;
    rs.pendingFlag = 0;
  }
  rs.dt = dt;
  if (dt <= 0) {
    rs.dt = 1.0;
    return 1.0;
  }
  const bool veryFirst = gControl.steps == 0;
  CrankNicolsonStep(dt, false);
  if (LammSettings().singularMatrixError) return 1.0;
  FinishStep();
  return veryFirst ? dt : 1.0;
}

double StoredModeStep() {
  LammRunState& rs = CurrentLammRunState();
  FrameStepControl& p = gControl;
  const int N = gCore.N;
  const double P = gCore.period;
  const double T = rs.pendingTime;
  const bool pending = rs.pendingFlag != 0;
  double dt = rs.dt;
  if (p.graded > 0) dt = GradedStep(p, P);
  if (p.graded > 0) {
    LimitForAcceleration(dt, false);
    if (pending && T < rs.t + dt) dt = T - rs.t;
    if (pending && dt == T - rs.t) rs.pendingFlag = 0;
    // The rest of the frame next, then whole periods.
    p.first = p.start = p.valid = p.full = false;
    p.remainder = true;
  } else if (pending && rs.t + dt > T && T <= gCore.t0 + P) {
    // The first two steps of a run stay short before they head for a scan.
    dt = p.steps <= 1 ? 1.0 : T - rs.t;
    LimitForAcceleration(dt, false);
    if (T < rs.t + dt) dt = T - rs.t;
    if (dt == T - rs.t) rs.pendingFlag = 0;
    p.remainder = true;
    p.first = p.start = p.valid = false;
  } else if (p.start) {
    p.valid = false;
    if (p.first) {
      p.first = false;
      dt = P < 1 ? P : 1.0;
    } else {
      p.start = false;
      p.remainder = true;
      // After a first step of 1 s a period of less than 1.11 s ends within
      // this one: past its end the nodes would run on unshifted.
      dt = std::min(0.1 * P, gCore.t0 + P - rs.t);
    }
    LimitForAcceleration(dt, true);
  } else if (p.remainder) {
    p.full = true;
    p.remainder = p.valid = false;
    dt = gCore.t0 + P - rs.t;
    if (pending && T < rs.t + dt) {
      dt = T - rs.t;
      p.full = false;
      p.remainder = true;
    }
    if (LimitForAcceleration(dt, false)) {
      p.full = false;
      p.remainder = true;
    }
  } else if (p.full) {
    p.remainder = p.full = false;
    p.valid = true;
    dt = P;
    if (pending && T < rs.t + P) {
      dt = T - rs.t;
      p.remainder = true;
      p.valid = false;
    }
    if (LimitForAcceleration(dt, false)) {
      p.remainder = true;
      p.valid = false;
    }
  }
  rs.dt = dt;
  for (int i = 1; i <= N; ++i) gCore.cPrev[i] = gCore.c[i];
  if (dt <= 0) {
    rs.dt = 1.0;
    return 1.0;
  }
  bool usedStored = p.valid && !rs.accelerating;
  CrankNicolsonStep(dt, p.valid);
  if (LammSettings().singularMatrixError) return 1.0;
  // A negative value at the end the species moves away from: smaller steps,
  // and at last its amount goes to the neighbour. That last step stands: the
  // clock advances by the length it was taken with.
  const int end = rs.s < 0 ? N : 1, neighbour = rs.s < 0 ? N - 1 : 2;
  while (gCore.c[end] < -0.001) {
    // A shortened step is no full period: the stored factorization waits for
    // the next frame.
    p.valid = false;
    p.remainder = true;
    usedStored = false;
    if (rs.dt <= 0.2) {
      const double we = gCore.IntegralWeight(end), wn = gCore.IntegralWeight(neighbour);
      gCore.c[neighbour] += gCore.c[end] * we / wn;
      gCore.cPrev[neighbour] = gCore.c[neighbour];
      gCore.c[end] = gCore.cPrev[end] = 0;
      break;
    }
    rs.dt /= 2;
    for (int i = 1; i <= N; ++i) gCore.c[i] = gCore.cPrev[i];
    CrankNicolsonStep(rs.dt, false);
    if (LammSettings().singularMatrixError) return 1.0;
  }
  FinishStep();
  if (usedStored || AtFrameEnd()) Shift();
  return 1.0;
}

}  // namespace

CMovingFrameCore& GlobalMovingFrameCore() { return gCore; }

double LammStepMovingFrame() { return gControl.storedMode ? StoredModeStep() : FixedStep(); }

void SetFrameEndRadii(double tPrime) { gCore.SetFrameEndRadii(tPrime); }

void UpdateMovingGridRadii() {
  LammGrid& g = CurrentLammGrid();
  // The frame is bound to the grid of the last solve. A grid made again
  // since (another size, a refused solve) may get the same addresses back
  // from the allocator: only the same arrays of the same size are its own.
  if (!g.GridAllocated || !g.FrameRadius || gCore.xi != g.FrameRadius || gCore.r != g.Radius ||
      gCore.N != g.AllocatedGridSize)
    return;
  gCore.UpdateRadii(CurrentLammRunState().t);
}

bool TridagMovingGridLamm(const double* a, const double* b, const double* c, const double* r,
                          double* u, int n) {
  BindCore();
  if (gCore.Tridag(a, b, c, r, u, n)) return true;
  LammSettings().singularMatrixError = 1;
  return false;
}

double GlobalMovingFrameAmount() { return gCore.TotalAmount(CurrentLammRunState().t); }

int GlobalMovingFrameShifts() { return gControl.shifts; }

double GlobalMovingFrameShiftAmountChange() { return gControl.worstShiftChange; }

double GlobalMovingFrameAmountImbalance() {
  const LammGrid& g = CurrentLammGrid();
  // Only the frame of the grid it ran on, in a plain closed sector.
  if (!(std::fabs(gControl.amount0) > 0) || gCore.solvent || !g.GridAllocated || gCore.xi != g.FrameRadius ||
      gCore.N != g.AllocatedGridSize)
    return 0;
  return (gCore.TotalAmount(CurrentLammRunState().t) - gControl.amount0) / std::fabs(gControl.amount0);
}

void SimulateMovingFrameLamm() {
  LammGrid& g = CurrentLammGrid();
  gControl.amount0 = 0;
  if (CurrentSpeedProfile.Active() || !g.GridAllocated || !g.FrameRadius) return;
  LammSolverSettings& st = LammSettings();
  LammRunState& rs = CurrentLammRunState();
  st.fixedTimeStep = 1;
  const GlobalLammHooks& hooks = CurrentGlobalLammHooks();
  rs.sStar = st.automaticSGrid ? hooks.bufferSedimentation(rs.s) : st.gridS;
  // A slow frame takes fixed steps of a tenth of its period; the working
  // setting itself stays as the user left it for the next species.
  double maxDc = st.workingMaxDcOverC;
  if (std::fabs(rs.sStar) < 1 && maxDc >= 1) maxDc = 0.1;
  st.singularMatrixError = 0;
  st.discretizationError = 0;
  gControl = FrameStepControl{};
  BindCore();
  gCore.storedReady = false;
  gCore.tridagError = 0;
  // The frame runs with the buffer's s and D; the local factors weigh them
  // relative to the buffer's mean.
  const SolventGradientSettings& sg = CurrentSolventGradientSettings();
  const bool cosolute = gCore.solvent && sg.SedimentingCosolute;
  const bool dynamic = cosolute && sg.DynamicGradient;
  if (gCore.solvent) {
    gCore.SetupGrid(rs.rpm, rs.t);
    hooks.initFrameSolventFactors(gCore.xi, gCore.N);
  }
  gCore.Assemble(rs.rpm, rs.t);
  gControl.amount0 = gCore.TotalAmount(rs.t);
  if (cosolute && !hooks.initCosolute()) return;
  rs.dt = 1.0;
  gControl.initialStep = rs.sStar != 0 ? maxDc * gCore.period : maxDc;
  if (gControl.initialStep >= gCore.period) {
    gControl.initialStep = gCore.period;
    if (!gCore.PrecomputeFramePeriodSystem()) st.singularMatrixError = 1;
    gControl.storedMode = true;
    gControl.first = gControl.start = true;
  }
  // A layered start (a measured profile; not a uniform loading, nor a zone
  // with its own steps) takes graded first steps.
  const int N = gCore.N;
  {
    double top = gCore.c[1], low = gCore.c[1];
    for (int i = 2; i <= N; ++i) {
      top = std::max(top, gCore.c[i]);
      low = std::min(low, gCore.c[i]);
    }
    if (top - low > 1e-12 * std::fabs(top) && !hooks.zoneCentrifugation()) {
      gControl.graded = gCore.LayeredFirstStep();
      gControl.layeredStart = rs.t;
      if (gControl.graded >= std::min(gControl.initialStep, gCore.period)) gControl.graded = 0;
    }
  }
  SetupDepletionStopTest();
  CQuietSteps quiet;
  while (rs.running && !st.singularMatrixError && !st.discretizationError) {
    const double before = rs.dt;
    if (cosolute) hooks.setCosoluteTime(rs.t);
    double change = LammStepMovingFrame();
    if (st.singularMatrixError) break;
    if (cosolute) {
      hooks.stepCosolute();
      if (!rs.running || st.singularMatrixError) break;
      if (dynamic) {
        // The factors of the next step: the cosolute halfway through it,
        // where the nodes are halfway through it.
        const double half = 0.5 * rs.dt;
        gCore.UpdateRadii(rs.t + half);
        hooks.updateFrameSolventFactors(gCore.r, gCore.xi, gCore.N, half);
        gCore.UpdateRadii(rs.t);
        gCore.UpdateSolventTerms(rs.rpm);
      }
    }
    for (int i = 1; i <= N; ++i)
      if (!std::isfinite(gCore.c[i])) {
        // Never hand a non-finite profile to the scans as a result.
        st.discretizationError = 1;
        break;
      }
    if (st.discretizationError) break;
    hooks.stepDone(change);
    change /= before;
    if (rs.running && IsDepletionStopReached()) {
      StopAndDeliverRemainingScans();
      break;
    }
    const double remaining = std::max(0.0, hooks.lastScanTime() - rs.t);
    if (quiet.Count(IsQuietStep(before, change, st.equilibriumThreshold, remaining)))
      StopAndDeliverRemainingScans();
  }
}
