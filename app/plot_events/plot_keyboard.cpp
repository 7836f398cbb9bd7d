// Keys over the plots of the main window: the arrows nudge the radial
// cursor, Escape drops what is being edited on the plots, Enter and Tab
// apply it.
#include <cmath>
#include <cstring>
#include <utility>

#include "app/commands/equilibrium/eqtools_commands.h"
#include "app/screens/eq_test_screen.h"
#include "app/commands/distribution/distribution_commands.h"
#include "app/commands/run_fit/fit_limits.h"
#include "app/plot_input/marker_moves.h"
#include "app/plot_input/markers.h"
#include "app/commands/equilibrium/mstar_commands.h"
#include "app/commands/model/nonideal_cs_commands.h"
#include "app/commands/distribution/peak_labels.h"
#include "app/plot_events/plot_mouse.h"
#include "app/window/road_services.h"
#include "app/window/txla_window.h"
#include "data/data_messages.h"
#include "data/realtime_update.h"
#include "data/scan_grid.h"
#include "data/scan_set.h"
#include "distributions/analysis/extrapolation_plot.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "models/buffer/buffer_sed_settings.h"
#include "platform/draw_surface.h"
#include "platform/frame_window.h"
#include "platform/input_events.h"

namespace {

constexpr int kEscape = 0x1B, kEnter = 0x0D, kTab = 0x09;
constexpr int kLeftArrow = 0x25, kRightArrow = 0x27;

bool Busy(const TXLAWindow& w) {
  if (!w.RunBusy && !w.FitBusy) return false;
  platform::RequestStopByUser();
  return true;
}

// What an Enter may change, held before the key so the redraw compares with it.
struct MarkerValues {
  float meniscus, bottom, meniscusMin, meniscusMax, bottomMin, bottomMax, left, right;
  static MarkerValues Now() {
    const FitEngineState& f = gFitEngineState;
    const ScanSet& s = CurrentScanSet();
    return {gModelParams.meniscus, gModelParams.bottom, f.meniscusMin, f.meniscusMax, f.bottomMin,
            f.bottomMax, s.leftFitLimit, s.rightFitLimit};
  }
};

bool Ask(TXLAWindow& w, const char* text) {
  w.DialogOpen = true;
  const bool yes = data_messages::AskYesNo("", text);
  w.DialogOpen = false;
  return yes;
}

void DropCursor() {
  MarkerDisplaySettings& m = MarkerSettings();
  m.cursorLineShown = false;
  m.cursorRadius = 0;
}

// Smallest first and largest last radius over the scans.
void DataSpan(float& rmin, float& rmax) {
  const ScanSet& s = CurrentScanSet();
  rmin = 1000.0f;
  rmax = 0;
  for (int i = 1; i <= s.count; ++i) {
    if (i >= static_cast<int>(s.radii.size()) || !s.radii[i] || s.points[i] < 1) continue;
    rmin = std::fmin(rmin, s.radii[i][1]);
    rmax = std::fmax(rmax, s.radii[i][s.points[i]]);
  }
}

void KeepLimitLeftOf(TXLAWindow& w, float& limit, float to) {
  DrawLimitMarkersXor(w, MarkerColumn(w, limit), kMarkerWhite, 30);
  limit = to;
  DrawLimitMarkersXor(w, MarkerColumn(w, limit), kFitRangeColor, 30);
}

// False when both questions were answered No: nothing is to change.
bool ApplyMeniscusOrBottom(TXLAWindow& w, float r) {
  ModelParams& mp = gModelParams;
  FitEngineState& f = gFitEngineState;
  ScanSet& s = CurrentScanSet();
  s.meniscusOrBottomChanged = 1;
  float rmin = 0, rmax = 0;
  DataSpan(rmin, rmax);
  bool done = true;
  if (mp.meniscus == 0) {
    mp.meniscus = r;
  } else if (mp.bottom == 0) {
    mp.bottom = r;
  } else {
    done = false;
  }
  auto askBoth = [&](bool bottomFirst) {
    const char* first = bottomFirst ? "set bottom?" : "set meniscus?";
    const char* second = bottomFirst ? "set meniscus?" : "set bottom?";
    float& firstValue = bottomFirst ? mp.bottom : mp.meniscus;
    float& secondValue = bottomFirst ? mp.meniscus : mp.bottom;
    if (Ask(w, first)) {
      firstValue = r;
    } else if (Ask(w, second)) {
      secondValue = r;
    } else {
      return false;
    }
    done = true;
    return true;
  };
  if (!done && rmax < mp.bottom && rmax - r < r - rmin && !askBoth(true)) return false;
  if (!done && mp.meniscus < rmin && r - rmin < rmax - r && !askBoth(false)) return false;
  if (!done) (r - mp.meniscus <= mp.bottom - r ? mp.meniscus : mp.bottom) = r;
  if (mp.meniscus > mp.bottom) std::swap(mp.meniscus, mp.bottom);
  PackModelParameters();
  if (s.leftFitLimit > 0 && f.meniscusMax > 0 && s.leftFitLimit < f.meniscusMax)
    KeepLimitLeftOf(w, f.meniscusMax, s.leftFitLimit - 0.001f);
  if (s.rightFitLimit > 0 && f.bottomMin > 0 && f.bottomMin < s.rightFitLimit)
    KeepLimitLeftOf(w, f.bottomMin, s.rightFitLimit + 0.001f);
  SetDefaultMeniscusBottomLimits();
  return true;
}

void ApplyFitLimit(TXLAWindow& w, float r) {
  const ModelParams& mp = gModelParams;
  FitEngineState& f = gFitEngineState;
  ScanSet& s = CurrentScanSet();
  float& left = s.leftFitLimit;
  float& right = s.rightFitLimit;
  const float leftBefore = left, rightBefore = right;
  if (left == 0) {
    left = r;
  } else if (right == 0) {
    right = r;
  } else if ((mp.meniscus != 0 && mp.bottom != 0) || CurrentDataTypeFlags().dls) {
    (std::fabs(right - r) < std::fabs(r - left) ? right : left) = r;
  } else {
    left = r;
  }
  if (s.count > 0 && right == 0) {
    float rmin = 0, rmax = 0;
    DataSpan(rmin, rmax);
    right = r - mp.meniscus <= mp.bottom - r ? rmax : s.radii[1][1];
  }
  if (right < left) std::swap(left, right);
  if (left <= mp.meniscus && mp.meniscus > 0) left = mp.meniscus + 0.01f;
  if (mp.bottom <= right && mp.bottom > 0) right = mp.bottom - 0.01f;
  // The limits the key moved are the user's own from now on.
  if (left != leftBefore) EnterLeftFitLimit(left);
  if (right != rightBefore) EnterRightFitLimit(right);
  const bool mStar = MStarScreenShown();
  if (!mStar) {
    if (left > 0 && f.meniscusMax > 0 && left < f.meniscusMax)
      KeepLimitLeftOf(w, f.meniscusMax, std::fmax(left - 0.001f, mp.meniscus + 0.0001f));
    if (right > 0 && f.bottomMin > 0 && f.bottomMin < right)
      KeepLimitLeftOf(w, f.bottomMin, std::fmin(right + 0.001f, mp.bottom - 0.0001f));
  }
  CheckLeftFitLimit();
  CheckRightFitLimit();
  if (mStar && MouseHooks().refreshMStar) MouseHooks().refreshMStar();
}

// The markers after an Enter; a value this key changed is erased where it was.
void RedrawAfterEnter(TXLAWindow& w, const MarkerValues& old) {
  const MarkerValues now = MarkerValues::Now();
  auto solid = [&](float was, float is, platform::COLORREF colour) {
    if (is == 0) return;
    if (was != is) DrawVerticalMarkerXor(w, MarkerColumn(w, was), kMarkerWhite);
    DrawVerticalMarkerXor(w, MarkerColumn(w, is), colour);
  };
  solid(old.meniscus, now.meniscus, kMeniscusColor);
  if (now.meniscus != 0 && gBufferSedSettings.BufferSedOn && gBufferSedSettings.MeniscusMismatch)
    DrawVerticalMarkerXor(w, MarkerColumn(w, MarkerValue(MarkerKind::ReferenceMeniscus)), kReferenceMeniscusColor);
  solid(old.bottom, now.bottom, kBottomColor);
  // Comparing with the values held before the key: a fit-limit edit keeps
  // the user's meniscus and bottom ranges.
  if (old.meniscus != now.meniscus || old.bottom != now.bottom) SetDefaultMeniscusBottomLimits();
  solid(old.left, now.left, kFitLimitColor);
  solid(old.right, now.right, kFitLimitColor);
  if (MStarScreenShown()) return;
  const MarkerValues limits = MarkerValues::Now();
  const std::pair<float, float> ranges[] = {{old.meniscusMin, limits.meniscusMin},
                                            {old.meniscusMax, limits.meniscusMax},
                                            {old.bottomMin, limits.bottomMin},
                                            {old.bottomMax, limits.bottomMax}};
  for (const auto& [was, is] : ranges) {
    if (was == is) continue;
    DrawLimitMarkersXor(w, MarkerColumn(w, was), kMarkerWhite, 30);
    DrawLimitMarkersXor(w, MarkerColumn(w, is), kFitRangeColor, 30);
  }
}

void ClearMarkerSelections() {
  MarkerDragState& d = MarkerDrag();
  d.awaitingConfirmation = 0;
  if (MouseHooks().deleteMarkerConfirmButtons) MouseHooks().deleteMarkerConfirmButtons();
  for (MarkerKind k : {MarkerKind::Meniscus, MarkerKind::ReferenceMeniscus, MarkerKind::LeftFitLimit})
    d.selected[static_cast<int>(k)] = 0;
}

}  // namespace

