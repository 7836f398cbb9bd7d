#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "data/dls/dls_loading.h"
#include "data/scan_grid.h"
#include "data/dlsdat_file.h"
#include "fit/fit_engine_state.h"
#include "numerics/arrays.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"
#include "road_support.h"

namespace {

using platform::FileDialogResult;

// A written dlsdat file as loaded with g(2)-1 kept; x and y one-based.
struct ReadBack {
  int ok = 0;
  DlsHeaderRecord h;
  int n = 0;
  std::vector<float> x, y;
  explicit ReadBack(const std::string& path) {
    float* px = nullptr;
    float* py = nullptr;
    ok = ReadDlsdatForLoad(path, &h, &n, &px, &py, true);
    if (!ok) return;
    x.assign(px, px + n + 1);
    y.assign(py, py + n + 1);
    free_vector(px, 1, n);
    free_vector(py, 1, n);
  }
};

float SignedRoot(double v) { return static_cast<float>(v < 0 ? -std::sqrt(-v) : std::sqrt(v)); }

class DlsCommandTest : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    CurrentScanSet().leftFitLimit = CurrentScanSet().rightFitLimit = 0;
  }
  // A dlsdat file of five lag times 1e-6 .. 1e-2 s.
  std::string WriteSet(const std::string& name, double time, double celsius, double poise,
                       const std::vector<double>& g2m1) {
    std::string text = name + " set\n";
    char line[160];
    std::snprintf(line, sizeof line, "A %f %ld %.2f %f %f %f %e\n", celsius, static_cast<long>(time), 1000.0, 1.333,
                  poise, 90.0, 6.328e-7);
    text += line;
    for (std::size_t k = 0; k < g2m1.size(); ++k) {
      std::snprintf(line, sizeof line, "   %1.5e  %1.5e \n", std::pow(10.0, -6.0 + static_cast<double>(k)), g2m1[k]);
      text += line;
    }
    const std::string path = (dir_ / name).string();
    std::ofstream(path) << text;
    return path;
  }
  void LoadThroughTheMenu(const std::vector<std::string>& paths) {
    ui_->ExpectFiles("select files in set 1 to fit", Chosen(paths));
    Window().Dispatch(298);
    EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  }
  static std::string DataTitle() { return CurrentPlotWindows().dataPlot->yLabel; }
  static float Y(int set, int k) { return CurrentScanSet().signals[static_cast<std::size_t>(set)][k]; }

  const std::vector<double> a_ = {0.81, 0.64, 0.25, 0.04, -0.01};
  const std::vector<double> b_ = {0.49, 0.36, 0.16, 0.01, 0.0};
  const std::vector<double> c_ = {0.64, 0.49, 0.09, 0.0, 0.01};
};

