#include "app/commands/generate/generate_commands.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <filesystem>
#include <functional>
#include <vector>

#include "app/commands/model/params_dialog.h"
#include "data/synthetic_data.h"
#include "distributions/distribution_arrays.h"
#include "fit/amplitudes.h"
#include "fit/fit_engine_state.h"
#include "fit/model_selector.h"
#include "distributions/conti_settings.h"
#include "numerics/cvector.h"
#include "plot/cwinplot.h"
#include "plot/distribution_plot.h"
#include "fit/model_params.h"
#include "data/scan_set.h"
#include "numerics/ccurve.h"
#include "distributions/direct_boundary.h"
#include "numerics/random.h"
#include "road_support.h"
#include "tests/support/file_text.h"

namespace {

namespace fs = std::filesystem;

class Generate : public RoadTest {
 protected:
  void TearDown() override {
    window_.reset();
    FreeDistributionArrays();
    RoadTest::TearDown();
  }
  // "Non-Interacting Discrete Species" as the model to generate with.
  void DiscreteModel() {
    gFitEngineState.molarMassParameters = 0;
    Window().Dispatch(198);
  }
  // The answers of "Single" up to the parameter dialog.
  // (A distribution model is not asked for M and s.)
  void SingleAnswers(const char* dr, const char* scans, const char* noise, bool ramp, bool asksMAndS = true) {
    if (asksMAndS) ui_->ExpectBox("GENERATE DATA", "Fit with M and s instead D and s?", platform::IDNO);
    ui_->ExpectPrompt("GENERATE DATA", "density of points dr (cm)", dr)
        .ExpectPrompt("GENERATE DATA", "rotor speed (rpm)", "50000")
        .ExpectBox("GENERATE DATA", "simulate with rotor acceleration phase?", ramp ? platform::IDYES : platform::IDNO);
    if (ramp) ui_->ExpectPrompt("GENERATE DATA", "acceleration (rpm/sec)", "200");
    ui_->ExpectPrompt("GENERATE DATA", "time interval of scans (sec)", "300")
        .ExpectPrompt("GENERATE DATA", "number of simulated scans", scans)
        .ExpectPrompt("GENERATE DATA", "std of noise (OD)", noise);
  }
  // One species of 4 S, D 6e-7 cm^2/s and concentration 1, meniscus 6.2 cm.
  void OneSpeciesDialog(const char* s = "4.0", int sFit = 0) {
    forms_.Expect(
        OneSpeciesForm({.D = "6.0", .s = s, .meniscus = "6.2000", .bottom = "7.2000", .cFit = 0, .sFit = sFit}));
  }
  // "Single" of that species in the discrete model, 0.01 cm apart, saved as
  // `path` in the folder gen.
  void GenerateSingle(const char* scans, const char* noise, const std::string& path, bool ramp = false) {
    fs::create_directories(dir_ / "gen");
    DiscreteModel();
    SingleAnswers("0.01", scans, noise, ramp);
    OneSpeciesDialog();
    ui_->ExpectFiles("save generated data as", Chosen({path}));
    Window().Dispatch(214);
    ExpectNoFailures();
  }
  // The answers of "Series" of a species of s (S) in the discrete model,
  // saved as 0000x.ra0: the values of each list, the run-up, the scans'
  // interval and count, and the folder offset.
  struct SeriesLists {
    std::vector<const char*> dr, rpm;
    bool ramp;
    const char *interval, *scans;
    std::vector<const char*> noise, menisci, traces;
    const char* offset;
  };
  void SeriesAnswers(const SeriesLists& l, const char* s = "4.0") {
    DiscreteModel();
    OneSpeciesDialog(s);
    ui_->ExpectFiles("save generated data as", Chosen({(dir_ / "0000x.ra0").string()}));
    auto list = [&](const char* count, const char* value, const std::vector<const char*>& values) {
      ui_->ExpectPrompt("GENERATE DATA", count, std::to_string(values.size()));
      for (std::size_t i = 0; i < values.size(); ++i)
        ui_->ExpectPrompt("GENERATE DATA", std::to_string(i + 1) + " - " + value, values[i]);
    };
    list("# radial increments?", "density of points dr (cm)", l.dr);
    list("# rotor speeds?", "rotor speed (rpm)?", l.rpm);
    ui_->ExpectBox("GENERATE DATA", "simulate with rotor acceleration phase?", l.ramp ? platform::IDYES : platform::IDNO);
    if (l.ramp) ui_->ExpectPrompt("GENERATE DATA", "acceleration (rpm/sec)", "200");
    ui_->ExpectPrompt("GENERATE DATA", "time interval of scans (sec)", l.interval)
        .ExpectPrompt("GENERATE DATA", "number of simulated scans (0 for auto)", l.scans);
    list("# noise levels?", "noise level?", l.noise);
    list("# menisci?", "meniscus (cm)?", l.menisci);
    list("# trace concentrations?", "2nd species concentration (%)?", l.traces);
    ui_->ExpectPrompt("GENERATE DATA", "directory # offset", l.offset);
  }
  // The ls-g*(s) mode over a distribution of n points set by `fill`, its plot
  // built; then a g(s*) file of `rows` rows (s = s0 + 0.5 k, g = 0.1 k) made
  // the direct boundary model.
  void DirectBoundaryFrom(int n, const std::function<void(ContiSettings&)>& fill, int rows, double s0) {
    LoadRun(3);
    gModelParams.meniscus = 5.95f;
    gModelParams.bottom = 7.1f;
    gModelSelectorFlags.DistributionModel = gModelSelectorFlags.LsgStarModel = 1;
    InstallDistributionPlot();
    AllocDistributionArrays(n, 0, 0);
    fill(Conti());
    BuildDistributionPlot();
    ASSERT_TRUE(DistArrays().plotExists);
    const std::string file = (dir_ / "gs.txt").string();
    {
      std::ofstream out(file);
      for (int k = 1; k <= rows; ++k) out << s0 + 0.5 * k << " " << 0.1 * k << " 0 0 0 0\n";
    }
    ui_->ExpectBox("Make direct boundary model from g(s*)", "1) calculate g(s*) by dcdt")
        .ExpectFiles("select g*(s) ASCII file from dcdt analysis", Chosen({file}));
    ui_->lenient = true;
    Window().Dispatch(533);
  }
  std::string ScanPath() const { return (dir_ / "gen" / "0000x.ra0").string(); }
  // Mean model value over 6.75..6.85 cm of scan i: the plateau between the
  // boundary and the bottom.
  static double Plateau(int i) {
    const ScanSet& s = CurrentScanSet();
    double sum = 0;
    int n = 0;
    for (int k = 1; k <= s.points[i]; ++k)
      if (s.radii[i][k] > 6.745 && s.radii[i][k] < 6.855) {
        sum += s.model[i][k];
        ++n;
      }
    return n ? sum / n : 0.0;
  }
};

TEST_F(Generate, SingleSimulatesThePlateauDilutionWithAndWithoutTheRunUp) {
  // Behind the boundary the plateau falls as exp(-2 s w2t): 0.936321 at
  // 3000 s; a 250 s run-up at 200 rpm/s adds a third of its w2t (0.934611).
  struct Case {
    bool ramp;
    double time, plateau;
  };
  for (const Case c : {Case{false, 3000, 0.936321}, Case{true, 3250, 0.934611}}) {
    fs::remove_all(dir_ / "gen");
    GenerateSingle("10", "0", ScanPath(), c.ramp);
    const ScanSet& s = CurrentScanSet();
    ASSERT_EQ(s.count, 10);
    EXPECT_EQ(s.points[1], 101);
    EXPECT_DOUBLE_EQ(s.records[10].time, c.time);
    EXPECT_NEAR(Plateau(10) / c.plateau, 1.0, 0.002) << c.ramp;
    EXPECT_EQ(s.signals[10][50], s.model[10][50]);
    EXPECT_TRUE(fs::exists(dir_ / "gen" / "00010.ra0"));
    EXPECT_FALSE(RunState().RunProgressDisplay);
    // The dialog proposed what is written, and the title names the new set.
    EXPECT_EQ(ui_->fileRequests.back().presetName, "0000x.ra0");
    EXPECT_EQ(Window().Frame().Title(),
              "SEDIMENTATION ANALYSIS -> " + (dir_ / "gen" / "00001.ra0").string() + "...");
  }
}

// The noise terms, the baseline and floated loadings are fits to data:
// Generate simulates the model the user entered without them, and leaves
// the ticks and the baseline as entered. The scans are those made with
// nothing ticked (row 1), whose plateau behind the boundary is the closed
// form, 0.936321 at 3000 s; with data loaded before or not.
TEST_F(Generate, TheNoiseTicksNeitherChangeTheScansNorAreChangedByThem) {
  struct Case {
    const char* name;
    int ti, ri;
    bool loadedBefore;
    int cFit = 0;  // a floated loading is solved as a linear amplitude
  };
  std::vector<std::vector<float>> unticked;
  for (const Case c : {Case{"nothing ticked", 0, 0, false}, Case{"TI", 1, 0, false}, Case{"RI", 0, 1, false},
                       Case{"TI and RI", 1, 1, false}, Case{"TI and RI over loaded data", 1, 1, true},
                       Case{"a floated loading", 0, 0, false, 1},
                       Case{"TI, RI and a floated loading over loaded data", 1, 1, true, 1}}) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_ / "gen");
    fs::create_directories(dir_ / "gen");
    ui_->lenient = true;
    if (c.loadedBefore) LoadRun(3);
    gModelParams.baseline = 0.0f;
    DiscreteModel();
    SingleAnswers("0.01", "10", "0", false);
    forms_.Expect(OneSpeciesForm({.D = "6.0", .s = "4.0", .meniscus = "6.2000", .bottom = "7.2000", .cFit = c.cFit},
                                 {{431, c.ti}, {455, c.ri}}));
    ui_->ExpectFiles("save generated data as", Chosen({ScanPath()}));
    Window().Dispatch(214);
    ui_->lenient = false;
    ExpectNoFailures();
    const ScanSet& s = CurrentScanSet();
    ASSERT_EQ(s.count, 10);
    EXPECT_NEAR(Plateau(10) / 0.936321, 1.0, 0.002);
    if (unticked.empty())
      for (int i = 1; i <= s.count; ++i) unticked.emplace_back(s.signals[i] + 1, s.signals[i] + s.points[i] + 1);
    double worst = 0;
    for (int i = 1; i <= s.count; ++i)
      for (int k = 1; k <= s.points[i]; ++k)
        worst = std::max(worst, std::abs(static_cast<double>(s.signals[i][k]) - unticked[i - 1][k - 1]));
    EXPECT_LT(worst, 1e-6);
    EXPECT_EQ(gModelParams.baseline, 0.0f);
    EXPECT_EQ(gFitEngineState.fitTINoise, c.ti);
    EXPECT_EQ(gModelParams.riNoiseFit, c.ri);
    EXPECT_EQ(gModelParams.concentrationsLinear, c.cFit);
    EXPECT_EQ(gModelParams.baselineLinear, c.ti | c.ri);
    gFitEngineState.fitTINoise = 0;
    gModelParams.riNoiseFit = 0;
  }
}

