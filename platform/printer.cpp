#include "platform/printer.h"

namespace platform {

namespace {
NoPrinter g_none;
IPrinter* g_printer = &g_none;
}  // namespace

bool RecordingPrinter::Print(const PrintJob& job, const PagePainter& page) {
  jobs.push_back(job);
  if (!acceptDialog) return false;
  lastPage = std::make_unique<RecordingDC>();
  if (page) page(*lastPage, pageWidth, pageHeight);
  ++pages;
  return true;
}

IPrinter& Printer() { return *g_printer; }

void SetPrinter(IPrinter* printer) { g_printer = printer ? printer : &g_none; }

}  // namespace platform
