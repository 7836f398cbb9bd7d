// The concentration-dependent path of CLammIdeal against the independent
// ideal reference solutions (in the limit of vanishing association and
// nonideality), the steady state of a nonideal species, conservation of mass
// and the refusals of bad settings.
#include <gtest/gtest.h>

#include <cmath>

#include "lamm/coefficients/nonideal_coefficients.h"
#include "lamm/lamm_conc_dependent.h"
#include "lamm_test_support.h"

using namespace lammtest;

namespace {

// Largest deviation from a reference over [from, to] and all its times, with
// the solver made concentration-dependent by `model`.
double ConcDependentReferenceError(const std::string& file, const ConcDependentModel& model,
                                   double from, double to, double maxDc) {
  const Reference R = LoadReference(file);
  EXPECT_FALSE(R.times.empty());
  Experiment e = ExperimentFor(R, from, to);
  auto L = MakeSolver(e, FixedGrid(1000, maxDc));
  L->SetConcDependentModel(model);
  EXPECT_EQ(L->CheckAndRun(), 0);
  double worst = 0;
  for (size_t k = 0; k < R.times.size(); ++k)
    for (size_t j = 0; j < R.r.size(); ++j)
      if (R.r[j] >= from && R.r[j] <= to) worst = std::max(worst, std::fabs(e.out[k + 1][j + 1] - R.c[j][k]));
  return worst;
}

ConcDependentModel Linear(float logKs, float logKd, float scheme = 2) {
  ConcDependentModel m;
  m.singleNonideal = true;
  m.nonideality = true;
  m.a = logKs;
  m.b = logKd;
  m.scheme = scheme;
  return m;
}

// Monomer 4.3 S and 6e-7 cm^2/s, dimer 6.5 S and 4.8e-7 cm^2/s, log10 K.
ConcDependentModel Dimer(double logK) {
  ConcDependentModel m;
  m.dimer = true;
  m.logK = logK;
  m.s1 = 4.3f;
  m.s2 = 6.5f;
  m.D1 = 6e-7f;
  m.D2 = 4.8e-7f;
  return m;
}

}  // namespace

TEST(LammConcDependent, VanishingInteractionsReproduceTheIdealReferences) {
  struct Case {
    const char* what;
    const char* file;
    ConcDependentModel model;
    double from, to;
  };
  ConcDependentModel dimer = Dimer(-10);
  dimer.nonideality = true;
  dimer.a = dimer.b = -10;
  ConcDependentModel trimer = dimer;
  trimer.dimer = false;
  trimer.trimer = true;
  ConcDependentModel table = dimer;
  table.dimer = false;
  table.dimerTetramer = true;
  table.logK2 = table.logK3 = -10;
  table.s3 = 9;
  table.D3 = 3e-7f;
  ConcDependentModel hard = Linear(1e-10f, 1, 3);
  hard.hardSphere = true;
  const Case cases[] = {
      {"linear ks, kd", "static-4.3S.txt", Linear(-10, -10), 6.0, 7.1},
      {"monomer-dimer", "static-4.3S.txt", dimer, 6.0, 7.1},
      {"monomer-trimer", "static-4.3S.txt", trimer, 6.0, 7.1},
      {"dimer-tetramer table", "static-4.3S.txt", table, 6.0, 7.1},
      {"hard spheres, mean concentration", "static-4.3S.txt", hard, 6.0, 7.1},
      {"predictor only", "static-4.3S.txt", Linear(-10, -10, 1), 6.0, 7.1},
      // A floating species with the flotation sign: the steps stay
      // Crank-Nicolson, so the clock and the solution advance together.
      {"flotation", "flotation-minus2S.txt", Linear(-10, -10, -1), 6.05, 7.2},
  };
  // The program's default step control (max dc/c 1). Bound 2e-3 of the
  // loading; measured 1.6e-4 on every row but flotation (3.5e-4), the same
  // under every kernel.
  for (const Case& c : cases)
    EXPECT_LT(ConcDependentReferenceError(c.file, c.model, c.from, c.to, 1.0), 2e-3) << c.what;
}

