// A discrete species without diffusion in the model evaluation (the
// per-species branch), with the program's own start-up connections: its
// curve is the sharp-boundary profile with the detector's scan time and
// radial resolution, and in a compressed solvent it follows the density
// gradient. The expected profiles are built here from the physics: the
// boundary m exp(s w^2 t'), the plateau exp(-2 s w^2 t'), a transmittance
// window average, and the characteristics of sedimentation in a solvent
// whose density rises with the centrifugal pressure.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "distributions/conti_startup.h"
#include "fit/lamm_grid.h"
#include "lamm/lamm_run_state.h"
#include "fit/model_evaluation.h"
#include "fit/solvent_gradient.h"
#include "lamm/lamm_settings.h"
#include "tests/fit/fit_test_support.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kRpm = 50000;
constexpr float kAmplitude = 0.8f;
constexpr float kS = 6.0f;
const double kW2 = std::pow(kRpm * 2 * kPi / 60, 2);

using Host = fittest::ModelHost;

class SpeciesSharpBoundary : public fittest::FitStateTest {
 protected:
  void SetUp() override {
    FitStateTest::SetUp();
    savedHooks_ = CurrentModelEvaluationHooks();
    savedSolvent_ = CurrentSolventGradientSettings();
    fittest::FixedGrid(true, 400);
    ConnectContinuousDistributions();
    // The buffer slot sends the discrete model down the per-species branch.
    CurrentModelEvaluationHooks().bufferSedimentationOn = [] { return true; };
    LoadScans();
    ModelParams& mp = gModelParams;
    gFitEngineState.molarMassParameters = 0;
    gModelSelectorFlags.LammDiscreteModel = 1;
    mp.componentCount = 3;  // slot 3 is the buffer
    mp.included[1] = 1;
    mp.concentration[1] = kAmplitude;
    mp.s[1] = kS;
    mp.massOrD[1] = 0;
    PackModelParameters();
  }
  void TearDown() override {
    FitStateTest::TearDown();
    CurrentModelEvaluationHooks() = savedHooks_;
    CurrentSolventGradientSettings() = savedSolvent_;
  }
  // Three scans at 50000 rpm, 1200, 2400 and 3600 s, radii 6.0 .. 7.15 cm.
  static void LoadScans() {
    std::vector<float> radii;
    for (int i = 0; i < 300; ++i) radii.push_back(6.0f + 1.15f * i / 299);
    fittest::LoadScansAtTimes({1200, 2400, 3600}, kRpm, radii);
  }
  static double Time(int j) { return 1200.0 * j; }

  ModelEvaluationHooks savedHooks_;
  SolventGradientSettings savedSolvent_;
};

// Mean in transmittance over the points within half the width on either side.
std::vector<double> WindowAverage(const float* r, const std::vector<double>& y, int n, double width) {
  std::vector<double> out(static_cast<size_t>(n) + 1);
  for (int i = 1; i <= n; ++i) {
    double sum = 0;
    int count = 0;
    for (int j = 1; j <= n; ++j)
      if (std::fabs(static_cast<double>(r[j]) - r[i]) <= width / 2) sum += std::pow(10.0, -y[j]), ++count;
    out[i] = -std::log10(sum / count);
  }
  return out;
}

