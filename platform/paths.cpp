#include "platform/paths.h"

#include <sys/stat.h>
#include <unistd.h>
#include <fcntl.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>

namespace platform {

namespace {
bool IsSep(char c) { return c == '/' || c == '\\'; }

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}
}  // namespace

char Separator() { return '/'; }

PathParts SplitPath(const std::string& path) {
  PathParts p;
  std::size_t start = 0;
  if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
    p.drive = path.substr(0, 2);
    start = 2;
  }
  std::size_t lastSep = std::string::npos;
  for (std::size_t i = start; i < path.size(); ++i)
    if (IsSep(path[i])) lastSep = i;
  std::string file;
  if (lastSep == std::string::npos) {
    file = path.substr(start);
  } else {
    p.folder = path.substr(start, lastSep + 1 - start);
    file = path.substr(lastSep + 1);
  }
  const std::size_t dot = file.rfind('.');
  if (dot == std::string::npos || dot == 0) {
    p.name = file;
  } else {
    p.name = file.substr(0, dot);
    p.extension = file.substr(dot);
  }
  return p;
}

std::string JoinPath(const PathParts& parts) {
  return parts.drive + parts.folder + parts.name + parts.extension;
}

std::string Combine(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (IsSep(folder.back())) return folder + name;
  return folder + Separator() + name;
}

std::string SystemTempFolder() {
  const char* t = std::getenv("TMPDIR");
  std::string folder = (t && *t) ? t : "/tmp";
  if (!IsSep(folder.back())) folder.push_back(Separator());
  return folder;
}

std::string ToNative(const std::string& path) {
  std::string p = path;
  const std::string lower = Lower(p.substr(0, 7));
  if (lower == "c:\\temp" || lower == "c:/temp") {
    std::string rest = p.substr(7);
    while (!rest.empty() && IsSep(rest.front())) rest.erase(rest.begin());
    p = SystemTempFolder() + rest;
  }
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}

std::string ProgramFolderFromEnvironment(const std::string& argv0) {
  std::string folder;
  if (const char* home = std::getenv("TARNEL_HOME"); home && *home) {
    folder = home;
  } else {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
      folder = exe.parent_path().string();
    } else {
      folder = SplitPath(argv0).folder;
    }
  }
  if (!folder.empty() && !IsSep(folder.back())) folder.push_back(Separator());
  return folder;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  if (stat(ToNative(path).c_str(), &st) != 0) return false;
  return S_ISREG(st.st_mode) && access(ToNative(path).c_str(), R_OK) == 0;
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return stat(ToNative(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool SameFile(const std::string& a, const std::string& b) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::equivalent(ToNative(a), ToNative(b), ec)) return true;
  std::error_code e1, e2;
  const fs::path pa = fs::weakly_canonical(ToNative(a), e1);
  const fs::path pb = fs::weakly_canonical(ToNative(b), e2);
  if (e1 || e2) return ToNative(a) == ToNative(b);
  return pa == pb;
}

bool CreateDirectory(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directory(ToNative(path), ec);
  return !ec && DirectoryExists(path);
}

std::optional<FileTimes> GetFileTimes(const std::string& path) {
  const std::string native = ToNative(path);
  FileTimes t;
#ifdef STATX_BTIME
  struct statx sx {};
  if (statx(AT_FDCWD, native.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) == 0) {
    t.access = sx.stx_atime.tv_sec + sx.stx_atime.tv_nsec * 1e-9;
    t.modification = sx.stx_mtime.tv_sec + sx.stx_mtime.tv_nsec * 1e-9;
    if (sx.stx_mask & STATX_BTIME) t.creation = sx.stx_btime.tv_sec + sx.stx_btime.tv_nsec * 1e-9;
    return t;
  }
#endif
  struct stat st {};
  if (stat(native.c_str(), &st) != 0) return std::nullopt;
  t.access = st.st_atim.tv_sec + st.st_atim.tv_nsec * 1e-9;
  t.modification = st.st_mtim.tv_sec + st.st_mtim.tv_nsec * 1e-9;
  return t;
}

bool SetFileTimes(const std::string& path, double access, double modification) {
  struct timespec ts[2];
  auto toSpec = [](double s) {
    struct timespec t;
    t.tv_sec = static_cast<time_t>(s);
    t.tv_nsec = static_cast<long>((s - static_cast<double>(t.tv_sec)) * 1e9);
    if (t.tv_nsec < 0) t.tv_nsec = 0;
    return t;
  };
  ts[0] = toSpec(access);
  ts[1] = toSpec(modification);
  return utimensat(AT_FDCWD, ToNative(path).c_str(), ts, 0) == 0;
}

