#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include "numerics/arrays.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "platform/scripted_ui.h"
#include "tests/support/temp_folder.h"

namespace {

// Files of this test program, removed when it ends.
teststate::TempFolder tempFolder;

std::string TempFile(const std::string& name, const std::string& text) {
  const std::string p = tempFolder / name;
  std::ofstream(p) << text;
  return p;
}

CVector Make(std::initializer_list<float> v) {
  CVector c(static_cast<int>(v.size()), std::data(v), 1);
  return c;
}

}  // namespace

TEST(CVectorTest, AttachViewsAndClearsDenormalNoise) {
  float* a = vector(1, 4);
  a[1] = 1e-31f, a[2] = -1e-35f, a[3] = 1e-30f, a[4] = 2;
  {
    CVector v;
    v.Attach(a, 4, 1);
    EXPECT_EQ(v.ownsData, 0);
    EXPECT_EQ(v.GetAt(3), 2.0f);
    EXPECT_EQ(v.GetAt(4), 0.0f);  // outside
  }
  EXPECT_EQ(a[1], 0.0f);
  EXPECT_EQ(a[2], 0.0f);
  EXPECT_EQ(a[3], 1e-30f);
  EXPECT_EQ(a[4], 2.0f);  // the view's destructor left the array alone
  free_vector(a, 1, 4);
}

TEST(CVectorTest, CopyAssignResizeAppend) {
  CVector a = Make({1, 2, 3});
  a.attribute = 7;
  CVector b(a);
  EXPECT_TRUE(a == b);
  EXPECT_EQ(b.attribute, 7);
  b[0] = 9;
  EXPECT_EQ(a[0], 1.0f);
  CVector c = Make({5});
  c = a;
  EXPECT_TRUE(c == a);
  c.Resize(5);
  EXPECT_EQ(c.count, 5u);
  EXPECT_EQ(c[2], 3.0f);
  EXPECT_EQ(c.attribute, 1);
  c.Resize(2);
  EXPECT_EQ(c.count, 2u);
  c.PushBack(4);
  c.Append(5);
  EXPECT_TRUE(c == Make({1, 2, 4, 5}));
  CVector nan = Make({NAN});
  EXPECT_TRUE(nan != nan);
  c *= 2;
  EXPECT_EQ(c[3], 10.0f);
  c.Resize(0);
  EXPECT_EQ(c.data, nullptr);
}

// n appends copy O(n) elements in all: the block at least doubles whenever
// it is full. Counted through the capacity, so no timing is involved.
TEST(CVectorTest, AppendGrowsByDoublingAndCopiesAViewFirst) {
  CVector v;
  int reallocations = 0;
  unsigned copied = 0;
  constexpr unsigned kN = 400000;
  for (unsigned i = 0; i < kN; ++i) {
    const unsigned before = v.capacity;
    const float* block = v.data;
    v.Append(static_cast<float>(i));
    if (v.data != block || v.capacity != before) {
      ++reallocations;
      copied += i;  // the elements moved into the new block
      EXPECT_GE(v.capacity, 2 * i) << i;
    }
    ASSERT_LE(v.count, v.capacity);
  }
  ASSERT_EQ(v.count, kN);
  for (unsigned i = 0; i < kN; i += 9973) EXPECT_EQ(v[i], static_cast<float>(i));
  EXPECT_LE(reallocations, 20);  // log2(400000 / 8) + 1 = 16.6
  EXPECT_LE(copied, 2 * kN);
  // Copies, assignment and equality see the elements, not the spare room.
  CVector copy(v);
  EXPECT_TRUE(copy == v);
  EXPECT_EQ(copy.capacity, kN);

  // A view is never written through: the first append moves it into a block of its own.
  float backing[4] = {0, 1, 2, 3};
  CVector view;
  view.Attach(backing, 3, 1);
  view.Append(9);
  EXPECT_TRUE(view == Make({1, 2, 3, 9}));
  EXPECT_EQ(view.ownsData, 1);
  EXPECT_EQ(backing[3], 3.0f);
}

