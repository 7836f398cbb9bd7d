// The DLS size distributions through RunContiSed: the intensity
// distribution of the hydrodynamic radius of a known mixture, and the runs
// that must end without a distribution.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "distributions/conti_run.h"
#include "dls_run_support.h"
#include "platform/scripted_ui.h"

namespace {

class DlsDistribution : public ::testing::Test {
 protected:
  void TearDown() override {
    dlsrun::Clear();
    gModelSelectorFlags = ModelSelectorFlags{};
    platform::StopFlag() = false;
  }
  platform::ScriptedUserInterface ui_;
  platform::ScopedUI scope_{ui_};
};

double Mixture(int, double tau) { return 0.3 * dlsrun::G1(2.0, tau) + 0.7 * dlsrun::G1(20.0, tau); }

TEST_F(DlsDistribution, IRhOfAMixtureShowsBothRadiiWithTheirShares) {
  dlsrun::Load({0, 60}, 200, Mixture, 1e-4);
  dlsrun::SelectIRh(0.5f, 100.0f, 80);
  RunContiSed();
  ASSERT_TRUE(ui_.failures.empty()) << ui_.failures.front();
  const ContiSettings& cs = Conti();
  ASSERT_EQ(cs.gridSize, 80);
  // The grid is logarithmic in Rh from 0.5 to 100 nm.
  EXPECT_NEAR(dlsrun::Radius(1), 0.5, 1e-4);
  EXPECT_NEAR(dlsrun::Radius(80), 100.0, 1e-2);
  const double step = std::log10(100.0 / 0.5) / 79;
  const dlsrun::Peak small = dlsrun::PeakBetween(cs.distribution, 0.5, 6.0);
  const dlsrun::Peak large = dlsrun::PeakBetween(cs.distribution, 6.0, 100.0);
  EXPECT_LE(std::fabs(std::log10(dlsrun::Radius(small.index) / 2.0)), step * 1.001) << dlsrun::Radius(small.index);
  EXPECT_LE(std::fabs(std::log10(dlsrun::Radius(large.index) / 20.0)), step * 1.001) << dlsrun::Radius(large.index);
  EXPECT_NEAR(small.fraction, 0.3, 0.05);
  EXPECT_NEAR(large.fraction, 0.7, 0.05);
  // The model of every set follows its data within the noise.
  const ScanSet& s = CurrentScanSet();
  double sum = 0;
  for (int j = 1; j <= 2; ++j)
    for (int p = 1; p <= 200; ++p) sum += std::pow(s.model[j][p] - s.signals[j][p], 2);
  EXPECT_LT(std::sqrt(sum / 400), 2e-4);
}

// On clean data the chi-square ratio of maximum entropy moves in plateaus
// near its target; the search must narrow its bracket rather than cycle
// between two points until its iteration limit.
TEST_F(DlsDistribution, MaximumEntropyOnCleanDataEndsWithoutCycling) {
  for (double noise : {0.0, 1e-4}) {
    dlsrun::Load({0, 60}, 200, Mixture, noise);
    dlsrun::SelectIRh(0.5f, 100.0f, 80);
    Conti().maxEntropy = 1;
    RunContiSed();
    ASSERT_TRUE(ui_.failures.empty()) << ui_.failures.front();
    const dlsrun::Peak small = dlsrun::PeakBetween(Conti().distribution, 0.5, 6.0);
    const dlsrun::Peak large = dlsrun::PeakBetween(Conti().distribution, 6.0, 100.0);
    EXPECT_NEAR(dlsrun::Radius(small.index), 2.0, 0.1) << noise;
    EXPECT_NEAR(dlsrun::Radius(large.index), 20.0, 1.0) << noise;
    EXPECT_NEAR(small.fraction, 0.3, 0.02) << noise;
    EXPECT_NEAR(large.fraction, 0.7, 0.02) << noise;
  }
}

TEST_F(DlsDistribution, IntensityAutocorrelationsAreConvertedOnRequestOnly) {
  auto g2 = [](int, double tau) { return std::pow(dlsrun::G1(5.0, tau), 2); };
  dlsrun::Load({0, 60}, 60, g2, 0.0, false);
  dlsrun::SelectIRh(1.0f, 50.0f, 30);
  const float before = CurrentScanSet().signals[2][10];
  ui_.ExpectBox("ERROR", "DLS data for this model must be field autocorrelation g(1) - transform?", platform::IDNO);
  RunContiSed();
  EXPECT_EQ(CurrentScanSet().signals[2][10], before);
  EXPECT_EQ(WorkBlock().lammSolutions, nullptr);

  ui_.ExpectBox("ERROR", "DLS data for this model must be field autocorrelation g(1) - transform?", platform::IDYES);
  RunContiSed();
  EXPECT_TRUE(ui_.AllConsumed());
  EXPECT_TRUE(ui_.failures.empty()) << ui_.failures.front();
  EXPECT_FLOAT_EQ(CurrentScanSet().signals[2][10], std::sqrt(before));
  EXPECT_EQ(CurrentScanSet().dlsRecords[2].fieldFlag, 1);
  const dlsrun::Peak p = dlsrun::PeakBetween(Conti().distribution, 1.0, 50.0);
  EXPECT_NEAR(dlsrun::Radius(p.index), 5.0, 1.0);
}

TEST_F(DlsDistribution, ARefusedSetEndsTheRunWithoutADistribution) {
  struct Case {
    const char* name;
    void (*spoil)(DlsHeaderRecord&);
    const char* message;
  };
  const Case cases[] = {
      {"g(2)-1 behind a g(1) set", [](DlsHeaderRecord& r) { r.fieldFlag = 0; },
       "no field ACF in DLS distribution model"},
      {"no scattering vector", [](DlsHeaderRecord& r) { r.wavelength = 0; },
       "DLS data set 2: the scattering vector is 0 or not finite"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dlsrun::Load({0, 60}, 60, [](int, double tau) { return dlsrun::G1(5.0, tau); });
    dlsrun::SelectIRh(1.0f, 50.0f, 30);
    c.spoil(CurrentScanSet().dlsRecords[2]);
    for (int p = 1; p <= 60; ++p) CurrentScanSet().model[1][p] = 0.5f;
    ui_.ExpectBox("Error", c.message);
    RunContiSed();
    EXPECT_TRUE(ui_.AllConsumed());
    EXPECT_TRUE(ui_.failures.empty()) << ui_.failures.front();
    // No kernels, no normal equations, no solution, the models untouched.
    EXPECT_EQ(WorkBlock().lammSolutions, nullptr);
    EXPECT_EQ(NeqBlock().block, nullptr);
    EXPECT_EQ(CurrentScanSet().model[1][30], 0.5f);
    EXPECT_EQ(CurrentScanSet().dataChanged, 1);
    TearDown();
  }
}

}  // namespace
