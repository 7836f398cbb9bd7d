// The pocket calculators against closed forms worked out by hand: each case
// reads a number from the result text after its label.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "automation/tools/calculators.h"
#include "fit/model_params.h"
#include "platform/scripted_ui.h"

namespace {

// The number that follows the n-th occurrence of label in text.
double After(const std::string& text, const std::string& label, int n = 1) {
  size_t at = std::string::npos, from = 0;
  for (int k = 0; k < n; ++k) {
    at = text.find(label, from);
    if (at == std::string::npos) {
      ADD_FAILURE() << "no \"" << label << "\" in:\n" << text;
      return NAN;
    }
    from = at + label.size();
  }
  return std::strtod(text.c_str() + from, nullptr);
}

struct Expected {
  const char* label;
  double value;
  double relative;  // tolerance
  int occurrence = 1;
};

void ExpectNumbers(const CalculatorAnswer& a, std::initializer_list<Expected> list) {
  ASSERT_TRUE(a.ok) << a.text;
  for (const Expected& e : list)
    EXPECT_NEAR(After(a.text, e.label, e.occurrence), e.value, std::fabs(e.value) * e.relative)
        << e.label << " in\n" << a.text;
}

class Calculators : public ::testing::Test {
 protected:
  void SetUp() override { gSolutionConditions = SolutionConditions{}; }
  void TearDown() override { gSolutionConditions = SolutionConditions{}; }
  platform::ScriptedUserInterface ui;  // any guard box would be a failure
  platform::ScopedUI scoped{ui};
};

TEST_F(Calculators, PressureAtBottomAndMiddle) {
  const CalculatorAnswer a = PressureAnswer(1.0f, 50000, 6.0f, 7.2f);
  EXPECT_EQ(a.text, "pressure at the bottom is 217.131 bar\npressure in the middle of the solution column is 103.631 bar");
}

TEST_F(Calculators, FrictionForceOfAFiveSParticle) {
  ExpectNumbers(FrictionForceAnswer(5, 7, 1.2f, 50000, 1e5f, 0.73f, 1),
                {{"F = ", 6.677e-17, 1e-3}, {"Rs = ", 3.070, 1e-3}, {"v = ", 9.595e-7, 1e-3}, {"f = ", 6.958e-11, 1e-3}});
}

TEST_F(Calculators, SpheresOfMassRadiusAndS) {
  ExpectNumbers(SphereSFromMAnswer(1e5f, 0.73f, 20, 0.99823f, 1),
                {{" s=", 7.7688, 2e-4}, {"r0 = ", 3.07, 2e-3}, {"D= ", 6.980e-7, 1e-3}});
  ExpectNumbers(SphereRhFromSAnswer(7.7688f, 0.73f, 20, 0.99823f, 1),
                {{"M=", 1e5, 2e-4}, {"radius of ", 3.1, 2e-2}});
  ExpectNumbers(SphereSFromRhAnswer(10, 0.73f, 20, 0.99823f, 1), {{"M=", 3.4555e6, 2e-4}, {" s=", 82.420, 2e-4}});
  EXPECT_FALSE(SphereRhFromSAnswer(0, 0.73f, 20, 0.99823f, 1).ok);
  EXPECT_TRUE(ui.failures.empty());
}

TEST_F(Calculators, FrictionalAndAxialRatios) {
  ExpectNumbers(FrictionalRatiosAnswer(1e5f, 7, 0.73f, 0.3f, 20, 1.0067f, 1),
                {{"f/f0 = ", 1.08, 1e-3}, {"r0 = ", 3.07, 2e-3}, {"rh = ", 3.33, 2e-3}, {"D= ", 6.4358e-7, 1e-3}});
}

TEST_F(Calculators, BoundaryBroadeningSpreads) {
  ExpectNumbers(BoundaryBroadeningAnswer(6.0f, 7.2f, 50000, 1000, 0.73f, 1.0f, 20, 100, 0.01f),
                {{"D = ", 9.03e-7, 1e-3},
                 {"heterogeneity in s = ", 0.006290, 1e-2},
                 {"from diffusion = ", 0.025053, 3e-3},
                 {"broadending) = ", 3.98276, 1e-4}});
  const struct {
    float s, vbar, rpm, bottom;
  } refused[] = {{0, 0.73f, 50000, 7.2f}, {-5, 0.73f, 50000, 7.2f}, {100, 1.0f, 50000, 7.2f}, {100, 0.73f, 0, 7.2f},
                 {100, 0.73f, 50000, 6.0f}};
  for (const auto& r : refused)
    EXPECT_FALSE(BoundaryBroadeningAnswer(6.0f, r.bottom, r.rpm, 1000, r.vbar, 1.0f, 20, r.s, 0.01f).ok) << r.s;
}

TEST_F(Calculators, RadialDilutionOfAFiveSBoundary) {
  const double w2t = std::pow(50000 * 0.10471975511965977, 2) * 3600;
  ExpectNumbers(RadialDilutionAnswer(5, 6.0f, 7.2f, w2t, {w2t}),
                {{"position of ", 6.3035, 1e-4},
                 {"last scan to ", 90.602, 1e-5},
                 {"t(last scan) is ", 95.224, 1e-5},
                 {"during sedimentation is ", 95.224, 1e-5}});
  // A particle that does not move is not diluted (the limit, not 0/0).
  ExpectNumbers(RadialDilutionAnswer(0, 6.0f, 7.2f, w2t, {w2t, w2t / 2}),
                {{"last scan to ", 100, 1e-9}, {"t(last scan) is ", 100, 1e-9}, {"during sedimentation is ", 100, 1e-9}});
  // Floating: from the bottom, and the plateau rises.
  const CalculatorAnswer up = RadialDilutionAnswer(-5, 6.0f, 7.2f, w2t, {w2t});
  EXPECT_NE(up.text.find("with the bottom at 7.200 cm"), std::string::npos) << up.text;
  EXPECT_NE(up.text.find("increases the plateau"), std::string::npos);
  ExpectNumbers(up, {{"position of ", 7.2 * std::exp(-0.0493480), 1e-4}, {"last scan to ", 110.37, 1e-4}});
}

TEST_F(Calculators, VarianceRatios) {
  ExpectNumbers(VarianceRatioAnswer(0.683f, 10, 10, 0.01f),
                {{"(n1=10, n2=10) is ", 1.36250, 1e-4}, {"factor of ", 1.16726, 1e-4}});
  ExpectNumbers(VarianceRatioAnswer(0.95f, 20, 40, 0.01f), {{") is ", 3.67772, 1e-4}});
  const CalculatorAnswer a = VarianceRatioAnswer(0.683f, 10, 10, 0.01f);
  EXPECT_NEAR(After(a.second, "critical value is "), 0.0116726, 1e-6);
  const struct {
    float p, n1, n2;
  } refused[] = {{0, 10, 10}, {1, 10, 10}, {1.5f, 10, 10}, {0.683f, 0, 10}, {0.683f, 10, -1}};
  for (const auto& r : refused) EXPECT_FALSE(VarianceRatioAnswer(r.p, r.n1, r.n2, 0.01f).ok) << r.p << r.n1 << r.n2;
}

TEST_F(Calculators, S20wConversion) {
  ExpectNumbers(S20wAnswer(5, 0.73f, 0.73f, 1.0f, 1), {{"s(20,w) = ", 5.02393, 2e-4}});
  EXPECT_NEAR(S20wOf(5, 0.73f, 0.73f, 1.0f, 1), 5.02393, 1e-4);
  EXPECT_NEAR(S20wOf(5, 0.73f, 0.73f, 1.0f, 2), 2 * 5.02393, 2e-4);
  EXPECT_FALSE(S20wAnswer(5, 1.0f, 0.73f, 1.0f, 1).ok);
  EXPECT_FALSE(S20wAnswer(5, 0.8f, 0.73f, 1.3f, 1).ok);
}

TEST_F(Calculators, EllipsoidAxialRatios) {
  const struct {
    float ff0;
    const char* text;
  } cases[] = {
      {1.2f, "for f/fo =1.200, v-bar =0.730 ml/g, hydration =0.30 g/g:\n a/b(oblate)=2.45\n a/b(prolate)=2.38"},
      {1.5f, "for f/fo =1.500, v-bar =0.730 ml/g, hydration =0.30 g/g:\n a/b(oblate)=6.99\n a/b(prolate)=6.37"},
      {1.12f, "for f/fo =1.120, v-bar =0.730 ml/g, hydration =0.30 g/g:\n a/b(oblate)=0.00\n a/b(prolate)=0.00"
              "\n(a/b = 0: f/f0 = 1.120 is not above 1.121, that of the hydrated sphere;\n no ellipsoid with 0.30 g/g "
              "hydration is as compact)"},
  };
  for (const auto& c : cases) EXPECT_EQ(EllipsoidAnswer(c.ff0, 0.73f, 0.3f, 0.99823f).text, c.text);
}

TEST_F(Calculators, MassFromSInTheCurrentSolvent) {
  gSolutionConditions.density = 0.99823f;
  gSolutionConditions.vbarRho = 0.73f * 0.99823f;
  // A compact sphere of 1e5 Da sediments with 7.7688 S in this solvent.
  ExpectNumbers(MFromSAnswer(7.7688f, 1.0f), {{" M=", 1e5, 2e-4}, {"density=", 0.9982, 1e-4}});
}

}  // namespace
