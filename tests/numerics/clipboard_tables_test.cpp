#include <gtest/gtest.h>

#include <string>

#include "numerics/clipboard_tables.h"
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

}  // namespace
