// Molar masses and texts of the peak labels and the "PEAK INFO" box. The
// molar mass of a peak is checked against the closed form of a sphere with
// friction ratio f/f0, worked out here apart from the program's own path:
//   M = [ s N_A (f/f0) 6 pi eta (3 vbar / (4 pi N_A))^(1/3) / (1 - vbar rho) ]^(3/2)
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "distributions/conti_settings.h"
#include "distributions/peak_details.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"

namespace {

double SphereMass(double sSvedberg, double ff0, double vbar, double rho, double etaPoise) {
  constexpr double kNA = 6.02214e23;
  const double s = sSvedberg * 1e-13;
  const double r0 = std::cbrt(3 * vbar / (4 * M_PI * kNA));
  return std::pow(s * kNA * ff0 * 6 * M_PI * etaPoise * r0 / (1 - vbar * rho), 1.5);
}

class PeakDetails : public ::testing::Test {
 protected:
  void SetUp() override {
    savedConti_ = Conti();
    savedFlags_ = gModelSelectorFlags;
    savedSolution_ = gSolutionConditions;
    gModelSelectorFlags = ModelSelectorFlags{};
    gModelSelectorFlags.DistributionModel = gModelSelectorFlags.CSModel = 1;
    SolutionConditions& sc = gSolutionConditions;
    sc.vbar = sc.vbar20 = 0.73f;
    sc.vbarRho = 0.73f * 0.99823f;
    sc.density = 0.99823f;
    sc.viscosity = 1.0f;
    sc.temperature = 293.15f;
    Conti().ffValue = 1.2f;
  }
  void TearDown() override {
    Conti() = savedConti_;
    gModelSelectorFlags = savedFlags_;
    gSolutionConditions = savedSolution_;
  }
  ContiSettings savedConti_;
  ModelSelectorFlags savedFlags_;
  SolutionConditions savedSolution_;
};

TEST(PeakMassLabel, UnitAndDecimalsFollowTheMagnitude) {
  struct Case {
    float M;
    const char* text;
  };
  const Case cases[] = {
      {2.5e7f, "Mf~25.0 MDa"}, {1e7f, "Mf~10.00 MDa"}, {1.5e6f, "Mf~1.50 MDa"}, {1e6f, "Mf~1000 kDa"},
      {1.5e5f, "Mf~150 kDa"},  {31544, "Mf~31.5 kDa"}, {1e4f, "Mf~10.00 kDa"}, {2500, "Mf~2.50 kDa"},
      {1000, "Mf~1000 Da"},    {150, "Mf~150 Da"},     {100, "Mf~100.0 Da"},   {42.25f, "Mf~42.2 Da"},
  };
  for (const Case& c : cases) EXPECT_EQ(PeakMassLabel(c.M), c.text) << c.M;
}

TEST_F(PeakDetails, MolarMassFollowsTheSphereScalingOfTheBestFitRatio) {
  const double expected = SphereMass(3.0, 1.2, 0.73, 0.99823, 0.01002);
  EXPECT_NEAR(expected, 31544, 1);
  EXPECT_NEAR(PeakMolarMass(3.0f), expected, expected * 2e-4);
  EXPECT_EQ(PeakLabelText(3.0f), "Mf~31.5 kDa");
  const std::string box = PeakDetailsText(3.0f, 0.5f, 0.25f);
  EXPECT_EQ(box.rfind("sw = 3.000 S, sw(20,w) = 3.000 S\n(c = 0.5000, 25.000% of total)\n"
                      "with best-fit friction ratio = 1.200: Mw = 3154",
                      0),
            0u)
      << box;
  // The compact sphere: M / 1.2^1.5.
  const double sphere = SphereMass(3.0, 1.0, 0.73, 0.99823, 0.01002);
  EXPECT_NEAR(sphere, 31544 / std::pow(1.2, 1.5), 1);
  EXPECT_NE(box.find("minimum Mw (for compact sphere) = 23996 Da"), std::string::npos) << box;
  EXPECT_NE(box.find("Stokes Radius (20C) = "), std::string::npos);
}

TEST_F(PeakDetails, BimodalModelUsesTheSecondRatioOnlyInsideItsInterval) {
  gModelSelectorFlags.BimodalFF0CSModel = 1;
  Conti().secondFf = 2.0f;
  Conti().secondFfSMin = 5.0f;
  Conti().secondFfSMax = 10.0f;
  EXPECT_NEAR(PeakMolarMass(3.0f), SphereMass(3.0, 1.2, 0.73, 0.99823, 0.01002), 10);
  EXPECT_NEAR(PeakMolarMass(6.0f), SphereMass(6.0, 2.0, 0.73, 0.99823, 0.01002), 40);
  EXPECT_NE(PeakDetailsText(3.0f, 1, 1).find("friction ratio = 1.200"), std::string::npos);
  EXPECT_NE(PeakDetailsText(6.0f, 1, 1).find("friction ratio = 2.000"), std::string::npos);
}

TEST_F(PeakDetails, ModelsWithoutMolarMassLabelWithSw) {
  gModelSelectorFlags.CSModel = 0;
  gModelSelectorFlags.LsgStarModel = 1;
  EXPECT_EQ(PeakLabelText(3.14159f), "sw = 3.142 S");
  EXPECT_EQ(PeakDetailsText(3.0f, 0.5f, 0.25f),
            "sw = 3.000 S, sw(20,w) = 3.000 S\n(c = 0.5000, 25.000% of total)");
  // The conformational-change model keeps its fixed mass inside its interval
  // and writes no friction ratio.
  gModelSelectorFlags = ModelSelectorFlags{};
  gModelSelectorFlags.DistributionModel = gModelSelectorFlags.ConformationalChangeCSModel = 1;
  Conti().conformationSMin = 7;
  Conti().conformationSMax = 10;
  Conti().conformationM = 200000;
  EXPECT_EQ(PeakLabelText(8.0f), "Mf~200 kDa");
  const std::string box = PeakDetailsText(8.0f, 1, 1);
  EXPECT_NE(box.find("\nMw = 200000 Da \n"), std::string::npos) << box;
  EXPECT_EQ(box.find("friction ratio"), std::string::npos);
}


// Which models get peak labels at all, and which of them read the peaks as
// molar masses: the nonideal c(s) is offered labels, but they show s, since
// it has no molar mass per s; an ls-g*(s)-type model over the c(s) switch
// shows s too.
TEST_F(PeakDetails, LabelsOfferedAndReadAsMassByModel) {
  using Switch = unsigned char ModelSelectorFlags::*;
  struct Case {
    const char* name;
    Switch on;
    bool offered;    // the family the "Show Peak Mw" command accepts
    bool showsSw;    // labels and box without a molar mass
    bool ownRelation;
  };
  const Case cases[] = {
      {"c(s)", &ModelSelectorFlags::CSModel, true, false, false},
      {"conformational change", &ModelSelectorFlags::ConformationalChangeCSModel, true, false, true},
      {"fixed f/f0, floating vbar", &ModelSelectorFlags::FixFF0FloatingVbarCSModel, true, false, false},
      {"general scaling law", &ModelSelectorFlags::GeneralScalingLawCSModel, true, false, true},
      {"wormlike chain", &ModelSelectorFlags::WormlikeChainCSModel, true, false, true},
      {"M(s) table", &ModelSelectorFlags::CSWithMsTableModel, true, false, true},
      {"linear rod", &ModelSelectorFlags::CSModel521, true, false, true},
      {"one discrete", &ModelSelectorFlags::CSWith1DiscreteModel, true, false, false},
      {"one discrete component", &ModelSelectorFlags::CSWith1DiscreteComponent, true, false, false},
      {"invariant D", &ModelSelectorFlags::CSInvariantDModel, true, false, true},
      {"bimodal", &ModelSelectorFlags::BimodalFF0CSModel, true, false, false},
      {"bimodal, one discrete", &ModelSelectorFlags::BimodalFF0With1DiscreteCSModel, true, false, false},
      {"nonideal c(s)", &ModelSelectorFlags::NonidealCSModel, true, true, false},
      {"nonideal c(s), hard sphere", &ModelSelectorFlags::NonidealCSVariant, true, true, false},
      {"c(s,ff0)", &ModelSelectorFlags::CSff0Model, false, true, false},
      {"ls-g*(s)", &ModelSelectorFlags::LsgStarModel, false, true, false},
      {"DLS I(Rh)", &ModelSelectorFlags::DlsIRhModel, false, true, false},
  };
  for (const Case& c : cases) {
    ModelSelectorFlags& m = gModelSelectorFlags;
    m = ModelSelectorFlags{};
    m.DistributionModel = 1;
    m.*c.on = 1;
    EXPECT_EQ(m.AnyCsFamilyModel(), c.offered) << c.name;
    EXPECT_EQ(PeakLabelsShowSw(), c.showsSw) << c.name;
    EXPECT_EQ(m.CsModelWithOwnMassRelation(), c.ownRelation) << c.name;
    if (c.showsSw) {
      EXPECT_EQ(PeakLabelText(3.0f), "sw = 3.000 S") << c.name;
    }
  }
  // The c(s) switch stays raised under the ls-g*(s) models; they still show s.
  for (Switch lsg : {&ModelSelectorFlags::LsgStarModel, &ModelSelectorFlags::LsgStarWith1DiscreteModel,
                     &ModelSelectorFlags::HybridCSLsgModel}) {
    gModelSelectorFlags = ModelSelectorFlags{};
    gModelSelectorFlags.DistributionModel = gModelSelectorFlags.CSModel = 1;
    gModelSelectorFlags.*lsg = 1;
    EXPECT_TRUE(PeakLabelsShowSw());
    gModelSelectorFlags.DistributionModel = 0;
    EXPECT_FALSE(PeakLabelsShowSw());
  }
}

}  // namespace
