#include "platform/qt/qt_svg.h"

#include <QBuffer>
#include <QFile>
#include <QSvgGenerator>

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
  return MetafileToImage(*data, width, height).save(QString::fromStdString(path), "PNG");
}

bool SaveMetafileAsSvg(HMETAFILE mf, const std::string& path, int width, int height) {
  auto data = MetafileContents(mf);
  if (!data) return false;
  QByteArray bytes = MetafileToSvg(*data, width, height);
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::WriteOnly)) return false;
  return file.write(bytes) == bytes.size();
}

}  // namespace platform::qt
