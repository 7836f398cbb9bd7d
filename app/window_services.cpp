#include "app/window_services.h"

#include <fstream>

#include "app/program_options.h"
#include "app/txla_window.h"
#include "platform/frame_window.h"
#include "platform/paths.h"
#include "platform/program_paths.h"
#include "platform/user_interface.h"

void RequestRepaint(TXLAWindow& window) {
  if (platform::RepaintsMuted()) return;
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
  platform::PathParts parts = platform::SplitPath(path);
  parts.folder += parts.name;
  parts.name.clear();
  parts.extension.clear();
  std::ofstream out(platform::ToNative(LastFolderIniPath()), std::ios::trunc);
  if (out) out << platform::JoinPath(parts);
}

void LoadLastDataDirectory(TXLAWindow& window, std::string& initialFolder) {
  (void)window;
  std::ifstream in(platform::ToNative(LastFolderIniPath()));
  if (!in) return;
  // The whole first line: a long path must not be cut into a wrong folder.
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const platform::PathParts parts = platform::SplitPath(line);
  initialFolder = parts.drive + parts.folder;
}

namespace {

int RunFileDialog(platform::FileDialogRequest request, std::string& path, int capacity) {
  const platform::FileDialogResult result = platform::UI().FileDialog(request);
  if (!result.accepted || result.paths.empty()) return 0;
  std::string chosen = result.paths.front();
  if (capacity > 0 && static_cast<int>(chosen.size()) > capacity - 1)
    chosen.resize(static_cast<std::size_t>(capacity - 1));
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
                             const std::string& filterPattern) {
  (void)window;
  platform::FileDialogRequest request = DialogFor(path);
  request.save = save;
  request.title = title;
  request.defaultExtension = defaultExtension;
  request.filters = {{filterDescription, filterPattern}};
  return RunFileDialog(request, path, capacity);
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
  const DynamicMenuState& state = MenuState();
  if (!state.scansLoaded) return;
  platform::IFrameWindow& frame = window.Frame();
  platform::MenuModel& menu = frame.Menu();
  DynamicMenuMarkers& markers = MenuMarkers();
  auto changed = [&] {
    frame.MenuChanged();
    frame.Invalidate(true);
  };
  if (state.fluorescenceData) {
    if (!markers.FloToolsItemShown) {
      markers.FloToolsItemShown = menu.InsertBefore(552, platform::MenuNode::Item(915, "FloTools"));
      changed();
    }
  } else if (markers.FloToolsItemShown) {
    menu.Delete(915);
    markers.FloToolsItemShown = false;
    changed();
  }
  if (state.nonidealCsModel) {
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
  menu.Enable(231, state.intensityData);
  menu.Enable(226, true);
  frame.MenuChanged();
}

void TXLAWindow::CmCopyScreenshot() { Frame().CopyClientToClipboard(); }

void TXLAWindow::CmOldFilenameConvention() {
  ProgramOptions& o = Options();
  o.OldFilenameConvention = !o.OldFilenameConvention;
  CheckMenuItem(cmd::OldFilenameConvention, o.OldFilenameConvention);
}
