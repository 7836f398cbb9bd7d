#pragma once
// Small pieces shared by the writers of exchange files: formatted appending
// to a text that is written in one piece, and the refusal box.
#include <cstdio>
#include <memory>
#include <string>

#include "platform/paths.h"

namespace exchange {

// printf-style appending.
void Appendf(std::string& text, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The information sound, then a box captioned "ERROR" with the stop icon.
void Refuse(const std::string& text);

// A file opened at once (so that a refused path is known before anything is
// asked) whose text is written whole at Close.
class TextFile {
 public:
  // cannotOpen is the refusal's format with one "%s" for the path.
  explicit TextFile(std::string path, const char* cannotOpen = "could not open %s");
  ~TextFile();
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;
  // False (refused) when the file cannot be opened for writing.
  bool Open();
  // Writes text and closes; false (refused) when it was not written whole.
  bool Close();

  std::string text;

 private:
  std::string path_;
  const char* cannotOpen_;
  // Written under a temporary name, renamed into place when whole.
  std::unique_ptr<platform::CheckedOutputFile> file_;
};

}  // namespace exchange
