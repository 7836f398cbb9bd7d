#include "data/time_stamps.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "numerics/constants.h"
#include "data/data_messages.h"
#include "data/file_name_list.h"
#include "data/load_hooks.h"
#include "data/rotor_speed_profile.h"
#include "data/scan_file.h"
#include "data/scan_set.h"
#include "numerics/arrays.h"
#include "platform/error_box.h"
#include "platform/paths.h"
#include "platform/process_launcher.h"

using data_messages::Format;

namespace {

bool HasMark(const ScanRecord& r) {
  return std::strstr(r.description, "[TIMESTAMP CORRECTED") != nullptr ||
         std::strstr(r.description, "[T OK]") != nullptr;
}

void CouldNotOpen(const std::string& path) {
  ErrorBox(Format("\n\aAttention: could not open %s", path.c_str()).c_str());
}

}  // namespace

bool ScanFileTimeStamp(const std::string& path, long long& stamp, std::string& text) {
  const std::string native = platform::ToNative(path);
  if (!platform::FileExists(native)) return false;
  const auto times = platform::GetFileTimes(native);
  if (!times) return false;
  stamp = static_cast<long long>(std::floor(times->modification));
  const std::time_t t = static_cast<std::time_t>(stamp);
  char buffer[64] = {};
  std::tm local{};
  localtime_r(&t, &local);
  std::strftime(buffer, sizeof buffer, "%a %b %d %H:%M:%S %Y", &local);
  text = buffer;
  return true;
}

bool ScansTimeStampStatus(bool& mixed) {
  mixed = false;
  const ScanSet& s = CurrentScanSet();
  if (s.count <= 0) return true;
  if (CurrentDataTypeFlags().fluorescence && *CurrentLoadTargets().timeDilationThreshold > 1.001)
    return true;
  const bool first = HasMark(s.records[s.order[1]]);
  for (int k = 2; k < s.count; ++k)
    if (first && !HasMark(s.records[s.order[k]])) mixed = true;
  return first && HasMark(s.records[s.order[s.count]]);
}

double AnalyzeTimeStamps(bool showReport, bool& error, double** elapsedOut, double** stampOut) {
  error = false;
  ScanSet& s = CurrentScanSet();
  const int n = s.count;
  if (n <= 1) return 1.0;
  s.dataChanged = 1;
  BuildTmpFileList(0);
  const FileNameList& list = CurrentFileNameList();
  std::vector<double> stamp(static_cast<std::size_t>(n) + 1, 0.0);
  std::vector<double> elapsed(static_cast<std::size_t>(n) + 1, 0.0);
  long long firstStamp = 0, lastStamp = 0;
  std::string firstText, lastText;
  if (!ScanFileTimeStamp(list.names[1], firstStamp, firstText)) {
    CouldNotOpen(list.names[1]);
    error = true;
    return 1.0;
  }
  if (!ScanFileTimeStamp(list.names[n], lastStamp, lastText)) {
    CouldNotOpen(list.names[n]);
    error = true;
    return 1.0;
  }
  const double time1 = s.records[s.order[1]].time;
  stamp[n] = static_cast<double>(lastStamp - firstStamp);
  elapsed[n] = s.records[s.order[n]].time - time1;
  const double factor = elapsed[n] >= 60.0 ? stamp[n] / elapsed[n] : 0.0;
  std::string report = Format("t1 = %s\n", firstText.c_str());
  int outliers = 0;
  auto line = [&](int k, const std::string& text) {
    const double projection = factor * elapsed[k];
    const bool outlier = std::fabs(projection - stamp[k]) > 60.0;
    if (outlier) {
      ++outliers;
      report += Format("OUTLIER %s: ", list.names[k].c_str());
    }
    report += Format(
        "t%d = %s, \tdelta-t(%d-1) = %.1f sec, \t%.1f elapsed time difference recorded in file; "
        "discrepancy = %.1f; [residual from OS projection = %f]\n",
        k, text.c_str(), k, stamp[k], elapsed[k], stamp[k] - elapsed[k], projection - stamp[k]);
  };
  for (int k = 2; k <= n - 1; ++k) {
    long long st = 0;
    std::string text;
    if (!ScanFileTimeStamp(list.names[k], st, text)) {
      CouldNotOpen(list.names[k]);
      error = true;
      return 1.0;
    }
    stamp[k] = static_cast<double>(st - firstStamp);
    elapsed[k] = s.records[s.order[k]].time - time1;
    if (factor > 0.0) line(k, text);
  }
  if (factor > *CurrentLoadTargets().timeDilationThreshold) {
    line(n, lastText);
    if (outliers > 0)
      report += Format("\n\n--> attention - found %d files with odd time stamp (see above)", outliers);
    report += Format("\n\n--> correction factor (delta-file timestamp/delta-recorded time) = %f",
                     factor);
  }
  const platform::PathParts first = platform::SplitPath(list.names[1]);
  const std::string reportPath = first.drive + first.folder + "timestampanalysis" + first.extension;
  if (!platform::WriteWholeFile(reportPath, report + "\n")) {
    CouldNotOpen(reportPath);
    error = true;
    return 1.0;
  }
  if (showReport) platform::Processes().OpenTextEditor(platform::ToNative(reportPath));
  if (elapsedOut) {
    *elapsedOut = dvector(1, n);
    for (int k = 1; k <= n; ++k) (*elapsedOut)[k] = elapsed[k];
  }
  if (stampOut) {
    *stampOut = dvector(1, n);
    for (int k = 1; k <= n; ++k) (*stampOut)[k] = stamp[k];
  }
  FreeFileNameList();
  return factor;
}

