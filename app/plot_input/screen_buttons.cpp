#include "app/plot_input/screen_buttons.h"

#include <cstring>

#include "app/window/main_window_flags.h"
#include "app/window/txla_window.h"
#include "app/window/window_services.h"
#include "data/noise_subtraction.h"
#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "platform/error_box.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"
#include "plot/screen_button.h"
#include "platform/draw_surface.h"

namespace {

constexpr const char* kRemoveCaption = "remove TI and RI";
constexpr const char* kRestoreCaption = "restore TI noise";

std::unique_ptr<CScreenButton> MakeButton(const ButtonRect& r, const char* off, const char* on, int kind) {
  auto b = std::make_unique<CScreenButton>();
  b->kind = kind;
  b->SetRect(r.top, r.left, r.bottom, r.right);
  b->SetText(off, static_cast<int>(std::strlen(off)), on, static_cast<int>(std::strlen(on)));
  b->onFaceColor = kTransientButtonColor;
  b->FitCaption();
  b->Redraw();
  return b;
}

// Pressed for 0.1 s and released again, for the push buttons.
void PushLook(TXLAWindow& w, CScreenButton& b) {
  b.ToggleState();
  ShowPressed(w, b);
  b.ToggleState();
  PaintButton(w, b);
}

}  // namespace

float RecordedClientWidth(const TXLAWindow& w) { return w.ClientWidthF > 0 ? w.ClientWidthF : 1400.0f; }
float RecordedClientHeight(const TXLAWindow& w) { return w.ClientHeightF > 0 ? w.ClientHeightF : 1000.0f; }

float LogicalX(const TXLAWindow& w, int px) {
  return w.ClientWidthF > 0 ? static_cast<float>(px * 1400.0 / w.ClientWidthF) : 0.0f;
}
float LogicalY(const TXLAWindow& w, int py) {
  return w.ClientHeightF > 0 ? static_cast<float>(py * 1000.0 / w.ClientHeightF) : 0.0f;
}

ButtonLayout CurrentButtonLayout(const TXLAWindow& w) {
  ButtonLayout l;
  l.W = RecordedClientWidth(w);
  l.H = RecordedClientHeight(w);
  const PlotWindowSet& p = CurrentPlotWindows();
  l.Xr = static_cast<float>(p.layoutRight);
  l.Ytop = static_cast<float>(p.dataTop);
  if (const CWINPlot* d = Conti().distributionPlot) l.T = static_cast<float>(d->plotTop);
  return l;
}

void NoiseButtonRects(const ButtonLayout& l, ButtonRect& remove, ButtonRect& restore) {
  const float h = 18 * l.H / 1000;
  const float w = 3 * static_cast<float>(std::strlen(kRemoveCaption)) * l.W / 1400 + 60;
  const float R = 1.4f * l.Xr - 10;
  remove = {(l.Ytop - 1) - 2 * h, R - w, (l.Ytop - 2) - h, R};
  restore = {(l.Ytop - 1) - h, R - w, l.Ytop - 2, R};
}

ButtonRect IntegrateButtonRect(const ButtonLayout& l) {
  const float h = 18 * l.H / 1000 + 10;
  const float w = 30 * l.W / 1400 + 50;
  const float R = 1.4f * l.Xr - 10;
  return {(l.T - 1) - h, R - w, l.T - 2, R};
}

std::unique_ptr<CScreenButton> MakeTransientButton(const ButtonRect& r, const char* caption) {
  return MakeButton(r, caption, caption, 2);
}

void PaintButton(TXLAWindow& w, CScreenButton& b) {
  platform::DrawSurface* surface = w.Frame().Surface();
  if (!surface) return;
  b.Paint(*surface);
  w.Frame().FlushCanvas();
}

void ShowPressed(TXLAWindow& w, CScreenButton& b) {
  PaintButton(w, b);
  WaitSeconds(0.1f);
}

NoiseAndRangeButtons::NoiseAndRangeButtons() = default;
NoiseAndRangeButtons::~NoiseAndRangeButtons() = default;

ScreenButtonActions& ButtonActions() {
  static ScreenButtonActions actions;
  return actions;
}

NoiseAndRangeButtons& NoiseAndRange() {
  static NoiseAndRangeButtons slots;
  return slots;
}

