// The equilibrium tools through the window: Run and Fit of the equilibrium
// model on scan files loaded as equilibrium data.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "app/commands/equilibrium/eqtools_commands.h"
#include "app/screens/eq_test_screen.h"
#include "fit/rmsd.h"
#include "plot/cwinplot.h"
#include "equilibrium/eqtools/eq_test_mode.h"
#include "equilibrium/eqtools/equilibrium_model.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "data/scan_grid.h"
#include "road_support.h"

namespace {

constexpr double kMb = 13500;  // 50 kDa at vbar rho 0.73
constexpr float kMeniscus = 6.9f, kBottom = 7.2f;

struct FileScan {
  int cell = 1;
  double rpm = 15000, wavelength = 280, time = 3600, loading = 0.4;
  char type = 'R';
  std::string name = "00001.RA1";
  double noise = 0.0;
  bool intensity = false;  // signal 1000 * 10^-absorbance, reference 1000
};

class EqTools : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    gSolutionConditions.vbarRho = 0.73f;
  }

  // A Boltzmann exponential at 7.05 cm of height `loading` plus 0.02.
  std::string Write(const FileScan& f, const std::string& folder = "") {
    static std::mt19937 gen(5);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::string text = "equilibrium scan\n";
    char line[160];
    std::snprintf(line, sizeof line, "%c %d 20.0 %ld %ld %1.4e %.0f 1\n", f.type, f.cell, static_cast<long>(f.rpm),
                  static_cast<long>(f.time), 1e4 * f.time, f.wavelength);
    text += line;
    for (int i = 0; i <= 140; ++i) {
      const double r = 6.91 + 0.002 * i;
      const double a = f.loading * EquilibriumExponential(r, kMb, f.rpm, 20, 7.05) + 0.02 + f.noise * noise(gen);
      if (f.intensity)
        std::snprintf(line, sizeof line, "%.4f %.6f 1000.0\n", r, 1000.0 * std::pow(10.0, -a));
      else
        std::snprintf(line, sizeof line, "%.4f %.6f 0.0\n", r, a);
      text += line;
    }
    const auto dir = folder.empty() ? dir_ : dir_ / folder;
    std::filesystem::create_directories(dir);
    const std::string path = (dir / f.name).string();
    std::ofstream(path) << text;
    return path;
  }

  // `n` scans 00001.RA<cell>... in `folder`, the k-th (from 1) taken at
  // 3600 k s and set further by `adjust`.
  std::vector<std::string> WriteSeries(int n, const std::function<void(FileScan&, int)>& adjust = {},
                                       const std::string& folder = "run") {
    std::vector<std::string> paths;
    for (int k = 1; k <= n; ++k) {
      FileScan f;
      f.time = 3600.0 * k;
      if (adjust) adjust(f, k);
      char name[16];
      std::snprintf(name, sizeof name, "%05d.RA%d", k, f.cell);
      f.name = name;
      paths.push_back(Write(f, folder));
    }
    return paths;
  }
  // A sort into sorted/eq.ra1 that makes xp files.
  void ExpectSortWithXp() {
    std::filesystem::create_directories(dir_ / "sorted");
    ui_->ExpectFiles("select filename for sorted eq data", Chosen({(dir_ / "sorted" / "eq.ra1").string()}));
    ui_->ExpectBox("sort EQ data", "make xp files?", platform::IDYES);
  }
  std::vector<std::string> XpLines() const {
    std::ifstream xp(dir_ / "sorted" / "cell1_280.xp");
    std::vector<std::string> lines;
    for (std::string line; std::getline(xp, line);) lines.push_back(line);
    return lines;
  }
  static bool Has(const std::vector<std::string>& lines, const std::string& text) {
    return std::find(lines.begin(), lines.end(), text) != lines.end();
  }

  void LoadEquilibrium(const std::vector<std::string>& paths) {
    Window();
    ui_->lenient = true;  // the loader's advice
    ui_->ExpectFiles("select files in set 1 to fit", Chosen(paths));
    Window().Dispatch(515);
    ui_->lenient = false;
    ui_->failures.clear();
    ASSERT_EQ(CurrentScanSet().count, static_cast<int>(paths.size()));
    gModelParams.meniscus = gModelParameterVector.P[13] = kMeniscus;
    gModelParams.bottom = gModelParameterVector.P[14] = kBottom;
    CurrentScanSet().leftFitLimit = 6.91f;
    CurrentScanSet().rightFitLimit = 7.19f;
    CheckLeftFitLimit();
    CheckRightFitLimit();
  }
};

