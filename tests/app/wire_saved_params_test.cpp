// The saved analysis through the window: the parameter-box switches and the
// initial-condition switch come back, a scaling-law model keeps the law it
// was saved with, the scans' times follow the reloaded time switches, and
// the fit range is the one the analysis was fitted with.
#include "distributions/conti_models.h"
#include "fit/model_table.h"
#include "fit/saved_params.h"
#include "fit/scan_times.h"
#include "data/scan_grid.h"
#include "road_support.h"
#include "tests/support/file_text.h"

namespace {

class SavedAnalysis : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    path_ = (dir_ / "~tmppars.ra1").string();
  }
  std::string path_;
};

TEST_F(SavedAnalysis, ParameterBoxAndInitialConditionSwitchesComeBack) {
  Window();
  struct Case {
    bool on;
  };
  for (const Case c : {Case{true}, Case{false}}) {
    ModelParams& mp = gModelParams;
    mp.baselineLinear = mp.concentrationsLinear = mp.experimentalInitialDistribution = mp.parametersEntered = c.on;
    LammSettings().modelInitialDistribution = c.on;
    PackModelParameters();
    ASSERT_TRUE(TmpSaveBestParams(path_, false));
    const std::vector<std::string> lines = teststate::FileLines(path_);
    ASSERT_EQ(lines.size(), 208u);
    const std::string flag = c.on ? "1.000000" : "0.000000";
    for (int line : {55, 56, 57, 58, 74}) EXPECT_EQ(lines[line - 1], flag) << line;

    mp.baselineLinear = mp.concentrationsLinear = mp.experimentalInitialDistribution = mp.parametersEntered = !c.on;
    LammSettings().modelInitialDistribution = !c.on;
    ASSERT_EQ(ReloadParameters(path_), 1);
    EXPECT_EQ(mp.experimentalInitialDistribution, c.on);
    EXPECT_EQ(mp.parametersEntered, c.on);
    EXPECT_EQ(LammSettings().modelInitialDistribution, c.on);
  }
}

TEST_F(SavedAnalysis, ScalingLawModelsKeepTheLawTheyWereSavedWith) {
  Window();
  ui_->lenient = true;  // the commands' regularisation and calibration questions
  struct Case {
    int command;
    std::uint8_t ModelSelectorFlags::*flag;
  };
  for (const Case c : {Case{872, &ModelSelectorFlags::GeneralScalingLawCSModel},
                       Case{887, &ModelSelectorFlags::FMScalingLawModel}}) {
    SCOPED_TRACE(c.command);
    Window().Dispatch(c.command);
    ASSERT_EQ(gModelSelectorFlags.*c.flag, 1);
    ModelParameterVector& v = gModelParameterVector;
    v.P[11] = 0.0052f;  // Ks
    v.F[11] = 1;
    v.P[18] = 0.71f;  // bs
    UnpackModelParameters();
    PackModelParameters();
    ASSERT_TRUE(TmpSaveBestParams(path_, false));

    ContiStore() = ContiModelStore{};
    Window().Dispatch(198);  // another model in between
    ASSERT_EQ(ReloadParameters(path_), 1);
    EXPECT_EQ(gModelSelectorFlags.*c.flag, 1);
    EXPECT_FLOAT_EQ(Conti().scalingKs, 0.0052f);
    EXPECT_FLOAT_EQ(Conti().scalingBs, 0.71f);
    EXPECT_EQ(Conti().fitScalingKs, 1);
    EXPECT_FLOAT_EQ(v.P[11], 0.0052f);
  }
}

TEST_F(SavedAnalysis, ScanTimesFollowTheReloadedTimeSwitches) {
  LoadRun(3);
  ScanSet& s = CurrentScanSet();
  // omega^2 t a little short of what the elapsed times imply, as after a
  // slow acceleration.
  for (int i = 1; i <= s.count; ++i) s.records[i].w2t *= 0.98;
  auto fromW2t = [&s](int i) {
    const double omega = s.records[i].rpm * 0.10471976;
    return s.records[i].w2t / (omega * omega);
  };
  struct Case {
    bool ramp;
  };
  for (const Case c : {Case{false}, Case{true}}) {
    LammSettings().rampRotorSpeed = c.ramp;
    LammSettings().timesFromW2t = !c.ramp;
    PackModelParameters();
    ASSERT_TRUE(TmpSaveBestParams(path_, false));
    // The switches before the reload are the other ones, the times too.
    LammSettings().rampRotorSpeed = !c.ramp;
    LammSettings().timesFromW2t = c.ramp;
    for (int i = 1; i <= s.count; ++i) s.records[i].timeRead = c.ramp ? fromW2t(i) : s.records[i].time;
    ASSERT_EQ(ReloadParameters(path_), 1);
    EXPECT_EQ(LammSettings().timesFromW2t, !c.ramp);
    for (int i = 1; i <= s.count; ++i)
      EXPECT_NEAR(s.records[i].timeRead, c.ramp ? s.records[i].time : fromW2t(i), 1e-6 * s.records[i].time)
          << i;
    EXPECT_GT(std::fabs(fromW2t(1) - s.records[1].time), 1.0);
  }
}

