#include <gtest/gtest.h>

#include <cmath>

#include "distributions/conti_settings.h"
#include "distributions/hydrodynamics.h"
#include "fit/model_params.h"
#include "platform/scripted_ui.h"

namespace {

// Water-like buffer at 20 C: vbar 0.73, rho 0.99823, eta_r 1, f/f0 1.2.
struct Solvent {
  SolutionConditions saved = gSolutionConditions;
  float ff = Conti().ffValue;
  Solvent() {
    gSolutionConditions.vbar = 0.73f;
    gSolutionConditions.density = 0.99823f;
    gSolutionConditions.vbarRho = 0.73f * 0.99823f;
    gSolutionConditions.viscosity = 1.0f;
    gSolutionConditions.hydration = 0.3f;
    Conti().ffValue = 1.2f;
  }
  ~Solvent() {
    gSolutionConditions = saved;
    Conti().ffValue = ff;
  }
};

std::vector<std::string> Boxes(const platform::ScriptedUserInterface& ui) {
  std::vector<std::string> t;
  for (const auto& e : ui.transcript) t.push_back(e.text);
  return t;
}

}  // namespace

TEST(Hydrodynamics, ClosedFormValuesInWaterAt20C) {
  Solvent w;
  EXPECT_NEAR(DFromStokesRadius(1e-9f, 20.0f) / 2.142914e-6, 1.0, 1e-6);
  EXPECT_EQ(DFromStokesRadius(1e-9f, 20.0f), DFromStokesRadius2(1e-9f, 20.0f));
  EXPECT_NEAR(DFromSM(4.4f, 66400.0f, 20.0f) / 5.953523e-7, 1.0, 1e-6);
  EXPECT_NEAR(CalculateM(4.4f) / 56029.5, 1.0, 1e-4);
  // The Svedberg relation solved for M is the same function.
  EXPECT_NEAR(DFromSM(4.4f, 5.953523e-7f, 20.0f) / 66400.0, 1.0, 1e-6);
  // Anhydrous sphere of 1 kg/mol-scale mass and its inverse.
  const float R = CalculateRadius(66400.0f, 0.73f);
  EXPECT_NEAR(MassFromRadius(R, 0.73f) / 66400.0, 1.0, 1e-5);
}

TEST(Hydrodynamics, ConversionsAreConsistentWithEachOther) {
  Solvent w;
  for (float s : {0.5f, 2.0f, 4.4f, 11.0f, 30.0f}) {
    const float M = CalculateM(s);
    const float D = DFromMGlobalFf0(M, 20.0f);
    EXPECT_NEAR(SFromMD(M, D, 20.0f) / s, 1.0, 1e-5) << s;
    EXPECT_NEAR(SvedbergD(M, s, 20.0f) / D, 1.0, 1e-5) << s;
    EXPECT_NEAR(Ff0FromMS(M, s, 0.73f, 0.99823f, 1.0f), 1.2, 1e-5) << s;
    EXPECT_NEAR(DFromMS(M, s, 0.73f, 20.0f, 0.99823f, 1.0f) / D, 1.0, 1e-5) << s;
    EXPECT_NEAR(CalculateMff02(s, 1.2f) / M, 1.0, 1e-6) << s;
    const float sphere = CalculateMassFromSedcoeffSphere(s, 1.0f, 0.73f, 0.99823f);
    EXPECT_NEAR(Ff0FromMS(sphere, s, 0.73f, 0.99823f, 1.0f), 1.0, 1e-6) << s;
    EXPECT_NEAR(SFromMff0(sphere, 0.73f, 20.0f, 0.99823f, 1.0f) / s, 1.0, 1e-5) << s;
    // The Stokes radius of s20,w (water, global f/f0) belongs to D of the same particle.
    const float Rh = S20ToStokesRadius(s, 0.73f);
    EXPECT_NEAR(DFromStokesRadius(Rh, 20.0f) / D, 1.0, 1e-5) << s;
    EXPECT_NEAR(StokesRadiusFromD(D, 20.0f) / Rh, 1.0, 1e-5) << s;
    EXPECT_NEAR(S20wToSCurrent(SToS20wCurrent(s)) / s, 1.0, 1e-6) << s;
    EXPECT_NEAR(MFromSPowerLaw(SFromMPowerLaw(M)) / M, 1.0, 1e-4) << s;
  }
  // s20,w of a 1.2-fold viscous, denser buffer.
  EXPECT_NEAR(SToS20w(1.0f, 1.2f * 0.001002f, 1.01f, 0.73f, 0.73f),
              1.2 * (1 - 0.73 * 0.99823) / (1 - 0.73 * 1.01), 1e-6);
}