TEST_F(EqTools, RunAndFitTheEquilibriumModelFindTheMass) {
  LoadEquilibrium(WriteSeries(3, [](FileScan& f, int k) {
    f.rpm = 5000.0 + 5000.0 * k;
    f.noise = 0.003;
  }));
  Window().Dispatch(284);
  ASSERT_TRUE(gModelSelectorFlags.EquilibriumModel284);
  gFitEngineState.molarMassParameters = 1;
  gModelParameterVector.P[1] = gModelParams.massOrD[1] = 40000;
  gModelParameterVector.F[1] = 1;
  gSolutionConditions.vbarRho = 0.73f;
  Window().Dispatch(213);  // Run
  ASSERT_NEAR(gSolutionConditions.vbarRho, 0.73f, 1e-6);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_GT(EqModelState().lastRmsd, 0.01);
  DispatchLenient(215);  // Fit, its report taken
  EXPECT_NEAR(gModelParameterVector.P[1], 50000, 500);
  // The rmsd at the measured points, the one the window shows: the noise
  // less what the TI profile shared by the three scans takes of it.
  EXPECT_NEAR(EqModelState().lastRmsd, CalcRmsd(), 1e-6);
  EXPECT_GT(EqModelState().lastRmsd, 0.0015);
  EXPECT_LT(EqModelState().lastRmsd, 0.003);
  const ScanSet& ss = CurrentScanSet();
  const int mid = ss.points[2] / 2;
  EXPECT_NEAR(ss.model[2][mid], ss.signals[2][mid], 0.015);
}

// "Sort Eq Data to Disk": cell 1 at 280 nm, three speeds of three scans.
TEST_F(EqTools, SortWritesTheLatestScansAndTheirXpFile) {
  LoadEquilibrium(WriteSeries(9, [](FileScan& f, int k) {
    f.rpm = 10000.0 + 5000.0 * ((k - 1) / 3);
    f.loading = 0.1 * k;
  }));
  ExpectSortWithXp();
  ui_->ExpectPrompt("make MORLEAN xp file", "buffer density (g/ml)", "1.002");
  ui_->ExpectPrompt("make MORLEAN xp file", "partial-specific volume (ml/g)", "0.72");
  ui_->ExpectPrompt("make MORLEAN xp file", "molar extinction coefficient A", "2");
  ui_->ExpectPrompt("make MORLEAN xp file", "molar extinction coefficient B", "1");
  ui_->ExpectPrompt("make MORLEAN xp file", "molar extinction coefficient C", "0.5");
  for (int speed : {10000, 15000, 20000}) {
    char text[100];
    std::snprintf(text, sizeof text, "was equilibrium attained at 280 nm and %d rpm?", speed);
    ui_->ExpectBox("EQ Test", text, platform::IDYES);
    std::snprintf(text, sizeof text, "accept EQ scan at 280 nm and %d rpm to be included?", speed);
    ui_->ExpectBox("EQ Test", text, platform::IDYES);
  }
  Window().Dispatch(579);
  ExpectScriptMet();
  for (const char* name : {"eq10k_280.RA1", "eq15k_280.RA1", "eq20k_280.RA1"})
    EXPECT_TRUE(std::filesystem::exists(dir_ / "sorted" / name)) << name;
  const std::vector<std::string> lines = XpLines();
  ASSERT_GT(lines.size(), 60u);
  EXPECT_EQ(lines[0], "4 (ExperimentType: MULTISEDEQ)");
  EXPECT_EQ(lines[1], "(exported xp file from TARNEL)");
  const std::string folder = (dir_ / "sorted").string() + "/";
  EXPECT_EQ(lines[2], "\"" + folder + "\" \" eq10k_280.RA1 eq15k_280.RA1 eq20k_280.RA1\"");
  EXPECT_EQ(lines[3], "1.002000 (fBufferDensity)");
  EXPECT_EQ(lines[5], "0.720000 (VBAR)");
  EXPECT_EQ(lines[6], "6.900000 (Meniscus)");
  for (const char* line : {"3 (NFILES)", "2.000000 (xExtinctionCoeffA)", "0.500000 (xExtinctionCoeffC)",
                           "0 (blocalFitTimeIndepNoise)", "8 (rotor type:  EIGHTHOLE)",
                           "0.000000e+00 (ppMultiLocalExtraConcs[3][3])"})
    EXPECT_TRUE(Has(lines, line)) << line;
  EXPECT_EQ(lines.back(), "-1 (Temperature)");
}

