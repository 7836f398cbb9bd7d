#pragma once
// On-plot button rectangles as the tests expect them: (top, left, bottom,
// right) in the window's 1400 x 1000 logical frame.
#include <gtest/gtest.h>

#include "plot/screen_button.h"

struct ExpectedRect {
  int top, left, bottom, right;
};

inline void ExpectRect(const CScreenButton* b, ExpectedRect r) {
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->top, r.top);
  EXPECT_EQ(b->left, r.left);
  EXPECT_EQ(b->bottom, r.bottom);
  EXPECT_EQ(b->right, r.right);
}
