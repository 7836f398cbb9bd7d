#include <cmath>
#include <ctime>
#include <filesystem>

#include "data/fit_output_files.h"
#include "data/noise_subtraction.h"
#include "data/raw_data_transforms.h"
#include "data/scan_file.h"
#include "data/scan_grid.h"
#include "numerics/arrays.h"
#include "numerics/regrid.h"
#include "platform/clock.h"
#include "platform/input_events.h"
#include "tests/data/loading_fixture.h"

using loading_test::MakeScan;
using loading_test::ReadText;
using loading_test::WriteScan;

namespace {

double Ti(double r) { return 0.01 * std::sin(5.0 * r); }
const float kRi[] = {0.0f, 0.05f, -0.03f, 0.02f};

class NoiseTest : public LoadingTest {
 protected:
  // Three scans whose signals are base + TI(r) + RI(scan); the model holds
  // the base and the noise estimates hold the injected noise.
  void LoadNoisySet(bool interference) {
    std::vector<std::string> names;
    for (int i = 1; i <= 3; ++i) {
      auto scan = MakeScan(5.9f, 0.01f, 121, [&](float r) { return 0.5 + 0.1 * i * (r - 5.9); });
      scan.time = 1000.0 * i;
      scan.type = interference ? 'P' : 'R';
      names.push_back(Name(i, interference ? ".IP1" : ".RA1"));
      WriteScan(dir / names.back(), scan);
    }
    ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
    ScanSet& s = CurrentScanSet();
    base.assign(4, {});
    for (int i = 1; i <= 3; ++i) {
      base[i].assign(s.signals[i] + 1, s.signals[i] + s.points[i] + 1);
      for (int k = 1; k <= s.points[i]; ++k) {
        s.model[i][k] = s.signals[i][k];
        s.signals[i][k] += static_cast<float>(Ti(s.radii[i][k])) + kRi[i];
      }
      RefreshGridCopy(i);
      s.riNoise[i] = kRi[i];
    }
    for (int j = 1; j <= s.gridLength; ++j) s.tiNoise[j] = static_cast<float>(Ti(s.grid[j]));
    *CurrentLoadTargets().tiNoiseFitted = 1;
    *CurrentLoadTargets().riNoiseFitted = 1;
    CurrentLoadHooks().pushDataPlotZoom = [this](float x0, float x1, float, float) {
      zooms.push_back({x0, x1});
    };
  }

  std::vector<std::vector<float>> base;
  std::vector<std::pair<float, float>> zooms;
};

}  // namespace

TEST_F(NoiseTest, AllSystematicNoiseIsRecoveredOnEitherGrid) {
  for (bool interference : {true, false}) {
    LoadNoisySet(interference);
    ScanSet& s = CurrentScanSet();
    EXPECT_EQ(s.gridOwned, interference ? 0 : 1);
    SubtractAllSystematicNoise();
    for (int i = 1; i <= 3; ++i) {
      EXPECT_EQ(s.riNoise[i], 0.0f);
      EXPECT_EQ(s.riNoiseSubtracted[i], kRi[i]);
      // The data are the noise-free signals again; the model moved with them,
      // so the residuals are unchanged.
      for (int k = 5; k <= s.points[i] - 5; ++k) {
        EXPECT_NEAR(s.signals[i][k], base[i][k - 1], 2e-6) << interference << " " << k;
        EXPECT_NEAR(s.signals[i][k] - s.model[i][k], Ti(s.radii[i][k]) + kRi[i], 2e-6);
      }
    }
    for (int j = 1; j <= s.gridLength; ++j) {
      EXPECT_EQ(s.tiNoise[j], 0.0f);
      EXPECT_NEAR(s.tiNoiseSubtracted[j], Ti(s.grid[j]), 1e-7);
    }
    // Grid copies changed with the scans (once, also where they are the scans).
    EXPECT_NEAR(s.gridSignals[2][s.gridLength / 2],
                interference ? s.signals[2][s.gridLength / 2] : 0.5 + 0.2 * (s.grid[s.gridLength / 2] - 5.9),
                1e-5);
    ASSERT_FALSE(zooms.empty());
    EXPECT_NEAR(zooms.back().first, s.grid[s.firstGridPoint] - 0.01f, 1e-6);

    RestoreTINoise();
    for (int k = 5; k <= s.points[1] - 5; ++k)
      EXPECT_NEAR(s.signals[1][k] - base[1][k - 1], Ti(s.radii[1][k]), 2e-6);
    EXPECT_NEAR(s.tiNoise[10], Ti(s.grid[10]), 1e-7);
    EXPECT_EQ(s.tiNoiseSubtracted[10], 0.0f);
    ExpectNoFailures();
  }
}

