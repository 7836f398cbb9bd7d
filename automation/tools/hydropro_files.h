#pragma once
// The files exchanged with the outside bead-model hydrodynamics program:
// its input file, the working folder of a run and the summary of its
// results file.
#include <string>

struct HydroProInput {
  float aer = 3.2f;  // radius of the atomic elements (Angstrom)
  int nsig = -1;     // -1: the program chooses the minibead radii
  float sigmin = 1.0f, sigmax = 2.0f;
  float temperature = 293.15f;  // K
  float density = 0.99823f;     // g/ml
  float viscosity = 0.01002f;   // poise
  float mw = -1.0f;             // Da; -1: from the sequence
  float vbar = 0.73f;           // ml/g
};

// The answer to "NSIG" rounded down; other than -1, at least 2.
int NsigOf(float answer);

// "hydropro.dat" for a structure named name (without extension).
std::string HydroProDat(const std::string& name, const HydroProInput& in);

// base/name with "_" appended while a folder of that name exists.
std::string FreshWorkingFolder(const std::string& base, const std::string& name);

// The text of the results box: the error lines ("***" to the line end),
// the sedimentation-coefficient line and the notes.
std::string HydroProSummary(const std::string& results);
