#include "data/rotor_speed_profile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "data/scan_set.h"
#include "numerics/arrays.h"
#include "platform/error_box.h"
#include "platform/paths.h"
#include "platform/user_interface.h"

CurrentSpeedProfileRecord CurrentSpeedProfile;

void CurrentSpeedProfileRecord::Replace(std::unique_ptr<CRotorSpeedProfile> p) {
  profile = std::move(p);
  inUse = profile && profile->multiStep;
}

void CurrentSpeedProfileRecord::Clear() {
  profile.reset();
  inUse = false;
}

namespace {

std::string Format(const char* format, const std::string& a) {
  char buffer[1200];
  std::snprintf(buffer, sizeof buffer, format, a.c_str());
  return buffer;
}

std::string Format2(const char* format, const std::string& a, const std::string& b) {
  char buffer[1200];
  std::snprintf(buffer, sizeof buffer, format, a.c_str(), b.c_str());
  return buffer;
}

// Whole hours and minutes of a duration in seconds, rounded down.
void SplitHoursMinutes(double seconds, int& hours, int& minutes) {
  hours = seconds < 3600.0 ? 0 : static_cast<int>(std::floor(seconds / 3600.0));
  minutes = static_cast<int>(std::floor((seconds - 3600.0 * hours) / 60.0));
  if (minutes == 60) {
    minutes = 0;
    ++hours;
  }
  if (minutes < 0) minutes = 0;
}

}  // namespace

CRotorSpeedProfile::CRotorSpeedProfile() = default;

CRotorSpeedProfile::~CRotorSpeedProfile() {
  FreeSteps();
  FreeTable();
}

void CRotorSpeedProfile::ShowMessage() { ErrorBox(message.c_str()); }

void CRotorSpeedProfile::AllocateSteps(int n) {
  FreeSteps();
  if (n <= 0) return;
  startTimes = vector(1, n);
  speeds = vector(1, n);
  accelerations = vector(1, n);
  for (int j = 1; j <= n; ++j) startTimes[j] = speeds[j] = accelerations[j] = 0.0f;
  stepCount = n;
}

void CRotorSpeedProfile::FreeSteps() {
  if (stepCount > 0) {
    free_vector(startTimes, 1, stepCount);
    free_vector(speeds, 1, stepCount);
    free_vector(accelerations, 1, stepCount);
  }
  startTimes = speeds = accelerations = nullptr;
  stepCount = 0;
  multiStep = false;
}

void CRotorSpeedProfile::FreeTable() {
  if (breakpointCount > 0) {
    free_vector(breakpointTimes, 1, breakpointCount);
    free_vector(breakpointSpeeds, 1, breakpointCount);
  }
  breakpointTimes = breakpointSpeeds = nullptr;
  breakpointCount = 0;
}

bool CRotorSpeedProfile::SetSteps(int n, const float* t, const float* s, const float* a) {
  AllocateSteps(n);
  for (int j = 1; j <= stepCount; ++j) {
    startTimes[j] = t[j];
    speeds[j] = s[j];
    accelerations[j] = a[j];
  }
  multiStep = stepCount > 1;
  return multiStep;
}

double CRotorSpeedProfile::Ramp(int j) const {
  if (j < 1 || j > stepCount || accelerations[j] == 0.0f) return 0.0;
  const double from = j == 1 ? 0.0 : speeds[j - 1];
  return std::fabs((speeds[j] - from) / accelerations[j]);
}

