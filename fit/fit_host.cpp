#include "fit/fit_host.h"

#include "numerics/error_box.h"
#include "numerics/sounds.h"
#include "platform/user_interface.h"

void FitHost::MessageBox(const std::string& caption, const std::string& text, platform::BoxIcon icon) {
  platform::UI().MessageBox(caption, text, platform::BoxButtons::Ok, icon);
}

void FitHost::ErrorBox(const std::string& text) { ::ErrorBox(text.c_str(), 0); }

void FitHost::PlaySoundError() { ::PlaySoundError(); }
