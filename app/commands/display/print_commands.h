#pragma once
// Printing the main window: the window's picture on one page, the curves
// in black, optionally with the short fit report.
#include "platform/draw_context.h"

class TXLAWindow;

// True only while the window draws itself for the printer.
bool& PrintingActive();

// The client area mapped onto the page with one scale for x and y, as
// large as the page allows.
struct PrintMapping {
  double scale = 0;
  int width = 0, height = 0;  // the picture in device pixels
};
PrintMapping MapClientOntoPage(int clientWidth, int clientHeight, int pageWidth, int pageHeight);

// Draws the window's picture for the printer (a picture of width x height
// pixels); the screen plots keep their colours.
void PaintForPrinter(TXLAWindow& window, platform::DrawContext& dc, int width, int height);
