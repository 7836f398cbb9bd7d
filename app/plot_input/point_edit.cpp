#include "app/plot_input/point_edit.h"

#include <cstdio>

#include "app/plot_input/pointer_hit_tests.h"
#include "app/window/road_services.h"
#include "app/plot_input/scan_deletion.h"
#include "app/plot_input/screen_buttons.h"
#include "app/window/txla_window.h"
#include "app/window/wait_cursor.h"
#include "app/window/window_services.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"
#include "plot/screen_button.h"
#include "platform/paths.h"
#include "platform/process_launcher.h"
#include "platform/user_interface.h"

namespace {

bool Dls() { return CurrentDataTypeFlags().dls != 0; }

// The scan index at a position in time order; 0 outside 1..count.
int ScanAt(int position) {
  const ScanSet& s = CurrentScanSet();
  if (position < 1 || position > s.count) return 0;
  return position < static_cast<int>(s.order.size()) && s.order[position] > 0 ? s.order[position] : position;
}

platform::COLORREF ScanColour(int position) {
  return Road().scanColor ? Road().scanColor(position) : 0;
}

void Drop(TXLAWindow& window, std::unique_ptr<CScreenButton>& slot) {
  if (!slot) return;
  if (platform::DrawSurface* surface = window.Frame().Surface()) {
    slot->RestoreBackground(*surface);
    window.Frame().FlushCanvas();
  }
  slot.reset();
}

void SaveUnder(TXLAWindow& window, CScreenButton& b) {
  if (platform::DrawSurface* surface = window.Frame().Surface()) b.SaveBackground(*surface);
}

std::string WithName(const char* format, const std::string& name) {
  char text[1000];
  std::snprintf(text, sizeof text, format, name.c_str());
  return text;
}

// Ring around the clicked point, drawn by the edit button so that its
// background restores the point.
void MarkPoint(TXLAWindow& window, CScreenButton& button, int position, int point) {
  platform::DrawSurface* surface = window.Frame().Surface();
  const CWINPlot* plot = CurrentPlotWindows().dataPlot;
  const ScanSet& s = CurrentScanSet();
  const int scan = ScanAt(position);
  if (!surface || !plot || scan < 1 || point < 1 || point > s.points[scan] || !s.radii[scan] || !s.signals[scan])
    return;
  const float lx = PlotPositionX(*plot, s.radii[scan][point]);
  const float ly = PlotPositionY(*plot, s.signals[scan][point]);
  const int px = static_cast<int>(lx * RecordedClientWidth(window) / 1400);
  const int py = static_cast<int>(ly * RecordedClientHeight(window) / 1000);
  button.DrawPointRing(*surface, px, py, 4, 0x0000FF, ScanColour(position));
}

}  // namespace

PointEditState::PointEditState() = default;
PointEditState::~PointEditState() = default;
PointEditState& PointEditState::operator=(PointEditState&&) = default;
PointEditState& PointEdit() {
  static PointEditState state;
  return state;
}

ScanNameHover::ScanNameHover() = default;
ScanNameHover::~ScanNameHover() = default;
ScanNameHover& ScanNameHover::operator=(ScanNameHover&&) = default;
ScanNameHover& ScanNameLabel() {
  static ScanNameHover hover;
  return hover;
}

