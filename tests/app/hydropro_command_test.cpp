// Command 876 with a stand-in for the outside program: a shell script that
// reads "hydropro.dat" in its current folder and writes "<name>.res".
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/commands/options/hydro_commands.h"
#include "app_fixture.h"
#include "automation/tools/hydropro_files.h"
#include "platform/input_events.h"
#include "tests/support/file_text.h"

namespace {

namespace fs = std::filesystem;

const char* kResults =
    "#!/bin/sh\nname=$(head -n 1 hydropro.dat)\n"
    "printf 'HYDROPRO results\\n *** few beads for %s\\nSedimentation coefficient:   2.061E+00 S\\nend\\n' "
    "\"$name\" > \"$name.res\"\n";

class HydroProCommand : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    WriteAgreedDefaults();
    window_ = MakeWindow();
    ui_->transcript.clear();
    ui_->lenient = true;  // the notes and questions are answered OK and Yes
    processes_.runChildren = true;
    HydroProConfig() = HydroProSettings{};
  }
  void TearDown() override {
    window_.reset();
    platform::ClearInput();
    HydroProConfig() = HydroProSettings{};
    AppTest::TearDown();
  }
  void WriteProgram(const std::string& script) {
    const fs::path exe = dir_ / "hydropro";
    std::ofstream(exe) << script;
    fs::permissions(exe, fs::perms::owner_all);
  }
  void Structure(const std::string& name) { std::ofstream(dir_ / name) << "ATOM      1  N   LYS A   1\n"; }
  // The answers to the parameter prompts in their order.
  void Answer(const std::vector<std::pair<std::string, std::string>>& prompts) {
    for (const auto& [prompt, reply] : prompts) ui_->ExpectPrompt("HYDROPRO parameters", prompt, reply);
  }
  void Defaults(const std::string& nsig = "-1") {
    Answer({{"AER (Angstroms)", "3.2"}, {"NSIG", nsig}});
    Answer({{"temperature (K)", "293.15"},
            {"solvent density (g/ml)", "0.99823"},
            {"solvent viscosity (Poise)", "0.01002"},
            {"molecular weight (Da)", "-1.0"},
            {"partial-specific volume (ml/g)", "0.73"}});
  }
  std::string LastBox() const { return ui_->transcript.back().text; }
  std::unique_ptr<TXLAWindow> window_;
};

TEST_F(HydroProCommand, RunsTheProgramInAFreshFolderAndSummarisesItsResults) {
  WriteProgram(kResults);
  Structure("teststruct.pdb");
  const fs::path before = fs::current_path();
  Defaults();
  window_->Dispatch(876);
  EXPECT_TRUE(ui_->AllConsumed());
  const fs::path folder = dir_ / "HydroPro" / "teststruct";
  EXPECT_EQ(teststate::FileText(folder / "hydropro.dat"),
            "teststruct\nteststruct\nteststruct.pdb\n3.20,\t\t!AER, radius of atomic elements\n-1,\t\t!NSIG\n"
            "293.1,\t\t!Temperature (K)\n0.01002,\t\t!Solvent viscosity (Poise)\n-1.0,\t\t!Mw (Da)\n"
            "0.7300,\t\t!vbar (ml/g)\n0.99823,\t\t!Solvent density (g/ml)\n0,\n0,\n0,\n0,\n*                   ");
  EXPECT_TRUE(fs::exists(folder / "teststruct.pdb"));
  EXPECT_EQ(ui_->transcript.back().caption, "HYDROPRO RESULTS");
  EXPECT_EQ(LastBox().rfind("Error Messages:\n*** few beads for teststruct\n\n\nSedimentation coefficient:   2.061E+00 S"
                            "\n\n(Compare experimental s-values",
                            0),
            0u)
      << LastBox();
  EXPECT_EQ(fs::current_path(), before);
  EXPECT_EQ(processes_.calls.back(), "edit " + (folder / "teststruct.res").string());
}

