#include "distributions/sharp_boundary.h"

#include <cmath>
#include <vector>

#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "lamm/lamm_run_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/signal_shapes.h"
#include "fit/solvent_gradient.h"
#include "lamm/lamm_settings.h"
#include "numerics/constants.h"
#include "numerics/regrid.h"

namespace {

bool RadialAverageApplies() {
  const LammSolverSettings& ls = LammSettings();
  const DataTypeFlags& d = CurrentDataTypeFlags();
  return ls.simulateRadialResolution && d.absorbance && !d.interference;
}

}  // namespace

SharpBoundaryState& SharpBoundary() {
  static SharpBoundaryState s;
  return s;
}

void ContiShapeModelCurve(float c0, double t, const float* r, float* c, int n) {
  ContiShapeModelCurve(SharpBoundary(), Conti().linearElectrophoresis != 0, c0, t, r, c, n);
}

void ContiShapeModelCurve(const SharpBoundaryState& st, bool linear, float c0, double t, const float* r, float* c,
                          int n) {
  if (n < 1) return;
  const LammSolverSettings& ls = LammSettings();
  const double m = gModelParams.meniscus, b = gModelParams.bottom;
  const double k = st.k;
  const bool zone = gModelSelectorFlags.ZoneCentrifugationModel || gModelSelectorFlags.ZoneCentrifugationCSModel ||
                    gModelSelectorFlags.ZoneCentrifugationLsgModel;
  const bool timeRes = ls.simulateTimeResolution && ls.scanVelocity > 0.0f;
  const double v = ls.scanVelocity / 60.0;  // cm/s

  auto boundaryAt = [&](double tt, double start) {
    if (linear) return start + k * tt;
    return start * std::exp(k * tt);
  };
  // A species that does not move toward the bottom leaves it, in either
  // geometry; from the meniscus a velocity of 0 would show no signal.
  const double start = k > 0.0 ? m : b;
  double dt = 0.0;
  if (timeRes) dt = (boundaryAt(t, start) - m) / v;
  const double t1 = t + dt;

  if (!st.densityGradient) {
    const double rb = boundaryAt(t1, start);
    const double cp = linear ? c0 : c0 * std::exp(-2.0 * k * t1);
    double rt = 0.0;
    if (zone) {
      const double lamella = m + gModelParams.zoneValue;
      double dt2 = timeRes ? (lamella * std::exp(k * t) - m) / v : 0.0;
      rt = lamella * std::exp(k * (t + dt2));
    }
    for (int i = 1; i <= n; ++i) {
      bool inside;
      if (zone)
        inside = r[i] >= rb && r[i] < rt;
      else if (k > 0.0)
        inside = r[i] >= rb;
      else
        inside = r[i] <= rb;
      double value = cp;
      if (timeRes && !linear) value = cp * std::exp(-2.0 * k * (r[i] - m) / v);
      c[i] = inside ? static_cast<float>(value) : 0.0f;
    }
  } else {
    const ScanSet& sc = CurrentScanSet();
    double rpm = st.rpm;
    if (rpm <= 0.0 && sc.count >= 1) rpm = sc.records[sc.order[sc.count]].rpm;
    const double w = RpmToOmega(rpm);
    const double w2 = w * w;
    const double mp = m / 100.0;
    const double rho = 1000.0 * st.gradientDensity;
    const double vp = 0.001 * gSolutionConditions.vbar;
    const double vbar = gSolutionConditions.vbar;
    const double B = 1.0 - vp * rho;
    const double K = w2 * ((1.0 - vbar * st.gradientDensity) * (st.speciesS * 1e-13 / st.gradientViscosity) /
                           (1.0 - vbar * 0.99823)) / B;
    const double G = vp * rho * rho * w2 * (1e-6 * st.gradientCoefficient) / 2.0;
    const double S = B + G * mp * mp;
    const double E = std::exp(2.0 * K * S * t1);
    const double decay = std::exp(-2.0 * K * S * t1);
    const double rb = 100.0 * mp * std::sqrt(S / (decay * (B + G * mp * mp * E)));
    // Characteristics: every starting radius maps to a later radius; the
    // loop ends where they pass the last output radius or with the points.
    std::vector<float> R(static_cast<size_t>(n) + 1), V(static_cast<size_t>(n) + 1);
    int nc = 0;
    for (int i = 1; i <= n; ++i) {
      const double r0 = r[i] / 100.0;
      const double T = S + G * r0 * r0 * (E - 1.0);
      const double q = S / (decay * T);
      R[i] = q > 0.0 ? static_cast<float>(100.0 * r0 * std::sqrt(q)) : 0.0f;
      V[i] = static_cast<float>(c0 * T * T * decay / (S * S));
      nc = i;
      if (R[i] > r[n] + 0.001f) break;
    }
    int first = n + 1;
    for (int i = 1; i <= n; ++i) {
      if (r[i] < rb) {
        c[i] = 0.0f;
      } else {
        first = i;
        break;
      }
    }
    if (first <= n) {
      if (nc >= 2) {
        // Linear interpolation of V over R onto the radii beyond the boundary;
        // beyond the last characteristic the last value is held.
        int j = 1;
        for (int i = first; i <= n; ++i) {
          const float x = r[i];
          while (j < nc - 1 && R[j + 1] < x) ++j;
          float y;
          if (x <= R[1]) {
            y = V[1];
          } else if (x >= R[nc]) {
            y = V[nc];
          } else {
            const float f = (R[j + 1] != R[j]) ? (x - R[j]) / (R[j + 1] - R[j]) : 0.0f;
            y = V[j] + f * (V[j + 1] - V[j]);
          }
          c[i] = y;
        }
      } else {
        for (int i = first; i <= n; ++i) c[i] = nc >= 1 ? V[1] : 0.0f;
      }
    }
  }
  if (RadialAverageApplies()) AverageAbsorbanceOverWindow(n, ls.convolutionRange, r, c);
}

void SpeciesSharpBoundaryCurve(float c0, double t, double k, const float* r, float* c, int n) {
  SharpBoundaryState st;
  st.k = k;
  const SolventGradientSettings& sg = CurrentSolventGradientSettings();
  if (sg.CompressedSolvent()) {
    // The compressed buffer: density at 1 atm, viscosity relative to water
    // at 20 degC, compressibility (1/MPa); s is held at 20 degC water.
    st.densityGradient = true;
    st.speciesS = CurrentLammRunState().s;
    st.gradientDensity = sg.BufferDensity1atm;
    st.gradientViscosity = sg.ViscosityRatio;
    st.gradientCoefficient = sg.Compressibility;
  }
  ContiShapeModelCurve(st, Conti().linearElectrophoresis != 0, c0, t, r, c, n);
}
