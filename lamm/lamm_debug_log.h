#pragma once
// The debug file of one solver: named and given its header line by the first
// call, appended to by every later one. It lives beside the solver rather than
// in it, so the solver's read-only paths (a template logging the list runs
// made from it) can write it without the solver's own state changing.
#include <string>

// Program-wide switch "Diagnostics Output to Files": solvers made while it is
// on write their debug files.
void SetLammDiagnosticsOutput(bool on);
bool LammDiagnosticsOutput();

class CLammDebugLog {
 public:
  bool Started() const { return !file_.empty(); }
  // Names the file and writes `header` as its first text (the file is
  // emptied first).
  void Start(const std::string& file, const char* header, bool reportFailure);
  // Appends text; nothing when text is null. A file that cannot be opened is
  // reported in a box unless reportFailure is false (a worker thread).
  void Append(const char* text, bool reportFailure);

 private:
  std::string file_;
  bool opened_ = false;
};