TEST_F(Generate, SingleOffersTheFolderOfTheDataLoadedAndDropsTheReportOfTheDataBefore) {
  GenerateSingle("3", "0", ScanPath());
  ASSERT_EQ(CurrentScanSet().count, 3);
  // A report of a fit to these data is on the screen; an earlier dialog
  // left its folder elsewhere.
  WindowFlags().FitInfoShown = true;
  Window().LoadFileDialog.initialFolder = dir_.string();
  SingleAnswers("0.01", "3", "0", false);
  OneSpeciesDialog();
  ui_->ExpectFiles("save generated data as", Chosen({(dir_ / "gen" / "0000x.ra1").string()}));
  Window().Dispatch(214);
  ExpectNoFailures();
  EXPECT_TRUE(fs::equivalent(ui_->fileRequests.back().initialFolder, dir_ / "gen"));
  EXPECT_FALSE(WindowFlags().FitInfoShown);
}

TEST_F(Generate, TheScansTakeTheExtensionOfTheChosenName) {
  GenerateSingle("3", "0", (dir_ / "gen" / "0000x.RA3").string());
  ASSERT_EQ(CurrentScanSet().count, 3);
  EXPECT_EQ(CurrentScanSet().fileNames[1], "00001.RA3");
  EXPECT_TRUE(fs::exists(dir_ / "gen" / "00003.RA3"));
  EXPECT_FALSE(fs::exists(dir_ / "gen" / "00003.ra0"));
}

