#pragma once
// Tables for a spreadsheet on the clipboard: tab-separated cells, one LF
// after every row, each cell a single-precision value in the general format
// of printf's %g (six significant digits, exponent only where needed).
// The text is formatted straight into one string reserved for the whole
// table (20 characters a cell), so that tables of a million cells copy in
// a fraction of a second.
#include <string>

// Column table over one shared x column: for i = first..last (inclusive,
// indices into the 1-based arrays) the row x[i] TAB y[1][i] TAB ... TAB
// y[n][i] LF. y holds the n column arrays at y[1..n]; with an order list,
// column j is the array y[order[j]] (order 1-based too). With columnLast,
// the array y[k] holds values only up to index columnLast[k]; below and
// beyond its range, for a null array and for a value that is no number,
// the cell stays empty.
std::string ColumnsTableText(const float* x, const float* const* y, int first, int last, int n,
                             const int* order = nullptr, const int* columnLast = nullptr);
// The same table onto the program's clipboard; false when the clipboard
// could not be opened (it is then left as it was).
bool CopyColumnsToClipboard(const float* x, const float* const* y, int first, int last, int n,
                            const int* order = nullptr, const int* columnLast = nullptr);

// Scan table: scan k has its own x[k] and y[k] (1-based arrays, k = 1..n)
// and its own range first[k]..last[k]. The table has as many rows as the
// longest range; row r holds, for column j = 1..n (scan k = j, or order[j]),
// the pair x_k[first_k + r] TAB y_k[first_k + r] while the scan has that
// point, else an empty pair (one TAB), so the columns stay aligned:
//   x1 TAB y1 TAB x2 TAB y2 ... xn TAB yn LF
std::string ScanTableText(const float* const* x, const float* const* y, const int* first, const int* last,
                          int n, const int* order = nullptr);
bool CopyScanTableToClipboard(const float* const* x, const float* const* y, const int* first,
                              const int* last, int n, const int* order = nullptr);
