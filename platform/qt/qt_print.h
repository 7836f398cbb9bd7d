#pragma once
// Printing: pages go to a PDF file through Qt's printer. The page callback
// gets a context in device pixels of the printable area (callers choose an
// isotropic mapping to keep the window's proportions) and the page size.
#include <functional>
#include <string>

#include "platform/draw_context.h"

namespace platform::qt {

using PagePainter = std::function<void(DrawContext& dc, int pageWidth, int pageHeight)>;

// One page, A4 landscape at the given resolution; false when the file cannot
// be written.
bool PrintToPdf(const std::string& path, const PagePainter& paintPage, int dpi = 300);

}  // namespace platform::qt
