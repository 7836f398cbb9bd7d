#include "platform/diagnostics.h"

#include <unistd.h>

#include <cstdio>

#include "platform/paths.h"
#include "platform/user_interface.h"

namespace platform {

namespace {

// The thread number in the name keeps this log apart from the workers' logs.
constexpr int kThreadNumber = 0;

std::function<void(const std::string&)>& Reporter() {
  static std::function<void(const std::string&)> report = [](const std::string& text) {
    bool bell = false;
    const std::string shown = StripBell(text, &bell);
    if (bell) UI().Beep();
    Tell("Error", shown);
  };
  return report;
}

std::string LogName() {
  char name[100];
  // The process id keeps runs that share the temporary folder apart.
  std::snprintf(name, sizeof name, "c:\\temp\\Tarneldebug_t%d_%ld.txt", kThreadNumber,
                static_cast<long>(getpid()));
  return ToNative(name);
}

void ReportUnopened(const std::string& name, const char* tail) {
  Reporter()("\n\aAttention: could not open " + name + tail);
}

// Writes text in "wt" mode the first time, "at" afterwards.
void WriteToLog(DiagnosticsStateRecord& s, const std::string& text) {
  // A pipe or a folder at the log's name is refused, never waited on.
  std::FILE* f = OpenRegularForAppend(s.DiagFileName, !s.DiagLogOpened);
  if (!f) {
    ReportUnopened(s.DiagFileName, " to write debugging info");
    return;
  }
  std::fputs(text.c_str(), f);
  std::fflush(f);
  std::fclose(f);
  s.DiagLogOpened = true;
}

}  // namespace

DiagnosticsStateRecord& DiagnosticsState() {
  static DiagnosticsStateRecord state;
  return state;
}

std::string DiagnosticsLogPath() { return LogName(); }

void WriteDiagnostics(const char* text) {
  DiagnosticsStateRecord& s = DiagnosticsState();
  if (!s.DiagnosticsOn.load(std::memory_order_relaxed)) return;
  if (!s.haveFileName) {
    s.DiagFileName = LogName();
    s.haveFileName = true;
  }
  if (!s.haveBanner) {
    char banner[1000];
    std::snprintf(banner, sizeof banner,
                  "\nstarting new tarnel debugging session for thread #%d", kThreadNumber);
    s.DiagBanner = banner;
    s.haveBanner = true;
    WriteToLog(s, s.DiagBanner);
    // The text that triggered the banner is kept as well.
  }
  if (!text) return;
  WriteToLog(s, text);
}

bool ToggleDiagnosticsOutput() {
  const std::string name = LogName();
  std::FILE* f = OpenRegularForAppend(name, true);
  if (!f) {
    ReportUnopened(name, " to write debugging info: Create Directory");
    return false;
  }
  std::fclose(f);
  DiagnosticsStateRecord& s = DiagnosticsState();
  s.DiagnosticsOn = !s.DiagnosticsOn.load();
  return true;
}

void SetDiagnosticsErrorReporter(std::function<void(const std::string&)> report) {
  if (report) Reporter() = std::move(report);
}

}  // namespace platform