void ShowPointEditButtons(TXLAWindow& window, int x, int y, int position, int point) {
  if (Dls()) return;
  DeleteScanNameButton(window);
  PointEditState& p = PointEdit();
  p.pendingScan = position;
  p.pendingPoint = point;
  const int scan = ScanAt(position);
  const std::string path = scan > 0 ? ScanFilePath(scan) : std::string();
  const double W = RecordedClientWidth(window), H = RecordedClientHeight(window);
  const double h = 18 * H / 1000;
  const double w = (7.0 * static_cast<double>(path.size()) + 40) * W / 1400 + 10;
  constexpr int g = 10;
  const bool right = LogicalX(window, x) < 1200;
  const int from = static_cast<int>(right ? x + g : x - g - w);
  const int to = static_cast<int>(right ? x + g + w : x - g);
  const float left = LogicalX(window, from), rightEdge = LogicalX(window, to);
  auto row = [&](double top, double bottom) {
    return ButtonRect{LogicalY(window, static_cast<int>(top)), left, LogicalY(window, static_cast<int>(bottom)),
                      rightEdge};
  };
  if (!p.EditScanButton) {
    p.EditScanButton = MakeTransientButton(row(y - 1.5 * h, y - 0.5 * h), WithName("edit %s?", path).c_str());
    p.rightSide = right;
    p.anchorX2 = static_cast<int>(right ? x + g + w + 2 : x - g - w - 2);
    p.anchorY2 = y - 20;
  }
  if (!p.RemoveScanButton)
    p.RemoveScanButton = MakeTransientButton(row(y - 0.5 * h, y + 0.5 * h), WithName("delete %s?", path).c_str());
  if (!p.CancelPointButton) p.CancelPointButton = MakeTransientButton(row(y + 0.5 * h, y + 1.5 * h), "cancel");
  p.anchorX = x;
  p.anchorY = y;
  for (CScreenButton* b : {p.EditScanButton.get(), p.RemoveScanButton.get(), p.CancelPointButton.get()})
    SaveUnder(window, *b);
  PaintButton(window, *p.EditScanButton);
  MarkPoint(window, *p.EditScanButton, position, point);
  PaintButton(window, *p.RemoveScanButton);
  PaintButton(window, *p.CancelPointButton);
}

void DeletePointEditButtons(TXLAWindow& window) {
  if (Dls()) return;
  PointEditState& p = PointEdit();
  p.pendingScan = 0;
  // Latest first: a saved background may hold the edge of an earlier button.
  DeletePointActionButtons(window);
  Drop(window, p.RemoveScanButton);
  Drop(window, p.EditScanButton);
  Drop(window, p.CancelPointButton);
}

void PressPointEditButton(TXLAWindow& window, int which) {
  if (Dls()) return;
  PointEditState& p = PointEdit();
  if (which <= 0) {
    if (p.CancelPointButton) ShowPressed(window, *p.CancelPointButton);
    DeletePointEditButtons(window);
  } else if (which == 1) {
    if (p.EditScanButton) ShowPressed(window, *p.EditScanButton);
    ShowPointActionButtons(window, p.anchorX2, p.anchorY2, p.rightSide);
  } else if (which == 2) {
    if (p.RemoveScanButton) ShowPressed(window, *p.RemoveScanButton);
    const int scan = ScanAt(p.pendingScan);
    // The buttons name the scan about to go; they go first.
    DeletePointEditButtons(window);
    if (scan > 0) DeleteScanAndReload(window, scan);
  }
}

void ShowPointActionButtons(TXLAWindow& window, int x2, int y2, bool rightSide) {
  if (Dls()) return;
  PointEditState& p = PointEdit();
  if (p.DeletePointButton || p.NotepadButton) DeletePointActionButtons(window);
  const double W = RecordedClientWidth(window), H = RecordedClientHeight(window);
  const double h = 18 * H / 1000;
  const int w2 = static_cast<int>(98 * static_cast<int>(W) / 1400) + 10;
  const int from = rightSide ? x2 : (x2 - 1) - w2, to = rightSide ? x2 + w2 : x2 - 1;
  const float left = LogicalX(window, from), right = LogicalX(window, to);
  p.DeletePointButton = MakeTransientButton(
      {LogicalY(window, static_cast<int>((y2 - 1) - h)), left, LogicalY(window, y2 - 1), right}, "delete point?");
  p.NotepadButton =
      MakeTransientButton({LogicalY(window, y2), left, LogicalY(window, static_cast<int>(y2 + h)), right},
                          "-> notepad?");
  // Both backgrounds before either face: the two touch.
  SaveUnder(window, *p.DeletePointButton);
  SaveUnder(window, *p.NotepadButton);
  PaintButton(window, *p.DeletePointButton);
  PaintButton(window, *p.NotepadButton);
}

void DeletePointActionButtons(TXLAWindow& window) {
  if (Dls()) return;
  PointEditState& p = PointEdit();
  Drop(window, p.NotepadButton);
  Drop(window, p.DeletePointButton);
}

