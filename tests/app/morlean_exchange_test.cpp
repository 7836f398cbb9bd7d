// The exchange with the sibling analysis program through the window: xp
// files dropped or chosen for loading, and "Export Data to MORLEAN".
#include "road_support.h"

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

#include "automation/exchange/xp_file.h"
#include "data/scan_grid.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/hydrodynamics.h"
#include "tests/support/file_text.h"

namespace {

namespace fs = std::filesystem;

constexpr auto& Lines = teststate::TextLines;

class MorleanExchange : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    savedSibling_ = platform::ProgramPaths.SiblingProgramPath;
    platform::ProgramPaths.SiblingProgramPath = (dir_ / "morlean").string();
  }
  void TearDown() override {
    platform::ProgramPaths.SiblingProgramPath = savedSibling_;
    FreeDistributionArrays();
    RoadTest::TearDown();
  }

  // The example experiment copied into a folder of the scratch folder.
  std::vector<std::string> CopyExample() {
    fs::create_directories(dir_ / "scans");
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(std::string(TARNEL_SOURCE_DIR) + "/examples/cofs"))
      if (e.path().extension() == ".RA1") {
        fs::copy_file(e.path(), dir_ / "scans" / e.path().filename());
        names.push_back(e.path().filename().string());
      }
    std::sort(names.begin(), names.end());
    return names;
  }
  void LoadExample() {
    const auto names = CopyExample();
    Window();
    ASSERT_TRUE(LoadAllData(MakeSelection((dir_ / "scans").string(), names)));
    ASSERT_EQ(CurrentScanSet().count, 36);
  }
  void InstallSibling() {
    std::ofstream(dir_ / "morlean") << "#!/bin/sh\n";
    fs::permissions(dir_ / "morlean", fs::perms::owner_all);
  }

  std::string savedSibling_;
};

TEST_F(MorleanExchange, ExampleWrittenAsXpLoadsTheSameScansAndSettingsIntoAFreshState) {
  LoadExample();
  const ScanSet& s = CurrentScanSet();
  const std::vector<std::string> names(s.fileNames.begin() + 1, s.fileNames.end());
  SolutionConditions& sc = gSolutionConditions;
  sc.density = 1.0123f;
  sc.vbar = 0.7312f;
  sc.viscosity = 1.05f;
  gModelParams.meniscus = 6.0215f;
  gModelParams.bottom = 7.195f;
  gModelParams.meniscusFit = 1;
  gModelParams.riNoiseFit = 1;
  gModelParams.baselineLinear = 1;
  gFitEngineState.fitTINoise = 1;
  gFitEngineState.meniscusMin = 6.001f;
  gFitEngineState.meniscusMax = 6.041f;
  gFitEngineState.bottomMin = 7.181f;
  gFitEngineState.bottomMax = 7.251f;
  CurrentScanSet().leftFitLimit = 6.055f;
  CurrentScanSet().rightFitLimit = 7.105f;
  const std::string xp = (dir_ / "run.xp").string();
  ASSERT_TRUE(WriteMorleanXpFile(xp, true));
  // The example's descriptions begin with "[": an empty description text.
  EXPECT_EQ(Lines(ReadFile(xp))[1], " (exported xp file from TARNEL)");

  FreeScanData();
  gSolutionConditions = SolutionConditions{};
  gModelParams = ModelParams{};
  gFitEngineState = FitEngineState{};
  CurrentScanSet().loadEvery = 3;
  Window().EvDropFiles({xp});
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  ASSERT_EQ(s.count, 36);
  EXPECT_EQ(std::vector<std::string>(s.fileNames.begin() + 1, s.fileNames.end()), names);
  EXPECT_EQ(s.dataFolder, (dir_ / "scans").string());
  EXPECT_EQ(s.loadEvery, 1);
  EXPECT_NEAR(sc.density, 1.0123f, 1e-6);
  EXPECT_NEAR(sc.vbar, 0.7312f, 1e-6);
  EXPECT_NEAR(sc.vbarRho, 1.0123f * 0.7312f, 1e-6);
  EXPECT_NEAR(sc.viscosity, 1.05f, 5e-4);
  EXPECT_NEAR(gModelParams.meniscus, 6.0215f, 1e-6);
  EXPECT_NEAR(gModelParams.bottom, 7.195f, 1e-6);
  EXPECT_NEAR(gFitEngineState.meniscusMin, 6.001f, 1e-6);
  EXPECT_NEAR(gFitEngineState.meniscusMax, 6.041f, 1e-6);
  EXPECT_NEAR(gFitEngineState.bottomMin, 7.181f, 1e-6);
  EXPECT_NEAR(gFitEngineState.bottomMax, 7.251f, 1e-6);
  EXPECT_NEAR(s.leftFitLimit, 6.055f, 1e-6);
  EXPECT_NEAR(s.rightFitLimit, 7.105f, 1e-6);
  EXPECT_EQ(gFitEngineState.fitTINoise, 1);
  EXPECT_EQ(gModelParams.riNoiseFit, 1);
  EXPECT_EQ(gModelParams.baselineLinear, 1);
  EXPECT_EQ(gModelParams.meniscusFit, 1);
  EXPECT_EQ(gModelParams.bottomFit, 0);
  EXPECT_NE(Headless(Window()).Title().find("SEDIMENTATION ANALYSIS -> " + (dir_ / "scans" / "00001.RA1").string()),
            std::string::npos);
}

