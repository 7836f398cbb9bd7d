#include "numerics/clipboard_tables.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "platform/clipboard.h"

namespace {

// Room for one cell and its separator: "%g" of a float needs at most 13
// characters ("-1.17549e-38"); the table has always been sized at 20.
constexpr std::size_t kCellRoom = 20;

// Writes the table into text through a cursor over reserved room; the
// string is cut to what was written at the end.
class TableWriter {
 public:
  TableWriter(std::string& text, std::size_t cells) : text_(text) {
    text_.resize(cells * kCellRoom + 1);
    at_ = text_.data();
  }
  ~TableWriter() { text_.resize(static_cast<std::size_t>(at_ - text_.data())); }
  TableWriter(const TableWriter&) = delete;
  TableWriter& operator=(const TableWriter&) = delete;

  void Cell(float v) {
    // The same digits as printf's "%g" of the value widened to double.
    at_ = std::to_chars(at_, at_ + kCellRoom, static_cast<double>(v), std::chars_format::general, 6).ptr;
  }
  void Put(char c) { *at_++ = c; }

 private:
  std::string& text_;
  char* at_;
};

}  // namespace

std::string ColumnsTableText(const float* x, const float* const* y, int first, int last, int n,
                             const int* order, const int* columnLast) {
  std::string text;
  if (!x || last < first) return text;
  if (n < 0) n = 0;
  const std::size_t rows = static_cast<std::size_t>(last - first + 1);
  TableWriter out(text, rows * static_cast<std::size_t>(n + 1));
  for (int i = first; i <= last; ++i) {
    out.Cell(x[i]);
    for (int j = 1; j <= n; ++j) {
      const int k = order ? order[j] : j;
      const float* column = y ? y[k] : nullptr;
      out.Put('\t');
      if (column && (!columnLast || i <= columnLast[k]) && !std::isnan(column[i])) out.Cell(column[i]);
    }
    out.Put('\n');
  }
  return text;
}

bool CopyColumnsToClipboard(const float* x, const float* const* y, int first, int last, int n,
                            const int* order, const int* columnLast) {
  return platform::Clipboard().SetText(ColumnsTableText(x, y, first, last, n, order, columnLast));
}

std::string ScanTableText(const float* const* x, const float* const* y, const int* first, const int* last,
                          int n, const int* order) {
  std::string text;
  if (!x || !y || !first || !last || n < 1) return text;
  int rows = 0;
  for (int j = 1; j <= n; ++j) {
    const int k = order ? order[j] : j;
    rows = std::max(rows, last[k] - first[k] + 1);
  }
  if (rows <= 0) return text;
  TableWriter out(text, static_cast<std::size_t>(rows) * 2 * static_cast<std::size_t>(n));
  for (int r = 0; r < rows; ++r) {
    for (int j = 1; j <= n; ++j) {
      const int k = order ? order[j] : j;
      if (j > 1) out.Put('\t');
      const int i = first[k] + r;
      if (i <= last[k] && x[k] && y[k]) {
        out.Cell(x[k][i]);
        out.Put('\t');
        out.Cell(y[k][i]);
      } else {
        out.Put('\t');
      }
    }
    out.Put('\n');
  }
  return text;
}

bool CopyScanTableToClipboard(const float* const* x, const float* const* y, const int* first,
                              const int* last, int n, const int* order) {
  return platform::Clipboard().SetText(ScanTableText(x, y, first, last, n, order));
}
