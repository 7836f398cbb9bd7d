#pragma once
// The run-planning parameters: rotor speeds, solution column, the one or two
// species, solvent, equilibrium criteria and the settings of the speed-profile
// optimisation. One record exists for the process (CurrentTimeToEqParams());
// it is kept in "tarnelsimappeqparams.ini", one "%f" value a line in the order
// of the fields below (line 1 first), with two companions beside it when a
// rotor-speed history is continued: "<name>_iniduration<ext>" (the history's
// duration, s) and "<name>_speedsteps<ext>" (the history's speed steps).
//
// Units: rpm, rpm/s, cm, s, degrees C, Da, Svedberg, ml/g, g/ml; the
// viscosity is absolute (0.001002 = water at 20 C).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "data/rotor_speed_profile.h"

struct TimeToEqParams {
  float finalRpm = 15000;             //  1 equilibrium speed of the run
  float initialRpm = 0;               //  2 speed of an equilibrium the run starts from
  float acceleration = 280;           //  3 rpm/s for speed increases
  float deceleration = 280;           //  4 rpm/s for speed decreases
  float stepTimeIncrement = 900;      //  5 s, time base of the profile steps
  float overspeedTime = 30000;        //  6 s
  float bottom = 7.2f;                //  7
  float meniscus = 6.75f;             //  8
  float rightLimit = 7.15f;           //  9 end of the column that is compared
  float leftLimit = 6.77f;            // 10 start of it (meniscus + 0.02)
  std::int32_t speciesCount = 1;      // 11 species of the last simulation
  float vbar1 = 0;                    // 12
  float temperature = 20;             // 13
  float targetRmsd = 0.001f;          // 14 relative to the loading signal
  std::int32_t parameterCount = 5;    // 15 profile parameters
  float maxOverconcentration = 1.5f;  // 16 at the bottom
  std::uint8_t skipCompletion = 0;    // 17 keep s and f/f0 as entered
  std::uint8_t experimentalInitial = 0;  // 18
  std::int32_t repeats = 1;           // 19
  std::uint8_t saveScans = 1;         // 20 scan files of the best prediction
  std::uint8_t saveEquMethod = 1;     // 21 instrument method file
  float density = 0;                  // 22 (0: the program's)
  float viscosity = 0;                // 23 (0: the program's)
  float s1 = 4.31f;                   // 24
  float M1 = 65000;                   // 25
  float ff01 = 1.4f;                  // 26
  std::uint8_t species1ByFf0 = 1;     // 27 else given by s
  std::uint8_t secondSpecies = 0;     // 28
  float fraction2 = 0;                // 29 loading fraction of species 2
  float s2 = 6.5f;                    // 30
  float M2 = 130000;                  // 31
  float vbar2 = 0;                    // 32 (always vbar1)
  float ff02 = 1.4f;                  // 33
  std::uint8_t species2ByFf0 = 1;     // 34
  float D1 = 0;                       // 35 cm^2/s (the file holds 1e7 x)
  float D2 = 0;                       // 36
  float optimisedTime = 0;            // 37 h
  float rpmStep = 1;                  // 38 rotor-speed step of the profiles
  std::uint8_t exponential = 1;       // 39 exponential profile parameterisation
  std::uint8_t continueHistory = 0;   // 40
  float initialStep = 0;              // 41 cm; 0 = uniform loading

  // Not in the main file.
  float historyDuration = 0;  // s, "_iniduration" companion
  std::unique_ptr<CRotorSpeedProfile> history;  // "_speedsteps" companion
  std::uint8_t justRunSpeedFile = 0;
  // The optimiser's parameters x[1..parameterCount]; empty until an
  // optimisation makes them, emptied when the count changes.
  std::vector<float> profileParameters;
  std::string speedFilePath;
  std::string simParamsPath;
};

inline constexpr int kTimeToEqLines = 41;
// More profile parameters than this are refused: every one adds a vertex of
// full simulations to the optimiser's simplex.
inline constexpr int kMaxProfileParameters = 100;

TimeToEqParams& CurrentTimeToEqParams();
// Back to the initial values (history and parameter vector dropped).
void ResetTimeToEqParams(TimeToEqParams& p);

// The 41 values in file order (integers as floats, switches 1 or 0, the
// diffusion coefficients times 1e7).
std::vector<float> TimeToEqLines(const TimeToEqParams& p);

// Writes the file and, with the history continued, its companions. False
// (after "Attention: could not open %s") when the main file or the duration
// companion could not be written.
bool SaveTimeToEqPreferences(const TimeToEqParams& p, const std::string& path);
// Reads the file into p. A missing file, fewer than 41 values, or a value the
// planning cannot work with (not finite; lines 3 to 5 not above 0; line 15
// below 1 or above kMaxProfileParameters; line 19 below 0) leave p untouched
// and answer false (the last with a message). With the history continued the
// companions are read as well; their failure is reported and answers false
// with the 41 values already taken.
bool LoadTimeToEqPreferences(TimeToEqParams& p, const std::string& path);

// The companions' paths: "_iniduration" or "_speedsteps" joined to the name.
std::string TimeToEqCompanionPath(const std::string& path, const char* suffix);

// Meniscus radius (cm) of volume (ul) filled into a 12 mm sector of
// 0.04164258 rad whose bottom lies at bottom (cm):
//   m = 0.1 sqrt((10 b)^2 - V / (0.04164258 x 12 x 0.5)).
// NaN when the volume does not fit below the rotor axis.
float MeniscusFromFillVolume(float volume, float bottom);

// s or f/f0 of each species from M, vbar, temperature and the solvent
// (whichever is not the given one), then D = s R T / (M (1 - vbar rho)).
// Values that cannot be formed (M, f/f0 or s zero, no buoyancy) leave the
// species' fields as they are.
void CompleteTimeToEqSpecies(TimeToEqParams& p);
