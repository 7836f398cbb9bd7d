#pragma once
// A window's client area as the plotting code reaches it directly, outside
// painting: a device context onto it in client pixels, and copies of its
// pixels (the on-plot buttons save and restore what they cover).
#include <memory>

#include "platform/bitmap.h"
#include "platform/draw_context.h"

namespace platform {

class DrawSurface {
 public:
  virtual ~DrawSurface() = default;
  // Client size in pixels as of the last paint.
  virtual int ClientWidth() const = 0;
  virtual int ClientHeight() const = 0;
  // A context in client pixels (MM_TEXT); what it draws shows once it is
  // destroyed.
  virtual std::unique_ptr<DrawContext> ClientDC() = 0;
  // The pixels of the rectangle x0..x0+width-1, y0..y0+height-1; parts
  // outside the client area come back white.
  virtual Bitmap CopyPixels(int x0, int y0, int width, int height) const = 0;
  virtual void PastePixels(const Bitmap& bitmap, int x0, int y0) = 0;
};

}  // namespace platform
