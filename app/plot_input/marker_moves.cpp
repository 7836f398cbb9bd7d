#include "app/plot_input/marker_moves.h"

#include <cmath>
#include <utility>

#include "app/plot_input/markers.h"
#include "app/window/road_services.h"
#include "app/window/txla_window.h"
#include "data/scan_grid.h"
#include "data/scan_set.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "models/buffer/buffer_sed_settings.h"
#include "platform/error_box.h"
#include "platform/frame_window.h"
#include "platform/input_events.h"
#include "plot/cwinplot.h"

MarkerDragState& MarkerDrag() {
  static MarkerDragState state;
  return state;
}

int ReadSlideKey() {
  int c = 0;
  if (!ReadKey(&c)) return 0;
  return c != 0 ? c : -1;
}

PlotMouseHooks& MouseHooks() {
  static PlotMouseHooks hooks;
  return hooks;
}

float RadiusAtColumn(TXLAWindow& window, int x) {
  const CWINPlot* plot = MarkerPlot();
  if (!plot || window.ClientWidthF <= 0 || plot->xScale == 0) return 0;
  const int plotX = static_cast<int>(x * 1400.0f / window.ClientWidthF);
  return (plotX - plot->xOffset) / plot->xScale;
}

float MarkerValue(MarkerKind kind) {
  const ScanSet& s = CurrentScanSet();
  const FitEngineState& f = gFitEngineState;
  switch (kind) {
    case MarkerKind::Meniscus: return gModelParams.meniscus;
    case MarkerKind::ReferenceMeniscus:
      return static_cast<float>(gModelParams.meniscus - gBufferSedSettings.MeniscusDifference);
    case MarkerKind::Bottom: return gModelParams.bottom;
    case MarkerKind::LeftFitLimit: return s.leftFitLimit;
    case MarkerKind::RightFitLimit: return s.rightFitLimit;
    case MarkerKind::MeniscusMin: return f.meniscusMin;
    case MarkerKind::MeniscusMax: return f.meniscusMax;
    case MarkerKind::BottomMin: return f.bottomMin;
    case MarkerKind::BottomMax: return f.bottomMax;
  }
  return 0;
}

void DrawDataScreenMarkers(platform::DrawContext& dc, TXLAWindow& window, bool fitRanges) {
  const ScanSet& s = CurrentScanSet();
  const ModelParams& mp = gModelParams;
  const FitEngineState& fs = gFitEngineState;
  const MarkerDisplaySettings& ms = MarkerSettings();
  const bool dls = CurrentDataTypeFlags().dls != 0;
  auto col = [&](float v) { return MarkerColumn(window, v); };
  // The M* screen has no fit range: its plot shows meniscus and bottom only.
  const bool mStar = Road().mStarScreenShown && Road().mStarScreenShown();
  const bool meniscusDrawn = mp.meniscus != 0 && ms.editMode != CursorEditMode::MeniscusOrBottom && !dls;
  if (meniscusDrawn) DrawVerticalMarker(dc, window, col(mp.meniscus), kMeniscusColor);
  // The reference meniscus of a buffer-mismatch correction belongs with the
  // meniscus, not only with its drag.
  const BufferSedSettings& b = gBufferSedSettings;
  if (meniscusDrawn && b.BufferSedOn && b.MeniscusMismatch && ms.editMode != CursorEditMode::ReferenceMeniscus)
    DrawVerticalMarker(dc, window, col(MarkerValue(MarkerKind::ReferenceMeniscus)), kReferenceMeniscusColor);
  if (meniscusDrawn && fitRanges && !mStar) {
    for (float v : {fs.meniscusMax, fs.meniscusMin, fs.bottomMax, fs.bottomMin})
      if (v != 0) DrawLimitMarkers(dc, window, col(v), kFitRangeColor, 30);
  }
  if (mp.bottom != 0 && !dls) DrawVerticalMarker(dc, window, col(mp.bottom), kBottomColor);
  if (s.leftFitLimit != 0 && !mStar && ms.editMode != CursorEditMode::FitLimits)
    DrawVerticalMarker(dc, window, col(s.leftFitLimit), kFitLimitColor);
  if (s.rightFitLimit != 0 && !mStar) DrawVerticalMarker(dc, window, col(s.rightFitLimit), kFitLimitColor);
  if (ms.cursorLineShown) DrawCursorMarker(dc, window, col(ms.cursorRadius), false);
}

