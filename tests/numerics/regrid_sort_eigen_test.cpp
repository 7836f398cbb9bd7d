#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "numerics/arrays.h"
#include "numerics/eigen.h"
#include "numerics/regrid.h"
#include "numerics/sorting.h"
#include "platform/fatal_error.h"
#include "platform/scripted_ui.h"

namespace {

// One-based copy of a list, with a sentinel in element 0.
template <typename T>
std::vector<T> OneBased(const std::vector<T>& values) {
  std::vector<T> v(values.size() + 1, T(-999));
  for (std::size_t i = 0; i < values.size(); ++i) v[i + 1] = values[i];
  return v;
}

std::vector<float> Steps(float from, float step, int count) {
  std::vector<float> v;
  for (int i = 0; i < count; ++i) v.push_back(from + step * static_cast<float>(i));
  return v;
}

// Old grid x = 1..n with y = 10 x.
struct LineData {
  std::vector<float> x, y;
  explicit LineData(int n) {
    x = OneBased(Steps(1, 1, n));
    y = x;
    for (float& v : y) v *= 10;
  }
  int n() const { return static_cast<int>(x.size()) - 1; }
};

// Onto new grids from the line y = 10 x on x = 1..n: inside and up to one
// spacing beyond either end the line itself; farther left the first value
// (the mean of the first ten from eleven points on), farther right the mean
// of the last ten.
TEST(Regrid, EachNewPointByWhereItLiesAgainstTheOldGrid) {
  struct Case {
    const char* name;
    int oldPoints;
    std::vector<float> x;
    float (*want)(float x);
  };
  const Case cases[] = {
      {"inside, one spacing left extrapolates", 10, Steps(0.5f, 1, 10), [](float x) { return 10 * x; }},
      {"far left: the first value", 10, Steps(-5, 1, 10), [](float x) { return x <= 0 ? 10.0f : 10 * x; }},
      {"far left of eleven or more: the mean of the first ten", 12, Steps(-5, 1, 10),
       [](float x) { return x <= 0 ? 55.0f : 10 * x; }},
      {"far right: the mean of 30..120", 12, Steps(1, 0.5f, 26), [](float x) { return x <= 12 ? 10 * x : 75.0f; }},
      {"near right: up to one spacing", 10, {1, 2, 3, 4, 5, 9.5f, 10, 10.5f, 11}, [](float x) { return 10 * x; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LineData old(c.oldPoints);
    const auto xNew = OneBased(c.x);
    const int n = static_cast<int>(c.x.size());
    std::vector<float> yNew(n + 1, -1);
    InterpolateOntoGrid(n, xNew.data(), yNew.data(), old.n(), old.x.data(), old.y.data());
    for (int i = 1; i <= n; ++i) EXPECT_FLOAT_EQ(yNew[i], c.want(xNew[i])) << xNew[i];
    EXPECT_EQ(yNew[0], -1.0f) << "element 0 is not touched";
  }
}

TEST(Regrid, RefusedGridsLeaveTheTargetUntouched) {
  LineData old(10);
  struct Case {
    std::vector<float> x;
    const char* why;
  };
  const Case cases[] = {
      {{1, 2, 3, 4}, "four points"},
      {{1, 2, 3, 4, 7, 8}, "fifth point beyond xOld[nOld-4]"},
      {{20, 21, 22, 23, 24}, "no overlap on the right"},
      {{-9, -8, -7, -6, -5, -4, -3, -2}, "no overlap on the left"},
  };
  for (const Case& c : cases) {
    auto xNew = OneBased(c.x);
    const int n = static_cast<int>(c.x.size());
    std::vector<float> yNew(n + 1, 42);
    InterpolateOntoGrid(n, xNew.data(), yNew.data(), old.n(), old.x.data(), old.y.data());
    for (int i = 1; i <= n; ++i) EXPECT_EQ(yNew[i], 42.0f) << c.why;
  }
  std::vector<float> few(5, 42);
  auto x4 = OneBased(Steps(1, 1, 4));
  InterpolateOntoGrid(4, old.x.data(), few.data(), 4, x4.data(), x4.data());
  EXPECT_EQ(few[1], 42.0f) << "four old points";
}

TEST(Regrid, TypeTwinsAgreeAndTheAddingTwinAccumulates) {
  std::vector<double> xo(13), yo(13);
  for (int i = 1; i <= 12; ++i) {
    xo[i] = 0.1 * i;
    yo[i] = std::sin(xo[i]);
  }
  auto xNewF = OneBased(Steps(0.15f, 0.1f, 10));
  std::vector<double> xNewD(11);
  for (int i = 1; i <= 10; ++i) xNewD[i] = xNewF[i];
  std::vector<float> yF(11, 0), yAdd(11, 0);
  std::vector<double> yD(11, 0);
  InterpolateOntoGridD(10, xNewF.data(), yF.data(), 12, xo.data(), yo.data());
  InterpolateOntoGridMixed(10, xNewD.data(), yD.data(), 12, xo.data(), yo.data());
  InterpolateOntoGridFD(10, xNewF.data(), yAdd.data(), 12, xo.data(), yo.data());
  InterpolateOntoGridFD(10, xNewF.data(), yAdd.data(), 12, xo.data(), yo.data());
  for (int i = 1; i <= 10; ++i) {
    // Linear interpolation of sin: error below h^2/8 max|sin''| = 1.25e-3.
    EXPECT_NEAR(yD[i], std::sin(xNewD[i]), 1.3e-3);
    EXPECT_NEAR(yF[i], yD[i], 1e-6);
    EXPECT_NEAR(yAdd[i], 2 * yF[i], 1e-6);
  }
  std::vector<float> xoF(13), yoF(13);
  for (int i = 1; i <= 12; ++i) {
    xoF[i] = static_cast<float>(xo[i]);
    yoF[i] = static_cast<float>(yo[i]);
  }
  std::vector<double> yDF(11, 0);
  InterpolateOntoGridDF(10, xNewD.data(), yDF.data(), 12, xoF.data(), yoF.data());
  for (int i = 1; i <= 10; ++i) EXPECT_NEAR(yDF[i], yD[i], 1e-6);
}

TEST(Regrid, InnerOnlyTwinKeepsPointsOutsideTheOldRange) {
  std::vector<double> xo{0, 1, 2, 3}, yo{0, 10, 20, 30};
  std::vector<double> xn{0, 0.5, 1.5, 2, 3.5}, yn{0, -1, -1, -1, -1};
  InterpolateOntoGridDD(4, xn.data(), yn.data(), 3, xo.data(), yo.data());
  EXPECT_EQ(yn[1], -1.0);
  EXPECT_DOUBLE_EQ(yn[2], 15.0);
  EXPECT_DOUBLE_EQ(yn[3], 20.0);
  EXPECT_EQ(yn[4], -1.0);
}

TEST(Regrid, NevillePolynomialThroughThreePoints) {
  auto xa = OneBased(std::vector<float>{0, 1, 2});
  auto ya = OneBased(std::vector<float>{0, 1, 4});
  float y = 0, dy = 0;
  polint(xa.data(), ya.data(), 3, 1.5f, &y, &dy);
  EXPECT_FLOAT_EQ(y, 2.25f);
  // A cubic is reproduced exactly by four points.
  auto xc = OneBased(std::vector<float>{-1, 0, 2, 3});
  std::vector<float> yc(5);
  for (int i = 1; i <= 4; ++i) yc[i] = xc[i] * xc[i] * xc[i] - 2 * xc[i];
  polint(xc.data(), yc.data(), 4, 1.0f, &y, &dy);
  EXPECT_NEAR(y, -1.0f, 1e-5);

  platform::ScriptedUserInterface ui;
  ui.ExpectBox("Error", "Error in routine polint");
  platform::ScopedUI scope(ui);
  auto xd = OneBased(std::vector<float>{0, 1, 1});
  platform::ResetQuitRequest();
  // Coincident abscissae end the command, not the program.
  EXPECT_THROW(polint(xd.data(), ya.data(), 3, 0.5f, &y, &dy), platform::CommandFailure);
  EXPECT_FALSE(platform::QuitRequested());
  EXPECT_TRUE(ui.failures.empty());
  platform::ResetQuitRequest();
}

TEST(Sorting, IndexAndCompanionSortsAgreeWithAReferenceSort) {
  std::mt19937 gen(11);
  std::uniform_int_distribution<int> u(0, 40);  // many equal keys
  for (int n : {1, 2, 6, 7, 8, 50, 1000}) {
    std::vector<float> a(n + 1), b(n + 1), c(n + 1);
    for (int i = 1; i <= n; ++i) {
      a[i] = static_cast<float>(u(gen));
      b[i] = 10000.0f * a[i] + static_cast<float>(i);  // companion remembers its key
      c[i] = -b[i];
    }
    std::vector<int> indx(n + 1);
    std::vector<float> original = a;
    indexx(n, a.data(), indx.data());
    EXPECT_EQ(a, original) << "indexx leaves arr alone";
    std::vector<bool> seen(n + 1, false);
    for (int i = 1; i <= n; ++i) {
      ASSERT_GE(indx[i], 1);
      ASSERT_LE(indx[i], n);
      EXPECT_FALSE(seen[indx[i]]);
      seen[indx[i]] = true;
      if (i > 1) {
        EXPECT_LE(a[indx[i - 1]], a[indx[i]]);
      }
    }
    std::vector<float> a2 = a, b2 = b;
    sort2(n, a2.data(), b2.data());
    std::vector<float> a3 = a, b3 = b, c3 = c;
    sort3(n, a3.data(), b3.data(), c3.data());
    for (int i = 1; i <= n; ++i) {
      if (i > 1) {
        EXPECT_LE(a2[i - 1], a2[i]);
      }
      EXPECT_EQ(std::floor(b2[i] / 10000.0f), a2[i]);
      EXPECT_EQ(a3[i], a[indx[i]]);
      EXPECT_EQ(b3[i], b[indx[i]]);
      EXPECT_EQ(c3[i], -b3[i]);
    }
  }
}

TEST(Eigen, JacobiOnTheTwoByTwoExample) {
  // [[2,1],[1,2]]: eigenvalues 3 and 1, eigenvectors (1,1)/sqrt2 and (1,-1)/sqrt2.
  FloatMat a(1, 2, 1, 2), v(1, 2, 1, 2);
  a[1][1] = 2;
  a[1][2] = 1;
  a[2][1] = 1;
  a[2][2] = 2;
  FloatVec d(1, 2);
  int nrot = 0;
  jacobi(a, 2, d, v, &nrot);
  EXPECT_EQ(nrot, 1);
  sort_select(d, v, 2);
  EXPECT_NEAR(d[1], 3.0f, 1e-6);
  EXPECT_NEAR(d[2], 1.0f, 1e-6);
  const float r = 1 / std::sqrt(2.0f);
  EXPECT_NEAR(std::fabs(v[1][1]), r, 1e-6);
  EXPECT_NEAR(v[1][1], v[2][1], 1e-6);
  EXPECT_NEAR(v[1][2], -v[2][2], 1e-6);
}

TEST(Eigen, DoubleJacobiDiagonalisesARandomSymmetricMatrix) {
  std::mt19937 gen(3);
  std::uniform_real_distribution<double> u(-1, 1);
  const int n = 8;
  DoubleMat a(1, n, 1, n), keep(1, n, 1, n), v(1, n, 1, n);
  for (int i = 1; i <= n; ++i)
    for (int j = i; j <= n; ++j) keep[i][j] = keep[j][i] = a[i][j] = a[j][i] = u(gen);
  DoubleVec d(1, n);
  int nrot = 0;
  djacobi(a, n, d, v, &nrot);
  sort_select_d(d, v, n);
  double trace = 0, sum = 0;
  for (int i = 1; i <= n; ++i) {
    trace += keep[i][i];
    sum += d[i];
    if (i > 1) {
      EXPECT_GE(d[i - 1], d[i]);
    }
  }
  EXPECT_NEAR(trace, sum, 1e-12);
  // A v_k = d_k v_k for every column, and V is orthonormal.
  for (int k = 1; k <= n; ++k) {
    for (int i = 1; i <= n; ++i) {
      double av = 0;
      for (int j = 1; j <= n; ++j) av += keep[i][j] * v[j][k];
      EXPECT_NEAR(av, d[k] * v[i][k], 1e-12);
    }
    for (int l = 1; l <= n; ++l) {
      double dot = 0;
      for (int i = 1; i <= n; ++i) dot += v[i][k] * v[i][l];
      EXPECT_NEAR(dot, k == l ? 1.0 : 0.0, 1e-12);
    }
  }
}

TEST(Eigen, SortSelectMovesColumnsWithTheirValues) {
  FloatVec d(1, 3);
  d[1] = 1;
  d[2] = 3;
  d[3] = 2;
  FloatMat v(1, 3, 1, 3);
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) v[i][j] = static_cast<float>(10 * i + j);
  sort_select(d, v, 3);
  EXPECT_EQ(d[1], 3.0f);
  EXPECT_EQ(d[2], 2.0f);
  EXPECT_EQ(d[3], 1.0f);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(v[i][1], 10.0f * i + 2);
    EXPECT_EQ(v[i][2], 10.0f * i + 3);
    EXPECT_EQ(v[i][3], 10.0f * i + 1);
  }
}

}  // namespace