TEST_F(HydroProCommand, ASecondRunOnTheSameStructureGetsAFolderOfItsOwn) {
  WriteProgram(kResults);
  Structure("lyso.pdb");
  fs::create_directories(dir_ / "HydroPro" / "lyso");
  ui_->ExpectFiles("please select the pdb file", {true, {(dir_ / "lyso.pdb").string()}});
  Answer({{"AER (Angstroms)", "3.2"}, {"NSIG", "1.7"}, {"SIGMIN", "1.5"}, {"SIGMAX", "2.5"}});
  Answer({{"temperature (K)", "293.15"},
          {"solvent density (g/ml)", "0.99823"},
          {"solvent viscosity (Poise)", "0.01002"},
          {"molecular weight (Da)", "14305"},
          {"partial-specific volume (ml/g)", "0.73"}});
  window_->Dispatch(876);
  EXPECT_TRUE(ui_->AllConsumed());
  const std::string dat = teststate::FileText(dir_ / "HydroPro" / "lyso_" / "hydropro.dat");
  EXPECT_NE(dat.find("\n2,\t\t!NSIG\n1.50,\t\t!NSIG\n2.50,\t\t!NSIG\n293.1,"), std::string::npos) << dat;
  EXPECT_NE(dat.find("14305.0,\t\t!Mw (Da)\n"), std::string::npos);
  EXPECT_TRUE(fs::exists(dir_ / "HydroPro" / "lyso_" / "lyso.res"));
}

TEST_F(HydroProCommand, NegativeNsigBelowZeroSkipsTheMinibeadRadii) {
  WriteProgram(kResults);
  Structure("teststruct.pdb");
  Defaults("-0.5");
  window_->Dispatch(876);
  EXPECT_TRUE(ui_->AllConsumed());
  for (const auto& t : ui_->transcript)
    if (t.kind == platform::InteractionKind::Prompt) {
      EXPECT_EQ(t.text.find("SIGM"), std::string::npos);
    }
  const std::string dat = teststate::FileText(dir_ / "HydroPro" / "teststruct" / "hydropro.dat");
  EXPECT_NE(dat.find("-1,\t\t!NSIG\n293.1,"), std::string::npos);
}

TEST_F(HydroProCommand, AMissingProgramIsNamedWithItsFolder) {
  // Without a download address no browser is offered; with one it is.
  for (const std::string url : {"", "https://downloads.invalid/hydropro"}) {
    HydroProConfig().downloadUrl = url;
    ui_->ExpectBox("ERROR", "Could not find HydroPro file \"hydropro\" in folder " + dir_.string() +
                                ".\nPlease locate this file!")
        .ExpectFiles("please locate the file \"hydropro\"", {})
        .ExpectBox("no HYDROPRO file",
                   (url.empty() ? "" : "Would you like to open the HYDROPRO download page in your browser?\n") +
                       std::string("Please save the program into the folder ") + dir_.string(),
                   url.empty() ? platform::IDOK : platform::IDYES);
    ui_->lenient = false;
    processes_.calls.clear();
    window_->Dispatch(876);
    ExpectScriptMet();
    EXPECT_EQ(processes_.calls, url.empty() ? std::vector<std::string>{} : std::vector<std::string>{"url " + url});
    EXPECT_FALSE(fs::exists(dir_ / "HydroPro"));
  }
}

TEST_F(HydroProCommand, ALocatedProgramIsCopiedWholeIntoTheProgramFolderAndRuns) {
  // The program chosen elsewhere takes the place of a cut leftover of an
  // earlier copy only once it stands whole, and keeps its right to run.
  const fs::path elsewhere = dir_ / "downloads";
  fs::create_directories(elsewhere);
  std::ofstream(elsewhere / "hydropro") << kResults;
  fs::permissions(elsewhere / "hydropro", fs::perms::owner_all);
  std::ofstream(dir_ / "hydropro.copying") << "#!/bin/sh\n";  // cut short by a crash
  Structure("teststruct.pdb");
  ui_->ExpectFiles("please locate the file \"hydropro\"", {true, {(elsewhere / "hydropro").string()}});
  Defaults();
  window_->Dispatch(876);
  EXPECT_TRUE(ui_->AllConsumed());
  EXPECT_EQ(teststate::FileText(dir_ / "hydropro"), kResults);
  EXPECT_NE(fs::status(dir_ / "hydropro").permissions() & fs::perms::owner_exec, fs::perms::none);
  EXPECT_FALSE(fs::exists(dir_ / "hydropro.copying"));
  EXPECT_TRUE(fs::exists(dir_ / "HydroPro" / "teststruct" / "teststruct.res"));
  EXPECT_EQ(ui_->transcript.back().caption, "HYDROPRO RESULTS");
}

