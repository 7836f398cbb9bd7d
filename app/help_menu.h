#pragma once
// Texts of the Help menu: the about box, which is also the disclaimer
// shown at start until it has been agreed to, and the shortcut list.
#include <string>

std::string AboutText();
std::string KeyboardShortcutsText();

// The documentation shipped with the program: README.md in the program
// folder or the folder above it, beside the executable or the folder above
// it (the build folder of a source tree), or in the source tree it was
// built from; the program folder's path when none holds it.
std::string HelpDocumentPath();
