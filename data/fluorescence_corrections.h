#pragma once
// Corrections of fluorescence-detected signals: the program-wide settings of
// the six corrections, and nonlinear detection, the one correction that is
// applied to the data themselves. For it the measured signals and the model
// are kept twice (as measured and transformed through the power law
// f(x) = (x - b)^p + b above the baseline b), and the scan set shows one pair.
#include <cstdint>
#include <functional>
#include <vector>

struct FdsSignalParams {
  std::uint8_t fitConvolutionWidth = 0;
  float convolutionWidth = 0.0f;   // cm
  float convolutionCutoff = 2.0f;  // standard deviations
  std::uint8_t useConvolution = 0;
  std::uint8_t useDepletion = 0;
  std::uint8_t fitDepletionS = 0;
  std::uint8_t fitDepletionD = 0;
  std::uint8_t fitDepletionAmplitude = 0;
  std::uint8_t fitDepletionKs = 0;
  float depletionS = 3.0f;     // S
  float depletionD = 3e-7f;    // cm^2/s
  float depletionAmplitude = 0.5f;
  float depletionLogKs = -3.0f;  // decimal logarithm of ks
  std::uint8_t fitConeRadius = 0;
  float coneRadius = 0.0f;  // cm
  std::uint8_t useShadow = 0;
  std::uint8_t useDrift = 0;
  std::uint8_t useExponentialDrift = 0;
  float driftRate = 0.0f;  // per hour
  std::uint8_t fitDriftRate = 0;
  float limitingLevel = 1.0f;  // fraction of the initial signal
  std::uint8_t fitLimitingLevel = 0;
  std::uint8_t useLinearDrift = 0;
  std::uint8_t fitLinearDrift = 0;
  float linearDrift = 0.0f;  // fraction per hour
  std::uint8_t fitRadialGradient = 0;
  float radialGradient = 1.0f;  // 1 + da/dr
  std::uint8_t useRadialGradient = 0;
  std::uint8_t useNonlinearDetection = 0;
  float detectionPower = 1.0f;
  float detectionBaseline = 0.0f;
  std::uint8_t fitDetectionPower = 0;
  std::uint8_t showTransformed = 0;
  std::uint8_t transformShown = 0;  // the scan set holds the transformed pair
  // The last data loaded were fluorescence data: the corrections are theirs
  // and go off when data of another kind are loaded.
  std::uint8_t ofFluorescenceData = 0;
  double appliedPower = 1.0;        // of the transformed copies now held
  double appliedBaseline = 0.0;
};
FdsSignalParams& CurrentFdsSignalParams();
// Every correction off, with its fit switches; the values stay for the next
// time a correction is switched on.
void SwitchOffFluorescenceCorrections(FdsSignalParams& p);

struct NonlinearDetectionTables {
  // Per scan [1..n], each [1..points of that scan when made]; empty = missing.
  std::vector<std::vector<float>> untransformedSignals, untransformedModel;
  std::vector<std::vector<float>> transformedSignals, transformedModel;
  float rmsdTransformed = 0.0f;
  float rmsdUntransformed = 0.0f;
  std::uint8_t skipRegrid = 0;
  std::uint8_t transformGuard = 0;
};
NonlinearDetectionTables& CurrentNonlinearDetectionTables();

// The power law above the baseline; values at or below it pass unchanged.
double NonlinearDetectionMap(double x, double power, double baseline);

// Builds the tables when missing or when the scan set's counts no longer
// match them; false without scans.
bool AllocNonlinearDetectionTables();
void FreeNonlinearDetectionTables();
// Transforms the tables with power p (<= 0 taken as 0.01) and baseline b
// and puts the transformed (show) or measured pair into the scan set; the
// common grid and the plots are left as they are (nonlinear_detection.h
// makes them follow). False without scans or when off.
bool NonlinearDetectionTransformScans(double power, double baseline, bool show);
// The stored transform applied again to the tables and the scans, as each
// grid preparation does; false without scans, when off, or while a
// transform is making the grid.
bool ReapplyNonlinearDetection();
// Maps a freshly simulated model into the other space.
bool NonlinearDetectionInverse();
// Rmsd in the space of the measured signals.
float NonlinearDetectionRmsd();

// What the transform needs from the fit layer: the first and last position
// (in time order) of the scans that count for the rmsd. All scans until set.
void SetNonlinearDetectionScanSpan(std::function<void(int& first, int& last)> span);