// Steady state of s = s0 (1 - ks c), D = D0 (1 + kd c): zero flux gives
// ln c - (1 + kd/ks) ln(1 - ks c) = sigma (r^2 - m^2)/2 + C, C from the
// amount loaded (solved independently).
TEST(LammConcDependent, NonidealSpeciesReachesItsSedimentationEquilibrium) {
  Experiment e{.s = 1.0, .D = 1e-6, .c0 = 10, .meniscus = 6.8, .bottom = 7.2, .left = 6.8f, .right = 7.2f,
               .rpm = 10000, .times = {500000, 800000, 1000000, 2000000}, .gridPoints = 401};
  auto L = BuiltSolver(e, FixedGrid(400, 0.1));
  L->SetConcDependentModel(Linear(std::log10(0.05f), std::log10(0.02f)));
  ASSERT_EQ(L->CheckAndRun(), 0);
  const auto& out = e.out[3];
  // Bound 2e-3 against the closed form; measured 1.6e-4 at the ends on 400
  // nodes, and the other scans differ from this one by 8.4e-5 at most.
  EXPECT_NEAR(out[1], 9.35889, 2e-3);
  EXPECT_NEAR(out[201], 9.99200, 2e-3);
  EXPECT_NEAR(out[401], 10.63659, 2e-3);
  for (int j = 1; j <= 401; j += 40) EXPECT_NEAR(e.out[2][j], out[j], 2e-3);
  // And it stays there (a scan long after: simulated or the final profile).
  for (int j = 1; j <= 401; j += 40) EXPECT_NEAR(e.out[4][j], out[j], 2e-3);
}

