// Editing the loaded data from the plot: the buttons at a clicked point,
// deleting a point (into a "_mod" copy or over the scan's file), removing a
// scan from the set, the text editor, and the label naming a hovered scan.
// Button rectangles are (top, left, bottom, right) in the 1400 x 1000
// logical frame, worked out by hand from the placement rules.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/plot_input/marker_moves.h"
#include "app/plot_input/point_edit.h"
#include "app/plot_input/pointer_hit_tests.h"
#include "data/scan_set.h"
#include "plot/cwinplot.h"
#include "platform/paths.h"
#include "plot/screen_button.h"
#include "platform/clock.h"
#include "platform/input_events.h"
#include "button_rects.h"
#include "road_support.h"
#include "tests/support/file_text.h"

namespace {

using platform::IDNO;
using platform::IDYES;

// Data lines of a scan file (after the two header lines).
int DataLines(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::string line;
  int n = 0;
  while (std::getline(in, line)) ++n;
  return n - 2;
}

class PointEditing : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    platform::SetClock(&clock_);
  }
  void TearDown() override {
    PointEdit() = PointEditState{};
    ScanNameLabel() = ScanNameHover{};
    platform::SetClock(nullptr);
    RoadTest::TearDown();
  }
  void Open(int scans) {
    LoadRun(scans);
    Window().Frame().Resize(1400, 1000);
    Window().Paint(true);
  }
  void ClickOn(const CScreenButton& b) {
    Window().OnMouse(platform::MouseMessage::LButtonDown, 0, (b.left + b.right) / 2, (b.top + b.bottom) / 2);
  }
  void ExpectAllAnswered() {
    for (const auto& f : ui_->failures) ADD_FAILURE() << f;
    EXPECT_TRUE(ui_->AllConsumed());
  }
  platform::ManualClock clock_;
};

TEST_F(PointEditing, ButtonsStandInAColumnBesideThePointAndTheSecondLevelBesideThem) {
  Window().Frame().Resize(1400, 1000);
  Window().Paint(true);
  ScanSet& s = CurrentScanSet();
  AllocateScanTables(s, 1);
  s.fileNames[1] = "00001.ra1";
  CurrentDataPaths().dataFolder = "/tmp/data1";  // a path of 20 characters
  PointEditState& p = PointEdit();

  ShowPointEditButtons(Window(), 400, 300, 1, 17);
  EXPECT_EQ(p.EditScanButton->caption, "edit /tmp/data1/00001.ra1?");
  EXPECT_EQ(p.RemoveScanButton->caption, "delete /tmp/data1/00001.ra1?");
  ExpectRect(p.EditScanButton.get(), {273, 410, 291, 600});
  ExpectRect(p.RemoveScanButton.get(), {291, 410, 309, 600});
  ExpectRect(p.CancelPointButton.get(), {309, 410, 327, 600});
  EXPECT_EQ(p.pendingScan, 1);
  EXPECT_EQ(p.pendingPoint, 17);

  // A second click leaves the buttons and takes the new point.
  ShowPointEditButtons(Window(), 500, 200, 1, 30);
  ExpectRect(p.EditScanButton.get(), {273, 410, 291, 600});
  EXPECT_EQ(p.pendingPoint, 30);

  ClickOn(*p.EditScanButton);
  ExpectRect(p.DeletePointButton.get(), {261, 602, 279, 710});
  ExpectRect(p.NotepadButton.get(), {280, 602, 298, 710});
  EXPECT_NE(p.EditScanButton, nullptr);  // the first level stays

  // Right of logical x 1200 everything goes to the left of the point.
  PressPointEditButton(Window(), 0);
  EXPECT_EQ(p.CancelPointButton, nullptr);
  EXPECT_EQ(p.DeletePointButton, nullptr);
  EXPECT_EQ(p.pendingScan, 0);
  ShowPointEditButtons(Window(), 1300, 300, 1, 17);
  ExpectRect(p.RemoveScanButton.get(), {291, 1100, 309, 1290});
  PressPointEditButton(Window(), 1);
  ExpectRect(p.DeletePointButton.get(), {261, 989, 279, 1097});

  // Any key removes them.
  CurrentPlotWindows().dataPlot = new CWINPlot();
  Window().EvChar('a', 1, 0);
  EXPECT_EQ(p.EditScanButton, nullptr);
  EXPECT_EQ(p.NotepadButton, nullptr);
  delete CurrentPlotWindows().dataPlot;
  CurrentPlotWindows().dataPlot = nullptr;

  // Light-scattering data are not edited by pointing.
  CurrentDataTypeFlags().dls = 1;
  ShowPointEditButtons(Window(), 400, 300, 1, 17);
  EXPECT_EQ(p.EditScanButton, nullptr);
}

