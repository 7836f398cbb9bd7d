#pragma once
// Texts of the Help menu: the about box, which is also the disclaimer
// shown at start until it has been agreed to, and the shortcut list.
#include <string>

std::string AboutText();
std::string KeyboardShortcutsText();
