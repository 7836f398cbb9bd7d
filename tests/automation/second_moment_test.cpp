// Weight-average s by second moments of ideal step boundaries, where the
// second moment gives s t exactly, and the refusals of degenerate scans.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "automation/tools/second_moment.h"
#include "data/scan_set.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_settings.h"

namespace {

constexpr double kOmega2 = 50000.0 * 0.10471975511965977 * 50000.0 * 0.10471975511965977;

// Ten 5 S step boundaries 600 s apart from meniscus 6.0 cm, plateau diluted
// radially from 1.0, on a 0.001 cm grid from 5.9009 to 7.2009 cm (the
// meniscus just after a grid point: the moments start at the last point
// before it); fit limits 6.05 .. 7.0 cm.
struct StepScans {
  std::vector<std::vector<float>> r, c;
  std::vector<MomentScan> scans;
  std::vector<int> order;
  StepScans(int n = 10, double s = 5e-13) {
    const double m = 6.0;
    const int points = 1301;
    r.assign(n, std::vector<float>(points + 1));
    c = r;
    for (int k = 0; k < n; ++k) {
      const double t = 600.0 * (n - k);
      const double boundary = m * std::exp(kOmega2 * s * t);
      const double plateau = std::pow(m / boundary, 2);
      MomentScan scan;
      for (int i = 1; i <= points; ++i) {
        r[k][i] = static_cast<float>(5.9009 + 0.001 * (i - 1));
        c[k][i] = r[k][i] > boundary ? static_cast<float>(plateau) : 0.0f;
        if (scan.firstInLimits == 0 && r[k][i] >= 6.05f) scan.firstInLimits = i;
        if (r[k][i] <= 7.0f) scan.lastInLimits = i;
      }
      scan.r = r[k].data();
      scan.c = c[k].data();
      scan.points = points;
      scan.rpm = 50000;
      scan.elapsed = t;
      scan.w2t = kOmega2 * t;
      scans.push_back(scan);
    }
    for (int k = n - 1; k >= 0; --k) order.push_back(k);  // loaded latest first
  }
};

// Scans of one ideal species (s in S, D in cm^2/s) at 50000 rpm and the
// given times, solved by the program's Lamm solver (meniscus 6.0, bottom
// 7.2 cm, the solver's fit limits left .. right, on `nodes` nodes, 0: the
// default settings' own) and written every 0.001 cm from `from` cm, with no
// signal before the meniscus.
struct SolvedScans {
  const int scans, points;
  const double from;
  std::vector<ScanRecord> records;
  std::vector<float> radii;
  std::vector<std::vector<float>> out;
  SolvedScans(double s, double D, const std::vector<double>& times, double first, int n, float left, float right,
              int nodes = 0)
      : scans(static_cast<int>(times.size())), points(n), from(first), records(scans + 1), radii(n + 1),
        out(scans + 1, std::vector<float>(n + 1)) {
    for (int k = 1; k <= scans; ++k) {
      records[k].rpm = 50000;
      records[k].temperature = 20;
      records[k].time = records[k].timeRead = times[k - 1];
      records[k].w2t = kOmega2 * records[k].time;
      records[k].points = points;
    }
    for (int j = 1; j <= points; ++j) radii[j] = static_cast<float>(from + 0.001 * (j - 1));
    std::vector<float*> outPtr(scans + 1, nullptr);
    for (int k = 1; k <= scans; ++k) outPtr[k] = out[k].data();
    const LammSolverSettings st;
    CLammIdeal L;
    L.MarkLoaded();
    L.SetOutputParameters(s, D, 6.0, 7.2, 1.0, left, right);
    L.SetScanTimes({.records = records.data(), .output = outPtr.data(), .grid = radii.data(),
                    .gridLength = points, .scanCount = scans, .absorbanceData = true});
    SetModelOptionsFromSettings(L, st, st.workingMaxDcOverC, nodes > 0 ? nodes : st.gridSize.setting);
    L.SetSolventAndComputeFrictionalRatio(20, 0.73, 1.0, 1.0);
    EXPECT_EQ(L.CheckAndRun(), 0);
    for (int k = 1; k <= scans; ++k)
      for (int j = 1; j <= points; ++j)
        if (radii[j] < 6.0f) out[k][j] = 0;  // air before the meniscus
  }
  int Index(double r) const { return static_cast<int>(std::lround((r - from) / 0.001)) + 1; }
  // Scan k on radii r and signals c of `n` points, points firstIn .. lastIn
  // inside the fit limits; and all scans on their own radii.
  MomentScan Moment(int k, const float* r, const float* c, int n, int firstIn, int lastIn) const {
    return {.r = r, .c = c, .points = n, .firstInLimits = firstIn, .lastInLimits = lastIn, .rpm = 50000,
            .elapsed = records[k].timeRead, .w2t = records[k].w2t};
  }
  std::vector<MomentScan> Moments(int firstIn, int lastIn) const {
    std::vector<MomentScan> m;
    for (int k = 1; k <= scans; ++k) m.push_back(Moment(k, radii.data(), out[k].data(), points, firstIn, lastIn));
    return m;
  }
  std::vector<int> Order() const {
    std::vector<int> order;
    for (int k = 0; k < scans; ++k) order.push_back(k);
    return order;
  }
};

TEST(SecondMoment, DifferentialSecondMomentOfStepBoundaries) {
  StepScans d;
  const SecondMomentResult r = DifferentialSecondMomentSw(d.scans, d.order, 6.0f, 7.0f);
  ASSERT_TRUE(r.ok) << r.text;
  EXPECT_NEAR(r.sw, 5.0, 5.0 * 0.002);
  EXPECT_NEAR(r.c0, 1.0, 0.002);
  ASSERT_EQ(r.tableS.size(), 9u);
  // In time order, whatever the loading order.
  for (size_t k = 0; k < 9; ++k) {
    EXPECT_FLOAT_EQ(r.tableTime[k], 600.0f * (k + 1));
    EXPECT_NEAR(r.tableS[k], 5.0, 0.15);  // a grid step of a 0.05 cm move
  }
  // The step model sits at the boundary of each scan, with its plateau.
  for (int k = 0; k < 10; ++k) {
    const double boundary = 6.0 * std::exp(kOmega2 * 5e-13 * d.scans[k].elapsed);
    EXPECT_NEAR(r.boundary[k], boundary, 0.002);
    EXPECT_NEAR(r.plateau[k], std::pow(6.0 / boundary, 2), 0.002);
  }
  EXPECT_EQ(r.text.rfind("sw = 5.0", 0), 0u) << r.text;
  EXPECT_NE(r.text.find("\n(table sw vs time is stored in clipboard)"), std::string::npos);
}

TEST(SecondMoment, IntegralSecondMomentOfStepBoundaries) {
  StepScans d;
  const SecondMomentResult r = SecondMomentSw(d.scans, d.order, 6.0f, 7.0f);
  ASSERT_TRUE(r.ok) << r.text;
  EXPECT_NEAR(r.sw, 5.0, 5.0 * 0.002);
  EXPECT_NEAR(r.c0, 1.0, 0.002);
  ASSERT_EQ(r.tableS.size(), 10u);
  EXPECT_FLOAT_EQ(r.tableTime.front(), 600.0f);
  // The effective concentration is the time average of the diluted plateau.
  double effective = 0;
  for (int k = 1; k <= 10; ++k) {
    const double x = kOmega2 * 5e-13 * 600.0 * k;
    effective += (1 - std::exp(-2 * x)) / (2 * x) / 10;
  }
  EXPECT_NEAR(r.averageConcentration, effective, 0.002);
}

TEST(SecondMoment, DegenerateScansAreRefusedByName) {
  const double s = 5e-13;
  {
    StepScans one(1, s);
    EXPECT_FALSE(DifferentialSecondMomentSw(one.scans, one.order, 6.0f, 7.0f).ok);
    EXPECT_TRUE(SecondMomentSw(one.scans, one.order, 6.0f, 7.0f).ok);
  }
  struct Case {
    const char* what;
    void (*spoil)(StepScans&);
    const char* text;
  };
  const Case cases[] = {
      {"zero plateau", [](StepScans& d) { for (int i = 1; i <= 1301; ++i) d.c[2][i] = 0; },
       "scan 3: the plateau signal is not above 0"},
      {"no plateau point", [](StepScans& d) { d.scans[1].lastInLimits = 500; },
       "scan 2: no data points within 0.1 cm of the right fit limit"},
      {"boundary outside", [](StepScans& d) { for (int i = 1; i <= 1301; ++i) d.c[3][i] = d.r[3][i] > 6.9f ? 1 : 1000; },
       "scan 4: no boundary inside the cell (rb^2 - 2 I/cp <= 0)"},
      {"rotor at rest", [](StepScans& d) { d.scans[4].rpm = 0; d.scans[4].w2t = 0; }, "scan 5: "},
      {"equal times", [](StepScans& d) { d.scans[6].elapsed = d.scans[5].elapsed; },
       "scans 7 and 6 have the same elapsed time"},
  };
  for (const Case& c : cases) {
    StepScans d(10, s);
    c.spoil(d);
    const SecondMomentResult r = DifferentialSecondMomentSw(d.scans, d.order, 6.0f, 7.0f);
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_EQ(r.text.rfind(c.text, 0), 0u) << c.what << ": " << r.text;
    EXPECT_TRUE(std::isfinite(r.sw)) << c.what;
  }
}

// One 5 S species (D 5.9e-7 cm^2/s) solved by the program's Lamm solver,
// without noise: diffusion spreads the boundary but leaves its second
// moment where the step would be.
TEST(SecondMoment, LammSolutionOfOneSpecies) {
  std::vector<double> times;
  for (int k = 1; k <= 10; ++k) times.push_back(600.0 * k);
  const SolvedScans set(5.0, 5.9e-7, times, 5.95, 1251, 6.01f, 7.19f);
  const std::vector<MomentScan> scans = set.Moments(101, 1051);  // 6.05 .. 7.0 cm
  const std::vector<int> order = set.Order();
  // Bounds of a step's analysis (s to 0.1 % by the differential form, s and
  // the loading to 1 % by the integral one); every kernel comes within
  // 2e-6 S and 1e-7 of the loading.
  const SecondMomentResult d = DifferentialSecondMomentSw(scans, order, 6.0f, 7.0f);
  ASSERT_TRUE(d.ok) << d.text;
  EXPECT_NEAR(d.sw, 5.0, 0.005) << d.text;
  const SecondMomentResult i = SecondMomentSw(scans, order, 6.0f, 7.0f);
  ASSERT_TRUE(i.ok) << i.text;
  EXPECT_NEAR(i.sw, 5.0, 0.05) << i.text;
  EXPECT_NEAR(i.c0, 1.0, 0.01);
}

}  // namespace

