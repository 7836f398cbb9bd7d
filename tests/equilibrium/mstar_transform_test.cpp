// The M* transformation on ideal equilibrium profiles in closed form: M*
// equals the buoyant molar mass of a single species everywhere and the
// loading average of a mixture at the bottom; the loading signal equals the
// loaded concentration; the hinge lies where the profile crosses it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "equilibrium/mstar/mstar_hinge.h"
#include "equilibrium/mstar/mstar_transform.h"
#include "platform/scripted_ui.h"
#include "tests/equilibrium/mstar_profiles.h"

using namespace mstar_test;

namespace {

class MStarTransform : public ::testing::Test {
 protected:
  MStarTransform() : scope_(ui) {}
  ~MStarTransform() override {
    st.FreeData();
    ClearScans();
  }
  static Profile Mixture(double rpm) {
    Profile p;
    p.rpm = rpm;
    p.species = {{20000, 0.5}, {100000, 0.5}};
    return p;
  }
  const MStarDataSet& Set(int d = 1) const { return st.sets[static_cast<size_t>(d)]; }
  float At(const std::vector<float>& v, int i) const { return v[static_cast<size_t>(i)]; }
  void ExpectNoFailures() const {
    for (const auto& f : ui.failures) ADD_FAILURE() << f;
  }

  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope_;
  MStarState st;
  Cell cell;
};

}  // namespace

TEST_F(MStarTransform, SingleSpeciesGivesItsMolarMass) {
  LoadProfiles({SingleSpecies()}, cell);
  ASSERT_TRUE(PrepareMStarAnalysis(st));
  const MStarDataSet& s = Set();
  // 6.905 .. 7.195 reaches 6.900 and 7.200 in 0.001 cm steps.
  EXPECT_EQ(s.leftExtension, 5);
  EXPECT_EQ(s.rightExtension, 5);
  EXPECT_NEAR(st.mwLin[1], 50.00, 0.05);
  EXPECT_NEAR(st.mwavg[1], 49.98, 0.25);
  EXPECT_NEAR(st.ca[1], 0.1712, 0.0008);
  EXPECT_GT(st.ca[1], 0.1700);
  // The extrapolated c_a is a little high: M* falls short near the meniscus
  // where the signal above c_a is smallest.
  EXPECT_NEAR(At(s.mstar, s.iFirst), 46.1, 0.6);
  EXPECT_NEAR(At(s.mstar, s.iLast), 49.97, 0.05);
  for (int i = s.iFirst; i <= s.iLast; ++i) {
    EXPECT_LE(At(s.mstar, i), 50.05f) << i;
    EXPECT_GT(At(s.mstar, i), 45.0f) << i;
  }
  EXPECT_EQ(At(s.mstar, s.iFirst - 1), 0.0f);
  EXPECT_EQ(At(s.mstar, s.iLast + 1), 0.0f);
  EXPECT_FALSE(st.negativeMStar);
  // Apparent molar mass of either form inside the smoothing margins.
  for (bool dlnc : {false, true}) {
    st.settings.dlncForm = dlnc;
    ComputeMStarFit(st);
    const std::vector<float>& mw = s.SelectedMwapp(st.settings);
    for (int i = s.iFirst + 30; i < s.iLast - 30; ++i) EXPECT_NEAR(At(mw, i), 50.0, 0.5) << dlnc << " " << i;
  }
  ExpectNoFailures();
}

TEST_F(MStarTransform, ExactMeniscusSignalGivesMStarThroughout) {
  LoadProfiles({SingleSpecies()}, cell);
  ASSERT_TRUE(PrepareMStarAnalysis(st));
  // A typed c_a keeps its value on the straight-line basis.
  st.settings.straightLineBasis = true;
  st.ca[1] = 0.17002f;
  ComputeMStarFit(st);
  EXPECT_FLOAT_EQ(st.ca[1], 0.17002f);
  // Near the left fit limit the straight line from the meniscus and the
  // first slice of the integral leave M* a little low.
  const MStarDataSet& s = Set();
  for (int i = s.iFirst; i <= s.iLast; ++i) {
    EXPECT_GE(At(s.mstar, i), i < s.iFirst + 10 ? 49.85f : 49.94f) << i;
    EXPECT_LE(At(s.mstar, i), 50.005f) << i;
  }
  ExpectNoFailures();
}

