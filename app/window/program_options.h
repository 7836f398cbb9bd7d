#pragma once
// The main window's own switches: those of "tarnelparams.ini" that no
// other subsystem's record holds, and the display switches whose menu check
// marks the window keeps. The other preferences live in their owners'
// records (distribution settings, fit engine, data kinds, sounds).
#include <cstdint>
#include <string>

struct ProgramOptions {
  bool DisclaimerAccepted = false;
  // What a fit redraws while it runs.
  bool FitRedrawResidualsBitmap = false;
  bool FitRedrawResidualsPlot = false;
  bool FitRedrawDataPlot = false;
  bool FitRedrawDistributionPlot = false;
  float FitUpdateInterval = 1.0f;  // s, longest time between redraws during a fit
  bool ScanColorFromTime = true;
  std::uint8_t InfoWizardMessages = 1;
  bool IntegrationRangesFromFile = false;
  int LammThreadCount = 2;
  bool AlwaysLoadG2m1 = false;
  std::uint8_t TimeStampCheck = 1;
  double TimeStampTolerance = 1.001;  // correction factor above which a scan time is corrected
  bool ErrorPropagationToSw = false;
  bool ShowResidualsHistogram = false;
};

ProgramOptions& Options();

// Copies the switches that the plots read (redraw during fits, scan colours
// by time, the histogram, the band tint) into the plot record.
void SyncPlotPreferences();

// Appended to wizard messages (start-up sets it).
extern std::string WizardFooter;

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
constexpr int ShowData = 232;
constexpr int ShowResiduals = 209;
constexpr int ShowResidualsBitmap = 504;
constexpr int ErrorPropagationToSw = 952;
constexpr int FitMAndS = 217;
constexpr int DontLoadSpikes = 247;
constexpr int FlagTooStrongGradients = 868;
constexpr int OldFilenameConvention = 243;
constexpr int Exit = 230;
constexpr int HowToGetHelp = 268;
constexpr int About = 221;
}  // namespace cmd