TEST_F(Generate, SingleWithADistributionSimulatesTheDistributionFile) {
  // All signal at 4 S: the plateau of one species, 0.936321 at 3000 s.
  {
    std::ofstream out(dir_ / "distrib.dat");
    for (int k = 0; k <= 40; ++k) out << 2.0 + 0.1 * k << " " << (k == 20 ? 1.0 : 0.0) << "\n";
  }
  fs::create_directories(dir_ / "gen");
  Window().Dispatch(275);  // "Continuous c(s) Distribution"
  SingleAnswers("0.01", "10", "0", false, false);
  forms_.Expect({"Continuous Sedimentation Coefficient Distribution c(s)", {}, {}});
  ui_->ExpectFiles("save generated data as", Chosen({ScanPath()}))
      .ExpectBox("", "put synthetic distribution in " + (dir_ / "distrib.dat").string())
      .ExpectBox("ATTENTION", "is synthetic distribution normalized?", platform::IDNO);
  Window().Dispatch(214);
  ExpectNoFailures();
  EXPECT_TRUE(ui_->AllConsumed());
  const ScanSet& s = CurrentScanSet();
  ASSERT_EQ(s.count, 10);
  EXPECT_NEAR(Plateau(10) / 0.936321, 1.0, 0.002);
  EXPECT_EQ(Conti().synthetic, 0);
  EXPECT_EQ(CurrentDataTypeFlags().absorbance, 1);
  EXPECT_TRUE(fs::exists(dir_ / "gen" / "00010.ra0"));
}

// Nothing that stands is replaced by a command that cannot finish or that
// the user stops: a distribution file that cannot be read, scans of the
// names to be written already in the folder (replaced only on Yes), a
// folder that cannot be written (said once). The loaded set and its title
// stay as they were whenever nothing new was written.
TEST_F(Generate, SingleReplacesNothingItCannotFinishOrTheUserKeeps) {
  struct Case {
    const char* name;
    bool distribution;  // c(s) without a distrib.dat, else the discrete model
    bool missingFolder;
    int replaceAnswer;  // to "replace them?" (0: no question)
    int countAfter;     // scans loaded after the command
  };
  const Case cases[] = {
      {"an unreadable distribution", true, false, 0, 3},
      {"existing scans kept", false, false, platform::IDNO, 3},
      {"existing scans replaced", false, false, platform::IDYES, 5},
      {"a missing folder", false, true, 0, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_ / "gen");
    GenerateSingle("3", "0", ScanPath());
    ASSERT_EQ(CurrentScanSet().count, 3);
    const std::string before = teststate::FileText(dir_ / "gen" / "00001.ra0");
    const std::string title = Window().Frame().Title();
    const std::string path = c.missingFolder ? (dir_ / "missing" / "0000x.ra0").string() : ScanPath();
    if (c.distribution) {
      Window().Dispatch(275);  // "Continuous c(s) Distribution"
      SingleAnswers("0.01", "5", "0.01", false, false);
      forms_.Expect({"Continuous Sedimentation Coefficient Distribution c(s)", {}, {}});
    } else {
      DiscreteModel();
      SingleAnswers("0.01", "5", "0.01", false);
      OneSpeciesDialog();
    }
    ui_->ExpectFiles("save generated data as", Chosen({path}));
    // (The cell of data loaded before: a set not made leaves it.)
    gModelParameterVector.P[14] = gModelParams.bottom = 7.151f;
    if (c.missingFolder)
      ui_->ExpectBox("GENERATE DATA",
                     "the folder " + (dir_ / "missing").string() + " cannot be written: no scans were generated");
    if (c.distribution)
      ui_->ExpectBox("", "put synthetic distribution in " + (dir_ / "distrib.dat").string())
          .ExpectBox("ATTENTION", "is synthetic distribution normalized?", platform::IDNO)
          .ExpectBox("", "could not open " + (dir_ / "distrib.dat").string());
    if (c.replaceAnswer)
      ui_->ExpectBox("GENERATE DATA",
                     (dir_ / "gen").string() + " already holds 3 of the scans to be written (00001.ra0, ...): "
                     "replace them?", c.replaceAnswer);
    Window().Dispatch(214);
    ExpectNoFailures();
    EXPECT_TRUE(ui_->AllConsumed());
    EXPECT_EQ(CurrentScanSet().count, c.countAfter);
    const bool replaced = c.countAfter == 5;
    EXPECT_EQ(fs::exists(dir_ / "gen" / "00005.ra0"), replaced);
    EXPECT_EQ(teststate::FileText(dir_ / "gen" / "00001.ra0") == before, !replaced);
    EXPECT_EQ(Window().Frame().Title(), title);  // the same folder and first name when replaced
    EXPECT_FALSE(fs::exists(dir_ / "missing"));
    const float bottom = replaced ? 7.2f : 7.151f;
    EXPECT_EQ(gModelParams.bottom, bottom);
    EXPECT_EQ(gModelParameterVector.P[14], bottom);
    gModelSelectorFlags = ModelSelectorFlags{};
  }
}