TEST_F(PointEditing, DeletedPointGoesIntoAModifiedCopyUnlessTheScanMayBeOverwritten) {
  Open(4);
  const std::filesystem::path original = dir_ / "00001.ra1";
  const std::string before = teststate::FileText(original);
  PointEditState& p = PointEdit();
  const int position = 1, scan = CurrentScanSet().order[1];

  ShowPointEditButtons(Window(), 400, 300, position, 17);
  ClickOn(*p.EditScanButton);
  ui_->ExpectBox("", "overwrite original scan?", IDNO);
  ClickOn(*p.DeletePointButton);
  ExpectAllAnswered();
  EXPECT_EQ(p.EditScanButton, nullptr);
  const std::filesystem::path copy = dir_ / "00001_mod.ra1";
  ASSERT_TRUE(std::filesystem::exists(copy));
  EXPECT_EQ(DataLines(copy), 119);
  EXPECT_EQ(teststate::FileText(original), before);
  const ScanSet& s = CurrentScanSet();
  ASSERT_EQ(s.count, 4);
  EXPECT_EQ(s.fileNames[scan], "00001_mod.ra1");
  EXPECT_EQ(s.points[scan], 119);
  const std::string description(s.records[scan].description);
  EXPECT_EQ(description.substr(description.size() - 24), "_modified from 00001.ra1");

  // Overwriting rewrites the scan's own file (here the copy now loaded).
  ShowPointEditButtons(Window(), 400, 300, position, 1);
  PressPointEditButton(Window(), 1);
  ui_->ExpectBox("", "overwrite original scan?", IDYES);
  EditScanInNotepad(Window(), 1);
  ExpectAllAnswered();
  EXPECT_EQ(DataLines(copy), 118);
  EXPECT_EQ(CurrentScanSet().points[scan], 118);

  // Another scan, overwritten: its own file loses the point.
  ShowPointEditButtons(Window(), 400, 300, 2, 17);
  PressPointEditButton(Window(), 1);
  ui_->ExpectBox("", "overwrite original scan?", IDYES);
  EditScanInNotepad(Window(), 1);
  ExpectAllAnswered();
  EXPECT_EQ(DataLines(dir_ / "00002.ra1"), 119);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "00002_mod.ra1"));

  // Averaged data are asked about first; No leaves everything.
  CurrentScanSet().radialResolution = 0.002f;
  ShowPointEditButtons(Window(), 400, 300, position, 1);
  PressPointEditButton(Window(), 1);
  ui_->ExpectBox("", "data are pre-averaged - continue anyway?", IDNO);
  EditScanInNotepad(Window(), 1);
  ExpectAllAnswered();
  EXPECT_EQ(CurrentScanSet().points[scan], 118);
}

TEST_F(PointEditing, RemovedScanLeavesTheSetButNotTheFolder) {
  Open(4);
  ui_->lenient = true;  // the reload runs the model
  const std::string second = CurrentScanSet().fileNames[CurrentScanSet().order[2]];
  ShowPointEditButtons(Window(), 400, 300, 2, 5);
  CurrentScanSet().dataChanged = 0;
  ClickOn(*PointEdit().RemoveScanButton);
  const ScanSet& s = CurrentScanSet();
  ASSERT_EQ(s.count, 3);
  for (int i = 1; i <= 3; ++i) EXPECT_NE(s.fileNames[i], second);
  EXPECT_EQ(s.dataChanged, 1);
  for (int k = 1; k <= 4; ++k) {
    char name[16];
    std::snprintf(name, sizeof name, "%05d.ra1", k);
    EXPECT_TRUE(std::filesystem::exists(dir_ / name)) << name;
  }
  EXPECT_EQ(PointEdit().RemoveScanButton, nullptr);
}

TEST_F(PointEditing, TheOnlyScanAndAScanOfTwoPointsAreKept) {
  Open(2);
  ScanSet& s = CurrentScanSet();
  s.count = 1;  // a set of one scan, as an equilibrium load leaves it
  const int scan = s.order[1];
  ShowPointEditButtons(Window(), 400, 300, 1, 5);
  ui_->ExpectBox("DELETE SCAN", s.fileNames[scan] + " is the only scan loaded - it stays");
  PressPointEditButton(Window(), 2);
  ExpectAllAnswered();
  EXPECT_EQ(s.count, 1);
  s.count = 2;

  s.points[scan] = 2;
  ShowPointEditButtons(Window(), 400, 300, 1, 1);
  PressPointEditButton(Window(), 1);
  ui_->ExpectBox("", "overwrite original scan?", IDYES).ExpectBox("ERROR", "fewer than 2 points");
  EditScanInNotepad(Window(), 1);
  ExpectAllAnswered();
  s.points[scan] = 120;
  EXPECT_EQ(DataLines(dir_ / s.fileNames[scan]), 120);
}

