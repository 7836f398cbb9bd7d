#pragma once
// The diagnostics log: trace texts of the user-interface thread, written to
// "c:\temp\Tarneldebug_t0_<pid>.txt" (the system temporary folder here; the
// process id keeps parallel runs apart) while the user has switched
// diagnostics output on. Every call opens and closes the file, so the log
// survives a crash. Worker threads keep logs of their own.
#include <atomic>
#include <functional>
#include <string>

namespace platform {

struct DiagnosticsStateRecord {
  std::atomic<bool> DiagnosticsOn{false};
  bool haveFileName = false;  // DiagFileName made
  std::string DiagFileName;
  bool haveBanner = false;    // DiagBanner made (and written)
  std::string DiagBanner;
  bool DiagLogOpened = false;  // the log was emptied by the first write
};

DiagnosticsStateRecord& DiagnosticsState();

// Appends text unchanged (a "%" stays a "%"); callers start it with "\n"
// for a new line. Returns at once while diagnostics are off. The first call
// after switching on writes the banner line before the text.
void WriteDiagnostics(const char* text);
inline void WriteDiagnostics(const std::string& text) { WriteDiagnostics(text.c_str()); }

// The switch of the Help menu command: empties the log first; when that
// fails the "Create Directory" message is reported and nothing changes
// (false). Otherwise flips DiagnosticsOn and returns true.
bool ToggleDiagnosticsOutput();

// How a log that cannot be opened is reported (not fatal). The default shows
// a box captioned "Error"; the program installs its error box.
void SetDiagnosticsErrorReporter(std::function<void(const std::string&)> report);

// The log's native path.
std::string DiagnosticsLogPath();

}  // namespace platform
