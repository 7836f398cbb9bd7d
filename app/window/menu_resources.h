#pragma once
// The menu resources "MENU_1" (interactive) and "MENU_INICUSTOM" (unattended
// run) and the accelerator tables 303 and 1112, built at run time.
#include <vector>

#include "platform/frame_window.h"
#include "platform/menu_model.h"

platform::MenuNode BuildMenu1();
platform::MenuNode BuildMenuIniCustom();
std::vector<platform::Accelerator> AcceleratorTable303();
std::vector<platform::Accelerator> AcceleratorTable1112();

// Resource numbers of the window's icons and menus.
constexpr int kIconGroupBig = 304;
constexpr int kIconGroupSmall = 305;
constexpr int kAcceleratorsInteractive = 303;
constexpr int kAcceleratorsAutomation = 1112;
