#include "app/startup/main_window_host.h"

#include <memory>

#include "app/startup/startup.h"
#include "app/window/shell_services.h"
#include "app/window/txla_window.h"
#include "app/wiring/window_wiring.h"
#include "platform/fatal_error.h"

#if defined(TARNEL_HAVE_QT)
#include <QCoreApplication>

#include "platform/qt/qt_app.h"
#endif

namespace {

class MainWindowHost : public IMainWindow {
 public:
  explicit MainWindowHost(const std::string& title)
      : window_(std::make_unique<TXLAWindow>(
            nullptr, title, WindowCommandLine{CommandLineArgs.ArgCount, CommandLineArgs.ArgCopies})) {}

  int RunMessageLoop() override {
    if (platform::QuitRequested()) return platform::QuitExitCode();
    window_->Create();
    if (platform::QuitRequested()) return platform::QuitExitCode();
#if defined(TARNEL_HAVE_QT)
    if (QCoreApplication::instance()) {
      window_->Frame().Show();
      return platform::qt::RunEventLoop();
    }
#endif
    // Without a desktop there is nothing to wait for.
    return 0;
  }

 private:
  std::unique_ptr<TXLAWindow> window_;
};

}  // namespace

void RegisterMainWindow() {
  Services() = ProgramShellServices();
#if defined(TARNEL_HAVE_QT)
  if (QCoreApplication::instance()) platform::qt::InstallDesktop();
#endif
  SetMainWindowFactory(
      [](const std::string& title) -> std::unique_ptr<IMainWindow> {
        return std::make_unique<MainWindowHost>(title);
      });
}
