#pragma once
// The s(M) power-law calibration and the reader of boundary-element
// hydrodynamics output, as functions over text and arrays; the window's
// commands add the prompts, plots and boxes.
#include <string>
#include <vector>

// ---- s = ks * M^kb from measured (s, M) pairs ----

struct CalibrationRows {
  std::vector<float> s, M;  // the usable rows, 0-based
  std::string skipped;      // message about rows left out, empty when none
};
// Keeps the rows whose s and M are above 0 (a logarithm is needed).
CalibrationRows UsableCalibrationRows(const std::vector<float>& s, const std::vector<float>& M);

struct PowerLawFit {
  bool ok = false;
  std::string refusal;
  float ks = 0, kb = 0;
  // The plot: points (log10 M, log10 s) and the line, n each, 1-based
  // (element 0 unused); one row is drawn as two equal points.
  std::vector<float> x, y, lineX, lineY;
  int n = 0;
  float yLow = 0, yHigh = 0;
};
// One row takes the given exponent; two or more are fitted in log-log.
PowerLawFit FitCMPowerLaw(const std::vector<float>& s, const std::vector<float>& M, float oneRowExponent);

// ---- D extrapolated to infinitely fine triangulations ----

constexpr int kMaxBestModels = 100;

struct BestModels {
  std::vector<float> N, D;  // 0-based, largest N first
};
// Collects (number of surface patches, DTT(EXACT)) pairs from the output
// text, at most kMaxBestModels; records whose N or D cannot be read or whose
// N is not above 0 are left out; a record without its D ends the scan.
BestModels ScanBestOutput(const std::string& text);

struct BestExtrapolation {
  float D0 = 0, slope = 0;
  int used = 0;             // the largest models that entered the fit
  bool flat = false;        // fewer than two distinct N: D0 is their mean
};
BestExtrapolation ExtrapolateBestD(const BestModels& models);

// s (S) under standard conditions (water at 20 C) of M (Da) with D0 (cm^2/s).
double SFromBestD(double M, double D0, double vbar);

// The report of the command, ending with the question for the plot.
std::string BestReport(const std::string& file, const BestModels& models, const BestExtrapolation& e, float M,
                       float vbar);
