#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "automation/plot_exports.h"
#include "numerics/arrays.h"
#include "platform/program_paths.h"
#include "tests/automation/automation_test_support.h"

using autotest::ReadFile;

namespace {

std::string Printf(const char* format, double a, double b) {
  char line[128];
  std::snprintf(line, sizeof line, format, a, b);
  return line;
}

// Three scans of eight points loaded out of time order (the second file is
// the earliest), fitted from point 2 to 7, with TI noise on the grid and
// RI noise per scan.
class PlotFiles : public autotest::Scratch {
 protected:
  PlotFiles() {
    autotest::ResetAnalysisState();
    savedTemp_ = platform::ProgramPaths.TempFolder;
    platform::ProgramPaths.TempFolder = dir.string() + "/";
    ScanSet& s = CurrentScanSet();
    s.equilibriumMode = 0;
    AllocateScanTables(s, 3);
    const double times[] = {0, 200, 100, 300};
    for (int i = 1; i <= 3; ++i) {
      autotest::PutScan(
          i, 8, 6.0f, 0.125f, [i](float r) { return static_cast<float>(i) + r - 6.0f; },
          [i](float r) { return static_cast<float>(i) + 0.5f * (r - 6.0f); });
      s.residuals[i] = vector(1, 8);
      for (int k = 1; k <= 8; ++k) s.residuals[i][k] = s.signals[i][k] - s.model[i][k];
      s.records[i].timeRead = times[i];
      s.firstFitPoint[i] = 2;
      s.lastFitPoint[i] = 7;
    }
    s.order[1] = 2;
    s.order[2] = 1;
    s.order[3] = 3;
    s.gridOwned = 1;
    // The grid reaches beyond the scans, as an interpolation onto them needs.
    s.gridLength = 16;
    s.grid = vector(1, 16);
    s.tiNoise = vector(1, 16);
    s.tiNoiseSubtracted = vector(1, 16);
    s.riNoise = vector(1, 3);
    for (int g = 1; g <= 16; ++g) {
      s.grid[g] = 6.0f + 0.125f * static_cast<float>(g - 1);
      s.tiNoise[g] = 0.25f * static_cast<float>(g);
      s.tiNoiseSubtracted[g] = 0.0f;
    }
    s.firstGridPoint = 2;
    s.lastGridPoint = 7;
    for (int i = 1; i <= 3; ++i) s.riNoise[i] = 0.5f * static_cast<float>(i);
  }
  ~PlotFiles() override {
    autotest::ResetAnalysisState();
    platform::ProgramPaths.TempFolder = savedTemp_;
  }
  std::string Temp(const char* name) { return ReadFile(dir / name); }

