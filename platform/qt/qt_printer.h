#pragma once
// The desktop printer: Qt's printer with its print and page set-up dialogs.
// Without an installed printer the print dialog still offers a PDF file.
#include <memory>

#include "platform/printer.h"

namespace platform::qt {

class QtPrinter : public IPrinter {
 public:
  QtPrinter();
  ~QtPrinter() override;
  bool Available() const override { return true; }
  void Setup() override;
  bool Print(const PrintJob& job, const PagePainter& page) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform::qt
