#pragma once
// The Copy and Display commands of the data plot: pictures of the plots on
// the clipboard, the displayed range and its history, the data marks and
// the show switches of the data and residual plots.
#include <cstdint>
#include <vector>

#include "platform/draw_context.h"

class CWINPlot;

struct DataMarkState {
  int markSize = 10;                  // asked by "Data Mark Size"
  std::uint8_t dataDrawnAsLines = 0;  // the data curves were switched to lines there
};
DataMarkState& DataMarks();

// While alive, the scan curves of the data and residual plots are drawn in
// black; the colours each curve had come back when it ends.
class BlackScanCurves {
 public:
  BlackScanCurves();
  ~BlackScanCurves();
  BlackScanCurves(const BlackScanCurves&) = delete;
  BlackScanCurves& operator=(const BlackScanCurves&) = delete;

 private:
  struct Kept {
    CWINPlot* plot;
    std::vector<platform::COLORREF> colours;
  };
  std::vector<Kept> kept_;
};