TEST_F(SpeciesSharpBoundary, ScanTimeAndRadialResolutionShapeTheBoundary) {
  struct Case {
    const char* name;
    bool timeResolution, radialResolution;
  };
  const Case cases[] = {{"plain", false, false},
                        {"scan time", true, false},
                        {"scan time and radial window", true, true}};
  const double m = 6.0, v = 2.43 / 60, width = 0.008, k = kS * 1e-13 * kW2;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LammSolverSettings& st = LammSettings();
    st.simulateTimeResolution = c.timeResolution;
    st.scanVelocity = 2.43f;
    st.simulateRadialResolution = c.radialResolution;
    st.convolutionRange = static_cast<float>(width);
    CurrentDataTypeFlags().absorbance = 1;
    Host host;
    SimulateModel(&host);
    ASSERT_TRUE(host.boxes.empty()) << host.boxes[0];
    const ScanSet& ss = CurrentScanSet();
    for (int j = 1; j <= ss.count; ++j) {
      const double t = Time(j);
      // The scanner reaches the boundary later than the scan's time stamp,
      // and every radius beyond it later still.
      const double dt = c.timeResolution ? (m * std::exp(k * t) - m) / v : 0.0;
      const double boundary = m * std::exp(k * (t + dt));
      const double plateau = kAmplitude * std::exp(-2 * k * (t + dt));
      const int n = ss.points[j];
      std::vector<double> expected(static_cast<size_t>(n) + 1);
      for (int p = 1; p <= n; ++p) {
        const double r = ss.radii[j][p];
        const double tilt = c.timeResolution ? std::exp(-2 * k * (r - m) / v) : 1.0;
        expected[p] = r >= boundary ? plateau * tilt : 0.0;
      }
      if (c.radialResolution) expected = WindowAverage(ss.radii[j], expected, n, width);
      int steps = 0;
      for (int p = 1; p <= n; ++p) {
        const double r = ss.radii[j][p];
        if (!c.radialResolution && std::fabs(r - boundary) < 1e-5) continue;
        ASSERT_NEAR(ss.model[j][p], expected[p], 2e-6) << j << " r=" << r;
        if (ss.model[j][p] > 0.01f && ss.model[j][p] < plateau - 0.01) ++steps;
      }
      // The window turns the step into a ramp two points wide.
      if (c.radialResolution) { EXPECT_GE(steps, 1) << j; }
      else EXPECT_EQ(steps, 0) << j;
    }
  }
}

// Sedimentation in the compressed buffer: the density rises with radius,
//   rho(r) = rho0 + rho0^2 kappa w^2 (r^2 - m^2) / 2   (SI units),
// so the buoyancy and with it the local s fall toward the bottom. The
// boundary leaves the meniscus along dr/dt = u(r) with
//   u(r) = w^2 r s20w / eta_rel (1 - vbar rho(r)) / (1 - vbar rho_w),
// and the concentration on a characteristic falls as dc/dt = -c (1/r) d(r u)/dr.
struct CompressedSolvent {
  double rho0 = 0.99823, eta = 1.0, kappa = 5e-3, vbar = 0.73, s = kS, m = 6.0;
  // Density in g/ml at r (cm).
  double Density(double r) const {
    const double beta = rho0 * rho0 * 1000 * kappa * 1e-6 * kW2 / 2 * 1e-4;  // g/ml per cm^2
    return rho0 + beta * (r * r - m * m);
  }
  double Speed(double r) const {
    return kW2 * r * s * 1e-13 / eta * (1 - vbar * Density(r)) / (1 - vbar * 0.99823);
  }
  double Dilution(double r) const {
    const double h = 1e-4;
    return ((r + h) * Speed(r + h) - (r - h) * Speed(r - h)) / (2 * h) / r;
  }
  // Radius and concentration at time t of the material that started at r0
  // with concentration c0 (fourth-order Runge-Kutta, 2000 steps).
  void Follow(double r0, double c0, double t, double& r, double& c) const {
    r = r0;
    double lc = std::log(c0);
    const int steps = 2000;
    const double h = t / steps;
    for (int i = 0; i < steps; ++i) {
      const double k1 = Speed(r), l1 = -Dilution(r);
      const double k2 = Speed(r + h / 2 * k1), l2 = -Dilution(r + h / 2 * k1);
      const double k3 = Speed(r + h / 2 * k2), l3 = -Dilution(r + h / 2 * k2);
      const double k4 = Speed(r + h * k3), l4 = -Dilution(r + h * k3);
      r += h / 6 * (k1 + 2 * k2 + 2 * k3 + k4);
      lc += h / 6 * (l1 + 2 * l2 + 2 * l3 + l4);
    }
    c = std::exp(lc);
  }
  // The starting radius whose material is at r at time t (bisection).
  double Origin(double r, double t) const {
    double lo = m, hi = r;
    for (int i = 0; i < 60; ++i) {
      const double mid = (lo + hi) / 2;
      double at, c;
      Follow(mid, 1.0, t, at, c);
      (at < r ? lo : hi) = mid;
    }
    return (lo + hi) / 2;
  }
};

