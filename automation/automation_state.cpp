#include "automation/automation_state.h"

#include <cstdio>
#include <memory>

#include "platform/paths.h"

namespace {

AutomationState g_state;
struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
std::unique_ptr<std::FILE, FileCloser> g_log;

}  // namespace

AutomationState& CurrentAutomationState() { return g_state; }

void AutomationLog(const std::string& line) {
  std::fprintf(stderr, "tarnel: %s\n", line.c_str());
  std::fflush(stderr);
  if (g_log) {
    std::fprintf(g_log.get(), "%s\n", line.c_str());
    std::fflush(g_log.get());
  }
}

void RecordAutomationFailure(int exitCode, const std::string& step, const std::string& reason) {
  if (g_state.exitCode == kAutomationOk) {
    g_state.exitCode = exitCode;
    g_state.failedStep = step;
  }
  if (!g_state.failures.empty()) g_state.failures += "; ";
  g_state.failures += reason;
  AutomationLog("automation failed: " + reason);
}

void OpenAutomationLog(const std::string& folder) {
  if (folder.empty()) return;
  if (!platform::DirectoryExists(folder)) platform::CreateDirectory(folder);
  const std::string path = platform::Combine(folder, "automation.log");
  g_log.reset(platform::OpenRegularForAppend(path, true));
  if (!g_log) AutomationLog("could not open " + path + " (not a writable regular file): logging to stderr only");
}

void CloseAutomationLog() { g_log.reset(); }
