#pragma once
// A shell command that starts this test program again with one test of it,
// as a fresh process would run it. The framework's variables of the run
// that started it (a shard of a sharded run, a report file, a repeat count)
// are taken out of the child's environment: a child in shard 2 of 4 would
// otherwise run no test at all, and one given the report file would write
// over the parent's.
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

extern char** environ;

namespace teststate {

// `variables` (NAME='value' ...) are set for it; `test` is the full name of
// the test to run, disabled or not; a child still running after `seconds`
// (when given) is ended.
inline std::string OwnProgramRunning(const std::string& test, const std::string& variables = {}, int seconds = 0) {
  std::string line = "env";
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "GTEST_", 6) == 0) line += " -u " + std::string(*e, std::strcspn(*e, "="));
  if (!variables.empty()) line += " " + variables;
  if (seconds > 0) line += " timeout " + std::to_string(seconds);
  line += " '" + std::filesystem::read_symlink("/proc/self/exe").string() +
          "' --gtest_also_run_disabled_tests --gtest_filter=" + test;
  return line;
}

}  // namespace teststate