TEST(Regrid, CellProfileIsZeroInTheAirAndAgreesElsewhere) {
  // A profile on nodes 6.0 .. 7.2 (the cell); scan radii from 5.9 to 7.3.
  std::vector<double> xo(26), yo(26);
  for (int i = 1; i <= 25; ++i) {
    xo[i] = 6.0 + 0.05 * (i - 1);
    yo[i] = 0.5 + 0.1 * i;
  }
  auto xNew = OneBased(Steps(5.9f, 0.02f, 71));
  xNew[6] = 6.0f;  // a radius stored as the meniscus itself
  std::vector<float> plain(72, -1), cell(72, -1), added(72, 3), addedPlain(72, 3);
  InterpolateOntoGridD(71, xNew.data(), plain.data(), 25, xo.data(), yo.data());
  InterpolateCellProfile(71, xNew.data(), cell.data(), 25, xo.data(), yo.data());
  InterpolateCellProfileAdd(71, xNew.data(), added.data(), 25, xo.data(), yo.data());
  InterpolateOntoGridFD(71, xNew.data(), addedPlain.data(), 25, xo.data(), yo.data());
  int outside = 0;
  for (int i = 1; i <= 71; ++i) {
    if (xNew[i] < 6.0f) {
      ++outside;
      EXPECT_EQ(cell[i], 0.0f) << xNew[i];
      EXPECT_NE(plain[i], 0.0f) << xNew[i];  // the end rules invent a value there
      EXPECT_EQ(added[i], 3.0f) << xNew[i];
    } else {
      EXPECT_EQ(cell[i], plain[i]) << xNew[i];
      EXPECT_EQ(added[i], addedPlain[i]) << xNew[i];
    }
  }
  EXPECT_EQ(outside, 5);  // 5.90 .. 5.98
  EXPECT_FLOAT_EQ(cell[6], 0.6f);
  // Grids that do not overlap leave the target as it was.
  std::vector<float> far = OneBased(Steps(8.0f, 0.1f, 10)), y(11, -1);
  InterpolateCellProfile(10, far.data(), y.data(), 25, xo.data(), yo.data());
  for (int i = 1; i <= 10; ++i) EXPECT_EQ(y[i], -1.0f);
}

