#pragma once
// Lines of text that the window writes again and again at one place while it
// computes or follows the pointer (progress of a fit, the pointer readout,
// the fit report's lines under them). Each is written over the text that
// stood at its place before: that text is taken away first, so a shorter
// line leaves nothing of a longer one standing, whatever the font. Taking a
// text away puts back the pixels it covered where its strokes still stand:
// the scans and plot lines under it come back as they were, and what was
// drawn over it since stays.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bitmap.h"
#include "platform/draw_context.h"
#include "platform/draw_surface.h"

// dc: a context of `surface`, its font and colours those of the text.
void DrawTextInPlace(platform::DrawSurface& surface, platform::DrawContext& dc, int x, int y,
                     const std::string& text);
// A line of the fit report or of the progress shown in its place, at (x, y)
// of a window 1000 pixels high, on white as wide as its characters: 20 pixels a line from y = 10 in the 12-pixel
// font. A lower window keeps the lines to the same share of its height, down
// to 13 pixels a line in a 10-pixel font (at 800 x 550 the full-size report
// covered the data and the residuals plots).
void DrawReportTextInPlace(platform::DrawSurface& surface, platform::DrawContext& dc, int x, int y,
                           const std::string& text);
// The row at which such a line of y is drawn, the rows' spacing in pixels,
// and the width of a text in the report's font.
int ReportTextRow(int clientHeight, int y);
int ReportTextStep(int clientHeight);
int ReportTextWidth(platform::DrawContext& dc, int clientHeight, const std::string& text);
// A repaint has drawn the window anew: nothing of the texts written before
// is left to erase.
void ForgetTextsInPlace();
// Takes away every text written in place since the last repaint (a result's
// report, before a Run or a fit writes its progress where it stood) and
// forgets them.
void EraseTextsInPlace(platform::DrawSurface& surface);

// The window's pixels from (left, top) as they would be without the texts
// written in place that still stand there.
platform::Bitmap PixelsWithoutTextsInPlace(platform::DrawSurface& surface, int left, int top, int width,
                                           int height);

// A text in lines no wider than maxWidth as `width` measures them, broken
// after ", " where it can, else after a path separator or a blank, else
// between characters; joined, the lines give the text back. A line that
// would run past the window's right edge is cut there.
std::vector<std::string> WrapTextToWidth(const std::string& text, int maxWidth,
                                         const std::function<int(std::string_view)>& width);
