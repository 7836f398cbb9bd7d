#pragma once
// The on-screen buttons of the M* screen and what the window's mouse, keys
// and paint do with them: a click on a button changes a setting, asks for a
// value or starts a right-drag range selection, and every change ends in a
// recomputation and a repaint. The table itself is
// equilibrium/mstar/mstar_screen.h's.
#include <functional>
#include <memory>
#include <vector>

class CScreenButton;
class TXLAWindow;

// What the buttons set going: the transformation, the c(M) set-up that
// ends in it, the recomputation with its repaint, the end of the analysis
// and the hinge-point dialogue. The analysis installs them when it joins the window.
struct MStarScreenActions {
  std::function<void(TXLAWindow&)> runTransformation;
  std::function<void(TXLAWindow&)> transformationSetup;
  std::function<void(TXLAWindow&)> computeFitAndShow;
  std::function<void(TXLAWindow&)> resetAnalysis;
  std::function<void(TXLAWindow&)> showHingePointInfo;
};
MStarScreenActions& MStarActions();

// Slots 1..4N + 9 ([0] unused), null where a button does not apply.
std::vector<std::unique_ptr<CScreenButton>>& MStarButtons();
CScreenButton* MStarButton(int slot);

// Builds the buttons for the current analysis (deleting any first), sized
// by the client area of the last paint.
void DrawMStarScreen(TXLAWindow& w);
void DeleteMStarButtons();
// The action of one button, then the recomputation; slot 0 only
// recomputes (after the markers moved on the screen).
void MStarScreenButtonHandler(TXLAWindow& w, int slot);
// Ends a range request with the pixel columns of a right drag: which = 1
// the meniscus-extrapolation range, 4 the bottom-extrapolation range.
void MStarRightMouseDrag(TXLAWindow& w, int which, int x1, int x2);
// Plots and buttons go; the results stay for the copies until the next
// transformation, Esc or a load.
void CloseMStarScreen(TXLAWindow& w);

// The window's part. A left click at (x, y) in thousandths of the client
// width and height; true when a button took it.
bool MStarScreenClick(TXLAWindow& w, float x, float y);
bool MStarRangeRequestPending();
// The end of a right drag between pixel columns x1 and x2 while a range is
// requested: wider than 10 pixels it sets that range, else it is ignored.
void MStarRangeDragEnded(TXLAWindow& w, int x1, int x2);
// Before a load: false while the screen is shown (nothing is loaded then);
// otherwise a remaining analysis ends and the load goes ahead.
bool MStarLetsLoadGoAhead(TXLAWindow& w);
// Replays every button's face over the painted plots.
void PaintMStarButtons(TXLAWindow& w);