// The plan gives InterpolateCellProfile's values to the bit on every kind
// of grid pair (air, both left rules, exact hits, both right rules, refused
// grids), and both agree with the interpolation carried out in long double
// to the float they are stored in.
TEST(Regrid, CellProfilePlanAgreesWithTheDirectInterpolation) {
  struct Case {
    const char* what;
    float first, step;  // radii first + step (i - 1)
    int count;
    bool meniscusRadius;  // one radius stored as the meniscus itself
    bool onNodes = false;  // the radii are the nodes, rounded to float
  };
  const Case cases[] = {
      {"inside, meniscus radius", 6.0f, 0.0012f, 1000, true},
      {"air within one spacing: left line", 5.995f, 0.002f, 600, true},
      {"far into the air: left constant", 5.5f, 0.01f, 170, false},
      {"to one spacing beyond the bottom: right line", 6.05f, 0.002f, 578, false},
      {"far beyond the bottom: right constant", 6.1f, 0.01f, 140, false},
      {"every radius a node", 6.0f, 0.008f, 150, false, true},
      {"four radii: refused", 6.1f, 0.1f, 4, false},
      {"no overlap: refused", 8.0f, 0.1f, 20, false},
  };
  // Nodes 6.0 .. 7.2, 0.01 apart at both ends and unevenly spaced between,
  // with a steep profile on them.
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> jitter(0.2, 1.8);
  const int nOld = 151;
  std::vector<double> xo(nOld + 1), yo(nOld + 1), gaps(nOld);
  double total = 0;
  for (int i = 2; i < nOld - 1; ++i) total += gaps[i] = jitter(gen);
  xo[1] = 6.0;
  xo[2] = 6.01;
  for (int i = 3; i < nOld; ++i) xo[i] = xo[i - 1] + 1.18 * gaps[i - 1] / total;
  xo[nOld - 1] = 7.19;
  xo[nOld] = 7.2;
  for (int i = 1; i <= nOld; ++i) yo[i] = 0.3 + std::erfc((6.5 - xo[i]) / 0.02) + 1e-3 * i;
  double lastTen = 0;
  for (int i = nOld - 9; i <= nOld; ++i) lastTen += yo[i];
  lastTen *= 0.1;
  CCellProfilePlan plan;
  for (const Case& c : cases) {
    std::vector<float> x(c.count + 1);
    for (int i = 1; i <= c.count; ++i) x[i] = c.first + c.step * static_cast<float>(i - 1);
    if (c.meniscusRadius) {
      for (int i = 1; i <= c.count; ++i)
        if (x[i] >= 6.0f) {
          x[i] = 6.0f;
          break;
        }
    }
    if (c.onNodes)
      for (int i = 1; i <= c.count; ++i) x[i] = static_cast<float>(xo[i]);
    std::vector<float> direct(c.count + 1, -7), viaPlan(c.count + 1, -7);
    std::vector<float> added(c.count + 1, 0.25f), addedPlan(c.count + 1, 0.25f);
    InterpolateCellProfile(c.count, x.data(), direct.data(), nOld, xo.data(), yo.data());
    InterpolateCellProfileAdd(c.count, x.data(), added.data(), nOld, xo.data(), yo.data());
    plan.Prepare(c.count, x.data(), nOld, xo.data());
    EXPECT_TRUE(plan.MadeFor(c.count, x.data(), nOld, xo.data())) << c.what;
    plan.Apply(yo.data(), viaPlan.data());
    plan.ApplyAdd(yo.data(), addedPlan.data());
    int interpolated = 0;
    for (int i = 1; i <= c.count; ++i) {
      EXPECT_EQ(std::memcmp(&direct[i], &viaPlan[i], sizeof(float)), 0) << c.what << " " << x[i];
      EXPECT_EQ(std::memcmp(&added[i], &addedPlan[i], sizeof(float)), 0) << c.what << " " << x[i];
      if (direct[i] == -7) continue;  // refused: nothing written
      if (x[i] > 7.21f) {
        EXPECT_FLOAT_EQ(direct[i], static_cast<float>(lastTen)) << c.what;
      }
      if (!(x[i] >= 6.0f) || x[i] > 7.2f) continue;
      // Long double oracle of the inner rule, rounded to float.
      int j = 2;
      while (j < nOld && xo[j] <= x[i]) ++j;
      const long double t = (static_cast<long double>(x[i]) - xo[j - 1]) /
                            (static_cast<long double>(xo[j]) - xo[j - 1]);
      const float wide = static_cast<float>(yo[j - 1] + t * (static_cast<long double>(yo[j]) - yo[j - 1]));
      EXPECT_LE(std::fabs(direct[i] - wide), std::nextafter(wide, 10.0f) - wide)
          << c.what << " " << x[i];
      ++interpolated;
    }
    const bool refused = c.count < 5 || c.first > 7.2f;
    EXPECT_EQ(interpolated == 0, refused) << c.what;
  }
  // A plan is never applied to grids that changed under the same arrays.
  std::vector<float> x(101);
  for (int i = 1; i <= 100; ++i) x[i] = 6.0f + 0.01f * static_cast<float>(i);
  plan.Make(100, x.data(), nOld, xo.data());
  x[50] += 0.001f;
  EXPECT_FALSE(plan.MadeFor(100, x.data(), nOld, xo.data()));
  x[50] -= 0.001f;
  xo[75] += 1e-9;
  EXPECT_FALSE(plan.MadeFor(100, x.data(), nOld, xo.data()));
  EXPECT_FALSE(plan.MadeFor(99, x.data(), nOld, xo.data()));
}

