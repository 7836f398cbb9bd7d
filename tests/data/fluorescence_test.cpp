#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "data/fluorescence_corrections.h"
#include "data/fluorophore.h"
#include "data/nonlinear_detection.h"
#include "data/scan_set.h"
#include "numerics/arrays.h"
#include "platform/scripted_ui.h"

namespace {

using Rows = std::vector<std::vector<float>>;

float* Copy(const std::vector<float>& v) {
  float* a = vector(1, static_cast<long>(v.size()));
  for (size_t i = 0; i < v.size(); ++i) a[i + 1] = v[i];
  return a;
}

std::vector<float> Row(const float* a, int n) { return std::vector<float>(a + 1, a + n + 1); }

class NonlinearDetection : public ::testing::Test {
 protected:
  void SetUp() override {
    FreeNonlinearDetectionTables();
    CurrentFdsSignalParams() = FdsSignalParams{};
    CurrentFdsSignalParams().useNonlinearDetection = 1;
  }
  void TearDown() override {
    Clear();
    FreeNonlinearDetectionTables();
    CurrentFdsSignalParams() = FdsSignalParams{};
  }
  static void Clear() {
    ScanSet& s = CurrentScanSet();
    FreeScanGridArrays(s);
    FreeScanSetArrays(s);
    s = ScanSet{};
  }
  // Scans on radii 6.0, 6.1, ... with the model a fixed offset above them.
  static void Load(const Rows& signals, float offset) {
    Clear();
    ScanSet& s = CurrentScanSet();
    const int n = static_cast<int>(signals.size());
    AllocateScanTables(s, n);
    for (int i = 1; i <= n; ++i) {
      const std::vector<float>& y = signals[i - 1];
      std::vector<float> r(y.size()), m(y.size());
      for (size_t k = 0; k < y.size(); ++k) {
        r[k] = 6.0f + 0.1f * static_cast<float>(k);
        m[k] = y[k] + offset;
      }
      s.radii[i] = Copy(r);
      s.signals[i] = Copy(y);
      s.model[i] = Copy(m);
      s.points[i] = static_cast<int>(y.size());
      s.order[i] = i;
      s.firstFitPoint[i] = 1;
      s.lastFitPoint[i] = s.points[i];
    }
  }
  static std::vector<float> Signals(int i) { return Row(CurrentScanSet().signals[i], CurrentScanSet().points[i]); }
  static std::vector<float> Model(int i) { return Row(CurrentScanSet().model[i], CurrentScanSet().points[i]); }
};

void ExpectNear(const std::vector<float>& got, const std::vector<double>& want, double tolerance) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t k = 0; k < want.size(); ++k) EXPECT_NEAR(got[k], want[k], tolerance) << "point " << k + 1;
}

TEST_F(NonlinearDetection, PowerLawAboveTheBaselineAndItsInverse) {
  struct Case {
    double p, b, x, fx;
  };
  const Case cases[] = {
      {2.0, 0.2, 0.7, 0.45}, {2.0, 0.2, 0.1, 0.1}, {1.3, 0.1, 1.0, 0.9719975}, {1.0, 0.0, 0.37, 0.37},
  };
  for (const Case& c : cases) {
    const double fx = NonlinearDetectionMap(c.x, c.p, c.b);
    EXPECT_NEAR(fx, c.fx, 1e-7) << c.p << " " << c.b << " " << c.x;
    EXPECT_NEAR(NonlinearDetectionMap(fx, 1.0 / c.p, c.b), c.x, 1e-6);
  }
}

TEST_F(NonlinearDetection, TransformShowsEitherPairAndRestoresTheMeasuredSignalsExactly) {
  Load({{0.1f, 0.7f, 1.0f}}, 0.0f);
  const std::vector<float> measured = Signals(1);
  EXPECT_TRUE(NonlinearDetectionTransform(2.0, 0.2, true));
  ExpectNear(Signals(1), {0.1, 0.45, 0.84}, 1e-6);
  ExpectNear(Model(1), {0.1, 0.45, 0.84}, 1e-6);
  EXPECT_EQ(CurrentFdsSignalParams().transformShown, 1);
  EXPECT_EQ(CurrentFdsSignalParams().appliedPower, 2.0);

  // The same power and baseline again only switches the copies shown.
  CurrentNonlinearDetectionTables().transformedSignals[1][2] = 0.5f;
  EXPECT_TRUE(NonlinearDetectionTransform(2.0, 0.2, true));
  EXPECT_EQ(Signals(1)[1], 0.5f) << "nothing recomputed";
  EXPECT_TRUE(NonlinearDetectionTransform(2.0, 0.2, false));
  EXPECT_EQ(Signals(1), measured);
  EXPECT_EQ(CurrentFdsSignalParams().transformShown, 0);

  // Off: nothing happens, and without scans neither.
  CurrentFdsSignalParams().useNonlinearDetection = 0;
  EXPECT_FALSE(NonlinearDetectionTransform(3.0, 0.0, true));
  EXPECT_FALSE(ApplyNonlinearDetection(true));
  CurrentFdsSignalParams().useNonlinearDetection = 1;
  Clear();
  EXPECT_FALSE(NonlinearDetectionTransform(2.0, 0.2, true));
  EXPECT_FALSE(NonlinearDetectionInverse());
}

