#pragma once
// Paths of the Windows program mapped to this system: either separator is
// accepted on input; "c:\temp" means the system's temporary folder.
#include <cstddef>
#include <cstdint>
#include <cstdio>
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
// Two paths naming one file: the same file when both exist (links and "..",
// "." resolved), else the same resolved text.
bool SameFile(const std::string& a, const std::string& b);

// Size bounds of the files the program reads whole. A file above its bound is
// refused rather than read: a sparse or runaway file must not take the memory.
inline constexpr std::size_t kSettingsFileLimit = std::size_t{1} << 20;  // preferences, pointers
inline constexpr std::size_t kTableFileLimit = std::size_t{64} << 20;    // tables, lists, parameters
inline constexpr std::size_t kDataFileLimit = std::size_t{256} << 20;    // scans, exports, matrices

enum class FileReadError {
  None,
  Missing,     // no file of that name (nor a dangling link's target)
  CannotOpen,  // no permission, a loop of symbolic links, ...
  NotRegular,  // a folder, a named pipe, a device
  TooLarge,    // above the bound of its kind
  ReadFailed,  // the system reported an error while reading
};

// The one way in for every file a user or the program folder names: the
// whole content of a regular file (native path) of at most maxBytes, cut at
// its first NUL when stopAtNul. Anything else (a FIFO, a device, a folder)
// is refused without blocking: the type is checked on a non-blocking
// descriptor before the first read, and no more than maxBytes + 1 bytes are
// ever read. text is left as it was unless the read succeeds.
FileReadError ReadWholeFile(const std::string& nativePath, std::string& text, std::size_t maxBytes,
                            bool stopAtNul = false);
// The message for a failed read, naming the file: "could not open <path>",
// "<path> is not a regular file", ...
std::string FileReadErrorText(const std::string& path, FileReadError error, std::size_t maxBytes);

// ReadWholeFile with the data bound, as a yes/no.
bool ReadRegularFile(const std::string& nativePath, std::string& text, bool stopAtNul,
                     std::size_t maxBytes = kDataFileLimit);

// A read-only stdio stream over a file read whole through ReadWholeFile, for
// the readers that parse with stdio: they see exactly the checked content.
class CheckedInputFile {
 public:
  CheckedInputFile(const std::string& nativePath, std::size_t maxBytes);
  ~CheckedInputFile();
  CheckedInputFile(const CheckedInputFile&) = delete;
  CheckedInputFile& operator=(const CheckedInputFile&) = delete;
  std::FILE* get() const { return file_; }
  explicit operator bool() const { return file_ != nullptr; }
  FileReadError error() const { return error_; }
  // The reason it could not be opened, naming the file ("" when it is open).
  std::string ErrorText() const;

 private:
  std::string path_;
  std::size_t maxBytes_;
  std::string text_;
  std::FILE* file_ = nullptr;
  FileReadError error_ = FileReadError::None;
};

// Writes a file under a temporary name beside path and renames it into
// place once write(temporary path) returned true, so that a run killed
// midway never leaves a cut file under the final name. False (and no temporary file left)
// otherwise, and at once when path names something other than a regular file
// (a named pipe, a device, a folder), which is never replaced. The temporary
// name fits the folder whenever path does; the file gets the permissions of
// the regular file it replaces (those of a new file otherwise), and a link at
// path is replaced, never written through.
bool WriteThroughTemporary(const std::string& path,
                           const std::function<bool(const std::string& temporaryPath)>& write);

// A stdio stream for a file written whole: it writes to a temporary name
// beside path, and Commit() flushes, checks every error the stream met,
// closes, and only then renames it over path. Without a successful Commit()
// (a failed write, a full disk, a file-size limit, an early return) the
// temporary file is removed and whatever stood at path before is kept, so a
// cut file never appears under the final name. A path naming something other
// than a regular file (a named pipe, a device, a folder) is refused at once
// and never opened, so it can never block the writer.
class CheckedOutputFile {
 public:
  explicit CheckedOutputFile(const std::string& path);
  ~CheckedOutputFile();
  CheckedOutputFile(const CheckedOutputFile&) = delete;
  CheckedOutputFile& operator=(const CheckedOutputFile&) = delete;
  std::FILE* get() const { return file_; }
  explicit operator bool() const { return file_ != nullptr; }
  // True once the whole file stands at path.
  bool Commit();
  // Gives up: the temporary file goes, path keeps what it held.
  void Discard();
  // The path as given, for the message that names a failure.
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::string native_;
  std::string temporary_;
  std::FILE* file_ = nullptr;
};

// The whole text into path through CheckedOutputFile.
bool WriteWholeFile(const std::string& path, const std::string& text);

// True the first time a path is named here in a session (thread-safe): a
// write that fails at every run or fit is said once, not at each.
bool FirstWriteFailure(const std::string& path);
// True when a failure of path was already said this session.
bool WriteFailureSaid(const std::string& path);
// A new session: every path is said again at its next failure.
void ForgetWriteFailures();

// A stream for a file that grows while the program runs (a log), refused
// (null) without waiting when path names a named pipe, a device or a folder.
// With truncate a new empty file is renamed into place, so that a link at
// path is replaced and never written through; without, the regular file at
// path (created when absent) is appended to, unless path is a symbolic link
// or the file has a second name.
std::FILE* OpenRegularForAppend(const std::string& path, bool truncate);

// File times in seconds since the epoch (with fractions).
struct FileTimes {
  std::optional<double> creation;  // not available on every file system
  double access = 0;
  double modification = 0;
};
std::optional<FileTimes> GetFileTimes(const std::string& path);
bool SetFileTimes(const std::string& path, double access, double modification);

}  // namespace platform
