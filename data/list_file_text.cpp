#include "data/list_file_text.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

}  // namespace

ListFileText ParseListFileText(std::string_view text) {
  ListFileText out;
  constexpr std::string_view kHeader = "newformat n=";
  out.newFormat = StartsWithNoCase(text, kHeader);
  if (out.newFormat) {
    // The count is at most four characters before the line break.
    std::string digits;
    for (std::size_t p = kHeader.size(); p < text.size() && digits.size() < 4; ++p) {
      if (text[p] == '\n' || text[p] == '\r') break;
      digits += text[p];
    }
    // A damaged count must not make the loader step by zero or backwards.
    out.every = std::max(1, std::atoi(digits.c_str()));
  }

  // The first empty line ends the list: whatever follows it is no part of
  // it. A line that holds only a comment is no empty line; it is dropped.
  std::vector<std::string> lines;
  std::string line;
  bool commented = false, ended = false;
  auto endLine = [&] {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
    if (!line.empty())
      lines.push_back(line);
    else if (!commented)
      ended = true;
    line.clear();
    commented = false;
  };
  for (std::size_t k = 0; k < text.size() && !ended; ++k) {
    const char c = text[k];
    if (c == '%') {
      commented = true;
      while (k + 1 < text.size() && text[k + 1] != '\n') ++k;
    } else if (c == '\n') {
      endLine();
    } else {
      line += c;
    }
  }
  if (!ended) endLine();

  if (out.newFormat && !lines.empty()) lines.erase(lines.begin());
  if (lines.empty()) return out;
  out.folder = lines.front();
  out.names.assign(lines.begin() + 1, lines.end());
  if (!out.newFormat)
    for (std::string& n : out.names) std::replace(n.begin(), n.end(), '_', '.');
  return out;
}