TEST_F(PointEditing, EditorOpensTheWorkingCopyAndTheReloadIsAskedEvenWithoutEditor) {
  Open(2);
  ShowPointEditButtons(Window(), 400, 300, 2, 5);
  PressPointEditButton(Window(), 1);
  ui_->ExpectBox("", "reload scans for changes to take effect?", IDNO);
  ClickOn(*PointEdit().NotepadButton);
  ExpectAllAnswered();
  ASSERT_EQ(processes_.calls.size(), 1u);
  EXPECT_EQ(processes_.calls[0], "edit " + platform::ToNative((dir_ / "00002.ra1").string()));

  // The file edited, the reload declined: the loaded data stay as they were.
  const int scan = CurrentScanSet().order[2];
  const float signal = CurrentScanSet().signals[scan][10];
  std::ofstream(dir_ / "00002.ra1", std::ios::app) << "   7.1500  9.00000e+00   0.00000e+00 \n";
  processes_.succeed = false;
  ShowPointEditButtons(Window(), 400, 300, 2, 5);
  PressPointEditButton(Window(), 1);
  ui_->ExpectBox("ERROR", "could not start a text editor").ExpectBox("", "reload scans for changes", IDNO);
  EditScanInNotepad(Window(), 2);
  ExpectAllAnswered();
  EXPECT_EQ(CurrentScanSet().points[scan], 120);
  EXPECT_EQ(CurrentScanSet().signals[scan][10], signal);

  // A scan position outside the set starts no editor; the question stays.
  processes_.calls.clear();
  ShowPointEditButtons(Window(), 400, 300, 2, 5);
  PressPointEditButton(Window(), 1);
  PointEdit().pendingScan = 9;
  ui_->ExpectBox("", "reload scans for changes", IDNO);
  EditScanInNotepad(Window(), 2);
  ExpectAllAnswered();
  EXPECT_TRUE(processes_.calls.empty());

  // Accepted: the appended point is loaded.
  processes_.succeed = true;
  ShowPointEditButtons(Window(), 400, 300, 2, 5);
  PressPointEditButton(Window(), 1);
  ui_->ExpectBox("", "reload scans for changes", IDYES);
  EditScanInNotepad(Window(), 2);
  ExpectAllAnswered();
  EXPECT_EQ(CurrentScanSet().points[CurrentScanSet().order[2]], 121);
}

TEST_F(PointEditing, AClickOnADataPointOffersItsButtons) {
  Open(2);
  const CWINPlot* plot = CurrentPlotWindows().dataPlot;
  ASSERT_NE(plot, nullptr);
  const ScanSet& s = CurrentScanSet();
  const int scan = s.order[2];
  const int x = static_cast<int>(PlotPositionX(*plot, s.radii[scan][40]));
  const int y = static_cast<int>(PlotPositionY(*plot, s.signals[scan][40]));
  // Resting on the point names its scan; the click replaces the name by the buttons.
  Window().OnMouse(platform::MouseMessage::MouseMove, 0, x, y);
  ASSERT_NE(ScanNameLabel().ScanNameButton, nullptr);
  EXPECT_EQ(ScanNameLabel().ScanNameButton->caption, s.fileNames[scan]);
  Window().OnMouse(platform::MouseMessage::LButtonDown, 0, x, y);
  EXPECT_EQ(ScanNameLabel().ScanNameButton, nullptr);
  ASSERT_NE(PointEdit().CancelPointButton, nullptr);
  EXPECT_EQ(PointEdit().pendingScan, 2);
  EXPECT_EQ(PointEdit().pendingPoint, 40);
  // A click beside every curve takes them away.
  Window().OnMouse(platform::MouseMessage::LButtonDown, 0, 700, 20);
  EXPECT_EQ(PointEdit().CancelPointButton, nullptr);
}

TEST_F(PointEditing, HoverLabelNamesOneScanAtATime) {
  Open(2);
  ScanNameHover& hover = ScanNameLabel();
  ShowScanNameButton(Window(), 1, 400, 300);
  ASSERT_NE(hover.ScanNameButton, nullptr);
  EXPECT_EQ(hover.ScanNameButton->caption, "00001.ra1");
  // 8 x 9 characters + 5 = 77 pixels, above the pointer, right of it.
  ExpectRect(hover.ScanNameButton.get(), {282, 401, 299, 478});
  const CScreenButton* first = hover.ScanNameButton.get();
  ShowScanNameButton(Window(), 1, 410, 305);
  EXPECT_EQ(hover.ScanNameButton.get(), first);  // the same scan: not redrawn
  EXPECT_EQ(hover.anchorX, 400);
  ShowScanNameButton(Window(), 2, 1350, 305);
  EXPECT_EQ(hover.ScanNameButton->caption, "00002.ra1");
  ExpectRect(hover.ScanNameButton.get(), {287, 1272, 304, 1349});
  // Point buttons take the label's place.
  ShowPointEditButtons(Window(), 400, 300, 2, 5);
  EXPECT_EQ(hover.ScanNameButton, nullptr);
  EXPECT_EQ(hover.position, 0);
}

}  // namespace