// The weight-average s by second moments does not depend on where the data
// begin: before the meniscus (air of any signal), at it, or a little after it.
TEST(SecondMoment, StartsAtTheMeniscusWhereverTheDataBegin) {
  // One 4.5 S species (D 6e-7 cm^2/s), 8 scans from 1000 s, 0.001 cm apart
  // from 5.90 cm.
  std::vector<double> times;
  for (int k = 1; k <= 8; ++k) times.push_back(500.0 * k + 500);
  const SolvedScans d(4.5, 6e-7, times, 5.9, 1301, 6.01f, 7.19f);
  // Reference: the second moment of each scan integrated from the meniscus
  // on the solver's radii, r_w^2 = rb^2 - 2 int_m^rb c r dr / c_plateau with
  // the plateau diluted from the known loading, s = ln(r_w/m) / (w^2 t).
  double reference = 0;
  for (int k = 1; k <= d.scans; ++k) {
    double I = 0;
    for (int j = 101; j < 1101; ++j)  // 6.0 .. 7.0 cm
      I += 0.5 * (d.out[k][j] + d.out[k][j + 1]) * 0.5 * (d.radii[j] + d.radii[j + 1]) * 0.001;
    const double x = 4.5e-13 * d.records[k].w2t;
    const double rw2 = 49.0 - 2 * I / std::exp(-2 * x);
    reference += std::log(std::sqrt(rw2) / 6.0) / d.records[k].w2t * 1e13 / d.scans;
  }
  EXPECT_NEAR(reference, 4.5, 0.03);
  const std::vector<int> order = d.Order();
  struct Case {
    const char* what;
    float from, air;
    bool limitsFromFirstPoint;
  };
  for (const Case& c : {Case{"0.03 cm before the meniscus", 5.97f, 0, true},
                        Case{"0.03 cm before, limits at 6.05", 5.97f, 0, false},
                        Case{"0.03 cm before, a meniscus spike", 5.97f, 1.5f, true},
                        Case{"at the meniscus", 6.0f, 0, true}, Case{"0.01 cm after it", 6.01f, 0, true},
                        Case{"0.002 cm after it", 6.002f, 0, false}}) {
    SCOPED_TRACE(c.what);
    // The scans from radius c.from on, with c.air before the meniscus.
    int j0 = 1;
    while (d.radii[j0] < c.from - 1e-5f) ++j0;
    const int firstIn = c.limitsFromFirstPoint ? 0 : static_cast<int>(std::lround((6.05 - c.from) / 0.001)) + 1;
    std::vector<std::vector<float>> keep(d.scans + 1);
    std::vector<MomentScan> scans;
    for (int k = 1; k <= d.scans; ++k) {
      keep[k].assign(d.out[k].begin() + (j0 - 1), d.out[k].end());
      for (int j = j0; j <= d.points; ++j)
        if (d.radii[j] < 6.0f) keep[k][j - j0 + 1] = c.air;
      scans.push_back(d.Moment(k, d.radii.data() + (j0 - 1), keep[k].data(), d.points - j0 + 1, firstIn,
                               1101 - j0 + 1));  // 7.0 cm
    }
    // Bounds with a margin of ten over the worst row on every kernel (data
    // starting 0.01 cm after the meniscus: 6e-4 S from the reference, 1e-3 S
    // from 4.5 S for the differential form).
    const SecondMomentResult r = SecondMomentSw(scans, order, 6.0f, 7.0f);
    ASSERT_TRUE(r.ok) << r.text;
    EXPECT_NEAR(r.sw, reference, 0.01) << r.text;
    EXPECT_NEAR(r.c0, 1.0, 0.003);
    const SecondMomentResult diff = DifferentialSecondMomentSw(scans, order, 6.0f, 7.0f);
    ASSERT_TRUE(diff.ok) << diff.text;
    EXPECT_NEAR(diff.sw, 4.5, 0.05) << diff.text;
  }
}

