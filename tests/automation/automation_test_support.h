#pragma once
// Shared pieces of the automation tests: a scratch folder removed at the
// end, parameter-file texts, and a prepared scan set whose result files can
// be predicted exactly.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "automation/automation_run.h"
#include "automation/commands.h"
#include "data/load_hooks.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "numerics/arrays.h"
#include "platform/fatal_error.h"
#include "platform/scripted_ui.h"
#include "tests/support/data_state.h"
#include "tests/support/file_text.h"
#include "tests/support/fit_state.h"

namespace autotest {

inline std::string ReadFile(const std::filesystem::path& p) { return teststate::FileText(p); }

inline void WriteFile(const std::filesystem::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
}

// The required elements, each on its own line.
inline std::string RequiredElements(const std::string& out = "out", const std::string& data = "data") {
  return "<AllDoneFlagFile>" + out + "/done.flag</AllDoneFlagFile>\n"
         "<OutputResultsDirectory>" + out + "</OutputResultsDirectory>\n"
         "<DataDirectory>" + data + "</DataDirectory>\n"
         "<PassThrough>batch 7</PassThrough>\n"
         "<Channel>RA1</Channel>\n"
         "<FirstScan>1</FirstScan>\n"
         "<LastScan>10</LastScan>\n"
         "<ScanInterval>1</ScanInterval>\n"
         "<Model>cofs</Model>\n";
}

// The required elements with the Model line replaced by line ("" drops it).
inline std::string RequiredElementsWithModel(const std::string& line) {
  std::string body = RequiredElements();
  const std::size_t at = body.find("<Model>");
  return body.replace(at, body.find('\n', at) + 1 - at, line);
}

inline std::string Wrap(const std::string& body) {
  return "<?xml version=\"1.0\"?>\n<Parameters>\n" + body + "</Parameters>\n";
}

class Scratch : public ::testing::Test {
 protected:
  Scratch() : scoped_(ui) {
    ui.lenient = true;
    dir = std::filesystem::temp_directory_path() /
          ("tarnel_automation_" + std::to_string(::getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  ~Scratch() override { std::filesystem::remove_all(dir); }

  std::filesystem::path Put(const std::string& name, const std::string& text) {
    WriteFile(dir / name, text);
    return dir / name;
  }

  platform::ScriptedUserInterface ui;
  std::filesystem::path dir;

 private:
  platform::ScopedUI scoped_;
};

// Empties the scan set and puts the model records back to their defaults.
inline void ResetAnalysisState() {
  teststate::ResetDataState();
  teststate::ResetFitState();
  // Every array of the run before (the prior's too), not only the two the
  // tests read: a run of the next test would leave them unreachable.
  FreeDistributionArrays();
  ContiSettings& c = Conti();
  c.sValues = c.distribution = nullptr;
  c.gridSize = 0;
  // The scalar settings the tests read; the arrays of a run stay allocated.
  const ContiSettings fresh;
  c.resolution = fresh.resolution;
  c.sMin = fresh.sMin;
  c.sMax = fresh.sMax;
  c.ffValue = fresh.ffValue;
  c.fitFfValue = fresh.fitFfValue;
  c.confidenceLevel = fresh.confidenceLevel;
  c.logSpacedGrid = fresh.logSpacedGrid;
  c.gridFromFile = fresh.gridFromFile;
  c.maxEntropy = fresh.maxEntropy;
  c.secondDerivative = fresh.secondDerivative;
  c.showBothRegularizations = fresh.showBothRegularizations;
  c.suppressBaselineCorrelation = fresh.suppressBaselineCorrelation;
  c.multipleThreads = fresh.multipleThreads;
  c.normalEquationThreads = fresh.normalEquationThreads;
  ResetAutomation();
  platform::ResetQuitRequest();
  platform::SetDrawingUnseen(false);
}

// Scan i (1-based) with n points from r0 in steps dr, its signal and model
// given per radius.
template <typename Signal, typename Model>
inline void PutScan(int i, int n, float r0, float dr, Signal signal, Model model) {
  ScanSet& s = CurrentScanSet();
  s.points[i] = n;
  s.radii[i] = vector(1, n);
  s.signals[i] = vector(1, n);
  s.model[i] = vector(1, n);
  for (int k = 1; k <= n; ++k) {
    const float r = r0 + dr * static_cast<float>(k - 1);
    s.radii[i][k] = r;
    s.signals[i][k] = signal(r);
    s.model[i][k] = model(r);
  }
}

// The current distribution: n grid points s and values c.
inline void PutDistribution(const std::vector<float>& sv, const std::vector<float>& cv) {
  ContiSettings& c = Conti();
  c.gridSize = static_cast<int>(sv.size());
  c.sValues = vector(1, c.gridSize);
  c.distribution = vector(1, c.gridSize);
  for (int i = 1; i <= c.gridSize; ++i) {
    c.sValues[i] = sv[static_cast<std::size_t>(i - 1)];
    c.distribution[i] = cv[static_cast<std::size_t>(i - 1)];
  }
}

}  // namespace autotest
