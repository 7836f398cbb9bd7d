#include "data/speed_steps_at_load.h"

#include <sys/stat.h>

#include <cmath>
#include <memory>
#include <vector>

#include "numerics/constants.h"
#include "data/data_messages.h"
#include "data/file_name_list.h"
#include "data/load_hooks.h"
#include "data/rotor_speed_profile.h"
#include "data/scan_set.h"
#include "platform/paths.h"

namespace {

constexpr double kRpm2PerOmega2 = 91.18906527810401;  // (30/pi)^2
const char* const kInconsistent = "oops - speedsteps.txt rotor speed profile inconsistent with data";

SpeedClassification g_classification;

std::string DataFolderFile(const std::string& name) {
  return platform::Combine(CurrentDataPaths().dataFolder, name);
}

}  // namespace

SpeedClassification& CurrentSpeedClassification() { return g_classification; }

bool CheckSpeedStepsForLoad(const std::string& drive, const std::string& folder,
                            bool forAddedFiles) {
  const LoadTargets& t = CurrentLoadTargets();
  if (*t.multiSpeedRawDataMode && !forAddedFiles) return true;
  const ScanSet& s = CurrentScanSet();
  const std::string path = drive + folder + "speedsteps.txt";
  g_classification = SpeedClassification{};
  const bool changes = ClassifyScanSpeeds(s.count, s.records.data(),
                                          g_classification.approachToEquilibrium,
                                          g_classification.ascendingSeries);
  // Anything at the name counts as a speed-steps file: one that cannot be
  // used (empty, unreadable, a folder, a named pipe) is refused and said,
  // never passed over as if there were none.
  struct stat st {};
  const bool haveFile = lstat(platform::ToNative(path).c_str(), &st) == 0;
  if (!changes && !haveFile) {
    CurrentSpeedProfile.Clear();
    return true;
  }
  if (!forAddedFiles && g_classification.approachToEquilibrium && !haveFile) {
    data_messages::Box("LOAD ERROR",
                       "detecting approach to equilibrium data without speedsteps file - please "
                       "only sort, don't fit");
    return true;
  }
  // Speed changes without a file (multi-speed equilibrium scans, a set
  // recorded at several speeds): no profile is used. Reading the missing file
  // would only report it as unreadable and inconsistent, and refuse the set.
  if (!haveFile) {
    CurrentSpeedProfile.Clear();
    return true;
  }
  CurrentSpeedProfile.Clear();
  auto profile = std::make_unique<CRotorSpeedProfile>();
  profile->fileName = path;
  profile->Reload();
  // Every simulation of the set would follow a profile that contradicts its
  // scans: such a profile is never used.
  if (profile->stepCount == 0 || !profile->CheckAgainstScans(s.count, s.records.data())) {
    data_messages::Box("LOAD ERROR", kInconsistent);
    g_classification.refusedFile = path;
  } else {
    CurrentSpeedProfile.Replace(std::move(profile));
  }
  CurrentLoadHooks().restoreScanTimes();
  return true;
}

bool LoadSpeedStepsForData() {
  const ScanSet& s = CurrentScanSet();
  if (s.count <= 0 || *CurrentLoadTargets().multiSpeedRawDataMode) return false;
  CurrentSpeedProfile.Clear();
  auto profile = std::make_unique<CRotorSpeedProfile>();
  profile->ReadFile(DataFolderFile("speedsteps.txt"));
  if (profile->stepCount == 0 || !profile->CheckAgainstScans(s.count, s.records.data())) {
    platform::Tell("LOAD ERROR", kInconsistent);
    CurrentSpeedProfile.Clear();
    return false;
  }
  const bool multi = profile->multiStep;
  CurrentSpeedProfile.Replace(std::move(profile));
  if (multi) CurrentLoadHooks().restoreScanTimes();
  return CurrentSpeedProfile.inUse;
}