TEST_F(EqTools, SortRefusalsAndCancels) {
  ui_->ExpectBox("Sort SE data", "please load data first");
  Window().Dispatch(579);
  FileScan f;
  LoadEquilibrium({Write(f)});
  CurrentScanSet().radialResolution = 0.002f;
  ui_->ExpectBox("sort EQ data", "resolution is limiting data points - continue?", platform::IDNO);
  ui_->ExpectBox("sort EQ data", "change resolution?", platform::IDNO);
  Window().Dispatch(579);
  CurrentScanSet().radialResolution = 0.001f;
  platform::FileDialogResult cancelled;
  ui_->ExpectFiles("select filename for sorted eq data", cancelled);
  Window().Dispatch(579);
  ExpectScriptMet();
}

// Cancelled xp numbers keep what was offered, and the sort goes on.
TEST_F(EqTools, CancelledXpNumbersKeepTheirDefaults) {
  LoadEquilibrium(WriteSeries(2));
  gSolutionConditions.density = 1.01f;
  gSolutionConditions.vbar = 0.74f;
  ExpectSortWithXp();
  for (const char* prompt : {"buffer density (g/ml)", "partial-specific volume (ml/g)", "molar extinction coefficient A",
                             "molar extinction coefficient B", "molar extinction coefficient C"})
    ui_->ExpectPrompt("make MORLEAN xp file", prompt, std::nullopt);
  ui_->ExpectBox("EQ Test", "was equilibrium attained at 280 nm and 15000 rpm?", platform::IDYES);
  ui_->ExpectBox("EQ Test", "accept EQ scan at 280 nm and 15000 rpm to be included?", platform::IDYES);
  Window().Dispatch(579);
  ExpectScriptMet();
  EXPECT_TRUE(std::filesystem::exists(dir_ / "sorted" / "eq15k_280.RA1"));
  const std::vector<std::string> lines = XpLines();
  ASSERT_GT(lines.size(), 6u);
  EXPECT_EQ(lines[3], "1.010000 (fBufferDensity)");
  EXPECT_EQ(lines[5], "0.740000 (VBAR)");
  for (const char* line : {"1.000000 (xExtinctionCoeffA)", "1.000000 (xExtinctionCoeffB)", "0.000000 (xExtinctionCoeffC)"})
    EXPECT_TRUE(Has(lines, line)) << line;
}