TEST_F(DlsCommandTest, SetsLoadInTheOrderOfTheirHeaderTimes) {
  const auto paths = std::vector<std::string>{WriteSet("00001.dlsdat", 30, 20, 0.01002, a_),
                                              WriteSet("00002.dlsdat", 10, 22, 0.00955, b_),
                                              WriteSet("00003.dlsdat", 20, 20, 0.01002, c_)};
  gModelParameterVector.F[13] = gModelParameterVector.F[14] = 1;
  gFitEngineState.fitTINoise = 1;
  LoadThroughTheMenu(paths);
  const ScanSet& s = CurrentScanSet();
  ASSERT_EQ(s.count, 3);
  EXPECT_EQ(CurrentDataTypeFlags().dls, 1);
  EXPECT_EQ(Window().Frame().Title(), "LIGHT SCATTERING ANALYSIS -> " + paths[0] + "...");
  const std::vector<std::string> names = {"", "00002.dlsdat", "00003.dlsdat", "00001.dlsdat"};
  const std::vector<const std::vector<double>*> values = {nullptr, &b_, &c_, &a_};
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(s.fileNames[i], names[static_cast<std::size_t>(i)]);
    EXPECT_EQ(s.order[i], i);
    EXPECT_DOUBLE_EQ(s.dlsRecords[static_cast<std::size_t>(i)].time, 10.0 * i);
    EXPECT_STREQ(s.dlsRecords[static_cast<std::size_t>(i)].description, (names[static_cast<std::size_t>(i)] + " set").c_str());
    ASSERT_EQ(s.points[i], 5);
    for (int k = 1; k <= 5; ++k) {
      EXPECT_NEAR(s.radii[i][k], -7.0 + k, 1e-6);
      EXPECT_NEAR(Y(i, k), SignedRoot((*values[static_cast<std::size_t>(i)])[static_cast<std::size_t>(k) - 1]), 1e-5);
      EXPECT_EQ(s.residuals[i][k], Y(i, k));
      EXPECT_EQ(s.model[i][k], 0.0f);
    }
    // The views follow their arrays.
    EXPECT_EQ((*s.dataCurve[i]->y)[0], Y(i, 1));
  }
  EXPECT_FLOAT_EQ(gModelParams.meniscus, -6.0f);
  EXPECT_FLOAT_EQ(gModelParams.bottom, -2.0f);
  EXPECT_FLOAT_EQ(gModelParameterVector.P[13], -6.0f);
  EXPECT_FLOAT_EQ(s.leftFitLimit, -6.0f);
  EXPECT_FLOAT_EQ(s.rightFitLimit, -2.0f);
  EXPECT_EQ(s.firstFitPoint[1], 1);
  EXPECT_EQ(s.lastFitPoint[3], 5);
  EXPECT_NEAR(gSolutionConditions.temperature, (293.15 * 2 + 295.15) / 3, 1e-4);
  EXPECT_EQ(gModelParameterVector.F[13], 0);
  EXPECT_EQ(gModelParameterVector.F[14], 0);
  EXPECT_EQ(gModelParameterVector.F[15], 1);
  EXPECT_EQ(gModelParams.baselineFit, 1);
  EXPECT_EQ(gFitEngineState.fitTINoise, 0);
  EXPECT_EQ(gModelParams.riNoiseFit, 0);
  EXPECT_EQ(DataTitle(), "g(1) field autocorrelation ");
  EXPECT_EQ(ReadFile((dir_ / "list.dlsdat").string()),
            "newformat n=1\n" + dir_.string() + "\n00001.dlsdat\n00002.dlsdat\n00003.dlsdat\n");
}

TEST_F(DlsCommandTest, SolutionConditionsAreTheMeanOfTheHeaders) {
  LoadThroughTheMenu({WriteSet("a.dlsdat", 1, 20, 0.01002, a_), WriteSet("b.dlsdat", 2, 22, 0.00955, b_)});
  EXPECT_NEAR(gSolutionConditions.temperature, 294.15, 1e-4);
  EXPECT_NEAR(gSolutionConditions.viscosity, 0.97655, 1e-5);
}

TEST_F(DlsCommandTest, FitLimitsOutsideTheLagTimesMoveToThem) {
  struct Case {
    float left, right;  // limits the user set before the load
    float wantLeft, wantRight;
  } cases[] = {
      {5.9f, 7.1f, -6.0f, -2.0f},   // left over from sedimentation data
      {0.0f, -3.0f, -6.0f, -2.0f},  // one limit unset
      {-5.0f, -3.0f, -5.0f, -3.0f},  // inside: kept
  };
  const std::string path = WriteSet("00001.dlsdat", 1, 20, 0.01002, a_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.left);
    EnterLeftFitLimit(c.left);
    EnterRightFitLimit(c.right);
    LoadThroughTheMenu({path});
    EXPECT_EQ(CurrentScanSet().count, 1);
    EXPECT_FLOAT_EQ(CurrentScanSet().leftFitLimit, c.wantLeft);
    EXPECT_FLOAT_EQ(CurrentScanSet().rightFitLimit, c.wantRight);
  }
}

TEST_F(DlsCommandTest, AnUnreadableSetLeavesNothingLoaded) {
  const std::string bad = (dir_ / "00002.dlsdat").string();
  std::ofstream(bad) << "broken\nA 20 0 1 1.333 0.01002 90 6.3e-7\n1e-6 0.5\n1e-5 oops\n";
  const auto paths = std::vector<std::string>{WriteSet("00001.dlsdat", 1, 20, 0.01002, a_), bad,
                                              WriteSet("00003.dlsdat", 3, 20, 0.01002, c_)};
  ui_->ExpectFiles("select files in set 1 to fit", Chosen(paths));
  ui_->ExpectBox("LOAD ERROR", bad + "\nrow 2 holds something that is not a number");
  Window().Dispatch(298);
  ExpectScriptMet();
  EXPECT_EQ(CurrentScanSet().count, 0);
  EXPECT_TRUE(CurrentScanSet().dlsRecords.empty());
  EXPECT_EQ(CurrentDataTypeFlags().dls, 0);
}

