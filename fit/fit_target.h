#pragma once
// The target function of the discrete models, with the check every fit
// driver makes before it starts and the stop poll each evaluation ends on.
// Below the drivers: the minimisers take it as their FitTarget.

class FitHost;

// 1 when a fit may start; refuses without data or meniscus and bottom and
// moves fit limits that lie outside the cell (with a message).
int CheckFitLimitsBeforeFit(FitHost* host);
// The target function of the discrete models: unpacks v into the model,
// evaluates it over all scans and returns the rmsd; 1e10 after a stop.
float SimplexSim(float* v, FitHost* host);
// Polls a key press or click into the stop flag, and turns the stop flag
// into stopRequested. True when a stop is now requested.
bool PollFitStop();