TEST_F(MStarTransform, MixtureGivesTheLoadingAverageAtTheBottom) {
  struct Case {
    double rpm, tolerance;
  };
  for (const Case& c : {Case{15000, 0.3}, Case{10000, 0.1}}) {
    const Profile p = Mixture(c.rpm);
    LoadProfiles({p}, cell);
    ASSERT_TRUE(PrepareMStarAnalysis(st));
    EXPECT_NEAR(st.mwavg[1], LoadingAverage(p), c.tolerance) << c.rpm;
    // M* rises towards the bottom as the heavy species gathers there.
    const MStarDataSet& s = Set();
    EXPECT_LT(At(s.mstar, s.iFirst + 10), At(s.mstar, s.iLast - 10));
    st.FreeData();
  }
  ExpectNoFailures();
}

TEST_F(MStarTransform, SeveralDataSetsAreTransformedEachWithItsSpeed) {
  LoadProfiles({SingleSpecies(15000), Mixture(10000)}, cell);
  ASSERT_TRUE(PrepareMStarAnalysis(st));
  EXPECT_NEAR(st.mwLin[1], 50.0, 0.05);
  EXPECT_NEAR(st.mwavg[2], 60.0, 0.1);
  EXPECT_NEAR(st.k[1] / st.k[2], 2.25, 1e-5);  // (15000/10000)^2
  const MStarResultTexts t = ComposeMStarResultTexts(st);
  ASSERT_EQ(t.mwavg.size(), 2u);
  char expected[64];
  std::snprintf(expected, sizeof expected, "Mwavg(2) = %.1f (kDa)", st.mwavg[2]);
  EXPECT_EQ(t.mwavg[1], expected);
  EXPECT_EQ(t.linearFit[0].rfind("linear fit to lnc(r^2)(1) --> 50.0 (kDa)", 0), 0u);
  EXPECT_EQ(t.baseline[1], "Baseline = 0.0500");
  std::snprintf(expected, sizeof expected, "A0(1) = %.4f", st.ca[1]);
  EXPECT_EQ(t.meniscusSignal[0], expected);
}

TEST_F(MStarTransform, LoadingSignalAndHingePointOfIdealProfiles) {
  struct Case {
    Profile profile;
    double mwappAtHinge;
  };
  // Each species of a mixture has its own hinge: only a single species
  // shows its molar mass there (negative: not checked).
  const Case cases[] = {{SingleSpecies(), 50.0}, {Mixture(15000), -1}};
  for (const Case& c : cases) {
    LoadProfiles({c.profile}, cell);
    ASSERT_TRUE(PrepareMStarAnalysis(st));
    // Exact loading: the r-weighted mean of the profile over the cell.
    const double a = cell.meniscus, b = cell.bottom;
    double exact = 0;
    const int steps = 20000;
    for (int i = 0; i <= steps; ++i) {
      const double r = a + (b - a) * i / steps, w = (i == 0 || i == steps) ? 0.5 : 1.0;
      exact += w * Concentration(c.profile, cell, r) * r * (b - a) / steps;
    }
    exact /= (b * b - a * a) / 2;
    bool ok = false;
    const float c0 = MStarLoadingSignal(st, 1, &ok);
    ASSERT_TRUE(ok);
    EXPECT_NEAR(c0 / exact, 1.0, 0.003);
    // Where the profile crosses the loading signal.
    double rh = a;
    while (Concentration(c.profile, cell, rh) < exact) rh += 1e-5;
    const MStarHinge h = FindHingePoint(st, 1, static_cast<float>(exact), 0.01f);
    ASSERT_TRUE(h.found);
    EXPECT_NEAR(h.radius, rh, 0.002);
    if (c.mwappAtHinge > 0) {
      EXPECT_NEAR(h.mwapp, c.mwappAtHinge, 0.6);
    }
    st.FreeData();
  }
  ExpectNoFailures();
}

