// The program's entry: starts the desktop (when one is available) and hands
// the command line to the start-up.
#include "app/startup/main_window_host.h"
#include "app/startup/startup.h"
#include "numerics/vector_kernel.h"

#if defined(TARNEL_HAVE_QT)
#include "platform/qt/desktop_session.h"
#endif

int main(int argc, char** argv) {
  // TARNEL_KERNEL is read, and a request this processor cannot follow told,
  // before anything else.
  ActiveVectorKernel();
#if defined(TARNEL_HAVE_QT)
  platform::qt::DesktopSession desktop(argc, argv);
#endif
  RegisterMainWindow();
  return OwlMain(argc, argv);
}
