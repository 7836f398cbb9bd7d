// The outside plotters of the Plot menu: which items set-up keeps, the
// questions, the argument vectors they are started with, and PELDO.
#include "road_support.h"

#include <filesystem>

#include "app/commands/plot/plotter_commands.h"
#include "numerics/arrays.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

class Plotters : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    savedTemp_ = platform::ProgramPaths.TempFolder;
    fs::create_directories(dir_ / "temp");
    temp_ = (dir_ / "temp").string() + "/";
    platform::ProgramPaths.TempFolder = temp_;
    PlotHelperPaths() = PlotHelperPathsRecord{};
  }
  void TearDown() override {
    ContiSettings& c = Conti();
    if (c.sValues) free_vector(c.sValues, 1, c.gridSize);
    if (c.distribution) free_vector(c.distribution, 1, c.gridSize);
    c.sValues = c.distribution = nullptr;
    c.gridSize = 0;
    CurrentScanSet().dlsRecords.clear();
    PlotHelperPaths() = PlotHelperPathsRecord{};
    platform::ProgramPaths.TempFolder = savedTemp_;
    RoadTest::TearDown();
  }

  std::string Program(const std::string& relative) {
    const fs::path p = dir_ / relative;
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "#!/bin/sh\n";
    fs::permissions(p, fs::perms::owner_all);
    return p.string();
  }
  void Distribution() {
    ContiSettings& c = Conti();
    c.gridSize = 3;
    c.sValues = vector(1, 3);
    c.distribution = vector(1, 3);
    for (int i = 1; i <= 3; ++i) {
      c.sValues[i] = static_cast<float>(i);
      c.distribution[i] = 0.5f * static_cast<float>(i);
    }
  }

  std::string savedTemp_, temp_;
};

TEST_F(Plotters, SetUpKeepsTheItemsOfThePresentProgramsOnly) {
  Program("bin/plotfit");
  std::ofstream(dir_ / "bin" / "plot3d") << "not executable\n";
  CheckPlotHelpers(Window());
  for (int id = 878; id <= 883; ++id)
    EXPECT_EQ(Window().Frame().Menu().Find(id) != nullptr, id == 880) << id;
  EXPECT_EQ(PlotHelperPaths().paths[2], (dir_ / "bin" / "plotfit").string());
  EXPECT_TRUE(PlotHelperPaths().present[2]);
  EXPECT_FALSE(PlotHelperPaths().present[0]);
  // An absent program's command does nothing, even when dispatched.
  LoadRun(4);
  Window().Dispatch(878);
  EXPECT_TRUE(processes_.calls.empty());
  EXPECT_TRUE(ui_->transcript.empty());
}

TEST_F(Plotters, ScansToPlotDefaultToTwentyAndStayWithinTheLoadedScans) {
  const struct {
    int scans;
    std::optional<std::string> answer;
    double sent;
  } cases[] = {{25, std::nullopt, 20}, {12, std::nullopt, 12}, {12, "40", 12}, {12, "0", 1}, {12, "7", 7}};
  const std::string program = Program("bin/plot3d");
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.scans) + " scans, answer " + c.answer.value_or("cancel"));
    window_.reset();
    FreeScanData();
    LoadRun(c.scans);
    CheckPlotHelpers(Window());
    processes_.calls.clear();
    ui_->ExpectBox("PLOT 3D", "show data within fitting limits?", platform::IDYES)
        .ExpectBox("PLOT 3D", "radial axis range from meniscus to bottom?", platform::IDNO)
        .ExpectBox("PLOT 3D", "use current y-axis limits?", platform::IDNO)
        .ExpectPrompt("PLOT 3D", "y-min", std::string("-0.1"))
        .ExpectPrompt("PLOT 3D", "y-max", std::string("0.9"))
        .ExpectPrompt("PLOT 3D", "#of scans to plot", c.answer);
    Window().Dispatch(878);
    EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
    ASSERT_EQ(processes_.calls.size(), 1u);
    const auto w = Words(processes_.calls[0]);
    ASSERT_EQ(w.size(), 13u);
    EXPECT_EQ(w[1], program);
    EXPECT_EQ(w[2], "4113");
    EXPECT_EQ(w[3], temp_);
    EXPECT_EQ(w[4], std::to_string(c.scans));  // data curves written
    EXPECT_EQ(w[5], "1");                      // absorbance
    EXPECT_FLOAT_EQ(std::stof(w[6]), CurrentScanSet().leftFitLimit);
    EXPECT_FLOAT_EQ(std::stof(w[7]), CurrentScanSet().rightFitLimit);
    EXPECT_FLOAT_EQ(std::stof(w[8]), -0.1f);
    EXPECT_FLOAT_EQ(std::stof(w[9]), 0.9f);
    EXPECT_DOUBLE_EQ(std::stod(w[12]), c.sent);
    EXPECT_TRUE(fs::exists(temp_ + std::to_string(c.scans) + ".dat"));
  }
}

