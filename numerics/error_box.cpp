#include "numerics/error_box.h"

#include "numerics/arrays.h"
#include "numerics/sounds.h"
#include "platform/fatal_error.h"
#include "platform/user_interface.h"

int ErrorBox(const char* text, bool fatal) {
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

void nrerror(const char* text) {
  ErrorBox(text, true);
  throw platform::FatalError(text ? text : "fatal error");
}
