#include "app/list_file.h"

#include <cctype>
#include <cstdlib>

#include "platform/paths.h"

namespace {

constexpr std::size_t kSelectionBuffer = 128000;

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  std::size_t i = 0;
  for (; prefix[i]; ++i) {
    if (i >= text.size()) return false;
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

}  // namespace

ListFileSelection ParseListText(std::string text) {
  ListFileSelection out;
  const std::string header = "newformat n=";
  if (StartsWithNoCase(text, header.c_str())) {
    // The count is at most four characters up to the line break.
    std::size_t p = header.size();
    std::string digits;
    while (p < text.size() && digits.size() < 4 && text[p] != '\n' && text[p] != '\r')
      digits += text[p++];
    out.every = std::atoi(digits.c_str());
    // A damaged header must not make the loader step by zero or backwards.
    if (out.every < 1) out.every = 1;
    const std::size_t eol = text.find('\n');
    text.erase(0, eol == std::string::npos ? text.size() : eol + 1);
  } else {
    out.every = 1;
    for (char& c : text)
      if (c == '_') c = '.';
  }
  // "%" comments go with the rest of their line and its line break.
  std::string cleaned;
  cleaned.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%') {
      const std::size_t eol = text.find('\n', i);
      if (eol == std::string::npos) break;
      i = eol;
      continue;
    }
    cleaned += text[i];
  }
  for (std::size_t i = 0; i < cleaned.size(); ++i) {
    if (cleaned[i] == '\r') continue;
    if (cleaned[i] == '\n')
      out.selection += '\0';
    else
      out.selection += cleaned[i];
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
