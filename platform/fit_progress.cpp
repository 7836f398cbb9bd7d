#include "platform/fit_progress.h"

namespace platform {

namespace {
std::function<void()>& Redraw() {
  static std::function<void()> redraw;
  return redraw;
}
}  // namespace

void SetFitProgressRedraw(std::function<void()> redraw) { Redraw() = std::move(redraw); }

void RequestFitProgressRedraw() {
  if (Redraw()) Redraw()();
}

}  // namespace platform
