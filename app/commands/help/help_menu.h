#pragma once
// Texts of the Help menu: the about box, which is also the disclaimer
// shown at start until it has been agreed to, and the shortcut list.
#include <string>

std::string AboutText();
std::string KeyboardShortcutsText();

// The documentation shipped with the program: README.md in the program
// folder or the folder above it (the build folder of a source tree); the
// program folder's path when neither holds it.
std::string HelpDocumentPath();
