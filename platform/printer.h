#pragma once
// The printer as the program uses it: a set-up dialog and one page drawn
// through a context. The desktop installs the Qt printer (which offers a
// PDF file when no printer is installed); headless runs have none; tests
// record the page.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/draw_context.h"

namespace platform {

// Draws the page; the context is in device pixels of the printable area.
using PagePainter = std::function<void(DrawContext& dc, int pageWidth, int pageHeight)>;

struct PrintJob {
  std::string title;
  // The page range the print dialog offers; all 0: none (one page).
  int fromPage = 0, toPage = 0, selectionFrom = 0, selectionTo = 0;
};

class IPrinter {
 public:
  virtual ~IPrinter() = default;
  virtual bool Available() const = 0;
  // The printer's own set-up dialog.
  virtual void Setup() = 0;
  // The print dialog first; false when the user cancels or nothing printed.
  virtual bool Print(const PrintJob& job, const PagePainter& page) = 0;
};

// No printer at all (a run without a desktop).
class NoPrinter : public IPrinter {
 public:
  bool Available() const override { return false; }
  void Setup() override {}
  bool Print(const PrintJob&, const PagePainter&) override { return false; }
};

// Prints into a recording context of the given page size (A4 landscape at
// 300 dpi unless told otherwise).
class RecordingPrinter : public IPrinter {
 public:
  bool Available() const override { return true; }
  void Setup() override { ++setups; }
  bool Print(const PrintJob& job, const PagePainter& page) override;

  int pageWidth = 3508, pageHeight = 2480;
  bool acceptDialog = true;  // false: the user cancels the print dialog
  std::vector<PrintJob> jobs;
  int pages = 0;
  int setups = 0;
  std::unique_ptr<RecordingDC> lastPage;
};

// The program-wide printer; none until set.
IPrinter& Printer();
// Installs printer (not owned); nullptr restores "none".
void SetPrinter(IPrinter* printer);

}  // namespace platform
