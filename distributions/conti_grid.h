#pragma once
// The grid of a continuous distribution: s-values (linear, logarithmic,
// mixed or from the grid file), molar masses for c(M), log D / log Rh for
// the DLS models, the s x f/f0 grid of c(s,f/f0), the distribution arrays,
// the graph and the work blocks. False when the user declined or a resource
// is missing; the caller then abandons the run without a further message.
#include <string>
#include <vector>

bool SetupContiGrid();

// "sdist" with the extension of the loaded scan files, in the data folder.
std::string GridFilePath();
// One value per line; empty when the file cannot be read.
bool ReadGridFile(std::vector<float>& values);
bool WriteGridFile(const float* values, int n);
