#pragma once
// Dragging the radius markers of the data plot with the left button: the
// shared state of a drag, the optional calls into the on-plot buttons, the
// pointer modes and the drag history, and the conversions between window
// pixels and radius.
#include <cstdint>
#include <functional>
#include <vector>

#include "app/plot_input/mouse_flick.h"
#include "data/mouse_actions.h"
#include "platform/draw_context.h"

class TXLAWindow;

// The nine draggable markers, in the order of their state entries.
enum class MarkerKind {
  Meniscus,
  ReferenceMeniscus,
  Bottom,
  LeftFitLimit,
  RightFitLimit,
  MeniscusMin,
  MeniscusMax,
  BottomMin,
  BottomMax,
};
constexpr int kMarkerCount = 9;

struct MarkerDragState {
  std::uint8_t selected[kMarkerCount] = {};
  std::int32_t column[kMarkerCount] = {};  // window x, recomputed at each press
  std::uint8_t meniscusLimitsFollow = 0;   // "move fit limits, too?" open for the meniscus
  std::uint8_t bottomLimitsFollow = 0;     // ... for the bottom
  std::uint8_t dragging = 0;
  std::int32_t hitTolerance = 2;  // window pixels, strict
  std::uint8_t awaitingConfirmation = 0;
  std::int32_t dropX = 0;  // 0 = none
  std::uint8_t flickEnded = 0;
  float shiftedUpper = 0, shiftedLower = 0;  // fit-range limits moved with meniscus or bottom
};
MarkerDragState& MarkerDrag();

// The next key queued while the slide holds the window busy: its
// character, -1 for a key without one, 0 when none.
int ReadSlideKey();

// Calls into parts that come in separately; an empty member makes its step
// do nothing.
struct PlotMouseHooks {
  // The active scan-repair pointer mode; true when it took the event.
  std::function<bool(int x, int y)> pointerModeLButtonDown = [](int x, int y) { return MouseActionsLButtonDown({x, y}); };
  std::function<bool(int x, int y)> pointerModeLButtonUp = [](int x, int y) { return MouseActionsLButtonUp({x, y}); };
  std::function<bool(int x, int y)> pointerModeLButtonDblClk = [](int x, int y) {
    return MouseActionsLButtonDblClk({x, y});
  };
  std::function<bool(int x, int y)> pointerModeRButtonDown = [](int x, int y) { return MouseActionsRButtonDown({x, y}); };
  std::function<bool(int x, int y)> pointerModeRButtonUp = [](int x, int y) { return MouseActionsRButtonUp({x, y}); };
  std::function<bool(int x, int y)> pointerModeRButtonDblClk = [](int x, int y) {
    return MouseActionsRButtonDblClk({x, y});
  };
  std::function<bool(int x, int y)> pointerModeMouseMove = [](int x, int y) { return MouseActionsMouseMove({x, y}); };
  std::function<bool(int key, int repeat, unsigned flags)> pointerModeKeyDown = MouseActionsKeyDown;
  std::function<bool()> pointerModeEnd = MouseActionsEndActive;        // Escape
  std::function<bool()> pointerModeFinish = MouseActionsFinishActive;  // Enter, Tab
  // The on-plot buttons at (bx, by), thousandths of the client rectangle;
  // true when a button other than the noise and range buttons took the press.
  std::function<bool(float bx, float by)> pressScreenButtons;
  std::function<void(int x, int y, bool limitsQuestion)> showMarkerConfirmButtons;
  std::function<void()> deleteMarkerConfirmButtons;
  // The noise buttons and the integrate button at (bx, by) as above; true on
  // a hit, which a double click then handles as one left press.
  std::function<bool(float bx, float by)> noiseOrIntegrateButtonAt;
  // The point-edit buttons of a point readout: the "cancel" press that
  // removes them (false when there are none) and their creation for the
  // point of the scan at position i in time order.
  std::function<bool()> pressPointEditCancel;
  std::function<void(int x, int y, int i)> showPointEditButtons;
  // The button naming the scan (position in time order) under the pointer.
  std::function<void(int i, int x, int y)> showScanNameButton;
  std::function<void()> deleteScanNameButton;
  // A right-button band of xmin..xmax pixels over the data plot while the M*
  // screen waits for a radial range; true when it took the band.
  std::function<bool(int xmin, int xmax)> mStarRangeDrag;
  // The drag history and the slide computed from it: positions and the time
  // steps leading to them; false when nothing slides.
  std::function<void()> mouseTrackReset = MouseTrackReset;
  std::function<void(int x, int y)> mouseTrackAdd = MouseTrackAdd;
  std::function<bool(int left, int right, int x, std::vector<int>& positions, std::vector<double>& steps)>
      mouseFlickContinue = MouseFlickContinue;
  // A key typed during the slide (0 when none).
  std::function<int()> readKey = ReadSlideKey;
  std::function<void(double seconds)> waitSeconds = WaitSlideStep;
  // Refreshes the M* results after a marker edit on the M* screen.
  std::function<void()> refreshMStar;
  // Enter (13) or Esc (27) while a value is typed at the cursor: the
  // window's own key handler ends the entry.
  std::function<void(TXLAWindow& w, int key)> cursorEditKey;
};
PlotMouseHooks& MouseHooks();

// Radius (cm) under window column x of the data plot; 0 without a plot or
// a client width.
float RadiusAtColumn(TXLAWindow& window, int x);
// The marker's value (cm) as stored.
float MarkerValue(MarkerKind kind);

// The radius markers of the data screen on a context in pixels; the
// meniscus and bottom ranges of a fit only when fitRanges.
void DrawDataScreenMarkers(platform::DrawContext& dc, TXLAWindow& window, bool fitRanges);
