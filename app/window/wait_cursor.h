#pragma once
// The wait cursor over the main window for the life of a command's work;
// the arrow comes back however the work ends.
#include "app/window/txla_window.h"

class WaitCursor {
 public:
  explicit WaitCursor(TXLAWindow& w) : w_(w) { w_.Frame().SetCursor(platform::CursorKind::Wait); }
  ~WaitCursor() { w_.Frame().SetCursor(platform::CursorKind::Arrow); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  TXLAWindow& w_;
};
