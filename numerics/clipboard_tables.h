#pragma once
// Tables for a spreadsheet on the clipboard: tab-separated cells, one LF
// after every row, each cell a single-precision value in the general format
// of printf's %g (six significant digits, exponent only where needed).
#include <string>

// Column table over one shared x column: for i = first..last (inclusive,
// indices into the 1-based arrays) the row x[i] TAB y[1][i] TAB ... TAB
// y[n][i] LF. y holds the n column arrays at y[1..n]; with an order list,
// column j is the array y[order[j]] (order 1-based too).
std::string ColumnsTableText(const float* x, const float* const* y, int first, int last, int n,
                             const int* order = nullptr);
// The same table onto the program's clipboard; false when the clipboard
// could not be opened (it is then left as it was).
bool CopyColumnsToClipboard(const float* x, const float* const* y, int first, int last, int n,
                            const int* order = nullptr);