// The ranges of meniscus and bottom of a generated set stand around the
// cell it was made in, as after a load: a meniscus fit of c(s) chosen next
// asks nothing, and the command that sets them offers the meniscus between
// its limits, clear of the left fit limit. Rows: a program without data, data
// at another meniscus loaded before, and ranges the user had set for them.
TEST_F(Generate, TheMeniscusRangesOfAGeneratedSetStandAroundItsMeniscus) {
  struct Case {
    const char* name;
    bool loadedBefore, userRanges;
  };
  for (const Case& c : {Case{"no data before", false, false}, Case{"other data loaded", true, false},
                        Case{"the user's ranges of other data", true, true}}) {
    SCOPED_TRACE(c.name);
    window_.reset();
    ResetRoadRecords();
    fs::remove_all(dir_ / "gen");
    fs::create_directories(dir_ / "gen");
    ScanSet& fresh = CurrentScanSet();  // as in a new program
    fresh.leftFitLimit = fresh.rightFitLimit = fresh.enteredLeftFitLimit = fresh.enteredRightFitLimit = 0;
    if (c.loadedBefore) LoadRun(3);  // meniscus 5.95 cm
    if (c.userRanges) {
      forms_.Expect({"set meniscus+limits", {{988, "5.9"}, {987, "5.96"}}, {}});
      Window().Dispatch(240);
      ASSERT_EQ(UserFitLimitsSet(), 1);
    }
    DiscreteModel();
    SingleAnswers("0.01", "3", "0", false);
    forms_.Expect(OneSpeciesForm({.D = "6.0", .s = "4.0", .meniscus = "6.0000", .bottom = "7.2000", .cFit = 0}));
    ui_->ExpectFiles("save generated data as", Chosen({ScanPath()}));
    Window().Dispatch(214);
    ASSERT_EQ(CurrentScanSet().count, 3);
    ASSERT_FLOAT_EQ(gModelParams.meniscus, 6.0f);
    DispatchLenient(275);  // "Continuous c(s) Distribution"
    const std::size_t shown = forms_.seen.size();
    forms_.Expect({"Continuous Sedimentation Coefficient Distribution c(s)", {}, {{434, 1}}});
    DispatchLenient(212);
    EXPECT_EQ(forms_.seen.size(), shown + 1) << "asked for ranges that were already around the meniscus";
    EXPECT_EQ(gModelParams.meniscusFit, 1);
    forms_.Expect({"set meniscus+limits", {}, {}, false});
    Window().Dispatch(240);
    ExpectNoFailures();
    forms_.failures.clear();
    ASSERT_EQ(forms_.seen.back().caption, "set meniscus+limits");
    const float low = std::stof(forms_.seen.back().Find(988)->text);
    const float up = std::stof(forms_.seen.back().Find(987)->text);
    EXPECT_NEAR(low, 5.98f, 1e-4f);
    EXPECT_NEAR(up, 6.009f, 1e-4f);  // 0.001 cm inside the left fit limit 6.01
    EXPECT_LT(up, CurrentScanSet().leftFitLimit);
    EXPECT_EQ(UserFitLimitsSet(), 0);
    gModelSelectorFlags = ModelSelectorFlags{};
  }
}

TEST_F(Generate, ANoisySetIsRefittedToItsOwnSedimentationCoefficient) {
  SeedGaussRandom(3);
  GenerateSingle("8", "0.005", ScanPath());
  ASSERT_EQ(CurrentScanSet().count, 8);
  // The fit starts 5 % off and floats s only.
  DiscreteModel();
  OneSpeciesDialog("4.2", 1);
  Window().Dispatch(212);
  Window().Dispatch(215);
  EXPECT_NEAR(gModelParameterVector.P[5], 4.0, 0.04);
  ExpectNoFailures();
}

