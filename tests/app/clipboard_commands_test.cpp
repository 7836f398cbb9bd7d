// The Copy commands of the window: scan, fit and residual tables of loaded
// scans (checked against printf's own formatting), the noise tables, the
// distribution with its questions, the prior, the picture of the
// distribution plot, and the parameter listing copied and saved.
#include <cmath>
#include <cstdio>

#include "app/window/road_services.h"
#include "distributions/prior_knowledge.h"
#include "distributions/analysis/extrapolation_plot.h"
#include "distributions/analysis/lsgs_extrapolation.h"
#include "distributions/distribution_arrays.h"
#include "fit/fit_engine_state.h"
#include "platform/clipboard.h"
#include "plot/distribution_plot.h"
#include "road_support.h"

namespace {

std::string G(float v) {
  char cell[32];
  std::snprintf(cell, sizeof cell, "%g", static_cast<double>(v));
  return cell;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

class CopyCommands : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    platform::SetClipboard(&clipboard_);
  }
  void TearDown() override {
    FreeDistributionArrays();
    Lsgs() = LsgsRunState{};
    FreeLsgsArrays();
    platform::SetClipboard(nullptr);
    RoadTest::TearDown();
  }
  // Row r (0-based) of the scan table as printf writes it.
  static std::string ScanRow(const std::vector<float*>& y, int r, int lastOffset) {
    const ScanSet& s = CurrentScanSet();
    std::string row;
    for (int k = 1; k <= s.count; ++k) {
      if (k > 1) row += '\t';
      const int i = s.firstFitPoint[k] + r;
      if (i <= s.lastFitPoint[k] - lastOffset)
        row += G(s.radii[k][i]) + '\t' + G(y[k][i]);
      else
        row += '\t';
    }
    return row;
  }
  // A distribution of three points: s 1 2 3, M 10 20 30, maximum entropy
  // 0.1 0.2 0.3, Tikhonov 0.4 0.5 0.6.
  static void ThreePointDistribution() {
    gModelSelectorFlags.DistributionModel = 1;
    AllocDistributionArrays(3, 0, 0);
    ContiSettings& cs = Conti();
    cs.gridSize = 3;
    for (int i = 1; i <= 3; ++i) {
      cs.sValues[i] = static_cast<float>(i);
      cs.molarMasses[i] = 10.0f * static_cast<float>(i);
      cs.distribution[i] = 0.1f * static_cast<float>(i);
      cs.companionDistribution[i] = 0.3f + 0.1f * static_cast<float>(i);
    }
  }

  platform::MemoryClipboard clipboard_;
};

TEST_F(CopyCommands, ScanTablesOfDataFitsAndResiduals) {
  LoadRun(3);
  ScanSet& s = CurrentScanSet();
  // Different fit ranges per scan give columns of different lengths.
  s.lastFitPoint[2] -= 4;
  for (int k = 1; k <= 3; ++k)
    for (int i = 1; i <= s.points[k]; ++i) {
      s.model[k][i] = 0.25f * static_cast<float>(k) + 1e-3f * static_cast<float>(i);
      s.residuals[k][i] = 1234567.0f * static_cast<float>(i % 3 - 1);
    }
  int rows = 0;
  for (int k = 1; k <= 3; ++k) rows = std::max(rows, s.lastFitPoint[k] - s.firstFitPoint[k] + 1);
  struct Case {
    int command;
    std::vector<float*>* arrays;
    int lastOffset;
  };
  for (const Case& k : {Case{258, &s.signals, 0}, Case{259, &s.model, 0}, Case{260, &s.residuals, 1}}) {
    Window().Dispatch(k.command);
    const std::vector<std::string> lines = Lines(clipboard_.text);
    ASSERT_EQ(static_cast<int>(lines.size()), rows - k.lastOffset) << k.command;
    for (int r : {0, 1, rows / 2, rows - 5, rows - 1 - k.lastOffset})
      EXPECT_EQ(lines[r], ScanRow(*k.arrays, r, k.lastOffset)) << k.command << " row " << r;
    EXPECT_EQ(clipboard_.text.back(), '\n');
  }
  EXPECT_NE(clipboard_.text.find("1.23457e+06"), std::string::npos);
  EXPECT_EQ(Headless(Window()).cursor, platform::CursorKind::Arrow);
}