bool CRotorSpeedProfile::ReadFile(const std::string& name) {
  FreeSteps();
  fileName = name;
  std::string text;
  if (const platform::FileReadError e = platform::ReadWholeFile(platform::ToNative(name), text, platform::kTableFileLimit);
      e != platform::FileReadError::None) {
    message = "\n\aAttention: " + platform::FileReadErrorText(name, e, platform::kTableFileLimit);
    ShowMessage();
    return false;
  }
  // Any line end (LF, CR LF, or CR alone as older editors write it) ends a
  // step: counted as one line, a CR-only file would lose all but its first.
  std::string lines;
  lines.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') continue;
      lines.push_back('\n');
    } else {
      lines.push_back(text[i]);
    }
  }
  // fmemopen takes an empty buffer too: the stream then reads as EOF at once.
  std::unique_ptr<FILE, int (*)(FILE*)> stream(fmemopen(lines.data(), lines.size(), "r"), &std::fclose);
  if (!stream) {
    message = "\n\aAttention: could not read " + name;
    ShowMessage();
    return false;
  }
  FILE* f = stream.get();
  // Lines are counted in chunks of up to 99 characters; an empty file
  // still counts one step, which stays zero and is refused below.
  char line[100];
  int count = 1;
  (void)std::fgets(line, sizeof line, f);
  while (count <= kMaxSpeedSteps && std::fgets(line, sizeof line, f)) ++count;
  if (count > kMaxSpeedSteps) {
    message = Format2("\n\aAttention: %s holds more than %s speed steps", name,
                      std::to_string(kMaxSpeedSteps));
    ShowMessage();
    return false;
  }
  std::rewind(f);
  AllocateSteps(count);
  for (int j = 1; j <= count; ++j) {
    float t = 0, s = 0, a = 0;
    if (std::fscanf(f, "%f %f %f", &t, &s, &a) != 3) break;
    startTimes[j] = t;
    speeds[j] = s;
    accelerations[j] = a;
  }
  for (int j = 1; j <= stepCount; ++j) {
    // (A start time that is no number cannot be put in order: the repair below refuses it.)
    const bool inRange = speeds[j] > 0.0f && speeds[j] <= kMaxRotorSpeedRpm && std::isfinite(accelerations[j]);
    if (accelerations[j] == 0.0f || !inRange) {
      FreeSteps();
      message = Format("\n\aAttention: bad speedstep data in %s", name);
      ShowMessage();
      return false;
    }
  }
  // Nothing is written beside the scans: the repair is kept in memory.
  if (!FixFile(false)) {
    if (!RepairStartTimes()) {
      FreeSteps();
      message = Format("ERROR: rotor speed profile %s could not be fixed", name);
      ShowMessage();
      return false;
    }
    message = Format("ERROR: rotor speed profile %s fixed in memory (the file is unchanged)", name);
    ShowMessage();
  }
  multiStep = stepCount > 1;
  return multiStep;
}

bool CRotorSpeedProfile::RepairStartTimes() {
  for (int j = 1; j <= stepCount - 1; ++j) {
    const double ramp = Ramp(j);
    if (startTimes[j + 1] - startTimes[j] < ramp)
      startTimes[j + 1] = static_cast<float>(startTimes[j] + ramp);
  }
  return FixFile(false);
}

bool CRotorSpeedProfile::Reload() { return ReadFile(std::string(fileName)); }

bool CRotorSpeedProfile::LoadAndCheck(const std::string& name, int scanCount,
                                      const ScanRecord* scans) {
  if (!ReadFile(name)) return false;
  return CheckAgainstScans(scanCount, scans);
}

bool CRotorSpeedProfile::CheckAgainstScans(int scanCount, const ScanRecord* scans) {
  const int n = stepCount;
  if (n <= 0) return false;
  auto inconsistent = [&](int scan, double t, double om, int step) {
    char text[300];
    std::snprintf(text, sizeof text, "inconsistent file %d (t = %f, om = %f) with speed step %d",
                  scan, t, om, step);
    message = text;
    ShowMessage();
    return false;
  };
  for (int i = 1; i <= scanCount; ++i) {
    const double t = scans[i].timeRead;
    const double om = scans[i].rpm;
    if (n == 1) {
      if (!(t > startTimes[1] + Ramp(1))) return false;
      continue;
    }
    if (t <= startTimes[1]) continue;
    int step = n;
    for (int j = 1; j < n; ++j) {
      if (t <= startTimes[j + 1]) {
        step = j;
        break;
      }
    }
    // An intermediate step tolerates a scan up to 1 s before its ramp ends;
    // the first and the last step want the scan 1 s after it.
    const bool intermediate = step > 1 && step < n;
    const bool ok = intermediate ? t + 1.0 >= startTimes[step] + Ramp(step)
                                 : t >= startTimes[step] + 1.0 + Ramp(step);
    if (!ok) return inconsistent(i, t, om, step);
    if (!(std::fabs(om - speeds[step]) < 10.0)) return false;
  }
  return true;
}

