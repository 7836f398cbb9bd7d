#pragma once
// The switches and values that "tarnelparams.ini" keeps, together with the
// other program-wide switches whose menu check marks the main window
// restores. The subsystems that act on a switch read it from here.

struct ProgramOptions {
  bool DisclaimerAccepted = false;
  float RadialResolution = 0.001f;  // cm
  // What a fit redraws while it runs.
  bool FitRedrawResidualsBitmap = false;
  bool FitRedrawResidualsPlot = false;
  bool FitRedrawDataPlot = false;
  bool FitRedrawDistributionPlot = false;
  bool SoundsOn = false;
  bool ScanColorFromTime = true;
  bool InfoWizardMessages = true;
  // Regularization of the distributions; at most one is on.
  bool RegMaxEnt = true;
  bool RegSecondDerivative = false;
  bool RegShowBoth = false;
  bool IntegrationRangesFromFile = false;
  bool ContiMultithreading = true;
  int NormalEquationThreadCount = 2;
  // Fit method; exactly one is on.
  bool FitMethodSimplex = true;
  bool FitMethodAnnealing = false;
  bool FitMethodMarquardt = false;
  bool MaxEntBaselineSuppression = true;
  int LammThreadCount = 2;
  float FitUpdateInterval = 1.0f;  // s
  bool AlwaysLoadG2m1 = false;
  bool TimeStampCheck = true;
  double TimeStampTolerance = 1.001;  // correction factor above which a scan time is corrected
  bool ErrorPropagationToSw = false;
  bool DontLoadSpikes = true;
  float SpikeLevel = 0.4f;
  float FdsSpikeThreshold = 100.0f;
  bool FlagTooStrongGradients = true;

  // Simulated annealing.
  float AnnealStartTemperature = 2.0f;  // relative increase of the global chi-square
  float AnnealTemperature = 2.0f;
  int AnnealTemperatureSteps = 10;
  int AnnealIterationsPerStep = 500;
  int AnnealFinalMethod = 1;  // 1 Marquardt-Levenberg, 2 Simplex, 0 none

  // Switches without a preference line whose check marks the window shows.
  bool FitMAndS = true;
  bool OldFilenameConvention = false;
  bool ShowResidualsHistogram = false;
  bool DiagnosticsOn = false;
};

ProgramOptions& Options();

// Command ids of the items that show these switches.
namespace cmd {
constexpr int SuppressBaselineCorrelation = 829;
constexpr int UseIntegrationRangesFromFile = 644;
constexpr int Sound = 594;
constexpr int MultipleThreads = 648;
constexpr int InfoAndWizardMessages = 610;
constexpr int Regularization2ndDerivative = 294;
constexpr int RegularizationMaxEnt = 295;
constexpr int ShowBothRegularizations = 642;
constexpr int SimplexAlgorithm = 826;
constexpr int SimulatedAnnealing = 825;
constexpr int MarquardtLevenberg = 824;
constexpr int AlwaysLoadG2m1 = 894;
constexpr int CheckElapsedTime = 902;
constexpr int ShowResidualsHistogram = 943;
constexpr int ErrorPropagationToSw = 952;
constexpr int FitMAndS = 217;
constexpr int DontLoadSpikes = 247;
constexpr int FlagTooStrongGradients = 868;
constexpr int OldFilenameConvention = 243;
constexpr int Exit = 230;
constexpr int HowToGetHelp = 268;
constexpr int About = 221;
}  // namespace cmd
