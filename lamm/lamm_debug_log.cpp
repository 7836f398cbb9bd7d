#include "lamm/lamm_debug_log.h"

#include <atomic>
#include <cstdio>

#include "platform/error_box.h"
#include "platform/paths.h"

namespace {
std::atomic<bool> gDiagnostics{false};
}  // namespace

void SetLammDiagnosticsOutput(bool on) { gDiagnostics = on; }
bool LammDiagnosticsOutput() { return gDiagnostics; }

void CLammDebugLog::Start(const std::string& file, const char* header, bool reportFailure) {
  file_ = file;
  Append(header, reportFailure);
}

void CLammDebugLog::Append(const char* text, bool reportFailure) {
  if (!text) return;
  std::FILE* f = platform::OpenRegularForAppend(file_, !opened_);
  if (!f) {
    if (reportFailure) {
      const std::string msg = "\n\aAttention: could not open " + file_ + " to write debugging info";
      ErrorBox(msg.c_str());
    }
    return;
  }
  opened_ = true;
  std::fputs(text, f);
  std::fflush(f);
  std::fclose(f);
}
