#include "plot/plot_clipboard.h"

#include <algorithm>

using namespace platform;

ClipboardPicture PlotClipboardPicture(HMETAFILE metafile) {
  ClipboardPicture p;
  p.metafile = MetafileContents(metafile);
  p.mapMode = MM_ISOTROPIC;
  p.xExt = 13000;
  p.yExt = 9000;
  return p;
}

bool CopyMetafileToClipboard(const HMETAFILE* metafile) {
  if (!metafile) return false;
  ClipboardPicture p = PlotClipboardPicture(*metafile);
  if (!p.metafile) return false;
  return Clipboard().SetPicture(p);
}

CWINPlotFrames::~CWINPlotFrames() {
  DeleteFrames();
  frameCount = 0;
}

bool CWINPlotFrames::AllocFrames(int n) {
  DeleteFrames();
  frames.assign(static_cast<size_t>(std::max(n, 0)) + 1, 0);
  frameCount = std::max(n, 0);
  return true;
}

bool CWINPlotFrames::RecordFrame(int i) {
  if (i < 1 || i >= static_cast<int>(frames.size())) return false;
  if (!Plot()) return true;  // nothing new recorded: the frame stays as it was
  if (frames[static_cast<size_t>(i)]) DeleteMetaFile(frames[static_cast<size_t>(i)]);
  frames[static_cast<size_t>(i)] = lastMetafile;
  lastMetafile = 0;
  ownsMetafile = 0;
  return true;
}

HMETAFILE CWINPlotFrames::GetFrame(int i) const {
  if (frames.empty() || i < 1 || i > frameCount || i >= static_cast<int>(frames.size())) return 0;
  return frames[static_cast<size_t>(i)];
}

void CWINPlotFrames::DeleteFrames() {
  for (size_t i = 1; i < frames.size(); ++i)
    if (frames[i]) DeleteMetaFile(frames[i]);
  frames.clear();
}
