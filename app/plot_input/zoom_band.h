#pragma once
// The rubber band that the right button stretches over the plots; the
// display commands drop it as well.
#include <cstdint>

struct ZoomPoint {
  std::int32_t x = 0, y = 0;
};

struct ZoomBand {
  ZoomPoint previous, start, current, rightmost, leftmost;
  std::uint8_t started = 0;   // capture taken, the band is drawn
  std::uint8_t dataZoom = 0;  // the band zooms the data plot
  std::uint8_t distributionSelection = 0;
  std::uint8_t zoomed = 0;  // a band was accepted once
};
ZoomBand& CurrentZoomBand();