void CreateNoiseButtons(TXLAWindow* window) {
  NoiseAndRangeButtons& s = NoiseAndRange();
  ButtonLayout layout;
  if (window) layout = CurrentButtonLayout(*window);
  else {
    const PlotWindowSet& p = CurrentPlotWindows();
    layout.W = static_cast<float>(WindowFlags().ClientWidth > 0 ? WindowFlags().ClientWidth : 1400);
    layout.H = static_cast<float>(WindowFlags().ClientHeight > 0 ? WindowFlags().ClientHeight : 1000);
    layout.Xr = static_cast<float>(p.layoutRight);
    layout.Ytop = static_cast<float>(p.dataTop);
  }
  ButtonRect remove, restore;
  NoiseButtonRects(layout, remove, restore);
  if (!s.RemoveNoiseButton) s.RemoveNoiseButton = MakeButton(remove, kRemoveCaption, kRemoveCaption, 1);
  if (!s.RestoreTINoiseButton) s.RestoreTINoiseButton = MakeButton(restore, kRestoreCaption, kRestoreCaption, 1);
  if (window) RequestRepaint(*window);
}

void RemoveNoiseButtons(TXLAWindow* window) {
  NoiseAndRangeButtons& s = NoiseAndRange();
  s.RemoveNoiseButton.reset();
  s.RestoreTINoiseButton.reset();
  if (window) RequestRepaint(*window);
}

void ClickRemoveNoiseButton(TXLAWindow& window) {
  if (CurrentScanSet().count < 1 || !gModelParams.riNoiseFit || RunState().RealtimeUpdateRunning) return;
  SubtractAllSystematicNoise();
  RequestRepaint(window);
}

void ClickRestoreTINoiseButton(TXLAWindow& window) {
  if (CurrentScanSet().count < 1 || !gFitEngineState.fitTINoise) return;
  RestoreTINoise();
  RequestRepaint(window);
}

void CreateIntegrateButton(const ButtonLayout& layout) {
  NoiseAndRangeButtons& s = NoiseAndRange();
  if (!s.IntegrateButton) s.IntegrateButton = MakeButton(IntegrateButtonRect(layout), "integrate", "select range", 2);
}

void DeleteIntegrateButton() { NoiseAndRange().IntegrateButton.reset(); }

void ToggleIntegrateButton(TXLAWindow&) {
  if (CScreenButton* b = NoiseAndRange().IntegrateButton.get()) b->ToggleState();
}

void AnimateRemoveNoiseButton(TXLAWindow& window) {
  if (CScreenButton* b = NoiseAndRange().RemoveNoiseButton.get()) PushLook(window, *b);
}

bool PressNoiseAndRangeButtons(TXLAWindow& window, float bx, float by) {
  NoiseAndRangeButtons& s = NoiseAndRange();
  // Click flips a toggle button as it tests it, so every test runs first.
  const bool remove = s.RemoveNoiseButton && s.RemoveNoiseButton->Click(bx, by);
  const bool restore = s.RestoreTINoiseButton && s.RestoreTINoiseButton->Click(bx, by);
  const bool integrate = s.IntegrateButton && s.IntegrateButton->Click(bx, by);
  if (remove) {
    PushLook(window, *s.RemoveNoiseButton);
    ClickRemoveNoiseButton(window);
  }
  if (restore && s.RestoreTINoiseButton) {
    PushLook(window, *s.RestoreTINoiseButton);
    ClickRestoreTINoiseButton(window);
  }
  if (integrate && s.IntegrateButton) {
    // The hit test has flipped it: "select range" while a range is drawn.
    PaintButton(window, *s.IntegrateButton);
    ButtonActions().clickIntegrate(window);
  }
  return remove || restore || integrate;
}

bool NoiseOrRangeButtonAt(float bx, float by) {
  NoiseAndRangeButtons& s = NoiseAndRange();
  for (CScreenButton* b : {s.RemoveNoiseButton.get(), s.RestoreTINoiseButton.get(), s.IntegrateButton.get()}) {
    if (!b || !b->Click(bx, by)) continue;
    // Only asked, not pressed: a toggle goes back to its state.
    if (b->kind == 2) b->ToggleState();
    return true;
  }
  return false;
}

void PaintNoiseAndRangeButtons(TXLAWindow& window) {
  NoiseAndRangeButtons& s = NoiseAndRange();
  for (CScreenButton* b : {s.RemoveNoiseButton.get(), s.RestoreTINoiseButton.get(), s.IntegrateButton.get()})
    if (b) PaintButton(window, *b);
}
