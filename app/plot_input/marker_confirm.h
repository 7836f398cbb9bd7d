#pragma once
// The two small buttons that confirm or cancel a dragged meniscus, bottom or
// fit-limit marker, placed at the pointer where the marker was dropped; for
// a confirmed meniscus or bottom they ask once more, at the same place,
// whether the fit limits follow.
#include <cstdint>
#include <memory>

class CScreenButton;
class TXLAWindow;

struct MarkerConfirmState {
  std::unique_ptr<CScreenButton> ConfirmButton;  // "confirm" or "move fit limits, too?"
  std::unique_ptr<CScreenButton> CancelMarkerButton;
  std::int32_t anchorX = 0, anchorY = 0;  // pixels where the pair was last placed
  MarkerConfirmState();
  ~MarkerConfirmState();
};
MarkerConfirmState& MarkerConfirm();

// x, y in client pixels. With askFitLimits the pair goes to the last anchor
// and asks "move fit limits, too?".
void ShowMarkerConfirmButtons(TXLAWindow& window, int x, int y, bool askFitLimits);
// With a window, the plots are redrawn (not over the M* screen).
void DeleteMarkerConfirmButtons(TXLAWindow* window);
// Nothing unless both buttons exist.
void PressMarkerConfirmButton(TXLAWindow& window, bool confirm);
// The hit tests of a left click, (bx, by) in thousandths of the client
// size; true when one of the two took it.
bool PressMarkerConfirmButtons(TXLAWindow& window, float bx, float by);
void PaintMarkerConfirmButtons(TXLAWindow& window);
