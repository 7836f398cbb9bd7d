#pragma once
// The push buttons painted straight into the main window beside the plots:
// "remove TI and RI" and "restore TI noise" above the data plot while
// systematic noise is modelled, "integrate" / "select range" above the
// distribution plot while a distribution is shown. This file owns their
// slots, places them and carries out their clicks; it also holds the small
// pieces that every on-plot button of the window shares (the logical frame,
// the pressed look).
#include <functional>
#include <memory>

class CScreenButton;
class TXLAWindow;

// The light red of pressed and transient buttons.
constexpr unsigned kTransientButtonColor = 0x9696FF;  // RGB(255, 150, 150)

// A button rectangle in the window's logical frame (1400 x 1000).
struct ButtonRect {
  float top = 0, left = 0, bottom = 0, right = 0;
};

// What the placement reads: the client size recorded at the last paint (W,
// H), the data plot's right edge Xr and top Ytop (layout units) and the
// distribution plot's top T (rows).
struct ButtonLayout {
  float W = 1400, H = 1000;
  float Xr = 975, Ytop = 50, T = 630;
};
ButtonLayout CurrentButtonLayout(const TXLAWindow& window);

// Both noise buttons take their width from the longer caption and stand one
// above the other, right-aligned 10 units inside the data plot's right edge.
void NoiseButtonRects(const ButtonLayout& l, ButtonRect& remove, ButtonRect& restore);
ButtonRect IntegrateButtonRect(const ButtonLayout& l);

// Client pixels to the logical frame, from the client size of the last
// paint; 0 for a size that is not positive.
float LogicalX(const TXLAWindow& window, int px);
float LogicalY(const TXLAWindow& window, int py);
// The client size of the last paint, 1400 x 1000 before the first one.
float RecordedClientWidth(const TXLAWindow& window);
float RecordedClientHeight(const TXLAWindow& window);

// A new toggle button with one caption for both states, the light red
// pressed face and its face recorded.
std::unique_ptr<CScreenButton> MakeTransientButton(const ButtonRect& r, const char* caption);
// Paints a button onto the window now (nothing without a client surface).
void PaintButton(TXLAWindow& window, CScreenButton& button);
// Repaints a button and holds the thread for the pressed look (0.1 s).
void ShowPressed(TXLAWindow& window, CScreenButton& button);

struct NoiseAndRangeButtons {
  std::unique_ptr<CScreenButton> RemoveNoiseButton;
  std::unique_ptr<CScreenButton> RestoreTINoiseButton;
  std::unique_ptr<CScreenButton> IntegrateButton;
  NoiseAndRangeButtons();
  ~NoiseAndRangeButtons();
};
NoiseAndRangeButtons& NoiseAndRange();

// Only empty slots are filled: a button that exists keeps its rectangle.
// With a window the plots are redrawn.
void CreateNoiseButtons(TXLAWindow* window);
void RemoveNoiseButtons(TXLAWindow* window);
void ClickRemoveNoiseButton(TXLAWindow& window);
void ClickRestoreTINoiseButton(TXLAWindow& window);
void CreateIntegrateButton(const ButtonLayout& layout);
void DeleteIntegrateButton();
void ToggleIntegrateButton(TXLAWindow& window);
// The "remove TI and RI" button pressed for 0.1 s, when it exists.
void AnimateRemoveNoiseButton(TXLAWindow& window);

// What a press of the integrate button sets going: the distribution
// commands' integration or range selection. The wiring installs it.
struct ScreenButtonActions {
  std::function<void(TXLAWindow&)> clickIntegrate;
};
ScreenButtonActions& ButtonActions();

// A left click at (bx, by), thousandths of the client width and height, on
// the three buttons: each one hit is pressed and acts. True when one was hit.
bool PressNoiseAndRangeButtons(TXLAWindow& window, float bx, float by);
// Whether one of them lies at (bx, by), without pressing it.
bool NoiseOrRangeButtonAt(float bx, float by);
void PaintNoiseAndRangeButtons(TXLAWindow& window);
