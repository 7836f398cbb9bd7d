#pragma once
// The fit loops (models, distributions) sit below the plots, yet a running
// fit redraws the chosen plots now and then. They call this; the window
// layer installs the redraw, which throttles itself to one redraw per
// interval. Until installed it does nothing.
#include <functional>

namespace platform {

void SetFitProgressRedraw(std::function<void()> redraw);
// Redraws the plots chosen for updates during fits (when the interval has
// passed). User-interface thread only.
void RequestFitProgressRedraw();

}  // namespace platform
