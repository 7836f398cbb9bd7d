#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "fit/fit_engine_state.h"
#include "platform/sounds.h"
#include "app/window/parameter_preferences.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/window/program_options.h"
#include "app/window/shell_services.h"
#include "app/window/thread_counts.h"
#include "app/window/txla_window.h"
#include "platform/paths.h"
#include "platform/program_paths.h"
#include "platform/user_interface.h"

std::string& ParamsIniPath() { return platform::ProgramPaths.ParamsIniPath; }

int WholeCount(double v, double largest) {
  if (!(v >= 1.0)) return 1;
  if (v > largest) v = largest;
  return static_cast<int>(std::floor(v));
}

int ToleranceLine(double tolerance, bool on) {
  const double scaled = std::floor((tolerance - 1.0) * (on ? 100000.0 : -100000.0));
  if (scaled > 2.0e9) return 2000000000;
  if (scaled < -2.0e9) return -2000000000;
  return static_cast<int>(scaled);
}

namespace {

constexpr int kPreferenceLines = 24;

// Whole lines are read, however long, so that an overlong line can never
// shift the following values onto the wrong lines.
bool FirstNumber(const std::string& line, double& value) {
  const char* begin = line.c_str();
  char* end = nullptr;
  const double v = std::strtod(begin, &end);
  if (end == begin || !std::isfinite(v)) return false;
  value = v;
  return true;
}


bool AskPreference(const char* question) {
  return platform::AskYes("SET PREFERENCE", question);
}

int CurrentFitMethod() {
  if (gFitEngineState.useAnnealing) return 2;
  if (gFitEngineState.useMarquardt) return 3;
  return 1;
}

}  // namespace

void SelectRegularization(TXLAWindow& w, int kind) {
  Conti().maxEntropy = kind == 1;
  Conti().secondDerivative = kind == 2;
  Conti().showBothRegularizations = kind == 3;
  w.CheckMenuItem(cmd::RegularizationMaxEnt, Conti().maxEntropy);
  w.CheckMenuItem(cmd::Regularization2ndDerivative, Conti().secondDerivative);
  w.CheckMenuItem(cmd::ShowBothRegularizations, Conti().showBothRegularizations);
}

std::vector<double> ReadPreferenceNumbers(const std::string& path, bool* opened,
                                          std::string* refusal) {
  std::vector<double> values;
  std::string text;
  const platform::FileReadError e =
      platform::ReadWholeFile(platform::ToNative(path), text, platform::kSettingsFileLimit);
  if (opened) *opened = e == platform::FileReadError::None;
  // A missing file is the first start, not a fault.
  if (refusal && e != platform::FileReadError::None && e != platform::FileReadError::Missing)
    *refusal = platform::FileReadErrorText(path, e, platform::kSettingsFileLimit);
  if (e != platform::FileReadError::None) return values;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    double v = 0;
    if (!FirstNumber(line, v)) break;
    values.push_back(v);
  }
  return values;
}