namespace {

bool OnMStarScreen() { return Road().mStarScreenShown && Road().mStarScreenShown(); }

bool Take(MarkerKind k) {
  std::uint8_t& flag = MarkerDrag().selected[static_cast<int>(k)];
  const bool was = flag != 0;
  flag = 0;
  return was;
}

// Marker lines drawn straight onto the window; a white copy erases one.
class Lines {
 public:
  explicit Lines(TXLAWindow& w) : w_(w) {}
  void Solid(float v, platform::COLORREF c) { DrawVerticalMarkerXor(w_, MarkerColumn(w_, v), c); }
  void Dashed(float v, platform::COLORREF c) { DrawLimitMarkersXor(w_, MarkerColumn(w_, v), c, 30); }
  // Erases the old line, sets the value and draws the new line.
  void Move(float& value, float to, platform::COLORREF c) {
    Solid(value, kMarkerWhite);
    value = to;
    Solid(value, c);
  }
  void MoveLimit(float& value, float to) {
    Dashed(value, kMarkerWhite);
    value = to;
    Dashed(value, kFitRangeColor);
  }

 private:
  TXLAWindow& w_;
};

// The meniscus upper limit stays left of the left fit limit.
void KeepMeniscusRangeLeftOfFit(Lines& lines) {
  const float left = CurrentScanSet().leftFitLimit;
  float& upper = gFitEngineState.meniscusMax;
  if (left > 0 && upper > 0 && left < upper) lines.MoveLimit(upper, left - 0.001f);
}

// The bottom lower limit stays right of the right fit limit.
void KeepBottomRangeRightOfFit(Lines& lines) {
  const float right = CurrentScanSet().rightFitLimit;
  float& lower = gFitEngineState.bottomMin;
  if (right > 0 && lower > 0 && lower < right) lines.MoveLimit(lower, right + 0.001f);
}

// A fit-range limit dropped at the cursor; dropped beyond its partner the
// two exchange values, so the range stays ordered.
void DropRangeLimit(Lines& lines, float& dropped, float& partner, bool droppedIsLower, float& cursor) {
  lines.Dashed(dropped, kMarkerWhite);
  dropped = cursor;
  if (droppedIsLower ? dropped > partner : dropped < partner) {
    lines.Dashed(partner, kMarkerWhite);
    std::swap(dropped, partner);
  }
  cursor = 0;
  lines.Dashed(dropped, kFitRangeColor);
  lines.Dashed(partner, kFitRangeColor);
}

// The fit limits before a fit-limit marker was dropped: those the drop
// moved (the partner too, when the two exchanged) become the user's own;
// the one left alone keeps its entry.
struct FitLimitsBefore {
  float left, right;
  void EnterTheMoved() const {
    const ScanSet& s = CurrentScanSet();
    if (s.leftFitLimit != left) EnterLeftFitLimit(s.leftFitLimit);
    if (s.rightFitLimit != right) EnterRightFitLimit(s.rightFitLimit);
  }
};

}  // namespace