// A table read whole is bounded by the size its caller gives.
TEST(CVectorTest, ReadingIsBoundedByTheCallersLimit) {
  std::string text;
  for (int i = 0; i < 200; ++i) text += "1.000000\n";  // 1800 bytes
  const std::string path = TempFile("bounded.txt", text);
  CVector all;
  ASSERT_TRUE(all.ReadFromFile(path.c_str()));
  EXPECT_EQ(all.Count(), 200u);
  platform::ScriptedUserInterface ui;
  ui.ExpectBox("", "Attention: " + path + " is larger than 1000 bytes, too large to be read");
  platform::ScopedUI guard(ui);
  CVector bounded = Make({8});
  EXPECT_FALSE(bounded.ReadFromFile(path.c_str(), 1000));
  EXPECT_TRUE(bounded == Make({8}));
  EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();
}

TEST(CVectorTest, ExtremesOverClampedRanges) {
  const CVector v = Make({0, -1, 3, 2, 5});
  EXPECT_EQ(v.Max(), 5.0f);
  EXPECT_EQ(v.Min(), -1.0f);
  EXPECT_EQ(Make({1, 7, 3}).MaxInRange(-5, 100), 7.0f);
  EXPECT_EQ(v.MaxInRange(3, 2), 0.0f);
  bool none = false;
  EXPECT_EQ(v.MinPositiveInRange(0, 4, &none), 2.0f);
  EXPECT_FALSE(none);
  EXPECT_EQ(v.MaxPositiveInRange(0, 3, &none), 3.0f);
  EXPECT_EQ(Make({0, -1}).MinPositiveInRange(0, 4, &none), 1.0f);
  EXPECT_TRUE(none);
  EXPECT_EQ(CVector().Max(), 0.0f);
}

TEST(CVectorTest, LabelsAreIntegersOrSixDigits) {
  struct Case {
    float value, scale;
    int outSize;
    const char* text;
  } cases[] = {{2.0f, 1.0f, 20, "2"},        {0.25f, 1.0f, 20, "0.25"}, {12345, 1.0f, 3, "12"},
               {1.0f / 3, 1.0f, 20, "0.333333"}, {-3, 2.0f, 20, "-6"},  {1.5e-7f, 1, 20, "1.5e-07"}};
  for (const Case& c : cases) {
    const CVector v = Make({c.value});
    char out[32] = "untouched";
    const int n = v.FormatScaledElement(0, out, c.outSize, c.scale);
    EXPECT_STREQ(out, c.text);
    EXPECT_EQ(n, static_cast<int>(std::string(c.text).size()));
  }
  char out[8] = "same";
  EXPECT_EQ(Make({1}).FormatScaledElement(1, out, 8, 1), 0);
  EXPECT_STREQ(out, "same");
  EXPECT_EQ(Make({2}).FormatPow10Element(0, out, 8, 1), 3);
  EXPECT_STREQ(out, "100");
}

TEST(CVectorTest, FilesOfOneValuePerLine) {
  CVector v;
  ASSERT_TRUE(v.ReadFromFile(TempFile("read.txt", "1.5\n2.5 word\nword\n4\n").c_str()));
  EXPECT_TRUE(v == Make({1.5f, 2.5f}));

  const std::string out = TempFile("out.txt", "");
  ASSERT_TRUE(Make({1.25f, -3}).WriteToFile(out.c_str()));
  CVector back(2, 1);
  back[0] = back[1] = 0;
  ASSERT_TRUE(back.ReadFromFile(out.c_str()));
  EXPECT_TRUE(back == Make({1.25f, -3}));

  int nh = 0;
  float* a = ReadFileToArray(out.c_str(), &nh, 3);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(nh, 4);
  EXPECT_EQ(a[3], 1.25f);
  EXPECT_EQ(a[4], -3.0f);
  free_vector(a, 3, nh);

  platform::ScriptedUserInterface ui;
  ui.ExpectBox("", "Attention: could not open");
  platform::ScopedUI guard(ui);
  CVector keep = Make({8});
  EXPECT_FALSE(keep.ReadFromFile("/nonexistent/dir/file"));
  EXPECT_TRUE(keep == Make({8}));
  EXPECT_TRUE(ui.failures.empty());
}

