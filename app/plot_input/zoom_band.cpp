#include "app/plot_input/zoom_band.h"

ZoomBand& CurrentZoomBand() {
  static ZoomBand band;
  return band;
}
