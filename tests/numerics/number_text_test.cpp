#include "numerics/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

std::string Printf(const char* format, double v) {
  char text[400];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

void ExpectLikePrintf(double v) {
  std::string e, f;
  AppendE(e, v);
  AppendF(f, v);
  EXPECT_EQ(e, Printf("%e", v)) << std::hexfloat << v;
  EXPECT_EQ(f, Printf("%f", v)) << std::hexfloat << v;
}

TEST(NumberText, EdgeValuesAreWrittenAsPrintfWritesThem) {
  const double inf = std::numeric_limits<double>::infinity();
  const double cases[] = {0.0, 1.0, 0.5, 9.9999995, 9.99999949999, 999999.5, 9999995.0,
                          // exact decimal ties at the seventh digit and at the sixth decimal
                          1.0000005, 0.0000005, 0.0000015, 0.0000025, 2.5e-6, 1234567.5, 0.125e-6,
                          1e-7, 1e22, 1e23, 4.5e15, 1e-300, 5e-324, 2.2250738585072014e-308,
                          1.7976931348623157e308, 3.4028234663852886e38, 1.401298464324817e-45,
                          std::numeric_limits<double>::quiet_NaN(), inf};
  for (double v : cases) {
    ExpectLikePrintf(v);
    ExpectLikePrintf(-v);
  }
}

TEST(NumberText, RandomValuesOfEveryMagnitudeAreWrittenAsPrintfWritesThem) {
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-40, 40);
  for (int i = 0; i < 20000; ++i) {
    const double v = mantissa(random) * std::pow(10.0, exponent(random));
    ExpectLikePrintf(v);
    ExpectLikePrintf(static_cast<float>(v));  // the tables hold floats
    // Any bit pattern, and binary fractions that end exactly on a tie.
    const std::uint64_t bits = random();
    double any;
    std::memcpy(&any, &bits, sizeof any);
    ExpectLikePrintf(any);
    ExpectLikePrintf(static_cast<double>(random() % 100000000) / static_cast<double>(1u << (random() % 30)) * 1e-6);
    if (::testing::Test::HasFailure()) break;
  }
}

}  // namespace
