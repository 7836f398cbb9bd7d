#include "platform/qt/qt_print.h"

#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <memory>

#include "platform/qt/qt_dc.h"

namespace platform::qt {

bool PrintToPdf(const std::string& path, const PagePainter& paintPage, int dpi) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString(path));
  printer.setResolution(dpi);
  printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(10, 10, 10, 10)));
  auto painter = std::make_shared<QPainter>();
  if (!painter->begin(&printer)) return false;
  {
    QtDC dc(painter, false);
    QRect page = printer.pageLayout().paintRectPixels(printer.resolution());
    paintPage(dc, page.width(), page.height());
  }
  return painter->end();
}

}  // namespace platform::qt
