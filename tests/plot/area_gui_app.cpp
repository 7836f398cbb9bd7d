#ifdef TARNEL_HAVE_QT
#include <QGuiApplication>
#include <cstdlib>

namespace plottest {

void EnsureGuiApp() {
  if (QCoreApplication::instance()) return;
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "test_plot";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = new QGuiApplication(argc, argv);
  (void)app;
}

}  // namespace plottest
#endif