namespace {

// Twenty scans of one ideal 4.5 S species (D 6e-7 cm^2/s) from 1500 to
// 4350 s, solved on 3000 nodes and written every 0.001 cm from 5.97 cm;
// with `noise`, fixed Gaussian noise of that sd (Box-Muller over a fixed
// LCG).
struct FineScans : SolvedScans {
  explicit FineScans(double noise) : SolvedScans(4.5, 6e-7, Times(), 5.97, 1231, 6.0f, 7.2f, 3000) {
    unsigned seed = 12345u;
    auto uniform = [&seed] {
      seed = seed * 1103515245u + 12345u;
      return (((seed >> 8) & 0xFFFFu) + 0.5) / 65536.0;
    };
    for (int k = 1; k <= scans; ++k)
      for (int j = 1; j <= points; ++j) {
        const double g = std::sqrt(-2.0 * std::log(uniform())) * std::cos(2.0 * M_PI * uniform());
        out[k][j] = radii[j] < 6.0f ? 0.0f : static_cast<float>(out[k][j] + noise * g);
      }
  }
  static std::vector<double> Times() {
    std::vector<double> times;
    for (int k = 1; k <= 20; ++k) times.push_back(1500.0 + 150.0 * (k - 1));
    return times;
  }
};

}  // namespace

