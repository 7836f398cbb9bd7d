#pragma once
// Scan times for the Lamm-equation models: either each scan's recorded
// elapsed time with the rotor acceleration simulated ("ramp rotor speed"),
// or the effective time from its omega^2 t as if the rotor had run at the
// scan's speed from time zero ("times from wwt"):
//   t = omega^2 t / omega^2,  omega = 2 pi rpm / 60  (s, rad/s).
// The working time of a scan is ScanRecord::timeRead; its elapsed time
// ScanRecord::time is never changed here.
class FitHost;

void SwitchOnTimesFromW2t();
void ApplyTimesFromW2t(FitHost* host);
// Only while times from w^2t is on: switches it off and restores every
// scan's working time from its elapsed time.
void RestoreScanTimes();
void SwitchOffTimesFromW2t(FitHost* host);
void SwitchOffRampRotorSpeed();
void CancelTimesFromW2t(FitHost* host);
