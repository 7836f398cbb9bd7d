#pragma once
// The Qt application, offscreen, and the desktop's backends (frame window,
// canvas, boxes) for tests that look at the window as it draws.
#include <QtGlobal>

#include "platform/qt/qt_app.h"

inline void StartOffscreenDesktop(bool installBackends = true) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "test_app";
  static char* argv[] = {name, nullptr};
  platform::qt::EnsureApplication(argc, argv);
  if (installBackends) platform::qt::InstallDesktop();
}
