#include "platform/diagnostics.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include "platform/scripted_ui.h"
#include "tests/support/file_text.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

using teststate::FileText;

// The log lives in the temporary folder; each test gets a folder of its own.
class Diagnostics : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* t = std::getenv("TMPDIR")) savedTmp_ = t;
    setenv("TMPDIR", folder_.c_str(), 1);
    auto& s = platform::DiagnosticsState();
    s.DiagnosticsOn = false;
    s.haveFileName = s.haveBanner = s.DiagLogOpened = false;
    s.DiagFileName.clear();
    s.DiagBanner.clear();
    log_ = platform::DiagnosticsLogPath();
  }
  void TearDown() override {
    // The next test in this process keeps the temp folder it started with.
    if (savedTmp_.empty())
      unsetenv("TMPDIR");
    else
      setenv("TMPDIR", savedTmp_.c_str(), 1);
  }
  teststate::TempFolder scratch_;
  const fs::path folder_{scratch_.path()};
  std::string savedTmp_;
  std::string log_;
};

const char* const kBanner = "\nstarting new tarnel debugging session for thread #0";

TEST_F(Diagnostics, OffWritesNothingAndMakesNoBuffer) {
  EXPECT_EQ(log_, (folder_ / ("Tarneldebug_t0_" + std::to_string(getpid()) + ".txt")).string());
  platform::WriteDiagnostics("\nEnter LoadAllData");
  EXPECT_FALSE(fs::exists(log_));
  EXPECT_FALSE(platform::DiagnosticsState().haveFileName);
  EXPECT_FALSE(platform::DiagnosticsState().haveBanner);
}

TEST_F(Diagnostics, SwitchingOnEmptiesTheLogThenBannerAndTextsFollow) {
  std::ofstream(log_) << "old";
  ASSERT_TRUE(platform::ToggleDiagnosticsOutput());
  EXPECT_TRUE(platform::DiagnosticsState().DiagnosticsOn);
  EXPECT_EQ(FileText(log_), "");
  platform::WriteDiagnostics("\nEnter LoadAllData");
  platform::WriteDiagnostics(" --> 100% done.");
  platform::WriteDiagnostics(nullptr);
  EXPECT_EQ(FileText(log_), std::string(kBanner) + "\nEnter LoadAllData --> 100% done.");

  // Off and on again: emptied once more, no new banner, later texts appended.
  ASSERT_TRUE(platform::ToggleDiagnosticsOutput());
  EXPECT_FALSE(platform::DiagnosticsState().DiagnosticsOn);
  platform::WriteDiagnostics("\nlost while off");
  ASSERT_TRUE(platform::ToggleDiagnosticsOutput());
  platform::WriteDiagnostics("\nagain");
  EXPECT_EQ(FileText(log_), "\nagain");
}

TEST_F(Diagnostics, AMissingFolderIsReportedAndNothingIsSwitched) {
  setenv("TMPDIR", (folder_ / "absent").c_str(), 1);
  platform::ScriptedUserInterface ui;
  ui.ExpectBox("Error", "to write debugging info: Create Directory");
  platform::ScopedUI scope(ui);
  EXPECT_FALSE(platform::ToggleDiagnosticsOutput());
  EXPECT_FALSE(platform::DiagnosticsState().DiagnosticsOn);
  EXPECT_TRUE(ui.failures.empty());
  EXPECT_EQ(ui.beeps, 1);
}

}  // namespace