TEST_F(NoiseTest, RestoreAfterTwoSubtractionsReturnsTheFirstState) {
  LoadNoisySet(true);
  ScanSet& s = CurrentScanSet();
  const std::vector<float> before(s.signals[2] + 1, s.signals[2] + s.points[2] + 1);
  SubtractTINoiseFromData();
  for (int j = 1; j <= s.gridLength; ++j) s.tiNoise[j] = 0.002f * j;  // a new estimate
  SubtractTINoiseFromData();
  RestoreTINoise();
  for (int k = 1; k <= s.points[2]; ++k) EXPECT_NEAR(s.signals[2][k], before[k - 1], 1e-5);
  EXPECT_NEAR(s.tiNoise[7], Ti(s.grid[7]) + 0.014, 1e-6);
  EXPECT_EQ(s.tiNoiseSubtracted[7], 0.0f);
}

TEST_F(NoiseTest, CommandsShowTheirNoticeUnlessQuiet) {
  EXPECT_FALSE(RunNoiseCommand(508));  // no scans: nothing happens
  LoadNoisySet(false);
  ui.ExpectBox("ATTENTION",
               "This operation subtracts the current calculated TI noise from the raw data.\nThis "
               "is for presentation purpose, the analysis is invariant to this.\nHowever, all "
               "subsquent analyses must include TI noise calculation, otherwise a bias is "
               "introduced.");
  EXPECT_TRUE(RunNoiseCommand(508));
  EXPECT_EQ(CurrentScanSet().tiNoise[3], 0.0f);
  *CurrentLoadTargets().infoMessages = 0;
  EXPECT_TRUE(RunNoiseCommand(509));
  EXPECT_EQ(CurrentScanSet().riNoise[2], 0.0f);
  EXPECT_FALSE(RunNoiseCommand(576));  // buffer correction off
  EXPECT_EQ(ui.transcript.size(), 1u);
  ExpectNoFailures();

  // Workers leave DLS data alone.
  CurrentScanSet().riNoise[2] = 1.0f;
  CurrentDataTypeFlags().dls = 1;
  const float before = CurrentScanSet().signals[2][5];
  SubtractAllSystematicNoise();
  EXPECT_EQ(CurrentScanSet().signals[2][5], before);
  CurrentDataTypeFlags().dls = 0;
}

