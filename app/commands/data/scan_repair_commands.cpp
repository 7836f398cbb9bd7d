#include "app/commands/data/scan_repair_commands.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "app/plot_input/markers.h"
#include "app/plot_input/pointer_hit_tests.h"
#include "app/window/txla_window.h"
#include "data/fringe_jump_repair.h"
#include "data/mouse_action_fringe_jump.h"
#include "data/mouse_action_scratch.h"
#include "data/mouse_actions.h"
#include "data/scan_repair_hooks.h"
#include "data/scan_set.h"
#include "data/scratch_tracker.h"
#include "numerics/arrays.h"
#include "platform/error_box.h"
#include "platform/draw_surface.h"
#include "platform/frame_window.h"
#include "platform/metafile.h"
#include "platform/user_interface.h"
#include "plot/adhoc_plot.h"
#include "plot/adhoc_plot_arrays.h"
#include "plot/cwinplot.h"
#include "plot/direct_curve.h"
#include "plot/plot_window_set.h"

namespace {

constexpr platform::COLORREF kGrey = 0x646464, kPurple = 0xC800C8;

// A number prompt over a setting kept as a double; false on Cancel.
bool AskSetting(const char* prompt, const char* title, double& setting) {
  float value = static_cast<float>(setting);
  if (!InputFloat(&value, value, true, prompt, title)) return false;
  setting = value;
  return true;
}

// ---- where the pointer is

// Plot x (layout units stretched by 1.4) of client column x.
float PlotColumn(TXLAWindow& w, int x) {
  const int width = w.Frame().ClientWidth();
  return width > 0 ? x * PlotXStretch * PlotUnits / width : 0.0f;
}

double RadiusAt(const CWINPlot& plot, float column) {
  const double v = (column - plot.xOffset) / plot.xScale;
  return plot.logX ? std::pow(10.0, v) : v;
}

bool PickScanPoint(TXLAWindow& w, int x, int y, int& scan, int& point) {
  const PlotWindowSet& plots = CurrentPlotWindows();
  const ScanSet& s = CurrentScanSet();
  if (!plots.dataPlot) return false;
  const LogicalPointer p = PointerInLogicalUnits(x, y, w.Frame().ClientWidth(), w.Frame().ClientHeight());
  auto scanAt = [&s](int i) { return static_cast<int>(s.order.size()) > i ? s.order[i] : i; };
  for (int i = 1; i <= s.count; ++i)
    if (HitTestDataPoint(scanAt(i), p.x, p.y, p.bx, p.by)) {
      scan = scanAt(i);
      point = FoundDataPoint();
      return true;
    }
  if (!plots.residualPlot) return false;
  for (int i = 1; i <= s.count; ++i)
    if (HitTestResidualPoint(scanAt(i), p.x, p.y, p.bx, p.by)) {
      scan = scanAt(i);
      point = FoundResidualPoint();
      return true;
    }
  return false;
}

bool ResidualPlotRadius(TXLAWindow& w, int x, int y, double& radius) {
  const CWINPlot* plot = CurrentPlotWindows().residualPlot;
  const int height = w.Frame().ClientHeight();
  if (!plot || height <= 0 || plot->xScale == 0) return false;
  const float row = PlotUnits * y / height;
  if (row < plot->plotTop || row > plot->plotBottom) return false;
  radius = RadiusAt(*plot, PlotColumn(w, x));
  return true;
}

bool DataPlotRadius(TXLAWindow& w, int x, int, double& radius) {
  const CWINPlot* plot = CurrentPlotWindows().dataPlot;
  if (!plot || plot->xScale == 0) return false;
  radius = RadiusAt(*plot, PlotColumn(w, x));
  return radius >= plot->xMin && radius <= plot->xMax;
}

// ---- drawing over the data plot

// A copy of values[1..n] as an array the ad-hoc plot takes over.
template <typename T>
float* Copy(const T* values, int n) {
  float* v = vector(1, n);
  for (int i = 1; i <= n; ++i) v[i] = static_cast<float>(values[i]);
  return v;
}

// y against x ([1..n] each, copied); nothing once the plot is full.
template <typename T>
void AddCurve(CAdHocPlot& plot, int n, const T* x, const T* y, platform::COLORREF colour, int style) {
  float* xc = Copy(x, n);
  float* yc = Copy(y, n);
  const int index = plot.AddCurve(n, xc, yc);
  if (index < 0) {
    free_vector(xc, 1, n);
    free_vector(yc, 1, n);
    return;
  }
  plot.plot->SetCurveColor(index, colour);
  plot.plot->SetCurveStyle(index, style);
}

// A new ad-hoc plot in the data plot's rectangle, kept as the current one.
CAdHocPlot& NewAdHocPlot(const char* xTitle, const char* yTitle) {
  ResetAdHocPlot();
  auto* adHoc = new CAdHocPlot;
  AdHocObjectState& state = CurrentAdHocObject();
  state.adHocObject = adHoc;
  state.adHocObjectPlot = adHoc->plot;
  const PlotWindowSet& plots = CurrentPlotWindows();
  adHoc->plot->SetPlotRect(plots.dataTop, plots.layoutLeft, plots.dataBottom, plots.layoutRight);
  adHoc->plot->SetXLabel(xTitle);
  adHoc->plot->SetYLabel(yTitle);
  return *adHoc;
}

void ShowAdHocPlot(TXLAWindow& w, CAdHocPlot& adHoc) {
  adHoc.plot->Rescale();
  adHoc.plot->Plot();
  if (platform::DrawSurface* surface = w.Frame().Surface()) {
    {
      // The band above the residual plot is cleared first: axis titles and
      // labels of what was there before lie outside the plot's own frame.
      auto dc = surface->ClientDC();
      dc->SelectObject(platform::GetStockObject(platform::WHITE_BRUSH));
      dc->SelectObject(platform::GetStockObject(platform::NULL_PEN));
      const int bottom = (CurrentPlotWindows().residualTop - 2 * PlotFrameMargin) * surface->ClientHeight() / 1000;
      dc->Rectangle(0, 0, surface->ClientWidth() + 1, bottom);
    }
    ReplayPlotPicture(*surface, adHoc.plot->lastMetafile);
    w.Frame().FlushCanvas();
  }
}

void DrawFringeJump(TXLAWindow& w, const CMouseAction_FixPointScanFringeJump& mode) {
  const FringeJumpWindow& win = mode.window;
  const int n = win.points;
  if (n < 1) return;
  CAdHocPlot& adHoc = NewAdHocPlot("radius (cm)", "fringes");
  const float* x = win.radii.data();
  AddCurve(adHoc, n, x, win.centredResiduals.data(), platform::kBlack, 6);
  AddCurve(adHoc, n, x, win.centredData.data(), kGrey, -1);
  AddCurve(adHoc, n, x, win.correctedResiduals.data(), platform::kRed, 15);
  AddCurve(adHoc, n, x, win.correctedData.data(), platform::kMagenta, -1);
  const platform::COLORREF colours[3] = {platform::kRed, platform::kBlue, platform::kMagenta};
  for (int k = 1; k <= 3; ++k) {
    const FringeJumpPoint& j = mode.Jump(k);
    if (j.radius <= 0 || j.radius < win.radii[1] || j.radius > win.radii[n]) continue;
    const double mx[3] = {0, j.radius, j.radius}, my[3] = {0, 0, j.shift};
    AddCurve(adHoc, 2, mx, my, colours[k - 1], 12);
  }
  ShowAdHocPlot(w, adHoc);
}

void DrawRadiusJump(TXLAWindow& w, const RadiusJumpState& st) {
  const int n = st.count;
  if (n < 1) return;
  CAdHocPlot& adHoc = NewAdHocPlot("scan #", "residuals");
  const float* x = st.scanNumber.data();
  AddCurve(adHoc, n, x, st.rightResidual.data(), platform::kBlack, 6);
  AddCurve(adHoc, n, x, st.adjustedRight.data(), platform::kRed, 15);
  AddCurve(adHoc, n, x, st.leftResidual.data(), platform::kBlack, 5);
  AddCurve(adHoc, n, x, st.leftCopy.data(), platform::kRed, 5);
  ShowAdHocPlot(w, adHoc);
}

void ShowOverDataPlot(TXLAWindow& w, platform::HMETAFILE mf) {
  if (!mf) return;
  if (platform::DrawSurface* surface = w.Frame().Surface()) ReplayPlotPicture(*surface, mf);
  platform::DeleteMetaFile(mf);
}

void DrawScratchTrack(TXLAWindow& w, const CScratchTracker& t) {
  const ScanSet& s = CurrentScanSet();
  for (int row = 1; row <= t.StoredCount(); ++row)
    DrawLimitMarkersXor(w, MarkerColumn(w, s.grid[t.StoredCentre(row)]), kFitRangeColor, 30);
  if (t.HasWork()) DrawLimitMarkersXor(w, MarkerColumn(w, s.grid[t.centreIndex()]), kFitRangeColor, 30);
  CWINPlot* plot = CurrentPlotWindows().dataPlot;
  if (!plot || !t.HasWork()) return;
  const int n = t.scans(), k = t.windowPoints();
  for (int i = 1; i <= n; ++i)
    ShowOverDataPlot(w, PlotDoubleArrays(plot, t.shiftedRadii(i), t.fitted(i), k, platform::kRed, -1, plot->symbolSize));
  ShowOverDataPlot(w, PlotDoubleArrays(plot, t.centreRadius().data(), t.centreValue().data(), n, kPurple, -1,
                                       plot->symbolSize));
  w.Frame().FlushCanvas();
}

void PlotScratches(TXLAWindow& w, const CScratchTracker& t) {
  const int count = t.StoredCount(), scans = CurrentScanSet().count;
  if (count < 1 || scans < 1) return;
  CAdHocPlot& adHoc = NewAdHocPlot("slopes (signal/cm)", "shifts (cm)");
  // Row r of the store as (slope, shift) pairs over the scans, and the
  // same across the scratches for scan p.
  std::vector<double> x(static_cast<std::size_t>(std::max(count, scans)) + 1), y(x.size());
  auto scratch = [&](int row) {
    for (int p = 1; p <= scans; ++p) {
      x[p] = t.StoredSlope(row, p);
      y[p] = t.StoredShift(row, p);
    }
  };
  for (int row = 1; row <= count; ++row) {
    scratch(row);
    AddCurve(adHoc, scans, x.data(), y.data(), ColorForFraction(row, count), 6);
  }
  for (int p = 1; p <= scans; ++p) {
    for (int row = 1; row <= count; ++row) {
      x[row] = t.StoredSlope(row, p);
      y[row] = t.StoredShift(row, p);
    }
    AddCurve(adHoc, count, x.data(), y.data(), ScanColor(p), 23);
  }
  for (int row = 1; row <= count; ++row) {
    scratch(row);
    AddCurve(adHoc, scans, x.data(), y.data(), ColorForFraction(row, count), -1);
  }
  ShowAdHocPlot(w, adHoc);
}

// A Run or a Fit has left a model in some scan: before one the residuals are
// the data themselves, and no jump can be told from the boundary.
bool ModelComputed(const ScanSet& s) {
  for (int i = 1; i <= s.count; ++i) {
    if (!s.model[i]) continue;
    for (int j = 1; j <= s.points[i]; ++j)
      if (s.model[i][j] != 0.0f) return true;
  }
  return false;
}

}  // namespace

