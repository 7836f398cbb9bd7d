#include "platform/error_box.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/sounds.h"
#include "platform/clock.h"
#include "platform/fatal_error.h"
#include "platform/input_events.h"
#include "platform/paths.h"
#include "platform/user_interface.h"

namespace platform {

ErrorBoxGate& CurrentErrorBoxGate() {
  static ErrorBoxGate gate;
  return gate;
}

QuietErrorBoxes::QuietErrorBoxes(bool on) : gate_(CurrentErrorBoxGate()), on_(on), shown_(gate_.oneShown) {
  if (on_) gate_.oneShown = true;
}

// Off, the box an evaluation showed stays counted.
QuietErrorBoxes::~QuietErrorBoxes() {
  if (on_) gate_.oneShown = shown_;
}

bool ShowWhileCounting() {
  ErrorBoxGate& gate = CurrentErrorBoxGate();
  if (!gate.counting) return true;
  if (gate.oneShown) return false;
  gate.oneShown = true;
  return true;
}

void CountFailure() {
  ErrorBoxGate& gate = CurrentErrorBoxGate();
  if (gate.counting) ++gate.failures;
}

bool ShowCountedFailure() {
  CountFailure();
  return ShowWhileCounting();
}

}  // namespace platform

int ErrorBox(const char* text, bool fatal) {
  if (!fatal && !platform::ShowWhileCounting()) return platform::IDOK;
  PlaySoundError();
  bool bell = false;
  const std::string shown = platform::StripBell(text ? text : "", &bell);
  if (bell) platform::UI().Beep();
  const int result = platform::UI().MessageBox("Error", shown, platform::BoxButtons::Ok,
                                               platform::BoxIcon::Information);
  if (fatal) {
    PlaySoundBye();
    platform::RequestQuit(0);
  }
  return result;
}

