#pragma once
// A device context that draws with a QPainter: onto the window canvas
// (QImage), a printer page or an SVG generator. On raster targets lines of
// one pixel are set pixel by pixel so that they end exactly where the
// plotting code expects (end pixel excluded) and inverted drawing
// (R2_NOT) restores the picture when repeated.
#include <QPaintDevice>
#include <QPainter>
#include <QString>
#include <memory>
#include <string_view>

#include "platform/draw_context.h"
#include "platform/metafile.h"

namespace platform::qt {

class QtDC : public DrawContext {
 public:
  // Paints with painter (shared with other contexts on the same device, each
  // context sets the painter's state it needs before every call). pixelExact
  // for raster targets.
  QtDC(std::shared_ptr<QPainter> painter, bool pixelExact);
  ~QtDC() override;

  QPainter& Painter() { return *painter_; }

 protected:
  void Execute(const DrawOp& op) override;
  int TextWidth(std::string_view text) const override;

 private:
  void ApplyClip();
  void SetupPen(bool forLines);
  void SetupBrush();
  void Line(Point a, Point b);
  void DrawText(const DrawOp& op);
  QFont MakeFont() const;
  int DevicePenWidth() const;

  std::shared_ptr<QPainter> painter_;
  bool pixelExact_;
};

QColor ToQColor(COLORREF c);
COLORREF FromQColor(const QColor& c);
// Program texts are UTF-8 where they can be, otherwise Latin-1.
QString ToQString(std::string_view text);

// Renders a recorded picture onto any paint device, scaled from its window
// extent onto width x height device pixels (isotropic keeps the aspect).
void RenderMetafile(QPaintDevice* device, bool pixelExact, const MetafileData& data, int width, int height,
                    bool isotropic);

}  // namespace platform::qt
