#include "app/startup/startup.h"
#include "app/window/program_options.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "automation/automation_run.h"
#include "numerics/arrays.h"
#include "platform/fatal_error.h"
#include "platform/program_paths.h"
#include "platform/scripted_ui.h"
#include "tests/support/file_text.h"

namespace {

namespace fs = std::filesystem;
using platform::ProgramPaths;


// A program folder of its own per test, named by $TARNEL_HOME.
class StartUp : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::temp_directory_path() /
            ("tarnel_home_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(home_);
    fs::create_directories(home_);
    folder_ = home_.string() + "/";
    if (const char* h = std::getenv("TARNEL_HOME")) savedHome_ = h;
    setenv("TARNEL_HOME", home_.c_str(), 1);
    platform::ResetQuitRequest();
    // No window of the program: each test installs the one it starts.
    SetMainWindowFactory(nullptr);
    // Start-up points every program path into the folder that goes with the test.
    savedPaths_ = ProgramPaths;
  }
  void TearDown() override {
    SetMainWindowFactory(nullptr);
    if (savedHome_.empty())
      unsetenv("TARNEL_HOME");
    else
      setenv("TARNEL_HOME", savedHome_.c_str(), 1);
    fs::remove_all(home_);
    platform::ResetQuitRequest();
    ProgramPaths = savedPaths_;
  }
  int Start(std::vector<std::string> args) {
    args.insert(args.begin(), "/opt/elsewhere/tarnel");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return OwlMain(static_cast<int>(args.size()), argv.data());
  }
  fs::path home_;
  std::string folder_;
  std::string savedHome_;
  platform::ProgramPathsRecord savedPaths_;
};

TEST_F(StartUp, FirstStartInAnEmptyFolderCreatesTempAndTheLastFolderFile) {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  // The sibling program is missing: start-up says nothing about it.
  const std::string savedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", (home_ / "nothing-here").c_str(), 1);
  EXPECT_EQ(Start({}), 0);
  EXPECT_EQ(ProgramPaths.SiblingProgramPath, folder_ + "morlean");
  EXPECT_TRUE(ui.transcript.empty());
  // Found on PATH when the program folder lacks it.
  fs::create_directories(home_ / "bin");
  std::ofstream(home_ / "bin" / "morlean") << "x";
  setenv("PATH", ("/no/such:" + (home_ / "bin").string()).c_str(), 1);
  EXPECT_EQ(Start({}), 0);
  EXPECT_EQ(ProgramPaths.SiblingProgramPath, (home_ / "bin" / "morlean").string());
  setenv("PATH", savedPath.c_str(), 1);
  EXPECT_TRUE(ui.failures.empty());
  EXPECT_TRUE(ui.AllConsumed());
  EXPECT_TRUE(fs::is_directory(home_ / "temp"));
  EXPECT_EQ(teststate::FileText(home_ / "tarnel.ini"), folder_) << "the folder, without a line end";

  EXPECT_EQ(ProgramPaths.ProgramFolder, folder_);
  EXPECT_EQ(ProgramPaths.ParamsIniPath, folder_ + "tarnelparams.ini");
  EXPECT_EQ(ProgramPaths.LammParamsIniPath, folder_ + "tarnellammparams.ini");
  EXPECT_EQ(ProgramPaths.SimAppEqParamsIniPath, folder_ + "tarnelsimappeqparams.ini");
  EXPECT_EQ(ProgramPaths.TempFolder, folder_ + "temp/");
  EXPECT_EQ(ProgramPaths.LastFolderIniPath, folder_ + "tarnel.ini");
  EXPECT_EQ(ProgramPaths.SoundFilePaths[platform::kSoundError], folder_ + "sounds/error.wav");
  EXPECT_EQ(ProgramPaths.SoundFilePaths[platform::kSoundBeer], folder_ + "sounds/beer.wav");
  EXPECT_EQ(ProgramPaths.WormChainMofsTablePath, folder_ + "~WormChain_mofs.dat");
  for (const std::string* inTemp : {&ProgramPaths.DistribFilePath, &ProgramPaths.BoundaryFractsPath,
                                    &ProgramPaths.NonIdCtotTablePath})
    EXPECT_EQ(inTemp->rfind(folder_ + "temp/", 0), 0u) << *inTemp;
  for (const std::string* inFolder :
       {&ProgramPaths.MofsTablePath, &ProgramPaths.ViscosityTablePath, &ProgramPaths.DensityTablePath,
        &ProgramPaths.SnonidTablePath, &ProgramPaths.DnonidTablePath,
        &ProgramPaths.IntegrationRangesPath[0], &ProgramPaths.IntegrationRangesPath[1]})
    EXPECT_EQ(fs::path(*inFolder).parent_path(), home_) << *inFolder;
  EXPECT_EQ(CommandLineArgs.ArgCount, 0);
  EXPECT_EQ(CommandLineArgs.ArgCopies, nullptr);
  EXPECT_NE(WizardFooter.find("Help->Info and Wizard Messages"), std::string::npos);
}