TEST_F(Generate, SingleRefusesBoundaryTransformsAndTakesMAndSForDistributions) {
  // Without a model there is nothing to simulate, nor parameters to show.
  ui_->ExpectBox("GENERATE DATA", "choose a model first");
  Window().Dispatch(214);
  ui_->ExpectBox("PARAMETERS", "choose a model first");
  Window().Dispatch(212);
  EXPECT_TRUE(ui_->AllConsumed());
  EXPECT_EQ(CurrentScanSet().count, 0);

  gModelSelectorFlags.SedTransformModel = 1;
  ui_->ExpectBox("GENERATE DATA", "no simulation for van Holde-Weischet boundaries implemented");
  Window().Dispatch(214);
  EXPECT_TRUE(ui_->AllConsumed());

  gModelSelectorFlags.SedTransformModel = 0;
  gModelSelectorFlags.DistributionModel = 1;
  gFitEngineState.molarMassParameters = 0;
  // No M-and-s question: the first thing asked is the radial increment.
  ui_->ExpectPrompt("GENERATE DATA", "density of points dr (cm)", std::nullopt);
  Window().Dispatch(214);
  EXPECT_EQ(gFitEngineState.molarMassParameters, 1);
  EXPECT_TRUE(Window().IsMenuItemChecked(217));
  EXPECT_EQ(CurrentScanSet().count, 0);
  ExpectNoFailures();
}

TEST_F(Generate, ChangingTheFormOfTheSpeciesConvertsTheirSecondValue) {
  // M 50000 g/mol and s 4 S at 20 degC with v*rho 0.73: D = s RT / (M (1 - v rho))
  // = 7.177 in 1e-7 cm^2/s; answering the form in use converts nothing.
  struct Case {
    int startMolar, answer;
    float start, expected;
  };
  const float d = 4.0e-6f * 2.436002e10f / (0.27f * 50000.0f);
  for (const Case c : {Case{1, platform::IDNO, 50000.0f, d}, Case{0, platform::IDYES, d, 50000.0f},
                       Case{0, platform::IDNO, 6.0f, 6.0f}, Case{1, platform::IDYES, 50000.0f, 50000.0f}}) {
    Window().Dispatch(198);
    gSolutionConditions.vbarRho = 0.73f;
    gFitEngineState.molarMassParameters = static_cast<unsigned char>(c.startMolar);
    gModelParams.massOrD[1] = c.start;
    gModelParams.s[1] = 4.0f;
    PackModelParameters();
    ui_->ExpectBox("GENERATE DATA", "Fit with M and s instead D and s?", c.answer);
    if ((c.answer == platform::IDYES) != (c.startMolar == 1)) ui_->ExpectBox("", "assuming t = 20 'C");
    ui_->ExpectPrompt("GENERATE DATA", "density of points dr (cm)", std::nullopt);
    Window().Dispatch(214);
    ExpectNoFailures();
    EXPECT_TRUE(ui_->AllConsumed());
    UnpackModelParameters();
    EXPECT_NEAR(gModelParams.massOrD[1] / c.expected, 1.0, 1e-5) << c.startMolar << " " << c.answer;
    EXPECT_EQ(gFitEngineState.molarMassParameters, c.answer == platform::IDYES ? 1 : 0);
    EXPECT_EQ(Window().IsMenuItemChecked(217), c.answer == platform::IDYES);
  }
}

TEST_F(Generate, SelfAssociationEntriesBecomeLoadingAndDecadicConstants) {
  struct Case {
    unsigned char ModelSelectorFlags::*model;
    double logK1, logK2;
  };
  const Case cases[] = {
      {&ModelSelectorFlags::MonomerDimerModel, 1.30103, 0},
      {&ModelSelectorFlags::MonomerTrimerModel, -3.22185, 0},
      {&ModelSelectorFlags::MonomerDimerTetramerModel, std::log10(10.0), -7.79588},
      {&ModelSelectorFlags::MonomerTetramerOctamerModel, -7.79588, -26.29073},
  };
  for (const Case& c : cases) {
    gModelSelectorFlags = ModelSelectorFlags{};
    gModelSelectorFlags.*c.model = 1;
    const SelfAssociationEntries e = SelfAssociationParameters(50000, 10, 5e5, 5e5);
    EXPECT_NEAR(e.loading, 0.5, 1e-12);
    EXPECT_NEAR(e.logK1, c.logK1, 5e-6);
    EXPECT_NEAR(e.logK2, c.logK2, 5e-6);
  }
}

TEST_F(Generate, AZeroExtinctionCoefficientIsRefusedBeforeAnyLogarithm) {
  gModelSelectorFlags.MonomerDimerModel = 1;
  gFitEngineState.molarMassParameters = 0;
  gModelParameterVector.P[3] = 1.5f;
  SingleAnswers("0.01", "10", "0", false);
  ui_->ExpectPrompt("GENERATE DATA", "extinction coefficient", "0")
      .ExpectPrompt("GENERATE DATA", "total molar concentration", "10")
      .ExpectBox("GENERATE DATA", "the extinction coefficient must be above 0");
  Window().Dispatch(214);
  EXPECT_FLOAT_EQ(gModelParameterVector.P[3], 1.5f);
  EXPECT_TRUE(std::isfinite(gModelParameterVector.P[11]));
  EXPECT_TRUE(ui_->AllConsumed());
  ExpectNoFailures();
}

