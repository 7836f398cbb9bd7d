#include "app/window/window_services.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/window/program_options.h"
#include "app/window/shell_services.h"
#include "app/window/main_fit_host.h"
#include "data/scan_set.h"
#include "fit/fit_report.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/serial_fit_settings.h"
#include "models/buffer/buffer_sed_settings.h"
#include "app/window/txla_window.h"
#include "platform/error_box.h"
#include "platform/frame_window.h"
#include "platform/paths.h"
#include "platform/bitmap.h"
#include "platform/draw_surface.h"
#include "plot/cwinplot.h"
#include "plot/text_in_place.h"
#include "plot/plot_window_set.h"
#include "platform/program_paths.h"
#include "platform/user_interface.h"

namespace {

// A column of the data plot's space in window pixels.
int PlotColumnPixels(const TXLAWindow& w, int column) {
  return static_cast<int>(std::lround(column * w.ClientWidthF / (1000.0 * PlotXStretch)));
}

}  // namespace

int& ReportShift() {
  static int shift = 0;
  return shift;
}

int ReportTextColumn(const TXLAWindow& w, int x) {
  const CWINPlot* plot = CurrentPlotWindows().dataPlot;
  if (!plot || w.ClientWidthF <= 0 || plot->plotLeft <= 0) return x;
  const int frame = PlotColumnPixels(w, plot->plotLeft + 6);
  return std::max(x, x - 10 + frame) + ReportShift();
}

bool PlaceReportClearOfTheData(TXLAWindow& w, const std::vector<std::string>& lines) {
  const int before = ReportShift();
  ReportShift() = 0;
  platform::DrawSurface* surface = w.Frame().Surface();
  const CWINPlot* plot = CurrentPlotWindows().dataPlot;
  if (!surface || !plot || w.ClientWidthF <= 0 || plot->plotRight <= plot->plotLeft) return before != 0;
  const int height = surface->ClientHeight(), step = ReportTextStep(height);
  const int left = ReportTextColumn(w, 10), right = PlotColumnPixels(w, plot->plotRight) - 6;
  struct Band {
    int top, width;
    std::vector<int> inkBefore;  // drawn pixels in the band left of each column
  };
  std::vector<Band> bands;
  int widest = 0;
  {
    auto dc = surface->ClientDC();
    for (std::size_t k = 1; k < lines.size(); ++k) {
      if (lines[k].empty()) continue;
      const int width = ReportTextWidth(*dc, height, lines[k]);
      if (width <= 0) continue;
      bands.push_back({ReportTextRow(height, 10 + 20 * static_cast<int>(k - 1)), width, {}});
      widest = std::max(widest, width);
    }
  }
  if (bands.empty() || right - left <= widest) return before != 0;
  for (Band& b : bands) {
    // A report standing there now is white under its lines: the scans
    // under it count.
    const platform::Bitmap pixels = PixelsWithoutTextsInPlace(*surface, left, b.top, right - left, step);
    b.inkBefore.assign(static_cast<std::size_t>(right - left) + 1, 0);
    for (int x = 0; x < right - left; ++x) {
      int n = 0;
      for (int y = 0; y < step; ++y) n += pixels.GetPixel(x, y) != 0xffffff;
      b.inkBefore[static_cast<std::size_t>(x) + 1] = b.inkBefore[static_cast<std::size_t>(x)] + n;
    }
  }
  // Columns 10 pixels apart: the report moves by whole steps, not by a
  // pixel that a scan's noise would decide.
  int best = 0;
  long bestInk = -1;
  for (int shift = 0; shift + widest <= right - left; shift += 10) {
    long ink = 0;
    for (const Band& b : bands)
      ink += b.inkBefore[static_cast<std::size_t>(shift + b.width)] - b.inkBefore[static_cast<std::size_t>(shift)];
    if (bestInk < 0 || ink < bestInk) {
      bestInk = ink;
      best = shift;
    }
  }
  // Lines written in place at the old column (the progress, an earlier
  // report) would stand beside the report at its new one.
  if (best != before) EraseTextsInPlace(*surface);
  ReportShift() = best;
  return best != before;
}

