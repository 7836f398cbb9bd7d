#include <cmath>

#include "app/window/window_services.h"
#include "app_fixture.h"
#include "data/load_hooks.h"
#include "data/scan_set.h"
#include "fit/model_params.h"
#include "fit/serial_fit_settings.h"
#include "platform/clipboard.h"
#include "tests/support/file_size_limit.h"

using WindowServices = AppTest;

TEST_F(WindowServices, LastDataFolderKeepsDriveAndFoldersOfTheChosenFile) {
  auto w = AgreedWindow();
  SaveLastDataDirectory(*w, "/data/run 7/cell2/scan00012.RA2");
  std::ifstream in(LastFolderIniPath());
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "/data/run 7/cell2/scan00012");  // no extension, no line end
  std::string folder = "unchanged";
  LoadLastDataDirectory(*w, folder);
  EXPECT_EQ(folder, "/data/run 7/cell2/");

  // A path longer than a line buffer keeps its folder whole.
  const std::string deep = "/" + std::string(150, 'd') + "/" + std::string(40, 'e') + "/x.IP1";
  SaveLastDataDirectory(*w, deep);
  LoadLastDataDirectory(*w, folder);
  EXPECT_EQ(folder, deep.substr(0, deep.size() - 5));

  // The folder of a several-file selection comes without its separator;
  // the dialog still opens in it, also from a file that stored it bare.
  SaveLastDataDirectory(*w, dir_.string());
  LoadLastDataDirectory(*w, folder);
  EXPECT_EQ(folder, dir_.string() + "/");
  std::ofstream(LastFolderIniPath(), std::ios::trunc) << dir_.string();
  LoadLastDataDirectory(*w, folder);
  EXPECT_EQ(folder, dir_.string() + "/");

  // A program folder that takes no more bytes: the folder kept before stays,
  // and the failure is said once a session, not at every file dialog.
  ASSERT_TRUE(testsupport::WithFileSizeLimit(0, [&] {
    ui_->ExpectBox("Error", "could not write " + LastFolderIniPath() + " - the folder of the last file is not kept");
    SaveLastDataDirectory(*w, "/elsewhere/a.RA1");
    SaveLastDataDirectory(*w, "/elsewhere/b.RA1");
  }));
  ExpectScriptMet();
  LoadLastDataDirectory(*w, folder);
  EXPECT_EQ(folder, dir_.string() + "/");

  std::filesystem::remove(LastFolderIniPath());
  folder = "kept";
  LoadLastDataDirectory(*w, folder);
  EXPECT_EQ(folder, "kept");
}

TEST_F(WindowServices, RepaintRequestsPauseDuringASerialFitButResizingAlwaysInvalidates) {
  auto w = AgreedWindow();
  auto& frame = Headless(*w);
  frame.Update();
  const int before = frame.invalidations;
  gSerialFitSettings.running = 1;
  RequestRepaint(*w);
  CurrentLoadHooks().requestRepaint();
  EXPECT_EQ(frame.invalidations, before);
  frame.Resize(640, 480);
  EXPECT_EQ(frame.invalidations, before + 1);
  EXPECT_TRUE(frame.pendingErase);
  gSerialFitSettings.running = 0;
  CurrentLoadHooks().requestRepaint();
  EXPECT_EQ(frame.invalidations, before + 2);
  frame.Update();
  EXPECT_EQ(w->ClientWidthF, 640.0f);
  EXPECT_EQ(w->ClientHeightF, 480.0f);
  // Loading sets the title through the window.
  CurrentLoadHooks().setWindowTitle("SEDIMENTATION ANALYSIS -> run7");
  EXPECT_EQ(frame.Title(), "SEDIMENTATION ANALYSIS -> run7");
}

TEST_F(WindowServices, LoadingReadsTheWindowsSwitchesUntilTheWindowGoes) {
  WriteAgreedDefaults();
  {
    auto w = MakeWindow();
    Options().TimeStampCheck = 0;
    EXPECT_EQ(*CurrentLoadTargets().checkTimeStamps, 0);
    Options().TimeStampCheck = 1;
    EXPECT_EQ(*CurrentLoadTargets().checkTimeStamps, 1);
    EXPECT_EQ(CurrentLoadTargets().timeDilationThreshold, &Options().TimeStampTolerance);
  }
  EXPECT_NE(CurrentLoadTargets().checkTimeStamps, &Options().TimeStampCheck);
}

TEST_F(WindowServices, FileDialogsCopyAtMostTheCapacityAndLeaveThePathOnCancel) {
  auto w = AgreedWindow();
  platform::FileDialogResult chosen;
  chosen.accepted = true;
  chosen.paths = {"/data/abcdefghij.RA1"};
  ui_->ExpectFiles("select files", chosen);
  std::string path = "/data/old.RA1";
  EXPECT_EQ(SelectSaveFileName(*w, path, 21, 0, "RA1"), 1);
  EXPECT_EQ(path, "/data/abcdefghij.RA1");
  // A path that does not fit is refused, never cut into another file's name.
  ui_->ExpectFiles("select files", chosen);
  ui_->ExpectBox("ERROR", "file name too long", platform::IDOK);
  path = "/data/old.RA1";
  EXPECT_EQ(SelectSaveFileName(*w, path, 11, 0, "RA1"), 0);
  EXPECT_EQ(path, "/data/old.RA1");
  ui_->ExpectFiles("select files", platform::FileDialogResult{});
  path = "/data/old.RA1";
  EXPECT_EQ(SelectSaveFileName(*w, path, 260, 0, "RA1"), 0);
  EXPECT_EQ(path, "/data/old.RA1");
  EXPECT_TRUE(ui_->failures.empty());
}

