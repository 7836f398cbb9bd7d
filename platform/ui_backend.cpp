#include "platform/ui_backend.h"

namespace platform {

std::string StripBell(const std::string& text, bool* hadBell) {
  std::string out;
  out.reserve(text.size());
  bool bell = false;
  for (char c : text) {
    if (c == '\a') {
      bell = true;
    } else {
      out.push_back(c);
    }
  }
  if (hadBell) *hadBell = bell;
  return out;
}

}  // namespace platform