void RequestRepaint(TXLAWindow& window) {
  // A serial fit redraws on its own schedule.
  if (gSerialFitSettings.running || platform::RepaintsMuted()) return;
  window.Frame().Invalidate(true);
}

std::string& LastFolderIniPath() { return platform::ProgramPaths.LastFolderIniPath; }

DynamicMenuState& MenuState() {
  static DynamicMenuState state;
  return state;
}

DynamicMenuMarkers& MenuMarkers() {
  static DynamicMenuMarkers markers;
  return markers;
}

void SaveLastDataDirectory(TXLAWindow& window, const std::string& path) {
  (void)window;
  // A folder (the first entry of a several-file selection) is kept whole:
  // without its separator its last part would read as a file name.
  std::error_code ec;
  std::string named = path;
  if (!named.empty() && named.back() != platform::Separator() &&
      std::filesystem::is_directory(platform::ToNative(named), ec))
    named += platform::Separator();
  platform::PathParts parts = platform::SplitPath(named);
  parts.folder += parts.name;
  parts.name.clear();
  parts.extension.clear();
  const std::string text = platform::JoinPath(parts);
  WriteLastFolderFile(text);
}

bool WriteLastFolderFile(const std::string& text) {
  const std::string& path = LastFolderIniPath();
  if (platform::WriteWholeFile(path, text)) return true;
  if (platform::FirstWriteFailure(path))
    ErrorBox(("\n\aAttention: could not write " + path + " - the folder of the last file is not kept").c_str());
  return false;
}

void LoadLastDataDirectory(TXLAWindow& window, std::string& initialFolder) {
  (void)window;
  std::string text;
  if (!platform::ReadRegularFile(platform::ToNative(LastFolderIniPath()), text, false, platform::kSettingsFileLimit))
    return;
  std::istringstream in(text);
  // The whole first line: a long path must not be cut into a wrong folder.
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  // Files written before folders kept their separator name the folder itself.
  std::error_code ec;
  if (!line.empty() && line.back() != platform::Separator() &&
      std::filesystem::is_directory(platform::ToNative(line), ec))
    line += platform::Separator();
  const platform::PathParts parts = platform::SplitPath(line);
  initialFolder = parts.drive + parts.folder;
}

namespace {

int RunFileDialog(platform::FileDialogRequest request, std::string& path, int capacity) {
  const platform::FileDialogResult result = platform::UI().FileDialog(request);
  if (!result.accepted || result.paths.empty()) return 0;
  const std::string& chosen = result.paths.front();
  // A cut path would name another file: refuse it rather than shorten it.
  if (capacity > 0 && static_cast<int>(chosen.size()) > capacity - 1) {
    platform::Tell("ERROR", "file name too long:\n" + chosen, platform::BoxIcon::Error);
    return 0;
  }
  path = chosen;
  return 1;
}

platform::FileDialogRequest DialogFor(const std::string& path) {
  platform::FileDialogRequest request;
  const platform::PathParts parts = platform::SplitPath(path);
  request.initialFolder = parts.drive + parts.folder;
  request.presetName = path;
  request.filters = {{"All Files (*.*)", "*.*"}};
  return request;
}

}  // namespace

int SelectSaveFileName(TXLAWindow& window, std::string& path, int capacity, int unused,
                       const std::string& defaultExtension) {
  (void)window;
  (void)unused;
  platform::FileDialogRequest request = DialogFor(path);
  request.save = true;
  request.title = "select files";
  request.defaultExtension = defaultExtension;
  return RunFileDialog(request, path, capacity);
}

int SelectFileNameOpenOrSave(TXLAWindow& window, bool save, std::string& path, int capacity,
                             const std::string& title, const std::string& defaultExtension,
                             const std::string& filterDescription,
                             const std::string& filterPattern, bool confirmOverwrite) {
  (void)window;
  platform::FileDialogRequest request = DialogFor(path);
  request.save = save;
  request.confirmOverwrite = confirmOverwrite;
  request.title = title;
  request.defaultExtension = defaultExtension;
  request.filters = {{filterDescription, filterPattern}};
  return RunFileDialog(request, path, capacity);
}

