#pragma once
// Paths of the Windows program mapped to this system: either separator is
// accepted on input; "c:\temp" means the system's temporary folder.
#include <cstdint>
#include <functional>
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

// The whole content of a regular file (native path), cut at its first NUL
// when stopAtNul. Anything else (a FIFO, a device, a folder) is refused
// without blocking: the type is checked on a non-blocking descriptor before
// the first read.
bool ReadRegularFile(const std::string& nativePath, std::string& text, bool stopAtNul);

// Writes a file under a temporary name beside path and renames it into
// place once write(temporary path) returned true, so that a run killed
// midway never leaves a cut file under the final name. False (and no temporary file left)
// otherwise.
bool WriteThroughTemporary(const std::string& path,
                           const std::function<bool(const std::string& temporaryPath)>& write);

// File times in seconds since the epoch (with fractions).
struct FileTimes {
  std::optional<double> creation;  // not available on every file system
  double access = 0;
  double modification = 0;
};
std::optional<FileTimes> GetFileTimes(const std::string& path);
bool SetFileTimes(const std::string& path, double access, double modification);

}  // namespace platform
