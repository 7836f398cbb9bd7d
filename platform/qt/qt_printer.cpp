#include "platform/qt/qt_printer.h"

#include <QApplication>
#include <QPageLayout>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>

#include "platform/qt/qt_dc.h"

namespace platform::qt {

struct QtPrinter::Impl {
  // Created at the first use and kept, so that the set-up carries over to
  // the next print.
  std::unique_ptr<QPrinter> printer;
  QPrinter& Get() {
    if (!printer) {
      printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
      printer->setPageOrientation(QPageLayout::Landscape);
      // Without an installed printer the page goes to a PDF file.
      if (QPrinterInfo::availablePrinters().isEmpty()) {
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName("tarnel_printout.pdf");
      }
    }
    return *printer;
  }
};

QtPrinter::QtPrinter() : impl_(std::make_unique<Impl>()) {}
QtPrinter::~QtPrinter() = default;

void QtPrinter::Setup() {
  QPageSetupDialog dialog(&impl_->Get(), QApplication::activeWindow());
  dialog.exec();
}

bool QtPrinter::Print(const PrintJob& job, const PagePainter& page) {
  QPrinter& printer = impl_->Get();
  printer.setDocName(QString::fromStdString(job.title));
  QPrintDialog dialog(&printer, QApplication::activeWindow());
  // One page: no range to choose.
  dialog.setOption(QAbstractPrintDialog::PrintPageRange, job.toPage > 0);
  dialog.setOption(QAbstractPrintDialog::PrintSelection, job.selectionTo > 0);
  dialog.setMinMax(1, 1);
  if (dialog.exec() != QDialog::Accepted) return false;
  auto painter = std::make_shared<QPainter>();
  if (!painter->begin(&printer)) return false;
  {
    QtDC dc(painter, false);
    const QRect area = printer.pageLayout().paintRectPixels(printer.resolution());
    if (page) page(dc, area.width(), area.height());
  }
  return painter->end();
}

}  // namespace platform::qt