std::string AskSaveFile(const platform::FileDialogRequest& base, const SaveFileQuestion& question) {
  platform::FileDialogRequest request = base;
  request.save = true;
  request.multiSelect = false;
  request.title = question.title;
  request.presetName = question.preset;
  if (!question.startFolder.empty()) request.initialFolder = question.startFolder;
  request.defaultExtension = question.defaultExtension;
  const platform::FileDialogResult result = platform::UI().FileDialog(request);
  if (!result.accepted || result.paths.empty()) return {};
  if (question.longestPath > 0 && result.paths.front().size() > question.longestPath) return {};
  return result.paths.front();
}

std::string SaveFolderFor(const std::string& preset) {
  // A bare name is proposed beside the data the file belongs to.
  const platform::PathParts parts = platform::SplitPath(preset);
  if (!parts.folder.empty()) return parts.drive + parts.folder;
  return CurrentScanSet().dataFolder;
}

int SelectOpenFileName(TXLAWindow& window, std::string& path, int capacity,
                       const std::string& defaultExtension) {
  platform::FileDialogRequest request = window.LoadFileDialog;
  LoadLastDataDirectory(window, request.initialFolder);
  request.save = false;
  request.multiSelect = false;
  request.presetName.clear();
  request.filters = {{"All Files (*.*)", "*.*"}};
  request.defaultExtension = defaultExtension;
  return RunFileDialog(request, path, capacity);
}

void InsertCopyMStarMenuItems(TXLAWindow& window) {
  if (MenuState().mStarVariant) return;
  platform::MenuModel& menu = window.Frame().Menu();
  bool all = menu.InsertBefore(896, platform::MenuNode::Item(918, "Copy Ln(c) Data"));
  all = menu.InsertBefore(896, platform::MenuNode::Item(919, "Copy M* Data")) && all;
  all = menu.InsertBefore(896, platform::MenuNode::Item(920, "Copy Mavg Data")) && all;
  window.Frame().MenuChanged();
  MenuMarkers().MStarCopyItemsShown = all;
  if (all) window.Frame().Invalidate(true);
}

void RemoveCopyMStarMenuItems(TXLAWindow& window) {
  if (MenuState().mStarVariant) return;
  if (!MenuMarkers().MStarCopyItemsShown) return;
  platform::MenuModel& menu = window.Frame().Menu();
  bool all = menu.Delete(918);
  all = menu.Delete(919) && all;
  all = menu.Delete(920) && all;
  window.Frame().MenuChanged();
  if (all) MenuMarkers().MStarCopyItemsShown = false;
  window.Frame().Invalidate(true);
}

void UpdateFloToolsMenu(TXLAWindow& window) {
  // The kind of the loaded scans decides which items belong.
  if (CurrentScanSet().count <= 0) return;
  const DataTypeFlags& data = CurrentDataTypeFlags();
  platform::IFrameWindow& frame = window.Frame();
  platform::MenuModel& menu = frame.Menu();
  DynamicMenuMarkers& markers = MenuMarkers();
  auto changed = [&] {
    frame.MenuChanged();
    frame.Invalidate(true);
  };
  if (data.fluorescence) {
    if (!markers.FloToolsItemShown) {
      markers.FloToolsItemShown = menu.InsertBefore(552, platform::MenuNode::Item(915, "FloTools"));
      changed();
    }
  } else if (markers.FloToolsItemShown) {
    menu.Delete(915);
    markers.FloToolsItemShown = false;
    changed();
  }
  // The mean-field items go with the nonideal c(s) model.
  if (gModelSelectorFlags.NonidealCSModel) {
    if (!markers.MeanFieldItemsShown) {
      menu.InsertBefore(1098, platform::MenuNode::Item(1104, "Export Mean Field ctot(r,t) to file"));
      menu.InsertBefore(1104, platform::MenuNode::Item(1103, "Restore Mean Field ctot(r,t) from file"));
      menu.InsertBefore(1103, platform::MenuNode::Item(1106, "Clear Mean Field ctot(r,t)"));
      menu.InsertBefore(517, platform::MenuNode::Item(1105, "Display ctot(r,t) (in mg/ml units)"));
      markers.MeanFieldItemsShown = true;
      changed();
    }
  } else if (markers.MeanFieldItemsShown) {
    for (int id : {1104, 1103, 1106, 1105}) menu.Delete(id);
    markers.MeanFieldItemsShown = false;
    changed();
  }
  menu.Enable(231, data.intensity != 0);
  menu.Enable(226, true);
  frame.MenuChanged();
}