TEST_F(DlsCommandTest, KeptIntensityAutocorrelationAndTheToggle) {
  Window();  // reads the preferences
  Options().AlwaysLoadG2m1 = true;
  LoadThroughTheMenu({WriteSet("00001.dlsdat", 1, 20, 0.01002, a_), WriteSet("00002.dlsdat", 2, 20, 0.01002, b_)});
  for (int k = 1; k <= 5; ++k) EXPECT_FLOAT_EQ(Y(1, k), static_cast<float>(a_[static_cast<std::size_t>(k) - 1]));
  EXPECT_EQ(DataTitle(), "g(2)-1 intensity autocorrelation ");

  Window().Dispatch(898);
  EXPECT_EQ(DataTitle(), "g(1) field autocorrelation ");
  EXPECT_EQ(CurrentPlotWindows().residualPlot->yLabel, "g(1) field autocorrelation ");
  EXPECT_FLOAT_EQ(Y(1, 1), 0.9f);
  EXPECT_FLOAT_EQ(Y(1, 5), -0.1f);
  EXPECT_FLOAT_EQ(CurrentScanSet().gridSignals[2][2], 0.6f);
  Window().Dispatch(898);
  EXPECT_EQ(DataTitle(), "g(2)-1 intensity autocorrelation ");
  for (int k = 1; k <= 5; ++k) EXPECT_NEAR(Y(1, k), a_[static_cast<std::size_t>(k) - 1], 1e-6);
  EXPECT_TRUE(ui_->failures.empty()) << (ui_->failures.empty() ? "" : ui_->failures.front());
}

TEST_F(DlsCommandTest, MeanOfTheLoadedSets) {
  struct Case {
    bool keepG2;
    int sets;
  } cases[] = {{false, 1}, {true, 1}, {true, 2}, {false, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.keepG2) + " " + std::to_string(c.sets));
    Window();  // reads the preferences
    Options().AlwaysLoadG2m1 = c.keepG2;
    std::vector<std::string> paths = {WriteSet("00001.dlsdat", 1, 20, 0.01002, a_)};
    if (c.sets == 2) paths.push_back(WriteSet("00002.dlsdat", 2, 24, 0.01002, b_));
    LoadThroughTheMenu(paths);
    const std::string mean = (dir_ / "mean.dlsdat").string();
    ui_->ExpectFiles("select filename for new average DLS data set", Chosen({mean}));
    Window().Dispatch(500);
    EXPECT_TRUE(ui_->failures.empty());
    const ReadBack r(mean);
    ASSERT_EQ(r.ok, 1);
    ASSERT_EQ(r.n, 5);
    for (int k = 1; k <= 5; ++k) {
      double expected = a_[static_cast<std::size_t>(k) - 1];
      if (c.sets == 2) expected = (expected + b_[static_cast<std::size_t>(k) - 1]) / 2;
      EXPECT_NEAR(r.x[k], -7.0 + k, 1e-5);
      EXPECT_NEAR(r.y[k], expected, 1e-5) << k;
    }
    EXPECT_STREQ(r.h.description, "averaged");
    EXPECT_FLOAT_EQ(r.h.temperature, c.sets == 2 ? 22.0f : 20.0f);
  }
}

TEST_F(DlsCommandTest, SavedFitDataLoadBackAsTheModelInG2Form) {
  Window();  // reads the preferences
  for (bool keepG2 : {false, true}) {
    SCOPED_TRACE(keepG2);
    Options().AlwaysLoadG2m1 = keepG2;
    LoadThroughTheMenu({WriteSet("00001.dlsdat", 1, 20, 0.01002, a_), WriteSet("00002.dlsdat", 2, 20, 0.01002, b_)});
    ScanSet& s = CurrentScanSet();
    for (int i = 1; i <= 2; ++i)
      for (int k = 1; k <= 5; ++k) s.model[i][k] = 0.2f * k - 0.5f * i;
    // Saved fit parameters belong to the c(s) models only.
    ui_->ExpectBox("SAVE PARAMETERS", "cannot save fit parameters of current model");
    ui_->ExpectFiles("save fitted data as", Chosen({(dir_ / "f0000x.dlsdat").string()}));
    if (keepG2) ui_->ExpectBox("ERROR", "already exists!\nOverwrite all?", platform::IDYES);
    ui_->ExpectBox("SAVE DLS DATA", "add noise?", platform::IDNO);
    ui_->ExpectBox("SAVE DLS DATA", "add noise?", platform::IDNO);
    Window().Dispatch(203);
    ExpectScriptMet();
    for (int i = 1; i <= 2; ++i) {
      const ReadBack r((dir_ / ("f000" + std::to_string(i) + ".dlsdat")).string());
      ASSERT_EQ(r.ok, 1) << i;
      ASSERT_EQ(r.n, 5);
      for (int k = 1; k <= 5; ++k) {
        // A g(1) model is squared with its sign; a g(2)-1 model is written as it is.
        const float m = 0.2f * k - 0.5f * i;
        EXPECT_NEAR(r.y[k], keepG2 ? m : (m < 0 ? -m * m : m * m), 1e-5);
      }
      EXPECT_DOUBLE_EQ(r.h.time, i);
    }
  }
}

