#pragma once
// Loading a distribution from a two-column file (synthetic data), the test
// whether the c(s,f/f0) kernels must be rebuilt, the prior probability over
// the grid, and the s grid that is linear up to a minimum s-value and grows
// in proportion to s above it.
#include <string>
#include <vector>

#include "distributions/prior_knowledge.h"

bool LoadDistributionFromFile(const std::string& path);
bool ContiFF0GridChanged();
int AssemblePriorProbability();
void MakeMixedLogGrid(float* out, float smin, float smax, float sm, int n);
int GrowGridFrom(float* x, int nmax, int m, float smin, float smax, float sm, int* first);
