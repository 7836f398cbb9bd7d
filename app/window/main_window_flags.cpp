#include "app/window/main_window_flags.h"

MainWindowFlags& WindowFlags() {
  static MainWindowFlags flags;
  return flags;
}

RunSwitches& RunState() {
  static RunSwitches state;
  return state;
}
