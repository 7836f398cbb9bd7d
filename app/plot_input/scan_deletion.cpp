#include "app/plot_input/scan_deletion.h"

#include "app/window/txla_window.h"
#include "app/window/wait_cursor.h"
#include "app/window/window_services.h"
#include "data/raw_data_workers.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"
#include "platform/user_interface.h"

namespace {

// The data plot back at the zoom the user had before the reload.
void RestoreDataZoom() {
  CWINPlot* plot = CurrentPlotWindows().dataPlot;
  const RangeHistoryRecord& h = RangeHistory;
  if (!plot || h.depth < 1) return;
  const auto i = static_cast<std::size_t>(h.depth);
  plot->SetRanges(h.xMin[i], h.xMax[i], h.yMin[i], h.yMax[i]);
  plot->Plot();
}

}  // namespace

void DeleteScanAndReload(TXLAWindow& window, int scan) {
  ScanSet& s = CurrentScanSet();
  if (scan < 1 || scan > s.count) return;
  // An empty list would unload the whole set.
  if (s.count < 2) {
    platform::Tell("DELETE SCAN", s.fileNames[scan] + " is the only scan loaded - it stays", platform::BoxIcon::Error);
    return;
  }
  // In memory: the remaining scans keep every change made to them since loading.
  RemoveLoadedScan(scan);
  RequestRepaint(window);
}

void DeleteScanPoint(TXLAWindow& window, int scan, int point) {
  const ScanSet& s = CurrentScanSet();
  if (scan < 1 || scan > s.count || point < 1 || point > s.points[scan]) return;
  if (s.radialResolution > 0.00101f && !platform::AskYes("", "data are pre-averaged - continue anyway?")) return;
  const bool overwrite = platform::AskYes("", "overwrite original scan?");
  {
    WaitCursor wait(window);
    const RawDataResult written = MarkScanModified(scan, point, overwrite);
    if (written.Refused()) return;
    if (!written.written.empty()) {
      // The file holds the scan without the point; memory loses it too,
      // and the other scans keep what was done to them since loading.
      RemoveScanPoint(scan, point);
      RedrawDataPlot(false);
    } else {
      ReloadListedScans();
      RestoreDataZoom();
    }
  }
  RequestRepaint(window);
}