TEST_F(NonlinearDetection, RoundTripThroughTheModelInverse) {
  Load({{0.5f, 1.0f, 1.5f}}, 0.0f);
  ASSERT_TRUE(NonlinearDetectionTransform(1.3, 0.1, true));
  EXPECT_NEAR(Signals(1)[1], 0.9719975, 1e-6);
  // A model simulated in the transformed space maps back onto the measured one.
  ScanSet& s = CurrentScanSet();
  for (int k = 1; k <= 3; ++k) s.model[1][k] = s.signals[1][k];
  ASSERT_TRUE(NonlinearDetectionInverse());
  ExpectNear(CurrentNonlinearDetectionTables().untransformedModel[1], {0.0, 0.5, 1.0, 1.5}, 1e-6);
  // The untransformed side: the model comes straight in, its image goes out.
  ASSERT_TRUE(NonlinearDetectionTransform(1.3, 0.1, false));
  s.model[1][2] = 1.0f;
  ASSERT_TRUE(NonlinearDetectionInverse());
  EXPECT_NEAR(CurrentNonlinearDetectionTables().transformedModel[1][2], 0.9719975, 1e-6);
}

TEST_F(NonlinearDetection, RmsdInBothSpaces) {
  Load({{0.3f, 0.5f, 0.7f}, {0.4f, 0.6f, 0.8f}}, 0.01f);
  ASSERT_TRUE(NonlinearDetectionTransform(2.0, 0.2, true));
  EXPECT_NEAR(CurrentNonlinearDetectionTables().rmsdUntransformed, 0.0100000, 1e-7);
  EXPECT_NEAR(CurrentNonlinearDetectionTables().rmsdTransformed, 0.00787887, 1e-7);
  EXPECT_EQ(NonlinearDetectionRmsd(), CurrentNonlinearDetectionTables().rmsdUntransformed);
  // Only the scans and points inside the fit limits count.
  CurrentScanSet().lastFitPoint[1] = 1;
  CurrentScanSet().lastFitPoint[2] = 0;
  ASSERT_TRUE(NonlinearDetectionInverse());
  EXPECT_NEAR(CurrentNonlinearDetectionTables().rmsdTransformed, 0.0021, 1e-7);
}

TEST_F(NonlinearDetection, PowerAtOrBelowZeroIsTakenAsOneHundredth) {
  for (double p : {0.0, -1.0}) {
    Load({{0.1f, 1.2f}}, 0.0f);
    FreeNonlinearDetectionTables();
    ASSERT_TRUE(NonlinearDetectionTransform(p, 0.2, true));
    EXPECT_DOUBLE_EQ(CurrentFdsSignalParams().appliedPower, 0.01);
    ExpectNear(Signals(1), {0.1, 1.2}, 1e-6);  // 1^0.01 + 0.2
  }
}

TEST_F(NonlinearDetection, ScansShortenedAfterTheTransformRemakeTheTables) {
  Load({{0.3f, 0.5f, 0.7f, 0.9f}, {0.4f, 0.6f, 0.8f, 1.0f}}, 0.0f);
  CurrentFdsSignalParams().showTransformed = 1;
  ASSERT_TRUE(NonlinearDetectionTransform(2.0, 0.2, true));
  // Points excluded at the start of scan 2: the shown (transformed) values move down.
  ScanSet& s = CurrentScanSet();
  float* shorter = Copy({0.36f, 0.56f});
  free_vector(s.signals[2], 1, 4);
  s.signals[2] = shorter;
  s.points[2] = 2;
  s.lastFitPoint[2] = 2;
  ASSERT_TRUE(ApplyNonlinearDetection(false));
  EXPECT_EQ(CurrentNonlinearDetectionTables().untransformedSignals[2].size(), 3u);
  ASSERT_TRUE(NonlinearDetectionTransform(2.0, 0.2, false));
  ExpectNear(Signals(2), {0.6, 0.8}, 1e-6);
  ExpectNear(Signals(1), {0.3, 0.5, 0.7, 0.9}, 1e-6);
}

// ---------------------------------------------------------------------------

