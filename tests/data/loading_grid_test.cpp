#include <cmath>
#include <random>

#include "data/scan_grid.h"
#include "tests/data/loading_fixture.h"

using loading_test::MakeScan;
using loading_test::WriteScan;

namespace {

// Interference scans on the same radii: base(r) + offset.
std::vector<std::string> WriteFringes(const loading_test::TempFolder& dir,
                                      const std::vector<float>& offsets) {
  std::vector<std::string> names;
  for (std::size_t k = 0; k < offsets.size(); ++k) {
    auto scan = MakeScan(5.9f, 0.01f, 121, [&](float r) { return 2.0 * (r - 5.9) + offsets[k]; });
    scan.type = 'P';
    scan.time = 1000.0 * (static_cast<double>(k) + 1);
    char name[32];
    std::snprintf(name, sizeof name, "%05d.IP1", static_cast<int>(k) + 1);
    names.push_back(name);
    WriteScan(dir / name, scan);
  }
  return names;
}

}  // namespace

TEST_F(LoadingTest, InterferenceScansOnEqualRadiiShareTheirGrid) {
  const auto names = WriteFringes(dir, {0.0f, 1.0f});
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
  const ScanSet& s = CurrentScanSet();
  EXPECT_EQ(s.gridOwned, 0);
  EXPECT_EQ(s.grid, s.radii[s.order[1]]);
  EXPECT_EQ(s.gridSignals[2], s.signals[2]);
  EXPECT_EQ(s.gridLength, 121);
  EXPECT_DOUBLE_EQ(s.signalPerConcentration, 3.3);
  // Interference data have their systematic noise fitted.
  EXPECT_EQ(*CurrentLoadTargets().tiNoiseFitted, 1);
  EXPECT_EQ(*CurrentLoadTargets().riNoiseFitted, 1);
  ExpectNoFailures();
}