bool CRotorSpeedProfile::Save(const std::string& name) {
  fileName = name;
  // Whole or not at all, and never opened when a pipe stands at its name.
  platform::CheckedOutputFile file(name);
  FILE* f = file.get();
  if (!f) {
    message = Format("\n\aAttention: could not open %s", name);
    ShowMessage();
    return false;
  }
  for (int j = 1; j <= stepCount; ++j)
    std::fprintf(f, "%f\t%f\t%f\n", startTimes[j], speeds[j], accelerations[j]);
  if (!file.Commit()) {
    message = Format("\n\aAttention: could not write %s", name);
    ShowMessage();
    return false;
  }
  return true;
}

bool CRotorSpeedProfile::FixFile(bool repair) {
  if (stepCount < 2) return true;
  bool sound = true;
  for (int j = 1; j <= stepCount - 1; ++j) {
    const double ramp = Ramp(j);
    // A start time that is not a number is never sound.
    if (!(startTimes[j + 1] - startTimes[j] >= ramp)) sound = false;
  }
  if (!repair || sound) return sound;
  if (!RepairStartTimes()) {
    message = Format("ERROR: rotor speed profile %s could not be fixed", fileName);
    ShowMessage();
    return false;
  }
  const std::string original = fileName;
  const std::string fixedName = original + "_fixed";
  // The repaired steps go to a new file; the user's file stays as it was.
  if (!Save(fixedName)) return false;
  message = Format2("ERROR: rotor speed profile %s fixed in %s", original, fixedName);
  ShowMessage();
  return true;
}

void CRotorSpeedProfile::CopyFrom(const CRotorSpeedProfile& other) {
  if (&other == this) return;
  AllocateSteps(other.stepCount);
  for (int j = 1; j <= stepCount; ++j) {
    startTimes[j] = other.startTimes[j];
    speeds[j] = other.speeds[j];
    accelerations[j] = other.accelerations[j];
  }
  multiStep = other.multiStep;
  speedCheckMode = other.speedCheckMode;
  fileName = other.fileName;
}

float CRotorSpeedProfile::GetFinalSpeed() const {
  return stepCount > 0 ? speeds[stepCount] : 0.0f;
}

bool CRotorSpeedProfile::ApplyRotorStretch(float R, float k, const std::string& name) {
  // A stretch that leaves no positive denominator has no meaning; nothing
  // is changed then.
  for (int j = 1; j <= stepCount; ++j) {
    const float r = speeds[j];
    const float denominator = R - k * r * r * 1e-6f;
    if (!(denominator > 0.0f) || !(R / denominator >= 0.0f)) return false;
  }
  for (int j = 1; j <= stepCount; ++j) {
    const float r = speeds[j];
    const float ratio = R / (R - k * r * r * 1e-6f);
    speeds[j] = static_cast<float>(std::floor(r * std::sqrt(static_cast<double>(ratio))));
  }
  return Save(name);
}

