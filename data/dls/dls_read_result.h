#pragma once
// What a reader of an instrument's DLS export reports.
#include <string>

struct DlsReadResult {
  int files = 0;       // measurements written (the multi-measurement readers), 1, or 0 on failure
  std::string reason;  // why nothing was written
  explicit operator bool() const { return files > 0; }
};
