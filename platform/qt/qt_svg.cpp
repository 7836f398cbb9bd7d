#include "platform/qt/qt_svg.h"

#include <QBuffer>
#include <QSvgGenerator>

#include "platform/paths.h"
#include "platform/qt/qt_dc.h"

namespace platform::qt {

QImage MetafileToImage(const MetafileData& data, int width, int height, bool isotropic) {
  QImage image(std::max(1, width), std::max(1, height), QImage::Format_RGB32);
  image.fill(Qt::white);
  RenderMetafile(&image, true, data, image.width(), image.height(), isotropic);
  return image;
}

QByteArray MetafileToSvg(const MetafileData& data, int width, int height, bool isotropic) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QSvgGenerator svg;
  svg.setOutputDevice(&buffer);
  svg.setSize(QSize(width, height));
  svg.setViewBox(QRect(0, 0, width, height));
  RenderMetafile(&svg, false, data, width, height, isotropic);
  return bytes;
}

bool SaveMetafileAsPng(HMETAFILE mf, const std::string& path, int width, int height) {
  auto data = MetafileContents(mf);
  if (!data) return false;
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!MetafileToImage(*data, width, height).save(&buffer, "PNG")) return false;
  return WriteWholeFile(path, std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

bool SaveMetafileAsSvg(HMETAFILE mf, const std::string& path, int width, int height) {
  auto data = MetafileContents(mf);
  if (!data) return false;
  QByteArray bytes = MetafileToSvg(*data, width, height);
  return WriteWholeFile(path, std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

}  // namespace platform::qt