TEST(CVectorTest, SmoothingWindows) {
  CVector v = Make({1, 2, 3, 4, 5, 6});
  ASSERT_TRUE(v.Smooth(2, 2, 1));
  EXPECT_FLOAT_EQ(v[0], 2.0f);   // (1 + 2 + 3) / 3
  EXPECT_FLOAT_EQ(v[2], 3.0f);   // (1 + ... + 5) / 5
  EXPECT_FLOAT_EQ(v[5], 5.0f);   // (4 + 5 + 6) / 3

  // Savitzky-Golay of order 2 reproduces a parabola exactly, ends included.
  CVector q(12, 1);
  for (int i = 0; i < 12; ++i) q[static_cast<unsigned>(i)] = 0.5f * i * i - 3.0f * i + 1.0f;
  const CVector original(q);
  ASSERT_TRUE(q.Smooth(3, 3, 2));
  for (unsigned i = 0; i < 12; ++i) EXPECT_NEAR(q[i], original[i], 1e-4f) << i;

  platform::ScriptedUserInterface ui;
  ui.ExpectBox("", "window for smoothing too big!\n3+3+1<5");
  platform::ScopedUI guard(ui);
  CVector five = Make({1, 2, 3, 4, 5});
  EXPECT_FALSE(five.Smooth(3, 3, 2));
  EXPECT_TRUE(five == Make({1, 2, 3, 4, 5}));
  EXPECT_FALSE(five.Smooth(0, 0, 1));
  EXPECT_TRUE(ui.failures.empty());
}

TEST(CVectorTest, ResampleSmoothKeepsAStraightLine) {
  CVector x(40, 1), y(40, 1);
  for (unsigned i = 0; i < 40; ++i) {
    x[i] = 1.0f + 0.1f * static_cast<float>(i) + 0.02f * static_cast<float>(i % 3);
    y[i] = 2.0f * x[i] + 1.0f;
  }
  ASSERT_TRUE(y.ResampleSmooth(60, x, 2, 2, 1));
  for (unsigned i = 3; i < 37; ++i) EXPECT_NEAR(y[i], 2.0f * x[i] + 1.0f, 1e-4f) << i;
  CVector shorter(10, 1);
  EXPECT_FALSE(shorter.ResampleSmooth(20, x, 1, 1, 1));
}

TEST(CCurveTest, WindowSearches) {
  CVector x = Make({1, 2, 3, 4}), y = Make({5, 1, 7, 0});
  CCurve c(&x, &y);
  EXPECT_EQ(c.MinYInXWindow(1.5f, 3.5f, 0, 4), 1.0f);
  EXPECT_EQ(c.MinYInXWindow(5, 6, 0, 4), 0.0f);
  EXPECT_EQ(c.MaxYInXWindowAll(0, 10), 7.0f);
  EXPECT_FLOAT_EQ(c.MeanYInXWindow(1.5f, 4), 8.0f / 3);
  EXPECT_EQ(c.XAtMaxY(), 3.0f);
  CVector x2 = Make({1, 5, 2}), y2 = Make({9, 9, 0});
  CCurve stops(&x2, &y2);
  EXPECT_EQ(stops.MinYInXWindow(0, 3, 0, 3), 9.0f);
  float px = 0, py = 0;
  EXPECT_EQ(c.NearestXPoint(2.4f, &px, &py), 1);
  EXPECT_EQ(px, 2.0f);
  EXPECT_EQ(py, 1.0f);
  EXPECT_EQ(c.NearestYPoint(6.4f, nullptr, nullptr), 2);
  EXPECT_EQ(c.NearestPoint(4, 1, nullptr, nullptr), 3);
}

