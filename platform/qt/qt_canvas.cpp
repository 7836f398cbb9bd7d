#include "platform/qt/qt_canvas.h"

#include <algorithm>

#include "platform/qt/qt_dc.h"

namespace platform::qt {

QtCanvas::QtCanvas(int width, int height)
    : image_(std::max(1, width), std::max(1, height), QImage::Format_RGB32) {
  image_.fill(Qt::white);
}

QtCanvas::~QtCanvas() = default;

void QtCanvas::Resize(int width, int height) {
  width = std::max(1, width);
  height = std::max(1, height);
  if (width == image_.width() && height == image_.height()) return;
  auto open = painter_.lock();
  if (open) open->end();
  // The picture stays at its place, the new part white, until the window
  // paints again: while a command holds the paint (a box up during a Run),
  // a resized window goes on showing its plots instead of a blank.
  QImage resized(width, height, QImage::Format_RGB32);
  resized.fill(Qt::white);
  {
    QPainter p(&resized);
    p.drawImage(0, 0, image_);
  }
  image_ = std::move(resized);
  if (open) Restart(*open);
}

void QtCanvas::Replace(const QImage& picture) {
  auto open = painter_.lock();
  if (open) open->end();
  image_ = picture.convertToFormat(QImage::Format_RGB32);
  if (open) Restart(*open);
}

void QtCanvas::Clear(COLORREF color) {
  if (auto p = painter_.lock()) {
    p->save();
    p->setClipping(false);
    p->setCompositionMode(QPainter::CompositionMode_Source);
    p->fillRect(image_.rect(), ToQColor(color));
    p->restore();
  } else {
    image_.fill(ToQColor(color));
  }
}

void QtCanvas::Restart(QPainter& p) {
  p.begin(&image_);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setRenderHint(QPainter::TextAntialiasing, false);
}

std::shared_ptr<QPainter> QtCanvas::SharedPainter() {
  if (auto p = painter_.lock()) return p;
  auto* raw = new QPainter;
  Restart(*raw);
  std::shared_ptr<QPainter> p(raw, [this](QPainter* q) {
    if (q->isActive()) q->end();
    delete q;
    if (changed_) changed_();
  });
  painter_ = p;
  return p;
}

std::unique_ptr<DrawContext> QtCanvas::ClientDC() { return std::make_unique<QtDC>(SharedPainter(), true); }

std::unique_ptr<DrawContext> QtCanvas::ScaledDC(int windowExtX, int windowExtY) {
  auto dc = ClientDC();
  dc->SetMapMode(MM_ANISOTROPIC);
  dc->SetWindowExt(windowExtX, windowExtY);
  dc->SetViewportExt(image_.width(), image_.height());
  return dc;
}

bool QtCanvas::PlayStretched(HMETAFILE mf) {
  auto data = MetafileContents(mf);
  if (!data) return false;
  Size ext = MetafileWindowExt(*data);
  if (ext.cx == 0 || ext.cy == 0) ext = {image_.width(), image_.height()};
  auto dc = ScaledDC(ext.cx, ext.cy);
  return PlayMetaFile(*dc, *data);
}

Bitmap QtCanvas::CopyPixels(int x0, int y0, int width, int height) const {
  Bitmap out(width, height);
  for (int y = 0; y < height; ++y) {
    int sy = y0 + y;
    if (sy < 0 || sy >= image_.height()) continue;
    const auto* line = reinterpret_cast<const QRgb*>(image_.constScanLine(sy));
    for (int x = 0; x < width; ++x) {
      int sx = x0 + x;
      if (sx < 0 || sx >= image_.width()) continue;
      QRgb c = line[sx];
      out.SetPixel(x, y, RGB(qRed(c), qGreen(c), qBlue(c)));
    }
  }
  return out;
}

void QtCanvas::PastePixels(const Bitmap& bitmap, int x0, int y0) {
  auto open = painter_.lock();
  if (open) open->end();
  for (int y = 0; y < bitmap.Height(); ++y) {
    int dy = y0 + y;
    if (dy < 0 || dy >= image_.height()) continue;
    auto* line = reinterpret_cast<QRgb*>(image_.scanLine(dy));
    for (int x = 0; x < bitmap.Width(); ++x) {
      int dx = x0 + x;
      if (dx < 0 || dx >= image_.width()) continue;
      COLORREF c = bitmap.GetPixel(x, y);
      line[dx] = qRgb(GetRValue(c), GetGValue(c), GetBValue(c));
    }
  }
  if (open)
    Restart(*open);
  else if (changed_)
    changed_();
}

}  // namespace platform::qt
