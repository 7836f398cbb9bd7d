#pragma once
// From the amplitudes of the regularised solution to the displayed
// distribution, and the transforms of a finished distribution.
//
// Density: an amplitude c_i of grid point i becomes c_i / w_i with the local
// grid width w_i = (x_{i+1} - x_{i-1})/2 (half-width intervals at the ends:
// w_1 = (x_2 - x_1)/2, w_n = (x_n - x_{n-1})/2).
#include <string>

// Solution -> distribution (c(s,f/f0): marginal over f/f0), model and noise
// arrays of the scans, density conversion, release of the work blocks, redraw.
void ShowContiSolution();
void ConvertAmplitudesToDensity();
// The solution's amplitudes into the distribution, as amplitudes (no density
// yet): for c(s,f/f0) the 2-D amplitudes and their sum over f/f0, otherwise
// the solution itself, at most the block's grid points. False, with nothing
// changed, while the solution or the distribution is missing.
bool CopySolutionToDistribution();
// s -> s20,w with the solvent values given (absolute viscosity in Pa s).
bool TransformDistributionToS20(float eta, float rho, float vbar, float vbar20);
bool TransformDistributionToStokesRadius(float vbar20);
bool CorrectDistributionForSignal(const std::string& file);
void DifferentialToIntegralDistribution();
