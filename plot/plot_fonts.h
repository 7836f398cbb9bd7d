#pragma once
// The four fonts of the plots, created once at start-up and kept for the
// whole run. Heights are in the plot space's logical units; the axis and
// title heights also serve as estimates of text extents.
#include "platform/draw_context.h"

inline constexpr int AxisFontHeight = 17;
inline constexpr int LabelFontHeight = 19;
inline constexpr int TitleFontHeight = 32;

extern platform::HFONT AxisFont;           // axis numbers
extern platform::HFONT LabelFont;          // x label and annotations
extern platform::HFONT VerticalLabelFont;  // y label, rising vertically
extern platform::HFONT TitleFont;          // third annotation

void CreatePlotFonts();
// The y label's font at a smaller height, for a label longer than its plot
// is high; kept for the program's life.
platform::HFONT VerticalLabelFontOfHeight(int height);
// Estimated width of an axis number in the axis font, in logical units,
// with digits digitPercent of the font's height wide: 65 is as wide as the
// widest serif faces draw them (room to leave beside a number), 53 their
// common width (whether a number still fits before the window's edge).
int AxisNumberWidth(const char* text, int digitPercent = 65);