// The closed cell keeps its loading, whatever the interactions. A kd c far
// beyond any sample diffuses faster than the cell can hold a gradient: the
// profile is flat at the loading, as with infinitely fast diffusion (before,
// kd c 1e12 lost 2.5 % of the loading, 1e14 ended at 14 % and 1e20 failed).
TEST(LammConcDependent, ClosedCellKeepsItsLoading) {
  struct Case {
    const char* what;
    ConcDependentModel model;
    double c0;
    bool flat;  // at the loading within 1e-4 of it
  };
  const float ks = std::log10(0.1f / 7);
  const Case cases[] = {
      {"monomer-dimer", Dimer(0.5), 1, false},
      {"kd c 1e12", Linear(ks, std::log10(1e12f / 7)), 7, true},
      {"kd c 1e20", Linear(ks, std::log10(1e20f / 7)), 7, true},
      {"kd c 1e30", Linear(ks, std::log10(1e30f / 7)), 7, true},
      {"kd beyond the float range", Linear(ks, 300), 7, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Experiment e{.c0 = c.c0, .right = 7.2f, .times = {1500, 3000}};
    auto L = BuiltSolver(e, FixedGrid(600, 0.05));
    L->SetConcDependentModel(c.model);
    ASSERT_EQ(L->CheckAndRun(), 0);
    const double loaded = e.c0 * (e.bottom * e.bottom - e.meniscus * e.meniscus) / 2 * 1.2 * 0.03490658503988659;
    // Measured 3.8e-15 (dimer), 2.7e-7 at the flat rows.
    EXPECT_NEAR(L->CellContent() / loaded, 1.0, 1e-5);
    if (c.flat) {
      for (int k = 1; k <= 2; ++k)
        for (size_t j = 1; j < e.grid.size(); j += 50) EXPECT_NEAR(e.out[k][j] / c.c0, 1.0, 1e-4) << k << " " << j;
    }
  }
  // The components' model, whose bottom is open: what reaches it leaves. At
  // kd c 1e30 it equals its solution at kd c 1e6 (flat within 1.2e-4) on 4000
  // nodes; measured 8.1e-5 of the loading.
  auto components = [](float logKd, int nodes) {
    Experiment e{.s = 4, .D = 5.5e-7, .c0 = 7, .meniscus = 5.9, .times = {1200, 3600, 6600}};
    auto L = BuiltSolver(e, FixedGrid(nodes));
    const double conc[] = {0, 4, 3}, s[] = {0, 4, 9}, D[] = {0, 5.5e-7, 4e-7}, w[] = {0, 1, 1}, overlay[] = {0, 0, 0};
    L->SetSolventComponents({.model = true, .concDependentSolver = true, .tableModel = true, .count = 2,
                             .concentrations = conc, .sValues = s, .dValues = D, .weights = w, .s = s[1],
                             .D = D[1], .c0 = 7, .overlayFractions = overlay});
    L->SetConcDependentModel(Linear(std::log10(0.1f / 7), logKd));
    EXPECT_EQ(L->CheckAndRun(), 0);
    return e.out;
  };
  const auto fine = components(std::log10(1e6f / 7), 4000), huge = components(std::log10(1e30f / 7), 1000);
  double worst = 0;
  for (size_t k = 1; k < fine.size(); ++k)
    for (size_t j = 1; j < fine[k].size(); ++j) worst = std::max(worst, std::fabs(double(huge[k][j]) - fine[k][j]));
  EXPECT_LT(worst / 7, 2e-4);
  // Association speeds the boundary up: behind the monomer's boundary
  // midpoint less material is left than an ideal monomer leaves.
  Experiment e{.right = 7.2f, .times = {1500, 3000}};
  auto L = BuiltSolver(e, FixedGrid(600, 0.05));
  L->SetConcDependentModel(Dimer(0.5));
  ASSERT_EQ(L->CheckAndRun(), 0);
  Experiment monomer = e;
  auto ideal = BuiltSolver(monomer, FixedGrid(600, 0.05));
  ASSERT_EQ(ideal->CheckAndRun(), 0);
  const int j = 100;  // r = 6.2 cm, the monomer boundary at 3000 s
  EXPECT_LT(e.out[2][j], monomer.out[2][j] - 0.05f) << monomer.out[2][j];
}

// At the default settings (max dc/c 1 on the default grid) the path meets
// 1e-3 of the loading against its own solution on 3000 nodes with steps of
// dc/c 0.02.
TEST(LammConcDependent, DefaultStepsMeetOneThousandthOfTheLoading) {
  struct Case {
    const char* name;
    ConcDependentModel model;
    double s, c0;
  };
  for (const Case& c : {Case{"nonideal single species", Linear(std::log10(0.02f), std::log10(0.01f)), 5, 10},
                        Case{"monomer-dimer", Dimer(0), 4.3, 2}}) {
    SCOPED_TRACE(c.name);
    auto solve = [&](const LammSolverSettings& st) {
      Experiment e{.s = c.s, .D = 6e-7, .c0 = c.c0};
      e.times.clear();
      for (int k = 1; k <= 15; ++k) e.times.push_back(600.0 * k);
      e.gridPoints = 501;  // 6.0 .. 7.0 cm
      e.gridTo = 7.0;
      auto L = BuiltSolver(e, st);
      L->SetConcDependentModel(c.model);
      EXPECT_EQ(L->CheckAndRun(), 0);
      return e.out;
    };
    LammSolverSettings reference = FixedGrid(3000, 0.02);
    reference.shutOffBackDiffusion = LammSolverSettings{}.shutOffBackDiffusion;  // the same bottom
    const auto fine = solve(reference);
    const auto standard = solve(LammSolverSettings{});
    double worst = 0;
    for (size_t k = 1; k < fine.size(); ++k)
      for (size_t j = 1; j < fine[k].size(); ++j) worst = std::max(worst, std::fabs(double(standard[k][j]) - fine[k][j]));
    EXPECT_LT(worst / c.c0, 1e-3);  // measured 1.3e-4 (single species), 2.6e-4 (dimer)
  }
}

TEST(LammConcDependent, BadSettingsAreRefusedWithTheirCodes) {
  struct Case {
    const char* what;
    ConcDependentModel model;
    bool sticky;
    int code;
  };
  ConcDependentModel stickyNoTau = Linear(1, 0);
  stickyNoTau.hardSphere = true;
  ConcDependentModel attractiveKd = Linear(-10, -0.5);  // kd = -0.32: 1 + kd c < 0 at c = 4
  attractiveKd.signB = false;
  const Case cases[] = {
      {"scheme 0 would freeze the profile", Linear(-1, -1, 0), false, 4},
      {"scheme 4", Linear(-1, -1, 4), false, 4},
      {"sticky spheres without stickiness", stickyNoTau, true, 7},
      {"diffusion coefficient driven negative", attractiveKd, false, 7},
      {"ks c above 1 at the meniscus", Linear(0, -1), false, 7},
      {"no diffusion", Linear(-1, -1), false, 6},
  };
  for (const Case& c : cases) {
    Experiment e{.c0 = 4, .times = {600}};
    if (c.code == 6) e.D = 0;
    e.Build();
    StickyHardSphereFlag = c.sticky ? 1 : 0;
    auto L = MakeSolver(e, FixedGrid(200, 0.1));
    L->SetConcDependentModel(c.model);
    EXPECT_EQ(L->CheckAndRun(), c.code) << c.what;
    StickyHardSphereFlag = 0;
  }
}

// Components that share a vanishing nonideality sediment independently: the
// weighted sum of two ideal runs on the static grid, each from its own
// start: the uniform loading, or under a synthetic boundary the overlay of
// its own fraction above the boundary and its loading below (the ideal run
// starts from that step as a measured initial distribution).
TEST(LammConcDependent, WeakNonidealityOfComponentsGivesTheSumOfIdealSpecies) {
  const double conc[] = {0, 0.6, 0.4}, s[] = {0, 4.3, 8.0}, D[] = {0, 6e-7, 4.5e-7}, w[] = {0, 1, 2};
  struct Case {
    const char* what;
    bool synthetic;
    double position;
    double overlay[3];
  };
  const Case cases[] = {
      {"uniform loading", false, 0, {0, 1, 1}},
      {"synthetic boundary, buffer over the solution", true, 6.3, {0, 0, 0}},
      {"synthetic boundary, overlays of their own", true, 6.45, {0, 0.2, 0.7}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Experiment e{.right = 6.9f};
    auto L = BuiltSolver(e, FixedGrid(1000));
    L->SetSolventComponents({.model = true, .concDependentSolver = true, .tableModel = true, .count = 2,
                             .concentrations = conc, .sValues = s, .dValues = D, .weights = w,
                             .s = s[1], .D = D[1], .c0 = 1.0, .syntheticBoundary = c.synthetic,
                             .boundaryPosition = c.position, .overlayFractions = c.overlay});
    L->SetConcDependentModel(Linear(-10, -10));
    ASSERT_EQ(L->CheckAndRun(), 0);
    std::vector<float> sum(e.grid.size() * 4, 0.0f);
    for (int k = 1; k <= 2; ++k) {
      Experiment one = e;
      one.s = s[k];
      one.D = D[k];
      one.c0 = conc[k] * w[k];
      auto ideal = BuiltSolver(one, FixedGrid(1000));
      if (c.synthetic) {
        // The step on a fine table: its edge 1e-4 cm wide.
        std::vector<float> r(2001), v(2001);
        for (int j = 1; j <= 2000; ++j) {
          r[j] = static_cast<float>(one.meniscus + (one.bottom - one.meniscus) * (j - 1) / 1999.0);
          v[j] = static_cast<float>(one.c0 * (r[j] < c.position ? c.overlay[k] : 1.0));
        }
        ASSERT_TRUE(ideal->LoadInitialDistribution(2000, r.data(), v.data()));
      }
      ASSERT_EQ(ideal->CheckAndRun(), 0);
      for (int t = 1; t <= 3; ++t)
        for (size_t j = 1; j < e.grid.size(); ++j) sum[t * e.grid.size() + j] += one.out[t][j];
    }
    double worst = 0;
    for (int t = 1; t <= 3; ++t)
      for (size_t j = 1; j < e.grid.size(); ++j)
        if (e.grid[j] <= 6.9f) worst = std::max(worst, std::fabs(double(e.out[t][j]) - sum[t * e.grid.size() + j]));
    // Bound 2e-3 of the loading; measured 2.7e-4 uniform, 4.2e-4 and 3.3e-4
    // layered, the same under every kernel.
    EXPECT_LT(worst, 2e-3);
    // Under a buffer overlay nothing is left far above the boundary.
    if (c.synthetic && c.overlay[1] == 0 && c.overlay[2] == 0) {
      for (size_t j = 1; j < e.grid.size() && e.grid[j] < c.position - 0.15; ++j)
        EXPECT_LT(std::fabs(e.out[1][j]), 1e-3) << e.grid[j];
    }
  }
}

// The step-length rules with the default weight 1 and growth factor 2:
// straight at 0.2 tol, at most 10 times longer and dtmax, at least a tenth.
TEST(ConcStepControl, StepsAimAtTheTargetWithinTheirBounds) {
  struct Case {
    const char* what;
    bool grow;
    double err, dt, next;
  };
  const Case cases[] = {
      {"no change at all keeps the length", true, 0, 10, 10},
      {"small change grows at most tenfold", true, 0.01, 10, 100},
      {"moderate change grows to the target", true, 0.03, 10, 0.2 / 0.03 * 10},
      {"change above the growth band keeps the length", true, 0.1, 10, 10},
      {"never beyond dtmax", true, 0.001, 500, 1000},
      {"a rejected step aims at the target", false, 2, 10, 1},
      {"but shrinks at most tenfold", false, 20, 10, 1},
      {"an aim close to the old length halves it", false, 0.25, 10, 4},
  };
  for (const Case& c : cases) {
    ConcStepControl ctl;
    ctl.Start(1.0, 0.05, 0.2, 2.0, 1.0);
    EXPECT_NEAR(c.grow ? ctl.Grow(c.err, c.dt) : ctl.Shrink(c.err, c.dt), c.next, 1e-9) << c.what;
  }
  ConcStepControl ctl;
  ctl.Start(1.0, 0.05, 0.2, 2.0, 1.0);
  EXPECT_GT(ctl.Undershoot(), 0.5);  // rejects the step under the halved tolerance
  EXPECT_EQ(ctl.tol, 0.5);
  EXPECT_EQ(ctl.forced, 1);
  double dt = 1e-14;
  for (int i = 0; i < 12; ++i) dt = ctl.Shrink(1e6, dt);
  EXPECT_GT(ctl.forced, 10);  // at the floor every try counts towards the step failure
}