TEST_F(DlsCommandTest, ConversionsAskConfirmExportOutputAndValues) {
  const std::string in = (dir_ / "g2.txt").string();
  std::ofstream(in) << "4 150000\n1 180000\n2 170000\n";
  const std::string out = (dir_ / "g2.dlsdat").string();
  ui_->ExpectBox("MAKE DLS DATA", "needs two-column ASCII data of intensity autocorrelation g(2)", platform::IDYES);
  ui_->ExpectFiles("select data file", Chosen({in}));
  ui_->ExpectFiles("select filename for saving tarnel formatted data file", Chosen({out}));
  ui_->ExpectPrompt("MAKE DLS DATA", "unit of correlation times (*sec)", std::nullopt);  // keeps 1e-6
  ui_->ExpectPrompt("MAKE DLS DATA", "measured baseline countrate", std::string("100000"));
  ui_->ExpectPrompt("MAKE DLS DATA", "temperature (C)", std::string("23.5"));
  ui_->ExpectPrompt("MAKE DLS DATA", "time (sec)", std::string("60"));
  ui_->ExpectPrompt("MAKE DLS DATA", "count rate (cps)", std::string("1"));
  ui_->ExpectPrompt("MAKE DLS DATA", "refractive index", std::string("1.333"));
  ui_->ExpectPrompt("MAKE DLS DATA", "absolute viscosity of solvent (Poise)", std::string("0.01002"));
  ui_->ExpectPrompt("MAKE DLS DATA", "scattering angle (degrees)", std::string("90"));
  ui_->ExpectPrompt("MAKE DLS DATA", "wavelength (nm)", std::string("532"));
  Window().Dispatch(532);
  ExpectScriptMet();
  const ReadBack r(out);
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.n, 3);
  EXPECT_NEAR(std::pow(10.0, r.x[1]), 1e-6, 1e-12);
  EXPECT_FLOAT_EQ(r.y[1], 0.8f);
  EXPECT_FLOAT_EQ(r.h.wavelength, 5.32e-7f);
  EXPECT_FLOAT_EQ(r.h.temperature, 23.5f);
  EXPECT_DOUBLE_EQ(r.h.time, 60);
}