void CRotorSpeedProfile::BuildTimeSpeedTable() {
  FreeTable();
  const int n = stepCount;
  if (n <= 0) return;
  const int size = 2 * n + 1;
  breakpointTimes = vector(1, size);
  breakpointSpeeds = vector(1, size);
  breakpointCount = size;
  breakpointTimes[1] = 0.0f;
  breakpointSpeeds[1] = 0.0f;
  breakpointTimes[2] = accelerations[1] != 0.0f ? speeds[1] / accelerations[1] : 0.0f;
  breakpointSpeeds[2] = speeds[1];
  for (int j = 2; j <= n; ++j) {
    breakpointTimes[2 * j - 1] = startTimes[j];
    breakpointSpeeds[2 * j - 1] = speeds[j - 1];
    breakpointTimes[2 * j] = static_cast<float>(startTimes[j] + Ramp(j));
    breakpointSpeeds[2 * j] = speeds[j];
  }
  breakpointTimes[size] = breakpointTimes[2 * n] + 600.0f;
  breakpointSpeeds[size] = breakpointSpeeds[2 * n];
}

float* CRotorSpeedProfile::GetTimeTable() {
  if (breakpointCount == 0) BuildTimeSpeedTable();
  return breakpointTimes;
}

float* CRotorSpeedProfile::GetSpeedTable() {
  if (breakpointCount == 0) BuildTimeSpeedTable();
  return breakpointSpeeds;
}

int CRotorSpeedProfile::GetTableSize() {
  if (breakpointCount == 0) BuildTimeSpeedTable();
  return breakpointCount;
}

bool CRotorSpeedProfile::WriteMethodRows(const std::string& methodFile, float scanCycleTime,
                                         int temperature, int finalScanCount,
                                         int maxScansPerStep, bool convertBack) {
  const int n = stepCount;
  if (n >= 50) {
    platform::Tell("CALCULATE MINIMUM TIME TO EQ", "too many speed steps");
    return false;
  }
  if (n <= 0) return false;
  for (int j = 1; j <= n; ++j) {
    if (accelerations[j] == 0.0f) {
      message = Format("\n\aAttention: bad speedstep data in %s", fileName);
      ShowMessage();
      return false;
    }
  }
  platform::PathParts parts = platform::SplitPath(methodFile);
  parts.name += ".";
  parts.extension = "MethodRows.txt";
  const std::string rowsFile = platform::JoinPath(parts);
  platform::CheckedOutputFile methodOut(methodFile), rowsOut(rowsFile);
  FILE* method = methodOut.get();
  if (!method) {
    message = Format("\n\aAttention: could not open %s", methodFile);
    ShowMessage();
    return false;
  }
  FILE* rows = rowsOut.get();
  if (!rows) {
    message = Format("\n\aAttention: could not open %s", rowsFile);
    ShowMessage();
    return false;
  }

  constexpr double kRampSafety = 1.5;
  constexpr double kScanSpacing = 1.3;
  const double cycleMinutes = std::ceil(scanCycleTime / 60.0);
  int last = n;
  while (last > 1 && speeds[last] == speeds[last - 1]) --last;

  // Scans that fit between the end of the ramp and the next step.
  auto scansInStep = [&](int s, double rampTime) {
    if (s + 1 > n) return std::max(0, maxScansPerStep);
    if (!(cycleMinutes > 0.0)) return std::max(0, maxScansPerStep);
    const double room = (startTimes[s + 1] - startTimes[s] - rampTime) /
                        (cycleMinutes * kScanSpacing * 60.0);
    const double capped = std::min(std::floor(room), static_cast<double>(maxScansPerStep));
    return std::max(0, static_cast<int>(capped));
  };

  int k = 0;
  bool hold = false;
  double rampTime = 0.0;
  for (int entry = 1; entry <= 100; ++entry) {
    if (k > 0 && k < last && !hold) {
      if (startTimes[k + 1] <= startTimes[k]) ++k;
      if (k + 1 <= n && k < last && speeds[k + 1] == speeds[k]) ++k;
    }
    int speed = 0, acceleration = 400, scans = 0;
    char duration[32] = "0:00";
    if (k < last) {
      const int s = k + 1;
      speed = static_cast<int>(std::floor(speeds[s]));
      acceleration = static_cast<int>(std::floor(accelerations[s]));
      // The last speed change of the run; a profile whose speed never changes
      // after its first step is scanned and then held like it.
      const bool lastChange = k == last - 1;
      if (!hold) {
        const double previous = s > 1 ? speeds[s - 1] : 0.0;
        double T = std::fabs(speeds[s] - previous) * kRampSafety / accelerations[s];
        int h = 0, m = 0;
        SplitHoursMinutes(T, h, m);
        rampTime = 3600.0 * h + 60.0 * m;
        scans = lastChange ? finalScanCount : scansInStep(s, rampTime);
        std::snprintf(duration, sizeof duration, "%d:%02d", h, m);
        std::fprintf(rows, "%d\t%d\t%d:%02d\t%d\t%d\n", speed, acceleration, h, m, temperature,
                     scans);
        hold = true;
      } else if (!lastChange) {
        const double H = std::max(0.0, startTimes[s + 1] - startTimes[s] - rampTime);
        int h = 0, m = 0;
        SplitHoursMinutes(H, h, m);
        std::snprintf(duration, sizeof duration, "%d:%02d", h, m);
        std::fprintf(rows, "%d\t%d\t%d:%02d\t%d\t0\n", speed, acceleration, h, m, temperature);
        hold = false;
        ++k;
      } else {
        std::snprintf(duration, sizeof duration, "hold");
        std::fprintf(rows, "%d\t%d\thold\t%d\t0\n", speed, acceleration, temperature);
        hold = false;
        ++k;
      }
    }
    std::fprintf(method, "%d\n%d\n%s\n%d\n%d\n", speed, acceleration, duration, temperature,
                 scans);
    std::fprintf(method, entry < 100 ? "NO\n" : "NO");
  }
  // Each file whole or not at all: a full disk must not leave an empty method.
  for (auto [out, name] : {std::pair{&methodOut, &methodFile}, std::pair{&rowsOut, &rowsFile}}) {
    if (out->Commit()) continue;
    message = Format("\n\aAttention: could not write %s", *name);
    ShowMessage();
    return false;
  }
  if (convertBack) {
    platform::PathParts folder = platform::SplitPath(methodFile);
    ConvertEquToSpeedSteps(methodFile, folder.drive + folder.folder + "speedsteps.txt");
  }
  return true;
}

