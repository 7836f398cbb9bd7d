#include "numerics/arrays.h"

#include <gtest/gtest.h>

#include "platform/fatal_error.h"
#include "platform/scripted_ui.h"

TEST(OneBasedArrays, VectorsAreZeroedOverTheirRange) {
  float* v = vector(1, 5);
  for (long i = 1; i <= 5; ++i) EXPECT_EQ(v[i], 0.0f);
  free_vector(v, 1, 5);
  int* iv = ivector(5, 10);
  for (long i = 5; i <= 10; ++i) EXPECT_EQ(iv[i], 0);
  free_ivector(iv, 5, 10);
  double* d = dvector(0, 3);
  for (long i = 0; i <= 3; ++i) EXPECT_EQ(d[i], 0.0);
  free_dvector(d, 0, 3);
  float* empty = vector(1, 0);
  free_vector(empty, 1, 0);
  free_vector(nullptr, 1, 10);
  free_matrix(nullptr, 1, 2, 1, 2);
}

TEST(OneBasedArrays, MatrixRowsLieBackToBack) {
  float** m = matrix(1, 3, 1, 4);
  EXPECT_EQ(&m[2][1], &m[1][4] + 1);
  EXPECT_EQ(&m[3][1], &m[2][4] + 1);
  free_matrix(m, 1, 3, 1, 4);
}

TEST(OneBasedArrays, TensorIsOneContiguousBlock) {
  float*** t = f3tensor(1, 2, 1, 3, 1, 4);
  float* first = &t[1][1][1];
  long k = 0;
  for (long i = 1; i <= 2; ++i)
    for (long j = 1; j <= 3; ++j)
      for (long d = 1; d <= 4; ++d) EXPECT_EQ(&t[i][j][d], first + k++);
  free_f3tensor(t, 1, 2, 1, 3, 1, 4);
}

TEST(OneBasedArrays, ViewsShareTheData) {
  float** m = matrix(1, 4, 1, 4);
  for (long i = 1; i <= 4; ++i)
    for (long j = 1; j <= 4; ++j) m[i][j] = static_cast<float>(10 * i + j);
  float** s = submatrix(m, 2, 3, 2, 4, 1, 1);
  EXPECT_EQ(s[1][1], 22.0f);
  EXPECT_EQ(s[2][3], 34.0f);
  free_submatrix(s, 1, 2, 1, 3);
  float flat[6] = {1, 2, 3, 4, 5, 6};
  float** c = convert_matrix(flat, 1, 2, 1, 3);
  EXPECT_EQ(c[1][1], 1.0f);
  EXPECT_EQ(c[2][3], 6.0f);
  free_convert_matrix(c, 1, 2, 1, 3);
  free_matrix(m, 1, 4, 1, 4);
}

TEST(OneBasedArrays, NrerrorShowsTheFatalBoxAndAbandonsTheOperation) {
  platform::ScriptedUserInterface ui;
  ui.ExpectBox("Error", "allocation failure in vector()");
  platform::ScopedUI scope(ui);
  platform::ResetQuitRequest();
  EXPECT_THROW(nrerror("allocation failure in vector()"), platform::FatalError);
  EXPECT_TRUE(platform::QuitRequested());
  EXPECT_TRUE(ui.failures.empty());
  platform::ResetQuitRequest();
}

TEST(OneBasedArrays, LowerBoundsOtherThanOneIndexTheirOwnRange) {
  float* v0 = vector(0, 4);
  for (long i = 0; i <= 4; ++i) EXPECT_EQ(v0[i], 0.0f);
  v0[0] = 1;
  v0[4] = 2;
  free_vector(v0, 0, 4);
  long* l = lvector(-3, 3);
  for (long i = -3; i <= 3; ++i) EXPECT_EQ(l[i], 0L);
  free_lvector(l, -3, 3);
  unsigned char* c = cvector(5, 10);
  for (long i = 5; i <= 10; ++i) c[i] = static_cast<unsigned char>(i);
  EXPECT_EQ(c[10], 10);
  free_cvector(c, 5, 10);
  int** m = imatrix(0, 2, 3, 5);
  EXPECT_EQ(&m[1][3], &m[0][5] + 1);
  m[0][3] = 1;
  m[2][5] = 9;
  free_imatrix(m, 0, 2, 3, 5);
  float*** t = f3tensor(2, 3, 0, 1, 5, 6);
  EXPECT_EQ(&t[3][0][5], &t[2][1][6] + 1);
  free_f3tensor(t, 2, 3, 0, 1, 5, 6);
}

// Each allocator names itself when the heap refuses; sizes too large to be
// expressed in bytes fail the same way instead of wrapping to small blocks.
TEST(OneBasedArrays, FailedAllocationsNameTheirAllocator) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's allocator aborts on impossible sizes";
#else
  const long huge = 1L << 61;
  struct Case {
    const char* text;
    void (*allocate)(long);
  };
  const Case cases[] = {
      {"allocation failure in vector()", [](long n) { vector(1, n); }},
      {"allocation failure in ivector()", [](long n) { ivector(1, n); }},
      {"allocation failure in dvector()", [](long n) { dvector(1, n); }},
      {"allocation failure in cvector()", [](long n) { cvector(1, n); }},
      {"allocation failure 1 in matrix()", [](long n) { dmatrix(1, n, 1, 2); }},
      {"allocation failure 2 in matrix()", [](long n) { matrix(1, 2, 1, n); }},
      {"allocation failure 2 in matrix()", [](long n) { imatrix(1, 1L << 20, 1, n); }},
      {"allocation failure 1 in f3tensor()", [](long n) { f3tensor(1, n, 1, 2, 1, 2); }},
      {"allocation failure 2 in f3tensor()", [](long n) { f3tensor(1, 2, 1, n, 1, 2); }},
      {"allocation failure 3 in f3tensor()", [](long n) { f3tensor(1, 2, 1, 2, 1, n); }},
  };
  for (const Case& c : cases) {
    platform::ScriptedUserInterface ui;
    ui.ExpectBox("Error", c.text);
    platform::ScopedUI scope(ui);
    EXPECT_THROW(c.allocate(huge), platform::FatalError) << c.text;
    EXPECT_TRUE(ui.failures.empty()) << c.text << ": " << (ui.failures.empty() ? "" : ui.failures[0]);
  }
  platform::ResetQuitRequest();
#endif
}

TEST(OneBasedArrays, FailedAllocationIsFatalAndNeverReturnsNull) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's allocator aborts on impossible sizes";
#else
  platform::ScriptedUserInterface ui;
  ui.ExpectBox("Error", "allocation failure in dvector()");
  platform::ScopedUI scope(ui);
  platform::ResetQuitRequest();
  EXPECT_THROW(dvector(1, 1L << 60), platform::FatalError);
  EXPECT_TRUE(platform::QuitRequested());
  EXPECT_TRUE(ui.failures.empty());
  platform::ResetQuitRequest();
#endif
}