namespace {

// The integral of w y over [a, b] for y straight between the points
// (x, y), by the midpoint rule on a fine partition.
double Amount(const std::vector<float>& x, const std::vector<float>& y, double a, double b, bool sector) {
  const int n = 400000;
  double sum = 0;
  std::size_t p = 0;
  for (int k = 0; k < n; ++k) {
    const double r = a + (k + 0.5) * (b - a) / n;
    while (p + 2 < x.size() && x[p + 1] < r) ++p;
    const double v = y[p] + (y[p + 1] - y[p]) * (r - x[p]) / (x[p + 1] - x[p]);
    sum += v * (sector ? r : 1.0);
  }
  return sum * (b - a) / n;
}

// The amount of hat functions with node values y: sum of y_i int phi_i w.
double HatAmount(const std::vector<double>& x, const std::vector<double>& y, bool sector) {
  double sum = 0;
  for (std::size_t k = 1; k + 1 < x.size(); ++k) {
    const double h = x[k + 1] - x[k];
    const double w0 = sector ? x[k] : 1, w1 = sector ? x[k + 1] : 1;
    sum += h / 6 * (y[k] * (2 * w0 + w1) + y[k + 1] * (w0 + 2 * w1));
  }
  return sum;
}

}  // namespace

// A scan onto the nodes of a Lamm grid: straight lines come through exactly
// on any nodes, a smooth boundary at fourth order where either projection
// alone would be off by h^2 y''/12, the amount of a noisy scan is kept and
// its noise averaged, not sampled.
TEST(Regrid, ProjectionOntoHatFunctions) {
  const double m = 6.0, b = 7.2;
  // Data beyond both ends, 0.003 cm apart.
  const std::vector<float> x = Steps(5.99f, 0.003f, 411);
  auto even = [&](int n) {
    std::vector<double> r(n + 1, 0.0);
    for (int i = 1; i <= n; ++i) r[i] = m + (b - m) * (i - 1) / (n - 1);
    return r;
  };
  std::vector<double> geometric(61, 0.0);
  for (int i = 1; i <= 60; ++i) geometric[i] = m * std::pow(b / m, (i - 1) / 59.0);
  std::mt19937 gen(3);
  std::normal_distribution<double> noise(0.0, 0.005);
  struct Row {
    const char* name;
    std::vector<double> nodes;
    std::function<double(double)> y;
    bool noisy;
    // Largest |yNew - y| at the nodes (noise-free rows); either projection
    // alone errs by h^2 y''/12, 3.6e-3 on the boundary.
    double nodeError;
  };
  const Row rows[] = {
      {"line, geometric nodes", geometric, [](double r) { return 2 + 0.5 * r; }, false, 1e-5},
      {"boundary, 132 even nodes", even(132), [](double r) { return 0.5 * std::erfc((r - 6.6) / 0.03); }, false,
       5e-4},
      {"noise on a plateau, 132 even nodes", even(132), [](double) { return 1.0; }, true, 0},
  };
  for (const Row& row : rows) {
    for (const bool sector : {true, false}) {
      SCOPED_TRACE(std::string(row.name) + (sector ? ", sector" : ", planar"));
      std::vector<float> y;
      for (float r : x) y.push_back(static_cast<float>(row.y(r) + (row.noisy ? noise(gen) : 0.0)));
      const std::vector<float> x1 = OneBased(x), y1 = OneBased(y);
      const int n = static_cast<int>(row.nodes.size()) - 1;
      std::vector<double> out(n + 1, 0.0);
      ASSERT_TRUE(ProjectOntoHatFunctions(n, row.nodes.data(), out.data(), static_cast<int>(x.size()), x1.data(),
                                          y1.data(), sector));
      const double amount = Amount(x, y, m, b, sector);
      EXPECT_NEAR(HatAmount(row.nodes, out, sector), amount, 1e-7 * amount);
      if (!row.noisy) {
        for (int i = 1; i <= n; ++i) ASSERT_NEAR(out[i], row.y(row.nodes[i]), row.nodeError) << i;
      } else {
        // About three scan points to a node: the noise drops well below its
        // own size (point values would keep all of it).
        double var = 0;
        for (int i = 1; i <= n; ++i) var += (out[i] - 1) * (out[i] - 1);
        EXPECT_LT(std::sqrt(var / n), 0.7 * 0.005);
      }
    }
  }
  // Data that do not reach the nodes: nothing written.
  std::vector<double> out(61, -5.0);
  const std::vector<float> shortX = OneBased(Steps(6.5f, 0.003f, 4)), shortY = OneBased(std::vector<float>(4, 1.0f));
  EXPECT_FALSE(ProjectOntoHatFunctions(60, geometric.data(), out.data(), 4, shortX.data(), shortY.data(), true));
  EXPECT_EQ(out[7], -5.0);
}