void TXLAWindow::MoveMarkers(bool apply) {
  MarkerDisplaySettings& display = MarkerSettings();
  if (display.editMode != CursorEditMode::None) {
    MouseHooks().cursorEditKey(*this, apply ? 13 : 27);
    return;
  }
  MarkerDragState& d = MarkerDrag();
  PlotMouseHooks& hooks = MouseHooks();
  Lines lines(*this);
  ModelParams& mp = gModelParams;
  ScanSet& s = CurrentScanSet();
  FitEngineState& f = gFitEngineState;
  const bool mStar = OnMStarScreen();

  d.awaitingConfirmation = 0;
  if (d.dropX != 0) DrawVerticalMarkerXor(*this, d.dropX, kMarkerWhite);
  d.dropX = 0;
  display.cursorLineShown = false;
  if (hooks.deleteMarkerConfirmButtons) hooks.deleteMarkerConfirmButtons();

  if (!apply) {
    d.meniscusLimitsFollow = d.bottomLimitsFollow = 0;
    for (int k = 0; k < kMarkerCount; ++k) {
      if (!d.selected[k]) continue;
      d.selected[k] = 0;
      display.cursorRadius = 0;
      const auto kind = static_cast<MarkerKind>(k);
      const float v = MarkerValue(kind);
      switch (kind) {
        case MarkerKind::Meniscus: lines.Solid(v, kMeniscusColor); break;
        case MarkerKind::ReferenceMeniscus: lines.Solid(v, kReferenceMeniscusColor); break;
        case MarkerKind::Bottom: lines.Solid(v, kBottomColor); break;
        case MarkerKind::LeftFitLimit:
        case MarkerKind::RightFitLimit: lines.Solid(v, kFitLimitColor); break;
        default: lines.Dashed(v, kFitRangeColor); break;
      }
    }
    return;
  }

  float& cursor = display.cursorRadius;
  // Meniscus and bottom ask a second time whether their fit ranges follow.
  auto openSecondStage = [&](std::uint8_t& follow) {
    follow = 1;
    if (mStar) {
      MoveMarkers(true);
      // On the M* screen the ranges never follow: the question must not
      // outlive the edit and move fit ranges at a later, unrelated apply.
      d.meniscusLimitsFollow = d.bottomLimitsFollow = 0;
      if (hooks.refreshMStar) hooks.refreshMStar();
      return;
    }
    if (hooks.showMarkerConfirmButtons) hooks.showMarkerConfirmButtons(0, 0, true);
    d.awaitingConfirmation = 1;
  };

  if (Take(MarkerKind::Meniscus)) {
    d.shiftedUpper = cursor - (mp.meniscus - f.meniscusMax);
    d.shiftedLower = cursor - (mp.meniscus - f.meniscusMin);
    lines.Move(mp.meniscus, cursor, kMeniscusColor);
    cursor = 0;
    if (!mStar) {
      if (mp.meniscus < f.meniscusMin) {
        lines.MoveLimit(f.meniscusMin, mp.meniscus);
      } else if (mp.meniscus > f.meniscusMax) {
        lines.MoveLimit(f.meniscusMax, mp.meniscus + 0.002f);
      }
      if (s.leftFitLimit < mp.meniscus) lines.Move(s.leftFitLimit, mp.meniscus + 0.005f, kFitLimitColor);
      KeepMeniscusRangeLeftOfFit(lines);
    }
    openSecondStage(d.meniscusLimitsFollow);
  } else if (!mStar && d.meniscusLimitsFollow) {
    d.meniscusLimitsFollow = 0;
    lines.MoveLimit(f.meniscusMin, d.shiftedLower);
    lines.MoveLimit(f.meniscusMax, d.shiftedUpper);
    KeepMeniscusRangeLeftOfFit(lines);
  } else if (Take(MarkerKind::Bottom)) {
    d.shiftedUpper = cursor - (mp.bottom - f.bottomMax);
    d.shiftedLower = cursor - (mp.bottom - f.bottomMin);
    lines.Move(mp.bottom, cursor, kBottomColor);
    cursor = 0;
    if (!mStar) {
      if (mp.bottom < f.bottomMin) {
        lines.MoveLimit(f.bottomMin, mp.bottom);
      } else if (mp.bottom > f.bottomMax) {
        lines.MoveLimit(f.bottomMax, mp.bottom);
      }
      if (mp.bottom < s.rightFitLimit) lines.Move(s.rightFitLimit, mp.bottom, kFitLimitColor);
      KeepBottomRangeRightOfFit(lines);
    }
    openSecondStage(d.bottomLimitsFollow);
  } else if (!mStar && d.bottomLimitsFollow) {
    d.bottomLimitsFollow = 0;
    lines.MoveLimit(f.bottomMin, d.shiftedLower);
    lines.MoveLimit(f.bottomMax, d.shiftedUpper);
    KeepBottomRangeRightOfFit(lines);
  } else if (Take(MarkerKind::ReferenceMeniscus)) {
    lines.Solid(MarkerValue(MarkerKind::ReferenceMeniscus), kMarkerWhite);
    gBufferSedSettings.MeniscusDifference = static_cast<double>(mp.meniscus) - cursor;
    cursor = 0;
    lines.Solid(MarkerValue(MarkerKind::ReferenceMeniscus), kReferenceMeniscusColor);
  } else if (Take(MarkerKind::MeniscusMin)) {
    DropRangeLimit(lines, f.meniscusMin, f.meniscusMax, true, cursor);
    if (mp.meniscus < f.meniscusMin) lines.Move(mp.meniscus, f.meniscusMin, kMeniscusColor);
    KeepMeniscusRangeLeftOfFit(lines);
  } else if (Take(MarkerKind::MeniscusMax)) {
    DropRangeLimit(lines, f.meniscusMax, f.meniscusMin, false, cursor);
    if (mp.meniscus > f.meniscusMax) lines.Move(mp.meniscus, f.meniscusMax, kMeniscusColor);
    KeepMeniscusRangeLeftOfFit(lines);
  } else if (Take(MarkerKind::BottomMin)) {
    DropRangeLimit(lines, f.bottomMin, f.bottomMax, true, cursor);
    if (mp.bottom < f.bottomMin) lines.Move(mp.bottom, f.bottomMin, kBottomColor);
    KeepBottomRangeRightOfFit(lines);
  } else if (Take(MarkerKind::BottomMax)) {
    DropRangeLimit(lines, f.bottomMax, f.bottomMin, false, cursor);
    if (mp.bottom > f.bottomMax) lines.Move(mp.bottom, f.bottomMax, kBottomColor);
    KeepBottomRangeRightOfFit(lines);
  } else if (Take(MarkerKind::LeftFitLimit)) {
    const FitLimitsBefore before{s.leftFitLimit, s.rightFitLimit};
    lines.Move(s.leftFitLimit, cursor, kFitLimitColor);
    cursor = 0;
    if (s.rightFitLimit < s.leftFitLimit) std::swap(s.leftFitLimit, s.rightFitLimit);
    if (mp.meniscus > 0 && mp.meniscus > s.leftFitLimit) {
      lines.Move(s.leftFitLimit, mp.meniscus + 0.005f, kFitLimitColor);
    } else if (mp.bottom > 0 && s.rightFitLimit > mp.bottom) {
      lines.Move(s.rightFitLimit, mp.bottom - 0.005f, kFitLimitColor);
    }
    before.EnterTheMoved();
    if (!mStar) {
      KeepMeniscusRangeLeftOfFit(lines);
      KeepBottomRangeRightOfFit(lines);
      for (float v : {f.meniscusMin, f.meniscusMax, f.bottomMin, f.bottomMax}) lines.Dashed(v, kFitRangeColor);
    }
  } else if (Take(MarkerKind::RightFitLimit)) {
    const FitLimitsBefore before{s.leftFitLimit, s.rightFitLimit};
    lines.Move(s.rightFitLimit, cursor, kFitLimitColor);
    cursor = 0;
    if (s.rightFitLimit < s.leftFitLimit) std::swap(s.leftFitLimit, s.rightFitLimit);
    if (mp.meniscus > 0 && mp.meniscus > s.rightFitLimit) {
      lines.Move(s.rightFitLimit, mp.meniscus, kFitLimitColor);
    } else if (mp.bottom > 0 && s.rightFitLimit > mp.bottom) {
      lines.Move(s.rightFitLimit, mp.bottom, kFitLimitColor);
    }
    before.EnterTheMoved();
    if (!mStar) KeepBottomRangeRightOfFit(lines);
  }

  CheckLeftFitLimit();
  CheckRightFitLimit();
  PackModelParameters();
  if (mStar && hooks.refreshMStar) hooks.refreshMStar();
  s.dataChanged = 1;
}

