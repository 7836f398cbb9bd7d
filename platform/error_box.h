#pragma once
// The shared error box, waiting, key polling, file test and number prompts.
// All of them belong to the user-interface thread; long computations there
// call the pollers to notice the user.
#include <cstddef>
#include <string>

// The window a poll or prompt belongs to (the main window as a rule); null
// means none. Opaque here: only its presence matters below the window layer.
using WindowHolder = const void*;

// Error sound, then a modal box captioned "Error" with the information icon
// and OK. With fatal set, the farewell sound plays (synchronously) and the
// program's end is requested; callers of a fatal box must not go on with the
// failed operation (nrerror throws platform::FatalError for them).
int ErrorBox(const char* text, bool fatal = false);

namespace platform {
// A fit evaluates its model at every trial step, and a step the solvers
// cannot compute fails there again and again: while a fit evaluates (the
// gate is counting), only the fit's first error box is shown, and the
// failures its evaluation reports are counted for the fit to reject the
// step. A solver's box alone is no failure: a retry may still succeed.
struct ErrorBoxGate {
  bool counting = false;  // a fit's model evaluation is running
  bool oneShown = false;  // the fit has shown its one box
  long failures = 0;      // failures reported while counting
};
ErrorBoxGate& CurrentErrorBoxGate();
// True when a box is to be shown: always outside a fit's evaluation, and
// inside it only for the fit's first.
bool ShowWhileCounting();
// While counting: counts one failure. Then as ShowWhileCounting.
bool ShowCountedFailure();
// While counting: counts one failure that shows no box of its own.
void CountFailure();
// While it lives (when on), the fit's one box counts as shown: trials the
// user did not ask for show none. The gate's state comes back after.
class QuietErrorBoxes {
 public:
  explicit QuietErrorBoxes(bool on = true);
  ~QuietErrorBoxes();
  QuietErrorBoxes(const QuietErrorBoxes&) = delete;
  QuietErrorBoxes& operator=(const QuietErrorBoxes&) = delete;

 private:
  ErrorBoxGate& gate_;
  const bool on_;
  const bool shown_;
};
}  // namespace platform

// Waits until the clock has advanced by (int)(seconds x 1000) ms; returns at
// once for 0, negative or NaN.
void WaitSeconds(float seconds);

// Takes the next queued event: true when it was a key press.
bool KeyPressed();
// False for a null holder. True when a key press was queued (it is taken) or
// the interrupt request was set; the request is cleared.
bool MessageWaiting(WindowHolder window);
// KeyPressed for the window's events; false for a null holder.
bool KeyPressedInWindow(WindowHolder window);
// Waits as WaitSeconds, but returns true the moment a key press is queued
// (it is left in the queue); false for seconds <= 0 or NaN, or when the time
// is over.
bool WaitSecondsOrKey(WindowHolder window, float seconds);
// Takes the next key press and stores its character; false when none.
bool ReadKey(int* character);
// Takes the next key press and shows its character code (as a signed
// 8-bit value, "%d") in the window's status; -1 when there was none.
int ReadKeyChar(WindowHolder window);

// True when the file can be opened for reading.
bool FileExists(const char* name);

// Asks for one number until the text is one or the user cancels: true with
// *value set, false (value unchanged) on Cancel. The initial text is the
// current value ("%f" above 0.01, else "%e") when showCurrent is set. The
// default titles are "enter float" and "enter positive float".
bool InputFloat(float* value, float current, bool showCurrent, const char* prompt,
                const char* title);
bool InputPositiveFloat(float* value, float current, bool showCurrent, const char* prompt,
                        const char* title);
// InputFloat that shows the value in use and keeps it on Cancel.
inline bool AskFloat(float& value, const char* prompt, const char* title) {
  return InputFloat(&value, value, true, prompt, title);
}
bool InputFloatEx(WindowHolder window, float* value, float current, bool showCurrent,
                  const char* prompt, const char* title);
bool InputPositiveFloatEx(WindowHolder window, float* value, float current, bool showCurrent,
                          const char* prompt, const char* title);
// A prompt for a number of things (simulations, scans): the current value
// is shown as a whole number ("100", not "100.000000"); a fraction typed is
// cut to the whole number below it; a negative or unreadable entry beeps
// and asks again. False on Cancel (value unchanged).
bool InputCount(int* value, int current, const char* prompt, const char* title);
// A prompt for a whole number from low to high, shown and cut as a count is
// (a negative entry is one when low is below 0). An entry outside the range,
// however large, is refused in a box that names the range, and the prompt
// asks again. False on Cancel (value unchanged).
bool InputWholeNumber(int* value, int current, int low, int high, const char* prompt, const char* title);

// One line of text (up to 9,999 characters), no test. The text is copied into
// the caller's buffer of bufferSize bytes, cut to fit and always terminated.
bool InputText(char* text, const char* prompt, const char* title, std::size_t bufferSize = 10000);
bool InputText(std::string* text, const char* prompt, const char* title);

// A number is a text that parses completely (surrounding blanks allowed) to a
// finite float, and whose value is not 0 unless the text begins with '0':
// "0" and "-3" are numbers; "abc", ".0", "-0", "3x", "nan", "inf" and "1e99"
// are not.
bool IsNumber(const char* text);
// A number whose value is > 0, or 0 written with a leading '0'.
bool IsNonNegativeNumber(const char* text);