// Speeds and counts are whole numbers within what they can be: 3e9 rpm or
// 1e30 scans (no int holds them) are refused where typed, with the range,
// and asked again; the set is made with the answers given then.
TEST_F(Generate, WholeNumbersBeyondTheirRangeAreRefusedWhereTyped) {
  fs::create_directories(dir_ / "gen");
  DiscreteModel();
  ui_->ExpectBox("GENERATE DATA", "Fit with M and s instead D and s?", platform::IDNO)
      .ExpectPrompt("GENERATE DATA", "density of points dr (cm)", "0.01")
      .ExpectPrompt("GENERATE DATA", "rotor speed (rpm)", "3e9")
      .ExpectBox("GENERATE DATA", "enter a whole number from 1 to 200000")
      .ExpectPrompt("GENERATE DATA", "rotor speed (rpm)", "40000")
      .ExpectBox("GENERATE DATA", "simulate with rotor acceleration phase?", platform::IDNO)
      .ExpectPrompt("GENERATE DATA", "time interval of scans (sec)", "300")
      .ExpectPrompt("GENERATE DATA", "number of simulated scans", "1e30")
      .ExpectBox("GENERATE DATA", "enter a whole number from 0 to 10000")
      .ExpectPrompt("GENERATE DATA", "number of simulated scans", "3e9")
      .ExpectBox("GENERATE DATA", "enter a whole number from 0 to 10000")
      .ExpectPrompt("GENERATE DATA", "number of simulated scans", "2.7")
      .ExpectPrompt("GENERATE DATA", "std of noise (OD)", "0");
  OneSpeciesDialog();
  ui_->ExpectFiles("save generated data as", Chosen({ScanPath()}));
  Window().Dispatch(214);
  ExpectNoFailures();
  EXPECT_TRUE(ui_->AllConsumed());
  ASSERT_EQ(CurrentScanSet().count, 2);
  EXPECT_EQ(CurrentScanSet().records[1].rpm, 40000.0f);

  // A list of Series as long as no int holds ends with Cancel: nothing is made.
  fs::remove_all(dir_ / "1");
  DiscreteModel();
  OneSpeciesDialog();
  ui_->ExpectFiles("save generated data as", Chosen({(dir_ / "0000x.ra0").string()}))
      .ExpectPrompt("GENERATE DATA", "# radial increments?", "1e30")
      .ExpectBox("GENERATE DATA", "enter a whole number from 0 to 1000")
      .ExpectPrompt("GENERATE DATA", "# radial increments?", std::nullopt);
  Window().Dispatch(647);
  ExpectNoFailures();
  EXPECT_TRUE(ui_->AllConsumed());
  EXPECT_FALSE(fs::exists(dir_ / "1"));
}

TEST_F(Generate, AutomaticScanCountTakesTheTimeToTheRightFitLimit) {
  // ln(7.19 / 6.2) / (4e-13 (2 pi 50000 / 60)^2) = 13508.9 s.
  EXPECT_EQ(AutomaticScanCount(6.2f, 7.19f, 7.2f, 4, 50000, 300), 45);
  EXPECT_EQ(AutomaticScanCount(6.2f, 0.0f, 7.2f, 4, 50000, 300), 45);
  EXPECT_EQ(AutomaticScanCount(6.2f, 7.19f, 7.2f, 0, 50000, 300), 0);
  EXPECT_EQ(AutomaticScanCount(6.2f, 7.19f, 7.2f, -2, 50000, 300), 0);
  // A time no int counts in scans is the largest count (refused by the simulation).
  EXPECT_EQ(AutomaticScanCount(6.2f, 7.19f, 7.2f, 1e-30f, 50000, 300), INT_MAX);
}

TEST_F(Generate, SeriesWritesOneNumberedFolderPerCombination) {
  SeriesAnswers({{"0.05", "0.02"}, {"50000", "40000"}, false, "600", "2", {"0", "0.01"}, {"6.2", "6.1"},
                 {"1", "2"}, "0"});
  Window().Dispatch(647);
  ExpectNoFailures();
  EXPECT_TRUE(ui_->AllConsumed());
  EXPECT_FALSE(SeriesGenerationRunning());
  for (int k = 1; k <= 32; ++k) {
    const fs::path folder = dir_ / std::to_string(k);
    ASSERT_TRUE(fs::exists(folder / "00002.ra0")) << k;
    EXPECT_TRUE(fs::exists(folder / ("xp" + std::to_string(k) + ".xp"))) << k;
    EXPECT_TRUE(fs::exists(folder / ("info_" + std::to_string(k) + ".txt"))) << k;
  }
  EXPECT_FALSE(fs::exists(dir_ / "33"));
  // The trace concentration varies fastest, the radial increment slowest.
  EXPECT_EQ(ReadFile((dir_ / "1" / "info_1.txt").string()),
            "1.000000 (percent ctrace)\n0.050000 (dr)\n50000.000000 (omega)\n0.000000 (noise)\n"
            "6.200000 (meniscus)\n");
  for (const char* marker : {"tracepercent=2.000", "dr=0.0500_cm", "omega=50000_rpm", "noise=0.000",
                             "meniscus=6.200"})
    EXPECT_EQ(ReadFile((dir_ / "2" / (std::string(marker) + ".info")).string()), "1") << marker;
  EXPECT_TRUE(fs::exists(dir_ / "3" / "meniscus=6.100.info"));
  EXPECT_TRUE(fs::exists(dir_ / "17" / "dr=0.0200_cm.info"));
  EXPECT_TRUE(fs::exists(dir_ / "32" / "omega=40000_rpm.info"));
  // The last set stands loaded, written into folder 32.
  EXPECT_EQ(CurrentScanSet().dataFolder, (dir_ / "32").string());
  EXPECT_EQ(CurrentScanSet().points[1], static_cast<int>(std::floor((7.2 - 6.1) / 0.02 + 1e-4)) + 1);
}

