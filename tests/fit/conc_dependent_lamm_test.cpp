// The concentration-dependent Lamm solvers of the model evaluation on the
// global arrays: sedimentation equilibria against their closed forms, the
// limits of the association constant against the ideal solutions, the
// static twin against the moving frame, and the refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "fit/conc_dependent_coefficients.h"
#include "fit/conc_dependent_lamm.h"
#include "fit/lamm_grid.h"
#include "fit/lamm_run_state.h"
#include "fit/model_selector.h"
#include "fit/nonideal_moving_frame.h"
#include "fit/species_simulation.h"
#include "fit_test_support.h"
#include "lamm/lamm_settings.h"

namespace {

// Scans at the given times (constant speed) on n radii from m to b.
void LoadTimes(const std::vector<double>& times, double rpm, double m, double b, int n) {
  std::vector<std::vector<float>> x(times.size()), y(times.size());
  for (auto& v : x)
    for (int i = 0; i < n; ++i) v.push_back(static_cast<float>(m + (b - m) * i / (n - 1)));
  for (std::size_t j = 0; j < times.size(); ++j) y[j].assign(n, 0.0f);
  fittest::LoadScans(x, y);
  ScanSet& ss = CurrentScanSet();
  for (int j = 1; j <= ss.count; ++j) {
    ss.records[j].rpm = static_cast<float>(rpm);
    ss.records[j].temperature = 20;
    ss.records[j].time = ss.records[j].timeRead = times[j - 1];
  }
  gModelParams.meniscus = static_cast<float>(m);
  gModelParams.bottom = static_cast<float>(b);
}

// Runs the species record from a uniform loading c0 with the moving frame
// or the static twin on N nodes.
int Solve(bool movingFrame, int N, double c0, double rpm) {
  LammSolverSettings& st = LammSettings();
  st.automaticAlgorithm = 0;
  st.claverieAlgorithm = movingFrame ? 0 : 1;
  st.movingHatAlgorithm = movingFrame ? 1 : 0;
  st.gridSizeInUse = st.feGridSize = N;
  gModelSelectorFlags.NonidealSingleSpeciesModel = 1;
  LammRunState& rs = CurrentLammRunState();
  rs = LammRunState{};
  rs.sStar = 1;
  FreeLammArrays();
  EXPECT_TRUE(AllocLammArrays());
  LammGrid& g = CurrentLammGrid();
  for (int i = 1; i <= g.AllocatedGridSize; ++i) g.Concentration[i] = c0;
  SetAccelerationPhase();
  rs.rpm = rs.fullSpeed = rpm;
  SetLammSolverStartState(nullptr, false);
  return movingFrame ? SimulateNonidealMovingFrameLamm() : SimulateConcDependentLamm();
}

// Model value of the last scan at radius r (the scan radii hold it exactly).
double LastAt(double r) {
  const ScanSet& ss = CurrentScanSet();
  const int j = ss.order[ss.count];
  int best = 1;
  for (int p = 1; p <= ss.points[j]; ++p)
    if (std::fabs(ss.radii[j][p] - r) < std::fabs(ss.radii[j][best] - r)) best = p;
  return ss.model[j][best];
}

class ConcDependentLamm : public ::testing::Test {
 protected:
  void SetUp() override {
    fittest::ResetFitState();
    LammSettings() = LammSolverSettings{};
    CurrentConcDependentSpecies() = ConcDependentSpecies{};
  }
  void TearDown() override {
    FreeLammArrays();
    fittest::ClearScans();
    fittest::ResetFitState();
    gModelSelectorFlags = ModelSelectorFlags{};
    LammSettings() = LammSolverSettings{};
    CurrentLammRunState() = LammRunState{};
    CurrentConcDependentSpecies() = ConcDependentSpecies{};
  }
};

TEST_F(ConcDependentLamm, SedimentationEquilibriaMatchTheirClosedForms) {
  using Kind = ConcDependentSpecies::Kind;
  struct Case {
    const char* name;
    Kind kind;
    double s2, D2, logK, ks, kd, c0;
    double cm, c7, cb;  // c(m), c(7.0), c(b) at equilibrium
  };
  const Case cases[] = {
      {"ideal", Kind::Nonideal, 0, 0, 0, 0, 0, 10, 8.54317, 9.93900, 11.61372},
      {"nonideal", Kind::Nonideal, 0, 0, 0, 0.05, 0.02, 10, 9.15983, 9.98176, 10.86442},
      {"dimer", Kind::Dimer, 1.6, 0.8e-6, -1, 0, 0, 5, 4.09644, 4.95099, 6.04495},
      {"trimer", Kind::Trimer, 2.1, 0.7e-6, -1, 0, 0, 5, 3.72882, 4.89261, 6.62364},
  };
  for (const Case& c : cases) {
    for (const bool moving : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (moving ? " moving frame" : " static twin"));
      LoadTimes({5e5, 1e6}, 10000, 6.8, 7.2, 401);
      ConcDependentSpecies& sp = CurrentConcDependentSpecies();
      sp.kind = c.kind;
      sp.s1 = 1;
      sp.D1 = 1e-6;
      sp.s2 = c.s2;
      sp.D2 = c.D2;
      sp.logK = static_cast<float>(c.logK);
      sp.logKs = c.ks > 0 ? static_cast<float>(std::log10(c.ks)) : -30.0f;
      sp.logKd = c.kd > 0 ? static_cast<float>(std::log10(c.kd)) : -30.0f;
      EXPECT_EQ(Solve(moving, moving ? 200 : 400, c.c0, 10000), 0);
      EXPECT_EQ(LammSettings().singularMatrixError, 0);
      EXPECT_EQ(LammSettings().nonidealityOutOfRange, 0);
      EXPECT_NEAR(LastAt(6.8), c.cm, 5e-4 * c.cm);
      EXPECT_NEAR(LastAt(7.0), c.c7, 5e-4 * c.c7);
      EXPECT_NEAR(LastAt(7.2), c.cb, 5e-4 * c.cb);
      fittest::ClearScans();
    }
  }
}

}  // namespace
