// Double clicks on the plots of the main window: the left one places the
// radial cursor that the arrow keys nudge and Enter turns into a marker;
// the right one steps the data plot's zoom back, shows the whole
// distribution, or (with Ctrl) labels the distribution with the molar mass
// under the pointer.
#include <cmath>
#include <cstdio>

#include "plot/text_in_place.h"
#include "app/plot_input/marker_moves.h"
#include "app/plot_input/markers.h"
#include "app/plot_events/plot_mouse.h"
#include "app/plot_input/pointer_hit_tests.h"
#include "app/window/road_services.h"
#include "app/window/shell_services.h"
#include "app/window/window_services.h"
#include "app/window/txla_window.h"
#include "distributions/conti_settings.h"
#include "distributions/hydrodynamics.h"
#include "distributions/model_molar_mass.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "plot/cwinplot.h"
#include "platform/draw_surface.h"
#include "platform/frame_window.h"
#include "platform/input_events.h"
#include "platform/window_messages.h"

namespace {

constexpr unsigned kLeftCtrl = platform::MK_LBUTTON | platform::MK_CONTROL;
constexpr unsigned kLeftShift = platform::MK_LBUTTON | platform::MK_SHIFT;
constexpr unsigned kRightCtrl = platform::MK_RBUTTON | platform::MK_CONTROL;

// The c(s) models whose distribution can be read as molar masses.
bool MolarMassModelChosen() {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  return m.CSModel || m.CSWithMsTableModel || m.CSWith1DiscreteModel || m.CSWith1DiscreteComponent ||
         m.ConformationalChangeCSModel || m.AnyBimodalCsModel() ||
         m.FixFF0FloatingVbarCSModel || m.GeneralScalingLawCSModel || m.WormlikeChainCSModel ||
         m.CSInvariantDModel || m.HybridCSLsgModel;
}

void WriteText(TXLAWindow& w, int x, int y, const char* text) {
  if (platform::DrawSurface* surface = w.Frame().Surface())
    DrawReportTextInPlace(*surface, *surface->ClientDC(), x, y, text);
}

}  // namespace

std::string MolarMassLabelText(float M, float sphereM) {
  struct Band {
    double above, scale;
    const char* format;
  };
  static constexpr Band kBands[] = {
      {1e7, 1e-6, "|Mf=%.1f (>%.1f) MDa"}, {1e6, 1e-6, "|Mf=%.2f (>%.2f) MDa"},
      {1e5, 1e-3, "|Mf=%.0f (>%.0f) kDa"}, {1e4, 1e-3, "|Mf=%.1f (>%.1f) kDa"},
      {1000, 1e-3, "|Mf=%.2f (>%.2f) kDa"}, {100, 1, "|Mf=%.0f (>%.0f) Da"},
  };
  const Band* band = nullptr;
  for (const Band& b : kBands)
    if (M > b.above) {
      band = &b;
      break;
    }
  const double scale = band ? band->scale : 1;
  char text[64];
  std::snprintf(text, sizeof text, band ? band->format : "|Mf=%.1f (>%.1f) Da", M * scale, sphereM * scale);
  return text;
}

void TXLAWindow::EvLButtonDblClk(unsigned keys, int x, int y) {
  if (PressBlocked(*this)) return;
  const PlotMouseHooks& hooks = MouseHooks();
  if (hooks.pointerModeLButtonDblClk && hooks.pointerModeLButtonDblClk(x, y)) return;
  const int width = frame_->ClientWidth(), height = frame_->ClientHeight();
  MarkerDragState& d = MarkerDrag();
  MarkerDisplaySettings& m = MarkerSettings();
  if (d.dragging) return;
  if (d.awaitingConfirmation && d.meniscusLimitsFollow) MoveMarkers(false);
  if (d.awaitingConfirmation) {
    // A second double click while the edit waits only moves the cursor.
    DrawCursorMarkerXor(*this, x, true);
    d.dropX = x;
    m.cursorRadius = RadiusAtColumn(*this, x);
    return;
  }
  if (hooks.noiseOrIntegrateButtonAt && width > 0 && height > 0 &&
      hooks.noiseOrIntegrateButtonAt(std::floor(1000.0f * x / width), std::floor(1000.0f * y / height))) {
    EvLButtonDown(keys, x, y);
    return;
  }
  if (!MarkerPlot()) return;
  const bool hadRadius = m.cursorRadius != 0;
  m.cursorRadius = RadiusAtColumn(*this, x);
  DrawCursorMarkerXor(*this, x, hadRadius);
  m.cursorLineShown = true;
  MarkerKind marker = MarkerKind::LeftFitLimit;
  m.editMode = CursorEditMode::FitLimits;
  if (keys == kLeftCtrl) {
    m.editMode = CursorEditMode::MeniscusOrBottom;
    marker = MarkerKind::Meniscus;
  } else if (keys == kLeftShift) {
    marker = MarkerKind::ReferenceMeniscus;
    // A reference meniscus is measured from the meniscus, so it needs one.
    m.editMode = gModelParams.meniscus != 0 ? CursorEditMode::ReferenceMeniscus : CursorEditMode::None;
    if (gModelParams.meniscus == 0) m.cursorLineShown = false;
  }
  d.selected[static_cast<int>(marker)] = 1;
  ShowCursorRadiusReadout(*this, m.cursorRadius);
  d.awaitingConfirmation = 1;
  if (hooks.showMarkerConfirmButtons) hooks.showMarkerConfirmButtons(x, y, false);
}

void TXLAWindow::EvRButtonDblClk(unsigned keys, int x, int y) {
  if (PressBlocked(*this)) return;
  const PlotMouseHooks& hooks = MouseHooks();
  if (hooks.pointerModeRButtonDblClk && hooks.pointerModeRButtonDblClk(x, y)) return;
  CWINPlot* plot = MarkerPlot();
  MarkerDragState& d = MarkerDrag();
  if (!plot || d.dragging) return;
  ZoomBand& band = CurrentZoomBand();
  band.dataZoom = band.distributionSelection = 0;
  if (d.awaitingConfirmation && d.meniscusLimitsFollow) MoveMarkers(false);
  if (!HitTestDistributionPoint(*this, x, y)) {
    RangeHistoryRecord& h = RangeHistory;
    if (h.depth <= 0) {
      h.depth = 0;
      CallService(Services().playSoundOk);
      return;
    }
    const auto i = static_cast<std::size_t>(--h.depth);
    if (h.depth == 0) {
      plot->RescaleAll();
    } else if (band.zoomed) {
      plot->SetRanges(h.xMin[i], h.xMax[i], h.yMin[i], h.yMax[i]);
    } else {
      plot->SetXRangeAutoY(h.xMin[i], h.xMax[i]);
    }
    plot->Plot();
    if (d.awaitingConfirmation) d.dropX = MarkerColumn(*this, MarkerSettings().cursorRadius);
    platform::RequestRepaint();
    return;
  }
  if (keys == kRightCtrl && MolarMassModelChosen()) {
    const float s = PlotDataX(*this, *Conti().distributionPlot, x);
    // Left of zero there is no species to name.
    if (s <= 0) return;
    WriteText(*this, x, y, MolarMassLabelText(MolarMassUnderModel(s), CalculateMff02(s, 1.0f)).c_str());
    return;
  }
  CmFullscaleDistributionPlot();
  platform::RequestRepaint();
}
