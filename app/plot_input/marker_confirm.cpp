#include "app/plot_input/marker_confirm.h"

#include "app/window/road_services.h"
#include "app/plot_input/screen_buttons.h"
#include "app/window/txla_window.h"
#include "app/window/window_services.h"
#include "plot/screen_button.h"

MarkerConfirmState::MarkerConfirmState() = default;
MarkerConfirmState::~MarkerConfirmState() = default;

MarkerConfirmState& MarkerConfirm() {
  static MarkerConfirmState state;
  return state;
}

void ShowMarkerConfirmButtons(TXLAWindow& window, int x, int y, bool askFitLimits) {
  MarkerConfirmState& s = MarkerConfirm();
  if (askFitLimits) {
    x = s.anchorX;
    y = s.anchorY;
  }
  constexpr double L = 21;  // "move fit limits, too?"
  const double W = RecordedClientWidth(window), H = RecordedClientHeight(window);
  const double h = 18 * H / 1000;
  const double w = askFitLimits ? 6 * L * W / 1400 + 5 : 2.5 * L * W / 1400 + 5;
  const bool right = LogicalX(window, x) < 1250;
  const int near = right ? x + 1 : x - 1;
  const int far = static_cast<int>(right ? x + w : x - w);
  const float left = LogicalX(window, right ? near : far), rightEdge = LogicalX(window, right ? far : near);
  if (!s.ConfirmButton) {
    const ButtonRect r{LogicalY(window, static_cast<int>((y - 1) - h)), left, LogicalY(window, y - 1), rightEdge};
    s.ConfirmButton = MakeTransientButton(r, askFitLimits ? "move fit limits, too?" : "confirm");
  }
  if (!s.CancelMarkerButton) {
    const ButtonRect r{LogicalY(window, y), left, LogicalY(window, static_cast<int>(y + h)), rightEdge};
    s.CancelMarkerButton = MakeTransientButton(r, "cancel");
  }
  s.anchorX = x;
  s.anchorY = y;
  PaintMarkerConfirmButtons(window);
}

void DeleteMarkerConfirmButtons(TXLAWindow* window) {
  MarkerConfirmState& s = MarkerConfirm();
  // Only buttons on the screen need the repaint that removes them: every
  // Enter comes here, and a repaint then would wipe what a pointer mode
  // has just drawn.
  const bool shown = s.ConfirmButton || s.CancelMarkerButton;
  s.ConfirmButton.reset();
  s.CancelMarkerButton.reset();
  if (shown && window && !(Road().mStarScreenShown && Road().mStarScreenShown())) RequestRepaint(*window);
}

void PressMarkerConfirmButton(TXLAWindow& window, bool confirm) {
  MarkerConfirmState& s = MarkerConfirm();
  if (!s.ConfirmButton || !s.CancelMarkerButton) return;
  ShowPressed(window, confirm ? *s.ConfirmButton : *s.CancelMarkerButton);
  window.MoveMarkers(confirm);
}

bool PressMarkerConfirmButtons(TXLAWindow& window, float bx, float by) {
  MarkerConfirmState& s = MarkerConfirm();
  if (s.ConfirmButton && s.ConfirmButton->Click(bx, by)) {
    PressMarkerConfirmButton(window, true);
    return true;
  }
  if (s.CancelMarkerButton && s.CancelMarkerButton->Click(bx, by)) {
    PressMarkerConfirmButton(window, false);
    return true;
  }
  return false;
}

void PaintMarkerConfirmButtons(TXLAWindow& window) {
  MarkerConfirmState& s = MarkerConfirm();
  for (CScreenButton* b : {s.ConfirmButton.get(), s.CancelMarkerButton.get()})
    if (b) PaintButton(window, *b);
}
