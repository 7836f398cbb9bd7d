#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "numerics/arrays.h"
#include "numerics/matrix_files.h"
#include "numerics/nnls_lib.h"
#include "numerics/upper_envelope.h"
#include "platform/scripted_ui.h"
#include "tests/support/file_text.h"
#include "tests/support/temp_folder.h"

namespace {

teststate::TempFolder tempFolder;

std::string TempPath(const std::string& name) { return tempFolder / name; }

using teststate::FileText;

}  // namespace

TEST(MatrixFilesTest, RowsAndColumnsLayouts) {
  DoubleMat m(1, 2, 1, 2);
  m[1][1] = 1, m[1][2] = 2, m[2][1] = 3, m[2][2] = 4;
  const std::string p = TempPath("m.txt");
  ASSERT_TRUE(WriteMatrixFile(m, 1, 2, 1, 2, p.c_str()));
  EXPECT_EQ(FileText(p), "\t1.000000\t2.000000\n\t3.000000\t4.000000\n");
  ASSERT_TRUE(WriteMatrixFileColumns(m, 1, 2, 1, 2, p.c_str()));
  EXPECT_EQ(FileText(p), "\t1.000000\t3.000000\n\t2.000000\t4.000000\n");
  FloatMat f(1, 2, 1, 3);
  for (int i = 1; i <= 2; ++i)
    for (int j = 1; j <= 3; ++j) f[i][j] = static_cast<float>(10 * i + j);
  ASSERT_TRUE(WriteMatrixFileColumnsF(f, 1, 2, 1, 3, p.c_str()));
  EXPECT_EQ(FileText(p), "\t11.000000\t21.000000\n\t12.000000\t22.000000\n\t13.000000\t23.000000\n");
  ASSERT_TRUE(WriteMatrixFile(m, 2, 1, 1, 2, p.c_str()));
  EXPECT_EQ(FileText(p), "");

  // Three lines of two values, read both ways.
  ASSERT_TRUE(WriteMatrixFileT(f, 1, 2, 1, 3, p.c_str()));
  std::ofstream(p) << "1 2\n3\t4 extra\n5 6\n";
  int count = 0;
  float** a = ReadMatrixFile(p.c_str(), 2, &count);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(a[1][3], 5.0f);
  EXPECT_EQ(a[2][2], 4.0f);
  free_matrix(a, 1, 2, 1, 3);
  float** b = ReadMatrixFile2(p.c_str(), 2, &count);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(b[3][1], 5.0f);
  EXPECT_EQ(b[2][2], 4.0f);
  free_matrix(b, 1, 3, 1, 2);
}