TEST_F(NoiseTest, FitAndResidualFilesByBothNameConventions) {
  LoadNoisySet(false);
  ScanSet& s = CurrentScanSet();
  std::filesystem::create_directory(dir / "out");
  EXPECT_EQ(FitFileNameForScan(dir / "out/f0000x.rxx", 2, 'f'), dir / "out/f0002.RA1");
  EXPECT_EQ(FitFileNameForScan(dir / "out/r0000x.rxx", 2, 'r'), dir / "out/r0002.RA1");
  EXPECT_EQ(TINoiseFileName(dir / "out/TIN.rxx"), dir / "out/TIN.RA1");
  EXPECT_EQ(RINoiseFileName(dir / "out/RIN.rxx"), dir / "out/RIN.RA1");
  // A name typed with its own extension keeps it; without one it gets the scans'.
  EXPECT_EQ(TINoiseFileName(dir / "out/ti.dat"), dir / "out/ti.dat");
  EXPECT_EQ(RINoiseFileName(dir / "out/ri.txt"), dir / "out/ri.txt");
  EXPECT_EQ(TINoiseFileName(dir / "out/ti"), dir / "out/ti.RA1");
  EXPECT_EQ(DefaultFitDataName(), "f0000x.rxx");

  ASSERT_TRUE(SaveFitDataFiles(dir / "out/f0000x.rxx", false));
  ASSERT_TRUE(SaveResidualFiles(dir / "out/r0000x.rxx"));
  ScanRecord r;
  int n = 0;
  float *x = nullptr, *y = nullptr, *third = nullptr;
  ASSERT_EQ(ReadScanFile((dir / "out/f0002.RA1").c_str(), &r, &n, &x, &y, &third, nullptr, 0), 1);
  EXPECT_EQ(n, s.lastFitPoint[2] - s.firstFitPoint[2] + 1);
  EXPECT_NEAR(x[1], s.radii[2][s.firstFitPoint[2]], 1e-4);
  EXPECT_NEAR(y[1], s.model[2][s.firstFitPoint[2]], 1e-5);
  EXPECT_NE(std::string(r.description).find("fitted to " + (dir / Name(2))), std::string::npos);
  free_vector(x, 1, n);
  free_vector(y, 1, n);
  if (third) free_vector(third, 1, n);
  EXPECT_NE(ReadText(dir / "out/r0001.RA1").find("residuals to "), std::string::npos);

  // Old convention: one name for all scans, so the second asks to overwrite.
  s.oldFileNameConvention = 1;
  EXPECT_EQ(FitFileNameForScan(dir / "out/fit.rxx", 2, 'f'), dir / "out/fit.RA1");
  EXPECT_EQ(TINoiseFileName(dir / "out/xxx.TIN"), dir / "00001.TIN");
  EXPECT_EQ(DefaultTINoiseName(), "xxx.TIN");
  ui.ExpectBox("ERROR", "file " + (dir / "out/fit.RA1") + " already exists!\nOverwrite all?",
               platform::IDNO);
  ui.ExpectBox("ERROR", "fit not saved");
  EXPECT_FALSE(SaveFitDataFiles(dir / "out/fit.rxx", false));
  ui.ExpectBox("ERROR", "Overwrite all?", platform::IDYES);
  EXPECT_TRUE(SaveFitDataFiles(dir / "out/fit.rxx", false));
  ExpectNoFailures();
}

TEST_F(NoiseTest, NoiseFilesHoldTheWholeNoise) {
  LoadNoisySet(false);
  ScanSet& s = CurrentScanSet();
  const std::vector<float> loaded(s.signals[2] + 1, s.signals[2] + s.points[2] + 1);
  ASSERT_TRUE(SaveTINoiseFile(dir / "before.rxx"));
  ASSERT_TRUE(SaveRINoiseFile(dir / "RIN.rxx"));
  SubtractAllSystematicNoise();
  ASSERT_TRUE(SaveTINoiseFile(dir / "after.rxx"));
  ASSERT_TRUE(SaveRINoiseFile(dir / "after.txt"));
  EXPECT_EQ(ReadText(dir / "before.RA1"), ReadText(dir / "after.RA1"));
  EXPECT_EQ(ReadText(dir / "RIN.RA1"), "1000.000000 0.050000\n2000.000000 -0.030000\n3000.000000 0.020000\n");
  EXPECT_EQ(ReadText(dir / "after.txt"), ReadText(dir / "RIN.RA1"));
  // A later estimate taken out too adds to what was removed; data plus the
  // whole removed noise are the data as loaded.
  s.riNoise[2] = 0.01f;
  SubtractRINoiseFromData();
  ASSERT_TRUE(SaveRINoiseFile(dir / "again.txt"));
  EXPECT_EQ(ReadText(dir / "again.txt"), "1000.000000 0.050000\n2000.000000 -0.020000\n3000.000000 0.020000\n");
  std::vector<float> ti(static_cast<size_t>(s.points[2]) + 1, 0.0f);
  InterpolateOntoGrid(s.points[2], s.radii[2], ti.data(), s.gridLength, s.grid, s.tiNoiseSubtracted);
  for (int k = 1; k <= s.points[2]; ++k)
    EXPECT_NEAR(s.signals[2][k] + ti[static_cast<size_t>(k)] + s.riNoiseSubtracted[2], loaded[k - 1], 2e-6) << k;
  ui.ExpectBox("ERROR", "already exists!\nOverwrite?", platform::IDNO);
  ui.ExpectBox("ERROR", "file not saved");
  EXPECT_FALSE(SaveRINoiseFile(dir / "RIN.rxx"));

  // TI noise out of a separate equilibrium scan, over the fit range.
  auto eq = MakeScan(5.9f, 0.01f, 121, [](float r) { return 1.0 + Ti(r); });
  WriteScan(dir / "eq.RA2", eq);
  ASSERT_TRUE(SubtractNoiseFromEqDataFiles(dir / "eq.RA2", dir / "RTI.RA2"));
  ScanRecord r;
  int n = 0;
  float *x = nullptr, *y = nullptr, *third = nullptr;
  ASSERT_EQ(ReadScanFile((dir / "RTI.RA2").c_str(), &r, &n, &x, &y, &third, nullptr, 0), 1);
  EXPECT_GE(x[1], s.grid[s.firstGridPoint]);
  for (int k = 1; k <= n; ++k) EXPECT_NEAR(y[k], 1.0f, 1e-4) << k;
  free_vector(x, 1, n);
  free_vector(y, 1, n);
  if (third) free_vector(third, 1, n);
  ExpectNoFailures();
}

