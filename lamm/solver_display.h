#pragma once
// What a Lamm solver shows while it runs on the user-interface thread: text
// lines in the main window and curves over the data plot (the window
// connects both; unconnected, nothing is drawn), and the co-sedimenting
// solvent's profile at each scan time as a scan file of its own.
// Radii in cm; colours 0x00BBGGRR; arrays 1-based.
#include <functional>
#include <string>

struct ScanRecord;

struct LammSolverDisplay {
  std::function<void(int x, int y, const std::string& text)> drawText;
  std::function<void(const float* r, const float* y, int n, unsigned colour)> plotFloats;
  std::function<void(const double* r, const double* y, int n, unsigned colour)> plotDoubles;
};
LammSolverDisplay& CurrentLammSolverDisplay();

// Whether a solver's step lines are shown at this step. Drawing four lines
// in place costs more than a step on a coarse grid, and a Run on one
// thread solves hundreds of equations: the lines follow the steps at most
// ten times a second, from one equation to the next, and the `last` step
// (the one that reaches the last scan) shows where the solution ended.
bool StepLinesDue(bool last);

// The colour of equation (species) k: 1 purple, 2 green, 3 blue, 4 teal,
// others black.
unsigned EquationColour(int k);
// The co-sedimenting solvent is drawn in blue.
inline constexpr unsigned kCosoluteColour = 0x00FF0000;

// The folder of a base path: what precedes its last separator (the base
// "temp/" gives "temp/", "temp/run" gives "temp/").
std::string CosoluteFolder(const std::string& basePath);

// Writes the solvent's profile c (M) at the node radii r as a scan file
// with the description "component 2" and the scan's header (the scan
// writer's checked path: a temporary name that becomes path when whole).
// False, after a message, when it could not be written; a missing folder
// is told once.
bool WriteCosoluteScan(const std::string& path, const double* r, const double* c, int n,
                       const ScanRecord& header);
