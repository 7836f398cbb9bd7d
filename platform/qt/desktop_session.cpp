#include "platform/qt/desktop_session.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "platform/automatic_ui.h"
#include "platform/fatal_error.h"
#include "platform/clipboard.h"
#include "platform/printer.h"
#include "platform/input_events.h"
#include "platform/qt/qt_clipboard.h"
#include "platform/qt/qt_printer.h"
#include "platform/qt/qt_sound_player.h"
#include "platform/qt/qt_user_interface.h"
#include "platform/sound_player.h"
#include "platform/user_interface.h"

namespace platform::qt {

namespace {
bool Set(const char* name) {
  const char* v = std::getenv(name);
  return v && *v;
}
}  // namespace

bool DisplayAvailable() {
  return Set("DISPLAY") || Set("WAYLAND_DISPLAY") || Set("QT_QPA_PLATFORM");
}

struct DesktopSession::Impl {
  bool interactive = false;
  std::unique_ptr<QApplication> app;
  QtUserInterface ui;
  // Copies reach the system clipboard only on a desktop; headless runs keep
  // them in memory.
  QtClipboard clipboard;
  QtPrinter printer;
  // Headless runs answer every box with its default and say so on stderr.
  AutomaticUserInterface headless{[](const std::string& line) {
    std::fprintf(stderr, "tarnel: %s\n", line.c_str());
  }};
  std::unique_ptr<QtSoundPlayer> sound;
  std::unique_ptr<QTimer> quitWatch;
  QElapsedTimer sincePump;
};

DesktopSession::DesktopSession(int& argc, char** argv) : impl_(std::make_unique<Impl>()) {
  const bool display = DisplayAvailable();
  if (!display) qputenv("QT_QPA_PLATFORM", "offscreen");
  const QByteArray platformName = qgetenv("QT_QPA_PLATFORM");
  impl_->interactive = display && platformName != "offscreen" && platformName != "minimal";
  impl_->app = std::make_unique<QApplication>(argc, argv);
  // Files are written with printf formats and read with scanf: the decimal
  // point must stay a point whatever the desktop's language.
  std::setlocale(LC_NUMERIC, "C");

  SetHeadless(!impl_->interactive);
  if (!impl_->interactive) {
    SetUI(&impl_->headless);
  } else {
    SetUI(&impl_->ui);
    SetClipboard(&impl_->clipboard);
    SetPrinter(&impl_->printer);
    impl_->sound = std::make_unique<QtSoundPlayer>();
    SetSoundPlayer(impl_->sound.get());
  }
  // Long computations poll the keyboard; give Qt a moment to deliver events,
  // at most every 50 ms so that tight loops do not pay for it.
  impl_->sincePump.start();
  SetEventPump([impl = impl_.get()] {
    if (impl->sincePump.elapsed() < 50) return;
    impl->sincePump.restart();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  });
  // The flush before a question delivers whatever is waiting, unthrottled.
  SetEventFlush([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 10); });
  // The quit request (a fatal box, Exit) ends the message loop.
  impl_->quitWatch = std::make_unique<QTimer>();
  QObject::connect(impl_->quitWatch.get(), &QTimer::timeout, [] {
    if (QuitRequested()) QCoreApplication::exit(QuitExitCode());
  });
  impl_->quitWatch->start(100);
}

DesktopSession::~DesktopSession() {
  SetEventPump({});
  SetEventFlush({});
  SetHeadless(false);
  SetUI(nullptr);
  SetClipboard(nullptr);
  SetPrinter(nullptr);
  SetSoundPlayer(nullptr);
  impl_->quitWatch.reset();
  impl_->sound.reset();
  impl_->app.reset();
}

bool DesktopSession::Interactive() const { return impl_->interactive; }

}  // namespace platform::qt
