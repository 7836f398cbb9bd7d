#pragma once
// The M* transformation of equilibrium profiles (record in mstar_state.h).
// Inputs are the program-wide records: the scan set (one profile per data
// set, fit limits in cm, the model arrays for c(M) smoothing, the RI-noise
// values as individual baselines), the model parameters (meniscus a,
// bottom b, baseline, the individual-baseline switch) and the solution
// conditions (vbar rho, T in K).
//
// Per data set d, with b_d its baseline and s the masked signal:
//   c_a   = signal above b_d at the meniscus (extrapolated),
//   I(r)  = int_a^r (s - b_d - c_a) r' dr'   (trapezoids),
//   M*(r) = (s - b_d - c_a) / (2 k I + k c_a (r^2 - a^2)),
//   Mw_lin = slope of ln(s - b_d) against r^2 / k,
//   Mwapp = (1/k) dln c/dr^2 or (1/k)(1/2)(1/(c r)) dc/dr,
//   Mwavg = M*(b), extrapolated from the bottom-extrapolation range.
// k = (1 - vbar rho) w^2 / (2 R T) with w = 2 pi rpm / 60 of the data
// set's scan. Results in kDa.
#include <string>
#include <vector>

#include "equilibrium/mstar/mstar_state.h"

// Refusals before anything is built: meniscus or bottom not set, meniscus
// not below bottom, a data set at 0 rpm, 1 - vbar rho <= 0, a data set
// without points. Empty when the analysis can run, else the message
// (naming the data set where one is at fault).
std::string MStarInputProblem();

// The baseline of data set d: its RI-noise value with individual
// baselines, else the global baseline.
float MStarBaseline(int d);

// k of data set d, 1/(cm^2 g/mol); 0 when it cannot be formed.
double MStarBuoyancyFactor(int d);

// Extended profiles (radii, signal, masked signal, c(M) fit) of every data
// set; the k, c_a, Mwavg and Mw_lin tables sized to N. False when c(M)
// smoothing is on and a profile does not reach both meniscus and bottom
// (told in a box; smoothing is then switched off), the arrays are built
// all the same.
bool CheckMStarSmoothingRange(MStarState& st);

// The initial extrapolation ranges from the fit limits.
void SetInitialMStarRanges(MStarState& st);

// Signal at the meniscus and the masked signal near it (data set d).
void ComputeMeniscusSignal(MStarState& st, int d);

// Everything from the current settings and ranges: ranges made consistent
// with meniscus, bottom and fit limits (the fit limits kept 0.01 cm inside
// them), then per data set c_a, k, M*, ln c, the linear fit, Mwapp, Mwavg.
void ComputeMStarFit(MStarState& st);

// Builds the analysis from the scan set: profiles, baseline arrays, ranges,
// meniscus grids, markers, bottom grids, then ComputeMStarFit. False when
// CheckMStarSmoothingRange failed (nothing computed).
bool PrepareMStarAnalysis(MStarState& st);

struct MStarAxisRange {
  float xMin = 0, xMax = 1, yMin = 0, yMax = 1;
};
struct MStarAxisRanges {
  MStarAxisRange signal, mstar, lnc, mwapp;
};
// Display ranges of the four plots; always finite with xMin < xMax, yMin < yMax.
MStarAxisRanges ComputeMStarAxisRanges(const MStarState& st);

// Point ranges of the plotted curves (1-based, inclusive), clamped to
// 1..n; last < first means an empty curve.
struct MStarCurveRange {
  int first = 1, last = 0;
};
MStarCurveRange MStarRange(const MStarDataSet& set, int first, int last);

// The result texts of the screen, one group of N per kind.
struct MStarResultTexts {
  std::vector<std::string> mwavg, linearFit, baseline, meniscusSignal;
};
MStarResultTexts ComposeMStarResultTexts(const MStarState& st);
