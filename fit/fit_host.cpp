#include "fit/fit_host.h"

#include "fit/lamm_grid.h"

#include "data/scan_grid.h"
#include "lamm/lamm_settings.h"
#include "platform/error_box.h"
#include "platform/sounds.h"
#include "platform/user_interface.h"

void FitHost::MessageBox(const std::string& caption, const std::string& text, platform::BoxIcon icon) {
  platform::Tell(caption, text, icon);
}

void FitHost::ErrorBox(const std::string& text) { ::ErrorBox(text.c_str(), 0); }

void FitHost::PlaySoundError() { ::PlaySoundError(); }

void FitHost::PlaySoundInfo() { ::PlaySoundInfo(); }

bool FitHost::AskYesNo(const std::string& caption, const std::string& text) {
  return platform::UI().MessageBox(caption, text, platform::BoxButtons::YesNo, platform::BoxIcon::Question) ==
         platform::IDYES;
}

bool FitHost::InputFloat(float* value, float current, const std::string& prompt, const std::string& title) {
  return ::InputFloat(value, current, true, prompt.c_str(), title.c_str());
}

void FitHost::CheckLeftFitLimit() { ::CheckLeftFitLimit(); }
void FitHost::CheckRightFitLimit() { ::CheckRightFitLimit(); }

void FitHost::MakeRadialGrid() { ::MakeRadialGrid(); }

int FitHost::LammGridSize() const { return LammSettings().gridSize.inUse; }

void FitHost::SetLammGridSize(int n) {
  // The largest size is kept one below the integer limit.
  LammSettings().gridSize.inUse = n == 2147483647 ? 2147483646 : n;
}
