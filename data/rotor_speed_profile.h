#pragma once
// The speed course of a multi-speed run as a list of speed steps. Step j
// starts at startTimes[j] (s since the start of the run), ramps linearly at
// accelerations[j] (rpm/s) from the previous step's speed (rest for step 1)
// to speeds[j] (rpm) and holds that speed until the next step starts.
#include <memory>
#include <string>

struct ScanRecord;

// A run has at most one step per scan; a file with more lines is refused
// (every simulation walks the steps).
constexpr int kMaxSpeedSteps = 1000;
// No rotor turns faster: a step above it (or at rest, or not a number) is no
// speed a simulation can follow, and the file holding it is refused.
constexpr float kMaxRotorSpeedRpm = 200000.0f;

class CRotorSpeedProfile {
 public:
  CRotorSpeedProfile();
  ~CRotorSpeedProfile();
  CRotorSpeedProfile(const CRotorSpeedProfile&) = delete;
  CRotorSpeedProfile& operator=(const CRotorSpeedProfile&) = delete;

  // Copies n steps from three 1-based arrays; returns multiStep.
  bool SetSteps(int n, const float* startTimes, const float* speeds, const float* accelerations);
  // Reads a speed-steps file; true only for a sound file with several steps.
  // Steps whose ramps overlap the next are moved in memory (the file stays
  // as it is); a file that cannot be repaired so, or with more than
  // kMaxSpeedSteps lines, or with a step whose speed (above 0, at most
  // kMaxRotorSpeedRpm) or acceleration (finite, not 0) is out of range,
  // leaves no steps.
  bool ReadFile(const std::string& name);
  bool Reload();
  // ReadFile, then CheckAgainstScans over the 1-based scans[1..scanCount].
  bool LoadAndCheck(const std::string& name, int scanCount, const ScanRecord* scans);
  bool Save(const std::string& name);
  // Checks that every ramp ends before the next step starts; with repair,
  // moves the offending start times and saves under fileName + "_fixed".
  bool FixFile(bool repair);
  // True when every scan's time and speed fit the steps (10 rpm tolerance).
  bool CheckAgainstScans(int scanCount, const ScanRecord* scans);
  void CopyFrom(const CRotorSpeedProfile& other);
  void FreeSteps();
  float GetFinalSpeed() const;
  // Speeds rescaled for rotor stretch: r' = floor(r sqrt(R / (R - k r^2 1e-6))).
  bool ApplyRotorStretch(float R, float k, const std::string& name);
  // Steps from an instrument method file of six-line entries.
  bool CreateFromEqu(const std::string& methodFile);
  // The instrument method file (100 entries) and its "MethodRows.txt" listing.
  bool WriteMethodRows(const std::string& methodFile, float scanCycleTime, int temperature,
                       int finalScanCount, int maxScansPerStep, bool convertBack);
  // Breakpoints (time s, speed rpm) of the speed course, 2n+1 points.
  void BuildTimeSpeedTable();
  float* GetTimeTable();
  float* GetSpeedTable();
  int GetTableSize();

  // Ramp time (s) of step j; a step without acceleration has none.
  double Ramp(int j) const;

  std::string fileName = "speedsteps.txt";
  std::string message;
  float* breakpointTimes = nullptr;   // [1..breakpointCount]
  float* breakpointSpeeds = nullptr;  // [1..breakpointCount]
  int breakpointCount = 0;
  bool multiStep = false;
  int stepCount = 0;
  float* startTimes = nullptr;     // [1..stepCount], s
  float* speeds = nullptr;         // [1..stepCount], rpm
  float* accelerations = nullptr;  // [1..stepCount], rpm/s
  int speedCheckMode = 2;

 private:
  void AllocateSteps(int n);
  // Moves start times so that every ramp ends before the next step starts;
  // false when the steps are still unsound after that.
  bool RepairStartTimes();
  void FreeTable();
  void ShowMessage();
};

// A speed counts as changed when it differs by 10 rpm or more.
bool ScansHaveSpeedChanges(int scanCount, const ScanRecord* scans);
// Whether the speeds change at all; sets whether the set looks like an
// approach to equilibrium or an ascending multi-speed series.
bool ClassifyScanSpeeds(int scanCount, const ScanRecord* scans, bool& approachToEquilibrium,
                        bool& ascendingSeries);
bool ConvertEquToSpeedSteps(const std::string& methodFile, const std::string& speedStepsFile);
bool ConvertSpeedStepsToMethod(const std::string& speedStepsFile, const std::string& methodFile,
                               float scanCycleTime, int temperature, int finalScanCount,
                               int maxScansPerStep);

// The profile in use for the loaded scans. inUse is set only while profile
// is set and holds several steps; readers use the steps only when it is set.
struct CurrentSpeedProfileRecord {
  std::unique_ptr<CRotorSpeedProfile> profile;
  bool inUse = false;

  bool Active() const { return inUse && profile && profile->stepCount > 0; }
  // Takes p as the profile in use (the previous one is deleted).
  void Replace(std::unique_ptr<CRotorSpeedProfile> p);
  void Clear();
};
extern CurrentSpeedProfileRecord CurrentSpeedProfile;
