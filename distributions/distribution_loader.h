#pragma once
// Loading a distribution from a two-column file (synthetic data), and the
// test whether the c(s,f/f0) kernels must be rebuilt.
#include <string>

bool LoadDistributionFromFile(const std::string& path);
bool ContiFF0GridChanged();
