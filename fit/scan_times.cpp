#include "fit/scan_times.h"

#include "numerics/constants.h"
#include "data/scan_set.h"
#include "lamm/lamm_settings.h"

namespace {


bool ScanTimesFixed() {
  const DataTypeFlags& flags = CurrentDataTypeFlags();
  // Electrophoresis scans carry a placeholder rotor speed of 1 rpm.
  return flags.dls || flags.linearGeometry || flags.electrophoresis;
}

}  // namespace

void SwitchOffRampRotorSpeed() {
  LammSolverSettings& lamm = LammSettings();
  if (lamm.rampRotorSpeed) lamm.rampRotorSpeed = 0;
}

void CancelTimesFromW2t(FitHost*) { SwitchOffRampRotorSpeed(); }

void SwitchOnTimesFromW2t() {
  SwitchOffRampRotorSpeed();
  LammSettings().timesFromW2t = 1;
  if (ScanTimesFixed()) return;
  ScanSet& ss = CurrentScanSet();
  for (int i = 1; i <= ss.count; ++i) {
    ScanRecord& r = ss.records[i];
    const double omega = r.rpm * kOmegaPerRpm;
    // A scan without rotor speed keeps its elapsed time.
    r.timeRead = omega > 0.0 ? r.w2t / (omega * omega) : r.time;
  }
}

void ApplyTimesFromW2t(FitHost*) { SwitchOnTimesFromW2t(); }

void RestoreScanTimes() {
  LammSolverSettings& lamm = LammSettings();
  if (!lamm.timesFromW2t) return;
  lamm.timesFromW2t = 0;
  // The two are one choice: the scans' own times go with the simulated
  // acceleration, as the Lamm parameters dialog shows them.
  lamm.rampRotorSpeed = 1;
  if (ScanTimesFixed()) return;
  ScanSet& ss = CurrentScanSet();
  for (int i = 1; i <= ss.count; ++i) ss.records[i].timeRead = ss.records[i].time;
}

void SwitchOffTimesFromW2t(FitHost*) { RestoreScanTimes(); }