TEST(Hydrodynamics, GuardsReturnTheirValuesAndMessages) {
  Solvent w;
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  ui.lenient = true;
  EXPECT_EQ(CalculateM(0.0f), 0.0f);
  EXPECT_TRUE(ui.transcript.empty());
  EXPECT_EQ(DFromSM(4.4f, 0.0f, 20.0f), 0.0f);
  EXPECT_EQ(DFromSM(4.4f, -5.0f, 20.0f), 0.0f);
  EXPECT_EQ(DFromSM(4.4f, std::nanf(""), 20.0f), 0.0f);
  EXPECT_EQ(SvedbergD(0.0f, 4.4f, 20.0f), 0.0001f);
  EXPECT_EQ(DFromMGlobalFf0(0.0f, 20.0f), 0.0001f);
  EXPECT_EQ(DFromStokesRadius(0.0f, 20.0f), 0.0f);
  EXPECT_TRUE(ui.transcript.empty());
  gSolutionConditions.vbar = 0.0f;
  EXPECT_EQ(CalculateM(4.4f), 0.0f);
  EXPECT_EQ(CalculateMff02(4.4f, 1.2f), 0.0f);
  EXPECT_EQ(CalculateRadius(1000.0f, 0.0f), 0.0f);
  EXPECT_EQ(VbarFromMass(0.0f), 0.0f);
  EXPECT_EQ(SFromM(0.0f), 0.0f);
  EXPECT_EQ(S20ToStokesRadius(4.0f, 0.0f), 0.0f);
  EXPECT_EQ(Boxes(ui), (std::vector<std::string>{
                           "VBAR <= 0 in function CalculateM", "VBAR <= 0 in function CalculateMff02",
                           "(mass == 0)||(vbar== 0) in function CalculateRadius",
                           "mass == 0 in function VbarFromMass", "mass == 0 in function SFromM",
                           "vbar20 <= 0 in function S20ToStokesRadius"}));
  for (const auto& e : ui.transcript) EXPECT_EQ(e.caption, "Error");
}

TEST(Hydrodynamics, AxialRatiosFromTheHydratedSphere) {
  const float vbar = 0.73f, h = 0.3f, rho = 1.0f;
  const float hf = std::cbrt((h * rho + vbar) / vbar);
  EXPECT_EQ(CalculateProlateRatioFromFf0(hf, vbar, h, rho), 0.0f);
  EXPECT_EQ(CalculateOblateRatioFromFf0(0.9f * hf, vbar, h, rho), 0.0f);
  EXPECT_NEAR(CalculateProlateRatioFromFf0(2 * hf, vbar, h, rho),
              1 + 2.939184 + 8.027775 + 8.55676 - 0.505951 + 0.0361508, 1e-4);
  EXPECT_NEAR(CalculateOblateRatioFromFf0(2 * hf, vbar, h, rho),
              1 + 3.009376 + 8.413897 + 13.34978 - 3.18903 + 0.106307, 1e-4);
  // Larger f/f0, more elongated.
  EXPECT_GT(CalculateProlateRatioFromFf0(1.6f, vbar, h, rho),
            CalculateProlateRatioFromFf0(1.4f, vbar, h, rho));
}

TEST(Hydrodynamics, RodAndWormLikeChainMassesInvertTheirS) {
  Solvent w;
  // A rod of 1000 Da/nm: the mass found for s sediments at s.
  for (float s : {2.0f, 5.0f, 12.0f}) {
    const float M = CalculateMofSforLinearRod(s, 1000.0f);
    EXPECT_NEAR(LinearRodS(M) / s, 1.0, 1e-3) << s;
  }
  // Zero or negative s has no rod mass, and the search ends.
  EXPECT_EQ(CalculateMofSforLinearRod(0.0f, 1000.0f), 0.0f);
  EXPECT_EQ(CalculateMofSforLinearRod(-3.0f, 1000.0f), 0.0f);

  ContiSettings& cs = Conti();
  EXPECT_EQ(WormLikeChainS(0.5f * cs.wormMonomerMass), 0.0f);
  for (float M : {3e4f, 3e5f, 3e6f}) {  // L on both sides of 2.4
    const float s = WormLikeChainS(M);
    ASSERT_GT(s, 0.0f);
    EXPECT_NEAR(CalculateMofSforWormLikeChain(s) / M, 1.0, 2e-3) << M;
  }
  // A compact mass below one monomer comes back unchanged.
  const float small = 0.5f;
  EXPECT_EQ(CalculateMofSforWormLikeChain(small), CalculateMff02(small, 1.0f));
}
