#pragma once
// The whole of a file as it stands on disk, byte for byte (empty when it
// cannot be read), and a text or a file cut into its lines: what the tests
// compare written files with.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace teststate {

inline std::string FileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The lines of a text without their line breaks; a last line without one
// counts.
inline std::vector<std::string> TextLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline std::vector<std::string> FileLines(const std::filesystem::path& path) { return TextLines(FileText(path)); }

}  // namespace teststate