  std::string savedTemp_;
};

TEST_F(PlotFiles, CurveFilesFollowTheTimeOrderWithEveryPoint) {
  ASSERT_EQ(WriteDataCurvesForPlot(), 3);
  ASSERT_EQ(WriteFitCurvesForPlot(), 3);
  const ScanSet& s = CurrentScanSet();
  for (int k = 1; k <= 3; ++k) {
    const int i = s.order[k];
    std::string data, fit;
    for (int j = 1; j <= 8; ++j) {
      data += Printf("%e %e\n", s.radii[i][j], s.signals[i][j]);
      fit += Printf("%e %e\n", s.radii[i][j], s.model[i][j]);
    }
    EXPECT_EQ(Temp((std::to_string(k) + ".dat").c_str()), data) << k;
    EXPECT_EQ(Temp((std::to_string(k) + ".fit").c_str()), fit) << k;
  }
  EXPECT_EQ(Temp("times.dat"), "1.000000e+02\n2.000000e+02\n3.000000e+02\n");
}

TEST_F(PlotFiles, EquilibriumFileMarksItsBlocksAndTheNoiseItHolds) {
  ScanSet& s = CurrentScanSet();
  // Noise already taken from the data comes back on the scans' radii.
  for (int g = 1; g <= 16; ++g) s.tiNoiseSubtracted[g] = 0.125f * static_cast<float>(g);
  gFitEngineState.fitTINoise = 1;
  gModelParams.riNoiseFit = 1;
  ASSERT_EQ(WriteSEDataFile(), 3);
  std::string expected;
  for (int i = 1; i <= 3; ++i) {
    for (int j = 2; j <= 7; ++j) expected += Printf("%f\t%f\n", s.radii[i][j], s.signals[i][j] + 0.125 * j);
    expected += "-666.666 -666.666\n";
    for (int j = 2; j <= 7; ++j) expected += Printf("%f\t%f\n", s.radii[i][j], s.model[i][j] + 0.125 * j);
    expected += "-777.777 -777.777\n-999.999 -999.999\n";
  }
  // The grid from one point before the fit limits: subtracted plus current.
  expected += "-1001 -1001\n";
  for (int g = 1; g <= 7; ++g) expected += Printf("%f\t%f\n", s.grid[g], 0.375 * g);
  expected += "-1010 -1010\n-1100 -1100\n0\t0.500000\n0\t1.000000\n0\t1.500000\n-1110 -1110\n";
  EXPECT_EQ(Temp("SEdata.dat"), expected);

  gFitEngineState.fitTINoise = 0;
  gModelParams.riNoiseFit = 0;
  ASSERT_EQ(WriteSEDataFile(), 3);
  const std::string text = Temp("SEdata.dat");
  EXPECT_NE(text.find("-1001 -1001\n0 nan\n-1010 -1010\n-1100 -1100\n0 nan\n-1110 -1110\n"), std::string::npos);
}

TEST_F(PlotFiles, DlsFileGivesLagTimesWithSignalModelAndResidualBlocks) {
  ScanSet& s = CurrentScanSet();
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 4; ++j) s.radii[i][j] = -6.0f + static_cast<float>(j);  // log10 tau
  ASSERT_EQ(WriteDlsDataFile(), 3);
  std::string expected;
  for (int i = 1; i <= 3; ++i) {
    for (const float* y : {s.signals[i], s.model[i], s.residuals[i]}) {
      for (int j = 2; j <= 7; ++j) expected += Printf("%e\t%e\n", std::pow(10.0, s.radii[i][j]), y[j]);
      expected += y == s.signals[i] ? "-666.666 -666.666\n" : y == s.model[i] ? "-777.777 -777.777\n"
                                                                                 : "-888.888 -888.888\n";
    }
    expected += "-999.999 -999.999\n";
  }
  EXPECT_EQ(Temp("dlsdata.dat"), expected);
}

TEST_F(PlotFiles, SizeAndShapeTableOnlyForTheTwoDimensionalModels) {
  EXPECT_EQ(WriteSasDistributionForPlot(), 0);
  EXPECT_FALSE(std::filesystem::exists(dir / "sasdist.dat"));
  for (auto flag : {&ModelSelectorFlags::CSff0Model, &ModelSelectorFlags::CSff0With1DiscreteModel}) {
    gModelSelectorFlags = ModelSelectorFlags{};
    gModelSelectorFlags.*flag = 1;
    EXPECT_EQ(WriteSasDistributionForPlot(), 1);
    EXPECT_TRUE(std::filesystem::exists(dir / "sasdist.dat"));
  }
}

TEST_F(PlotFiles, AnUnwritableTempFolderIsReportedAndCountsNothing) {
  platform::ProgramPaths.TempFolder = (dir / "missing").string() + "/";
  const struct {
    const char* name;
    int (*write)();
    const char* file;
  } cases[] = {{"data", WriteDataCurvesForPlot, "1.dat"},
               {"fit", WriteFitCurvesForPlot, "1.fit"},
               {"equilibrium", WriteSEDataFile, "SEdata.dat"},
               {"DLS", WriteDlsDataFile, "dlsdata.dat"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ui.transcript.clear();
    EXPECT_EQ(c.write(), 0);
    ASSERT_EQ(ui.transcript.size(), 1u);
    EXPECT_EQ(ui.transcript[0].text, "\nAttention: could not open " + (dir / "missing" / c.file).string());
  }
}

}  // namespace
