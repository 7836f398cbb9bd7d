#include "data/file_name_list.h"

#include <cstdio>

#include "data/data_messages.h"
#include "data/scan_set.h"
#include "platform/error_box.h"
#include "platform/paths.h"

using data_messages::Format;

namespace {

bool IsSep(char c) { return c == '/' || c == '\\'; }

bool CanOpen(const std::string& path) { return platform::FileExists(path); }

FileNameList g_list;
LoadedDataPaths g_paths;

}  // namespace

FileNameList& CurrentFileNameList() { return g_list; }
LoadedDataPaths& CurrentDataPaths() { return g_paths; }

std::string WithoutTrailingSep(std::string folder) {
  while (folder.size() > 1 && IsSep(folder.back())) folder.pop_back();
  return folder;
}

std::string NameWithExtension(const std::string& path) {
  const platform::PathParts p = platform::SplitPath(path);
  return p.name + p.extension;
}

std::string FolderOf(const std::string& path) {
  const platform::PathParts p = platform::SplitPath(path);
  return p.drive + p.folder;
}

void SetAnalysisFileNames(const std::string& firstName, bool notes, bool others) {
  const ScanSet& s = CurrentScanSet();
  const platform::PathParts p = platform::SplitPath(firstName);
  const std::string folder = g_paths.drive + g_paths.folder;
  if (notes) {
    g_paths.notesFile = s.oldFileNameConvention ? platform::Combine(folder, p.name + ".not")
                                                : platform::Combine(folder, "notes" + p.extension);
  }
  if (others) {
    g_paths.parameterFile = s.oldFileNameConvention
                                ? platform::Combine(folder, p.name + ".~p")
                                : platform::Combine(folder, "~tmppars" + p.extension);
    g_paths.distributionFile = platform::Combine(folder, "sdist" + p.extension);
  }
  g_paths.lastName = p.name;
  g_paths.lastExtension = p.extension;
}

std::string FileNameListPath(bool corrected) {
  if (g_list.count <= 0) return std::string();
  const platform::PathParts p = platform::SplitPath(g_list.names[1]);
  return p.drive + p.folder + (corrected ? "list_corr" : "list") + p.extension;
}

bool WriteFileNameList(bool corrected) {
  const ScanSet& s = CurrentScanSet();
  if (g_list.count <= 0 || g_list.count != s.count) return false;
  const std::string path = FileNameListPath(corrected);
  platform::CheckedOutputFile file(path);
  FILE* f = file.get();
  if (!f) {
    ErrorBox(Format("\n\aAttention: could not open %s", path.c_str()).c_str());
    return false;
  }
  std::fprintf(f, "newformat n=1\n%s\n", WithoutTrailingSep(FolderOf(g_list.names[1])).c_str());
  for (int i = 1; i <= g_list.count; ++i)
    std::fprintf(f, "%s\n", NameWithExtension(g_list.names[i]).c_str());
  if (file.Commit()) return true;
  ErrorBox(Format("\n\aAttention: could not write %s", path.c_str()).c_str());
  return false;
}

void BuildTmpFileList(int skip) {
  const ScanSet& s = CurrentScanSet();
  FreeFileNameList();
  g_paths.dataFolder = WithoutTrailingSep(g_paths.dataFolder);
  g_list.names.assign(1, std::string());
  for (int k = 1; k <= s.count; ++k) {
    const int i = s.order[k];
    if (skip > 0 && i == skip) continue;
    g_list.names.push_back(platform::Combine(g_paths.dataFolder, s.fileNames[i]));
  }
  g_list.count = static_cast<int>(g_list.names.size()) - 1;
}

void SetCellDigitOfListedFiles(int digit) {
  if (digit < 0 || digit > 8) return;
  for (int i = 1; i <= g_list.count; ++i) {
    std::string& n = g_list.names[i];
    if (!platform::SplitPath(n).extension.empty()) n.back() = static_cast<char>('0' + digit);
  }
}

void SetNumberedFolderOfListedFiles(int number) {
  for (int i = 1; i <= g_list.count; ++i) {
    platform::PathParts p = platform::SplitPath(g_list.names[i]);
    std::string folder = p.folder;
    if (!folder.empty() && IsSep(folder.back())) folder.pop_back();
    const std::size_t cut = folder.find_last_of("/\\");
    const std::string parent = cut == std::string::npos ? std::string() : folder.substr(0, cut + 1);
    const char sep = folder.empty() ? platform::Separator() : p.folder.back();
    p.folder = parent + std::to_string(number) + sep;
    g_list.names[i] = platform::JoinPath(p);
  }
}

void SetFolderOfListedFiles(const std::string& folder) {
  for (int i = 1; i <= g_list.count; ++i) {
    const platform::PathParts p = platform::SplitPath(g_list.names[i]);
    g_list.names[i] = platform::Combine(folder, p.name + p.extension);
  }
}

int AllScanFilesExist() {
  for (int i = 1; i <= g_list.count; ++i)
    if (!CanOpen(g_list.names[i])) return 0;
  return 1;
}

void FreeFileNameList() {
  g_list.names.clear();
  g_list.count = 0;
}
