#pragma once
// The run state every global-array Lamm solve starts from: the rotor's
// acceleration phase and the clock, the first scan to deliver and the
// running flag. Shared by the per-species, the concentration-dependent and
// the reacting evaluations and by the distributions' kernels. Times in s.
class FitHost;
struct ScanRecord;

// Solver start state before every global-array solve: clock at the start
// time, first simulated scan as the next output, running.
void SetLammSolverStartState(FitHost* host, bool perSpecies);
// The rotor acceleration phase from the first scan's header (rate, duration)
// and the last scan's speed; shorter than 10 s: full speed from the start.
void SetAccelerationPhase();

// The first and the last scan in time order (at least one scan loaded).
const ScanRecord& FirstScanRecord();
const ScanRecord& LastScanRecord();
// The first scan serves as the experimental initial distribution and its
// data have been captured.
bool ExperimentalInitialDistributionInUse();
// The captured initial distribution on the grid's nodes: the scan's profile
// projected onto the hat functions of the nodes (its amount kept, noise finer
// than the nodes taken as its mean), less the baseline where it is an entry
// (not where the linear solve finds it), times `fraction`.
// With clearNegatives, negative values become 0 and their amount is taken
// from their neighbours (for coefficients that depend on the concentration);
// else the noise of a depleted region stays about zero as measured: set to 0
// where it is negative it would raise the region by a fraction of the noise
// in every later scan.
void ExperimentalInitialProfileOnGrid(double fraction, bool clearNegatives);