FileReadError ReadWholeFile(const std::string& nativePath, std::string& text, std::size_t maxBytes,
                            bool stopAtNul) {
  const int fd = open(nativePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? FileReadError::Missing : FileReadError::CannotOpen;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return FileReadError::NotRegular;
  }
  if (st.st_size > 0 && static_cast<std::uintmax_t>(st.st_size) > maxBytes) {
    close(fd);
    return FileReadError::TooLarge;
  }
  std::string out;
  char chunk[1 << 16];
  FileReadError result = FileReadError::None;
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      result = FileReadError::ReadFailed;
      break;
    }
    if (got == 0) break;
    const auto* nul = stopAtNul ? static_cast<const char*>(std::memchr(chunk, '\0', static_cast<std::size_t>(got)))
                                : nullptr;
    out.append(chunk, nul ? static_cast<std::size_t>(nul - chunk) : static_cast<std::size_t>(got));
    if (nul) break;
    // A file still growing while it is read counts with what it has become.
    if (out.size() > maxBytes) {
      result = FileReadError::TooLarge;
      break;
    }
  }
  close(fd);
  if (result == FileReadError::None) text.swap(out);
  return result;
}

std::string FileReadErrorText(const std::string& path, FileReadError error, std::size_t maxBytes) {
  switch (error) {
    case FileReadError::None:
      return std::string();
    case FileReadError::Missing:
    case FileReadError::CannotOpen:
      return "could not open " + path;
    case FileReadError::NotRegular:
      return path + " is not a regular file";
    case FileReadError::TooLarge: {
      char limit[64];
      if (maxBytes >= (std::size_t{1} << 20))
        std::snprintf(limit, sizeof limit, "%zu MB", maxBytes >> 20);
      else
        std::snprintf(limit, sizeof limit, "%zu bytes", maxBytes);
      return path + " is larger than " + limit + ", too large to be read";
    }
    case FileReadError::ReadFailed:
      return "could not read " + path;
  }
  return "could not read " + path;
}

bool ReadRegularFile(const std::string& nativePath, std::string& text, bool stopAtNul,
                     std::size_t maxBytes) {
  return ReadWholeFile(nativePath, text, maxBytes, stopAtNul) == FileReadError::None;
}

CheckedInputFile::CheckedInputFile(const std::string& nativePath, std::size_t maxBytes)
    : path_(nativePath), maxBytes_(maxBytes) {
  error_ = ReadWholeFile(nativePath, text_, maxBytes);
  if (error_ != FileReadError::None) return;
  // fmemopen takes an empty buffer too: the stream then reads as EOF at once.
  file_ = fmemopen(text_.data(), text_.size(), "r");
  if (!file_) error_ = FileReadError::ReadFailed;
}

CheckedInputFile::~CheckedInputFile() {
  if (file_) std::fclose(file_);
}

std::string CheckedInputFile::ErrorText() const { return FileReadErrorText(path_, error_, maxBytes_); }

