#include "platform/user_interface.h"

#include "platform/automatic_ui.h"

#include <atomic>

namespace platform {

namespace {
IUserInterface* g_ui = nullptr;
std::atomic<bool> g_headless{false};
std::atomic<bool> g_unseen{false};
}  // namespace

void SetHeadless(bool headless) { g_headless = headless; }
bool Headless() { return g_headless; }

void SetDrawingUnseen(bool unseen) { g_unseen = unseen; }
bool DrawingUnseen() { return g_unseen; }

IUserInterface& UI() {
  static AutomaticUserInterface fallback;
  return g_ui ? *g_ui : fallback;
}

void SetUI(IUserInterface* ui) { g_ui = ui; }

bool AskYes(const std::string& caption, const std::string& text) {
  return UI().MessageBox(caption, text, BoxButtons::YesNo, BoxIcon::Question) == IDYES;
}

void Tell(IUserInterface& ui, const std::string& caption, const std::string& text, BoxIcon icon) {
  ui.MessageBox(caption, text, BoxButtons::Ok, icon);
}

void Tell(const std::string& caption, const std::string& text, BoxIcon icon) { Tell(UI(), caption, text, icon); }

}  // namespace platform