TEST(CCurveTest, InterpolationPeaksAndSorting) {
  CVector x = Make({0, 1, 2}), y = Make({0, 10, 20});
  CCurve c(&x, &y);
  EXPECT_FLOAT_EQ(c.InterpolateY(2.5f), 25.0f);
  EXPECT_FLOAT_EQ(c.InterpolateY(1.0f), 10.0f);
  EXPECT_FLOAT_EQ(c.InterpolateY(-1.0f), -10.0f);
  EXPECT_FLOAT_EQ(c.InterpolateY(0.25f), 2.5f);

  CVector px = Make({10, 11, 12, 13, 14}), py = Make({0, 3, 0, 5, 0});
  CCurve peaks(&px, &py);
  float xo[4], yo[4];
  int io[4];
  ASSERT_EQ(peaks.FindPeaks(xo, yo, io, 3, 1), 2);
  EXPECT_EQ(io[1], 4);
  EXPECT_EQ(io[2], 2);
  EXPECT_EQ(xo[1], 13.0f);
  EXPECT_EQ(yo[2], 3.0f);
  EXPECT_EQ(peaks.FindPeaks(nullptr, yo, io, 3, 1), 0);

  CVector sx = Make({3, 1, 2, 1}), sy = Make({30, 10, 20, 11});
  CCurve s(&sx, &sy);
  s.SortByX();
  EXPECT_TRUE(sx == Make({1, 1, 2, 3}));
  EXPECT_TRUE(sy == Make({10, 11, 20, 30}));
}

TEST(CCurveTest, FilesAndOwnership) {
  const int before = CCurve::LiveCount();
  {
    CCurve c;
    ASSERT_TRUE(c.ReadFromFile(TempFile("c1.txt", "1.0;2.0;3.0\n1 2 3\n").c_str(), 1, 3));
    EXPECT_EQ(c.ownsVectors, 1);
    EXPECT_TRUE(*c.x == Make({1, 1}));
    EXPECT_TRUE(*c.y == Make({3, 3}));
    EXPECT_EQ(CCurve::LiveCount(), before + 1);

    CCurve avg;
    ASSERT_TRUE(avg.ReadFromFileAveraged(TempFile("c2.txt", "1 10\n2 20\n3 30\n4 40\n5 50\n").c_str(), 1, 2, 2));
    EXPECT_TRUE(*avg.x == Make({1.5f, 3.5f, 5}));
    EXPECT_TRUE(*avg.y == Make({15, 35, 50}));

    CCurve partial;
    EXPECT_FALSE(partial.ReadFromFile(TempFile("c3.txt", "1 2\n3 x\n").c_str(), 1, 2));
    EXPECT_EQ(partial.Count(), 1);

    const std::string out = TempFile("c4.txt", "");
    ASSERT_TRUE(avg.WriteToFile(out.c_str()));
    CCurve back;
    ASSERT_TRUE(back.ReadFromFile(out.c_str(), 1, 2));
    EXPECT_TRUE(*back.y == *avg.y);

    float xs[] = {0, 1, 2}, ys[] = {0, 5, 6};
    ASSERT_TRUE(WriteXYArrays(out.c_str(), 2, xs, ys));
    ASSERT_TRUE(back.ReadFromFile(out.c_str(), 1, 2));
    EXPECT_TRUE(*back.x == Make({1, 2}));
    CCurve copy(back);
    EXPECT_EQ(copy.x, back.x);
    EXPECT_EQ(copy.ownsVectors, 0);
  }
  EXPECT_EQ(CCurve::LiveCount(), before);

  platform::ScriptedUserInterface ui;
  ui.ExpectBox("", "Attention: could not open");
  platform::ScopedUI guard(ui);
  CCurve none;
  EXPECT_FALSE(none.WriteToFile("/nonexistent/dir/f"));
  EXPECT_EQ(ui.beeps, 1);
}