TEST_F(SavedAnalysis, TheFitRangeComesBackAsItWasFitted) {
  LoadRun(4);  // radii 5.95 to 7.14 cm
  ScanSet& s = CurrentScanSet();
  struct Case {
    const char* what;
    float meniscus, left, expectedLeft;
  } cases[] = {
      // Fit moves the meniscus bound to 0.001 cm below the left limit; a
      // meniscus fitted up to it keeps the limit.
      {"meniscus at the bound Fit set", 6.019f, 6.02f, 6.02f},
      {"meniscus well clear", 5.96f, 6.02f, 6.02f},
      // A limit inside the cell end is still put beyond the meniscus.
      {"limit below the meniscus", 6.05f, 6.02f, 6.06f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    gModelParams.meniscus = 5.95f;
    gModelParameterVector.P[13] = 5.95f;
    s.leftFitLimit = c.left;
    CheckLeftFitLimit();
    ASSERT_FLOAT_EQ(s.leftFitLimit, c.left);
    gModelParameterVector.P[13] = c.meniscus;
    UnpackModelParameters();
    const int firstPoint = s.firstFitPoint[1];
    ASSERT_TRUE(TmpSaveBestParams(path_, false));
    ASSERT_EQ(ReloadParameters(path_), 1);
    EXPECT_FLOAT_EQ(gModelParameterVector.P[13], c.meniscus);
    EXPECT_NEAR(s.leftFitLimit, c.expectedLeft, 1e-5);
    if (c.expectedLeft == c.left) {
      EXPECT_EQ(s.firstFitPoint[1], firstPoint);
    }
  }
}

// A fit saves the model in use; the file's switches name only some models.
// Reloaded through Data > Reload Saved Fit Parameters, a model they cannot
// name is said, with the model its entries were loaded into (or that none
// is chosen); a model they name comes back without a word.
TEST_F(SavedAnalysis, AModelTheFileCannotNameIsSaidWhenItIsReloaded) {
  LoadRun(3);
  const std::string file = CurrentDataPaths().parameterFile;
  ASSERT_FALSE(file.empty());
  const std::string discrete = "its entries were loaded into \"Non-Interacting Discrete Species\"";
  const std::string none = "its entries were loaded, but no model is chosen (choose one in the Model menu)";
  const struct {
    int command;
    const char* name;  // nullptr: restored
    int loaded;
    std::string into;
  } cases[] = {
      {280, "linear Lamm Equation", 198, discrete},
      {281, "External Loading Cell", 198, discrete},
      {282, "model 282", 198, discrete},
      {291, "Electrophoresis: Lamm Equation For Discrete Species", 198, discrete},
      {267, "A + B <--> AB", 0, none},
      {523, "A + B <--> AB at sedimentation equilibrium", 0, none},
      {235, nullptr, 235, ""},
      {198, nullptr, 198, ""},
      {197, nullptr, 197, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    ui_->lenient = true;  // the model commands' own questions
    Window().Dispatch(c.command);
    ASSERT_EQ(SelectedModelKey(), c.command);
    ASSERT_TRUE(TmpSaveBestParams(file, false));  // as a fit saves
    Window().Dispatch(198);  // another model chosen since
    ui_->lenient = false;
    ui_->ExpectBox("LOAD PARAMETERS", "restore parameters from " + file + " ?", platform::IDYES);
    if (c.name)
      ui_->ExpectBox("reload parameters", "the model of " + file + ", \"" + c.name +
                                              "\", cannot be restored from it:\n" + c.into);
    Window().Dispatch(1098);
    EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
    EXPECT_TRUE(ui_->AllConsumed());
    EXPECT_EQ(SelectedModelKey(), c.loaded);
    ui_->failures.clear();
  }
}

// A reload that fails says so; a refused value leaves the model in use.
TEST_F(SavedAnalysis, AFailedReloadIsSaid) {
  LoadRun(3);
  const std::string file = CurrentDataPaths().parameterFile;
  Window().Dispatch(198);
  ASSERT_TRUE(TmpSaveBestParams(file, false));
  std::vector<std::string> lines = teststate::FileLines(file);
  lines[44 - 1] = "nan";  // the Lamm grid size
  {
    std::ofstream out(file);
    for (const std::string& l : lines) out << l << "\n";
  }
  ui_->lenient = true;
  Window().Dispatch(235);
  ASSERT_EQ(SelectedModelKey(), 235);
  ui_->lenient = false;
  ui_->ExpectBox("LOAD PARAMETERS", "restore parameters from " + file + " ?", platform::IDYES)
      .ExpectBox("reload parameters",
                 "cannot restore parameters from " + file + ":\nline 44 holds nan, which is no whole number");
  Window().Dispatch(1098);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_TRUE(ui_->AllConsumed());
  EXPECT_EQ(SelectedModelKey(), 235);

  std::filesystem::remove(file);
  ui_->ExpectBox("LOAD PARAMETERS", "restore parameters from " + file + " ?", platform::IDYES)
      .ExpectBox("LOAD PARAMETERS", "sorry could not restore fit parameters from " + file +
                                        "\n(no such file, or fewer than 99 values in it)");
  Window().Dispatch(1098);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_TRUE(ui_->AllConsumed());
  EXPECT_EQ(SelectedModelKey(), 235);
}

}  // namespace
