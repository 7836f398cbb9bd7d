#include "fit/lamm_start_state.h"

#include "data/scan_set.h"
#include "fit/lamm_grid.h"
#include "fit/model_selector.h"
#include "fit/amplitudes.h"
#include "fit/fit_host.h"
#include "fit/lamm_scan_output.h"
#include "fit/model_params.h"
#include "fit/simulation_switches.h"
#include "lamm/lamm_run_state.h"
#include "lamm/lamm_settings.h"
#include "numerics/regrid.h"

const ScanRecord& FirstScanRecord() {
  const ScanSet& ss = CurrentScanSet();
  return ss.records[ss.order[1]];
}
const ScanRecord& LastScanRecord() {
  const ScanSet& ss = CurrentScanSet();
  return ss.records[ss.order[ss.count]];
}

bool ExperimentalInitialDistributionInUse() {
  return LammSettings().experimentalInitialDistribution && CurrentScanSet().initialData.points > 0;
}

void SetAccelerationPhase() {
  LammRunState& rs = CurrentLammRunState();
  const ScanSet& ss = CurrentScanSet();
  if (ss.count < 1) return;
  rs.fullSpeed = LastScanRecord().rpm;
  rs.rpm = rs.fullSpeed;
  rs.maxStepAccelerating = 10.0;
  // The ramp is simulated only while scan times are elapsed times; with
  // times from w^2 t the scans already stand for a rotor at full speed.
  const ScanRecord& first = FirstScanRecord();
  if (LammSettings().rampRotorSpeed && first.accelerationTime >= 10.0 && first.acceleration > 0) {
    rs.acceleration = first.acceleration;
    rs.accelerationEnd = first.accelerationTime;
    rs.accelerating = 1;
  } else {
    rs.acceleration = 0;
    rs.accelerationEnd = 0;
    rs.accelerating = 0;
  }
}

void SetLammSolverStartState(FitHost* host, bool perSpecies) {
  LammRunState& rs = CurrentLammRunState();
  const ScanSet& ss = CurrentScanSet();
  const ModelParams& mp = gModelParams;
  rs.iteration = 1;
  rs.t = 0;
  if (ExperimentalInitialDistributionInUse()) {
    const ScanRecord& rec = ss.initialData.record;
    rs.t = LammSettings().rampRotorSpeed && !CurrentDataTypeFlags().dls ? rec.time : rec.timeRead;
  }
  else if (perSpecies && (mp.startTimeFit || mp.startTime != 0.0f)) rs.t = mp.startTime;
  // A run that starts after the ramp's end (from a measured scan) starts at
  // full speed: a ramp still pending would cut every step to its end, behind
  // the clock, and the solve would stand still.
  if (rs.accelerating && rs.t >= rs.accelerationEnd) rs.accelerating = 0;
  rs.dt = 1.0;
  rs.scanCounter = gFirstSimulatedScan;
  rs.nextScanTime = ScanTimeAt(gFirstSimulatedScan);
  rs.pendingTime = rs.nextScanTime;
  rs.pendingFlag = 1;
  rs.running = 1;
  rs.continueAfterLastScan = 0;
  rs.solverValue = 500.0;
  rs.sliceCount = rs.sliceNode = 0;
  rs.sliceTime = 0;
  rs.totalAmount = 0;
  rs.progressWindow = gSimulationSwitches.redrawDuringSimulation ? host : nullptr;
}

void ExperimentalInitialProfileOnGrid(double fraction, bool clearNegatives) {
  LammGrid& g = CurrentLammGrid();
  const InitialDataScan& init = CurrentScanSet().initialData;
  const int N = g.AllocatedGridSize;
  const bool sector = !gModelSelectorFlags.AnyPlanarGeometryModel();
  for (int i = 1; i <= N; ++i) g.Concentration[i] = 0;
  // Point values at a grid coarser than the scan would keep the noise that
  // happens to lie on the nodes and lose what lies between them: the amount
  // of the scan goes onto the grid.
  ProjectOntoHatFunctions(N, g.Radius, g.Concentration, init.points, init.radii, init.signals, sector);
  // Only a baseline that is an entry comes off: one the linear solve finds
  // is found after the species are solved, and taking off the one an
  // earlier evaluation left made an evaluation depend on the one before.
  // The profile is then taken whole, as with the loadings solved linearly;
  // the baseline the solve finds is the later scans' offset from it.
  const double baseline = BaselineSolvedLinearly() ? 0.0 : gModelParams.baseline;
  for (int i = 1; i <= N; ++i) g.Concentration[i] -= baseline;
  if (clearNegatives) ClearNegativesKeepingAmount(N, g.Radius, g.Concentration, sector);
  for (int i = 1; i <= N; ++i) g.Concentration[i] *= fraction;
}
