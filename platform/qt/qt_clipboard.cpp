#include "platform/qt/qt_clipboard.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <cmath>

#include "platform/qt/qt_dc.h"
#include "platform/qt/qt_svg.h"

namespace platform::qt {

namespace {

QClipboard* SystemClipboard() {
  if (!QGuiApplication::instance()) return nullptr;
  return QGuiApplication::clipboard();
}

constexpr int kPictureDpi = 150;

}  // namespace

QSize PicturePixelSize(const ClipboardPicture& picture, int dpi) {
  int w = 1400, h = 1000;
  if (picture.xExt > 0 && picture.yExt > 0) {
    w = static_cast<int>(std::lround(picture.xExt / 2540.0 * dpi));
    h = static_cast<int>(std::lround(picture.yExt / 2540.0 * dpi));
  }
  return QSize(std::max(1, w), std::max(1, h));
}

bool QtClipboard::SetText(const std::string& text) {
  QClipboard* cb = SystemClipboard();
  if (!cb) return false;
  cb->setText(ToQString(text));
  return true;
}

bool QtClipboard::SetPicture(const ClipboardPicture& picture) {
  QClipboard* cb = SystemClipboard();
  if (!cb || !picture.metafile) return false;
  QSize size = PicturePixelSize(picture, kPictureDpi);
  const bool iso = picture.mapMode == MM_ISOTROPIC;
  auto* mime = new QMimeData;
  mime->setData(QStringLiteral("image/svg+xml"), MetafileToSvg(*picture.metafile, size.width(), size.height(), iso));
  mime->setImageData(MetafileToImage(*picture.metafile, size.width(), size.height(), iso));
  cb->setMimeData(mime);
  return true;
}

bool QtClipboard::SetBitmap(const Bitmap& bitmap) {
  QClipboard* cb = SystemClipboard();
  if (!cb || bitmap.Empty()) return false;
  QImage img(bitmap.Width(), bitmap.Height(), QImage::Format_RGB32);
  for (int y = 0; y < bitmap.Height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
    for (int x = 0; x < bitmap.Width(); ++x) {
      COLORREF c = bitmap.GetPixel(x, y);
      line[x] = qRgb(GetRValue(c), GetGValue(c), GetBValue(c));
    }
  }
  cb->setImage(img);
  return true;
}

}  // namespace platform::qt
