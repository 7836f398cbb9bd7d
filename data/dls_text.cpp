#include "data/dls_text.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/paths.h"

namespace dls_text {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f'; }

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& text, std::string& reason) {
  if (path.empty()) {
    reason = "no file name";
    return false;
  }
  std::string raw;
  if (const platform::FileReadError e =
          platform::ReadWholeFile(platform::ToNative(path), raw, platform::kDataFileLimit);
      e != platform::FileReadError::None) {
    reason = platform::FileReadErrorText(path, e, platform::kDataFileLimit);
    return false;
  }
  text.clear();
  text.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '\r') {
      text += raw[i];
    } else if (i + 1 >= raw.size() || raw[i + 1] != '\n') {
      text += '\n';
    }
  }
  if (IsBlank(text)) {
    reason = "empty file";
    return false;
  }
  return true;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string_view> Tokens(std::string_view line) {
  std::vector<std::string_view> tokens;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsSpace(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !IsSpace(line[i])) ++i;
    if (i > start) tokens.push_back(line.substr(start, i - start));
  }
  return tokens;
}

bool IsBlank(std::string_view line) {
  for (char c : line)
    if (!IsSpace(c)) return false;
  return true;
}

bool ToNumber(std::string_view token, double& value) {
  if (token.empty() || token.size() > 64) return false;
  const std::string t(token);
  char* end = nullptr;
  const double v = std::strtod(t.c_str(), &end);
  if (end != t.c_str() + t.size() || !std::isfinite(v)) return false;
  value = v;
  return true;
}

std::string_view TokenAt(std::string_view text, std::size_t pos) {
  while (pos < text.size() && IsSpace(text[pos])) ++pos;
  const std::size_t start = pos;
  while (pos < text.size() && !IsSpace(text[pos])) ++pos;
  return start < text.size() ? text.substr(start, pos - start) : std::string_view();
}

bool NextNumbers(std::string_view text, std::size_t& pos, int count, std::vector<double>& out,
                 std::string& reason) {
  for (int k = 0; k < count; ++k) {
    while (pos < text.size() && IsSpace(text[pos])) ++pos;
    const std::size_t start = pos;
    while (pos < text.size() && !IsSpace(text[pos])) ++pos;
    if (pos == start) {
      reason = "the data end too early";
      return false;
    }
    double v = 0;
    const std::string_view token = text.substr(start, pos - start);
    if (!ToNumber(token, v)) {
      reason = "\"" + std::string(token) + "\" is not a number";
      return false;
    }
    out.push_back(v);
  }
  return true;
}

}  // namespace dls_text
