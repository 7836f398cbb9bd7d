#pragma once
// Around the metafile that CWINPlot::Plot records: the clipboard picture and
// a plot that keeps a numbered series of recorded drawings.
#include <vector>

#include "platform/clipboard.h"
#include "platform/draw_context.h"
#include "plot/cwinplot.h"

// The picture every copied plot gets: isotropic, suggested size 130 x 90 mm
// (extents in 0.01 mm), holding a copy of the metafile.
platform::ClipboardPicture PlotClipboardPicture(HMETAFILE metafile);
// Puts that picture on the clipboard; false when there is no metafile or
// the clipboard cannot be opened.
bool CopyMetafileToClipboard(const HMETAFILE* metafile);

class CWINPlotFrames : public CWINPlot {
 public:
  CWINPlotFrames() = default;
  ~CWINPlotFrames();

  // Frames 1..n, all empty.
  bool AllocFrames(int n);
  // Draws the plot and moves its picture into frame i (false, and nothing
  // kept, for i outside 1..frameCount).
  bool RecordFrame(int i);
  HMETAFILE GetFrame(int i) const;
  void DeleteFrames();

  std::vector<HMETAFILE> frames;  // 1-based; empty when none are allocated
  int frameCount = 0;
};
