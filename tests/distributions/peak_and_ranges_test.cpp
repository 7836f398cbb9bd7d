#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "distributions/integrate_distribution.h"
#include "distributions/integration_ranges.h"
#include "distributions/peak_area.h"
#include "fit/model_selector.h"
#include "numerics/ccurve.h"
#include "platform/clipboard.h"
#include "platform/process_launcher.h"
#include "platform/program_paths.h"
#include "platform/scripted_ui.h"
#include "two_peak_distribution.h"
#include "tests/support/temp_folder.h"

namespace {

TEST_F(TwoPeakDistribution, PeaksAreFoundAndIntegratedBetweenTheirFlankEnds) {
  CVector x, y;
  x.Attach(s_.data() + 1, 150, 0);
  y.Attach(c_.data() + 1, 150, 0);
  const CCurve curve(&x, &y);
  float px[11], py[11];
  int index[11];
  ASSERT_EQ(curve.FindPeaks(px, py, index, 10, 2), 2);
  EXPECT_EQ(index[1], 30);
  EXPECT_EQ(index[2], 70);

  struct Case {
    int i;
    float sLo, sHi, area, sw;
    int iLo, iHi;
  };
  for (const Case& k : {Case{30, 2.0f, 4.0f, 0.751273f, 3.0f, 20, 40}, Case{70, 5.4f, 8.6f, 0.625764f, 7.0f, 54, 86}}) {
    const PeakArea a = IntegratePeakAt(k.i, 0.9f);
    EXPECT_EQ(a.iLo, k.iLo) << k.i;
    EXPECT_EQ(a.iHi, k.iHi) << k.i;
    EXPECT_FLOAT_EQ(a.sLo, k.sLo);
    EXPECT_FLOAT_EQ(a.sHi, k.sHi);
    EXPECT_NEAR(a.area, k.area, 2e-6);
    EXPECT_NEAR(a.sw, k.sw, 5e-4);
    // The fraction is the area over the whole trapezoid integral 1.378646.
    EXPECT_NEAR(a.fraction, k.area / 1.378646, 2e-6);
    // The same range by the generic piecewise-linear integration.
    const DistributionMoments m = IntegratePiecewiseLinear(s_.data(), c_.data(), 1, 150, k.sLo, k.sHi, false, false);
    EXPECT_NEAR(a.area, m.area, 1e-6);
  }
  EXPECT_NEAR(IntegratePeakAt(30).fraction, 0.54494, 1e-5);
}

TEST_F(TwoPeakDistribution, IndicesNextToTheGridEndsGiveAnEmptyPeak) {
  // A rising distribution so that both indices pass the left-neighbour test.
  Load([](double s) { return s; });
  for (int i : {1, 2, 149, 150}) {
    const PeakArea a = IntegratePeakAt(i);
    EXPECT_EQ(a.iLo, 0) << i;
    EXPECT_EQ(a.iHi, 0) << i;
    EXPECT_FLOAT_EQ(a.sLo, s_[i]);
    EXPECT_FLOAT_EQ(a.sHi, s_[i]);
    EXPECT_EQ(a.area, 0.0f);
    EXPECT_EQ(a.fraction, 0.0f);
  }
}

TEST_F(TwoPeakDistribution, NeighbouringPeaksShareTheMinimumBetweenThem) {
  Load([](double s) { return std::exp(-(s - 3) * (s - 3) / 0.18) + std::exp(-(s - 4.2) * (s - 4.2) / 0.18); });
  // The minimum lies at 3.6 S (index 36).
  EXPECT_EQ(IntegratePeakAt(30).iHi, 36);
  EXPECT_EQ(IntegratePeakAt(42).iLo, 36);
}

TEST(PeakWalk, FlanksEndWhereTheWrittenRulesSay) {
  struct Case {
    const char* what;
    std::vector<float> c;  // c[1..n] (element 0 unused)
    int i, lo, hi;
    bool accepted;
  };
  const std::vector<Case> cases = {
      {"first point below 1 % ends a flank", {0, 0.001f, 0.005f, 0.5f, 1.0f, 0.5f, 0.005f, 0.001f, 0}, 4, 2, 6, true},
      {"equal values above 0.9 are crossed", {0, 0.1f, 0.2f, 0.95f, 0.95f, 1.0f, 0.95f, 0.95f, 0.3f, 0.005f, 0.001f},
       5, 1, 9, true},
      {"equal values at 0.9 stop at the first of them", {0, 0.1f, 0.9f, 0.9f, 1.0f, 0.9f, 0.9f, 0.1f, 0}, 4, 3, 5, true},
      {"a secondary maximum ends the walk at the minimum", {0, 0.1f, 0.5f, 0.3f, 0.6f, 1.0f, 0.7f, 0.2f, 0.4f, 0.1f, 0},
       5, 3, 7, true},
      {"a still falling curve runs to both grid ends", {0, 0.3f, 0.5f, 0.7f, 1.0f, 0.8f, 0.6f, 0.4f}, 4, 1, 7, true},
      {"a peak of 0 has zero width", {0, -2.0f, -1.0f, -0.5f, 0.0f, -0.5f, -1.0f, -2.0f}, 4, 4, 4, true},
      {"not above the left neighbour", {0, 0.1f, 0.5f, 1.0f, 1.0f, 0.5f, 0.1f, 0.0f}, 4, 0, 0, false},
      {"index 2 is too close to the grid start", {0, 0.1f, 1.0f, 0.5f, 0.2f, 0.1f}, 2, 0, 0, false},
  };
  for (const Case& k : cases) {
    const int n = static_cast<int>(k.c.size()) - 1;
    const PeakBounds b = WalkPeakFlanks(k.c.data(), n, k.i, 0.9f);
    EXPECT_EQ(b.accepted, k.accepted) << k.what;
    EXPECT_EQ(b.lo, k.lo) << k.what;
    EXPECT_EQ(b.hi, k.hi) << k.what;
  }
}

// The ranges file, its pointer file and the report with the distribution
// above; messages, editor and clipboard are recorded.
class RangesFromFile : public TwoPeakDistribution {
 protected:
  void SetUp() override {
    TwoPeakDistribution::SetUp();
    savedPointer_ = platform::ProgramPaths.IntegrationRangesPath[0];
    platform::ProgramPaths.IntegrationRangesPath[0] = (dir_ / "integratrangefile.txt").string();
    savedFolder_ = CurrentDataPaths().dataFolder;
    CurrentDataPaths().dataFolder = dir_.string();
    ui_.lenient = true;
    platform::SetProcesses(&processes_);
    platform::SetClipboard(&clipboard_);
    IntegrationRanges() = IntegrationRangesState{};
  }
  void TearDown() override {
    platform::SetProcesses(nullptr);
    platform::SetClipboard(nullptr);
    platform::ProgramPaths.IntegrationRangesPath[0] = savedPointer_;
    CurrentDataPaths().dataFolder = savedFolder_;
    IntegrationRanges() = IntegrationRangesState{};
    TwoPeakDistribution::TearDown();
  }
  std::string WriteRanges(const std::string& text, const std::string& pointerText = "") {
    const std::string path = (dir_ / "ranges.dat").string();
    std::ofstream(path, std::ios::binary) << text;
    std::ofstream(platform::ProgramPaths.IntegrationRangesPath[0], std::ios::binary)
        << (pointerText.empty() ? path : pointerText);
    return path;
  }
  static std::string Read(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  teststate::TempFolder folder_;
  const std::filesystem::path dir_{folder_.path()};
  std::string savedPointer_, savedFolder_;
  platform::ScriptedUserInterface ui_;
  platform::ScopedUI scope_{ui_};
  platform::RecordingProcessLauncher processes_;
  platform::MemoryClipboard clipboard_;
};

TEST_F(RangesFromFile, ReportFileEditorAndClipboardTable) {
  const std::string path = WriteRanges("2.0 4.0\n5.4 8.6\n");
  ASSERT_TRUE(IntegrateRangesFromFile(true));
  const std::string report = Read(dir_ / "integrals.dat");
  EXPECT_EQ(report.rfind("automatic integration limits are switched on, using file " + path + ":\n", 0), 0u);
  EXPECT_NE(report.find("1: from 2.00S to 4.00S\n"), std::string::npos);
  EXPECT_NE(report.find("\t c = 0.7513 (this is considered total for following % amounts), sw = 3.000\n"),
            std::string::npos);
  EXPECT_NE(report.find("2: from 5.40S to 8.60S\n"), std::string::npos);
  EXPECT_NE(report.find("\t c = 0.6258 (83.29% of c in range #1), sw = 7.000\n"), std::string::npos);
  EXPECT_EQ(report.back(), ' ');
  ASSERT_EQ(processes_.calls.size(), 1u);
  EXPECT_EQ(processes_.calls[0], "edit " + (dir_ / "integrals.dat").string());
  EXPECT_EQ(clipboard_.text, "2\t4\t0.751273\t100\t3\n5.4\t8.6\t0.625764\t83.2939\t7\n");
  EXPECT_TRUE(ui_.transcript.empty());
}

TEST_F(RangesFromFile, AnEmptyFirstRangeLeavesNoPercentages) {
  WriteRanges("0.1 0.5\n2.0 4.0\n4 2\n");
  const RangesReport r = [] {
    EXPECT_TRUE(LoadIntegrationRanges());
    return IntegrateRangeList(IntegrationRanges().ranges, IntegrationRanges().path);
  }();
  ASSERT_EQ(r.rows.size(), 3u);
  // Below 0.5 S the distribution is below 1e-7: the first range counts as empty.
  Load([](double s) { return s < 1.0 ? 0.0 : std::exp(-(s - 3) * (s - 3) / 0.18); });
  const RangesReport e = IntegrateRangeList(IntegrationRanges().ranges, "r");
  EXPECT_NE(e.text.find("\t c = 0.0000 (this is considered total"), std::string::npos);
  EXPECT_NE(e.text.find("\t c = 0.7513, sw = 3.000\n"), std::string::npos);
  for (const RangeIntegral& row : e.rows) EXPECT_EQ(row.percent, 0.0f);
  // A range given as s-max before s-min is integrated as given (to nothing).
  EXPECT_NE(e.text.find("3: from 4.00S to 2.00S\n\t c = 0.0000, sw = 0.000\n"), std::string::npos);
}

TEST_F(RangesFromFile, BadFilesAreRefusedWithTheirMessages) {
  struct Case {
    const char* what;
    std::string ranges;
    bool pointerWithLineEnd;
    bool loads;
    size_t rows;
  };
  const std::vector<Case> cases = {
      {"one line", "2 4", false, true, 1},
      {"rest of the line ignored", "2 4 comment\n5 6\tx\n", false, true, 2},
      {"pointer file ending its line", "2 4\n", true, true, 1},
      {"empty line inside", "2 4\n\n5 6\n", false, false, 0},
      {"empty line at the end", "2 4\n5 6\n\n", false, false, 0},
      {"not a number", "2 4\nfive 6\n", false, false, 0},
      {"one number only", "2\n", false, false, 0},
      {"empty file", "", false, false, 0},
  };
  for (const Case& k : cases) {
    ui_.transcript.clear();
    const std::string path = (dir_ / "ranges.dat").string();
    WriteRanges(k.ranges, k.pointerWithLineEnd ? path + "\r\n" : "");
    EXPECT_EQ(LoadIntegrationRanges(), k.loads) << k.what;
    EXPECT_EQ(IntegrationRanges().loaded, k.loads) << k.what;
    EXPECT_EQ(IntegrationRanges().ranges.size(), k.rows) << k.what;
    EXPECT_EQ(IntegrationRanges().path, path) << k.what;
    if (!k.loads) {
      ASSERT_FALSE(ui_.transcript.empty()) << k.what;
      EXPECT_EQ(ui_.transcript.back().caption, "SET INTEGRATION RANGE");
      EXPECT_EQ(ui_.transcript.back().text, "could not load distribution ranges from file " + path);
    } else {
      EXPECT_TRUE(ui_.transcript.empty()) << k.what;
    }
  }
  // Without a pointer file nothing is said.
  ui_.transcript.clear();
  std::filesystem::remove(platform::ProgramPaths.IntegrationRangesPath[0]);
  EXPECT_FALSE(LoadIntegrationRanges());
  EXPECT_TRUE(ui_.transcript.empty());
  EXPECT_FALSE(IntegrateRangesFromFile(true));
}

TEST_F(RangesFromFile, AnUnwritableDataFolderIsReportedAndNothingElseHappens) {
  WriteRanges("2 4\n");
  EXPECT_FALSE(IntegrateRangesFromFile(false));
  CurrentDataPaths().dataFolder = (dir_ / "missing" / "folder").string();
  EXPECT_FALSE(IntegrateRangesFromFile(true));
  ASSERT_EQ(ui_.transcript.size(), 1u);
  EXPECT_EQ(ui_.transcript[0].caption, "ERROR");
  EXPECT_EQ(ui_.transcript[0].text,
            "could not open file " + (dir_ / "missing" / "folder" / "integrals.dat").string() + " for writing");
  EXPECT_TRUE(processes_.calls.empty());
  EXPECT_EQ(clipboard_.writes, 0);
}

TEST_F(RangesFromFile, ALongReportIsKeptWhole) {
  std::string ranges;
  for (int k = 0; k < 400; ++k) ranges += "2.0 4.0\n";
  WriteRanges(ranges);
  ASSERT_TRUE(IntegrateRangesFromFile(true));
  const std::string report = Read(dir_ / "integrals.dat");
  EXPECT_GT(report.size(), 10000u);
  EXPECT_NE(report.find("400: from 2.00S to 4.00S\n\t c = 0.7513 (100.00% of c in range #1), sw = 3.000\n"),
            std::string::npos);
}

}  // namespace
