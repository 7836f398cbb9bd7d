#pragma once
// The desktop around one run of the program: the Qt application object, the
// Qt user interface and sound backends, the event pump that lets long
// computations notice keys, and the watch that ends the message loop once a
// quit has been requested. Without a display the run stays headless: an
// offscreen platform, and the automatic interface that never blocks.
#include <memory>

namespace platform::qt {

class DesktopSession {
 public:
  DesktopSession(int& argc, char** argv);
  ~DesktopSession();
  DesktopSession(const DesktopSession&) = delete;
  DesktopSession& operator=(const DesktopSession&) = delete;
  // True when dialogs reach a person.
  bool Interactive() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// True when a display server is reachable (or a platform was chosen).
bool DisplayAvailable();

}  // namespace platform::qt