TEST_F(DlsCommandTest, CancelledOrFailedConversionsWriteNothing) {
  const std::string in = (dir_ / "bsa.asc").string();
  std::ofstream(in) << "not an ALV export\n";
  const std::string out = (dir_ / "bsa.dlsdat").string();
  const char* confirm = "needs data of ALV-5000/E";
  // No to the confirmation, then a cancelled output dialog, then a failing reader.
  ui_->ExpectBox("MAKE DLS DATA", confirm, platform::IDNO);
  Window().Dispatch(534);
  ui_->ExpectBox("MAKE DLS DATA", confirm, platform::IDYES);
  ui_->ExpectFiles("select data file", Chosen({in}));
  ui_->ExpectFiles("select filename for saving tarnel formatted data file", FileDialogResult{});
  Window().Dispatch(534);
  ui_->ExpectBox("MAKE DLS DATA", confirm, platform::IDYES);
  ui_->ExpectFiles("select data file", Chosen({in}));
  ui_->ExpectFiles("select filename for saving tarnel formatted data file", Chosen({out}));
  ui_->ExpectBox("Error", "could not convert " + in + ":\nno time \"hh:mm:ss\" after \"Time\"");
  Window().Dispatch(534);
  ExpectScriptMet();
  EXPECT_FALSE(std::filesystem::exists(out));

  // Normalised g(2)-1 given to the conversion of g(2): every value lies
  // below the baseline count rate; refused with the name of the converter
  // that takes them, and nothing written.
  const std::string g2m1 = (dir_ / "zetasizer.txt").string();
  std::ofstream(g2m1) << "0.5 0.92\n1 0.85\n2 0.71\n4 0.50\n8 0.25\n16 0.06\n32 0.003\n";
  ui_->ExpectBox("MAKE DLS DATA", "needs two-column ASCII data of intensity autocorrelation g(2)", platform::IDYES);
  ui_->ExpectFiles("select data file", Chosen({g2m1}));
  ui_->ExpectFiles("select filename for saving tarnel formatted data file", Chosen({out}));
  for (const char* prompt : {"unit of correlation times (*sec)", "measured baseline countrate", "temperature (C)",
                             "time (sec)", "count rate (cps)", "refractive index",
                             "absolute viscosity of solvent (Poise)", "scattering angle (degrees)", "wavelength (nm)"})
    ui_->ExpectPrompt("MAKE DLS DATA", prompt, std::nullopt);
  ui_->ExpectBox("Error", "could not convert " + g2m1 +
                              ":\nevery value lies below the measured baseline count rate 100000, so the data are no "
                              "intensity autocorrelation g(2); normalised g(2)-1 data are converted by \"2 Column "
                              "ASCII g(2)-1\"");
  Window().Dispatch(532);
  ExpectScriptMet();
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(DlsCommandTest, DynamicsAsksTheWavelengthTwiceAndOtherCommandsTheirQuestions) {
  const std::string in = (dir_ / "d7.csv").string();
  std::ofstream(in) << "Time (us),Coefficient\n1,1.8\n2,1.6\n";
  ui_->ExpectBox("MAKE DLS DATA", "needs data of Wyatt DLS (Dynamics 7.0.2.7.)", platform::IDYES);
  ui_->ExpectFiles("select data file", Chosen({in}));
  ui_->ExpectFiles("select filename for saving formatted data files", Chosen({(dir_ / "d7.dlsdat").string()}));
  ui_->ExpectPrompt("MAKE DLS DATA", "absolute viscosity of solvent (Poise)", std::nullopt);
  ui_->ExpectPrompt("MAKE DLS DATA", "refractive index of solvent", std::nullopt);
  ui_->ExpectPrompt("MAKE DLS DATA", "laser wavelength (nm)", std::string("825"));
  ui_->ExpectBox("MAKE DLS DATA", "are you sure about the wavelengt?");
  ui_->ExpectPrompt("MAKE DLS DATA", "laser wavelength (nm)", std::nullopt);  // keeps 825
  ui_->ExpectPrompt("MAKE DLS DATA", "scattering angle (degrees)", std::nullopt);
  ui_->ExpectPrompt("MAKE DLS DATA", "temperature (C)", std::nullopt);
  Window().Dispatch(897);
  const ReadBack r((dir_ / "d7.dlsdat").string());
  ASSERT_EQ(r.ok, 1);
  EXPECT_FLOAT_EQ(r.h.wavelength, 8.25e-7f);
  EXPECT_FLOAT_EQ(r.h.viscosity, 0.01002f);
  EXPECT_FLOAT_EQ(r.h.temperature, 20.0f);

  // Several BIC exports at once, each named after itself.
  std::string head;
  for (int k = 1; k <= 37; ++k) head += (k == 7 ? "2" : k == 9 ? "90" : k == 10 ? "532" : k == 11 ? "293.15" : k == 12 ? "1" : k == 14 ? "1.33" : k == 23 ? "1000" : "0") + std::string("\n");
  std::ofstream((dir_ / "one.dat").string()) << head << "1 1800\n2 1500\n";
  std::ofstream((dir_ / "two.dat").string()) << head << "1 1700\n2 1400\n";
  std::filesystem::create_directories(dir_ / "out");
  ui_->ExpectFiles("select data file", Chosen({(dir_ / "one.dat").string(), (dir_ / "two.dat").string()}));
  ui_->ExpectFiles("select filename for saving tarnel formatted data file", Chosen({(dir_ / "out" / "x.dlsdat").string()}));
  Window().Dispatch(527);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "out" / "one.dlsdat"));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "out" / "two.dlsdat"));

  ui_->ExpectBox("Format CD DATA", "not implemented yet", platform::IDYES);
  Window().Dispatch(528);
  ExpectScriptMet();
}

}  // namespace
