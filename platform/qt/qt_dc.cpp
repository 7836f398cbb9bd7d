#include "platform/qt/qt_dc.h"

#include <QFontMetrics>
#include <QImage>
#include <QPolygon>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "platform/bitmap.h"

namespace platform::qt {

QColor ToQColor(COLORREF c) { return QColor(GetRValue(c), GetGValue(c), GetBValue(c)); }

COLORREF FromQColor(const QColor& c) { return RGB(c.red(), c.green(), c.blue()); }

namespace {
bool ValidUtf8(std::string_view t) {
  size_t i = 0;
  while (i < t.size()) {
    unsigned char c = static_cast<unsigned char>(t[i]);
    size_t extra = c < 0x80 ? 0 : (c & 0xe0) == 0xc0 ? 1 : (c & 0xf0) == 0xe0 ? 2 : (c & 0xf8) == 0xf0 ? 3 : 9;
    if (extra == 9 || i + extra >= t.size() + (extra == 0 ? 1 : 0)) return false;
    for (size_t k = 1; k <= extra; ++k)
      if ((static_cast<unsigned char>(t[i + k]) & 0xc0) != 0x80) return false;
    i += extra + 1;
  }
  return true;
}
}  // namespace

QString ToQString(std::string_view text) {
  const auto n = static_cast<qsizetype>(text.size());
  return ValidUtf8(text) ? QString::fromUtf8(text.data(), n) : QString::fromLatin1(text.data(), n);
}

QtDC::QtDC(std::shared_ptr<QPainter> painter, bool pixelExact)
    : painter_(std::move(painter)), pixelExact_(pixelExact) {}

QtDC::~QtDC() = default;

int QtDC::DevicePenWidth() const {
  const PenSpec& pen = state().penSpec;
  if (pen.width <= 1) return 1;
  return std::max(1, static_cast<int>(std::lround(pen.width * std::fabs(ScaleX()))));
}

void QtDC::ApplyClip() {
  if (state().clipped) {
    const Rect& r = state().clip;
    painter_->setClipRect(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top));
  } else {
    painter_->setClipping(false);
  }
}

void QtDC::SetupPen(bool forLines) {
  const PenSpec& p = state().penSpec;
  if (p.style == PS_NULL) {
    painter_->setPen(Qt::NoPen);
  } else {
    QPen pen(ToQColor(p.color));
    pen.setWidth(DevicePenWidth() == 1 ? 0 : DevicePenWidth());
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    if (!forLines) pen.setStyle(Qt::SolidLine);
    painter_->setPen(pen);
  }
  painter_->setCompositionMode(state().rop2 == R2_NOT && pixelExact_ ? QPainter::RasterOp_NotDestination
                                                                      : QPainter::CompositionMode_SourceOver);
}

void QtDC::SetupBrush() {
  const BrushSpec& b = state().brushSpec;
  if (b.style == BS_NULL)
    painter_->setBrush(Qt::NoBrush);
  else
    painter_->setBrush(QBrush(ToQColor(b.color)));
}

// One-pixel lines are set pixel by pixel on raster targets: Bresenham from a
// up to, not including, b.
void QtDC::Line(Point a, Point b) {
  if (state().penSpec.style == PS_NULL) return;
  if (!pixelExact_ || DevicePenWidth() > 1) {
    painter_->drawLine(QPoint(a.x, a.y), QPoint(b.x, b.y));
    return;
  }
  int dx = std::abs(b.x - a.x), sx = a.x < b.x ? 1 : -1;
  int dy = -std::abs(b.y - a.y), sy = a.y < b.y ? 1 : -1;
  int err = dx + dy;
  int x = a.x, y = a.y;
  QPolygon pts;
  pts.reserve(std::max(dx, -dy) + 1);
  while (!(x == b.x && y == b.y)) {
    pts << QPoint(x, y);
    int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y += sy;
    }
  }
  if (!pts.isEmpty()) painter_->drawPoints(pts);
}