TEST_F(MorleanExchange, RefusedXpFilesSayWhyAndLoadNothing) {
  const struct {
    const char* name;
    std::string text;
    const char* message;
  } cases[] = {
      {"equilibrium", "3 (ExperimentType: SEDEQUILIBRIUM)\nx\n\"/a\" \" b.RA1\"\n",
       "can only load xp files from sedimentation velocity"},
      {"unquoted", "0 (x)\nx\n/a b.RA1\n", "old XP-file format (use newer version of morlean)"},
      {"cut", "0 (x)\nx\n\"/a\" \" b.RA1\n", "could not read the scan file names of "},
  };
  Window();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = (dir_ / "bad.xp").string();
    std::ofstream(path) << c.text;
    ui_->ExpectBox("ERROR", c.message);
    Window().EvDropFiles({path});
    EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
    EXPECT_EQ(CurrentScanSet().count, 0);
  }
  ui_->ExpectBox("ERROR", "could not open " + (dir_ / "none.xp").string());
  Window().EvDropFiles({(dir_ / "none.xp").string()});
  EXPECT_TRUE(ui_->AllConsumed());

  // Files that do not load take none of the settings.
  const std::string path = (dir_ / "gone.xp").string();
  std::ofstream(path) << "0 (x)\nx\n\"" << (dir_ / "gone").string() << "\" \" a.RA1 b.RA1\"\n1.2 (fBufferDensity)\n";
  ui_->lenient = true;
  Window().EvDropFiles({path});
  EXPECT_EQ(CurrentScanSet().count, 0);
  EXPECT_FLOAT_EQ(gSolutionConditions.density, 1.0f);
}

