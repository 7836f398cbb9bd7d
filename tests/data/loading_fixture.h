#pragma once
// Every loading test starts from an empty scan set, default switches and a
// scripted user interface.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/load_hooks.h"
#include "data/realtime_update.h"
#include "data/rotor_speed_profile.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "platform/scripted_ui.h"
#include "tests/data/loading_test_support.h"

class LoadingTest : public ::testing::Test {
 protected:
  LoadingTest() : scoped_(ui) { Reset(); }
  ~LoadingTest() override { Reset(); }

  static void Reset() {
    FreeScanData();
    FreeInitialDataScan(CurrentScanSet());
    FreeFileNameList();
    ResetLoadTargets();
    ResetLoadHooks();
    CurrentSpeedProfile.Clear();
    CurrentRealtimeState() = RealtimeState{};
    ScanSet& s = CurrentScanSet();
    s.equilibriumMode = 0;
    s.oldFileNameConvention = 0;
    s.mixedTypes = 0;
    s.leftFitLimit = s.rightFitLimit = s.enteredLeftFitLimit = s.enteredRightFitLimit = 0;
    s.loadEvery = 1;
    s.radialResolution = 0.001f;
    s.initialData.polynomialOrder = 1;
    s.initialData.extrapolationDistance = 1.0f;
    CurrentDataTypeFlags() = DataTypeFlags{};
    CurrentDataPaths() = LoadedDataPaths{};
  }

  std::string Name(int number, const std::string& extension = ".RA1") const {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%05d", number);
    return buffer + extension;
  }

  // Writes scans numbered 1..n with the given elapsed times.
  std::vector<std::string> WriteSeries(const std::vector<double>& times,
                                       const std::string& extension = ".RA1") {
    std::vector<std::string> names;
    for (std::size_t k = 0; k < times.size(); ++k) {
      auto scan = loading_test::MakeScan(5.9f, 0.01f, 121, [&](float r) {
        return 0.1 + 0.5 * (r - 5.9) + 0.01 * static_cast<double>(k);
      });
      scan.time = times[k];
      if (extension[1] == 'I' || extension[1] == 'i') scan.type = 'P';
      names.push_back(Name(static_cast<int>(k) + 1, extension));
      loading_test::WriteScan(dir / names.back(), scan);
    }
    return names;
  }

  void ExpectNoFailures() {
    for (const std::string& f : ui.failures) ADD_FAILURE() << f;
  }

  loading_test::TempFolder dir;
  platform::ScriptedUserInterface ui;

 private:
  platform::ScopedUI scoped_;
};
