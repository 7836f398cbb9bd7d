#include "data/scan_repair_hooks.h"

#include "data/load_hooks.h"
#include "data/mouse_actions.h"
#include "platform/user_interface.h"

ScanRepairHooks& RepairHooks() {
  static ScanRepairHooks hooks;
  return hooks;
}

void RepairText(const std::string& text, int x, int y) { CurrentLoadHooks().drawText(text, x, y); }

bool RepairAskYesNo(const std::string& text) {
  return platform::UI().MessageBox("", text, platform::BoxButtons::YesNo, platform::BoxIcon::Question) ==
         platform::IDYES;
}

bool DiscardMode(CMouseAction& mode) {
  mode.Deactivate();
  mode.Reset();
  mode.End();
  return true;
}
