#include "data/data_messages.h"

#include <cstdio>
#include <cstdlib>

#include "platform/error_box.h"
#include "platform/sounds.h"

namespace data_messages {

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(out.data(), out.size() + 1, format, args);
  va_end(args);
  return out;
}

void InfoSound() { PlaySoundInfo(); }

int Box(const std::string& caption, const std::string& text) {
  bool bell = false;
  const std::string shown = platform::StripBell(text, &bell);
  if (bell) platform::UI().Beep();
  return platform::UI().MessageBox(caption, shown, platform::BoxButtons::Ok,
                                   platform::BoxIcon::Information);
}

bool AskYesNo(const std::string& caption, const std::string& text) {
  return platform::UI().MessageBox(caption, text, platform::BoxButtons::YesNo,
                                   platform::BoxIcon::Question) == platform::IDYES;
}

bool AskFloat(const std::string& caption, const std::string& prompt, float& value) {
  return InputFloat(&value, value, true, prompt.c_str(), caption.c_str());
}

void RefuseDls() {
  InfoSound();
  Box("ERROR", "not implemented for DLS data");
}

}  // namespace data_messages