namespace {

struct MethodEntry {
  int speed = 0;
  int acceleration = 0;
  double duration = 0;  // s; -1 for "hold"
  int temperature = 0;
  int scans = 0;
};

// Decimal number at the start of a line; text that is no number reads 0.
int LeadingInt(const std::string& text) { return std::atoi(text.c_str()); }

}  // namespace

bool CRotorSpeedProfile::CreateFromEqu(const std::string& methodFile) {
  std::string text;
  if (!platform::ReadRegularFile(platform::ToNative(methodFile), text, false, platform::kTableFileLimit))
    return false;
  if (text.empty()) return false;

  std::vector<std::string> lines;
  {
    std::string line;
    std::istringstream stream(text);
    while (std::getline(stream, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
  }
  std::vector<MethodEntry> entries;
  for (std::size_t base = 0; base < lines.size() && entries.size() < 100; base += 6) {
    auto lineAt = [&](std::size_t i) { return base + i < lines.size() ? lines[base + i] : ""; };
    MethodEntry e;
    e.speed = LeadingInt(lineAt(0));
    e.acceleration = LeadingInt(lineAt(1));
    const std::string duration = lineAt(2);
    bool last = false;
    if (duration.find("hold") != std::string::npos) {
      e.duration = -1;
      last = true;
    } else {
      const std::size_t colon = duration.find(':');
      const int hours = LeadingInt(duration.substr(0, colon));
      const int minutes = colon == std::string::npos ? 0 : LeadingInt(duration.substr(colon + 1));
      e.duration = minutes * 60.0 + hours * 3600.0;
    }
    e.temperature = LeadingInt(lineAt(3));
    e.scans = LeadingInt(lineAt(4));
    entries.push_back(e);
    if (last) break;
  }
  if (entries.empty()) return false;

  std::vector<float> t(1, 0.0f), s(1, 0.0f), a(1, 0.0f);  // index 0 unused
  float T = 0.0f;
  float C = 0.0f;
  t.push_back(0.0f);
  s.push_back(static_cast<float>(entries[0].speed));
  a.push_back(static_cast<float>(entries[0].acceleration));
  T = static_cast<float>(entries[0].duration);
  if (entries.size() >= 2 && entries[1].speed != entries[0].speed && entries[0].scans > 0) {
    const auto reply = platform::UI().PromptText("CREATE SPEEDSTEPS from EQU",
                                                 "scan cycle time (sec)", "0", 20);
    if (!reply) return false;
    C = static_cast<float>(std::atof(reply->c_str()));
    T += entries[0].scans * C;
  }
  for (std::size_t j = 1; j < entries.size(); ++j) {
    if (entries[j].speed == entries[j - 1].speed) {
      T += static_cast<float>(entries[j].duration);
    } else {
      t.push_back(T);
      s.push_back(static_cast<float>(entries[j].speed));
      a.push_back(static_cast<float>(entries[j].acceleration));
      T = T + static_cast<float>(entries[j].duration) - entries[j - 1].scans * C;
      if (j + 1 < entries.size() && entries[j + 1].speed != entries[j].speed)
        T += entries[j].scans * C;
    }
  }
  const int n = static_cast<int>(t.size()) - 1;
  SetSteps(n, t.data(), s.data(), a.data());
  return n >= 1;
}

bool ScansHaveSpeedChanges(int scanCount, const ScanRecord* scans) {
  if (scanCount < 2) return false;
  for (int i = 2; i <= scanCount; ++i)
    if (std::fabs(scans[i].rpm - scans[1].rpm) >= 10.0f) return true;
  return false;
}

bool ClassifyScanSpeeds(int scanCount, const ScanRecord* scans, bool& approachToEquilibrium,
                        bool& ascendingSeries) {
  approachToEquilibrium = false;
  ascendingSeries = false;
  if (!ScansHaveSpeedChanges(scanCount, scans)) return false;
  ascendingSeries = true;
  std::vector<float> distinct{scans[1].rpm};
  for (int i = 1; i <= scanCount; ++i) {
    const ScanRecord& r = scans[i];
    for (int j = 1; j <= scanCount; ++j)
      if (r.rpm < scans[j].rpm && r.timeRead > scans[j].timeRead) ascendingSeries = false;
    if (std::find(distinct.begin(), distinct.end(), r.rpm) == distinct.end())
      distinct.push_back(r.rpm);
    if (r.timeRead > 36000.0) {
      for (float speed : distinct)
        if (r.rpm < speed) approachToEquilibrium = true;
    }
  }
  if (distinct.size() < 2) ascendingSeries = false;
  for (int i = 2; i <= scanCount; ++i) {
    if (scans[i].cell != scans[1].cell ||
        std::fabs(scans[i].wavelength - scans[1].wavelength) > 10.0f)
      approachToEquilibrium = true;
  }
  return true;
}

bool ConvertEquToSpeedSteps(const std::string& methodFile, const std::string& speedStepsFile) {
  CRotorSpeedProfile profile;
  const bool ok = profile.CreateFromEqu(methodFile);
  profile.Save(speedStepsFile);
  return ok;
}

bool ConvertSpeedStepsToMethod(const std::string& speedStepsFile, const std::string& methodFile,
                               float scanCycleTime, int temperature, int finalScanCount,
                               int maxScansPerStep) {
  CRotorSpeedProfile profile;
  const bool ok = profile.ReadFile(speedStepsFile);
  profile.WriteMethodRows(methodFile, scanCycleTime, temperature, finalScanCount,
                          maxScansPerStep, false);
  return ok;
}