void TXLAWindow::CmCopyScreenshot() { Frame().CopyClientToClipboard(); }

void TXLAWindow::CmOldFilenameConvention() {
  // The loaders read the switch from the scan set when they name the file
  // of the saved parameters.
  std::uint8_t& old = CurrentScanSet().oldFileNameConvention;
  old = old ? 0 : 1;
  CheckMenuItem(cmd::OldFilenameConvention, old != 0);
}

bool ComputeDataRange(const ScanSet& scans, float meniscus, DataRange& range) {
  if (scans.count <= 0 || !scans.grid || scans.lastGridPoint < 1 ||
      scans.lastGridPoint > scans.gridLength)
    return false;
  const int first = std::max(1, scans.firstGridPoint);
  const int last = scans.lastGridPoint;
  range.xMin = meniscus - 0.01f;
  range.xMax = scans.grid[last] + 0.01f;
  bool any = false;
  float lo = 0, hi = 0;
  for (int scan = 1; scan <= scans.count && scan < static_cast<int>(scans.gridSignals.size());
       ++scan) {
    const float* y = scans.gridSignals[static_cast<std::size_t>(scan)];
    if (!y) continue;
    for (int i = first; i <= last; ++i) {
      if (!any) {
        lo = hi = y[i];
        any = true;
      }
      lo = std::min(lo, y[i]);
      hi = std::max(hi, y[i]);
    }
  }
  if (!any) return false;
  range.yMin = lo - 0.1f;
  range.yMax = hi + 0.1f;
  return true;
}

RangeHistoryRecord RangeHistory;

void PushRangeHistory(const DataRange& range) {
  RangeHistoryRecord& h = RangeHistory;
  h.depth = std::min(h.depth + 1, 9);
  const auto i = static_cast<std::size_t>(h.depth);
  h.xMin[i] = range.xMin;
  h.xMax[i] = range.xMax;
  h.yMin[i] = range.yMin;
  h.yMax[i] = range.yMax;
}

void TXLAWindow::CmDataRange() {
  const ScanSet& scans = CurrentScanSet();
  if (scans.count <= 0) return;
  DataRange range;
  // With the buffer mismatch and its meniscus offset on, the reference
  // meniscus is drawn as well: the range starts left of both.
  float left = gModelParams.meniscus;
  const BufferSedSettings& b = gBufferSedSettings;
  if (b.BufferSedOn && b.MeniscusMismatch)
    left = std::min(left, static_cast<float>(gModelParams.meniscus - b.MeniscusDifference));
  const bool computed = ComputeDataRange(scans, left, range);
  if (computed) PushRangeHistory(range);
  if (computed && range.yMax > range.yMin && range.xMax > range.xMin) {
    CallService(Services().setDataPlotRanges, range.xMin, range.xMax, range.yMin, range.yMax);
    CallService(Services().redrawDataPlot, false);
  } else {
    CallService(Services().redrawDataPlot, false);
  }
  CallService(Services().updateResidualsPlot, false);
  CallService(Services().updateResidualBitmap, false);
  Frame().Invalidate(true);
}

void TXLAWindow::CmShowLastFitInfo() { ComposeFitInfoText(MainFitHost()); }
