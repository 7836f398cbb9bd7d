#include "automation/tools/hydro_results.h"
#include "numerics/linear_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// ---- s(M) power law ----

struct CalibrationCase {
  const char* name;
  std::vector<float> s, M;
  float exponent;
  double ks, kb;
};

TEST(CMPowerLaw, MatchesClosedFormsAndLeastSquares) {
  std::vector<float> M4 = {1e4f, 3e4f, 1e5f, 3e5f}, s4;
  for (float m : M4) s4.push_back(0.01f * std::pow(m, 0.6f));
  s4[0] *= 1.01f;
  s4[1] *= 0.99f;
  const CalibrationCase cases[] = {
      // Two rows: kb = log(s2/s1) / log(M2/M1) exactly.
      {"two rows", {2, 8}, {20000, 160000}, 0.66f, 2.71442e-3, 0.666667},
      {"one row", {4}, {50000}, 0.66f, 3.16767e-3, 0.66},
      // Least squares in log-log, as computed independently.
      {"four rows", s4, M4, 0.66f, 0.0101837, 0.59833},
  };
  for (const CalibrationCase& c : cases) {
    SCOPED_TRACE(c.name);
    const PowerLawFit f = FitCMPowerLaw(c.s, c.M, c.exponent);
    ASSERT_TRUE(f.ok) << f.refusal;
    EXPECT_NEAR(f.ks, c.ks, 1e-5 * c.ks);
    EXPECT_NEAR(f.kb, c.kb, 1e-5);
  }
}

TEST(CMPowerLaw, PlotSpansTheRowsWithMargins) {
  const PowerLawFit two = FitCMPowerLaw({2, 8}, {20000, 160000}, 0.66f);
  ASSERT_EQ(two.n, 2);
  const double l1 = std::log10(20000.0), l2 = std::log10(160000.0), margin = 0.1 * (l2 - l1);
  EXPECT_NEAR(two.lineX[1], l1 - margin, 1e-5);
  EXPECT_NEAR(two.lineX[2], l2 + margin, 1e-5);
  const double span = two.lineY[2] - two.lineY[1];
  EXPECT_NEAR(two.yLow, two.lineY[1] - 0.05 * span, 1e-5);
  EXPECT_NEAR(two.yHigh, two.lineY[2] + 0.05 * span, 1e-5);

  const PowerLawFit one = FitCMPowerLaw({4}, {50000}, 0.66f);
  ASSERT_EQ(one.n, 2);
  EXPECT_EQ(one.x[1], one.x[2]);
  EXPECT_NEAR(one.lineX[1], 0.7 * std::log10(50000.0), 1e-5);
  EXPECT_NEAR(one.lineX[2], 1.3 * std::log10(50000.0), 1e-5);
}

TEST(CMPowerLaw, RefusesRowsWithoutLogarithmAndEqualMasses) {
  const CalibrationRows rows = UsableCalibrationRows({2, -1, 0, 8}, {20000, 5e4f, 1e5f, 160000});
  EXPECT_EQ(rows.s, (std::vector<float>{2, 8}));
  EXPECT_EQ(rows.M, (std::vector<float>{20000, 160000}));
  EXPECT_EQ(rows.skipped, "rows with s or M not above 0 were left out: 2, 3");
  EXPECT_TRUE(UsableCalibrationRows({1}, {1000}).skipped.empty());

  const PowerLawFit equal = FitCMPowerLaw({2, 3}, {50000, 50000}, 0.66f);
  EXPECT_FALSE(equal.ok);
  EXPECT_EQ(equal.refusal, "all molar masses of the calibration are equal: the exponent cannot be fitted");
  EXPECT_FALSE(FitCMPowerLaw({2, 3}, {0, 50000}, 0.66f).ok);
  EXPECT_FALSE(FitCMPowerLaw({}, {}, 0.66f).ok);
}

// ---- boundary-element output ----

std::string Record(const std::string& N, double D) {
  char buf[300];
  std::snprintf(buf, sizeof buf,
                " Model file tdat\n Number of Surface Patches   %s\n  some lines\n DTT(EXACT) = %.6E cm2/s\n\n",
                N.c_str(), D);
  return buf;
}

double TrueD(double N) { return 1.1e-6 - 2e-5 / N; }

// Records at N = 500, 1000, ... listed smallest first.
std::string Output(int records, double firstFactor = 1.0) {
  std::string t = "header\n";
  for (int i = 1; i <= records; ++i) {
    const double N = 500.0 * i;
    t += Record(std::to_string(static_cast<int>(N)), TrueD(N) * (i == 1 ? firstFactor : 1.0));
  }
  return t;
}

