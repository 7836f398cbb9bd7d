#pragma once
// Paths of the Windows program mapped to this system: either separator is
// accepted on input; "c:\temp" means the system's temporary folder.
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

struct PathParts {
  std::string drive;   // always empty here
  std::string folder;  // with its trailing separator, or empty
  std::string name;
  std::string extension;  // with its dot, or empty
};

PathParts SplitPath(const std::string& path);
std::string JoinPath(const PathParts& parts);
// Folder and name joined with one separator.
std::string Combine(const std::string& folder, const std::string& name);
// Backslashes to slashes, and "c:\temp" to the temporary folder.
std::string ToNative(const std::string& path);
char Separator();

// $TARNEL_HOME when set, else the executable's folder; with a trailing separator.
std::string ProgramFolderFromEnvironment(const std::string& argv0);
// The system temporary folder with a trailing separator ("c:\temp\").
std::string SystemTempFolder();

bool FileExists(const std::string& path);       // a readable regular file
bool DirectoryExists(const std::string& path);
bool CreateDirectory(const std::string& path);

// File times in seconds since the epoch (with fractions).
struct FileTimes {
  std::optional<double> creation;  // not available on every file system
  double access = 0;
  double modification = 0;
};
std::optional<FileTimes> GetFileTimes(const std::string& path);
bool SetFileTimes(const std::string& path, double access, double modification);

}  // namespace platform
