#pragma once
// The window's drawing surface: a persistent RGB32 image the size of the
// client area. Painting replays the plots into it, direct drawing (marker
// lines, inverted cursor lines, buttons) goes into it at any time, and the
// window shows the image. Anti-aliasing is off so that inverted drawing
// undoes itself exactly.
#include <QImage>
#include <QPainter>
#include <functional>
#include <memory>

#include "platform/draw_surface.h"
#include "platform/metafile.h"

namespace platform::qt {

class QtCanvas : public DrawSurface {
 public:
  explicit QtCanvas(int width = 1, int height = 1);
  ~QtCanvas() override;
  // Open contexts refer to this canvas: it stays where it is.
  QtCanvas(const QtCanvas&) = delete;
  QtCanvas& operator=(const QtCanvas&) = delete;

  // A new size keeps the picture at the top left, the rest white.
  void Resize(int width, int height);
  // The picture given, whole, at its own size (one taken from Image()).
  void Replace(const QImage& picture);
  void Clear(COLORREF color = 0xffffff);
  const QImage& Image() const { return image_; }

  int ClientWidth() const override { return image_.width(); }
  int ClientHeight() const override { return image_.height(); }
  // Client pixels. Several contexts may be open at once; all must close
  // before the canvas is destroyed.
  std::unique_ptr<DrawContext> ClientDC() override;
  // Logical units windowExtX x windowExtY stretched over the whole canvas
  // (anisotropic), the plots' 1400 x 1000-style space.
  std::unique_ptr<DrawContext> ScaledDC(int windowExtX, int windowExtY);
  // Replays a picture stretched over the whole canvas.
  bool PlayStretched(HMETAFILE mf);

  Bitmap CopyPixels(int x0, int y0, int width, int height) const override;
  void PastePixels(const Bitmap& bitmap, int x0, int y0) override;
  Bitmap ToBitmap() const { return CopyPixels(0, 0, image_.width(), image_.height()); }

  // Called whenever the last open context on the canvas closes, so that the
  // window can show the new pixels.
  void SetChangedCallback(std::function<void()> changed) { changed_ = std::move(changed); }

 private:
  std::shared_ptr<QPainter> SharedPainter();
  void Restart(QPainter& p);
  QImage image_;
  std::weak_ptr<QPainter> painter_;
  std::function<void()> changed_;
};

}  // namespace platform::qt