// The second-moment relation is exact for one ideal species: both forms
// give its s within 0.5 %, also when the last point inside the fit limits
// lies short of the limit (the integrals end there, and so must the
// moments).
TEST(SecondMoment, OneIdealSpeciesWhereverTheLastPointLies) {
  // The data themselves: each clean scan's second moment, integrated here
  // from the meniscus to 7.05 cm with the plateau diluted from loading 1,
  // gives back the s the scans were made with.
  const FineScans clean(0.0);
  for (int k = 1; k <= clean.scans; ++k) {
    double I = 0;
    for (int j = clean.Index(6.0); j < clean.Index(7.05); ++j)
      I += 0.5 * (clean.out[k][j] + clean.out[k][j + 1]) * 0.5 * (clean.radii[j] + clean.radii[j + 1]) * 0.001;
    const double w2t = clean.records[k].w2t;
    const double rw2 = 7.05 * 7.05 - 2 * I / std::exp(-2 * 4.5e-13 * w2t);
    EXPECT_NEAR(std::log(rw2 / 36.0) / (2 * w2t) * 1e13, 4.5, 4.5 * 1e-3) << k;
  }
  const FineScans noisy(0.002);
  const std::vector<int> order = clean.Order();
  for (const FineScans* d : {&clean, &noisy})
    for (double gap : {0.0, 0.01, 0.02, 0.03}) {
      SCOPED_TRACE(testing::Message() << "noise " << (d == &noisy) << ", last point " << gap << " cm short");
      const std::vector<MomentScan> scans = d->Moments(d->Index(6.02), d->Index(7.05 - gap));
      const SecondMomentResult i = SecondMomentSw(scans, order, 6.0f, 7.05f);
      ASSERT_TRUE(i.ok) << i.text;
      EXPECT_NEAR(i.sw, 4.5, 4.5 * 0.005) << i.text;
      EXPECT_NEAR(i.c0, 1.0, 0.002);
      const SecondMomentResult diff = DifferentialSecondMomentSw(scans, order, 6.0f, 7.05f);
      ASSERT_TRUE(diff.ok) << diff.text;
      EXPECT_NEAR(diff.sw, 4.5, 4.5 * 0.005) << diff.text;
    }
}