QFont QtDC::MakeFont() const {
  const FontSpec& f = state().fontSpec;
  QFont font;
  if (!f.faceName.empty()) {
    font.setFamily(QString::fromStdString(f.faceName));
  } else {
    switch (f.pitchAndFamily & 0xf0) {
      case FF_ROMAN:
        font.setFamily(QStringLiteral("serif"));
        font.setStyleHint(QFont::Serif);
        break;
      case FF_MODERN:
        font.setFamily(QStringLiteral("monospace"));
        font.setStyleHint(QFont::Monospace);
        break;
      default:
        font.setFamily(QStringLiteral("sans-serif"));
        font.setStyleHint(QFont::SansSerif);
        break;
    }
  }
  // A positive height is the cell height (ascent + descent), a negative one
  // the character height; Qt's pixel size is close to the latter.
  double h = std::fabs(static_cast<double>(f.height)) * std::fabs(ScaleY());
  if (f.height > 0) h *= 0.87;
  if (f.height == 0) h = 12.0;
  font.setPixelSize(std::max(1, static_cast<int>(std::lround(h))));
  font.setWeight(static_cast<QFont::Weight>(std::clamp(f.weight == 0 ? 400 : f.weight, 100, 900)));
  font.setItalic(f.italic);
  font.setUnderline(f.underline);
  font.setStrikeOut(f.strikeOut);
  font.setStyleStrategy(QFont::NoAntialias);
  return font;
}

int QtDC::TextWidth(std::string_view text) const {
  QFontMetrics fm(MakeFont());
  double sx = std::fabs(ScaleX());
  if (sx <= 0) sx = 1;
  return static_cast<int>(std::lround(fm.horizontalAdvance(ToQString(text)) / sx));
}

void QtDC::DrawText(const DrawOp& op) {
  const State& s = state();
  Point at = (s.textAlign & TA_UPDATECP) ? s.position : Point{op.a, op.b};
  Point dev = LogicalToDevice(at);
  QFont font = MakeFont();
  QFontMetrics fm(font);
  QString text = ToQString(op.text);
  int width = fm.horizontalAdvance(text);
  int x = 0;
  unsigned h = s.textAlign & TA_CENTER;
  if (h == TA_CENTER)
    x = -width / 2;
  else if (h == TA_RIGHT)
    x = -width;
  int y = 0;  // baseline offset
  unsigned v = s.textAlign & TA_BASELINE;
  if (v == TA_BASELINE)
    y = 0;
  else if (v == TA_BOTTOM)
    y = -fm.descent();
  else
    y = fm.ascent();

  painter_->save();
  painter_->setCompositionMode(QPainter::CompositionMode_SourceOver);
  if (op.kind == DrawOp::Kind::ExtTextOut && (op.flags & ETO_CLIPPED) && op.points.size() == 2) {
    Point a = LogicalToDevice(op.points[0]), b = LogicalToDevice(op.points[1]);
    QRect r(QPoint(std::min(a.x, b.x), std::min(a.y, b.y)), QPoint(std::max(a.x, b.x) - 1, std::max(a.y, b.y) - 1));
    painter_->setClipRect(r, s.clipped ? Qt::IntersectClip : Qt::ReplaceClip);
  }
  painter_->translate(dev.x, dev.y);
  if (s.fontSpec.escapement != 0) painter_->rotate(-s.fontSpec.escapement / 10.0);
  if (s.bkMode == OPAQUE) painter_->fillRect(QRect(x, y - fm.ascent(), width, fm.height()), ToQColor(s.bkColor));
  painter_->setFont(font);
  painter_->setPen(ToQColor(s.textColor));
  painter_->drawText(QPoint(x, y), text);
  painter_->restore();
}