TEST(MatrixFilesTest, FailuresAreReportedAndGiveNoMatrix) {
  platform::ScriptedUserInterface ui;
  ui.ExpectBox("", "Attention: could not read from");
  ui.ExpectBox("", "Attention: could not open");
  ui.ExpectBox("", "Attention: could not open");
  platform::ScopedUI guard(ui);
  const std::string p = TempPath("bad.txt");
  std::ofstream(p) << "1 2\n3 x\n";
  int count = 7;
  EXPECT_EQ(ReadMatrixFile(p.c_str(), 2, &count), nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(ReadMatrixFile2("/nonexistent/m", 2, &count), nullptr);
  DoubleMat m(1, 1, 1, 1);
  EXPECT_FALSE(WriteMatrixFile(m, 1, 1, 1, 1, "/nonexistent/dir/m"));
  EXPECT_TRUE(ui.AllConsumed());
  EXPECT_TRUE(ui.failures.empty());
}

TEST(UpperEnvelopeTest, OnePointPerAbscissaWithTheLargestOrdinate) {
  const float x[] = {0, 2, 1, 2, 3}, x2[] = {0, 1, 1, 1, 1}, y[] = {0, 5, 7, 9, 1};
  float x1o[5], y1o[5], x2o[5], y2o[5];
  int c1 = 0, c2 = 0;
  UpperEnvelope(4, x, x2, y, &c1, x1o, y1o, &c2, y2o, x2o);
  ASSERT_EQ(c1, 3);
  EXPECT_EQ(x1o[1], 1.0f);
  EXPECT_EQ(y1o[1], 7.0f);
  EXPECT_EQ(x1o[2], 2.0f);
  EXPECT_EQ(y1o[2], 9.0f);
  EXPECT_EQ(x1o[3], 3.0f);
  EXPECT_EQ(y1o[3], 1.0f);
  ASSERT_EQ(c2, 1);
  EXPECT_EQ(y2o[1], 9.0f);
}

// The Karush-Kuhn-Tucker conditions of min x'Ax/2 - b'x, x >= 0:
// x >= 0, w = b - Ax <= 0 everywhere and w = 0 where x > 0.
TEST(NNLSLibTest, SolutionsMeetTheOptimalityConditions) {
  std::mt19937 gen(2024);
  std::normal_distribution<double> g;
  for (int trial = 0; trial < 60; ++trial) {
    const int n = 2 + trial % 9;
    const int rows = n + 5;
    DoubleMat M(1, rows, 1, n), A(1, n, 1, n), R(1, n, 1, n);
    DoubleVec b(1, n), x(1, n), w(1, n), rb(1, n), z(1, n), zr(1, n), p(1, n), y(1, rows);
    IntVec P(1, n);
    for (int r = 1; r <= rows; ++r) {
      y[r] = g(gen);
      for (int c = 1; c <= n; ++c) M[r][c] = g(gen);
    }
    for (int i = 1; i <= n; ++i) {
      b[i] = 0;
      for (int r = 1; r <= rows; ++r) b[i] += M[r][i] * y[r];
      for (int j = 1; j <= n; ++j) {
        A[i][j] = 0;
        for (int r = 1; r <= rows; ++r) A[i][j] += M[r][i] * M[r][j];
      }
    }
    double limit = 0, iterations = 0;
    ASSERT_TRUE(NNLSLib(n, P, x, w, b, A, rb, R, z, zr, p, &limit, &iterations));
    EXPECT_EQ(limit, n * n);
    EXPECT_GE(iterations, 1);
    for (int i = 1; i <= n; ++i) {
      double wi = b[i];
      for (int j = 1; j <= n; ++j) wi -= A[i][j] * x[j];
      EXPECT_GE(x[i], 0.0);
      EXPECT_LE(wi, 1e-8);
      if (x[i] > 0) {
        EXPECT_NEAR(wi, 0.0, 1e-8);
      }
    }
  }
}

TEST(NNLSLibTest, PositiveSolutionIsTheUnconstrainedOneAndNegativeRightSideGivesZero) {
  DoubleMat A(1, 3, 1, 3), R(1, 3, 1, 3);
  DoubleVec b(1, 3), x(1, 3), w(1, 3), rb(1, 3), z(1, 3), zr(1, 3), p(1, 3);
  IntVec P(1, 3);
  const double d[] = {0, 2, 4, 8};
  for (int i = 1; i <= 3; ++i) {
    for (int j = 1; j <= 3; ++j) A[i][j] = i == j ? d[i] : 0;
    b[i] = i == 2 ? -1 : 1;
  }
  ASSERT_TRUE(NNLSLib(3, P, x, w, b, A, rb, R, z, zr, p, nullptr, nullptr));
  EXPECT_DOUBLE_EQ(x[1], 0.5);
  EXPECT_EQ(x[2], 0.0);
  EXPECT_DOUBLE_EQ(x[3], 0.125);
  for (int i = 1; i <= 3; ++i) b[i] = -1;
  double iterations = 0;
  ASSERT_TRUE(NNLSLib(3, P, x, w, b, A, rb, R, z, zr, p, nullptr, &iterations));
  EXPECT_EQ(iterations, 1);
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(x[i], 0.0);
}

TEST(NNLSLibTest, ASingularPassiveSystemIsReported) {
  platform::ScriptedUserInterface ui;
  ui.lenient = true;
  platform::ScopedUI guard(ui);
  DoubleMat A(1, 2, 1, 2), R(1, 2, 1, 2);
  DoubleVec b(1, 2), x(1, 2), w(1, 2), rb(1, 2), z(1, 2), zr(1, 2), p(1, 2);
  IntVec P(1, 2);
  A[1][1] = 0, A[1][2] = 1, A[2][1] = 1, A[2][2] = 0;
  b[1] = 1, b[2] = 0.5;
  EXPECT_FALSE(NNLSLib(2, P, x, w, b, A, rb, R, z, zr, p, nullptr, nullptr));
  ASSERT_FALSE(ui.transcript.empty());
  EXPECT_EQ(ui.transcript[0].text, "matrix not positive definite in NNLS");
  EXPECT_NEAR(x[1], 0.5, 1e-12);  // the unconstrained solution of A x = b
  EXPECT_NEAR(x[2], 1.0, 1e-12);
}
