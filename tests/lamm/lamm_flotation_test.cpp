// Floating species of slow diffusion on the static grid: the bottom
// depletes, the plateau concentrates as exp(-2 s w^2 t) (s < 0), the pile
// at the meniscus holds the rest of the loading, at every rotor speed.
#include <gtest/gtest.h>

#include <cmath>

#include "lamm_test_support.h"

using namespace lammtest;

namespace {

constexpr double kSector = 1.2 * 0.03490658503988659;

LammSolverSettings StaticGridWithoutTruncation() {
  LammSolverSettings st;
  st.automaticAlgorithm = 0;
  st.claverieAlgorithm = 1;
  st.movingHatAlgorithm = 0;
  st.truncateGrid = 0;
  return st;
}

}  // namespace

TEST(LammFlotation, SlowFloatingSpeciesOnTheStaticGridAtEverySpeed) {
  struct Species {
    double s, D;
  };
  for (const Species sp : {Species{-10, 1e-8}, Species{-7, 1e-8}, Species{-5, 1e-8}, Species{-10, 3e-8}}) {
    for (const double rpm : {10000.0, 30000.0, 50000.0, 60000.0}) {
      for (const LammSolverSettings& st : {StaticGridWithoutTruncation(), FixedGrid(2000)}) {
        SCOPED_TRACE(testing::Message() << "s " << sp.s << " D " << sp.D << " rpm " << rpm << " N "
                                        << st.gridSize.setting);
        Experiment e;
        e.s = sp.s;
        e.D = sp.D;
        e.rpm = rpm;
        e.times = {600, 1800, 3600};
        e.Build();
        auto L = MakeSolver(e, st);
        ASSERT_EQ(L->CheckAndRun(), 0);
        const double loaded = (e.bottom * e.bottom - e.meniscus * e.meniscus) / 2;
        for (int k = 1; k <= 3; ++k) {
          const double x = e.s * 1e-13 * e.W2t(e.times[k - 1]);  // < 0
          const double boundary = e.bottom * std::exp(x), plateau = std::exp(-2 * x);
          const double spread = 6 * std::sqrt(2 * e.D * e.times[k - 1]) + 0.01;
          for (size_t j = 1; j < e.grid.size(); ++j) {
            const double r = e.grid[j];
            if (r < e.left || std::fabs(r - boundary) < spread) continue;
            ASSERT_NEAR(e.out[k][j], r < boundary ? plateau : 0.0, 2e-3) << "scan " << k << " r " << r;
          }
        }
        // Outside the pile the closed form holds this much of the loading;
        // the pile holds the rest, whether the grid keeps it or it leaves
        // through the meniscus.
        const double x = e.s * 1e-13 * e.W2t(3600);
        const double outsidePile =
            (e.bottom * e.bottom - e.meniscus * e.meniscus * std::exp(-2 * x)) / 2 / loaded;
        const double content = L->CellContent() / kSector / loaded;
        if (std::fabs(content - 1) > 1e-9) {
          EXPECT_NEAR(content, outsidePile, 2e-3);
        }
        EXPECT_LE(content, 1 + 1e-9);
      }
    }
  }
}

// A species the static grid cannot carry on a fixed grid (a sharp
// sedimenting boundary without outflow at the bottom) is handed to the
// moving frame on a grid of the same size; whatever the outcome, success
// means finite scans that hold the loading.
TEST(LammFlotation, FallbackAfterACollapsedStaticGridKeepsTheGrid) {
  Experiment e;
  e.s = 10;
  e.D = 1e-8;
  e.times = {600, 1800, 3600};
  e.Build();
  auto L = MakeSolver(e, FixedGrid(1000));
  const int rc = L->CheckAndRun();
  if (rc != 0) return;
  EXPECT_GE(L->NodeCount(), 1000);
  const double loaded = (e.bottom * e.bottom - e.meniscus * e.meniscus) / 2 * kSector;
  EXPECT_NEAR(L->CellContent() / loaded, 1.0, 0.05);
  for (int k = 1; k <= 3; ++k)
    for (size_t j = 1; j < e.grid.size(); ++j) ASSERT_TRUE(std::isfinite(e.out[k][j]));
}