TEST_F(LoadingTest, FitLimitsAreCorrectedAgainstMeniscusBottomAndScans) {
  auto a = MakeScan(5.9f, 0.01f, 121, [](float r) { return r - 5.0f; });
  auto b = MakeScan(5.9f, 0.01f, 116, [](float r) { return r - 5.0f; });  // ends at 7.05
  a.time = 1000;
  b.time = 2000;
  WriteScan(dir / Name(1), a);
  WriteScan(dir / Name(2), b);
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), {Name(1), Name(2)})));
  ScanSet& s = CurrentScanSet();
  LoadTargets& t = CurrentLoadTargets();

  *t.meniscus = 5.96f;
  *t.bottom = 7.2f;
  s.leftFitLimit = 5.95f;
  CheckLeftFitLimit();
  EXPECT_FLOAT_EQ(s.leftFitLimit, 5.96f + 0.01f);
  EXPECT_GE(s.grid[s.firstGridPoint], s.leftFitLimit);

  s.rightFitLimit = 7.1f;
  ui.ExpectBox("Error", "possible problem with right limit in file 00002.RA1\nsetting right limit to 7.050");
  CheckRightFitLimit();
  EXPECT_FLOAT_EQ(s.rightFitLimit, 7.05f);
  EXPECT_EQ(s.lastFitPoint[2], 116);
  EXPECT_LE(s.grid[s.lastGridPoint], 7.05f);
  // Sums over the fit range: count x sum of the mean profile, count x points.
  const int n = s.lastGridPoint - s.firstGridPoint + 1;
  EXPECT_FLOAT_EQ(s.profileWeight, 2.0f * n);
  double sum = 0;
  for (int j = s.firstGridPoint; j <= s.lastGridPoint; ++j) sum += s.meanProfile[j];
  EXPECT_NEAR(s.profileSum, 2.0 * sum, 1e-3);

  // A limit behind the bottom goes to bottom - 0.01.
  *t.bottom = 7.0f;
  CheckRightFitLimit();
  EXPECT_FLOAT_EQ(s.rightFitLimit, 7.0f - 0.01f);
  ExpectNoFailures();

  // Rows written in shuffled order load as the ordered ones, and the fit
  // limits stay as they were set.
  *t.meniscus = 5.9f;
  *t.bottom = 7.2f;
  s.leftFitLimit = 5.95f;
  s.rightFitLimit = 7.0f;
  auto shuffled = a;
  std::mt19937 gen(553379322);
  for (std::size_t k = shuffled.radii.size() - 1; k > 0; --k) {
    const std::size_t j = gen() % (k + 1);
    std::swap(shuffled.radii[k], shuffled.radii[j]);
    std::swap(shuffled.signals[k], shuffled.signals[j]);
  }
  a.time = 3000;
  shuffled.time = 4000;
  WriteScan(dir / Name(3), a);
  WriteScan(dir / Name(4), shuffled);
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), {Name(3), Name(4)})));
  ASSERT_EQ(s.points[2], s.points[1]);
  for (int k = 1; k <= s.points[1]; ++k) {
    EXPECT_EQ(s.radii[2][k], s.radii[1][k]);
    EXPECT_EQ(s.signals[2][k], s.signals[1][k]);
  }
  EXPECT_FLOAT_EQ(s.leftFitLimit, 5.95f);
  EXPECT_FLOAT_EQ(s.rightFitLimit, 7.0f);
  ExpectNoFailures();

  // Scans at radii the limits (and the meniscus and bottom) of other data
  // do not reach: the limits become the radii the scans share, and say so.
  auto low = MakeScan(5.0f, 0.01f, 91, [](float r) { return r - 4.0f; });
  auto lower = MakeScan(4.98f, 0.01f, 90, [](float r) { return r - 4.0f; });
  low.time = 1000;
  lower.time = 2000;
  WriteScan(dir / Name(5), low);
  WriteScan(dir / Name(6), lower);
  s.rightFitLimit = 7.05f;
  ui.lenient = true;
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), {Name(5), Name(6)})));
  ui.lenient = false;
  ASSERT_FALSE(ui.transcript.empty());
  EXPECT_EQ(ui.transcript.back().text, "the fit limits 5.950 - 7.190 hold none of the loaded data\n"
                                       "setting them to 5.000 - 5.870");
  EXPECT_FLOAT_EQ(s.leftFitLimit, 5.0f);
  EXPECT_FLOAT_EQ(s.rightFitLimit, 5.87f);
  EXPECT_EQ(s.firstFitPoint[1], 1);
  EXPECT_EQ(s.lastFitPoint[1], 88);
  EXPECT_EQ(s.firstFitPoint[2], 3);
  EXPECT_EQ(s.lastFitPoint[2], 90);
  EXPECT_LT(s.firstGridPoint, s.lastGridPoint);

  // The limits the user entered stay his: other data are fitted over what
  // the scans allow of them (the box says where that is not all of them),
  // and the first data loaded again over all of them.
  // Four scans numbered from `number`, of `points` each, first to last.
  auto loadScans = [&](int number, float first, float last, int points) {
    auto scan = MakeScan(first, (last - first) / static_cast<float>(points - 1), points,
                         [](float r) { return r - 4.0f; });
    std::vector<std::string> names;
    for (int k = 0; k < 4; ++k) {
      scan.time = 1000.0 * (k + 1);
      names.push_back(Name(number + k));
      WriteScan(dir / names.back(), scan);
    }
    ui.transcript.clear();
    ui.lenient = true;
    const bool loaded = LoadAllData(MakeSelection(dir.path(), names));
    ui.lenient = false;
    return loaded;
  };
  auto expectFitted = [&](float left, float right) {
    EXPECT_FLOAT_EQ(s.leftFitLimit, left);
    EXPECT_FLOAT_EQ(s.rightFitLimit, right);
    for (int i = 1; i <= s.count; ++i) {
      ASSERT_LE(s.firstFitPoint[i], s.lastFitPoint[i]) << "scan " << i;
      EXPECT_GE(s.radii[i][s.firstFitPoint[i]], left);
      EXPECT_LE(s.radii[i][s.lastFitPoint[i]], right);
      if (s.firstFitPoint[i] > 1) {
        EXPECT_LT(s.radii[i][s.firstFitPoint[i] - 1], left);
      }
      if (s.lastFitPoint[i] < s.points[i]) {
        EXPECT_GT(s.radii[i][s.lastFitPoint[i] + 1], right);
      }
    }
  };
  *t.meniscus = 5.9f;
  *t.bottom = 7.2f;
  EnterLeftFitLimit(6.05f);
  EnterRightFitLimit(7.0f);
  struct Other {
    float first, last;
    const char* box;  // the last one said, or none
    float left, right;
  } others[] = {
      // The left limit rises to the scans' first radius without a word.
      {6.5f, 7.2f, nullptr, 6.5f, 7.0f},
      {6.5f, 6.9f, "possible problem with right limit in file 00021.RA1\nsetting right limit to 6.900", 6.5f,
       6.9f},
      {4.98f, 5.87f, "the fit limits 6.050 - 7.190 hold none of the loaded data\nsetting them to 4.980 - 5.870",
       4.98f, 5.87f},
  };
  for (const Other& o : others) {
    SCOPED_TRACE(o.first);
    ASSERT_TRUE(loadScans(21, o.first, o.last, 121));
    if (o.box) {
      ASSERT_FALSE(ui.transcript.empty());
      EXPECT_EQ(ui.transcript.back().text, o.box);
    } else {
      EXPECT_TRUE(ui.transcript.empty()) << ui.transcript.back().text;
    }
    expectFitted(o.left, o.right);
    EXPECT_FLOAT_EQ(s.enteredLeftFitLimit, 6.05f);
    EXPECT_FLOAT_EQ(s.enteredRightFitLimit, 7.0f);
    ASSERT_TRUE(loadScans(11, 5.9f, 7.1f, 121));
    EXPECT_TRUE(ui.transcript.empty()) << ui.transcript.back().text;
    expectFitted(6.05f, 7.0f);
  }

  // Entries, data and point counts nobody chose, at the sizes of real sets
  // (four scans of 2500 to 4000 radii, 10 000 to 16 000 points; the files
  // hold radii to 0.1 um, which a scan of 0.5 cm keeps apart).
  std::mt19937 random(20261209);
  auto uniform = [&](float a, float b) { return std::uniform_real_distribution<float>(a, b)(random); };
  auto points = [&] { return std::uniform_int_distribution<int>(2500, 4000)(random); };
  for (int round = 0; round < 6; ++round) {
    const float left = uniform(5.95f, 6.4f), right = uniform(6.6f, 7.05f);
    const float first = uniform(5.6f, 6.8f), last = first + uniform(0.5f, 1.2f);
    SCOPED_TRACE(::testing::Message() << "entered " << left << " - " << right << ", data " << first << " - "
                                      << last);
    EnterLeftFitLimit(left);
    EnterRightFitLimit(right);
    ASSERT_TRUE(loadScans(11, 5.9f, 7.1f, points()));
    expectFitted(left, right);
    ASSERT_TRUE(loadScans(21, first, last, points()));
    EXPECT_LT(s.leftFitLimit, s.rightFitLimit);
    expectFitted(s.leftFitLimit, s.rightFitLimit);
    EXPECT_EQ(s.enteredLeftFitLimit, left);
    EXPECT_EQ(s.enteredRightFitLimit, right);
    ASSERT_TRUE(loadScans(11, 5.9f, 7.1f, points()));
    expectFitted(left, right);
  }
}