TEST_F(CopyCommands, InterferenceScansShareTheFirstScansRadiiAndAShortScanEndsEarly) {
  const auto paths = WriteRun(".ip1", 2, 'P');
  Window();
  ASSERT_TRUE(LoadAllData(PickedFiles(dir_, paths)));
  ASSERT_TRUE(CurrentDataTypeFlags().interference);
  ScanSet& s = CurrentScanSet();
  const int first = s.firstFitPoint[1], last = s.lastFitPoint[1];
  // A point deleted from scan 2 leaves it one point shorter than scan 1's range.
  s.points[2] = last - 1;
  Window().Dispatch(258);
  const std::vector<std::string> lines = Lines(clipboard_.text);
  ASSERT_EQ(static_cast<int>(lines.size()), last - first + 1);
  EXPECT_EQ(lines[0], G(s.radii[1][first]) + '\t' + G(s.signals[1][first]) + '\t' + G(s.signals[2][first]));
  EXPECT_EQ(lines.back(), G(s.radii[1][last]) + '\t' + G(s.signals[1][last]) + '\t');
}

TEST_F(CopyCommands, NoiseTablesOnlyOfFittedNoise) {
  LoadRun(3);
  ScanSet& s = CurrentScanSet();
  ASSERT_NE(s.riNoise, nullptr);
  ASSERT_NE(s.tiNoise, nullptr);
  for (int i = 1; i <= s.count; ++i) s.riNoise[i] = -0.001f * static_cast<float>(i);
  for (int j = 1; j <= s.gridLength; ++j) s.tiNoise[j] = 0.5f * static_cast<float>(j);
  Window().Dispatch(261);
  Window().Dispatch(262);
  EXPECT_EQ(clipboard_.writes, 0);

  gModelParams.riNoiseFit = 1;
  Window().Dispatch(261);
  std::string expected;
  for (int i = 1; i <= s.count; ++i)
    expected += G(static_cast<float>(s.records[i].time)) + '\t' + G(s.riNoise[i]) + '\n';
  EXPECT_EQ(clipboard_.text, expected);
  // RI noise already taken from the data is still part of the table.
  ASSERT_NE(s.riNoiseSubtracted, nullptr);
  for (int i = 1; i <= s.count; ++i) {
    s.riNoiseSubtracted[i] = s.riNoise[i];
    s.riNoise[i] = 0.0f;
  }
  Window().Dispatch(261);
  EXPECT_EQ(clipboard_.text, expected);

  gFitEngineState.fitTINoise = 1;
  Window().Dispatch(262);
  const std::vector<std::string> lines = Lines(clipboard_.text);
  ASSERT_EQ(static_cast<int>(lines.size()), s.lastGridPoint - s.firstGridPoint + 1);
  EXPECT_EQ(lines.front(), G(s.grid[s.firstGridPoint]) + '\t' + G(s.tiNoise[s.firstGridPoint]));
  EXPECT_EQ(lines.back(), G(s.grid[s.lastGridPoint]) + '\t' + G(s.tiNoise[s.lastGridPoint]));
}