bool CheckScanTimeStamps() {
  ScanSet& s = CurrentScanSet();
  const LoadTargets& t = CurrentLoadTargets();
  if (s.equilibriumMode) {
    for (int i = 1; i <= s.count; ++i) s.records[i].timeStampMarked = 1;
    return false;
  }
  bool mixed = false;
  const bool allMarked = ScansTimeStampStatus(mixed);
  if (mixed) {
    ErrorBox("Attention: some scans time corrected, others not");
    return false;
  }
  if (allMarked) return false;
  bool error = false;
  float factor = static_cast<float>(AnalyzeTimeStamps(true, error, nullptr, nullptr));
  bool manual = false;
  if (factor <= 0.1f) {
    if (!data_messages::AskYesNo(
            "CHECK TIME STAMP",
            "Attention: no time stamp information available - enter manually (version# >= 6)?"))
      return false;
    factor = 1.0f;
    data_messages::AskFloat("CHECK TIME STAMP", "time dilation factor", factor);
    manual = true;
  }
  if (!(factor > *t.timeDilationThreshold)) return false;
  if (!*t.multiSpeedRawDataMode &&
      !data_messages::AskYesNo("CHECK TIME STAMP", "save corrected files and reload?"))
    return false;
  BuildTmpFileList(0);
  FileNameList& list = CurrentFileNameList();
  const bool intensity = CurrentDataTypeFlags().intensity;
  for (int k = 1; k <= list.count; ++k) {
    const int i = s.order[k];
    platform::PathParts p = platform::SplitPath(list.names[k]);
    p.name = "tcorr_" + p.name;
    list.names[k] = platform::JoinPath(p);
    ScanRecord& r = s.records[i];
    const std::string description =
        Format(manual ? "[TIMESTAMP CORRECTED %f (manual)]" : "[TIMESTAMP CORRECTED %f]",
               static_cast<double>(factor)) +
        r.description;
    r.timeRead *= factor;
    r.time *= factor;
    r.timeOriginal *= factor;
    r.w2t *= factor;
    r.timeStampMarked = 1;
    // Intensity scans were read with their columns exchanged.
    float* signal = intensity && s.signals2[i] ? s.signals2[i] : s.signals[i];
    const float* third = intensity && s.signals2[i] ? s.signals[i] : s.signals2[i];
    WriteScanFile(platform::ToNative(list.names[k]).c_str(), s.points[i], s.radii[i], signal, third,
                  description.c_str(), 1, r);
  }
  WriteFileNameList(true);
  return true;
}

void CmRestoreTimeAndW2t() {
  ScanSet& s = CurrentScanSet();
  if (s.count <= 1) return;
  if (CurrentSpeedProfile.inUse && CurrentSpeedProfile.profile &&
      CurrentSpeedProfile.profile->multiStep) {
    ErrorBox("sorry - this function is not for variable rotor speeed data");
    return;
  }
  BuildTmpFileList(0);
  const FileNameList& list = CurrentFileNameList();
  int reference = 1;
  for (;;) {
    const ScanRecord& r = s.records[s.order[reference]];
    if (data_messages::AskYesNo(
            "FIX TIME AND W2T",
            Format("using #%d (%s) as reference for t (%f), w^2t", reference,
                   list.names[reference].c_str(), r.time)))
      break;
    int pick = reference;
    // Cancel ends the command: asking again could never end otherwise.
    if (!InputCount(&pick, pick, "pick file #", "FIX TIME AND W2T")) return;
    const int chosen = std::min(pick, s.count);
    if (chosen == 0) return;
    reference = chosen;
  }
  long long refStamp = 0;
  std::string text;
  if (!ScanFileTimeStamp(list.names[reference], refStamp, text)) {
    CouldNotOpen(list.names[reference]);
    return;
  }
  const ScanRecord ref = s.records[s.order[reference]];
  const double omega = ref.rpm * kOmegaPerRpm8;
  const double omega2 = omega * omega;
  for (int k = 1; k <= list.count; ++k) {
    if (k == reference) continue;
    long long st = 0;
    if (!ScanFileTimeStamp(list.names[k], st, text)) {
      CouldNotOpen(list.names[k]);
      return;
    }
    const double dt = static_cast<double>(st - refStamp);
    ScanRecord& r = s.records[s.order[k]];
    r.timeRead = ref.timeRead + dt;
    r.time = ref.time + dt;
    r.timeOriginal = ref.timeOriginal + dt;
    r.w2t = ref.w2t + omega2 * dt;
  }
  if (data_messages::AskYesNo("FIX TIME AND W2T", "save new data?"))
    CurrentLoadHooks().saveRawDataSet();
}
