#include "fit/dls_kernels.h"

#include <cmath>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "data/scan_set.h"
#include "fit/lamm_scan_output.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "numerics/constants.h"
#include "platform/error_box.h"
#include "platform/input_events.h"

namespace {

constexpr double kBoltzmann = 1.38065e-23;         // J/K
constexpr double kWaterViscosity20 = 0.001002;     // Pa s

bool DistributionModel() {
  const ModelSelectorFlags& f = gModelSelectorFlags;
  return f.DlsIRhModel || f.DlsIRhTimeCourseModel || f.DlsIDModel;
}

// The record of set j and its q^2, or a refusal with its message.
bool SetScatteringVector(int j, bool distribution, float* q2) {
  const ScanSet& ss = CurrentScanSet();
  if (static_cast<int>(ss.dlsRecords.size()) <= j) {
    char text[80];
    std::snprintf(text, sizeof text, "DLS data set %d has no header record", j);
    ErrorBox(text);
    return false;
  }
  const DlsHeaderRecord& r = ss.dlsRecords[static_cast<size_t>(j)];
  if (distribution && !r.fieldFlag) {
    ErrorBox("no field ACF in DLS distribution model");
    return false;
  }
  *q2 = DlsScatteringVectorSquared(r);
  if (*q2 > 0.0f) return true;
  char text[160];
  std::snprintf(text, sizeof text,
                "DLS data set %d: the scattering vector is 0 or not finite\n"
                "(refractive index %g, angle %g, wavelength %g m)",
                j, r.refractiveIndex, r.angle, r.wavelength);
  ErrorBox(text);
  return false;
}

// Lag times tau[1..n] (s) of the log10 values x[1..n], in a buffer that
// lives as long as the program (one per computation, no allocation once
// it has grown).
const double* LagTimes(const float* x, int n) {
  static std::vector<double> tau;
  if (static_cast<int>(tau.size()) < n + 1) tau.resize(static_cast<size_t>(n) + 1);
  for (int p = 1; p <= n; ++p) tau[static_cast<size_t>(p)] = std::pow(10.0, static_cast<double>(x[p]));
  return tau.data();
}

// out[1..n] over the lag times tau[1..n]; D <= 0 gives A, 0, 0, ...
void FillKernel(const DlsKernelInputs& in, float q2, const double* tau, float* out, int n) {
  if (!(in.D > 0.0)) {
    for (int p = 1; p <= n; ++p) out[p] = p == 1 ? static_cast<float>(in.amplitude) : 0.0f;
    return;
  }
  for (int p = 1; p <= n; ++p) out[p] = static_cast<float>(DlsKernelValue(in, q2, tau[p]));
}

// The distribution kernels of the sets at time positions first..last (all
// sets in file order when first is 0) at the current grid point. Sets with
// the same q^2 on the common grid share one kernel: it is computed once.
bool StoreDistributionKernels(const DlsKernelInputs& in, int first, int last, bool pollKeys) {
  const ScanSet& ss = CurrentScanSet();
  const double* gridTau = in.ownLagTimes ? nullptr : LagTimes(ss.grid, ss.gridLength);
  const float* previous = nullptr;
  float previousQ2 = 0.0f;
  for (int i = first < 1 ? 1 : first; i <= last; ++i) {
    const int j = first < 1 ? i : ss.order[i];
    if (pollKeys && (KeyPressed() || platform::StopDeadlinePassed())) platform::StopFlag() = true;
    float q2 = 0.0f;
    if (!SetScatteringVector(j, true, &q2)) return false;
    float* row = in.cube[in.gridPoint][j];
    if (in.ownLagTimes) {
      // A row of the block holds as many values as the common grid.
      const int n = ss.points[j] < ss.gridLength ? ss.points[j] : ss.gridLength;
      FillKernel(in, q2, LagTimes(ss.radii[j], n), row, n);
    } else if (previous && q2 == previousQ2) {
      std::copy(previous + 1, previous + ss.gridLength + 1, row + 1);
    } else {
      FillKernel(in, q2, gridTau, row, ss.gridLength);
      previous = row;
      previousQ2 = q2;
    }
  }
  return true;
}

}  // namespace