// "Test Approach to Equilibrium" with scans of one cell at two speeds.
TEST_F(EqTools, TestModeShowsTheSeriesSavesThemAndEndsWithAModelCommand) {
  LoadEquilibrium(WriteSeries(6, [](FileScan& f, int k) {
    f.rpm = 10000.0 + 5000.0 * ((k - 1) / 3);
    f.loading = 0.4 + 0.02 * (2 - (k - 1) % 3);  // closing in on the last scan
  }));
  // One cell: no include question. New limits show the series again.
  ui_->ExpectBox("EQ TEST", "accept radial limits for comparison of 10 kprm series?", platform::IDNO);
  ui_->ExpectPrompt("EQ TEST", "r-min:", "7.0");
  ui_->ExpectPrompt("EQ TEST", "r-max:", "7.1");
  ui_->ExpectBox("EQ TEST", "accept radial limits for comparison of 10 kprm series?", platform::IDYES);
  ui_->ExpectBox("EQ TEST", "accept radial limits for comparison of 15 kprm series?", platform::IDYES);
  ui_->ExpectBox("EQ TEST", "save approach to equilibrium data?", platform::IDYES);
  const std::string chosen = (dir_ / "approach.txt").string();
  ui_->ExpectFiles("", Chosen({chosen}));
  ui_->ExpectBox("EQ TEST", "realtime update?", platform::IDNO);
  Window().Dispatch(645);
  ExpectScriptMet();
  ASSERT_TRUE(EqTestModeOn());
  ASSERT_NE(EqTestPlot(), nullptr);
  const EqTestSeriesSet& t = EqTest();
  ASSERT_EQ(t.Count(), 2);
  const ScanSet& ss = CurrentScanSet();
  const int last = t.series[0].Last();
  EXPECT_GT(ss.radii[last][t.first[1]], 7.0f);
  EXPECT_LT(ss.radii[last][t.last[1]], 7.1f);
  EXPECT_LT(ss.radii[last][t.first[1] - 1], 7.0001f);
  EXPECT_EQ(CurrentPlotWindows().dataPlot->curveCount, 2);
  EXPECT_EQ(CurrentPlotWindows().residualPlot->curveCount, 1);  // the highest speed only
  for (int i : {1, 2}) {
    std::ifstream in(dir_ / ("approach_" + std::to_string(i) + ".txt"));
    int lines = 0;
    for (std::string line; std::getline(in, line);) ++lines;
    EXPECT_EQ(lines, 2) << i;
  }
  // Run makes a test pass.
  ui_->ExpectBox("EQ TEST", "save approach to equilibrium data?", platform::IDNO);
  Window().Dispatch(213);
  ExpectScriptMet();
  // A model command leaves the mode and gives the plots back.
  DispatchLenient(284);
  EXPECT_FALSE(EqTestModeOn());
  EXPECT_EQ(EqTestPlot(), nullptr);
  EXPECT_EQ(CurrentPlotWindows().dataPlot->curveCount, 6);
}