void TXLAWindow::EvKeyDown(int key, int repeatCount, unsigned flags) {
  if (Busy(*this)) return;
  const PlotMouseHooks& hooks = MouseHooks();
  if (hooks.pointerModeKeyDown && hooks.pointerModeKeyDown(key, repeatCount, flags)) return;
  platform::InterruptRequest() = true;
  // A key also asks the real-time update to look into the data folder now.
  const RealtimeState& rt = CurrentRealtimeState();
  if (rt.running) EvTimer(static_cast<int>(rt.timerId));
  MarkerDisplaySettings& m = MarkerSettings();
  if (!MarkerPlot() || !m.cursorLineShown || (key != kLeftArrow && key != kRightArrow)) return;
  m.cursorRadius += key == kLeftArrow ? -0.0003f : 0.0003f;
  DrawCursorMarkerXor(*this, MarkerColumn(*this, m.cursorRadius), true);
  ShowCursorRadiusReadout(*this, m.cursorRadius);
}

void TXLAWindow::EvChar(int key, int, unsigned) {
  if (Busy(*this)) return;
  if (EndCtotDisplay(*this)) return;
  if (Road().otherScreenShown && Road().otherScreenShown()) platform::RequestRepaint();
  if (!MarkerPlot()) return;
  MarkerDisplaySettings& m = MarkerSettings();
  MarkerDragState& d = MarkerDrag();
  const PlotMouseHooks& hooks = MouseHooks();
  // Any character withdraws the point-edit offer of a point readout.
  if (hooks.pressPointEditCancel) hooks.pressPointEditCancel();
  if (key == kEscape) {
    if (hooks.pointerModeEnd && hooks.pointerModeEnd()) return;
    if (MStarScreenShown()) {
      ResetMStarAnalysis(*this);
      // An open limits question of the M* screen must not move fit ranges
      // at a later, unrelated apply.
      d.meniscusLimitsFollow = d.bottomLimitsFollow = 0;
    }
    if (PeakLabels().count > 0) DeletePeakLabels(*this);
    if (d.awaitingConfirmation && m.editMode == CursorEditMode::None) {
      MoveMarkers(false);
      return;
    }
    if (EqTestModeOn()) {
      ExitEqTestMode(*this);
      platform::RequestRepaint();
    }
    if (m.cursorLineShown) {
      ClearMarkerSelections();
      DropCursor();
      m.editMode = CursorEditMode::None;
      CursorColumn() = 0;
      RangeSelection().forIntegration = RangeSelection().forRescaling = false;
      platform::RequestRepaint();
    }
    RangeSelectionState& selection = RangeSelection();
    if (selection.active) {
      selection.active = selection.forIntegration = selection.forRescaling = false;
      ReleaseIntegrateButton(*this);
    }
    if (ExtrapolationPlot().shown) {
      FreeLsgsArrays();
      platform::RequestRepaint();
    }
    frame_->SetCursor(platform::CursorKind::Arrow);
    return;
  }
  if (key != kEnter && key != kTab) return;
  if (d.awaitingConfirmation && m.editMode == CursorEditMode::None) {
    MoveMarkers(true);
    return;
  }
  ClearMarkerSelections();
  if (hooks.pointerModeFinish && hooks.pointerModeFinish()) return;
  const MarkerValues old = MarkerValues::Now();
  if (m.cursorLineShown) {
    const float r = m.cursorRadius;
    const CursorEditMode mode = std::exchange(m.editMode, CursorEditMode::None);
    if (mode == CursorEditMode::MeniscusOrBottom && !ApplyMeniscusOrBottom(*this, r)) {
      DropCursor();
      platform::RequestRepaint();
      return;
    }
    if (mode == CursorEditMode::ReferenceMeniscus)
      gBufferSedSettings.MeniscusDifference = static_cast<double>(gModelParams.meniscus) - r;
    if (mode == CursorEditMode::FitLimits) ApplyFitLimit(*this, r);
    DropCursor();
    // The inverted cursor line goes with the next paint.
    CursorColumn() = 0;
    platform::RequestRepaint();
  }
  RedrawAfterEnter(*this, old);
  const MarkerValues now = MarkerValues::Now();
  if (std::memcmp(&old, &now, sizeof old) != 0) CurrentScanSet().dataChanged = 1;
}