namespace {

// Milliseconds to wait, or -1 for "do not wait".
long long WaitMs(float seconds) {
  if (!(seconds > 0)) return -1;  // also NaN
  return static_cast<long long>(static_cast<double>(seconds) * 1000.0);
}

// Waits in short sleeps rather than spinning: the processor stays free and a
// manual test clock advances with every sleep. stop() ends the wait early.
template <typename Stop>
bool WaitUntil(long long ms, Stop stop) {
  platform::IClock& clock = platform::Clock();
  const std::uint64_t start = clock.TickCountMs();
  for (;;) {
    if (stop()) return true;
    const std::uint64_t elapsed = clock.TickCountMs() - start;
    if (static_cast<long long>(elapsed) >= ms) return false;
    const std::uint64_t left = static_cast<std::uint64_t>(ms) - elapsed;
    clock.SleepMs(left < 5 ? left : 5);
  }
}

// Full parse in the C locale: optional blanks and '+', the number, blanks.
template <typename T>
std::optional<T> ParseNumber(const char* text) {
  if (!text) return std::nullopt;
  const char* p = text;
  const char* end = text + std::strlen(text);
  while (p < end && std::isspace(static_cast<unsigned char>(*p))) ++p;
  while (end > p && std::isspace(static_cast<unsigned char>(end[-1]))) --end;
  if (p < end && *p == '+' && (end - p) > 1 && p[1] != '-' && p[1] != '+') ++p;
  if (p == end) return std::nullopt;
  T value = 0;
  const auto [ptr, ec] = std::from_chars(p, end, value, std::chars_format::general);
  if (ec != std::errc() || ptr != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<float> ParseFloat(const char* text) { return ParseNumber<float>(text); }

// Initial text of the prompt: "%f" above 0.01, else "%e" (formatted without
// the locale, so that the decimal point stays a point).
std::string FormatCurrent(float current) {
  if (!std::isfinite(current)) return {};  // nothing sensible to offer
  char buffer[64];
  const double v = current;
  // A whole number (a count, an order, a speed) is offered as one, not as
  // "20.000000" or "0.000000e+00".
  if (std::fabs(v) < 1e7 && v == std::floor(v)) return std::to_string(static_cast<long>(v));
  const auto format = v > 0.01 ? std::chars_format::fixed : std::chars_format::scientific;
  const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, v, format, 6);
  if (ec != std::errc()) return {};
  return std::string(buffer, ptr);
}

bool AskNumber(float* value, float current, bool showCurrent, const char* prompt,
               const char* title, bool nonNegative) {
  PlaySoundQuestion();
  std::string text = showCurrent ? FormatCurrent(current) : std::string();
  const std::string shownPrompt = prompt ? prompt : "";
  const std::string shownTitle =
      title ? title : (nonNegative ? "enter positive float" : "enter float");
  for (;;) {
    std::optional<std::string> reply = platform::UI().PromptText(shownTitle, shownPrompt, text, 14);
    if (!reply) return false;
    text = *reply;
    const bool ok = nonNegative ? IsNonNegativeNumber(text.c_str()) : IsNumber(text.c_str());
    if (ok) {
      *value = *ParseFloat(text.c_str());
      return true;
    }
    platform::UI().Beep();
  }
}

}  // namespace

void WaitSeconds(float seconds) {
  const long long ms = WaitMs(seconds);
  if (ms < 0) return;
  WaitUntil(ms, [] { return false; });
}

bool KeyPressed() {
  platform::PumpEvents();
  if (platform::TakeKeyDown()) return true;
  platform::TakeAnyInput();  // any other event is swallowed as well
  return false;
}

bool MessageWaiting(WindowHolder window) {
  if (!window) return false;
  platform::PumpEvents();
  const bool key = platform::TakeKeyDown();
  const bool interrupt = platform::InterruptRequest().exchange(false);
  return key || interrupt;
}

bool KeyPressedInWindow(WindowHolder window) {
  if (!window) return false;
  return KeyPressed();
}

bool WaitSecondsOrKey(WindowHolder window, float seconds) {
  const long long ms = WaitMs(seconds);
  if (ms < 0) return false;
  return WaitUntil(ms, [window] {
    if (!window) return false;
    platform::PumpEvents();
    return platform::KeyDownPending();
  });
}

bool ReadKey(int* character) {
  platform::PumpEvents();
  int c = 0;
  if (!platform::TakeKeyDown(&c)) {
    platform::TakeAnyInput();
    return false;
  }
  if (character) *character = c;
  return true;
}

int ReadKeyChar(WindowHolder window) {
  if (!window) return -1;
  int c = 0;
  if (!ReadKey(&c)) return -1;
  const int code = static_cast<signed char>(c);
  char text[16];
  std::snprintf(text, sizeof text, "%d", code);
  platform::UI().StatusText(text);
  return code;
}

// Only a readable regular file counts: opening a named pipe to find out would wait for a writer.
bool FileExists(const char* name) { return name && platform::FileExists(name); }

bool InputFloat(float* value, float current, bool showCurrent, const char* prompt,
                const char* title) {
  return AskNumber(value, current, showCurrent, prompt, title, false);
}

bool InputPositiveFloat(float* value, float current, bool showCurrent, const char* prompt,
                        const char* title) {
  return AskNumber(value, current, showCurrent, prompt, title, true);
}

// The prompt interface has no parent window; the desktop centres its dialogs
// on the main window anyway.
bool InputFloatEx(WindowHolder, float* value, float current, bool showCurrent, const char* prompt,
                  const char* title) {
  return AskNumber(value, current, showCurrent, prompt, title, false);
}

bool InputPositiveFloatEx(WindowHolder, float* value, float current, bool showCurrent,
                          const char* prompt, const char* title) {
  return AskNumber(value, current, showCurrent, prompt, title, true);
}

namespace {

// The whole number below the text's value, parsed in double so that one
// no int can hold is still read (to be refused with its range); none for a
// text that is no number by IsNumber's rule, or a negative one where only
// non-negative ones count.
std::optional<double> ParseWhole(const char* text, bool nonNegative) {
  const std::optional<double> value = ParseNumber<double>(text);
  if (!value || (*value == 0 && text[0] != '0') || (nonNegative && *value < 0)) return std::nullopt;
  return std::floor(*value);
}

// The prompt loop of the whole-number prompts; sayRange: an entry outside
// low..high is refused in a box naming the range (else with the beep alone).
bool AskWhole(int* value, int current, int low, int high, const char* prompt, const char* title, bool sayRange) {
  PlaySoundQuestion();
  std::string text = std::to_string(current);
  const std::string shownTitle = title ? title : "enter number";
  // Bounded like every prompt loop: a script that keeps answering wrongly ends it.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::optional<std::string> reply = platform::UI().PromptText(shownTitle, prompt ? prompt : "", text, 14);
    if (!reply) return false;
    text = *reply;
    const std::optional<double> number = ParseWhole(text.c_str(), low >= 0);
    if (number && *number >= low && *number <= high) {
      *value = static_cast<int>(*number);
      return true;
    }
    platform::UI().Beep();
    if (number && sayRange)
      platform::Tell(shownTitle, "enter a whole number from " + std::to_string(low) + " to " + std::to_string(high));
  }
  return false;
}

}  // namespace

bool InputCount(int* value, int current, const char* prompt, const char* title) {
  return AskWhole(value, current, 0, 2000000000, prompt, title, false);
}

bool InputWholeNumber(int* value, int current, int low, int high, const char* prompt, const char* title) {
  return AskWhole(value, current, low, high, prompt, title, true);
}

bool InputText(std::string* text, const char* prompt, const char* title) {
  PlaySoundQuestion();
  std::optional<std::string> reply = platform::UI().PromptText(
      title ? title : "enter float", prompt ? prompt : "", std::string(), 9999);
  if (!reply) return false;
  if (text) *text = reply->substr(0, 9999);
  return true;
}

bool InputText(char* text, const char* prompt, const char* title, std::size_t bufferSize) {
  std::string reply;
  if (!InputText(&reply, prompt, title)) return false;
  if (text && bufferSize > 0) {
    const std::size_t n = reply.size() < bufferSize - 1 ? reply.size() : bufferSize - 1;
    std::memcpy(text, reply.data(), n);
    text[n] = '\0';
  }
  return true;
}

bool IsNumber(const char* text) {
  const std::optional<float> v = ParseFloat(text);
  if (!v) return false;
  return *v != 0.0f || text[0] == '0';
}

bool IsNonNegativeNumber(const char* text) {
  const std::optional<float> v = ParseFloat(text);
  if (!v) return false;
  return *v > 0.0f || (*v == 0.0f && text[0] == '0');
}
