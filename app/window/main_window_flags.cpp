#include "app/window/main_window_flags.h"

MainWindowFlags& WindowFlags() {
  static MainWindowFlags flags;
  return flags;
}

RunSwitches& RunState() {
  static RunSwitches state;
  return state;
}

std::uint8_t& AutocorrectLoad() {
  static std::uint8_t on = 0;
  return on;
}
