#pragma once
// The system clipboard through Qt: text, pictures (SVG and a PNG rendered at
// the picture's suggested size) and bitmaps. Needs a running QGuiApplication;
// without one every call fails.
#include <QSize>

#include "platform/clipboard.h"

namespace platform::qt {

class QtClipboard : public IClipboard {
 public:
  bool SetText(const std::string& text) override;
  bool SetPicture(const ClipboardPicture& picture) override;
  bool SetBitmap(const Bitmap& bitmap) override;
};

// Pixel size of a clipboard picture rendered at dpi (0.01 mm extents).
QSize PicturePixelSize(const ClipboardPicture& picture, int dpi);

}  // namespace platform::qt
