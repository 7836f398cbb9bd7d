#pragma once
// Whether a loaded set ran at several rotor speeds, and the speed profile
// in use for it: read from "speedsteps.txt" in the data folder or derived
// from the scans' speeds, times and w2t.
#include <string>

struct ScanRecord;

struct SpeedClassification {
  bool approachToEquilibrium = false;
  bool ascendingSeries = false;
  // The speed-steps file of the last load when it was refused (unreadable,
  // or inconsistent with the scans); empty otherwise.
  std::string refusedFile;
};
SpeedClassification& CurrentSpeedClassification();

// Called by every loader after the files are read; never stops a load. A
// speed-steps file that cannot be read or does not fit the scans is said
// and not used (the load goes on without a profile).
// forAddedFiles: a speed change or an existing file always leads to reading
// it (no multi-speed raw-data exception, no approach-to-equilibrium notice).
bool CheckSpeedStepsForLoad(const std::string& drive, const std::string& folder,
                            bool forAddedFiles = false);
bool LoadSpeedStepsForData();
// Speed steps from the scans' recorded speeds, times and w2t, for ramps of
// acceleration a and deceleration b (rpm/s); returns the in-use flag.
bool DetectRotorSpeedSteps(float a, float b);
// "speedsteps.txt" in the data folder of the loaded scans.
std::string DataFolderSpeedStepsPath();
// Writes the two-step profile of a low-speed phase as speedsteps.txt and
// uses it; false (and said by the writer) when the file was not written.
bool CreateLowSpeedPhaseSpeedSteps(float startTime2, float rpm1, const ScanRecord& record,
                                   float acceleration);
// Start time (s) of the speed change from previousRpm at acceleration a
// (rpm/s) that led to the scan:
//   t_start = (t - t_eq) rpm^2 / (rpm^2 - rpm0^2) + rpm0 / a
//             - 2 rpm^3 / (3 a (rpm^2 - rpm0^2)),   t_eq = w2t / omega^2.
float EstimateSpeedStepStartTime(float previousRpm, float a, const ScanRecord& record);
