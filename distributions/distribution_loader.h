#pragma once
// Loading a distribution from a two-column file (synthetic data), and the
// test whether the c(s,f/f0) kernels must be rebuilt.
#include <string>

bool LoadDistributionFromFile(const std::string& path);
// True when the c(s,f/f0) kernels and normal equations must be computed
// again: the grid changed, or they are not whole, or any input they were
// computed from differs from the one kept when they became whole (the
// solvent, the Lamm solver's settings, cell, fit limits, scans, noise).
bool ContiFF0GridChanged();
// Called when the kernels are computed again (forget) and when a Run's
// kernels became whole (keep its inputs as they stand).
void ForgetContiKernelInputs();
void KeepContiKernelInputs();