void QtDC::Execute(const DrawOp& op) {
  using K = DrawOp::Kind;
  switch (op.kind) {
    case K::LineTo: {
      ApplyClip();
      SetupPen(true);
      Line(LogicalToDevice({op.c, op.d}), LogicalToDevice({op.a, op.b}));
      break;
    }
    case K::Polyline: {
      ApplyClip();
      SetupPen(true);
      for (size_t i = 1; i < op.points.size(); ++i)
        Line(LogicalToDevice(op.points[i - 1]), LogicalToDevice(op.points[i]));
      break;
    }
    case K::Rectangle:
    case K::Ellipse: {
      ApplyClip();
      Point a = LogicalToDevice({op.a, op.b}), b = LogicalToDevice({op.c, op.d});
      int l = std::min(a.x, b.x), r = std::max(a.x, b.x), t = std::min(a.y, b.y), btm = std::max(a.y, b.y);
      const bool nullPen = state().penSpec.style == PS_NULL;
      // Without a pen the filled area is one pixel smaller on the right and
      // at the bottom, as the plotting code assumes.
      if (nullPen) {
        --r;
        --btm;
      }
      if (r - l < 1 || btm - t < 1) break;
      SetupPen(false);
      SetupBrush();
      if (op.kind == K::Rectangle) {
        if (nullPen) {
          if (state().brushSpec.style != BS_NULL) {
            painter_->setPen(Qt::NoPen);
            painter_->drawRect(QRect(l, t, r - l, btm - t));
          }
        } else if (pixelExact_ && DevicePenWidth() == 1) {
          // Interior, then every outline pixel exactly once, so that an
          // inverted rectangle drawn twice leaves no trace, corners included.
          if (state().brushSpec.style != BS_NULL && r - l > 2 && btm - t > 2) {
            painter_->setPen(Qt::NoPen);
            painter_->drawRect(QRect(l + 1, t + 1, r - l - 2, btm - t - 2));
          }
          SetupPen(true);
          QPolygon outline;
          for (int x = l; x < r; ++x) outline << QPoint(x, t);
          if (btm - 1 > t)
            for (int x = l; x < r; ++x) outline << QPoint(x, btm - 1);
          for (int y = t + 1; y < btm - 1; ++y) {
            outline << QPoint(l, y);
            if (r - 1 > l) outline << QPoint(r - 1, y);
          }
          painter_->drawPoints(outline);
        } else {
          painter_->drawRect(QRect(l, t, r - l - 1, btm - t - 1));
        }
      } else {
        if (nullPen)
          painter_->drawEllipse(QRect(l, t, r - l, btm - t));
        else
          painter_->drawEllipse(QRect(l, t, r - l - 1, btm - t - 1));
      }
      break;
    }
    case K::Polygon: {
      ApplyClip();
      QPolygon poly;
      for (const Point& p : op.points) {
        Point d = LogicalToDevice(p);
        poly << QPoint(d.x, d.y);
      }
      SetupPen(false);
      SetupBrush();
      painter_->drawPolygon(poly, Qt::OddEvenFill);
      break;
    }
    case K::TextOut:
    case K::ExtTextOut:
      ApplyClip();
      DrawText(op);
      break;
    case K::DrawBitmap: {
      ApplyClip();
      if (!op.bitmap || op.bitmap->Empty()) break;
      const Bitmap& bm = *op.bitmap;
      QImage img(bm.Width(), bm.Height(), QImage::Format_RGB32);
      for (int y = 0; y < bm.Height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < bm.Width(); ++x) {
          COLORREF c = bm.GetPixel(x, y);
          line[x] = qRgb(GetRValue(c), GetGValue(c), GetBValue(c));
        }
      }
      Point a = LogicalToDevice({op.a, op.b}), b = LogicalToDevice({op.a + op.c, op.b + op.d});
      painter_->setCompositionMode(QPainter::CompositionMode_SourceOver);
      painter_->drawImage(QRect(QPoint(std::min(a.x, b.x), std::min(a.y, b.y)),
                                QSize(std::abs(b.x - a.x), std::abs(b.y - a.y))),
                          img);
      break;
    }
    default:
      // State-only calls: the shared state already holds them.
      break;
  }
}

void RenderMetafile(QPaintDevice* device, bool pixelExact, const MetafileData& data, int width, int height,
                    bool isotropic) {
  auto painter = std::make_shared<QPainter>(device);
  painter->setRenderHint(QPainter::Antialiasing, false);
  painter->setRenderHint(QPainter::TextAntialiasing, !pixelExact);
  QtDC dc(painter, pixelExact);
  Size ext = MetafileWindowExt(data);
  if (ext.cx == 0 || ext.cy == 0) ext = {width, height};
  dc.SetMapMode(isotropic ? MM_ISOTROPIC : MM_ANISOTROPIC);
  dc.SetWindowExt(ext.cx, ext.cy);
  dc.SetViewportExt(width, height);
  PlayMetaFile(dc, data);
}

}  // namespace platform::qt
