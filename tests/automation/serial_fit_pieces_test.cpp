// The pieces of the serial fits that need no window: the error texts, the
// corrections line of the summary, the series files PELDO writes and the
// numbers a row of them names.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "automation/serial/fluorescence_corrections.h"
#include "automation/serial/serial_fit.h"

namespace {

namespace fs = std::filesystem;

TEST(SerialFitPieces, ErrorCodesGiveTheirTexts) {
  const struct {
    int code;
    const char* text;
  } cases[] = {
      {1, "max #iteration exceeded in NNLS"},
      {2, "matrix not positive definite in NNLS"},
      {3, "problem in regularization, cannot reach chi-square increase"},
      {4, "Maximum number of iterations exceeded in zbrent"},
      {5, "too many iterations finding root"},
      {6, "problem with regularization, caught at P = ?"},
      {7, "could not create MC directory"},
      {8, "too many iterations finding root"},
      {9, "zero differential in mlcof"},
      {10, "Nelder-Mead not converged"},
      {11, "error occured (invalid error code)"},
      {0, "error occured (invalid error code)"},
      {-3, "error occured (invalid error code)"},
  };
  for (const auto& c : cases) EXPECT_EQ(SerialFitErrorText(c.code), c.text) << c.code;
}

TEST(SerialFitPieces, CorrectionsLineNamesOnlyWhatFloats) {
  FluorescenceCorrectionValues kbleachOnly;
  kbleachOnly.timeDependentOn = kbleachOnly.photobleachingOn = kbleachOnly.kbleachFloating = true;
  kbleachOnly.kbleach = 0.25f;
  kbleachOnly.alim = 0.5f;
  FluorescenceCorrectionValues driftOnly;
  driftOnly.timeDependentOn = driftOnly.driftOn = driftOnly.driftFloating = true;
  driftOnly.drift = 0.01f;
  FluorescenceCorrectionValues several = kbleachOnly;
  several.convolutionOn = several.convolutionFloating = true;
  several.convolutionWidth = 0.0125f;
  several.shadowOn = true;  // fixed: not named
  several.alimFloating = several.driftOn = several.driftFloating = true;
  several.drift = 0.02f;
  several.gradientOn = several.gradientFloating = true;
  several.gradient = -0.5f;
  const struct {
    const char* name;
    FluorescenceCorrectionValues values;
    const char* line;
  } cases[] = {
      {"nothing on", {}, ""},
      {"kbleach only", kbleachOnly, "\t\t\t - kbleach = 0.2500 1/h (floating)\t\t\t\n"},
      {"drift alone writes no line", driftOnly, ""},
      {"several", several,
       "\t\t\tconvol = 0.013 | - kbleach = 0.2500 1/h (floating) - Alim = 50.0000 % (floating)"
       " - drift = 2.000 %/h (floating)gradient = -0.500\t\t\t\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(FloatingCorrectionsLine(c.values), c.line) << c.name;
}

TEST(SerialFitPieces, StandInCorrectionsGiveBackWhatTheyWereGiven) {
  FluorescenceCorrectionValues v;
  v.shadowOn = true;
  v.shadow = 0.3f;
  const FluorescenceCorrectionValues before = FluorescenceCorrections().Get();
  FluorescenceCorrections().Set(v);
  EXPECT_TRUE(FluorescenceCorrections().Get().shadowOn);
  EXPECT_EQ(FluorescenceCorrections().Get().shadow, 0.3f);
  FluorescenceCorrections().Set(before);
}

TEST(SerialFitPieces, SeriesFilesTakeEveryCompleteRowAndRefuseBadOnes) {
  const SeriesFile rows = ParseSeriesFile("None RA1 1 100 10\nrun_ IP2 5 9 2\n\nx RA3 3 1 1", false);
  ASSERT_TRUE(rows.ok);
  ASSERT_EQ(rows.rows.size(), 3u);
  EXPECT_EQ(rows.rows[0].prefix, "");
  EXPECT_EQ(rows.rows[0].extension, "RA1");
  EXPECT_EQ(rows.rows[0].step, 10);
  EXPECT_EQ(rows.rows[1].prefix, "run_");
  EXPECT_EQ(rows.rows[1].first, 5);
  // The last row, though no line end follows it.
  EXPECT_EQ(rows.rows[2].prefix, "x");
  EXPECT_EQ(rows.rows[2].last, 1);

  const SeriesFile lists = ParseSeriesFile("/d/list.RA1\r\n/d/list.RA2\n", true);
  ASSERT_TRUE(lists.ok);
  EXPECT_EQ(lists.listPaths, (std::vector<std::string>{"/d/list.RA1", "/d/list.RA2"}));

  const struct {
    const char* text;
    bool listOfLists;
  } refused[] = {
      {"None RA1 1 100 0\n", false},   // a step that never advances
      {"None RA1 1 100 -2\n", false},
      {"None RA1 1 100\n", false},
      {"None RA1 one 100 1\n", false},
      {"/d/list.RA1 more\n", true},
  };
  for (const auto& c : refused) EXPECT_FALSE(ParseSeriesFile(c.text, c.listOfLists).ok) << c.text;
}

class SeriesRows : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / "tarnel_series_rows";
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    folder_ = dir_.string() + "/";
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Touch(const SeriesRow& row, int number) { std::ofstream(SeriesFilePath(folder_, row, number)) << "x\n"; }

  fs::path dir_;
  std::string folder_;
};

TEST_F(SeriesRows, AfterAFoundFileTheStepAppliesAndTheLastNumberIsAlwaysTried) {
  SeriesRow row{"", "RA1", 1, 100, 10};
  for (int n = 1; n <= 100; ++n)
    if (n != 41) Touch(row, n);
  EXPECT_EQ(SeriesFilePath(folder_, row, 7), folder_ + "00007.RA1");
  std::string problem;
  bool tooMany = true;
  EXPECT_EQ(SeriesRowNumbers(row, folder_, &tooMany, &problem),
            (std::vector<int>{1, 11, 21, 31, 42, 52, 62, 72, 82, 92, 100}));
  EXPECT_FALSE(tooMany);
  EXPECT_EQ(problem, "");

  // The last file missing: what was found stands, unless fewer than 2 files.
  fs::remove(SeriesFilePath(folder_, row, 100));
  EXPECT_EQ(SeriesRowNumbers(row, folder_, nullptr, &problem).back(), 92);
  const SeriesRow sparse{"p", "RA2", 1, 5, 1};
  Touch(sparse, 2);
  EXPECT_TRUE(SeriesRowNumbers(sparse, folder_, nullptr, &problem).empty());
  EXPECT_EQ(problem, "problem creating list RA2: only 1 files found");
}

}  // namespace
