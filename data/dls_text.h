#pragma once
// Text handling shared by the dlsdat reader and the instrument readers: the
// whole file in memory with its line ends made plain, blank-separated tokens
// and strict numbers (a token that is not entirely a finite number is
// refused, never read as 0).
#include <string>
#include <string_view>
#include <vector>

namespace dls_text {

// The file's text with CRLF and lone CR turned into LF; false with a reason
// for a missing path, an unopenable file or an empty one.
bool ReadWholeFile(const std::string& path, std::string& text, std::string& reason);

std::vector<std::string_view> SplitLines(std::string_view text);
// Blank-separated tokens (blanks, tabs).
std::vector<std::string_view> Tokens(std::string_view line);
bool IsBlank(std::string_view line);

// The token as a finite number.
bool ToNumber(std::string_view token, double& value);

// Reads count numbers from the token stream beginning at text[pos];
// pos ends after the last one. False with a reason when the text ends first
// or a token is not a number.
bool NextNumbers(std::string_view text, std::size_t& pos, int count, std::vector<double>& out,
                 std::string& reason);

// The token after position pos (blanks skipped), or empty.
std::string_view TokenAt(std::string_view text, std::size_t pos);

}  // namespace dls_text
