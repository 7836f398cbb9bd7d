#pragma once
// Scan output of the global-array Lamm solvers: after every time step the
// solver hands its step result here; when the simulated time reaches the
// time of the next scan the profile on the grid (optionally assembled slice
// by slice as a scanning optical system passes) is interpolated onto the
// scan's radii and added to its model, or onto the common grid into the
// current species' curve; after the last scan the solver is stopped.
#include "lamm/lamm_run_state.h"

// x: the value returned by the solver's last step.
void ShowSimulationProgress(double x);
// Time of the scan at position (1-based, in time order) that the solver
// delivers: the recorded time when the rotor speed is ramped (no DLS), else
// the working time.
double ScanTimeAt(int position);
// Time of the last scan in time order (the run state's clock without scans).
double LastScanTime();

// Progress texts into the progress window (nothing without one).
void ShowStepText();
void ShowIterationText();
void ShowTimeText();
void ShowStepResultText(float x);

// The common-grid curves of species slot k exist for every scan.
void EnsureSpeciesCurves(int k);
// Characteristic curves are solved on the common grid (c(s), TI noise,
// algebraic amplitudes or RI noise on).
bool CurvesOnCommonGrid();