int LoadParameterPreferences(TXLAWindow& w) {
  bool opened = false;
  std::string refusal;
  const std::vector<double> v = ReadPreferenceNumbers(ParamsIniPath(), &opened, &refusal);
  if (!refusal.empty())
    platform::Tell("PREFERENCES", refusal + "\n -> passed over, using defaults now", platform::BoxIcon::None);
  if (!opened || v.empty()) return 0;
  ProgramOptions& o = Options();
  const auto has = [&](int line) { return static_cast<int>(v.size()) >= line; };
  const auto at = [&](int line) { return v[static_cast<std::size_t>(line - 1)]; };

  if (at(1) == 1.0) o.DisclaimerAccepted = true;
  if (CommandLineState().AutomationMode) return 1;

  bool rewrite = false;
  CurrentScanSet().radialResolution = has(2) && at(2) > 0 ? static_cast<float>(at(2)) : 0.001f;

  if (has(3)) o.FitRedrawResidualsBitmap = at(3) > 0;
  else {
    o.FitRedrawResidualsBitmap = AskPreference("update residuals bitmap during fit?");
    rewrite = true;
  }
  if (has(4)) o.FitRedrawResidualsPlot = at(4) > 0;
  else {
    o.FitRedrawResidualsPlot = AskPreference("update residuals plot during fit?");
    rewrite = true;
  }
  o.FitRedrawDataPlot = has(5) && at(5) > 0;
  o.FitRedrawDistributionPlot = has(6) && at(6) > 0;
  SoundState.soundsOn = has(7) && at(7) > 0;
  o.ScanColorFromTime = has(8) ? at(8) > 0 : true;
  if (has(9)) {
    o.InfoWizardMessages = at(9) > 0;
    w.CheckMenuItem(cmd::InfoAndWizardMessages, o.InfoWizardMessages);
  } else {
    o.InfoWizardMessages = true;
  }
  if (has(10) && (at(10) == 1.0 || at(10) == 2.0 || at(10) == 3.0))
    SelectRegularization(w, static_cast<int>(at(10)));
  if (has(11) && at(11) > 0) {
    o.IntegrationRangesFromFile = true;
    w.CheckMenuItem(cmd::UseIntegrationRangesFromFile, true);
    CallService(Services().loadIntegrationRanges);
  } else {
    o.IntegrationRangesFromFile = false;
    w.CheckMenuItem(cmd::UseIntegrationRangesFromFile, false);
  }
  if (has(12) && at(12) > 0) {
    Conti().multipleThreads = true;
    Conti().normalEquationThreads = WholeCount(at(12));
  } else if (has(12)) {
    Conti().multipleThreads = false;
    Conti().normalEquationThreads = 1;
  } else {
    Conti().multipleThreads = true;
    Conti().normalEquationThreads = 2;
  }
  w.CheckMenuItem(cmd::MultipleThreads, Conti().multipleThreads);
  if (has(13) && at(13) > 0) {
    const double m = at(13);
    const int method = m == 1.0 ? 1 : m == 2.0 ? 2 : m == 3.0 ? 3 : 0;
    if (method != 0 && method != CurrentFitMethod()) {
      gFitEngineState.useSimplex = method == 1;
      gFitEngineState.useAnnealing = method == 2;
      gFitEngineState.useMarquardt = method == 3;
      rewrite = true;
    }
    w.CheckMenuItem(cmd::SimplexAlgorithm, gFitEngineState.useSimplex);
    w.CheckMenuItem(cmd::SimulatedAnnealing, gFitEngineState.useAnnealing);
    w.CheckMenuItem(cmd::MarquardtLevenberg, gFitEngineState.useMarquardt);
  }
  Conti().suppressBaselineCorrelation = has(14) ? at(14) > 0 : true;
  w.CheckMenuItem(cmd::SuppressBaselineCorrelation, Conti().suppressBaselineCorrelation);
  SetLammEquationThreads(has(15) ? WholeCount(at(15)) : 2);
  o.FitUpdateInterval = has(16) && at(16) > 0 ? static_cast<float>(at(16)) : 1.0f;
  // The mark follows the switch also when the line is missing.
  o.AlwaysLoadG2m1 = has(17) && at(17) > 0;
  w.CheckMenuItem(cmd::AlwaysLoadG2m1, o.AlwaysLoadG2m1);
  o.TimeStampCheck = has(18) ? at(18) > 0 : true;
  w.CheckMenuItem(cmd::CheckElapsedTime, o.TimeStampCheck);
  if (has(19)) o.TimeStampTolerance = at(19) * 1e-5 + 1.0;
  o.ErrorPropagationToSw = has(20) && at(20) > 0;
  w.CheckMenuItem(cmd::ErrorPropagationToSw, o.ErrorPropagationToSw);
  if (has(21)) {
    CurrentDataTypeFlags().excludeSpikes = at(21) > 0;
    w.CheckMenuItem(cmd::DontLoadSpikes, CurrentDataTypeFlags().excludeSpikes);
  }
  if (has(22) && at(22) > 0) CurrentDataTypeFlags().absorbanceSpikeThreshold = static_cast<float>(at(22));
  if (has(23) && at(23) > 0) CurrentDataTypeFlags().fluorescenceSpikeThreshold = static_cast<float>(at(23));
  if (has(24)) {
    CurrentDataTypeFlags().flagTooStrongGradients = at(24) > 0;
    w.CheckMenuItem(cmd::FlagTooStrongGradients, CurrentDataTypeFlags().flagTooStrongGradients);
  }
  if (!has(kPreferenceLines)) rewrite = true;

  if (rewrite) {
    CallService(Services().playSoundOk);
    SaveParameterPreferences(w);
  }
  return 1;
}