TEST_F(HydroProCommand, TheGuideAndPaperAreOfferedOnlyWithAnAddressAndDefaultToNo) {
  WriteProgram(kResults);
  Structure("teststruct.pdb");
  for (const bool known : {false, true}) {
    if (known) {
      HydroProConfig().userGuideUrl = "https://docs.invalid/guide";
      HydroProConfig().paperUrl = "https://docs.invalid/paper";
    }
    ui_->transcript.clear();
    processes_.calls.clear();
    Defaults();
    window_->Dispatch(876);
    EXPECT_TRUE(ui_->AllConsumed());
    std::vector<std::string> offers;
    for (const auto& t : ui_->transcript)
      if (t.text.find("Would you like to open") != std::string::npos) {
        EXPECT_EQ(t.caption, "no HYDROPRO file");
        EXPECT_EQ(t.buttons, platform::BoxButtons::YesNoDefaultNo);
        EXPECT_EQ(t.answer, std::to_string(platform::IDNO));
        offers.push_back(t.text);
      }
    const std::vector<std::string> expected = {"Would you like to open the HYDROPRO user guide?",
                                               "Would you like to open the HYDROPRO reference paper?"};
    EXPECT_EQ(offers, known ? expected : std::vector<std::string>{});
    for (const std::string& call : processes_.calls) EXPECT_NE(call.rfind("url ", 0), 0u) << call;
  }
}

TEST_F(HydroProCommand, AKeyAnsweredYesStopsAHangingProgram) {
  WriteProgram("#!/bin/sh\nsleep 30\n");
  Structure("teststruct.pdb");
  Defaults();
  ui_->ExpectBox("HYDROPRO", "stop HYDROPRO?", platform::IDYES);
  platform::PostKeyDown('q');
  window_->Dispatch(876);
  EXPECT_TRUE(ui_->AllConsumed());
  for (const auto& t : ui_->transcript) EXPECT_NE(t.caption, "HYDROPRO RESULTS");
}

TEST_F(HydroProCommand, ShortOrMissingResults) {
  WriteProgram("#!/bin/sh\nprintf '**' > teststruct.res\n");
  Structure("teststruct.pdb");
  Defaults();
  window_->Dispatch(876);
  EXPECT_EQ(LastBox().rfind("no \"Sedimentation coefficient:\" line in the results file\n\n(Compare", 0), 0u)
      << LastBox();

  WriteProgram("#!/bin/sh\nexit 0\n");
  Defaults();
  window_->Dispatch(876);
  EXPECT_EQ(LastBox(), "ERROR - no results file created");
}

TEST(HydroProFiles, SummaryOfResultsText) {
  const struct {
    const char* results;
    const char* start;
  } cases[] = {
      {"Sedimentation coefficient: 3.0 S\n", "Sedimentation coefficient: 3.0 S\n\n(Compare"},
      // The search starts at the fourth character.
      {"***x\nab *** one\r\n*** two\nSedimentation coefficient: 1 S",
       "Error Messages:\n*** one\n*** two\n\n\nSedimentation coefficient: 1 S\n\n"},
      {"**", "no \"Sedimentation coefficient:\""},
      {"", "no \"Sedimentation coefficient:\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.results);
    const std::string s = HydroProSummary(c.results);
    EXPECT_EQ(s.rfind(c.start, 0), 0u) << s;
  }
  EXPECT_EQ(NsigOf(1.7f), 2);
  EXPECT_EQ(NsigOf(-0.5f), -1);
  EXPECT_EQ(NsigOf(-3.0f), 2);
  EXPECT_EQ(NsigOf(6.9f), 6);
}

}  // namespace
