#pragma once
// CScreenButton: a light button drawn straight onto the main window's client
// area over the plots, without being a child window. It is placed in the
// plot space (x 0..1399, y 0..1000 over the client area), records its face
// once as a metafile in that space and replays it stretched to the current
// client size, so it keeps its place when the window is resized. It can save
// and put back the pixels it covers, so that it can vanish without a repaint.
#include <cstdint>
#include <string>

#include "platform/bitmap.h"
#include "platform/draw_context.h"
#include "platform/draw_surface.h"
#include "platform/metafile.h"

class CScreenButton {
 public:
  CScreenButton();
  ~CScreenButton();
  CScreenButton(const CScreenButton&) = delete;
  CScreenButton& operator=(const CScreenButton&) = delete;

  // Plot-space coordinates; each is floored.
  void SetRect(float top, float left, float bottom, float right);
  // Copies min(length, 999) bytes of each text; a length <= 0 gives "".
  void SetText(const char* caption, int captionLength, const char* onCaption, int onCaptionLength);
  void SetPressed() { pressed = 1; }
  void SetFirstOption() { baselineText = 1; }
  void SetSecondOption() { raisedText = 1; }
  void Beep();
  bool ToggleState();
  // x, y in thousandths of the client width and height.
  bool Click(float x, float y);
  bool RecordFace(platform::DrawContext& dc);
  bool Redraw();
  void Paint(platform::DrawSurface& window);
  bool SaveBackground(platform::DrawSurface& window);
  bool RestoreBackground(platform::DrawSurface& window);
  // Client pixels.
  void DrawPointRing(platform::DrawSurface& window, int x, int y, int radius, platform::COLORREF ringColor,
                     platform::COLORREF pointColor);
  void ErasePointRing(platform::DrawSurface& window, int x, int y, int radius);
  void DrawCaption(platform::DrawSurface& window);
  void EraseCaption(platform::DrawSurface& window);

  int kind = 2;  // 1 push button, 2 toggle button
  std::uint8_t on = 0;
  std::uint8_t flat = 0;
  std::uint8_t baselineText = 0;
  std::uint8_t raisedText = 0;
  std::uint8_t hidden = 0;
  std::string caption = "ScreenButton";
  std::string onCaption = "ON STATE";
  int captionCapacity = 1000;
  platform::COLORREF highlightColor = 0xdcdcdc;
  platform::COLORREF shadowColor = 0x646464;
  platform::COLORREF innerShadowColor = 0x969696;
  platform::COLORREF faceColor = 0xc8c8c8;
  platform::COLORREF onFaceColor = 0xe6e6e6;
  platform::COLORREF textColor = 0x960000;
  // Shrinks the caption font until the longer caption fits the button's width.
  void FitCaption();
  int captionHeight = 16;  // plot-space units; long captions in small buttons take less
  // Pixels a plot-space unit down over pixels a unit across on the window
  // the face is shown in: the caption's characters, whose width follows the
  // font's height in pixels, take that much less of the width in units.
  float pixelAspect = 1;
  std::uint8_t pressed = 0;
  platform::HMETAFILE face = 0;
  std::uint8_t ownsFace = 0;
  int right = 0, left = 0, top = 0, bottom = 0;
  int ringX = 0, ringY = 0, ringRadius = 0;
  platform::COLORREF ringPointColor = 0;
  std::uint8_t backgroundSaved = 0;
  platform::Bitmap savedBackground;

 private:
  void CaptionInto(platform::DrawContext& dc, platform::COLORREF color);
  platform::Rect PixelArea(const platform::DrawSurface& window) const;
};

// The caption fonts shared by all buttons (created on first use, kept), of
// the default height 16 or the one given.
platform::HFONT ButtonFont(int height = 16);
platform::HFONT ButtonHeavyFont(int height = 16);