TEST_F(SpeciesSharpBoundary, ACompressedSolventSlowsAndDilutesTheBoundary) {
  SolventGradientSettings& sg = CurrentSolventGradientSettings();
  sg.UseInhomogeneousSolvent = true;
  sg.StaticGradient = true;
  sg.DynamicGradient = sg.SedimentingCosolute = false;
  sg.BufferDensity1atm = 0.99823f;
  sg.ViscosityRatio = 1.0f;
  // Ten times the compressibility of water: the boundary falls behind by
  // several points within the hour.
  sg.Compressibility = 5e-3;
  gSolutionConditions.vbar = 0.73f;
  Host host;
  SimulateModel(&host);
  ASSERT_TRUE(host.boxes.empty()) << host.boxes[0];
  const CompressedSolvent solvent;
  const ScanSet& ss = CurrentScanSet();
  for (int j = 1; j <= ss.count; ++j) {
    const double t = Time(j);
    double boundary, c;
    solvent.Follow(solvent.m, 1.0, t, boundary, c);
    // Behind the uniform solvent's boundary: the gradient holds it back.
    const double spacing = 1.15 / 299;
    const double uniform = solvent.m * std::exp(kS * 1e-13 * kW2 * t);
    ASSERT_LT(boundary, uniform - (j == 3 ? 2 * spacing : 0.0)) << j;
    for (int p = 1; p <= ss.points[j]; ++p) {
      const double r = ss.radii[j][p];
      if (r < boundary - spacing) {
        ASSERT_EQ(ss.model[j][p], 0.0f) << j << " r=" << r;
      } else if (r > boundary + spacing && p % 7 == 0) {
        double at, value;
        solvent.Follow(solvent.Origin(r, t), kAmplitude, t, at, value);
        ASSERT_NEAR(ss.model[j][p], value, 2e-3 * kAmplitude) << j << " r=" << r;
      }
    }
  }
}

TEST_F(SpeciesSharpBoundary, ACosoluteGradientIsNamedAndTheSpeciesShownAsInAUniformSolvent) {
  SolventGradientSettings& sg = CurrentSolventGradientSettings();
  sg.UseInhomogeneousSolvent = true;
  sg.StaticGradient = false;
  sg.DynamicGradient = sg.SedimentingCosolute = true;
  const std::string box = "|D = 0 or s = 0 models are not implemented yet for inhomogeneous solvent";
  Host host;
  SimulateModel(&host);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0], box);
  const ScanSet& ss = CurrentScanSet();
  const double k = kS * 1e-13 * kW2;
  for (int j = 1; j <= ss.count; ++j) {
    const double boundary = 6.0 * std::exp(k * Time(j));
    const float plateau = static_cast<float>(kAmplitude * std::exp(-2 * k * Time(j)));
    for (int p = 1; p <= ss.points[j]; ++p) {
      const double r = ss.radii[j][p];
      if (std::fabs(r - boundary) < 1e-5) continue;
      ASSERT_FLOAT_EQ(ss.model[j][p], r > boundary ? plateau : 0.0f) << j << " r=" << r;
    }
  }
  // Every Run says it again; a fit says it once.
  SimulateModel(&host);
  EXPECT_EQ(host.boxes.size(), 2u);
  gFitEngineState.fitRunning = 1;
  SimulateModel(&host);
  SimulateModel(&host);
  gFitEngineState.fitRunning = 0;
  EXPECT_EQ(host.boxes.size(), 3u);
}

}  // namespace
