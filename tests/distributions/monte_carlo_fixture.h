#pragma once
// Measured data for a Monte-Carlo series of c(s) runs: the grid 1..10 S in
// 0.25 S steps, f/f0 1.25, Tikhonov-Phillips at P = 0.68 on one thread,
// scans simulated by the run itself from the given grid peaks plus seeded
// Gaussian noise of 0.01, in a folder of the test's own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "distributions/monte_carlo.h"
#include "fit/serial_fit_settings.h"
#include "numerics/random.h"
#include "platform/input_events.h"
#include "run_test_support.h"
#include "tests/support/temp_folder.h"

namespace runtest {

class MonteCarloFixture : public ::testing::Test {
 protected:
  struct Setting {
    int scans, points;
    std::vector<std::pair<int, float>> peaks;  // grid point, amount
    unsigned noiseSeed, generatorSeed;
  };
  explicit MonteCarloFixture(Setting setting)
      : setting_(std::move(setting)), e_{setting_.scans, setting_.points} {}

  void SetUp() override {
    CurrentScanSet().dataFolder = folder_.string() + "/";
    SetGrid(1.0f, 10.0f, 37);
    Conti().ffValue = 1.25f;
    Conti().maxEntropy = 0;
    Conti().confidenceLevel = 0.68f;
    Conti().multipleThreads = 0;
    ASSERT_TRUE(MakeSyntheticData(e_, setting_.peaks));
    e_.AddGaussianNoise(0.01f, setting_.noiseSeed);
    CurrentDataTypeFlags().absorbance = 1;
    SeedRandomGenerators(setting_.generatorSeed);
    platform::ClearInput();
    platform::StopFlag() = false;
  }
  void TearDown() override {
    MonteCarloDisplay() = MonteCarloDisplayHooks{};
    EndMonteCarlo();
    DataTypeFlags& d = CurrentDataTypeFlags();
    d.absorbance = d.intensity = d.interference = 0;
    Conti().silent = 0;
    gSerialFitSettings = SerialFitSettings{};
    platform::ClearInput();
    platform::StopFlag() = false;
  }
  std::string FileName() const { return (folder_ / "mc.dat").string(); }

  Setting setting_;
  Experiment e_;
  teststate::TempFolder scratch_;
  const std::filesystem::path folder_{scratch_.path()};
};

}  // namespace runtest
