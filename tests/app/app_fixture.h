#pragma once
// A clean program state for each test of the main window: preference files
// in a scratch folder, default records, scripted answers, recorded sounds
// and outside programs, headless frame windows.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/commands/distribution/distribution_commands.h"
#include "app/commands/generate/generate_commands.h"
#include "app/window/parameter_preferences.h"
#include "app/plot_input/marker_moves.h"
#include "app/plot_events/plot_mouse.h"
#include "app/window/program_options.h"
#include "app/window/shell_services.h"
#include "app/window/main_window_flags.h"
#include "app/window/txla_window.h"
#include "app/window/window_services.h"
#include "data/scan_set.h"
#include "data/wiener_skew.h"
#include "distributions/conti_settings.h"
#include "fit/fit_engine_state.h"
#include "models/buffer/buffer_sed_settings.h"
#include "models/nonideal/mean_field/ctot_movie.h"
#include "models/nonideal/mean_field/mean_field.h"
#include "numerics/random.h"
#include "platform/sounds.h"
#include "platform/fatal_error.h"
#include "platform/frame_window.h"
#include "platform/process_launcher.h"
#include "platform/program_paths.h"
#include "platform/scripted_ui.h"
#include "tests/support/data_state.h"
#include "tests/support/distribution_state.h"
#include "tests/support/fit_state.h"
#include "tests/support/input_state.h"
#include "tests/support/plot_state.h"
#include "tests/support/file_text.h"

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           (std::string("tarnel_app_") + info->test_suite_name() + "_" + info->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    ParamsIniPath() = (dir_ / "tarnelparams.ini").string();
    LastFolderIniPath() = (dir_ / "tarnel.ini").string();
    ResetProgramRecords();
    platform::SetProcesses(&processes_);
    // The start-up a test runs points every path into that test's folder,
    // which goes with it: the next test starts from the paths it found.
    savedProgramPaths_ = platform::ProgramPaths;
    // The program folder holds the documentation the help command opens.
    platform::ProgramPaths.ProgramFolder = dir_.string() + "/";
    std::ofstream(dir_ / "README.md") << "# help\n";
    ui_ = std::make_unique<platform::ScriptedUserInterface>();
    scope_ = std::make_unique<platform::ScopedUI>(*ui_);
  }

  // Every program-wide record as a fresh process has it (the files in the
  // test's folder stay as they are).
  void ResetProgramRecords() {
    teststate::ResetDataState();
    teststate::ResetFitState();
    teststate::ResetPlotState();
    teststate::ResetDistributionState();
    teststate::ResetInputState();
    Options() = ProgramOptions{};
    DeleteMeanFieldCtot();
    MeanField() = MeanFieldSettings{};
    // Buffer entries an earlier test typed are no entries of this one.
    gBufferSedSettings = BufferSedSettings{};
    SoundState.soundsOn = true;
    // Fits start from a randomly scattered simplex: the same draws in every run.
    SeedGaussRandom(1);
    Services() = ShellServices{};
    CommandLineState() = CommandLineFlags{};
    MenuState() = DynamicMenuState{};
    MenuMarkers() = DynamicMenuMarkers{};
    // A fit an earlier test left unsaved would make closing the window ask.
    WindowFlags() = MainWindowFlags{};
    // The right-button band and the distribution's selection modes as a
    // fresh window has them.
    RangeSelection() = RangeSelectionState{};
    CurrentZoomBand() = ZoomBand{};
    RangeHistory = RangeHistoryRecord{};
    // No marker picked up or dropped: a release would move it.
    MarkerDrag() = MarkerDragState{};
    MarkerHover() = MarkerHoverState{};
    // Generated data an earlier test left would make this test's first
    // load one of another kind, which clears the model chosen.
    GeneratedDataInMemory() = false;
    platform::ResetQuitRequest();
    platform::SetRepaintsMuted(false);
  }

  void TearDown() override {
    scope_.reset();
    platform::SetProcesses(nullptr);
    platform::ResetQuitRequest();
    platform::ProgramPaths = savedProgramPaths_;
    std::filesystem::remove_all(dir_);
  }

  // A preference file holding these lines.
  void WritePreferences(const std::vector<std::string>& lines) {
    std::ofstream out(ParamsIniPath());
    for (const auto& l : lines) out << l << "\n";
  }
  std::vector<std::string> PreferenceLines() const { return teststate::FileLines(ParamsIniPath()); }
  // A complete file that has the disclaimer agreed and everything else at
  // its default.
  void WriteAgreedDefaults() {
    WritePreferences({"1", "0.0010", "0", "0", "0", "0", "0", "1", "1", "1", "0", "2", "1", "1",
                      "2", "1.0", "0", "99", "99", "0", "1", "4.000e-01", "1.000e+02", "1"});
  }
  // The window of a user who agreed the disclaimer and changed nothing.
  std::unique_ptr<TXLAWindow> AgreedWindow() {
    WriteAgreedDefaults();
    return MakeWindow();
  }
  // The window as the start-up builds it, created but not shown.
  std::unique_ptr<TXLAWindow> MakeWindow() {
    auto w = std::make_unique<TXLAWindow>(nullptr, "Sedimentation Analysis");
    if (!platform::QuitRequested()) w->Create();
    return w;
  }
  static platform::HeadlessFrameWindow& Headless(TXLAWindow& w) {
    return dynamic_cast<platform::HeadlessFrameWindow&>(w.Frame());
  }
  // The scripted user met no surprise and every answer scripted was taken.
  void ExpectScriptMet() const {
    EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
    EXPECT_TRUE(ui_->AllConsumed());
  }
  std::vector<std::string> Captions() const {
    std::vector<std::string> c;
    for (const auto& t : ui_->transcript) c.push_back(t.caption);
    return c;
  }

  std::filesystem::path dir_;
  platform::ProgramPathsRecord savedProgramPaths_;
  std::unique_ptr<platform::ScriptedUserInterface> ui_;
  std::unique_ptr<platform::ScopedUI> scope_;
  platform::RecordingProcessLauncher processes_;
};