TEST_F(MorleanExchange, ExportOfTheExampleCsTurnsItsThreePeaksIntoDiscreteSpecies) {
  LoadExample();
  Window().Dispatch(275);  // "Continuous c(s) Distribution"
  forms_.Expect({"Continuous Sedimentation Coefficient Distribution c(s)",
                 {{405, "100"}, {406, "0.5"}, {407, "12"}, {435, "6.0200"}, {437, "7.2000"}},
                 {{431, 1}, {455, 1}, {434, 0}, {436, 0}}});
  Window().Dispatch(212);
  ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  CurrentScanSet().leftFitLimit = 6.05f;
  CurrentScanSet().rightFitLimit = 7.1f;
  CheckLeftFitLimit();
  CheckRightFitLimit();
  Window().Dispatch(213);  // "&Run"
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  ASSERT_NE(Conti().distribution, nullptr);

  InstallSibling();
  const std::string xp = (dir_ / "run.xp").string();
  const char* caption = "make MORLEAN xp file";
  ui_->ExpectFiles("export data as MORLEAN xp file", Chosen({xp}))
      .ExpectPrompt(caption, "buffer density (g/ml)", std::string("1"))
      .ExpectPrompt(caption, "buffer viscosity (cPoise)", std::string("0.01002"))
      .ExpectPrompt(caption, "partial-specific volume (ml/g)", std::string("0.73"))
      .ExpectPrompt(caption, "optical pathlength (cm)", std::string("1.2"))
      .ExpectPrompt(caption, "rotor type (4 or 8)", std::string("4"))
      .ExpectBox("", "launch MORLEAN with data?", platform::IDYES)
      .ExpectBox("", "convert all c(s) peaks to discrete species?", platform::IDYES);
  Window().Dispatch(577);
  ExpectScriptMet();
  const std::string config = (dir_ / "run_from_tarnel_c(s).morlean").string();
  ASSERT_EQ(processes_.calls.size(), 1u);
  EXPECT_EQ(processes_.calls[0], "start " + (dir_ / "morlean").string() + " " + config);

  const auto lines = Lines(ReadFile((dir_ / "run_from_tarnel_c(s).morlean_PAR").string()));
  ASSERT_EQ(lines.size(), 82u);
  // Water at 20 C: s20,w = s (1 - 0.73 x 0.99823) / (1 - 0.73); M belongs to s.
  const double factor = (1.0 - 0.73 * 0.99823) / (1.0 - 0.73);
  std::vector<double> s20w;
  for (int k = 1; k <= 10; ++k) {
    const auto i = static_cast<std::size_t>(k);
    if (lines[26 + i] != "1 (exist #" + std::to_string(k) + ")") continue;
    s20w.push_back(std::stod(lines[36 + i]));
    const double M = CalculateM(static_cast<float>(s20w.back() / factor));
    EXPECT_NEAR(std::stod(lines[16 + i]) / M, 1.0, 1e-4) << k;
  }
  ASSERT_GE(s20w.size(), 3u);
  std::vector<double> main(s20w.begin(), s20w.begin() + 3);
  std::sort(main.begin(), main.end());
  const double expected[] = {2.47, 5.03, 8.05};
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(main[static_cast<std::size_t>(k)] / factor, expected[k], 0.05) << k;
}

TEST_F(MorleanExchange, ExportWithoutTheProgramNamesItsPathAndAFailedStartIsReported) {
  LoadRun(4);
  const std::string xp = (dir_ / "run.xp").string();
  ui_->lenient = true;  // the solution questions take their defaults
  ui_->ExpectFiles("export data as MORLEAN xp file", Chosen({xp}));
  for (int k = 0; k < 5; ++k) ui_->ExpectPrompt("make MORLEAN xp file", "", std::nullopt);
  ui_->ExpectBox("", "launch MORLEAN with data?", platform::IDYES);
  ui_->ExpectBox("ERROR", "could not find " + (dir_ / "morlean").string());
  Window().Dispatch(577);
  EXPECT_TRUE(ui_->AllConsumed());
  EXPECT_TRUE(processes_.calls.empty());

  InstallSibling();
  processes_.succeed = false;
  ui_->ExpectFiles("export data as MORLEAN xp file", Chosen({xp}));
  for (int k = 0; k < 5; ++k) ui_->ExpectPrompt("make MORLEAN xp file", "", std::nullopt);
  ui_->ExpectBox("", "launch MORLEAN with data?", platform::IDYES);
  ui_->ExpectBox("ERROR", "could not start " + (dir_ / "morlean").string());
  Window().Dispatch(577);
  EXPECT_TRUE(ui_->AllConsumed());
  ASSERT_EQ(processes_.calls.size(), 1u);
  EXPECT_EQ(processes_.calls[0], "start " + (dir_ / "morlean").string() + " " + xp);

  // Cancel in the dialog: no file, no program.
  ui_->ExpectFiles("export data as MORLEAN xp file", platform::FileDialogResult{});
  fs::remove(xp);
  Window().Dispatch(577);
  EXPECT_FALSE(fs::exists(xp));
  EXPECT_EQ(processes_.calls.size(), 1u);
}

TEST_F(MorleanExchange, TheScalingLawModelExportsNothing) {
  LoadRun(4);
  gModelSelectorFlags.FMScalingLawModel = 1;
  Window().Dispatch(577);
  EXPECT_TRUE(ui_->transcript.empty());
}

}  // namespace
