#pragma once
// The residuals bitmap beside the residual plot: one pixel row per scan
// (time order) and one column per common-grid point inside the fit limits,
// whose colour or grey level encodes sign and size of the residual. The
// other summary, the residual statistics: residual_statistics.h.
#include <cstdint>
#include <vector>

#include "platform/bitmap.h"
#include "platform/draw_surface.h"

// The peak band that the distribution analysis selected: while on, the
// residuals bitmap tints the grid points between the scan's points
// first[s]..last[s] (1-based per scan).
struct PeakBandSelection {
  std::uint8_t on = 0;
  std::vector<int> first, last;
  // "Error Propagation of Residuals to sw": the band takes the other tint.
  std::uint8_t errorPropagation = 0;
};
PeakBandSelection& CurrentPeakBand();

// The W x H raster (W grid points inside the fit limits, H scans); the
// residuals are recomputed first. Without scans or grid: an empty bitmap.
platform::Bitmap RenderResidualsBitmap(bool tint);
// Renders and stretches the raster into the strip above the residual plot.
void DrawResidualsBitmap(platform::DrawSurface& window);
// Renders without the tint and puts it on the clipboard; false when the
// clipboard could not be opened.
bool CopyResidualsBitmapToClipboard();
