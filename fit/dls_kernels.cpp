#include "fit/dls_kernels.h"

#include <cmath>
#include <cstdio>

#include "data/scan_set.h"
#include "fit/lamm_scan_output.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "numerics/error_box.h"
#include "platform/input_events.h"

namespace {

constexpr double kBoltzmann = 1.38065e-23;         // J/K
constexpr double kWaterViscosity20 = 0.001002;     // Pa s
constexpr float kPiSingle = 3.1415927f;

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

// out[1..n] over the log10 lag times x[1..n]; D <= 0 gives A, 0, 0, ...
void FillKernel(const DlsKernelInputs& in, float q2, const float* x, float* out, int n) {
  if (!(in.D > 0.0)) {
    for (int p = 1; p <= n; ++p) out[p] = p == 1 ? static_cast<float>(in.amplitude) : 0.0f;
    return;
  }
  for (int p = 1; p <= n; ++p)
    out[p] = static_cast<float>(DlsKernelValue(in, q2, std::pow(10.0, static_cast<double>(x[p]))));
}

// The distribution kernel of set j at the current grid point.
void StoreDistributionKernel(const DlsKernelInputs& in, int j, float q2) {
  const ScanSet& ss = CurrentScanSet();
  float* row = in.cube[in.gridPoint][j];
  if (!in.ownLagTimes) {
    FillKernel(in, q2, ss.grid, row, ss.gridLength);
    return;
  }
  // A row of the block holds as many values as the common grid.
  const int n = ss.points[j] < ss.gridLength ? ss.points[j] : ss.gridLength;
  FillKernel(in, q2, ss.radii[j], row, n);
}

}  // namespace

DlsKernelInputs& DlsKernels() {
  static DlsKernelInputs in;
  return in;
}

float DlsScatteringVectorSquared(const DlsHeaderRecord& r) {
  const float thetaRad = r.angle * 2.0f * kPiSingle / 360.0f;
  const double q = 4.0 * kPiSingle * static_cast<double>(r.refractiveIndex) * std::sin(thetaRad / 2.0) /
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
  return (celsius + 273.15) * kBoltzmann * 1e4 / (6.0 * M_PI * eta * radius);
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
  const bool distribution = DistributionModel();
  if (distribution && !in.cube) return false;
  const bool onGrid = !distribution && CurvesOnCommonGrid() && ss.gridLength > 0;
  if (onGrid) EnsureSpeciesCurves(in.component);
  for (int i = 1; i <= ss.count; ++i) {
    // The discrete model walks the sets in time order, the distributions
    // in the order of the kernel block.
    const int j = distribution ? i : ss.order[i];
    float q2 = 0.0f;
    if (!SetScatteringVector(j, distribution, &q2)) return false;
    if (distribution) {
      StoreDistributionKernel(in, j, q2);
    } else if (onGrid) {
      FillKernel(in, q2, ss.grid, ss.species[in.component].onGridPerScan[j], ss.gridLength);
    } else {
      float* model = ss.model[j];
      if (!(in.D > 0.0)) {
        if (ss.points[j] >= 1) model[1] += static_cast<float>(in.amplitude);
        continue;
      }
      for (int p = 1; p <= ss.points[j]; ++p)
        model[p] += static_cast<float>(DlsKernelValue(in, q2, std::pow(10.0, static_cast<double>(ss.radii[j][p]))));
    }
  }
  return true;
}

bool ComputeDlsKernels() {
  const ScanSet& ss = CurrentScanSet();
  const DlsKernelInputs& in = DlsKernels();
  if (!in.cube) return false;
  const int first = in.firstSet < 1 ? 1 : in.firstSet;
  const int last = in.lastSet > ss.count ? ss.count : in.lastSet;
  for (int pos = first; pos <= last; ++pos) {
    const int j = ss.order[pos];
    if (KeyPressed()) platform::StopFlag() = true;
    float q2 = 0.0f;
    if (!SetScatteringVector(j, true, &q2)) return false;
    DlsKernelInputs common = in;
    common.cumulant = false;
    common.ownLagTimes = false;
    StoreDistributionKernel(common, j, q2);
  }
  return true;
}