// Negative node values go to 0 and their amount to their neighbours: the
// noise about zero of a depleted region stays near zero, the amount whole.
TEST(Regrid, NegativesClearedKeepingTheAmount) {
  const int n = 120;
  std::vector<double> r(n + 1, 0.0);
  for (int i = 1; i <= n; ++i) r[i] = 6.0 + 1.2 * (i - 1) / (n - 1);
  std::mt19937 gen(5);
  std::normal_distribution<double> noise(0.0, 0.003);
  struct Row {
    const char* name;
    std::function<double(int)> y;
  };
  const Row rows[] = {
      {"noise about zero before a plateau", [&](int i) { return (i > 60 ? 1.0 : 0.0) + noise(gen); }},
      {"one negative node at each end", [](int i) { return i == 1 || i == n ? -0.2 : 0.5; }},
      {"nothing positive in all", [](int i) { return i % 2 ? -0.1 : 0.05; }},
  };
  for (const Row& row : rows) {
    for (const bool sector : {true, false}) {
      SCOPED_TRACE(std::string(row.name) + (sector ? ", sector" : ", planar"));
      std::vector<double> y(n + 1, 0.0);
      for (int i = 1; i <= n; ++i) y[i] = row.y(i);
      const double before = HatAmount(r, y, sector);
      const std::vector<double> original = y;
      ClearNegativesKeepingAmount(n, r.data(), y.data(), sector);
      for (int i = 1; i <= n; ++i) ASSERT_GE(y[i], 0.0) << i;
      if (before <= 0) {
        for (int i = 1; i <= n; ++i) EXPECT_EQ(y[i], 0.0);
        continue;
      }
      EXPECT_NEAR(HatAmount(r, y, sector), before, 1e-12 * std::fabs(before));
      // Nothing moves far: the plateau away from the noise keeps its values.
      for (int i = 70; i < n - 5; ++i) EXPECT_NEAR(y[i], original[i], 0.02) << i;
    }
  }
}