TEST_F(MStarTransform, HingeDialogueAsksPerDataSetAndReports) {
  LoadProfiles({SingleSpecies()}, cell);
  ASSERT_TRUE(PrepareMStarAnalysis(st));
  ui.ExpectBox("HINGE POINT INFO", "estimated loading signal from meniscus (6.900) to bottom (7.200) = ",
               platform::IDYES);
  ui.ExpectPrompt("HINGE POINT INFO", "new total signal", "1.0");
  ui.ExpectPrompt("HINGE POINT INFO", "radial interval for smoothing Mapp(r_hinge)", "0.01");
  ui.ExpectBox("HINGE POINT INFO", "Mwapp(rhinge=");
  int marked = 0;
  EXPECT_TRUE(ShowHingePointInfo(st, [&](int d) { marked += d; }));
  EXPECT_EQ(marked, 1);
  EXPECT_FLOAT_EQ(st.hinge[1].loading, 1.0f);
  EXPECT_TRUE(ui.AllConsumed());
  ExpectNoFailures();
}

TEST_F(MStarTransform, ProfileAboveTheMeniscusIsExtendedDownToIt) {
  Profile p = SingleSpecies();
  p.first = 6.9025;
  p.last = 7.1985;
  LoadProfiles({p}, cell);
  ASSERT_TRUE(CheckMStarSmoothingRange(st));
  const MStarDataSet& s = Set();
  EXPECT_EQ(s.leftExtension, 3);
  EXPECT_NEAR(At(s.r, 1), 6.8995, 1e-6);
  EXPECT_NEAR(At(s.r, 3), 6.9015, 1e-6);
  EXPECT_EQ(At(s.y, 1), 0.0f);
  EXPECT_EQ(s.rightExtension, 2);
  // A profile that starts at the meniscus is not extended.
  p.first = 6.9;
  LoadProfiles({p}, cell);
  ASSERT_TRUE(CheckMStarSmoothingRange(st));
  EXPECT_EQ(Set().leftExtension, 0);
}

TEST_F(MStarTransform, CofMSmoothingWithTheExactFit) {
  Profile p = SingleSpecies();
  p.first = 6.9;
  p.last = 7.2;
  LoadProfiles({p}, cell);
  ScanSet& sc = CurrentScanSet();
  for (int i = 1; i <= sc.points[1]; ++i) sc.model[1][i] = sc.signals[1][i];
  st.settings.cmSmoothing = true;
  ASSERT_TRUE(PrepareMStarAnalysis(st));
  const MStarDataSet& s = Set();
  EXPECT_NEAR(st.ca[1], 0.17, 1e-4);
  for (int i = 1; i <= s.n; ++i) {
    const float r = At(s.r, i);
    if (r >= cell.left && r <= cell.right) {
      EXPECT_NEAR(At(s.mstarFit, i), 50.0, 0.05) << r;
    }
  }
  EXPECT_NEAR(st.mwavg[1], 50.00, 0.05);
  ExpectNoFailures();
}

TEST_F(MStarTransform, SmoothingRefusesProfilesShortOfMeniscusOrBottom) {
  LoadProfiles({SingleSpecies()}, cell);
  st.settings.cmSmoothing = true;
  ui.ExpectBox("MISSING DATA", "Data Range Must Include Meniscus and Bottom for c(M) smoothing of MSTAR");
  EXPECT_FALSE(PrepareMStarAnalysis(st));
  EXPECT_FALSE(st.settings.cmSmoothing);
  EXPECT_TRUE(ui.AllConsumed());
  ExpectNoFailures();
}

TEST_F(MStarTransform, InputsThatCannotBeTransformedAreRefused) {
  struct Case {
    const char* what;
    void (*spoil)();
    const char* message;
  };
  const Case cases[] = {
      {"meniscus 0", [] { gModelParams.meniscus = 0; }, "meniscus and bottom must be set"},
      {"bottom 0", [] { gModelParams.bottom = 0; }, "meniscus and bottom must be set"},
      {"meniscus at bottom", [] { gModelParams.meniscus = 7.2f; }, "meniscus (7.200 cm) must lie below"},
      {"0 rpm", [] { CurrentScanSet().records[2].rpm = 0; }, "data set 2 (00002.RA1) was taken at 0 rpm"},
      {"floating", [] { gSolutionConditions.vbarRho = 1.0f; }, "1 - vbar*density = 0.0000"},
  };
  for (const Case& c : cases) {
    LoadProfiles({SingleSpecies(), SingleSpecies()}, cell);
    EXPECT_TRUE(MStarInputProblem().empty());
    c.spoil();
    const std::string problem = MStarInputProblem();
    EXPECT_NE(problem.find(c.message), std::string::npos) << c.what << ": " << problem;
  }
}