namespace {

int ColumnOfPlotX(const TXLAWindow& window, int plotX) {
  return static_cast<int>(std::floor(static_cast<double>(plotX) * window.ClientWidthF / 1400.0));
}

// The neighbours that stop a sliding marker, in window x.
void SlideBounds(TXLAWindow& window, const CWINPlot& plot, int& left, int& right) {
  const MarkerDragState& d = MarkerDrag();
  auto at = [&](MarkerKind k) { return MarkerColumnIn(window, plot, MarkerValue(k)); };
  auto sel = [&](MarkerKind k) { return d.selected[static_cast<int>(k)] != 0; };
  const int edgeLeft = ColumnOfPlotX(window, plot.plotLeft), edgeRight = ColumnOfPlotX(window, plot.plotRight);
  using K = MarkerKind;
  left = edgeLeft;
  right = edgeRight;
  if (sel(K::Meniscus) || sel(K::ReferenceMeniscus)) {
    right = at(K::BottomMin);
  } else if (sel(K::Bottom)) {
    left = at(K::MeniscusMax);
  } else if (sel(K::LeftFitLimit)) {
    left = at(K::MeniscusMax), right = at(K::RightFitLimit);
  } else if (sel(K::RightFitLimit)) {
    left = at(K::LeftFitLimit), right = at(K::BottomMin);
  } else if (sel(K::MeniscusMin)) {
    right = at(K::MeniscusMax);
  } else if (sel(K::MeniscusMax)) {
    left = at(K::MeniscusMin), right = at(K::LeftFitLimit);
  } else if (sel(K::BottomMin)) {
    left = at(K::RightFitLimit), right = at(K::BottomMax);
  } else if (sel(K::BottomMax)) {
    left = at(K::BottomMin);
  }
}

}  // namespace

