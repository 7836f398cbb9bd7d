#include <cstdlib>
#include <filesystem>
#include <regex>

#include "app/commands/generate/generate_commands.h"
#include "app/window/main_fit_host.h"
#include "app/window/window_services.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/distribution_loader.h"
#include "distributions/prior_knowledge.h"
#include "data/scan_grid.h"
#include "fit/fit_report.h"
#include "fit/rmsd.h"
#include "numerics/random.h"
#include "road_support.h"

namespace {

namespace fs = std::filesystem;
constexpr const char* kCaption = "Generate Prior Probability From Peaks";

class Prior : public RoadTest {
 protected:
  void TearDown() override {
    window_.reset();
    FreeDistributionArrays();
    RoadTest::TearDown();
  }
  // 3 S (60 %) and 7 S (40 % of the total 1.0) simulated with noise and
  // analysed by c(s) (Run), with TI and RI noise when noise is 1.
  void GenerateTwoSpeciesAndRunCs(int noise = 0) {
    SeedGaussRandom(5);
    GenerateTwoSpecies({false, "0.01", "50000", "300", "20", "0.002", "1.0", "7.6", "3.0", "0.4", "5.1", "7.0"});
    ASSERT_EQ(CurrentScanSet().count, 20);
    gFitEngineState.fitTINoise = 0;
    // Clear of the material packed at the bottom, as one analyses real data.
    CurrentScanSet().rightFitLimit = 7.05f;
    CheckRightFitLimit();

    Window().Dispatch(275);  // "Continuous c(s) Distribution"
    forms_.Expect({"Continuous Sedimentation Coefficient Distribution c(s)",
                   {{405, "60"}, {406, "0.5"}, {407, "12"}, {435, "6.2000"}, {437, "7.2000"}},
                   {{431, noise}, {455, noise}, {434, 0}, {436, 0}}});
    Window().Dispatch(212);
    Window().Dispatch(213);
    ASSERT_NE(Conti().distribution, nullptr);
  }
  FitInfoLines lines_;
  // A row of the dialog: check box on, its three texts.
  static void Row(ScriptedFormRunner::Expectation& e, int k, const char* s, const char* w, const char* a) {
    e.states.push_back({777 + k, 1});
    e.texts.push_back({787 + k, s});
    e.texts.push_back({797 + k, w});
    e.texts.push_back({807 + k, a});
  }
};

TEST_F(Prior, FirstUseShowsNoFileAndNoPeaks) {
  forms_.Expect({kCaption, {}, {}});
  Window().Dispatch(529);
  ASSERT_EQ(forms_.seen.size(), 1u);
  const FormDialog& d = forms_.seen[0];
  EXPECT_EQ(d.templateId, 776);
  EXPECT_EQ(d.Find(777)->text, "no filename selected");
  for (int k = 0; k < 10; ++k) {
    EXPECT_EQ(d.Find(778 + k)->state, 0);
    EXPECT_EQ(d.Find(788 + k)->text, "0.000 ");
    EXPECT_EQ(d.Find(808 + k)->text, "0.000 ");
  }
  EXPECT_EQ(d.Find(818)->state, 0);
  EXPECT_FALSE(Priors().use);
  EXPECT_FALSE(Window().IsMenuItemChecked(529));
  ExpectNoFailures();
}

TEST_F(Prior, PeaksAfterAGapAreDroppedTheNextTime) {
  ScriptedFormRunner::Expectation e{kCaption, {}, {{820, 1}}};
  Row(e, 1, "3.0", "0", "1");
  Row(e, 2, "5.0", "0.5", "2");
  Row(e, 4, "9.0", "1", "3");
  forms_.Expect(e);
  Window().Dispatch(529);
  const PriorKnowledge& p = Priors();
  EXPECT_TRUE(Priors().use);
  EXPECT_TRUE(Window().IsMenuItemChecked(529));
  EXPECT_EQ(p.peaks[3].width, -1.0);
  EXPECT_EQ(p.peaks[4].location, 9.0);
  EXPECT_EQ(p.peaks[2].width, 0.5);

  forms_.Expect({kCaption, {}, {}});
  Window().Dispatch(529);
  const FormDialog& d = forms_.seen.back();
  EXPECT_EQ(d.Find(778)->state, 1);
  EXPECT_EQ(d.Find(789)->text, "5.000 ");
  EXPECT_EQ(d.Find(809)->text, "2.000 ");
  for (int k = 2; k < 10; ++k) EXPECT_EQ(d.Find(778 + k)->state, 0) << k;
  EXPECT_EQ(d.Find(820)->state, 1);
  EXPECT_EQ(p.peaks[4].location, 0.0);
  EXPECT_EQ(p.peaks[4].width, -1.0);
  EXPECT_EQ(p.peaks[2].amplitude, 2.0);
  ExpectNoFailures();
}

TEST_F(Prior, InvalidTextsKeepTheDialogOpen) {
  ScriptedFormRunner::Expectation bad{kCaption, {}, {{820, 1}}};
  Row(bad, 1, "abc", "0", "1");
  ScriptedFormRunner::Expectation negative{kCaption, {}, {}};
  Row(negative, 1, "3", "0", "-1");
  ScriptedFormRunner::Expectation good{kCaption, {}, {}};
  Row(good, 1, "3", "0", "1");
  forms_.Expect(bad).Expect(negative).Expect(good);
  Window().Dispatch(529);
  EXPECT_EQ(forms_.canCloseRefusals, 2);
  EXPECT_EQ(Priors().peaks[1].location, 3.0);
  ExpectNoFailures();
}

TEST_F(Prior, PriorFilesAreChosenParkedAndBroughtBack) {
  const std::string file = (dir_ / "prior.dat").string();
  std::ofstream(file) << "1 1\n10 1\n";
  // A cancelled file dialog: no file, no prior.
  forms_.Expect({kCaption, {}, {{819, 1}, {821, 1}}});
  ui_->ExpectFiles("Select Prior Probability Data File", {false, {}})
      .ExpectBox("Error", "Could Not Open MaxEnt Prior File");
  Window().Dispatch(529);
  EXPECT_FALSE(Priors().use);
  EXPECT_TRUE(Priors().priorFile.empty());

  forms_.Expect({kCaption, {}, {{819, 1}, {821, 1}}});
  ui_->ExpectFiles("Select Prior Probability Data File", Chosen({file}));
  Window().Dispatch(529);
  EXPECT_TRUE(Priors().use);
  EXPECT_EQ(Priors().priorFile, file);
  EXPECT_EQ(forms_.seen.back().Find(777)->text, "no filename selected");

  // Off: the file is parked, its name still shown.
  forms_.Expect({kCaption, {}, {{818, 0}}});
  Window().Dispatch(529);
  EXPECT_FALSE(Priors().use);
  EXPECT_TRUE(Priors().priorFile.empty());
  EXPECT_EQ(forms_.seen.back().Find(777)->text, file);
  EXPECT_EQ(forms_.seen.back().Find(819)->state, 1);

  // "From File" while the prior is off turns it on with the same file.
  forms_.Expect({kCaption, {}, {{819, 1}}});
  Window().Dispatch(529);
  EXPECT_EQ(forms_.seen.back().Find(819)->state, 0);
  EXPECT_TRUE(Priors().use);
  EXPECT_EQ(Priors().priorFile, file);
  EXPECT_TRUE(ui_->AllConsumed());
  ExpectNoFailures();
}

TEST_F(Prior, AKvdFileIsImportedAndItsNameParked) {
  gModelSelectorFlags.DistributionModel = 1;
  gModelSelectorFlags.CSModel = 1;
  std::vector<float> grid(21);
  for (int i = 1; i <= 20; ++i) grid[i] = static_cast<float>(i);
  Conti().gridSize = 20;
  Conti().sValues = grid.data();
  const std::string file = (dir_ / "kvd.dat").string();
  std::ofstream(file) << "10 1\n5 1\n12.3 2\n3 1\n";
  forms_.Expect({kCaption, {}, {{819, 1}, {821, 1}, {822, 1}}});
  ui_->ExpectFiles("Select Prior Probability Data File", Chosen({file}));
  Window().Dispatch(529);
  EXPECT_TRUE(Priors().use);
  EXPECT_TRUE(Priors().imported);
  EXPECT_TRUE(Priors().priorFile.empty());
  ASSERT_EQ(Priors().importedY.size(), 21u);
  EXPECT_NEAR(Priors().importedY[7], 1.01, 1e-6);

  forms_.Expect({kCaption, {}, {}});
  Window().Dispatch(529);
  EXPECT_EQ(forms_.seen.back().Find(777)->text, file + " [KVD file]");
  EXPECT_EQ(forms_.seen.back().Find(822)->state, 1);
  // "Use Prior Probabilities" starts by dropping the imported table.
  EXPECT_FALSE(Priors().imported);
  Conti().sValues = nullptr;
  Conti().gridSize = 0;
  ExpectNoFailures();
}

TEST_F(Prior, DiscreteSpeciesFromAGeneratedTwoSpeciesRun) {
  // 3 S (60 %) and 7 S (40 % of the total 1.0) simulated, analysed by c(s), and the peaks of
  // the distribution taken as sharp species.
  GenerateTwoSpeciesAndRunCs();
  ASSERT_NE(Conti().distribution, nullptr);
  ui_->lenient = true;
  Window().Dispatch(633);
  ExpectNoFailures();
  // The species prior stays in force until the next run, so it is drawn.
  EXPECT_TRUE(Priors().use);
  EXPECT_TRUE(Priors().oneShot);
  EXPECT_TRUE(Priors().discreteSpecies);
  EXPECT_TRUE(Window().IsMenuItemChecked(529));
  EXPECT_TRUE(Window().IsMenuItemChecked(295));
  EXPECT_FALSE(Window().IsMenuItemChecked(294));

  const std::string report = ReadFile((dir_ / "gen" / "DiscInts.dat").string());
  ASSERT_FALSE(report.empty());
  ASSERT_FALSE(processes_.calls.empty());
  EXPECT_NE(processes_.calls.back().find("DiscInts.dat"), std::string::npos) << processes_.calls.back();
  const std::regex line(R"(peak #(\d+): from [\d.]+ - [\d.]+S, sw = ([\d.]+), signal = [\d.]+ \(([\d.]+)%\))");
  std::vector<double> sw, percent;
  for (std::sregex_iterator it(report.begin(), report.end(), line), end; it != end; ++it) {
    sw.push_back(std::atof((*it)[2].str().c_str()));
    percent.push_back(std::atof((*it)[3].str().c_str()));
  }
  ASSERT_EQ(sw.size(), 2u) << report;
  EXPECT_NEAR(sw[0] + sw[1], 10.0, 0.3) << report;
  const int slow = sw[0] < sw[1] ? 0 : 1;
  EXPECT_NEAR(sw[slow], 3.0, 0.15) << report;
  EXPECT_NEAR(sw[1 - slow], 7.0, 0.15) << report;
  EXPECT_NEAR(percent[slow], 60.0, 3.0) << report;
  EXPECT_NEAR(percent[1 - slow], 40.0, 3.0) << report;
  EXPECT_NE(report.find("\nOTHER MATERIAL:  "), std::string::npos);

  // The next run goes without the prior, and the menu says so.
  Window().Dispatch(213);
  EXPECT_FALSE(Priors().oneShot);
  EXPECT_FALSE(Priors().use);
  EXPECT_FALSE(Priors().discreteSpecies);
  EXPECT_FALSE(Window().IsMenuItemChecked(529));

  // A report that cannot be written is said so, and no editor opens.
  const std::size_t editors = processes_.calls.size();
  CurrentScanSet().dataFolder = (dir_ / "missing" / "folder").string();
  ui_->transcript.clear();
  Window().Dispatch(633);
  bool told = false;
  for (const auto& t : ui_->transcript) told = told || t.text == "Could Not Open DiscInts.dat File";
  EXPECT_TRUE(told);
  EXPECT_EQ(processes_.calls.size(), editors);

  // The dialog's "Select Peaks" fills the peak table with the species as
  // delta peaks and runs nothing.
  forms_.Expect({kCaption, {}, {{818, 1}, {823, 1}}});
  Window().Dispatch(529);
  const PriorKnowledge& p = Priors();
  EXPECT_NEAR(p.peaks[1].location + p.peaks[2].location, 10.0, 0.3);
  EXPECT_EQ(p.peaks[1].width, 0.0);
  EXPECT_EQ(p.peaks[2].width, 0.0);
  EXPECT_NEAR(p.peaks[1].amplitude + p.peaks[2].amplitude, 1.0, 0.03);
  EXPECT_EQ(p.peaks[3].width, -1.0);
  EXPECT_EQ(Priors().collectCount, 2);
  EXPECT_TRUE(Priors().use);
  EXPECT_FALSE(Priors().discreteSpecies);
  EXPECT_FALSE(Priors().collectMode);
}

TEST_F(Prior, FrictionalRatioGaussiansForTwoDimensionalDistributions) {
  gModelSelectorFlags.DistributionModel = 1;
  gModelSelectorFlags.CSff0Model = 1;
  // A first centre of 0 leaves no f/f0 prior.
  forms_.Expect({kCaption, {}, {}});
  ui_->ExpectBox("REGULARIZATION", "use prior probability?", platform::IDNO)
      .ExpectBox("REGULARIZATION", "assemble prior p(f/f0) from Gaussians?", platform::IDYES)
      .ExpectPrompt("REGULARIZATION", "at (f/f0)-value", "0");
  Window().Dispatch(529);
  EXPECT_FALSE(Priors().ffGaussians);
  EXPECT_FALSE(Window().IsMenuItemChecked(529));

  // One Gaussian; a cancel ends the table.
  forms_.Expect({kCaption, {}, {}});
  ui_->ExpectBox("REGULARIZATION", "use prior probability?", platform::IDNO)
      .ExpectBox("REGULARIZATION", "assemble prior p(f/f0) from Gaussians?", platform::IDYES)
      .ExpectPrompt("REGULARIZATION", "at (f/f0)-value", "1.3")
      .ExpectPrompt("REGULARIZATION", "width ", "0.2")
      .ExpectPrompt("REGULARIZATION", "enhancement (default 10-100) ", "50")
      .ExpectPrompt("REGULARIZATION", "at (f/f0)-value", std::nullopt);
  Window().Dispatch(529);
  const FfGaussianTable& t = FfGaussians();
  EXPECT_TRUE(Priors().ffGaussians);
  EXPECT_NEAR(t.centre[1], 1.3, 1e-6);
  EXPECT_NEAR(t.halfWidth[1], 0.1, 1e-6);
  EXPECT_NEAR(t.enhancement[1], 0.05, 1e-6);
  EXPECT_EQ(t.centre[2], 0.0);
  EXPECT_TRUE(Window().IsMenuItemChecked(529));
  // The next time the entries are offered again.
  forms_.Expect({kCaption, {}, {}});
  ui_->ExpectBox("REGULARIZATION", "use prior probability?", platform::IDNO)
      .ExpectBox("REGULARIZATION", "assemble prior p(f/f0) from Gaussians?", platform::IDYES)
      .ExpectPrompt("REGULARIZATION", "at (f/f0)-value", std::nullopt);
  ui_->initialTexts.clear();
  Window().Dispatch(529);
  ASSERT_EQ(ui_->initialTexts.size(), 1u);
  EXPECT_NEAR(std::atof(ui_->initialTexts[0].c_str()), 1.3, 1e-5);
  EXPECT_FALSE(Priors().ffGaussians);
  EXPECT_TRUE(ui_->AllConsumed());
  ExpectNoFailures();
}

TEST_F(Prior, APriorChosenAfterTheSpeciesPriorIsTheOneTheNextRunUses) {
  GenerateTwoSpeciesAndRunCs(1);
  ASSERT_TRUE(ComposeFitInfoLines(MainFitHost(), lines_));
  const std::string plainLine4 = lines_.line[4];
  EXPECT_EQ(plainLine4.find("with prior probability"), std::string::npos) << plainLine4;
  const double plainRmsd = CalcRmsd();

  ui_->lenient = true;
  Window().Dispatch(633);  // Ctrl+X
  EXPECT_TRUE(Priors().oneShot);
  ui_->lenient = false;

  // Ctrl+W: a broad peak at 5 S, from Gauss/Delta-Peaks.
  ScriptedFormRunner::Expectation e{kCaption, {}, {{818, 1}, {819, 0}, {820, 1}, {823, 0}}};
  Row(e, 1, "5", "0.3", "1");
  for (int k = 2; k <= 10; ++k) e.states.push_back({777 + k, 0});
  forms_.Expect(e);
  Window().Dispatch(529);
  EXPECT_TRUE(Priors().use);
  EXPECT_FALSE(Priors().oneShot);
  EXPECT_TRUE(Window().IsMenuItemChecked(529));

  Window().Dispatch(213);  // Ctrl+R
  EXPECT_TRUE(Priors().use);
  EXPECT_TRUE(Window().IsMenuItemChecked(529));
  ASSERT_TRUE(ComposeFitInfoLines(MainFitHost(), lines_));
  EXPECT_NE(lines_.line[4].find("ME regularization P = "), std::string::npos) << lines_.line[4];
  EXPECT_NE(lines_.line[4].find(", with prior probability "), std::string::npos) << lines_.line[4];
  // A prior at 5 S, where neither species is, pulls the fit away from the data.
  EXPECT_NE(CalcRmsd(), plainRmsd);
  // The prior over the grid is the peak's, not the species'.
  const ContiSettings& cs = Conti();
  ASSERT_NE(cs.prior, nullptr);
  int top = 1;
  for (int i = 2; i <= cs.gridSize; ++i)
    if (cs.prior[i] > cs.prior[top]) top = i;
  EXPECT_NEAR(cs.sValues[top], 5.0, 0.5);

  // The dialog opens with what is in force.
  forms_.Expect({kCaption, {}, {}});
  Window().Dispatch(529);
  EXPECT_EQ(forms_.seen.back().Find(818)->state, 1);
  EXPECT_EQ(forms_.seen.back().Find(820)->state, 1);
  EXPECT_TRUE(Priors().use);
  ExpectNoFailures();
}

TEST_F(Prior, TheReportNamesThePriorFileInForce) {
  LoadRun(4);
  Window().Dispatch(275);
  const std::string file = (dir_ / "prior.dat").string();
  std::ofstream(file) << "0 1\n20 1\n";
  ScriptedFormRunner::Expectation e{kCaption, {}, {{818, 1}, {819, 1}, {821, 1}}};
  forms_.Expect(e);
  ui_->ExpectFiles("Select Prior Probability Data File", Chosen({file}));
  Window().Dispatch(529);
  ASSERT_EQ(Priors().priorFile, file);
  Conti().maxEntropy = 1;
  struct Case {
    int showBoth;
    std::string ending;
  } cases[] = {{0, "with prior probability " + file}, {1, "with prior probability prior.dat"}};
  for (const Case& c : cases) {
    Conti().showBothRegularizations = static_cast<uint8_t>(c.showBoth);
    ASSERT_TRUE(ComposeFitInfoLines(MainFitHost(), lines_));
    const std::string& l4 = lines_.line[4];
    ASSERT_GE(l4.size(), c.ending.size()) << l4;
    EXPECT_EQ(l4.substr(l4.size() - c.ending.size()), c.ending) << l4;
  }
  Conti().showBothRegularizations = 0;
  ExpectNoFailures();
}

TEST_F(Prior, WithoutADistributionNothingHappensAndCollectEmptiesTheTable) {
  Priors().peaks[1] = PriorPeak{3.0, 0.0, 1.0};
  Window().Dispatch(633);
  EXPECT_EQ(Priors().peaks[1].location, 3.0);
  Priors().collectMode = true;
  Window().Dispatch(633);
  EXPECT_EQ(Priors().peaks[1].width, -1.0);
  EXPECT_TRUE(ui_->transcript.empty());
}

}  // namespace