TEST_F(LoadingTest, ResolutionBelowTheFinestIsRaisedToIt) {
  const auto names = WriteSeries({100, 200});
  CurrentScanSet().radialResolution = 0.0f;
  ui.ExpectBox("SET RADIAL RESOLUTION", "setting to minimum 0.001 (all data)");
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
  EXPECT_FLOAT_EQ(CurrentScanSet().radialResolution, 0.001f);
  EXPECT_GT(CurrentScanSet().gridLength, 1000);

  // A coarser resolution averages the rows while reading.
  CurrentScanSet().radialResolution = 0.02f;
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
  EXPECT_LT(CurrentScanSet().points[1], 121);
  EXPECT_NEAR(CurrentScanSet().grid[2] - CurrentScanSet().grid[1], 0.02f, 1e-6);
  ExpectNoFailures();
}

TEST_F(LoadingTest, InterferenceOffsetsAlignToWholeFringes) {
  const auto names = WriteFringes(dir, {0.0f, 3.4f, 0.4f, -2.6f});
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
  ScanSet& s = CurrentScanSet();
  ASSERT_TRUE(AlignInterferenceOffsetsAtRadius(0.0f, 6.5f));
  const int k = 61;  // r = 6.5
  EXPECT_NEAR(s.signals[2][k] - s.signals[1][k], 0.4f, 1e-4);   // lowered by 3
  EXPECT_NEAR(s.signals[3][k] - s.signals[1][k], 0.4f, 1e-4);   // left alone
  EXPECT_NEAR(s.signals[4][k] - s.signals[1][k], 0.4f, 1e-4);   // raised by 3
  ASSERT_TRUE(AlignInterferenceOffsetsAtRadius(0.25f, 6.5f));
  EXPECT_NEAR(s.signals[1][k], 2.0f * 0.6f + 0.25f, 1e-4);

  ui.ExpectBox("ERROR", "lies outside the scans");
  EXPECT_FALSE(AlignInterferenceOffsetsAtRadius(0.0f, 5.0f));
  ui.ExpectBox("ERROR", "lies outside the scans");
  EXPECT_FALSE(AlignInterferenceOffsetsAtRadius(0.0f, 8.0f));
  ExpectNoFailures();
}