void TXLAWindow::ReleaseDraggedMarker() {
  MarkerDragState& d = MarkerDrag();
  PlotMouseHooks& hooks = MouseHooks();
  const CWINPlot* plot = MarkerPlot();
  if (!plot) return;
  if (d.dropX < ColumnOfPlotX(*this, plot->plotLeft) || d.dropX > ColumnOfPlotX(*this, plot->plotRight)) return;
  int left = 0, right = 0;
  SlideBounds(*this, *plot, left, right);
  std::vector<int> positions;
  std::vector<double> steps;
  if (MouseSliding().slidingOff || !hooks.mouseFlickContinue ||
      !hooks.mouseFlickContinue(left, right, d.dropX, positions, steps))
    return;
  d.flickEnded = 0;
  int key = 0;
  // Busy, the window queues keys for the playback instead of handling them
  // (which would move the markers in the middle of the slide).
  const bool wasBusy = frame_->Busy();
  frame_->SetBusy(true);
  for (std::size_t i = 1; i < positions.size() && i < steps.size(); ++i) {
    if (steps[i] == 0) continue;
    if (hooks.readKey && (key = hooks.readKey()) != 0) break;
    if (hooks.waitSeconds) hooks.waitSeconds(steps[i]);
    d.dropX = positions[i];
    MarkerSettings().cursorRadius = RadiusAtColumn(*this, d.dropX);
    DrawCursorMarkerXor(*this, d.dropX, true);
    frame_->FlushCanvas();
  }
  if (!wasBusy) {
    frame_->SetBusy(false);
    platform::ClearInput();
  }
  if (key == 13 || key == 9 || key == 27) {
    d.flickEnded = 1;
    MoveMarkers(key != 27);
  }
}

// Off, on with bouncing, on without bouncing, off again.
void TXLAWindow::CmToggleMouseSliding() {
  MouseSlidingFlags& f = MouseSliding();
  const char* text;
  if (f.slidingOff) {
    text = "switching on mouse sliding";
    f.slidingOff = 0;
  } else if (f.bouncing) {
    text = "toggling mouse bouncing";
    f.bouncing = 0;
  } else {
    text = "switching off mouse sliding";
    f.bouncing = 1, f.slidingOff = 1;
  }
  platform::Tell("MOUSE SLIDING", text);
}
