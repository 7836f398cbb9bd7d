// The inhomogeneous solvent from the window: a discrete species run in
// water, then over a cosolute chosen in the dialog, still and sedimenting.
#include <cmath>
#include <fstream>

#include "distributions/conti_parameters.h"
#include "fit/fit_engine_state.h"
#include "fit/solvent_gradient.h"
#include "lamm/global/conc_dependent_coefficients.h"
#include "road_support.h"

namespace {

class RoadSolvent : public RoadTest {
 protected:
  void TearDown() override {
    CurrentSolventGradientSettings() = SolventGradientSettings{};
    CurrentCosoluteCoefficients() = CosoluteCoefficients{};
    ContiSolventGradient() = false;
    RoadTest::TearDown();
  }
  std::vector<float> RunModel() {
    Window().Dispatch(213);
    const ScanSet& s = CurrentScanSet();
    return std::vector<float>(s.model[s.count] + 1, s.model[s.count] + s.points[s.count] + 1);
  }
};

TEST_F(RoadSolvent, ConversionCancelsInAStillBufferAndSedimentingCsClActs) {
  ui_->lenient = true;
  LoadRun(3);
  OneSpecies("5.0", "5.0");
  const std::vector<float> water = RunModel();

  // 1.5 M of a cosolute that does not sediment: its density list makes the
  // buffer 1.18873 g/ml everywhere, the species is converted to 20 degC
  // water once and taken back by the solvers once.
  std::ofstream("rho.dat") << "0.99823\n0\n12.7\n";
  ui_->ExpectFiles("Select DENSITY(c) Data File", {true, {"rho.dat"}});
  forms_.Expect({"Inhomogeneous Solvent Parameters",
                 {{846, "1.5"}, {851, "50"}, {864, "0.000"}, {865, "1.00"}},
                 {{857, 1}, {840, 0}, {844, 1}, {863, 1}, {847, 0}, {850, 0}, {860, 1}}});
  Window().Dispatch(542);
  ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  const SolventGradientSettings& sg = CurrentSolventGradientSettings();
  ASSERT_TRUE(sg.UseInhomogeneousSolvent && sg.DynamicGradient && !sg.NonidealCosolute);
  EXPECT_GT(gModelParams.s[1], 8.0f);  // 5 S in the dense buffer
  const std::vector<float> still = RunModel();

  // CsCl sediments: denser towards the bottom, lighter at the meniscus.
  forms_.Expect({"Inhomogeneous Solvent Parameters", {}, {{863, 0}, {850, 1}}});
  Window().Dispatch(542);
  ASSERT_TRUE(sg.CsClAt25C);
  const std::vector<float> cscl = RunModel();

  ASSERT_EQ(water.size(), still.size());
  double same = 0, changed = 0;
  for (size_t j = 0; j < water.size(); ++j) {
    same = std::max(same, static_cast<double>(std::fabs(still[j] - water[j])));
    changed = std::max(changed, static_cast<double>(std::fabs(cscl[j] - water[j])));
  }
  EXPECT_LT(same, 1e-5);
  EXPECT_GT(changed, 1e-2);
  for (const auto& t : ui_->transcript) {
    EXPECT_EQ(t.text.find("ERROR"), std::string::npos) << t.text;
    EXPECT_EQ(t.text.find("error"), std::string::npos) << t.text;
  }
}

}  // namespace