TEST_F(WindowServices, DataRangeSpansTheFittedGridAndStacksAtMostTenLevels) {
  auto w = AgreedWindow();
  ScanSet& s = CurrentScanSet();
  std::vector<float> grid = {0, 6.0f, 6.1f, 6.2f, 6.3f, 6.4f};
  std::vector<float> scan1 = {0, 9.0f, 0.5f, 0.7f, 0.9f, -9.0f};
  std::vector<float> scan2 = {0, 9.0f, 0.2f, 0.4f, 1.1f, -9.0f};
  s.count = 2;
  s.grid = grid.data();
  s.gridLength = 5;
  s.firstGridPoint = 2;
  s.lastGridPoint = 4;
  s.gridSignals = {nullptr, scan1.data(), scan2.data()};
  gModelParams.meniscus = 5.95f;
  std::vector<std::string> calls;
  Services().setDataPlotRanges = [&](float x0, float x1, float y0, float y1) {
    EXPECT_NEAR(x0, 5.94f, 1e-5);
    EXPECT_NEAR(x1, 6.31f, 1e-5);
    EXPECT_NEAR(y0, 0.1f, 1e-5);
    EXPECT_NEAR(y1, 1.2f, 1e-5);
    calls.push_back("ranges");
  };
  Services().redrawDataPlot = [&](bool) { calls.push_back("plot"); };
  Services().updateResidualsPlot = [&](bool) { calls.push_back("residuals"); };
  Services().updateResidualBitmap = [&](bool) { calls.push_back("bitmap"); };
  RangeHistory = RangeHistoryRecord{};
  for (int i = 0; i < 11; ++i) w->Dispatch(518);
  EXPECT_EQ(RangeHistory.depth, 9);
  EXPECT_NEAR(RangeHistory.yMax[9], 1.2f, 1e-5);
  EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 4),
            (std::vector<std::string>{"ranges", "plot", "residuals", "bitmap"}));

  // All signals equal: the y range is still 0.2 wide.
  std::fill(scan1.begin(), scan1.end(), 0.5f);
  std::fill(scan2.begin(), scan2.end(), 0.5f);
  DataRange range;
  ASSERT_TRUE(ComputeDataRange(s, 5.95f, range));
  EXPECT_NEAR(range.yMax - range.yMin, 0.2f, 1e-6);
  s.count = 0;
  s.grid = nullptr;
  s.gridSignals.clear();
}

TEST_F(WindowServices, MenuItemsFollowTheLoadedData) {
  auto w = AgreedWindow();
  platform::MenuModel& menu = w->Frame().Menu();
  // Nothing loaded: the menu stays as it is.
  DataTypeFlags& data = CurrentDataTypeFlags();
  data.fluorescence = 1;
  UpdateFloToolsMenu(*w);
  EXPECT_EQ(menu.Count(915), 0);
  // Fluorescence scans, as the loader marks them.
  CurrentScanSet().count = 1;
  gModelSelectorFlags.NonidealCSModel = 1;
  UpdateFloToolsMenu(*w);
  UpdateFloToolsMenu(*w);  // once only
  EXPECT_EQ(menu.Count(915), 1);
  EXPECT_EQ(menu.Count(1104), 1);
  const auto ids = menu.CommandIds();
  const auto at = [&](int id) { return std::find(ids.begin(), ids.end(), id) - ids.begin(); };
  EXPECT_EQ(at(915) + 1, at(552));
  EXPECT_EQ(at(1106) + 1, at(1103));
  EXPECT_EQ(at(1103) + 1, at(1104));
  EXPECT_EQ(at(1104) + 1, at(1098));
  EXPECT_EQ(at(1105) + 1, at(517));
  EXPECT_FALSE(menu.IsEnabled(231));
  data.fluorescence = 0;
  gModelSelectorFlags.NonidealCSModel = 0;
  data.intensity = 1;
  UpdateFloToolsMenu(*w);
  for (int id : {915, 1103, 1104, 1105, 1106}) EXPECT_EQ(menu.Count(id), 0) << id;
  EXPECT_TRUE(menu.IsEnabled(231));
  data.intensity = 0;
  CurrentScanSet().count = 0;

  // The M* copy items: in the menu from the start, removed and put back.
  RemoveCopyMStarMenuItems(*w);
  EXPECT_EQ(menu.Count(919), 0);
  EXPECT_FALSE(MenuMarkers().MStarCopyItemsShown);
  InsertCopyMStarMenuItems(*w);
  EXPECT_EQ(menu.Count(919), 1);
  EXPECT_TRUE(MenuMarkers().MStarCopyItemsShown);
}

TEST_F(WindowServices, ScreenshotGoesToTheClipboardAsABitmap) {
  WriteAgreedDefaults();
  platform::MemoryClipboard clipboard;
  platform::SetClipboard(&clipboard);
  auto w = MakeWindow();
  w->Frame().Resize(320, 200);
  w->Dispatch(646);
  platform::SetClipboard(nullptr);
  EXPECT_EQ(clipboard.content, platform::MemoryClipboard::Content::Bitmap);
  EXPECT_EQ(clipboard.bitmap.Width(), 320);
  EXPECT_EQ(clipboard.bitmap.Height(), 200);
}

TEST_F(WindowServices, OldFilenameConventionFlipsTheLoadersSwitch) {
  auto w = AgreedWindow();
  CurrentScanSet().oldFileNameConvention = 0;
  w->Dispatch(243);
  EXPECT_EQ(CurrentScanSet().oldFileNameConvention, 1);
  EXPECT_TRUE(w->IsMenuItemChecked(243));
  w->Dispatch(243);
  EXPECT_EQ(CurrentScanSet().oldFileNameConvention, 0);
  EXPECT_FALSE(w->IsMenuItemChecked(243));
}