CFluorophore Decaying(float k, float s) {
  CFluorophore f;
  f.pRateConstantsOn[1] = k;
  f.pInfTimeSteadyStateOn[1] = s;
  return f;
}

TEST(Fluorophores, TimeDecayFactorWithAndWithoutResets) {
  CFluorophore f = Decaying(0.5f, 0.2f);
  EXPECT_NEAR(TimeDecayFactor(f, 1, 7200.0), 0.4943036, 1e-6);
  EXPECT_NEAR(TimeDecayFactor(f, 1, 0.0), 1.0, 1e-7);
  const float times[] = {0, 3600.0f};
  f.SetResetTimes(1, times);
  f.LoadRecoveryLevels(1, 1, 0.9f);
  EXPECT_NEAR(TimeDecayFactor(f, 1, 5400.0), 0.5778932, 1e-6) << "resets only count while switching";
  f.bSwitching = 1;
  EXPECT_NEAR(TimeDecayFactor(f, 1, 5400.0), 0.7407366, 1e-6);
  EXPECT_NEAR(TimeDecayFactor(f, 1, 3600.0), TimeDecayFactor(Decaying(0.5f, 0.2f), 1, 3600.0), 1e-12);
}

TEST(Fluorophores, RecoveryLevelsFollowTheFirstOfTheirRange) {
  struct Case {
    bool exponential;
    std::vector<double> want;
  };
  const Case cases[] = {{false, {0.9, 0.8, 0.8, 0.8, 0.8}}, {true, {0.9, 0.8, 0.72, 0.648, 0.5832}}};
  for (const Case& c : cases) {
    CFluorophore f;
    const float times[] = {0, 1, 2, 3, 4, 5};
    f.SetResetTimes(5, times);
    const float levels[] = {0, 0.9f, 0.8f, 0.5f, 0.5f, 0.5f};
    for (int k = 1; k <= 5; ++k) f.LoadRecoveryLevels(1, k, levels[k]), f.pbFitRecoveryLevels[k] = 1;
    f.bSwitching = 1;
    f.bRecoveryAllSame = 1;
    f.bRecoveryExponential = c.exponential;
    f.AllSameFrom = 5;
    f.AllSameTo = 2;
    f.NormalizeRecoveryLevels();
    EXPECT_EQ(f.AllSameFrom, 2);
    EXPECT_EQ(f.AllSameTo, 5);
    for (int k = 1; k <= 5; ++k) EXPECT_NEAR(f.ppRecoveryLevels[1][k], c.want[k - 1], 1e-6) << k;
    EXPECT_EQ(f.CountAdjustableParameters(), 2) << "levels 3..5 are tied to level 2";
    f.bSwitching = 0;
    EXPECT_EQ(f.CountAdjustableParameters(), 0);
  }
}

TEST(Fluorophores, ConditionNumberOfTwoTimeCourses) {
  CAllFluorophores all;
  all.SetFluorophoreCount(2);
  all.pFLO[1] = Decaying(0.5f, 0.2f);
  all.pFLO[2] = Decaying(2.0f, 0.5f);
  all.IsActive[1] = all.IsActive[2] = 1;
  std::vector<float> times(62), weights(62, 1.0f);
  for (int k = 1; k <= 61; ++k) times[k] = 600.0f * static_cast<float>(k - 1);
  std::vector<double> eigen;
  std::vector<std::vector<double>> gram;
  EXPECT_NEAR(all.ConditionNumberOfSignals(61, times.data(), weights.data(), &eigen, nullptr, &gram), 27.42169,
              1e-4);
  EXPECT_NEAR(gram[1][1], 10.586136, 1e-5);
  EXPECT_NEAR(gram[1][2], 12.598386, 1e-5);
  EXPECT_NEAR(gram[2][2], 17.527650, 1e-5);
  EXPECT_NEAR(eigen[1], 27.124620, 1e-5);
  EXPECT_NEAR(eigen[2], 0.989167, 1e-5);
  all.IsActive[2] = 0;
  EXPECT_EQ(all.ConditionNumberOfSignals(61, times.data(), weights.data()), 1.0f);
  EXPECT_FALSE(all.HasIndistinguishablePair());
  all.IsActive[2] = 1;
  all.pFLO[2].pRateConstantsOn[1] = 0.5f;
  EXPECT_TRUE(all.HasIndistinguishablePair());
}