TEST_F(Generate, SeriesCountsScansItselfAndAsksWhenItCannot) {
  auto run = [&](const char* s) {
    SeriesAnswers({{"0.05"}, {"50000"}, true, "3000", "0", {"0"}, {"6.2"}, {"1"}, "4"}, s);
  };
  // 4 S to the right limit 7.19 cm takes 13508.9 s: 4 scans 3000 s apart,
  // after a run-up of 250 s and 10 s more.
  run("4.0");
  Window().Dispatch(647);
  ExpectNoFailures();
  const ScanSet& s = CurrentScanSet();
  EXPECT_EQ(s.count, 4);
  EXPECT_EQ(s.dataFolder, (dir_ / "5").string());
  EXPECT_DOUBLE_EQ(s.records[1].time, 260.0 + 250.0);
  EXPECT_TRUE(fs::exists(dir_ / "5" / "xp5.xp"));
  // Without a sedimentation coefficient there is no time to count from.
  run("0");
  ui_->ExpectPrompt("GENERATE DATA", "number of simulated scans", "3");
  Window().Dispatch(647);
  ExpectNoFailures();
  EXPECT_EQ(CurrentScanSet().count, 3);
}

TEST_F(Generate, AFolderThatCannotBeMadeSkipsTheRestOfItsMeniscus) {
  std::ofstream(dir_ / "1") << "in the way\n";
  SeriesAnswers({{"0.05"}, {"50000"}, false, "600", "2", {"0"}, {"6.2", "6.1"}, {"1", "2"}, "0"});
  ui_->ExpectBox("", "could not create new directory");
  Window().Dispatch(647);
  ExpectNoFailures();
  EXPECT_TRUE(ui_->AllConsumed());
  EXPECT_TRUE(fs::exists(dir_ / "2" / "meniscus=6.100.info"));
  EXPECT_TRUE(fs::exists(dir_ / "3" / "tracepercent=2.000.info"));
  EXPECT_FALSE(fs::exists(dir_ / "4"));
}