TEST_F(CopyCommands, DistributionByItsQuestionsAndAxis) {
  LoadRun(2);
  ThreePointDistribution();
  ContiSettings& cs = Conti();
  cs.showBothRegularizations = 1;
  gModelSelectorFlags.CSModel = 1;
  // No to both questions copies nothing.
  ui_->ExpectBox("", "Max Ent distribution?", platform::IDNO);
  ui_->ExpectBox("", "Tikhonov distribution?", platform::IDNO);
  Window().Dispatch(274);
  EXPECT_EQ(clipboard_.writes, 0);
  ui_->ExpectBox("", "Max Ent distribution?", platform::IDNO);
  ui_->ExpectBox("", "Tikhonov distribution?", platform::IDYES);
  Window().Dispatch(274);
  EXPECT_EQ(clipboard_.text, "1\t0.4\n2\t0.5\n3\t0.6\n");
  ui_->ExpectBox("", "Max Ent distribution?", platform::IDYES);
  Window().Dispatch(274);
  EXPECT_EQ(clipboard_.text, "1\t0.1\n2\t0.2\n3\t0.3\n");
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();

  // A c(M) distribution goes over the molar masses.
  cs.showBothRegularizations = 0;
  gModelSelectorFlags.CSModel = 0;
  Window().Dispatch(274);
  EXPECT_EQ(clipboard_.text, "10\t0.1\n20\t0.2\n30\t0.3\n");
  // The prior over its own abscissa.
  Window().Dispatch(632);
  EXPECT_EQ(clipboard_.text, "10\t0.1\n20\t0.2\n30\t0.3\n");
  Priors().use = true;
  for (int i = 1; i <= 3; ++i) {
    cs.priorCompanion[i] = 1.5 * i;
    cs.prior[i] = 0.25 * i;
  }
  Window().Dispatch(632);
  EXPECT_EQ(clipboard_.text, "1.5\t0.25\n3\t0.5\n4.5\t0.75\n");
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

TEST_F(CopyCommands, LsgsExtrapolationCopiesGroupsOrTheIntegralWithinTheGrid) {
  LoadRun(2);
  ThreePointDistribution();
  gModelSelectorFlags.LsgExtrapolationModel = 1;
  LsgsRunState& st = Lsgs();
  st.gridPoints = 3;
  st.groups = st.groupsDone = 2;
  st.fractions = 5;  // more extrapolated fractions than grid points
  st.sGrid = {0, 1, 2, 3};
  st.groupDistributions = {1, 2, 3, 4, 5, 6};
  ui_->ExpectBox("", "ls-g*(s) distributions?", platform::IDYES);
  Window().Dispatch(274);
  EXPECT_EQ(clipboard_.text, "1\t1\t4\n2\t2\t5\n3\t3\t6\n");
  ui_->ExpectBox("", "ls-g*(s) distributions?", platform::IDNO);
  Window().Dispatch(274);
  EXPECT_EQ(clipboard_.text, "1\t0.1\n2\t0.2\n3\t0.3\n");
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();

  // The extrapolation plot on display: the lines at every abscissa, then
  // the fractions' s (0 at the extra point).
  const float times[] = {0, 400, 1600};
  const std::vector<float> s = {3, 5, 4, 6};  // row-major: 2 rows x 2 fractions
  const float intercepts[] = {0, 5, 7};
  const float slopes[] = {0, -40, -20};
  ShowExtrapolationPlot(times, s, 2, 2, intercepts, slopes);
  Window().Dispatch(258);
  EXPECT_EQ(clipboard_.text,
            "0.05\t3\t6\t3\t5\n"
            "0.025\t4\t6.5\t4\t6\n"
            "0\t5\t7\t0\t0\n");
  // A point that a fraction's line left out is not drawn and not copied.
  const std::vector<unsigned char> taken = {1, 0, 1, 1};
  ShowExtrapolationPlot(times, s, 2, 2, intercepts, slopes, &taken);
  Window().Dispatch(258);
  EXPECT_EQ(clipboard_.text,
            "0.05\t3\t6\t3\t\n"
            "0.025\t4\t6.5\t4\t6\n"
            "0\t5\t7\t0\t0\n");
}

TEST_F(CopyCommands, DistributionPlotAsAPicture) {
  Window();
  InstallDistributionPlot();
  ThreePointDistribution();
  Window().Dispatch(273);
  EXPECT_EQ(clipboard_.writes, 0);  // no plot yet
  BuildDistributionPlot();
  RedrawDistributionPlot();
  ASSERT_NE(GetDistributionPlotMetafile(), 0u);
  Window().Dispatch(273);
  ASSERT_EQ(clipboard_.content, platform::MemoryClipboard::Content::Picture);
  EXPECT_EQ(clipboard_.picture.mapMode, platform::MM_ISOTROPIC);
  EXPECT_EQ(clipboard_.picture.xExt, 13000);
  EXPECT_EQ(clipboard_.picture.yExt, 9000);
  ASSERT_NE(clipboard_.picture.metafile, nullptr);
  EXPECT_EQ(clipboard_.picture.metafile, platform::MetafileContents(GetDistributionPlotMetafile()));
}

TEST_F(CopyCommands, ParameterListingIsCopiedAndSavedWithTheFitData) {
  LoadRun(2);
  gModelParams.included[1] = 1;
  PackModelParameters();
  Window().Dispatch(204);
  EXPECT_EQ(clipboard_.text.rfind("\n\ncomponent 1 included:\n", 0), 0u);
  ASSERT_TRUE(Road().saveParametersToFile);
  // Save Fit Data: fitted data, residuals, then the listing under the
  // name chosen: a typed extension stands, the preset's ".rxx" becomes the
  // data's.
  struct Case {
    const char* chosen;
    const char* written;
  } cases[] = {{"listing.txt", "listing.txt"}, {"listing.rxx", "listing.ra1"}};
  for (const Case& c : cases) {
    ui_->lenient = true;
    ui_->ExpectFiles("", Chosen({(dir_ / "fit.ra1").string()}));
    ui_->ExpectFiles("", Chosen({(dir_ / "res.ra1").string()}));
    ui_->ExpectFiles("", Chosen({(dir_ / c.chosen).string()}));
    Window().Dispatch(203);
    EXPECT_EQ(ReadFile((dir_ / c.written).string()).rfind("\n\ncomponent 1 included:\n", 0), 0u) << c.chosen;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "listing.rxx"));
}

}  // namespace
