// Data and Display commands reached through the window's response table:
// noise subtraction with its plot redraw, the realtime update driven by the
// window timer, the diagnostics log switch and the hidden matrix export.
#include <unistd.h>

#include <cstdlib>

#include "app/commands/model/model_commands.h"
#include "app/window/window_services.h"
#include "data/realtime_update.h"
#include "lamm/lamm_ideal.h"
#include "platform/diagnostics.h"
#include "platform/draw_context.h"
#include "platform/metafile.h"
#include "platform/paths.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"
#include "road_support.h"

namespace {

class DataCommands : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    CurrentRealtimeState() = RealtimeState{};
  }
  void TearDown() override {
    CurrentRealtimeState() = RealtimeState{};
    RoadTest::TearDown();
  }
  // What the data plot's recorded picture draws.
  static std::vector<std::string> DataPlotPicture() {
    platform::RecordingDC dc;
    platform::PlayMetaFile(dc, GetDataPlotMetafile());
    return dc.Describe();
  }
  std::vector<float> TimesInOrder() const {
    const ScanSet& s = CurrentScanSet();
    std::vector<float> t;
    for (int k = 1; k <= s.count; ++k) t.push_back(s.records[s.order[k]].time);
    return t;
  }
};

TEST_F(DataCommands, SubtractAllNoiseTakesBothEstimatesOutAndRedrawsTheDataPlot) {
  LoadRun(3);
  ScanSet& s = CurrentScanSet();
  ASSERT_NE(s.tiNoise, nullptr);
  ASSERT_NE(s.riNoise, nullptr);
  // Without fitted noise the command does nothing at all.
  const std::vector<std::string> before = DataPlotPicture();
  const float first = s.signals[1][60];
  Window().Dispatch(519);
  EXPECT_EQ(s.signals[1][60], first);
  EXPECT_EQ(RangeHistory.depth, 0);

  gModelParams.riNoiseFit = 1;
  gFitEngineState.fitTINoise = 1;
  for (int j = 1; j <= s.gridLength; ++j) s.tiNoise[j] = 0.05f;
  for (int i = 1; i <= s.count; ++i) s.riNoise[i] = 0.01f * static_cast<float>(i);
  const float scan2 = s.signals[2][60];
  Window().Dispatch(519);
  EXPECT_NEAR(s.signals[1][60], first - 0.05f - 0.01f, 1e-6);
  EXPECT_NEAR(s.signals[2][60], scan2 - 0.05f - 0.02f, 1e-6);
  for (int i = 1; i <= s.count; ++i) EXPECT_EQ(s.riNoise[i], 0.0f);
  EXPECT_EQ(s.tiNoise[10], 0.0f);
  EXPECT_NEAR(s.tiNoiseSubtracted[10], 0.05f, 1e-7);
  // A new zoom level around the fitted range, drawn into the data plot.
  EXPECT_EQ(RangeHistory.depth, 1);
  const CWINPlot& plot = *CurrentPlotWindows().dataPlot;
  EXPECT_FLOAT_EQ(plot.xMin, s.grid[s.firstGridPoint] - 0.01f);
  EXPECT_FLOAT_EQ(plot.xMax, s.grid[s.lastGridPoint] + 0.01f);
  EXPECT_NE(DataPlotPicture(), before);

  // Restoring puts the TI noise back into the data and the estimate.
  Window().Dispatch(607);
  EXPECT_NEAR(s.signals[2][60], scan2 - 0.02f, 1e-6);
  EXPECT_NEAR(s.tiNoise[10], 0.05f, 1e-7);
  EXPECT_EQ(RangeHistory.depth, 2);
  // The buffer-mismatch subtraction needs its correction switched on.
  const float now = s.signals[2][60];
  Window().Dispatch(576);
  EXPECT_EQ(s.signals[2][60], now);
  // With it on (a stand-in correction of 0.1 everywhere) the data lose the
  // mismatch, the correction goes off and "Data Range" shows the result.
  bool on = true;
  LoadHooks& h = CurrentLoadHooks();
  h.bufferSedimentationOn = [&on] { return on; };
  h.updateBufferSedimentation = [&s](bool subtract) {
    for (int i = 1; i <= s.count; ++i)
      for (int k = 1; k <= s.points[i]; ++k) s.signals[i][k] -= subtract ? 0.1f : 0.0f;
  };
  h.switchOffBufferSedimentation = [&on] { on = false; };
  const int depth = RangeHistory.depth;
  Window().Dispatch(576);
  EXPECT_NEAR(s.signals[2][60], now - 0.1f, 1e-6);
  EXPECT_FALSE(on);
  EXPECT_EQ(RangeHistory.depth, depth + 1);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

TEST_F(DataCommands, NoiseCommandsWithoutScansChangeNothing) {
  Window();
  gModelParams.riNoiseFit = 1;
  gFitEngineState.fitTINoise = 1;
  for (int id : {519, 607, 576}) Window().Dispatch(id);
  EXPECT_EQ(RangeHistory.depth, 0);
  EXPECT_TRUE(ui_->transcript.empty());
}

TEST_F(DataCommands, RealtimeUpdateLoadsNewScansInOrderOnEachTick) {
  LoadRun(3);
  TXLAWindow& w = Window();
  auto& frame = Headless(w);
  ui_->ExpectPrompt("REALTIME MODE", "maximal total number of files to load at once", std::string("20"));
  w.Dispatch(540);
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_TRUE(w.IsMenuItemChecked(540));
  EXPECT_EQ(frame.timers, (std::vector<std::pair<int, int>>{{13, 60000}}));
  EXPECT_TRUE(CurrentRealtimeState().running);

  // A tick with no new file only refreshes the window and the status lines.
  const int invalidated = frame.invalidations;
  w.EvTimer(13);
  EXPECT_EQ(CurrentScanSet().count, 3);
  EXPECT_GT(frame.invalidations, invalidated);
  ASSERT_FALSE(ui_->statusTexts.empty());
  EXPECT_EQ(ui_->statusTexts.back().rfind("IN REALTIME UPDATE MODE. PRESS ANY KEY TO INTERRUPT.\nLast changed at ", 0), 0u);

  // Scans 4 and 5 appear; number 7 without 6 waits until the gap is filled.
  WriteRun(".ra1", 5);
  WriteRun(".ra1", 7);
  std::filesystem::remove(dir_ / "00006.ra1");
  w.EvTimer(12);  // another timer: not the update's
  EXPECT_EQ(CurrentScanSet().count, 3);
  w.RunBusy = true;  // a tick during a Run waits for the next one
  w.EvTimer(13);
  EXPECT_EQ(CurrentScanSet().count, 3);
  w.RunBusy = false;
  w.EvTimer(13);
  EXPECT_EQ(CurrentScanSet().count, 5);
  WriteRun(".ra1", 7);
  w.EvTimer(13);
  EXPECT_EQ(CurrentScanSet().count, 7);
  const std::vector<float> times = TimesInOrder();
  for (std::size_t k = 0; k < times.size(); ++k) EXPECT_FLOAT_EQ(times[k], 600.0f + 600.0f * (k + 1));

  w.Dispatch(541);
  EXPECT_FALSE(w.IsMenuItemChecked(540));
  EXPECT_TRUE(frame.timers.empty());
  EXPECT_FALSE(CurrentRealtimeState().running);
  EXPECT_EQ(frame.cursor, platform::CursorKind::Arrow);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

TEST_F(DataCommands, RealtimeUpdateStopsWithAMessageWhenTheFolderShrinks) {
  LoadRun(3);
  TXLAWindow& w = Window();
  ui_->ExpectPrompt("REALTIME MODE", "maximal total number of files to load at once", std::string("20"));
  w.Dispatch(540);
  WriteRun(".ra1", 4);
  std::filesystem::remove(dir_ / "00002.ra1");
  ui_->ExpectBox("LOAD ERROR", "00002.ra1");
  ui_->ExpectBox("REALTIME MODE", "realtime update stopped: the scans of the folder could not be loaded");
  w.EvTimer(13);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_FALSE(CurrentRealtimeState().running);
  EXPECT_TRUE(Headless(w).timers.empty());
  EXPECT_FALSE(w.IsMenuItemChecked(540));
  EXPECT_EQ(CurrentScanSet().count, 0);
}

TEST_F(DataCommands, AKeyPressStopsTheRealtimeUpdateAtOnce) {
  LoadRun(3);
  TXLAWindow& w = Window();
  ui_->ExpectPrompt("REALTIME MODE", "maximal total number of files to load at once", std::string("20"));
  w.Dispatch(540);
  // A tick without new files paints the window anew before the status lines.
  const int paints = Headless(w).paints;
  w.EvTimer(13);
  EXPECT_EQ(Headless(w).paints, paints + 1);
  EXPECT_TRUE(CurrentRealtimeState().running);
  // The key polls the folder at once, and that poll sees the interrupt.
  ui_->ExpectBox("REALTIME MODE", "realtime update stopped by user interrupt");
  w.EvKeyDown('X', 1, 0);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_FALSE(CurrentRealtimeState().running);
  EXPECT_TRUE(Headless(w).timers.empty());
  EXPECT_FALSE(w.IsMenuItemChecked(540));
  EXPECT_EQ(CurrentScanSet().count, 3);  // the data stay
}

TEST_F(DataCommands, RealtimeUpdateNarrowsAnEmptyDistributionTail) {
  LoadRun(4);
  TXLAWindow& w = Window();
  gFitEngineState.fitTINoise = 0;
  w.Dispatch(275);  // "Continuous c(s) Distribution", 0 to 15 S
  const float smax = Conti().sMax;
  ui_->ExpectPrompt("REALTIME MODE", "maximal total number of files to load at once", std::string("20"));
  ui_->ExpectBox("REALTIME MODE", "auto adjust distribution range?", platform::IDYES);
  w.Dispatch(540);
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  // The 5 S species leaves the last grid interval empty: smax shrinks by a
  // tenth, in the fit vector too, and the next tick reloads for the new range.
  ASSERT_GT(Conti().gridSize, 0);
  EXPECT_FLOAT_EQ(Conti().sMax, 0.9f * smax);
  EXPECT_FLOAT_EQ(gModelParameterVector.P[5], 0.9f * smax);
  EXPECT_EQ(CurrentRealtimeState().rangeChanged, 1);
  w.Dispatch(541);
}

TEST_F(DataCommands, RealtimeUpdateNeedsLoadedScans) {
  TXLAWindow& w = Window();
  w.Dispatch(540);
  EXPECT_TRUE(Headless(w).timers.empty());
  EXPECT_FALSE(w.IsMenuItemChecked(540));
  EXPECT_TRUE(ui_->transcript.empty());
}

class DiagnosticsCommand : public DataCommands {
 protected:
  void SetUp() override {
    DataCommands::SetUp();
    if (const char* t = std::getenv("TMPDIR")) savedTmp_ = t;
    platform::DiagnosticsStateRecord& d = platform::DiagnosticsState();
    d.DiagnosticsOn = false;
    d.haveFileName = d.haveBanner = d.DiagLogOpened = false;
  }
  void TearDown() override {
    platform::DiagnosticsStateRecord& d = platform::DiagnosticsState();
    d.DiagnosticsOn = false;
    d.haveFileName = d.haveBanner = d.DiagLogOpened = false;
    SetLammDiagnosticsOutput(false);
    if (savedTmp_.empty())
      unsetenv("TMPDIR");
    else
      setenv("TMPDIR", savedTmp_.c_str(), 1);
    DataCommands::TearDown();
  }
  std::string savedTmp_;
};

TEST_F(DiagnosticsCommand, SwitchedOnTheLoaderWritesItsTraceToTheLog) {
  setenv("TMPDIR", dir_.string().c_str(), 1);
  TXLAWindow& w = Window();
  w.Dispatch(867);
  EXPECT_TRUE(w.IsMenuItemChecked(867));
  EXPECT_TRUE(LammDiagnosticsOutput());
  LoadRun(3);
  const std::string log = ReadFile((dir_ / ("Tarneldebug_t0_" + std::to_string(getpid()) + ".txt")).string());
  EXPECT_EQ(log.rfind("\nstarting new tarnel debugging session for thread #0", 0), 0u) << log;
  EXPECT_NE(log.find("\nEnter LoadAllData"), std::string::npos);

  w.Dispatch(867);
  EXPECT_FALSE(w.IsMenuItemChecked(867));
  EXPECT_FALSE(LammDiagnosticsOutput());
  // Switching empties the log; switched off nothing more is written.
  LoadRun(3);
  EXPECT_EQ(ReadFile((dir_ / ("Tarneldebug_t0_" + std::to_string(getpid()) + ".txt")).string()), "");
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

TEST_F(DiagnosticsCommand, AnUnwritableFolderIsReportedAndNothingIsSwitched) {
  setenv("TMPDIR", (dir_ / "missing").string().c_str(), 1);
  TXLAWindow& w = Window();
  ui_->ExpectBox("Error", "to write debugging info: Create Directory");
  w.Dispatch(867);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_FALSE(w.IsMenuItemChecked(867));
  EXPECT_FALSE(platform::DiagnosticsState().DiagnosticsOn);
  EXPECT_FALSE(LammDiagnosticsOutput());
}

TEST_F(DiagnosticsCommand, MatrixExportWritesTheNormalEquationsOfAcsRun) {
  setenv("TMPDIR", dir_.string().c_str(), 1);
  LoadRun(4);
  TXLAWindow& w = Window();
  gFitEngineState.fitTINoise = 0;
  w.Dispatch(275);  // "Continuous c(s) Distribution"
  ui_->ExpectBox("ERROR", "Export Matrices is ON");
  w.Dispatch(877);
  EXPECT_EQ(Conti().exportMatrices, 1);
  w.Dispatch(213);
  ASSERT_GT(Conti().gridSize, 0);
  // The grid file holds the s values of the run, one a line.
  std::ifstream grid(dir_ / "grid.txt");
  std::vector<double> s;
  for (double v; grid >> v;) s.push_back(v);
  ASSERT_EQ(static_cast<int>(s.size()), Conti().gridSize);
  EXPECT_NEAR(s.back(), Conti().sValues[Conti().gridSize], 1e-4);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "matrix.txt"));
  ui_->ExpectBox("ERROR", "Export Matrices is OFF");
  w.Dispatch(877);
  EXPECT_EQ(Conti().exportMatrices, 0);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

TEST_F(DataCommands, RestoreTimesRebuildsTimeAndW2tFromTheFileStamps) {
  LoadRun(3);
  // File stamps 100 s and 250 s after the first scan's.
  const double base = 1.7e9;
  const double offsets[] = {0, 100, 250};
  for (int k = 1; k <= 3; ++k) {
    char name[16];
    std::snprintf(name, sizeof name, "%05d.ra1", k);
    ASSERT_TRUE(platform::SetFileTimes((dir_ / name).string(), base, base + offsets[k - 1]));
  }
  const ScanSet& s = CurrentScanSet();
  const ScanRecord first = s.records[s.order[1]];
  ui_->ExpectBox("FIX TIME AND W2T", "using #1", platform::IDYES);
  ui_->ExpectBox("FIX TIME AND W2T", "save new data?", platform::IDNO);
  Window().Dispatch(922);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  const double omega2 = std::pow(first.rpm * 0.10471976, 2);
  for (int k = 1; k <= 3; ++k) {
    const ScanRecord& r = s.records[s.order[k]];
    EXPECT_FLOAT_EQ(r.time, first.time + offsets[k - 1]);
    EXPECT_NEAR(r.w2t, first.w2t + omega2 * offsets[k - 1], 1e-6 * r.w2t);
  }
}

TEST_F(DataCommands, ZoneCentrifugationLsgSelectsTheZoneGeometryOnTopOfLsg) {
  ui_->lenient = true;  // the regularisation and time notes of ls-g*(s)
  Window().Dispatch(198);
  Window().Dispatch(510);
  const ModelSelectorFlags& m = gModelSelectorFlags;
  EXPECT_EQ(m.LsgStarModel, 1);
  EXPECT_EQ(m.ZoneCentrifugationLsgModel, 1);
  EXPECT_EQ(m.ZoneCentrifugationModel, 1);
  EXPECT_EQ(m.LammDiscreteModel, 0);
  EXPECT_TRUE(Window().IsMenuItemChecked(510));
  EXPECT_FALSE(Window().IsMenuItemChecked(288));
  EXPECT_FALSE(Window().IsMenuItemChecked(198));
  const ModelParameterVector& v = gModelParameterVector;
  EXPECT_FLOAT_EQ(v.P[2], 0.95f);
  EXPECT_FLOAT_EQ(v.P[1], 1.0f);
  EXPECT_FLOAT_EQ(v.P[5], 20.0f);
  EXPECT_FLOAT_EQ(v.P[9], 100.0f);
  EXPECT_FLOAT_EQ(v.P[23], 0.1f);
  EXPECT_EQ(v.F[23], 1);
  EXPECT_EQ(v.F[13], 0);
  EXPECT_FLOAT_EQ(Conti().ffValue, 1.0f);
  EXPECT_EQ(LammSettings().automaticAlgorithm + LammSettings().claverieAlgorithm +
                LammSettings().movingHatAlgorithm,
            0);
  // DLS data refuse it and keep the model.
  CurrentDataTypeFlags().dls = 1;
  ui_->lenient = false;
  ui_->ExpectBox("ERROR", "this model is not implemented for DLS data");
  Window().Dispatch(510);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_EQ(m.ZoneCentrifugationLsgModel, 1);
}

}  // namespace