TEST_F(StartUp, ASecondStartKeepsTheLastFolderFileAndFindsTheSibling) {
  std::ofstream(home_ / "morlean") << "x";
  std::ofstream(home_ / "tarnel.ini") << "/data/last/";
  platform::ScriptedUserInterface ui;  // no box expected
  platform::ScopedUI scope(ui);
  EXPECT_EQ(Start({"first.xml", "second"}), 0);
  EXPECT_TRUE(ui.failures.empty());
  EXPECT_EQ(teststate::FileText(home_ / "tarnel.ini"), "/data/last/");
  ASSERT_EQ(CommandLineArgs.ArgCount, 2);
  EXPECT_EQ(CommandLineArgs.ArgCopies[0], nullptr);
  EXPECT_STREQ(CommandLineArgs.ArgCopies[1], "first.xml");
  EXPECT_STREQ(CommandLineArgs.ArgCopies[2], "second");
}

TEST_F(StartUp, AnUncreatableTempFolderIsReportedAndStartUpGoesOn) {
  fs::path missing = home_ / "not" / "there";
  setenv("TARNEL_HOME", missing.c_str(), 1);
  const std::string folder = missing.string() + "/";
  platform::ScriptedUserInterface ui;
  ui.ExpectBox("ERROR", "could not create " + folder + "temp");
  // The last folder's file cannot be made there either, and that is said too.
  ui.ExpectBox("Error", "could not write " + folder + "tarnel.ini - the folder of the last file is not kept");
  platform::ScopedUI scope(ui);
  EXPECT_EQ(Start({}), 0);
  EXPECT_TRUE(ui.failures.empty());
  EXPECT_EQ(ProgramPaths.TempFolder, folder + "temp/");
  EXPECT_FALSE(fs::exists(missing / "tarnel.ini"));
}

class FakeWindow : public IMainWindow {
 public:
  explicit FakeWindow(int code) : code_(code) {}
  int RunMessageLoop() override { return code_; }

 private:
  int code_;
};

TEST_F(StartUp, TheRegisteredWindowRunsTheLoopAndGivesTheExitCode) {
  std::ofstream(home_ / "morlean") << "x";
  std::string title;
  SetMainWindowFactory([&](const std::string& t) {
    title = t;
    EXPECT_FALSE(ProgramPaths.TempFolder.empty()) << "paths exist before the window";
    return std::make_unique<FakeWindow>(7);
  });
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  EXPECT_EQ(Start({}), 7);
  EXPECT_EQ(title, "Sedimentation Analysis");

  // Without a display the window is made but its loop is not entered.
  platform::SetHeadless(true);
  title.clear();
  EXPECT_EQ(Start({}), 0);
  EXPECT_EQ(title, "Sedimentation Analysis");
  platform::SetHeadless(false);
}

TEST_F(StartUp, AFatalErrorDuringStartUpEndsTheRunWithoutEscaping) {
  std::ofstream(home_ / "morlean") << "x";
  SetMainWindowFactory([](const std::string&) -> std::unique_ptr<IMainWindow> {
    nrerror("allocation failure 2 in matrix()");
  });
  platform::ScriptedUserInterface ui;
  ui.ExpectBox("Error", "allocation failure 2 in matrix()");
  platform::ScopedUI scope(ui);
  EXPECT_EQ(Start({}), 0);
  EXPECT_TRUE(platform::QuitRequested());
  EXPECT_TRUE(ui.failures.empty());
}

TEST_F(StartUp, AnUnattendedRunCutShortByAnExceptionEndsWithAFailureStatus) {
  // The window's constructor takes the command line and runs the analysis;
  // here it fails the way a run can fail outside any menu command.
  const struct {
    const char* what;
    std::function<void()> raise;
    int status;
    const char* said;
  } cases[] = {
      {"memory", [] { throw std::bad_alloc(); }, 6, "automation failed: out of memory in start-up"},
      {"fatal error", [] { nrerror("allocation failure 2 in matrix()"); }, 4,
       "automation failed: a fatal error in start-up"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    platform::ResetQuitRequest();
    ResetAutomation();
    const fs::path out = home_ / "out";
    std::ofstream(home_ / "params.xml")
        << "<AllDoneFlagFile>" << (out / "done.flag").string() << "</AllDoneFlagFile>\n"
        << "<OutputResultsDirectory>" << out.string() << "</OutputResultsDirectory>\n"
        << "<DataDirectory>" << home_.string() << "</DataDirectory>\n<PassThrough></PassThrough>\n"
        << "<Channel>RA1</Channel>\n<FirstScan>1</FirstScan>\n<LastScan>3</LastScan>\n"
        << "<ScanInterval>1</ScanInterval>\n<Model>cofs</Model>\n";
    SetMainWindowFactory([&](const std::string&) -> std::unique_ptr<IMainWindow> {
      EXPECT_TRUE(TakeAutomationCommandLine(CommandLineArgs.ArgCount, CommandLineArgs.ArgCopies));
      c.raise();
      return nullptr;
    });
    testing::internal::CaptureStderr();
    EXPECT_EQ(Start({(home_ / "params.xml").string()}), c.status);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(c.said), std::string::npos) << said;
    EXPECT_NE(teststate::FileText(out / "automation.log").find(c.said), std::string::npos);
    EXPECT_FALSE(fs::exists(out / "done.flag"));
    EXPECT_FALSE(fs::exists(out / "ResultParameters.xml"));
  }
  ResetAutomation();
}

}  // namespace