TEST_F(Plotters, FitPlotsAskForAutoLimitsAndTheMovieForItsFile) {
  const std::string fit = Program("bin/plotfit");
  const std::string movie = Program("bin/sedmovie");
  LoadRun(4);
  CheckPlotHelpers(Window());
  ui_->ExpectBox("PLOT 3D", "show data within fitting limits?", platform::IDNO)
      .ExpectBox("PLOT 3D", "radial axis range from meniscus to bottom?", platform::IDNO)
      .ExpectBox("PLOT 3D", "using current display limits in the TARNEL data plot")
      .ExpectBox("PLOT FIT", "auto y-axis limits?", platform::IDYES)
      .ExpectPrompt("PLOT FIT", "#of scans to plot (constant time interval)", std::string("3"));
  Window().Dispatch(880);
  ASSERT_EQ(processes_.calls.size(), 1u);
  auto w = Words(processes_.calls[0]);
  ASSERT_EQ(w.size(), 13u);
  EXPECT_EQ(w[1], fit);
  EXPECT_EQ(w[8], "0.000000e+00");
  EXPECT_EQ(w[9], "0.000000e+00");
  EXPECT_EQ(w[12], "3.000000e+00");
  EXPECT_TRUE(fs::exists(temp_ + "4.fit"));

  // The movie: cancel in its file dialog starts nothing.
  for (bool chosen : {false, true}) {
    ui_->ExpectBox("PLOT 3D", "show data within fitting limits?", platform::IDNO)
        .ExpectBox("PLOT 3D", "radial axis range from meniscus to bottom?", platform::IDYES)
        .ExpectBox("PLOT 3D", "use current y-axis limits?", platform::IDYES)
        .ExpectFiles("select filename for movie file",
                     chosen ? Chosen({(dir_ / "run.avi").string()}) : platform::FileDialogResult{});
    Window().Dispatch(879);
  }
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  ASSERT_EQ(processes_.calls.size(), 2u);
  w = Words(processes_.calls[1]);
  ASSERT_EQ(w.size(), 14u);
  EXPECT_EQ(w[1], movie);
  EXPECT_EQ(w[4], (dir_ / "run.avi").string());
  EXPECT_FLOAT_EQ(std::stof(w[11]), gModelParams.meniscus);
  EXPECT_FLOAT_EQ(std::stof(w[12]), gModelParams.bottom);
  EXPECT_EQ(w[13], "4.000000e+00");  // every scan
}

TEST_F(Plotters, PeldoIsNamedWhenAbsentAndStartedOnItsFilesWhenPresent) {
  LoadRun(4);
  Distribution();
  const std::string peldo = (dir_ / "PELDO" / "PELDO").string();
  ui_->ExpectBox("PELDO", "Can't seem to find PELDO executable at " + peldo + " - Sorry!");
  Window().Dispatch(899);
  ui_->ExpectBox("PELDO", "Can't seem to find PELDO script at " + peldo + " - Sorry!");
  Window().Dispatch(900);
  EXPECT_TRUE(ui_->AllConsumed());
  EXPECT_TRUE(processes_.calls.empty());

  Program("PELDO/PELDO");
  Window().Dispatch(899);
  Window().Dispatch(900);
  ASSERT_EQ(processes_.calls.size(), 2u);
  EXPECT_EQ(processes_.calls[0], "start " + peldo + " --cofs " + temp_ + "dist.txt");
  EXPECT_EQ(ReadFile(temp_ + "lastcommand.txt"), peldo + " --cofs " + temp_ + "dist.txt");
  EXPECT_EQ(ReadFile(temp_ + "dist.txt"), "1.000000e+00 5.000000e-01\n2.000000e+00 1.000000e+00\n"
                                          "3.000000e+00 1.500000e+00\n-999.999 -999.999\n");
  EXPECT_EQ(processes_.calls[1], "start " + peldo + " --svdfr " + temp_ + "svdfrdata.dat");

  // The choice: data, fit and residuals, then the distribution of a c(s) model.
  gModelSelectorFlags.DistributionModel = 1;
  ui_->ExpectBox("PELDO", "PELDO for data, fit, and residuals?", platform::IDYES)
      .ExpectBox("PELDO", "PELDO for c(s)?", platform::IDYES);
  Window().Dispatch(901);
  ASSERT_EQ(processes_.calls.size(), 4u);
  EXPECT_NE(processes_.calls[2].find(" --svdfr "), std::string::npos);
  EXPECT_NE(processes_.calls[3].find(" --cofs "), std::string::npos);

  processes_.succeed = false;
  ui_->ExpectBox("ERROR", "could not start " + peldo);
  Window().Dispatch(900);
  ExpectScriptMet();
}

