#include "platform/qt/qt_app.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "platform/fatal_error.h"
#include "platform/frame_window.h"
#include "platform/input_events.h"
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
  SetEventPump([] {
    // A few times a second is enough for a key press to stop a computation.
    static QElapsedTimer last;
    if (last.isValid() && last.elapsed() < 30) return;
    last.restart();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
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
