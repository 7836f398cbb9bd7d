#include "app/wiring/screen_button_wiring.h"

#include <utility>

#include "app/plot_input/marker_confirm.h"
#include "app/plot_input/marker_moves.h"
#include "app/screens/mstar_screen.h"
#include "app/commands/distribution/distribution_commands.h"
#include "app/commands/distribution/peak_labels.h"
#include "app/plot_input/point_edit.h"
#include "app/plot_input/pointer_hit_tests.h"
#include "app/window/road_services.h"
#include "app/plot_input/screen_buttons.h"
#include "app/window/txla_window.h"
#include "data/load_hooks.h"
#include "platform/error_box.h"
#include "plot/plot_window_set.h"

namespace {

TXLAWindow*& Window() {
  static TXLAWindow* window = nullptr;
  return window;
}

template <typename F, typename G>
void FillIfEmpty(F& hook, G&& implementation) {
  if (!hook) hook = std::forward<G>(implementation);
}

// Everything but the noise and range buttons ends the press when hit.
bool PressScreenButtons(float bx, float by) {
  TXLAWindow* w = Window();
  if (!w) return false;
  if (MStarScreenClick(*w, bx, by)) return true;
  if (PressPeakLabels(*w, bx, by)) return true;
  if (PressPointEditButtons(*w, bx, by)) return true;
  if (PressMarkerConfirmButtons(*w, bx, by)) return true;
  PressNoiseAndRangeButtons(*w, bx, by);
  return false;
}

void PaintScreenButtons() {
  TXLAWindow* w = Window();
  if (!w) return;
  PaintNoiseAndRangeButtons(*w);
  PaintMarkerConfirmButtons(*w);
  PaintPointEditButtons(*w);
  PaintPeakLabels(*w);
  // The label follows the pointer; the next move brings it back.
  ScanNameLabel() = ScanNameHover{};
}

}  // namespace

void ConnectOnPlotButtons(TXLAWindow& window) {
  Window() = &window;
  PlotMouseHooks& mouse = MouseHooks();
  FillIfEmpty(mouse.pressScreenButtons, PressScreenButtons);
  FillIfEmpty(mouse.showMarkerConfirmButtons, [](int x, int y, bool limits) {
    if (Window()) ShowMarkerConfirmButtons(*Window(), x, y, limits);
  });
  FillIfEmpty(mouse.noiseOrIntegrateButtonAt, NoiseOrRangeButtonAt);
  FillIfEmpty(ButtonActions().clickIntegrate, ClickIntegrateButton);
  FillIfEmpty(mouse.deleteMarkerConfirmButtons, [] { DeleteMarkerConfirmButtons(Window()); });
  FillIfEmpty(mouse.pressPointEditCancel, [] { return Window() && CancelPointEdit(*Window()); });
  FillIfEmpty(mouse.showPointEditButtons, [](int x, int y, int i) {
    const int point = FoundDataPoint() > 0 ? FoundDataPoint() : FoundResidualPoint();
    if (Window()) ShowPointEditButtons(*Window(), x, y, i, point);
  });
  FillIfEmpty(mouse.showScanNameButton, [](int i, int x, int y) {
    if (Window()) ShowScanNameButton(*Window(), i, x, y);
  });
  FillIfEmpty(mouse.deleteScanNameButton, [] {
    if (Window()) DeleteScanNameButton(*Window());
  });
  // A key pressed while a released marker slides stops it there.
  FillIfEmpty(mouse.readKey, [] {
    int c = 0;
    return ReadKey(&c) ? c : 0;
  });
  FillIfEmpty(mouse.cursorEditKey, [](TXLAWindow& w, int key) { w.EvChar(key, 1, 0); });
  Road().paintScreenButtons = PaintScreenButtons;

  LoadHooks& load = CurrentLoadHooks();
  load.createNoiseButtons = [] { CreateNoiseButtons(nullptr); };
  load.removeNoiseButtons = [] { RemoveNoiseButtons(nullptr); };
  load.animateNoiseButton = [] {
    if (Window()) AnimateRemoveNoiseButton(*Window());
  };

  PlotWindowHooks& plot = PlotHooks();
  plot.createIntegrateButton = [] {
    if (Window()) CreateIntegrateButton(CurrentButtonLayout(*Window()));
  };
  // The labels go with the distribution they were put on.
  plot.deleteIntegrateButton = [] {
    DeleteIntegrateButton();
    if (Window() && PeakLabels().count > 0) DeletePeakLabels(*Window());
  };
}

void DisconnectOnPlotButtons() {
  TXLAWindow* w = Window();
  Window() = nullptr;
  Road().paintScreenButtons = nullptr;
  PlotHooks().createIntegrateButton = nullptr;
  PlotHooks().deleteIntegrateButton = nullptr;
  DeleteIntegrateButton();
  RemoveNoiseButtons(nullptr);
  DeleteMarkerConfirmButtons(nullptr);
  PointEdit() = PointEditState{};
  ScanNameLabel() = ScanNameHover{};
  if (w && PeakLabels().count > 0) DeletePeakLabels(*w);
}