TEST(BestOutput, ExtrapolatesDToInfiniteTriangulation) {
  const BestModels m = ScanBestOutput(Output(16));  // N = 500 ... 8000
  ASSERT_EQ(m.N.size(), 16u);
  EXPECT_EQ(m.N.front(), 8000.0f);
  EXPECT_EQ(m.N.back(), 500.0f);
  EXPECT_FLOAT_EQ(m.D.front(), static_cast<float>(TrueD(8000)));
  const BestExtrapolation e = ExtrapolateBestD(m);
  EXPECT_NEAR(e.D0, 1.1e-6, 1.1e-11);
  EXPECT_NEAR(e.slope, -2e-5, 2e-8);
  EXPECT_NEAR(SFromBestD(14305, 1.1e-6, 0.73), 1.75142, 1e-5);
}

TEST(BestOutput, KeepsAHundredModelsAndAtLeastThreeInTheFit) {
  EXPECT_EQ(ScanBestOutput(Output(150)).N.size(), 100u);
  // Any three models stay together whatever their residuals.
  const BestModels three = ScanBestOutput(Record("1000", 1e-6) + Record("2000", 3e-6) + Record("4000", 1e-6));
  EXPECT_EQ(ExtrapolateBestD(three).used, 3);
}

TEST(BestOutput, DropsASmallModelThatSpoilsTheLine) {
  const BestModels m = ScanBestOutput(Output(6, 1.02));  // N = 500 off by 2 %
  const BestExtrapolation e = ExtrapolateBestD(m);
  // The remaining models lie on the line exactly: rounding decides whether
  // more of them go, never the accuracy.
  EXPECT_GE(e.used, 3);
  EXPECT_LE(e.used, 5);
  EXPECT_NEAR(e.D0, 1.1e-6, 1.1e-9);
  const std::string report = BestReport("out.txt", m, e, 14305, 0.73f);
  EXPECT_NE(report.find("\nextrapolation of " + std::to_string(e.used) + " largest models to 1/N = 0 gives D = "),
            std::string::npos);
  // With the spoiling model kept, the line would miss by far more.
  float a = 0, b = 0;
  std::vector<float> x = {0}, y = {0};
  for (size_t i = 0; i < m.N.size(); ++i) {
    x.push_back(1.0f / m.N[i]);
    y.push_back(m.D[i]);
  }
  LinearFitWithResidual(&a, &b, x.data(), y.data(), 6);
  EXPECT_GT(std::fabs(a - 1.1e-6), 1.1e-9);
}

TEST(BestOutput, SkipsUnusableRecordsAndStopsAtAMissingD) {
  const std::string text = Record("abc", 1e-6) + Record("0", 1e-6) + Record("-5", 1e-6) + Record("2000", 9e-7) +
                           " Number of Surface Patches 4000\n no diffusion here\n";
  const BestModels m = ScanBestOutput(text);
  ASSERT_EQ(m.N.size(), 1u);
  EXPECT_EQ(m.N[0], 2000.0f);
  EXPECT_TRUE(ScanBestOutput("nothing to see").N.empty());
}

TEST(BestOutput, EqualTriangleCountsGiveTheMeanAndSaySo) {
  const BestModels m = ScanBestOutput(Record("1000", 1e-6) + Record("1000", 2e-6));
  const BestExtrapolation e = ExtrapolateBestD(m);
  EXPECT_TRUE(e.flat);
  EXPECT_FLOAT_EQ(e.D0, 1.5e-6f);
  EXPECT_EQ(e.slope, 0.0f);
  EXPECT_NE(BestReport("f", m, e, 1e5f, 0.73f).find("D is their mean, not extrapolated"), std::string::npos);
}

TEST(BestOutput, ReportHasTheExactLines) {
  const BestModels m = ScanBestOutput(Record("1000", 1e-6));
  const BestExtrapolation e = ExtrapolateBestD(m);
  EXPECT_EQ(BestReport("f.txt", m, e, 100000, 0.73f),
            "reading f.txt\nfound 1 D-values:\n1000 triangles - D = 1.000000e-06\n"
            "\nextrapolation to 1/N = 0 gives D = 1.000000e-06 cm^2/sec\n"
            "\nunder standard conditions, with Mw = 100000.000000 Da and vbar = 0.730000 ml/g, this results in an "
            "s-value of " +
                [] {
                  char b[40];
                  std::snprintf(b, sizeof b, "%f", SFromBestD(100000, static_cast<float>(1e-6), 0.73f));
                  return std::string(b);
                }() +
                " S\n\n show extrapolation plot?");
}

}  // namespace