DlsKernelInputs& DlsKernels() {
  static DlsKernelInputs in;
  return in;
}

float DlsScatteringVectorSquared(const DlsHeaderRecord& r) {
  const float thetaRad = r.angle * 2.0f * kPiF / 360.0f;
  const double q = 4.0 * kPiF * static_cast<double>(r.refractiveIndex) * std::sin(thetaRad / 2.0) /
                   static_cast<double>(r.wavelength);
  const float q2 = static_cast<float>(q * q);
  return std::isfinite(q2) && q2 > 0.0f ? q2 : 0.0f;
}

double DlsKernelValue(const DlsKernelInputs& in, float q2, double tau) {
  const double g = 1e-4 * static_cast<double>(q2);
  const double decay = in.amplitude * std::exp(-g * in.D * tau);
  if (!in.cumulant) return decay;
  const double gt = g * tau;
  return decay * (1.0 + 0.5 * in.mu2 * gt * gt - in.mu3 * gt * gt * gt / 6.0);
}

double DiffusionFromStokesRadius(double radius, double celsius) {
  if (!(radius > 0.0)) return 0.0;
  const double eta = kWaterViscosity20 * gSolutionConditions.viscosity;
  return (celsius + 273.15) * kBoltzmann * 1e4 / (6.0 * kPi * eta * radius);
}

bool DlsSetHoldsG2(int j) {
  const ScanSet& ss = CurrentScanSet();
  return CurrentDataTypeFlags().dls && j >= 1 && static_cast<int>(ss.dlsRecords.size()) > j &&
         !ss.dlsRecords[static_cast<size_t>(j)].fieldFlag;
}

bool DlsIntensityAutocorrelationLoaded() {
  for (int j = 1; j <= CurrentScanSet().count; ++j)
    if (DlsSetHoldsG2(j)) return true;
  return false;
}

bool ComputeDlsKernelsFull() {
  ScanSet& ss = CurrentScanSet();
  const DlsKernelInputs& in = DlsKernels();
  if (DistributionModel()) return in.cube && StoreDistributionKernels(in, 0, ss.count, false);
  const bool onGrid = CurvesOnCommonGrid() && ss.gridLength > 0;
  if (onGrid) EnsureSpeciesCurves(in.component);
  const double* gridTau = onGrid ? LagTimes(ss.grid, ss.gridLength) : nullptr;
  // The discrete model walks the sets in time order.
  for (int i = 1; i <= ss.count; ++i) {
    const int j = ss.order[i];
    float q2 = 0.0f;
    if (!SetScatteringVector(j, false, &q2)) return false;
    if (onGrid) {
      FillKernel(in, q2, gridTau, ss.species[in.component].onGridPerScan[j], ss.gridLength);
      continue;
    }
    float* model = ss.model[j];
    if (!(in.D > 0.0)) {
      if (ss.points[j] >= 1) model[1] += static_cast<float>(in.amplitude);
      continue;
    }
    for (int p = 1; p <= ss.points[j]; ++p)
      model[p] += static_cast<float>(DlsKernelValue(in, q2, std::pow(10.0, static_cast<double>(ss.radii[j][p]))));
  }
  return true;
}

bool ComputeDlsKernels() {
  const ScanSet& ss = CurrentScanSet();
  DlsKernelInputs in = DlsKernels();
  if (!in.cube) return false;
  in.cumulant = false;
  in.ownLagTimes = false;
  return StoreDistributionKernels(in, in.firstSet < 1 ? 1 : in.firstSet, in.lastSet > ss.count ? ss.count : in.lastSet,
                                  true);
}