TEST_F(LoadingTest, IntegralFringeJumpsAreRemoved) {
  auto scan = MakeScan(5.9f, 0.01f, 121, [](float r) { return 2.0 * (r - 5.9); });
  scan.type = 'P';
  std::vector<float> original = scan.signals;
  for (std::size_t k = 60; k < scan.signals.size(); ++k) scan.signals[k] += 1.0f;   // +1 jump
  for (std::size_t k = 90; k < scan.signals.size(); ++k) scan.signals[k] -= 2.0f;   // -2 jump
  WriteScan(dir / "00001.IP1", scan);
  auto second = MakeScan(5.9f, 0.01f, 121, [](float r) { return 2.0 * (r - 5.9); });
  second.type = 'P';
  second.time = 5000;
  WriteScan(dir / "00002.IP1", second);
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), {"00001.IP1", "00002.IP1"})));
  ScanSet& s = CurrentScanSet();
  DetectFringeJumps(0.5f, 0);
  for (int k = s.firstFitPoint[1]; k <= s.lastFitPoint[1]; ++k)
    EXPECT_NEAR(s.signals[1][k], original[static_cast<std::size_t>(k) - 1], 1e-4) << k;
  // Below half a fringe the repair is refused rather than oscillating.
  s.signals[2][70] += 0.4f;
  DetectFringeJumps(0.3f, 0);
  EXPECT_NEAR(s.signals[2][70] - s.signals[2][69], 0.42f, 1e-4);

  // From the residuals: a +1 step against the mean of the three points before.
  for (int k = 1; k <= s.points[2]; ++k) s.residuals[2][k] = k >= 80 ? 1.0f : 0.0f;
  const float before = s.signals[2][100];
  DetectFringeJumps(0.5f, 1);
  EXPECT_NEAR(s.residuals[2][100], 0.0f, 1e-6);
  EXPECT_NEAR(s.signals[2][100], before - 1.0f, 1e-4);
  ExpectNoFailures();
}

TEST_F(LoadingTest, JitterIsTakenOutAsRINoise) {
  const auto names = WriteFringes(dir, {0.0f, 0.3f, -0.2f});
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
  ScanSet& s = CurrentScanSet();
  ASSERT_TRUE(RemoveJitter(6.0f, 6.5f));
  EXPECT_NEAR(s.riNoise[2], 0.3f, 1e-4);
  EXPECT_NEAR(s.riNoise[3], -0.2f, 1e-4);
  EXPECT_NEAR(s.signals[2][50], s.signals[1][50], 1e-4);
  ui.ExpectBox("ERROR", "no data points between the two radii");
  EXPECT_FALSE(RemoveJitter(6.5f, 6.5f));
  ExpectNoFailures();
}

TEST_F(LoadingTest, InitialDataAreExtrapolatedTowardsTheMeniscus) {
  const auto names = WriteSeries({1000, 2000});
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
  ScanSet& s = CurrentScanSet();
  LoadTargets& t = CurrentLoadTargets();
  // A straight line with a disturbed region between meniscus and left limit.
  auto initial = MakeScan(5.9f, 0.01f, 121, [](float r) { return 0.2 + 0.5 * (r - 5.9); });
  for (int k = 0; k < 8; ++k) initial.signals[static_cast<std::size_t>(k)] = 3.0f;
  initial.time = 1000;
  WriteScan(dir / "initial.RA1", initial);
  *t.experimentalInitialDistribution = 1;
  s.leftFitLimit = 6.0f;
  s.initialData.polynomialOrder = 1;
  ASSERT_EQ(LoadInitialDataScans(dir / "initial.RA1"), 1);
  EXPECT_EQ(s.initialData.equalsFirstScan, 1);
  // A line through segment means of a line is the line itself.
  for (int k = 1; k <= 11; ++k)
    EXPECT_NEAR(s.initialData.signals[k], 0.2 + 0.5 * (s.initialData.radii[k] - 5.9), 1e-4) << k;

  // An extrapolation over no points is refused and changes nothing.
  s.initialData.signals[1] = 3.0f;
  s.initialData.extrapolationDistance = 0.0f;
  ui.ExpectBox("ERROR", "too few points for the extrapolation of the initial data");
  MakeLeftExtrapolation();
  EXPECT_EQ(s.initialData.signals[1], 3.0f);

  // Initial data that repeat one radius give no polynomial (Neville's
  // scheme would divide by 0): refused before a value changes.
  s.initialData.extrapolationDistance = 1.0f;
  for (int k = 1; k <= s.initialData.points; ++k)
    if (s.initialData.radii[k] >= 6.0f) s.initialData.radii[k] = 6.05f;
  const std::vector<float> kept(s.initialData.signals + 1, s.initialData.signals + s.initialData.points + 1);
  ui.ExpectBox("ERROR", "the initial data repeat their radii: no polynomial for the extrapolation");
  MakeLeftExtrapolation();
  EXPECT_EQ(std::vector<float>(s.initialData.signals + 1, s.initialData.signals + s.initialData.points + 1), kept);

  ExpectNoFailures();
  FreeExtrapolationArrays();
  EXPECT_EQ(s.initialData.points, 0);
  ui.ExpectBox("", "please load data files first");
  FreeScanData();
  EXPECT_EQ(LoadInitialDataScans(dir / "initial.RA1"), 0);
}
