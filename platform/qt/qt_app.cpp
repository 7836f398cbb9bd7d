#include "platform/qt/qt_app.h"

#include <QApplication>
#include <QTimer>

#include "platform/fatal_error.h"
#include "platform/frame_window.h"
#include "platform/qt/frame_window.h"

namespace platform::qt {

void EnsureApplication(int& argc, char** argv) {
  if (QCoreApplication::instance()) return;
  new QApplication(argc, argv);
}

void InstallDesktop() {
  SetFrameWindowFactory([](IWindowEvents& events) -> std::unique_ptr<IFrameWindow> {
    return std::make_unique<QtFrameWindow>(events);
  });
}

int RunEventLoop() {
  if (QuitRequested()) return QuitExitCode();
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [] {
    if (QuitRequested()) QCoreApplication::exit(QuitExitCode());
  });
  watch.start(20);
  const int code = QCoreApplication::exec();
  return QuitRequested() ? QuitExitCode() : code;
}

}  // namespace platform::qt