namespace {

bool IsSomethingElseThanARegularFile(const std::string& native) {
  struct stat st {};
  return stat(native.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

// A new empty file under a hidden name beside native (the same folder, so
// that the rename stays on one file system); -1 when none can be made, or
// when a pipe, a device or a folder stands at native: that is never
// opened, and never replaced by the rename. The name is "." + the target's
// name + ".XXXXXX", its middle cut where that would be longer than the
// folder takes: whenever the target's name fits, so does the temporary's
// (and a temporary of a temporary, as a writer called through
// WriteThroughTemporary makes, fits too).
int CreateTemporaryBeside(const std::string& native, std::string& temporary) {
  if (native.empty() || IsSomethingElseThanARegularFile(native)) return -1;
  const std::size_t slash = native.find_last_of('/');
  const std::string folder = slash == std::string::npos ? std::string() : native.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? native : native.substr(slash + 1);
  constexpr std::size_t kAdded = 8;  // "." and ".XXXXXX"
  long nameMax = pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
  if (nameMax <= 0) nameMax = NAME_MAX;
  std::size_t keep = name.size();
  if (keep + kAdded > static_cast<std::size_t>(nameMax))
    keep = static_cast<std::size_t>(nameMax) > kAdded ? static_cast<std::size_t>(nameMax) - kAdded : 0;
  if (folder.size() + keep + kAdded >= PATH_MAX)
    keep = folder.size() + kAdded < PATH_MAX ? PATH_MAX - 1 - folder.size() - kAdded : 0;
  temporary = folder + "." + name.substr(0, keep) + ".XXXXXX";
  return mkostemp(temporary.data(), O_CLOEXEC);
}

// The permissions the file at native gets: those of the regular file it
// replaces (a result kept read-only stays so), else those of an ordinary
// new file (mkstemp makes it private; a result file is read by others too).
// The umask is read once: reading it means setting it, which other threads
// must not see.
mode_t ModeOfReplacement(const std::string& native) {
  static const mode_t mask = [] {
    const mode_t m = umask(0);
    umask(m);
    return m;
  }();
  struct stat st {};
  if (lstat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 0777;
  return 0666 & ~mask;
}

// The whole temporary file becomes the file at native. The target is
// checked again, as it may have become something else while the file was
// written. A link at native is replaced by the file, never written through.
bool PublishTemporary(const std::string& temporary, const std::string& native) {
  return !IsSomethingElseThanARegularFile(native) && chmod(temporary.c_str(), ModeOfReplacement(native)) == 0 &&
         std::rename(temporary.c_str(), native.c_str()) == 0;
}

}  // namespace

bool WriteThroughTemporary(const std::string& path,
                           const std::function<bool(const std::string&)>& write) {
  const std::string native = ToNative(path);
  std::string temporary;
  const int fd = CreateTemporaryBeside(native, temporary);
  if (fd < 0) return false;
  close(fd);
  const bool ok = write(temporary) && PublishTemporary(temporary, native);
  if (!ok) std::remove(temporary.c_str());
  return ok;
}

CheckedOutputFile::CheckedOutputFile(const std::string& path) : path_(path), native_(ToNative(path)) {
  std::string temporary;
  const int fd = CreateTemporaryBeside(native_, temporary);
  if (fd < 0) return;
  file_ = fdopen(fd, "w");
  if (!file_) {
    close(fd);
    std::remove(temporary.c_str());
    return;
  }
  temporary_ = temporary;
}

CheckedOutputFile::~CheckedOutputFile() { Discard(); }

void CheckedOutputFile::Discard() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  if (!temporary_.empty()) std::remove(temporary_.c_str());
  temporary_.clear();
}

bool CheckedOutputFile::Commit() {
  if (!file_) return false;
  bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
  ok = std::fclose(file_) == 0 && ok;
  file_ = nullptr;
  if (ok) ok = PublishTemporary(temporary_, native_);
  if (ok) temporary_.clear();
  Discard();
  return ok;
}

bool WriteWholeFile(const std::string& path, const std::string& text) {
  CheckedOutputFile out(path);
  if (!out) return false;
  if (!text.empty() && std::fwrite(text.data(), 1, text.size(), out.get()) != text.size()) return false;
  return out.Commit();
}

namespace {

struct SaidWriteFailures {
  std::mutex mutex;
  std::set<std::string> paths;
};

SaidWriteFailures& SaidFailures() {
  static SaidWriteFailures said;
  return said;
}

}  // namespace

bool FirstWriteFailure(const std::string& path) {
  SaidWriteFailures& said = SaidFailures();
  const std::lock_guard<std::mutex> lock(said.mutex);
  return said.paths.insert(path).second;
}

bool WriteFailureSaid(const std::string& path) {
  SaidWriteFailures& said = SaidFailures();
  const std::lock_guard<std::mutex> lock(said.mutex);
  return said.paths.count(path) > 0;
}

void ForgetWriteFailures() {
  SaidWriteFailures& said = SaidFailures();
  const std::lock_guard<std::mutex> lock(said.mutex);
  said.paths.clear();
}

std::FILE* OpenRegularForAppend(const std::string& path, bool truncate) {
  const std::string native = ToNative(path);
  if (native.empty()) return nullptr;
  int fd = -1;
  if (truncate) {
    // A new file renamed into place, as every other file is written: a
    // link (symbolic or hard) at the name is replaced, never emptied or
    // written through, so a log can never overwrite what the link names.
    std::string temporary;
    fd = CreateTemporaryBeside(native, temporary);
    if (fd < 0) return nullptr;
    if (!PublishTemporary(temporary, native)) {
      close(fd);
      std::remove(temporary.c_str());
      return nullptr;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_APPEND) != 0) {
      close(fd);
      return nullptr;
    }
  } else {
    // Non-blocking so that a named pipe without a reader cannot hold the
    // open; a link is not followed, and a file with a second name (a hard
    // link to some other file) is not appended to.
    fd = open(native.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW,
              0666);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
      close(fd);
      return nullptr;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  }
  std::FILE* f = fdopen(fd, "a");
  if (!f) close(fd);
  return f;
}

}  // namespace platform
