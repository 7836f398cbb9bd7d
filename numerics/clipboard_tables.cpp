#include "numerics/clipboard_tables.h"

#include <cstdio>

#include "platform/clipboard.h"

namespace {

void AppendCell(std::string& text, float v) {
  char cell[32];
  const int k = std::snprintf(cell, sizeof cell, "%g", static_cast<double>(v));
  if (k > 0) text.append(cell, static_cast<size_t>(k));
}

}  // namespace

std::string ColumnsTableText(const float* x, const float* const* y, int first, int last, int n,
                             const int* order) {
  std::string text;
  if (!x || last < first) return text;
  // About 20 characters a cell, as the table has always been sized.
  text.reserve(static_cast<size_t>(last - first + 1) * static_cast<size_t>(n + 1) * 20);
  for (int i = first; i <= last; ++i) {
    AppendCell(text, x[i]);
    for (int j = 1; j <= n; ++j) {
      const float* column = y ? y[order ? order[j] : j] : nullptr;
      text.push_back('\t');
      if (column) AppendCell(text, column[i]);
    }
    text.push_back('\n');
  }
  return text;
}

bool CopyColumnsToClipboard(const float* x, const float* const* y, int first, int last, int n,
                            const int* order) {
  return platform::Clipboard().SetText(ColumnsTableText(x, y, first, last, n, order));
}