void ConnectScanRepairs(TXLAWindow& window) {
  TXLAWindow* w = &window;
  MouseActionMakers& makers = MouseActionFactories();
  makers.trackScratch = [] { return std::make_unique<CMouseAction_TrackScratch>(); };
  makers.fixScratchJump = [] { return std::make_unique<CMouseAction_FixScratchJump>(); };
  makers.fixPointScanFringeJump = [] { return std::make_unique<CMouseAction_FixPointScanFringeJump>(); };

  ScanRepairHooks& h = RepairHooks();
  h.pickScanPoint = [w](int x, int y, int& scan, int& point) { return PickScanPoint(*w, x, y, scan, point); };
  h.residualPlotRadius = [w](int x, int y, double& r) { return ResidualPlotRadius(*w, x, y, r); };
  h.dataPlotRadius = [w](int x, int y, double& r) { return DataPlotRadius(*w, x, y, r); };
  h.drawFringeJump = [w](const CMouseAction_FixPointScanFringeJump& m) { DrawFringeJump(*w, m); };
  h.drawRadiusJump = [w](const RadiusJumpState& st) { DrawRadiusJump(*w, st); };
  h.drawScratchTrack = [w](const CScratchTracker& t) { DrawScratchTrack(*w, t); };
  h.plotScratches = [w](const CScratchTracker& t) { PlotScratches(*w, t); };
  h.scansChanged = [] { RedrawDataPlot(true); };
}