CAllFluorophores RichSet() {
  CAllFluorophores all;
  all.SetFluorophoreCount(2);
  all.IsActive[2] = 1;
  const float times[] = {0, 1800.0f, 3600.0f};
  all.SetResetTimes(2, times);
  CFluorophore& f = all.pFLO[2];
  f.SetWavelengthCount(3);
  f.pRateConstantsOn[3] = 0.7f;
  f.LoadRecoveryLevels(3, 2, 0.6f);
  f.bSwitching = 1;
  f.bFitRateConstants = 1;
  f.pbFitRecoveryLevels[2] = 1;
  f.bWithInitialBurn = 1;
  f.nInitialBurn = 2;
  f.pInitialBurnFact = {0, 0.5, 0.25};
  f.pInitialBurnRad = {0, 6.5, 6.6};
  f.BurnZone2 = 0.3;
  all.bFitLaserConeDiameter = 1;
  all.LaserConeDiameter = 0.2f;
  return all;
}

TEST(Fluorophores, SavedListLoadsBackIntoAnEqualSet) {
  CAllFluorophores saved = RichSet();
  int count = 0;
  std::vector<std::string> keys;
  const std::vector<float> list = saved.SaveParameters(count, &keys, 500);
  EXPECT_EQ(keys[1], "nFLO");
  EXPECT_EQ(keys[4], "nresettimes");
  EXPECT_EQ(list[4], 2.0f);

  CAllFluorophores loaded;
  ASSERT_TRUE(loaded.LoadParameters(list.data(), count));
  ASSERT_EQ(loaded.nFLO, 2);
  for (int i = 1; i <= 2; ++i) EXPECT_TRUE(loaded.pFLO[i].Equals(&saved.pFLO[i])) << i;
  EXPECT_EQ(loaded.IsActive[2], 1);
  EXPECT_EQ(loaded.pFLO[2].pbFitRecoveryLevels[2], 1);
  EXPECT_EQ(loaded.LaserConeDiameter, 0.2f);
  int again = 0;
  EXPECT_EQ(loaded.SaveParameters(again), list);

  // A change shows against the backup.
  loaded.SaveAllBackups();
  loaded.BuildActiveIndex();
  EXPECT_FALSE(loaded.DidFluorophoreParameterChange(2));
  loaded.pFLO[2].pInitialBurnRad[2] = 6.7;
  EXPECT_TRUE(loaded.DidFluorophoreParameterChange(2));
}

TEST(Fluorophores, ShortListIsRefusedWithoutChange) {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  const CAllFluorophores saved = RichSet();
  int count = 0;
  const std::vector<float> list = CAllFluorophores(saved).SaveParameters(count);
  CAllFluorophores target;
  target.SetFluorophoreCount(1);
  target.pFLO[1].BurnRate = 7.0;
  for (int cut : {0, 1, 5, count - 1}) {
    EXPECT_FALSE(target.LoadParameters(list.data(), cut)) << cut;
    EXPECT_EQ(target.nFLO, 1);
    EXPECT_EQ(target.pFLO[1].BurnRate, 7.0);
  }
  ASSERT_FALSE(ui.transcript.empty());
  EXPECT_EQ(ui.transcript.back().text, "wrong number of parameters in CAllFluorophores::LoadParameters");
}

TEST(Fluorophores, PackedValuesAndFlagsRoundTrip) {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  CAllFluorophores all = RichSet();
  all.IsActive[1] = 1;
  all.pFLO[1].bFitBurnZone = 1;
  int count = 0;
  std::vector<float> values = all.CreateListOfAdjustableParameters(count);
  // Fluorophore 1: BurnZone; 2: rate constant, level of reset 2; then the cone.
  ASSERT_EQ(count, 4);
  EXPECT_EQ(values[1], 0.1f);
  EXPECT_EQ(values[3], 1.0f) << "the level of wavelength 1";
  values[2] = 0.25f;
  values[3] = 0.75f;
  ASSERT_TRUE(all.ApplyListOfAdjustableParameters(values.data(), count));
  EXPECT_EQ(all.pFLO[2].pRateConstantsOn[3], 0.25f) << "a rate goes to every wavelength";
  EXPECT_EQ(all.pFLO[2].ppRecoveryLevels[3][2], 0.75f);
  EXPECT_FALSE(all.ApplyListOfAdjustableParameters(values.data(), count - 1));
  EXPECT_EQ(ui.transcript.back().text, "wrong number of parameters in CAllFluorophores::ApplyListOfAdjustableParameters");

  int slots = 0;
  std::vector<int> flags = all.CreateListOfVariation(slots);
  ASSERT_EQ(slots, 9 + 11 + 3);
  flags[1] = 1;  // fluorophore 1's rate constant
  flags[5] = 0;  // its burn zone
  ASSERT_TRUE(all.ApplyListOfVariation(flags.data(), slots));
  EXPECT_EQ(all.pFLO[1].bFitRateConstants, 1);
  EXPECT_EQ(all.pFLO[1].bFitBurnZone, 0);
  EXPECT_FALSE(all.ApplyListOfVariation(flags.data(), slots + 1));
}

}  // namespace
