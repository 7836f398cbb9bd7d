#pragma once
// A window with closed-form equilibrium scans loaded as equilibrium data,
// ready for the M* analysis, and a clipboard that keeps every table.
#include <memory>
#include <string>
#include <vector>

#include "app/commands/equilibrium/mstar_commands.h"
#include "equilibrium/mstar/mstar_state.h"
#include "platform/clipboard.h"
#include "road_support.h"
#include "tests/equilibrium/mstar_profiles.h"

using namespace mstar_test;

// Every table written, with the number of boxes shown before it.
class TableClipboard : public platform::MemoryClipboard {
 public:
  explicit TableClipboard(const platform::ScriptedUserInterface& ui) : ui_(ui) {}
  bool SetText(const std::string& text) override {
    tables.push_back({text, ui_.transcript.size()});
    return MemoryClipboard::SetText(text);
  }
  struct Table {
    std::string text;
    size_t boxesBefore;
  };
  std::vector<Table> tables;

 private:
  const platform::ScriptedUserInterface& ui_;
};

class MStarWindowTest : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    CurrentMStarState() = MStarState{};
    clipboard_ = std::make_unique<TableClipboard>(*ui_);
    platform::SetClipboard(clipboard_.get());
  }
  void TearDown() override {
    if (window_) ResetMStarAnalysis(*window_);
    platform::SetClipboard(nullptr);
    RoadTest::TearDown();
    CurrentMStarState() = MStarState{};
  }

  // The profiles as files 00001.RA1 ... loaded by "load sedimentation equilibrium data".
  void LoadEquilibrium(const std::vector<Profile>& profiles) {
    std::vector<std::string> paths;
    for (size_t k = 0; k < profiles.size(); ++k) {
      char name[32];
      std::snprintf(name, sizeof name, "%05d.RA1", static_cast<int>(k) + 1);
      paths.push_back((dir_ / name).string());
      WriteProfileFile(paths.back(), profiles[k], cell_);
    }
    TXLAWindow& w = Window();
    gModelParams.meniscus = static_cast<float>(cell_.meniscus);
    gModelParams.bottom = static_cast<float>(cell_.bottom);
    ui_->lenient = true;  // the loader's advice boxes are its own tests' business
    ui_->ExpectFiles("select files in set 1 to fit", Chosen(paths));
    w.CmLoadEquilibriumData();
    ui_->lenient = false;
    ui_->transcript.clear();
    ui_->failures.clear();
    ASSERT_EQ(CurrentScanSet().count, static_cast<int>(profiles.size()));
    ASSERT_TRUE(CurrentScanSet().equilibriumMode);
    CurrentScanSet().leftFitLimit = static_cast<float>(cell_.left);
    CurrentScanSet().rightFitLimit = static_cast<float>(cell_.right);
    gModelParams.meniscus = gModelParameterVector.P[13] = static_cast<float>(cell_.meniscus);
    gModelParams.bottom = gModelParameterVector.P[14] = static_cast<float>(cell_.bottom);
    gModelParams.baseline = static_cast<float>(cell_.baseline);
    gModelParams.riNoiseFit = 0;
    gSolutionConditions.vbarRho = 0.73f;
    gSolutionConditions.temperature = static_cast<float>(kT);
  }

  Cell cell_;
  std::unique_ptr<TableClipboard> clipboard_;
};

