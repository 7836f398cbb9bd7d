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