TEST_F(Plotters, DlsDataGoToPeldoAsFieldOrIntensityAutocorrelation) {
  LoadRun(3);
  const std::string peldo = Program("PELDO/PELDO");
  CurrentDataTypeFlags().dls = 1;
  CurrentScanSet().dlsRecords.assign(4, DlsHeaderRecord{});
  for (std::uint8_t field : {1, 0}) {
    CurrentScanSet().dlsRecords[1].fieldFlag = field;
    Window().Dispatch(900);
  }
  ASSERT_EQ(processes_.calls.size(), 2u);
  EXPECT_EQ(processes_.calls[0], "start " + peldo + " --dls " + temp_ + "dlsdata.dat");
  EXPECT_EQ(processes_.calls[1], "start " + peldo + " --idls " + temp_ + "dlsdata.dat");
}

TEST_F(Plotters, DistributionSizeAndShapeAndStructurePlotsSendTheirAxes) {
  const std::string dist = Program("bin/plotfitdist");
  const std::string sas = Program("bin/plotsizeshape");
  const std::string structure = Program("bin/plotstructure");
  LoadRun(4);
  CheckPlotHelpers(Window());
  Distribution();
  // Only a c(s) model offers its distribution.
  Window().Dispatch(881);
  EXPECT_TRUE(processes_.calls.empty());
  gModelSelectorFlags.DistributionModel = 1;
  gModelSelectorFlags.CSModel = 1;
  ui_->lenient = true;  // range questions answered by default
  ui_->ExpectPrompt("PLOT FIT", "minimum value for s-axis in distribution plot", std::string("0.5"))
      .ExpectPrompt("PLOT FIT", "maximum value for s-axis in distribution plot", std::nullopt);
  Window().Dispatch(881);
  ASSERT_EQ(processes_.calls.size(), 1u);
  auto w = Words(processes_.calls[0]);
  ASSERT_EQ(w.size(), 15u);
  EXPECT_EQ(w[1], dist);
  EXPECT_EQ(w[13], "5.000000e-01");
  EXPECT_EQ(w[14], "3.000000e+00");  // the last s of the grid
  EXPECT_TRUE(fs::exists(temp_ + "dist.dat"));

  // Size and shape: the plot kind chooses the axes asked for; the others are 0.
  gModelSelectorFlags.CSff0With1DiscreteModel = 1;
  Conti().display2DSwitch[1] = 1;  // "plot s-R"
  ui_->ExpectPrompt("PLOT FIT", "minimum value for s-axis in distribution plot", std::string("1"))
      .ExpectPrompt("PLOT FIT", "maximum value for s-axis in distribution plot", std::string("2"))
      .ExpectPrompt("PLOT FIT", "minimum value for Rh-axis (nm) in distribution plot", std::string("3"))
      .ExpectPrompt("PLOT FIT", "maximum value for Rh-axis (nm) in distribution plot", std::string("4"));
  Window().Dispatch(882);
  EXPECT_TRUE(ui_->AllConsumed());
  ASSERT_EQ(processes_.calls.size(), 2u);
  w = Words(processes_.calls[1]);
  ASSERT_EQ(w.size(), 16u);
  EXPECT_EQ(w[1], sas);
  EXPECT_EQ(w[4], "3");  // kind s-R
  EXPECT_EQ(w[5], "1");  // with the discrete component
  const char* axes[] = {"1", "2", "0", "0", "0", "0", "3", "4", "0", "0"};
  for (int k = 0; k < 10; ++k) EXPECT_DOUBLE_EQ(std::stod(w[6 + static_cast<std::size_t>(k)]), std::stod(axes[k])) << k;

  // The structure plot needs only its file.
  ui_->ExpectFiles("", platform::FileDialogResult{});
  Window().Dispatch(883);
  ui_->ExpectFiles("", Chosen({(dir_ / "model.bea").string()}));
  Window().Dispatch(883);
  ASSERT_EQ(processes_.calls.size(), 3u);
  EXPECT_EQ(processes_.calls[2], "start " + structure + " 4113 " + temp_ + " " + (dir_ / "model.bea").string());
  Conti().display2DSwitch[1] = 0;
}

}  // namespace