// Outside the discrete species models Series makes nothing and says why:
// no model, a distribution, a boundary transform.
TEST_F(Generate, SeriesSaysItMakesNothingOutsideTheDiscreteSpeciesModel) {
  struct Case {
    unsigned char ModelSelectorFlags::*model;
    const char* said;
  };
  const char* discreteOnly = "a series is generated with a discrete species model only: choose one first";
  const Case cases[] = {{nullptr, discreteOnly},
                        {&ModelSelectorFlags::DistributionModel, discreteOnly},
                        {&ModelSelectorFlags::SedTransformModel,
                         "no simulation for van Holde-Weischet boundaries implemented"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    gModelSelectorFlags = ModelSelectorFlags{};
    if (c.model) gModelSelectorFlags.LammDiscreteModel = gModelSelectorFlags.*c.model = 1;
    ui_->ExpectBox("GENERATE DATA", c.said);
    Window().Dispatch(647);
    EXPECT_TRUE(ui_->AllConsumed());
    ExpectNoFailures();
  }
  EXPECT_TRUE(forms_.seen.empty());
  EXPECT_FALSE(fs::exists(dir_ / "1"));
  EXPECT_EQ(CurrentScanSet().count, 0);
}

TEST_F(Generate, HiddenOptionToggles) {
  Window().Dispatch(223);
  EXPECT_EQ(LammSettings().OptionToggle223, 1);
  Window().Dispatch(223);
  EXPECT_EQ(LammSettings().OptionToggle223, 0);
}

TEST_F(Generate, DirectBoundaryModelFromAGsFile) {
  Window().Dispatch(533);  // nothing loaded: nothing asked
  EXPECT_TRUE(ui_->transcript.empty());
  LoadRun(3);
  gModelParams.meniscus = 5.95f;
  gModelParams.bottom = 7.1f;
  const std::string file = (dir_ / "gs.txt").string();
  {
    std::ofstream out(file);
    for (int k = 1; k <= 5; ++k) out << 4.0 + 0.5 * k << " 0.2 0 0 0 0\n";
  }
  ui_->ExpectBox("Make direct boundary model from g(s*)", "1) calculate g(s*) by dcdt")
      .ExpectFiles("select g*(s) ASCII file from dcdt analysis", Chosen({file}));
  ui_->lenient = true;
  Window().Dispatch(533);
  // Five boxes of 0.1 each, diluted radially: the plateau of the last scan.
  const ScanSet& s = CurrentScanSet();
  const int last = s.lastFitPoint[3];
  double expected = 0;
  for (int k = 1; k <= 5; ++k) expected += 0.1 * std::exp(-2.0 * s.records[3].w2t * (4.0 + 0.5 * k) * 1e-13);
  EXPECT_NEAR(s.model[3][last], expected, 1e-5);
}

// The direct boundary model keeps its amounts; the systematic noise of the
// data around it comes from the current noise model. Data made of the model
// plus a known TI profile b(r) (and RI offsets beta_j) give back exactly
// that noise.
TEST_F(Generate, DirectBoundaryModelTakesTheSystematicNoiseAroundIt) {
  LoadRun(3);
  ScanSet& s = CurrentScanSet();
  gModelParams.meniscus = gModelParameterVector.P[13] = 5.95f;
  gModelParams.bottom = gModelParameterVector.P[14] = 7.1f;
  gModelParameterVector.P[15] = 0.0f;
  float sx[] = {0, 4.5f, 5.0f, 5.5f, 6.0f, 6.5f};
  float gy[] = {0, 0.2f, 0.2f, 0.2f, 0.2f, 0.2f};
  const CCurve curve(sx, gy, 5, 1, 1);
  gFitEngineState.fitTINoise = 0;
  gModelParams.riNoiseFit = gModelParams.baselineLinear = 0;
  MakeDirectBoundaryModelFromGss(curve, 0, 5);
  std::vector<std::vector<float>> boundary(s.count + 1);
  for (int j = 1; j <= s.count; ++j) {
    ASSERT_NE(s.gridModel[j], nullptr);
    boundary[j].assign(s.gridModel[j], s.gridModel[j] + s.gridLength + 1);
  }
  auto b = [&s](int r) { return 0.05 * std::sin(10.0 * s.grid[r]); };
  struct Case {
    const char* noise;
    bool ri;
    int firstSimulatedScan = 1;  // as the last model evaluation left it
  };
  for (const Case c : {Case{"TI", false}, Case{"TI and RI", true},
                       Case{"TI and RI after an evaluation from a measured start", true, 2}}) {
    SCOPED_TRACE(c.noise);
    gFirstSimulatedScan = c.firstSimulatedScan;
    auto beta = [&c](int j) { return c.ri ? 0.01 * j : 0.0; };
    for (int j = 1; j <= s.count; ++j)
      for (int r = 1; r <= s.gridLength; ++r)
        s.gridSignals[j][r] = static_cast<float>(boundary[j][r] + b(r) + beta(j));
    gFitEngineState.fitTINoise = 1;
    gModelParams.riNoiseFit = c.ri ? 1 : 0;
    MakeDirectBoundaryModelFromGss(curve, 0, 5);
    ASSERT_NE(s.tiNoise, nullptr);
    ASSERT_NE(s.riNoise, nullptr);
    // TI and RI noise share a constant: only their sum is determined.
    double worst = 0;
    for (int j = 1; j <= s.count; ++j)
      for (int r = s.firstGridPoint; r <= s.lastGridPoint; ++r)
        worst = std::max(worst, std::abs(s.tiNoise[r] + (c.ri ? s.riNoise[j] : 0.0f) - b(r) - beta(j)));
    EXPECT_LT(worst, 1e-4);
    // The amounts stay those of the g(s*) curve.
    EXPECT_FLOAT_EQ(gModelParams.concentration[1], 1.0f);
  }
}

// In the ls-g*(s) mode the shown distribution becomes the g(s*) curve, and
// the plot draws the new arrays, not the released ones.
TEST_F(Generate, DirectBoundaryModelShowsItsGsAsTheDistribution) {
  ASSERT_NO_FATAL_FAILURE(DirectBoundaryFrom(10, [](ContiSettings& cs) {
    for (int i = 1; i <= 10; ++i) {
      cs.sValues[i] = 0.1f * i;
      cs.distribution[i] = 1.0f;
    }
  }, 5, 4.0));
  const ContiSettings& cs = Conti();
  ASSERT_EQ(cs.gridSize, 5);
  EXPECT_FLOAT_EQ(cs.sValues[5], 6.5f);
  EXPECT_FLOAT_EQ(cs.distribution[5], 0.5f);
  const DistributionArrays& a = DistArrays();
  ASSERT_NE(a.xView, nullptr);
  EXPECT_EQ(a.xView->Data(), cs.sValues + 1);
  EXPECT_EQ(a.distView->Data(), cs.distribution + 1);
  EXPECT_EQ(a.distView->Count(), 5u);
  ASSERT_NE(cs.distributionPlot, nullptr);
  EXPECT_LE(cs.distributionPlot->xMin, 4.5f);
  EXPECT_GE(cs.distributionPlot->xMax, 6.5f);
  EXPECT_GE(cs.distributionPlot->yMax, 0.5f);
}

// A g(s*) curve longer than the distribution it replaces: every array of
// the distribution's length grows with it (a mass axis or the prior walked
// the old, shorter arrays).
TEST_F(Generate, DirectBoundaryModelGrowsEveryDistributionArray) {
  ASSERT_NO_FATAL_FAILURE(DirectBoundaryFrom(3, [](ContiSettings& cs) {
    for (int i = 1; i <= 3; ++i) cs.sValues[i] = 1.0f * i;
  }, 8, 3.0));
  const ContiSettings& cs = Conti();
  ASSERT_EQ(cs.gridSize, 8);
  EXPECT_EQ(DistArrays().allocatedN, 8);
  EXPECT_EQ(DistArrays().allocatedPrior, 8);
  // Every entry exists (an address sanitizer run reads all of them).
  double sum = 0.0;
  for (int i = 1; i <= 8; ++i)
    sum += cs.molarMasses[i] + cs.companionDistribution[i] + cs.prior[i] + cs.priorCompanion[i];
  EXPECT_NEAR(sum, 8 * 0.01, 1e-9);
}

}  // namespace