TEST_F(LoadingTest, WholeSetTransformations) {
  const auto names = WriteSeries({1000, 2000});
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
  ScanSet& s = CurrentScanSet();
  const std::vector<float> before(s.signals[1] + 1, s.signals[1] + 122);
  ScaleSignals(-1.0f);
  ScaleSignals(-1.0f);
  for (int k = 1; k <= 121; ++k) EXPECT_EQ(s.signals[1][k], before[k - 1]);

  MirrorScans(7.0f, 6.0f, true);
  EXPECT_NEAR(s.radii[1][121], 7.0f + 0.1f, 1e-5);  // 5.9 -> 7.1
  EXPECT_NEAR(s.radii[1][1], 5.9f, 1e-5);           // 7.1 -> 5.9
  EXPECT_EQ(s.signals[1][121], -before[0]);
  MirrorScans(6.0f, 7.0f, true);
  for (int k = 1; k <= 121; ++k) EXPECT_NEAR(s.signals[1][k], before[k - 1], 1e-6);

  ScaleSignalsAddNoise(0.0f, 2.0f);
  EXPECT_FLOAT_EQ(s.signals[1][10], 2.0f * before[9]);
  ScaleSignalsAddNoise(-1.0f, 10.0f);
  EXPECT_FLOAT_EQ(s.signals[1][10], 2.0f * before[9]);

  TransformRadii(1.0f, 0.5f);
  EXPECT_NEAR(s.radii[2][1], 6.4f, 1e-5);
  EXPECT_NEAR(s.grid[1], 6.401f, 1e-4);  // re-gridded

  CurrentDataTypeFlags().dls = 1;
  AddTimeAndW2tOffsets(100.0f, 0.0f);
  EXPECT_DOUBLE_EQ(s.records[1].time, 1100.0);
  ui.ExpectBox("ERROR", "not implemented for DLS data");
  ScaleSignals(3.0f);
  EXPECT_FLOAT_EQ(s.signals[1][10], 2.0f * before[9]);
  CurrentDataTypeFlags().dls = 0;

  const DataTypeFlags flags = CurrentDataTypeFlags();
  ui.ExpectBox("Error", "LOAD ERROR");
  EXPECT_FALSE(SubtractBlankScanFile(dir / "no blank"));
  EXPECT_EQ(CurrentDataTypeFlags().absorbance, flags.absorbance);
  EXPECT_FLOAT_EQ(s.signals[1][10], 2.0f * before[9]);
  ExpectNoFailures();
}

