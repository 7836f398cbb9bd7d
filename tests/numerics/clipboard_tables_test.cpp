#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "numerics/clipboard_tables.h"

#include <cmath>
#include "platform/clipboard.h"

namespace {

TEST(ClipboardTables, ColumnTablesInGeneralFormat) {
  // One-based arrays: element 0 is never written.
  const float x[] = {99, 1, 2.5f, 1234567};
  const float a[] = {99, 0.1f, -3, 1e-7f};
  const float b[] = {99, 10, 20, 30};
  const float* y[] = {nullptr, a, b};
  const int swapped[] = {0, 2, 1};
  struct Case {
    int first, last, n;
    const int* order;
    std::string text;
  };
  for (const Case& k : {Case{1, 3, 2, nullptr, "1\t0.1\t10\n2.5\t-3\t20\n1.23457e+06\t1e-07\t30\n"},
                        Case{2, 2, 2, nullptr, "2.5\t-3\t20\n"},
                        Case{1, 2, 2, swapped, "1\t10\t0.1\n2.5\t20\t-3\n"},
                        Case{1, 1, 0, nullptr, "1\n"},
                        Case{3, 2, 2, nullptr, ""}})
    EXPECT_EQ(ColumnsTableText(x, y, k.first, k.last, k.n, k.order), k.text) << k.first << ".." << k.last;

  platform::MemoryClipboard clipboard;
  platform::SetClipboard(&clipboard);
  EXPECT_TRUE(CopyColumnsToClipboard(x, y, 1, 1, 1));
  EXPECT_EQ(clipboard.text, "1\t0.1\n");
  clipboard.refuseOpen = true;
  EXPECT_FALSE(CopyColumnsToClipboard(x, y, 2, 2, 1));
  EXPECT_EQ(clipboard.text, "1\t0.1\n");
  platform::SetClipboard(nullptr);
}

TEST(ClipboardTables, ColumnsOfDifferentLengthsLeaveEmptyCellsBeyondTheirEnd) {
  const float x[] = {0, 6.0f, 6.1f, 6.2f};
  const float a[] = {0, 1, 2, 3};
  const float b[] = {0, 4, 5};  // one point shorter
  const float* y[] = {nullptr, a, b};
  const int last[] = {0, 3, 2};
  EXPECT_EQ(ColumnsTableText(x, y, 1, 3, 2, nullptr, last), "6\t1\t4\n6.1\t2\t5\n6.2\t3\t\n");
  // A value that is no number (a point left out) is an empty cell too.
  const float c[] = {0, 7, std::nanf(""), 9};
  const float* z[] = {nullptr, a, c};
  EXPECT_EQ(ColumnsTableText(x, z, 1, 3, 2), "6\t1\t7\n6.1\t2\t\n6.2\t3\t9\n");
}

TEST(ClipboardTables, ScanTablesKeepTheirColumnsAlignedAndMatchPrintf) {
  const float x1[] = {0, 6.0f, 6.1f, 6.2f};
  const float y1[] = {0, 0.1f, 0.2f, 0.3f};
  const float x2[] = {0, 6.0f, 6.1f, 6.2f, 6.3f, 6.4f};
  const float y2[] = {0, 1, 2, 3, 4, 5};
  const float* x[] = {nullptr, x1, x2};
  const float* y[] = {nullptr, y1, y2};
  const int first[] = {0, 1, 1};
  const int last[] = {0, 3, 5};
  const int shorter[] = {0, 2, 4};
  const int from2[] = {0, 2, 3};
  const int swapped[] = {0, 2, 1};
  struct Case {
    const int* first;
    const int* last;
    int n;
    const int* order;
    std::string text;
  };
  for (const Case& k : {
           Case{first, last, 2, nullptr,
                "6\t0.1\t6\t1\n6.1\t0.2\t6.1\t2\n6.2\t0.3\t6.2\t3\n\t\t6.3\t4\n\t\t6.4\t5\n"},
           // A residuals table ends one point earlier in every scan.
           Case{first, shorter, 2, nullptr, "6\t0.1\t6\t1\n6.1\t0.2\t6.1\t2\n\t\t6.2\t3\n\t\t6.3\t4\n"},
           Case{from2, last, 2, nullptr, "6.1\t0.2\t6.2\t3\n6.2\t0.3\t6.3\t4\n\t\t6.4\t5\n"},
           Case{first, last, 2, swapped,
                "6\t1\t6\t0.1\n6.1\t2\t6.1\t0.2\n6.2\t3\t6.2\t0.3\n6.3\t4\t\t\n6.4\t5\t\t\n"},
           Case{first, last, 1, nullptr, "6\t0.1\n6.1\t0.2\n6.2\t0.3\n"},
           Case{first, last, 0, nullptr, ""},
       })
    EXPECT_EQ(ScanTableText(x, y, k.first, k.last, k.n, k.order), k.text) << k.n;

  // Every cell as printf writes it, across magnitudes and signs.
  std::vector<float> xs{0}, ys{0};
  for (float v : {1234567.0f, -0.000123456f, 1e-5f, 100000.0f, 999999.5f, 3.4e38f, -1.17549e-38f, 0.0f,
                  -0.0f, 12.5f, 0.1f})
    xs.push_back(v), ys.push_back(-2 * v);
  const float* px[] = {nullptr, xs.data()};
  const float* py[] = {nullptr, ys.data()};
  const int f[] = {0, 1};
  const int l[] = {0, static_cast<int>(xs.size()) - 1};
  std::string expected;
  for (size_t i = 1; i < xs.size(); ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "%g\t%g\n", static_cast<double>(xs[i]), static_cast<double>(ys[i]));
    expected += line;
  }
  EXPECT_EQ(ScanTableText(px, py, f, l, 1), expected);
  EXPECT_EQ(ScanTableText(px, py, f, l, 1).substr(0, 12), "1.23457e+06\t");

  platform::MemoryClipboard clipboard;
  platform::SetClipboard(&clipboard);
  EXPECT_TRUE(CopyScanTableToClipboard(x, y, first, last, 1));
  EXPECT_EQ(clipboard.text, "6\t0.1\n6.1\t0.2\n6.2\t0.3\n");
  clipboard.refuseOpen = true;
  EXPECT_FALSE(CopyScanTableToClipboard(x, y, first, last, 2));
  EXPECT_EQ(clipboard.text, "6\t0.1\n6.1\t0.2\n6.2\t0.3\n");
  platform::SetClipboard(nullptr);
}

}  // namespace
