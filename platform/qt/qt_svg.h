#pragma once
// Pictures as files and images: a recorded metafile rendered as SVG or as a
// raster image (PNG), stretched from its window extent onto the given size.
#include <QByteArray>
#include <QImage>
#include <string>

#include "platform/metafile.h"

namespace platform::qt {

QImage MetafileToImage(const MetafileData& data, int width, int height, bool isotropic = false);
QByteArray MetafileToSvg(const MetafileData& data, int width, int height, bool isotropic = false);
bool SaveMetafileAsPng(HMETAFILE mf, const std::string& path, int width, int height);
bool SaveMetafileAsSvg(HMETAFILE mf, const std::string& path, int width, int height);

}  // namespace platform::qt