bool DetectRotorSpeedSteps(float a, float b) {
  const ScanSet& s = CurrentScanSet();
  if (s.count <= 0 || !ScansHaveSpeedChanges(s.count, s.records.data())) {
    CurrentSpeedProfile.inUse = false;
    return false;
  }
  // Without a finite ramp rate no duration of the change exists.
  if (!(a > 0.0f) || b == 0.0f || !std::isfinite(b)) {
    CurrentSpeedProfile.inUse = false;
    return false;
  }
  std::vector<float> t{0.0f}, v{0.0f}, acc{0.0f};
  const ScanRecord& earliest = s.records[s.order[1]];
  t.push_back(0.0f);
  v.push_back(earliest.rpm);
  acc.push_back(a);
  double rpm0 = earliest.rpm;
  for (int k = 2; k <= s.count; ++k) {
    const ScanRecord& previous = s.records[s.order[k - 1]];
    const ScanRecord& scan = s.records[s.order[k]];
    if (static_cast<float>(rpm0) == scan.rpm) continue;
    const double rpm1 = scan.rpm;
    const double rate = rpm1 > rpm0 ? a : -std::fabs(b);
    const double T = std::fabs((rpm1 - rpm0) / rate);
    const double t0 = previous.time, w0 = previous.w2t, t1 = scan.time, w1 = scan.w2t;
    // w2t over [t0, t1] with the change starting at ts, in rpm^2 s:
    //   rpm0^2 (ts - t0) + ramp + rpm1^2 (t1 - ts - T) = (30/pi)^2 (w1 - w0),
    //   ramp = rate^2 T^3 / 3 + rpm0 rate T^2 + rpm0^2 T.
    double start = (rpm0 * rpm0 * t0 + kRpm2PerOmega2 * (w1 - w0) - (t1 - T) * rpm1 * rpm1 -
                    (rate * rate / 3.0 * T * T * T + rpm0 * rate * T * T + rpm0 * rpm0 * T)) /
                   (rpm0 * rpm0 - rpm1 * rpm1);
    if (start < t0 + 1.0) start = t0 + 1.0;
    if (start > (t1 - T) - 1.0) start = (t1 - T) - 1.0;
    t.push_back(static_cast<float>(start));
    v.push_back(static_cast<float>(rpm1));
    acc.push_back(static_cast<float>(std::fabs(rate)));
    rpm0 = rpm1;
  }
  const int n = static_cast<int>(t.size()) - 1;
  if (n > 1) {
    CurrentSpeedProfile.Clear();
    auto profile = std::make_unique<CRotorSpeedProfile>();
    profile->SetSteps(n, t.data(), v.data(), acc.data());
    const platform::PathParts p = platform::SplitPath(CurrentDataPaths().parameterFile);
    profile->Save(platform::Combine(p.drive + p.folder, "speedsteps.txt"));
    CurrentSpeedProfile.Replace(std::move(profile));
  }
  return CurrentSpeedProfile.inUse;
}

std::string DataFolderSpeedStepsPath() { return DataFolderFile("speedsteps.txt"); }

bool CreateLowSpeedPhaseSpeedSteps(float startTime2, float rpm1, const ScanRecord& record,
                                   float acceleration) {
  CurrentSpeedProfile.Clear();
  auto profile = std::make_unique<CRotorSpeedProfile>();
  const float t[] = {0.0f, 0.0f, startTime2};
  const float v[] = {0.0f, rpm1, record.rpm};
  const float a[] = {0.0f, acceleration, acceleration};
  profile->SetSteps(2, t, v, a);
  const bool written = profile->Save(DataFolderSpeedStepsPath());
  const bool multi = profile->multiStep;
  CurrentSpeedProfile.Replace(std::move(profile));
  if (multi) CurrentLoadHooks().restoreScanTimes();
  return written;
}

float EstimateSpeedStepStartTime(float previousRpm, float a, const ScanRecord& record) {
  const float t = static_cast<float>(record.time);
  const float rpm = record.rpm;
  const float omega = static_cast<float>(kOmegaPerRpm) * rpm;
  const float difference = rpm * rpm - previousRpm * previousRpm;
  if (omega == 0.0f || difference == 0.0f || a == 0.0f) return 0.0f;
  const float teq = static_cast<float>(record.w2t) / (omega * omega);
  return (t - teq) * rpm * rpm / difference + previousRpm / a -
         2.0f * rpm * rpm * rpm / (3.0f * a * difference);
}
