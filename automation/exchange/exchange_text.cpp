#include "automation/exchange/exchange_text.h"

#include <cstdarg>
#include <vector>

#include "platform/sounds.h"
#include "platform/paths.h"
#include "platform/user_interface.h"

namespace exchange {

void Appendf(std::string& text, const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return;
  if (static_cast<std::size_t>(n) < sizeof buffer) {
    text.append(buffer, static_cast<std::size_t>(n));
    return;
  }
  std::vector<char> big(static_cast<std::size_t>(n) + 1);
  va_start(args, format);
  std::vsnprintf(big.data(), big.size(), format, args);
  va_end(args);
  text.append(big.data(), static_cast<std::size_t>(n));
}

void Refuse(const std::string& text) {
  PlaySoundInfo();
  platform::Tell("ERROR", text, platform::BoxIcon::Error);
}

TextFile::TextFile(std::string path, const char* cannotOpen)
    : path_(std::move(path)), cannotOpen_(cannotOpen) {}

TextFile::~TextFile() = default;

bool TextFile::Open() {
  file_ = std::make_unique<platform::CheckedOutputFile>(path_);
  if (*file_) return true;
  file_.reset();
  std::string message;
  Appendf(message, cannotOpen_, path_.c_str());
  Refuse(message);
  return false;
}

bool TextFile::Close() {
  if (!file_) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file_->get()) == text.size();
  const bool closed = written && file_->Commit();
  file_.reset();
  if (written && closed) return true;
  Refuse("could not write " + path_);
  return false;
}

}  // namespace exchange