void EditScanInNotepad(TXLAWindow& window, int which) {
  if (Dls() || (which != 1 && which != 2)) return;
  PointEditState& p = PointEdit();
  const int position = p.pendingScan, point = p.pendingPoint;
  BuildTmpFileList(0);
  const bool known = position >= 1 && position <= CurrentScanSet().count;
  if (which == 1) {
    if (p.DeletePointButton) ShowPressed(window, *p.DeletePointButton);
    DeletePointEditButtons(window);
    if (known) DeleteScanPoint(window, ScanAt(position), point);
    return;
  }
  if (p.NotepadButton) ShowPressed(window, *p.NotepadButton);
  DeletePointEditButtons(window);
  if (known) {
    const std::string& path = CurrentFileNameList().names[static_cast<size_t>(position)];
    if (!platform::Processes().OpenTextEditor(platform::ToNative(path)))
      platform::Tell("ERROR", WithName("could not start a text editor to show %s", path), platform::BoxIcon::Error);
  }
  if (platform::UI().MessageBox("", "reload scans for changes to take effect?", platform::BoxButtons::YesNo,
                                platform::BoxIcon::Question) != platform::IDYES)
    return;
  {
    WaitCursor wait(window);
    ReloadListedScans();
    CWINPlot* plot = CurrentPlotWindows().dataPlot;
    const RangeHistoryRecord& h = RangeHistory;
    if (plot && h.depth >= 1) {
      const auto i = static_cast<std::size_t>(h.depth);
      plot->SetRanges(h.xMin[i], h.xMax[i], h.yMin[i], h.yMax[i]);
      plot->Plot();
    }
  }
  RequestRepaint(window);
}

bool CancelPointEdit(TXLAWindow& window) {
  if (!PointEdit().CancelPointButton) return false;
  PressPointEditButton(window, 0);
  return true;
}

void ShowScanNameButton(TXLAWindow& window, int position, int x, int y) {
  ScanNameHover& hover = ScanNameLabel();
  if (hover.ScanNameButton && hover.position == position) return;
  DeleteScanNameButton(window);
  const int scan = ScanAt(position);
  if (scan < 1) return;
  hover.anchorX = x;
  hover.anchorY = y;
  hover.position = position;
  const std::string caption = CurrentScanSet().fileNames[scan];
  const double W = RecordedClientWidth(window), H = RecordedClientHeight(window);
  const double h = 18 * H / 1000;
  const double w = 8.0 * static_cast<double>(caption.size()) * W / 1400 + 5;
  const bool right = LogicalX(window, x) < 1300;
  const int from = static_cast<int>(right ? x + 1 : x - 1 - w), to = static_cast<int>(right ? x + 1 + w : x - 1);
  auto b = std::make_unique<CScreenButton>();
  b->SetRect(LogicalY(window, static_cast<int>(y - h)), LogicalX(window, from), LogicalY(window, y - 1),
             LogicalX(window, to));
  b->SetText(caption.c_str(), static_cast<int>(caption.size()), caption.c_str(), static_cast<int>(caption.size()));
  b->SetFirstOption();
  b->textColor = 0;
  b->faceColor = ScanColour(position);
  b->SetPressed();
  b->flat = 1;  // the white face
  b->Redraw();
  SaveUnder(window, *b);
  PaintButton(window, *b);
  hover.ScanNameButton = std::move(b);
}

void DeleteScanNameButton(TXLAWindow& window) {
  ScanNameHover& hover = ScanNameLabel();
  Drop(window, hover.ScanNameButton);
  hover.anchorX = hover.anchorY = hover.position = 0;
}

bool PressPointEditButtons(TXLAWindow& window, float bx, float by) {
  PointEditState& p = PointEdit();
  auto hit = [&](std::unique_ptr<CScreenButton>& b) { return b && b->Click(bx, by); };
  if (hit(p.EditScanButton)) PressPointEditButton(window, 1);
  else if (hit(p.DeletePointButton)) EditScanInNotepad(window, 1);
  else if (hit(p.NotepadButton)) EditScanInNotepad(window, 2);
  else if (hit(p.RemoveScanButton)) PressPointEditButton(window, 2);
  else if (hit(p.CancelPointButton)) PressPointEditButton(window, 0);
  else return false;
  return true;
}

void PaintPointEditButtons(TXLAWindow& window) {
  PointEditState& p = PointEdit();
  for (CScreenButton* b : {p.EditScanButton.get(), p.RemoveScanButton.get(), p.CancelPointButton.get(),
                           p.DeletePointButton.get(), p.NotepadButton.get()}) {
    if (!b) continue;
    // Under the buttons now lies the fresh picture.
    SaveUnder(window, *b);
    PaintButton(window, *b);
  }
}
