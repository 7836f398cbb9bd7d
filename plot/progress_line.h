#pragma once
// CProgressLine: the small progress bar that long operations draw straight
// onto the main window's client area while they run (loading, Marquardt-
// Levenberg steps, normal equations). A 100-pixel grey track whose left
// part turns to the bar colour as the value grows; the pixels under it are
// saved when it is shown and put back when it is erased, so the plots need
// no repaint. Nothing is drawn, saved or restored before the window's first
// paint (PlotHooks().painted). Coordinates are client pixels.
#include <cstdint>

#include "platform/bitmap.h"
#include "platform/draw_context.h"
#include "platform/draw_surface.h"

class CProgressLine {
 public:
  CProgressLine();
  ~CProgressLine();
  CProgressLine(const CProgressLine&) = delete;
  CProgressLine& operator=(const CProgressLine&) = delete;

  void Show(platform::DrawSurface& window, int x, int y);
  void SetPenBlue();
  void SetPenPurple();
  // Draws only when value exceeds the largest value drawn so far.
  void Draw(float value, platform::DrawSurface& window);
  // The same into a context the caller owns; the pens stay selected in it.
  void DrawNormalEquationProgress(float value, platform::DrawContext& dc);
  void Erase(platform::DrawSurface& window);
  bool SaveBackground(platform::DrawSurface& window);
  bool RestoreBackground(platform::DrawSurface& window);

  float total = 1.0f;
  float value = 0.0f;
  int length = 100;
  int height = 3;
  platform::COLORREF barColor = 0x0000ff;
  platform::COLORREF trackColor = 0xc8c8c8;
  platform::HPEN barPen = 0;
  platform::HPEN trackPen = 0;
  int right = 0;
  int x = 0;
  int bottom = 0;
  int y = 0;
  std::uint8_t backgroundSaved = 0;
  platform::Bitmap savedBackground;
  std::uint8_t ringMode = 0;
  int ringLeft = 0, ringLow = 0, ringRight = 0, ringHigh = 0, ringStartX = 0, ringStartY = 0;

 private:
  void SetBarColor(platform::COLORREF color);
  bool DrawInto(float newValue, platform::DrawContext& dc);
};