TEST_F(LoadingTest, RealtimeUpdatePicksUpNewFiles) {
  std::vector<double> times;
  for (int k = 1; k <= 12; ++k) times.push_back(600.0 * k);
  const auto names = WriteSeries(times);
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
  int runs = 0, invalidations = 0;
  CurrentLoadHooks().runModel = [&] { ++runs; };
  CurrentLoadHooks().invalidateWindow = [&] { ++invalidations; };
  ui.ExpectPrompt("REALTIME MODE", "maximal total number of files to load at once", "5");
  ASSERT_TRUE(RealtimeStart());
  RealtimeState& rt = CurrentRealtimeState();
  EXPECT_EQ(rt.maxFilesAtOnce, 5);
  EXPECT_EQ(rt.currentNumber, 12);
  EXPECT_EQ(runs, 1);

  // A new scan 13: numbers 1 to 13, every third (ceil(12 / 5)).
  auto scan = MakeScan(5.9f, 0.01f, 121, [](float r) { return r - 5.0f; });
  scan.time = 600.0 * 13;
  WriteScan(dir / Name(13), scan);
  EXPECT_TRUE(RealtimeTick(rt.timerId));
  const ScanSet& s = CurrentScanSet();
  ASSERT_EQ(s.count, 5);
  EXPECT_EQ(s.fileNames[5], Name(13));
  EXPECT_EQ(s.loadEvery, 3);
  EXPECT_EQ(runs, 2);

  // Nothing new: the window is invalidated and the time of the poll shown.
  EXPECT_TRUE(RealtimeTick(rt.timerId));
  EXPECT_EQ(invalidations, 1);
  EXPECT_EQ(rt.statusLine1, "IN REALTIME UPDATE MODE. PRESS ANY KEY TO INTERRUPT.");
  EXPECT_EQ(rt.statusLine2.rfind("Last changed at ", 0), 0u);
  EXPECT_TRUE(RealtimeTick(99));  // another timer

  // A key press stops it.
  platform::PostKeyDown();
  ui.ExpectBox("", "realtime update stopped by user interrupt");
  EXPECT_FALSE(RealtimeTick(rt.timerId));
  EXPECT_EQ(rt.running, 0);
  ExpectNoFailures();
}

// A second update starts clean: the zoom an earlier session kept is
// forgotten before the first tick can zoom to it, and the status shows this
// session's times from the start, not the last session's.
TEST_F(LoadingTest, ARestartedRealtimeUpdateKeepsNothingOfTheLastSession) {
  std::vector<double> times;
  for (int k = 1; k <= 3; ++k) times.push_back(600.0 * k);
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), WriteSeries(times))));
  platform::ManualClock clock;
  platform::SetClock(&clock);
  int zoomsCleared = 0;
  CurrentLoadHooks().runModel = [] {};
  CurrentLoadHooks().clearDistributionZoom = [&] { ++zoomsCleared; };
  RealtimeState& rt = CurrentRealtimeState();
  std::vector<std::string> shown;
  for (std::time_t start : {std::time_t{1000000}, std::time_t{1000000 + 7 * 3600 + 11 * 60 + 13}}) {
    clock.now = start;
    ui.ExpectPrompt("REALTIME MODE", "maximal total number of files to load at once", "5");
    ASSERT_TRUE(RealtimeStart());
    EXPECT_EQ(rt.lastChanged, start);
    EXPECT_EQ(rt.lastChecked, start);
    shown.push_back(rt.statusLine2);
    std::tm local{};
    localtime_r(&start, &local);
    char expected[80];
    std::snprintf(expected, sizeof expected, "Last changed at %02dh:%02d:%02d, last checked at %02dh:%02d:%02d.",
                  local.tm_hour, local.tm_min, local.tm_sec, local.tm_hour, local.tm_min, local.tm_sec);
    EXPECT_EQ(rt.statusLine2, expected);
    RealtimeStop();
  }
  EXPECT_NE(shown[0], shown[1]);
  EXPECT_EQ(zoomsCleared, 2);
  platform::SetClock(nullptr);
  ExpectNoFailures();
}

TEST_F(LoadingTest, TemperatureWarningIsGivenOnce) {
  auto a = MakeScan(5.9f, 0.01f, 121, [](float r) { return r - 5.0f; });
  auto b = a;
  b.temperature = 21.0f;
  b.time = 7200;
  WriteScan(dir / Name(1), a);
  WriteScan(dir / Name(2), b);
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), {Name(1), Name(2)})));
  ui.ExpectBox("REALTIME MODE",
               "temperature fluctuations > 1 C, convection likely, restarting run should be considered");
  CheckTemperatureFluctuation();
  CheckTemperatureFluctuation();
  EXPECT_EQ(ui.transcript.size(), 1u);
  ExpectNoFailures();
}
