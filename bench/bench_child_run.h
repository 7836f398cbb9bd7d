#pragma once
// An unattended run of the program as a child process, started in `folder`
// with the program folder `home`, its output in run.stdout and run.stderr
// there. The bench program defines TARNEL_PROGRAM.
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

inline pid_t StartUnattendedRun(const std::string& folder, const std::string& home) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(folder.c_str()) != 0) _exit(120);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("TARNEL_HOME", home.c_str(), 1);
    std::freopen("run.stderr", "w", stderr);
    std::freopen("run.stdout", "w", stdout);
    execl(TARNEL_PROGRAM, TARNEL_PROGRAM, "bench", "params.xml", static_cast<char*>(nullptr));
    _exit(122);
  }
  return pid;
}

// The whole of a file (a parameter file to vary, a result to read).
inline std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The first `from` in `text` replaced by `to`.
inline void Replace(std::string& text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
}
