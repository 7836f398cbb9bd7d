#pragma once
// The plot space of the main window's client area: layout coordinates
// 0..1000 in both directions, x stretched by PlotXStretch, so that every
// recorded picture spans 1399 x 1000 logical units.

// Horizontal stretch of the plot space (single precision on purpose:
// 1000 * 1.4f truncates to 1399, the width of every recorded picture).
inline constexpr float PlotXStretch = 1.4f;
inline constexpr float PlotUnits = 1000.0f;
// Distance between the plot rectangle and its frame, in plot units.
inline constexpr int PlotFrameMargin = 8;
// Window extent of every recorded plot picture: 1399 x 1000.
int PlotSpaceWidth();
int PlotSpaceHeight();
