#pragma once
// The whole of a file as it stands on disk, byte for byte (empty when it
// cannot be read): what the tests compare written files with.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace teststate {

inline std::string FileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace teststate
