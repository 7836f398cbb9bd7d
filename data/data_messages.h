#pragma once
// Small message helpers shared by the loaders and the raw-data workers.
#include <cstdarg>
#include <string>

#include "platform/user_interface.h"

namespace data_messages {

// printf into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The short "info" sound that goes before a refusal.
void InfoSound();

// A modal OK box; the bell in a text is sounded, not shown.
int Box(const std::string& caption, const std::string& text);
// A Yes/No question; true only for Yes.
bool AskYesNo(const std::string& caption, const std::string& text);
// A number prompt that repeats until the text parses; false on Cancel
// (value unchanged).
bool AskFloat(const std::string& caption, const std::string& prompt, float& value);

// "not implemented for DLS data" with the info sound (caption "ERROR").
void RefuseDls();

}  // namespace data_messages
