#pragma once
// Confidence limits of one parameter by projection of the error surface:
// the parameter is held at trial values, every other floated quantity is
// refitted, and the trial value moves until the refitted rmsd meets a
// critical rmsd.
class FitHost;

enum class ScanLimitStatus {
  Found,          // the refitted rmsd met the critical rmsd
  NotDetermined,  // the data do not fix the limit (refit budget or step exhausted)
  Stopped,        // the user stopped the scan
};

struct ScanLimit {
  float value = 0;
  ScanLimitStatus status = ScanLimitStatus::NotDetermined;
};

// A side gives up after this many refits.
constexpr int kMaxRefitsPerSide = 200;

// Refits every floated quantity (restarted Nelder-Mead until converged) and
// returns the best rmsd; 0 when the fit limits are refused, -1 when a stop
// was requested before the call. Leaves the best fit in the model.
float FitWithFixedParameters(FitHost* host);

// Limits of s (P[5], species 1) and of M or D (P[1], species 1) for the
// step and the critical rmsd. The scanned parameter is left fixed; every
// other parameter value is restored on every exit, a stop included.
void CalcErrorInS(FitHost* host, float step, float criticalRmsd, ScanLimit* lower, ScanLimit* upper);
void CalcErrorInM(FitHost* host, float step, float criticalRmsd, ScanLimit* lower, ScanLimit* upper);