TEST_F(EqTools, TestModeAsksPerCellAndALoadLeavesIt) {
  LoadEquilibrium(WriteSeries(4, [](FileScan& f, int k) { f.cell = 1 + (k - 1) / 2; }));
  ui_->ExpectBox("EQ TEST", "cell 1, 280 nm, 15 krpm\nInclude this (cell/wl) series", platform::IDNO);
  ui_->ExpectBox("EQ TEST", "cell 2, 280 nm, 15 krpm\nInclude this (cell/wl) series", platform::IDYES);
  ui_->ExpectBox("EQ TEST", "accept radial limits for comparison of 15 kprm series?", platform::IDYES);
  ui_->ExpectBox("EQ TEST", "save approach to equilibrium data?", platform::IDNO);
  ui_->ExpectBox("EQ TEST", "realtime update?", platform::IDNO);
  Window().Dispatch(645);
  ExpectScriptMet();
  EXPECT_FALSE(EqTest().included[1]);
  EXPECT_TRUE(EqTest().included[2]);
  EXPECT_EQ(CurrentPlotWindows().dataPlot->curveCount, 1);
  ASSERT_TRUE(EqTestModeOn());
  platform::FileDialogResult cancelled;
  ui_->ExpectFiles("", cancelled);
  Window().Dispatch(515);
  EXPECT_FALSE(EqTestModeOn());
  ui_->ExpectBox("EQ TEST", "please load data first");
  FreeScanData();
  Window().Dispatch(645);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

// Parameters in the test of approach to equilibrium is the way out of the
// mode and nothing else: no dialog follows.
TEST_F(EqTools, ParametersInTestModeOnlyLeavesTheMode) {
  LoadEquilibrium(WriteSeries(2));
  Window().Dispatch(284);  // a model whose parameters have a dialog
  ui_->ExpectBox("EQ TEST", "accept radial limits for comparison of 15 kprm series?", platform::IDYES);
  ui_->ExpectBox("EQ TEST", "save approach to equilibrium data?", platform::IDNO);
  ui_->ExpectBox("EQ TEST", "realtime update?", platform::IDNO);
  Window().Dispatch(645);
  ASSERT_TRUE(EqTestModeOn());
  Window().Dispatch(212);  // Parameters
  EXPECT_FALSE(EqTestModeOn());
  EXPECT_TRUE(forms_.seen.empty());
  EXPECT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  EXPECT_FALSE(Window().DialogOpen);
  // The next invocation opens the dialog.
  forms_.Expect({"", {}, {}, false});
  Window().Dispatch(212);
  EXPECT_EQ(forms_.seen.size(), 1u);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

// 75 kDa (vbar rho 0.7287) at 8000, 11000 and 15000 rpm on a 3 mm column,
// c(r) = c0 exp(Mb w^2 (r^2 - r0^2) / (2RT)) with c0 falling with the speed,
// a TI profile, RI offsets and 0.005 OD of noise from a fixed seed. Loaded as
// a new user loads them (meniscus, bottom and fit limits from the scans), the
// first Fit of the equilibrium model finds the mass.
TEST_F(EqTools, FirstFitOfTheLoadedMultiSpeedScansFindsTheMass) {
  constexpr double kMb75 = 75000 * (1 - 0.7287);
  for (const int perSpeed : {1, 2}) {
    SCOPED_TRACE(perSpeed);
    std::mt19937 gen(23);
    std::normal_distribution<double> noise(0.0, 0.005);
    const double speeds[] = {8000, 11000, 15000}, c0[] = {0.62, 0.55, 0.45};
    std::vector<std::string> paths;
    int k = 0;
    for (int v = 0; v < 3; ++v)
      for (int q = 0; q < perSpeed; ++q) {
        ++k;
        char line[160];
        std::snprintf(line, sizeof line, "R 1 20.0 %ld %ld 1.0e12 280 1\n", static_cast<long>(speeds[v]), 86400L * k);
        std::string text = std::string("equilibrium scan\n") + line;
        for (double r = 6.905 + 0.0007 * (k % 4); r <= 7.195; r += 0.003) {
          const double a = c0[v] * EquilibriumExponential(r, kMb75, speeds[v], 20, 7.05) + 0.01 * std::sin(20 * r) +
                           0.01 * k + noise(gen);
          std::snprintf(line, sizeof line, "%.4f %.6f 0.0\n", r, a);
          text += line;
        }
        std::snprintf(line, sizeof line, "%05d.RA1", k);
        paths.push_back((dir_ / ("set" + std::to_string(perSpeed)) / line).string());
        std::filesystem::create_directories(dir_ / ("set" + std::to_string(perSpeed)));
        std::ofstream(paths.back()) << text;
      }
    // A fresh session: nothing set before the load.
    gModelParams.meniscus = gModelParams.bottom = 0;
    gModelParameterVector.P[13] = gModelParameterVector.P[14] = 0;
    CurrentScanSet().leftFitLimit = CurrentScanSet().rightFitLimit = 0;
    Window();
    ui_->lenient = true;  // the loader's advice on the speed profile
    ui_->ExpectFiles("select files in set 1 to fit", Chosen(paths));
    Window().Dispatch(515);
    ASSERT_EQ(CurrentScanSet().count, 3 * perSpeed);
    // The whole column is fitted, not a velocity run's limits.
    EXPECT_NEAR(CurrentScanSet().rightFitLimit, gModelParams.bottom - 0.01f, 1e-4);
    Window().Dispatch(284);
    gSolutionConditions.vbarRho = 0.7287f;
    gModelParameterVector.P[1] = gModelParams.massOrD[1] = 40000;
    gModelParameterVector.F[1] = 1;
    gFitEngineState.stopRequested = 1;  // left by an earlier computation
    Window().Dispatch(215);             // Fit
    ui_->lenient = false;
    ui_->failures.clear();
    EXPECT_NEAR(gModelParameterVector.P[1], 75000, 0.03 * 75000);
    EXPECT_EQ(gModelParams.massOrD[1], gModelParameterVector.P[1]);
  }
}

}  // namespace
