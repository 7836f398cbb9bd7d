// The c(s) kernels in an inhomogeneous solvent: the list's solver objects
// get the solvent model and scale the species' 20 degC water values to the
// buffer once.
#include <gtest/gtest.h>

#include <cmath>

#include "distributions/conti_lamm_list.h"
#include "fit/solvent_gradient.h"
#include "platform/scripted_ui.h"
#include "run_test_support.h"

using namespace runtest;

namespace {

// The kernel of species 1 (every scan, every grid point) for s and D.
std::vector<float> Kernel(double s, double D) {
  const double sList[2] = {0, s}, dList[2] = {0, D}, vbarList[2] = {0, 0.73};
  RunSVContiSedList(1, sList, dList, vbarList);
  EXPECT_EQ(LammSettings().listError, 0);
  const ScanSet& sc = CurrentScanSet();
  std::vector<float> k;
  for (int j = 1; j <= sc.count; ++j)
    for (int i = sc.firstGridPoint; i <= sc.lastGridPoint; ++i) k.push_back(WorkBlock().lammSolutions[1][j][i]);
  return k;
}

}  // namespace

TEST(ContiSolvent, UniformBufferKernelIsTheBufferSpeciesOnce) {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  Experiment run(6, 200);
  SetGrid(1.0f, 10.0f, 10);
  ASSERT_TRUE(SetupContiGrid());
  const std::vector<float> plain = Kernel(4.3, 6e-7);
  // A buffer of density 1.05 and 1.097804 x the viscosity of water:
  // e 0.910909 x q 0.860696 x s20,w = 4.3 S.
  SolventGradientSettings& sg = CurrentSolventGradientSettings();
  sg = SolventGradientSettings{};
  sg.UseInhomogeneousSolvent = true;
  sg.Compressibility = 0;
  sg.BufferDensity1atm = 1.05f;
  sg.BufferViscosity1atm = 0.0011f;
  sg.ViscosityRatio = sg.BufferViscosity1atm / kWaterViscosity20C;
  const double e = 1 / 1.097804, q = 0.860696;
  const std::vector<float> buffer = Kernel(4.3 / (e * q), 6e-7 / e);
  // Compressed, the same buffer slows the boundary down towards the bottom.
  sg.Compressibility = 4.591e-4;
  const std::vector<float> compressed = Kernel(4.3 / (e * q), 6e-7 / e);
  sg = SolventGradientSettings{};
  ASSERT_EQ(plain.size(), buffer.size());
  double worst = 0, change = 0;
  for (size_t i = 0; i < plain.size(); ++i) {
    worst = std::max(worst, static_cast<double>(std::fabs(buffer[i] - plain[i])));
    change = std::max(change, static_cast<double>(std::fabs(compressed[i] - buffer[i])));
  }
  EXPECT_LT(worst, 1e-3);
  EXPECT_GT(change, 3e-3);
  EXPECT_TRUE(ui.failures.empty());
}
