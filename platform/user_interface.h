#pragma once
// The program's only way to talk to a person. Numerical code calls these
// interfaces; the desktop installs Qt backends, tests and the unattended
// run install scripted or automatic ones, so nothing ever blocks headless.
#include <string>

#include "platform/ui_backend.h"

namespace platform {

// The program-wide user interface; a silent automatic one until set.
IUserInterface& UI();
// A Yes/No question box with the question icon; true when answered Yes.
bool AskYes(const std::string& caption, const std::string& text);
// A box with only an OK button: the caller's caption, text and icon.
void Tell(const std::string& caption, const std::string& text, BoxIcon icon = BoxIcon::Information);
// The same box shown through ui (a person kept aside while the program-wide
// interface is muted).
void Tell(IUserInterface& ui, const std::string& caption, const std::string& text, BoxIcon icon = BoxIcon::Information);
// Installs ui (not owned); nullptr restores the automatic default.
void SetUI(IUserInterface* ui);

// A run without a display: nobody can answer a window, so the program ends
// after its start-up (an unattended analysis runs inside it) instead of
// entering the message loop.
void SetHeadless(bool headless);
bool Headless();

// Nothing the program draws from now on is shown or kept: an unattended run
// without a display that ends by itself (no screenshot). Plots then record
// no pictures; every number and file stays as it is.
void SetDrawingUnseen(bool unseen);
bool DrawingUnseen();

}  // namespace platform