int SaveParameterPreferences(TXLAWindow& w) {
  (void)w;
  const ProgramOptions& o = Options();
  // Written whole under a temporary name and renamed into place: programs
  // that share the program folder (parallel unattended runs) never read a
  // half-written file.
  const bool ok = platform::WriteThroughTemporary(ParamsIniPath(), [&](const std::string& temporary) {
    std::FILE* f = std::fopen(temporary.c_str(), "w");
    if (!f) return false;
    auto flag = [&](bool b) { std::fputs(b ? "1\n" : "0\n", f); };
    flag(o.DisclaimerAccepted);
    std::fprintf(f, "%.4f\n", CurrentScanSet().radialResolution);
    flag(o.FitRedrawResidualsBitmap);
    flag(o.FitRedrawResidualsPlot);
    flag(o.FitRedrawDataPlot);
    flag(o.FitRedrawDistributionPlot);
    flag(SoundState.soundsOn);
    flag(o.ScanColorFromTime);
    flag(o.InfoWizardMessages);
    std::fprintf(f, "%d\n", Conti().maxEntropy ? 1 : Conti().secondDerivative ? 2 : 3);
    flag(o.IntegrationRangesFromFile);
    std::fprintf(f, "%d\n", Conti().multipleThreads ? Conti().normalEquationThreads : 0);
    std::fprintf(f, "%d\n", CurrentFitMethod());
    flag(Conti().suppressBaselineCorrelation);
    std::fprintf(f, "%d\n", o.LammThreadCount);
    std::fprintf(f, "%.1f\n", o.FitUpdateInterval);
    flag(o.AlwaysLoadG2m1);
    std::fprintf(f, "%d\n", ToleranceLine(o.TimeStampTolerance, o.TimeStampCheck));
    std::fprintf(f, "%d\n", ToleranceLine(o.TimeStampTolerance, true));
    flag(o.ErrorPropagationToSw);
    flag(CurrentDataTypeFlags().excludeSpikes);
    std::fprintf(f, "%.3e\n", CurrentDataTypeFlags().absorbanceSpikeThreshold);
    std::fprintf(f, "%.3e\n", CurrentDataTypeFlags().fluorescenceSpikeThreshold);
    flag(CurrentDataTypeFlags().flagTooStrongGradients);
    return std::fclose(f) == 0;
  });
  if (!ok) {
    CallService(Services().playSoundInfo);
    platform::Tell("ERROR",
                   "could not write to disk into directory " + ParamsIniPath() +
                       " \nPlease generate directory or make write-accessible",
                   platform::BoxIcon::Error);
    return 0;
  }
  return 1;
}

int SetParameterPreference(TXLAWindow& w, int index, int value) {
  (void)w;
  bool opened = false;
  std::vector<double> v = ReadPreferenceNumbers(ParamsIniPath(), &opened);
  if (!opened || v.empty() || index < 0 || static_cast<int>(v.size()) < index + 1) return 0;
  v[static_cast<std::size_t>(index)] = static_cast<float>(value);
  const bool ok = platform::WriteThroughTemporary(ParamsIniPath(), [&v](const std::string& temporary) {
    std::FILE* f = std::fopen(temporary.c_str(), "w");
    if (!f) return false;
    for (double x : v) std::fprintf(f, "%f\n", static_cast<float>(x));
    return std::fclose(f) == 0;
  });
  return ok ? 1 : 0;
}
