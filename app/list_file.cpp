#include "app/list_file.h"

#include "data/list_file_text.h"
#include "platform/paths.h"

namespace {

constexpr std::size_t kSelectionBuffer = 128000;

}  // namespace

ListFileSelection ParseListText(std::string text) {
  const ListFileText list = ParseListFileText(text);
  ListFileSelection out;
  out.every = list.every;
  if (!list.folder.empty()) {
    out.selection += list.folder;
    out.selection += '\0';
  }
  for (const std::string& name : list.names) {
    out.selection += name;
    out.selection += '\0';
  }
  out.selection += '\0';
  out.selection += '\0';
  return out;
}

bool ReadListFile(const std::string& path, ListFileSelection& out, std::string* reason) {
  std::string text;
  if (const platform::FileReadError e = platform::ReadWholeFile(platform::ToNative(path), text, kSelectionBuffer - 1);
      e != platform::FileReadError::None) {
    if (reason) *reason = platform::FileReadErrorText(path, e, kSelectionBuffer - 1);
    return false;
  }
  out = ParseListText(std::move(text));
  return true;
}

std::vector<std::string> SelectionEntries(const std::string& selection) {
  std::vector<std::string> entries;
  std::size_t p = 0;
  while (p < selection.size()) {
    const std::size_t end = selection.find('\0', p);
    const std::string entry = selection.substr(p, end == std::string::npos ? std::string::npos : end - p);
    if (entry.empty()) break;
    entries.push_back(entry);
    if (end == std::string::npos) break;
    p = end + 1;
  }
  return entries;
}

std::string ComposeListText(int every, const std::vector<std::string>& entries) {
  std::string text = "newformat n=" + std::to_string(every) + "\n";
  for (const std::string& e : entries) text += e + "\n";
  return text;
}