void DisconnectScanRepairs() {
  MouseActionsEndAll();
  // The modes outlive the window; without an owner they stay idle.
  MouseActionRegistry& r = MouseActions();
  for (int i = 1; i <= MouseActionRegistry::count; ++i)
    if (r.entries[i]) r.entries[i]->owner = nullptr;
  RepairHooks() = ScanRepairHooks{};
}

void TXLAWindow::CmFixIndividualScanJump() {
  if (Frame().RunTwoButtonDialog(
          "Fix Fringe Jump",
          "Remove a whole-fringe jump in one scan?\n\n"
          "After a fit, click on a point of the scan with the jump in the data or residuals plot, then:\n"
          "  left/right arrows: move the jump point,  up/down: change the shift by one fringe,\n"
          "  L or R: the shift applies left or right of the jump point,\n"
          "  1, 2, 3: place up to three jump points,\n"
          "  N or P: next or previous scan (asks first whether to apply to this one),\n"
          "  RETURN: apply to this scan and end,  ESC: end without applying.",
          "Start (then click a point)", "Cancel") != platform::IDOK)
    return;
  StartFixPointScanFringeJump();
}

void TXLAWindow::CmFixScratchJump() {
  if (!ModelComputed(CurrentScanSet())) {
    platform::Tell("FIX SCRATCH JUMP",
                   "no fit has been made: the jumps are found in the residuals of a fit - "
                   "please Run or Fit first");
    return;
  }
  if (Frame().RunTwoButtonDialog(
          "Fix Scratch Jump",
          "Remove a jump at one radius from all scans?\n\n"
          "After a fit, click on the radial value where the jump occurs in the residuals plot, then use the arrow "
          "keys to refine.\nRETURN applies the correction to all scans and ends, ESC ends without applying.",
          "Start (then click the radius)", "Cancel") != platform::IDOK)
    return;
  if (!AskSetting("check residuals at distance (cm)", "FIX SCRATCH JUMP", RadiusJumpDistance())) return;
  StartFixScratchJump();
}

void TXLAWindow::CmTrackTINoiseFeature() {
  // One scan leaves no shift to search for.
  if (CurrentScanSet().count == 1) {
    platform::Tell("TRACK SCRATCH", "tracking a scratch needs at least 2 scans");
    return;
  }
  if (Frame().RunTwoButtonDialog("Track Scratch",
                                 "Track a scratch (a feature of the TI noise) across the scans?\n\n"
                                 "click on radial values to examine, 'y' or 'n' to accept/reject, RETURN to end",
                                 "Start (then click a radius)", "Cancel") != platform::IDOK)
    return;
  ScratchTrackerSettings& s = CurrentScratchTrackerSettings();
  if (!AskSetting("window width (cm)", "TRACK SCRATCH", s.windowWidth)) return;
  if (!AskSetting("randomize shift (cm)", "TRACK SCRATCH", s.randomizeShift)) return;
  if (!AskSetting("rmsd precision", "TRACK SCRATCH", s.rmsdPrecision)) return;
  StartTrackScratch();
}