TEST_F(MStarTransform, ProfilesBelowTheBaselineGiveFiniteResults) {
  // The signal dips below the baseline: u changes sign and the M* denominator
  // passes through zero.
  LoadProfiles({SingleSpecies()}, cell);
  ScanSet& sc = CurrentScanSet();
  for (int i = 1; i <= sc.points[1]; ++i)
    sc.signals[1][i] = 0.05f + 0.3f * static_cast<float>(std::sin(60.0 * sc.radii[1][i]));
  ASSERT_TRUE(PrepareMStarAnalysis(st));
  for (const std::vector<float>* v : {&Set().mstar, &Set().lncRaw, &Set().mwappDcdr, &Set().mwappDlnc})
    for (float x : *v) ASSERT_TRUE(std::isfinite(x));
  EXPECT_TRUE(st.negativeMStar);
  const MStarAxisRanges r = ComputeMStarAxisRanges(st);
  for (const MStarAxisRange& a : {r.signal, r.mstar, r.lnc, r.mwapp}) {
    EXPECT_TRUE(std::isfinite(a.yMin) && std::isfinite(a.yMax) && a.yMin < a.yMax);
    EXPECT_LT(a.yMax, 1e7f);
    EXPECT_GT(a.yMin, -1e7f);
  }
  ui.lenient = true;  // the signal extrapolation may be refused on such data
}

TEST_F(MStarTransform, AxisRangesOfNarrowFitRangesUseTheWholeFitRange) {
  cell.left = 7.0;
  cell.right = 7.04;  // fewer points than the Mwapp margins remove
  LoadProfiles({SingleSpecies()}, cell);
  ASSERT_TRUE(PrepareMStarAnalysis(st));
  const MStarAxisRanges r = ComputeMStarAxisRanges(st);
  // Not the empty scratch range, and the plateau of 50 kDa inside.
  EXPECT_GT(r.mwapp.yMin, -1e7f);
  EXPECT_LT(r.mwapp.yMin, 50.0f);
  EXPECT_GT(r.mwapp.yMax, 50.0f);
  EXPECT_LT(r.mwapp.yMax, 1e7f);
  EXPECT_NEAR(r.lnc.xMin, 6.9f * 6.9f, 1e-4);
  EXPECT_NEAR(r.signal.xMax, 7.21f, 1e-5);
  // M* axis: capped at 1.5 Mwavg, open at 0 or below.
  EXPECT_LE(r.mstar.yMax, 1.5f * st.mwavg[1] * 1.06f);
  ExpectNoFailures();
}

TEST_F(MStarTransform, IndexBoundsOfTinyRanges) {
  // A fit range holding one point: no linear fit.
  cell.left = 7.0;
  cell.right = 7.0004;
  LoadProfiles({SingleSpecies()}, cell);
  ui.lenient = true;  // extrapolation ranges too short: order boxes
  ASSERT_TRUE(PrepareMStarAnalysis(st));
  EXPECT_EQ(st.mwLin[1], 0.0f);
  // Right fit limit at the last point: the loading sum stops at the data's end.
  CurrentScanSet().rightFitLimit = 7.3f;
  bool ok = false;
  MStarLoadingSignal(st, 1, &ok);
  // A loading signal no window reaches: no hinge, no read past the profile.
  const MStarHinge h = FindHingePoint(st, 1, 1e6f, 0.5f);
  EXPECT_FALSE(h.found);
  EXPECT_EQ(h.radius, 0.0f);

  // Two points from meniscus to bottom with c(M) smoothing: the bottom is
  // the second point, and the line through the two points before it does
  // not exist.
  Profile p = SingleSpecies();
  p.first = 6.9;
  p.last = 7.2;
  p.step = 0.3;
  cell = Cell{};
  LoadProfiles({p}, cell);
  st.FreeData();
  st.settings.cmSmoothing = true;
  ASSERT_TRUE(PrepareMStarAnalysis(st));
  EXPECT_EQ(Set().n, 2);
  EXPECT_EQ(st.mwavg[1], 0.0f);
}
