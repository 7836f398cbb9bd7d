#pragma once
// The grid of a continuous distribution: s-values (linear, logarithmic,
// mixed or from the grid file), molar masses for c(M), log D / log Rh for
// the DLS models, the s x f/f0 grid of c(s,f/f0), the distribution arrays,
// the graph and the work blocks. False when the user declined or a resource
// is missing; the caller then abandons the run without a further message.
#include <functional>
#include <string>
#include <vector>

bool SetupContiGrid();

// "sdist" with the extension of the loaded scan files, in the data folder.
std::string GridFilePath();
// One value per line; empty when the file cannot be read.
bool ReadGridFile(std::vector<float>& values);
// The same from path; reason (when given) says why nothing was read.
bool ReadGridFile(const std::string& path, std::vector<float>& values, std::string* reason);
// Why values cannot be the s-grid of a distribution, "" when they can: fewer
// than two of them, one that is no finite number or, with massOf, whose
// molar mass is none, or values that do not strictly increase (each spacing
// rule and the kernels divide by the steps).
std::string GridValuesFault(const std::vector<float>& values, const std::function<double(float)>& massOf = {});
// The molar mass the current model gives grid point s (g/mol; s itself where
// the grid is its own mass).
float GridPointMass(float s);
// Bytes of work storage a distribution of points grid points (s x f/f0
// points for the two-dimensional models) takes over scans scans of
// gridLength points; the refusal text when that is more than the program
// may have, "" when it fits. threads: the computation's worker count (the
// settings' when negative).
std::string WorkStorageRefusal(double points, int scans, int gridLength, int threads = -1);
bool WriteGridFile(const float* values, int n);
