// Detection corrections of CLammIdeal (fluorescence optics): radial
// magnification gradient y(r) (1 + (r - m) da/dr), amplitude drift with time,
// the excitation shadow of a cone of radius R at the bottom and a Gaussian
// radial convolution exp(-(dr/w)^2) over k widths; plus timed snapshots of
// the node profile; and the fluorophore the run follows. Radii in cm, times
// in s.
#include <algorithm>
#include <cmath>
#include <memory>

#include "data/scan_set.h"
#include "lamm/lamm_ideal.h"
#include "numerics/regrid.h"

bool CLammIdeal::ComputeTimeDriftFactors(double t, int n, const float* radii) {
  driftValid_ = false;
  if (n < 1 || !radii) return false;
  driftFactors_.reset(new double[static_cast<size_t>(n) + 1]);
  driftCount_ = n;
  for (int j = 0; j <= n; ++j) driftFactors_[j] = 1.0;
  if (!detection_.drift) return false;
  const double L = detection_.driftLinear ? 1 + t * detection_.driftLinearRate : 1.0;
  if (detection_.driftExponential) {
    const double E =
        std::max(0.0, (1 - detection_.driftLevel) * std::exp(-std::fabs(detection_.driftExpRate) * t) + detection_.driftLevel);
    for (int j = 1; j <= n; ++j) driftFactors_[j] = E;
  }
  for (int j = 1; j <= n; ++j) driftFactors_[j] *= L;
  driftValid_ = true;
  return true;
}

void CLammIdeal::ApplyExcitationShadow(float* y, const float* r, int n, double bottom,
                                       double R) {
  if (R <= 0) return;
  for (int j = 1; j <= n; ++j) {
    const double x = bottom - r[j];
    if (x > R) continue;
    double factor = 0;
    if (x > -R) {
      const double theta = std::acos(x / R);
      factor = 1 - (2 * R * R * theta - R * std::sin(theta) * x) / (R * R * 6.2831855);
    }
    y[j] = static_cast<float>(factor * y[j]);
  }
}

void CLammIdeal::ClassifyOutputGrid() {
  gridClass_ = -1;
  if (perScanMode_ || !scans_.grid || scans_.gridLength < 2) return;
  const double d = scans_.grid[2] - scans_.grid[1];
  gridClass_ = 1;
  for (int j = 3; j <= scans_.gridLength; ++j)
    if (std::fabs((scans_.grid[j] - scans_.grid[j - 1]) - d) > 1e-5) {
      gridClass_ = 2;
      break;
    }
}

void CLammIdeal::BuildConvolutionKernel() {
  kernel_.clear();
  kernelLength_ = 0;
  if (gridClass_ != 1 || !scans_.grid || scans_.gridLength < 2) return;
  const double delta = scans_.grid[2] - scans_.grid[1];
  if (!(delta > 0)) return;
  int m = static_cast<int>(std::ceil(detection_.convRange * detection_.convWidth / delta)) + 1;
  m = std::max(m, 1);
  kernel_.assign(static_cast<size_t>(m) + 1, 0.0f);
  kernel_[0] = 1;
  for (int i = 1; i <= m; ++i)
    kernel_[i] = static_cast<float>(std::exp(-(i * delta) * (i * delta) / (detection_.convWidth * detection_.convWidth)));
  kernelLength_ = m;
  convFirst_ = 0;
  for (int j = 1; j <= scans_.gridLength; ++j)
    if (scans_.grid[j] >= meniscus_) {
      convFirst_ = j;
      break;
    }
  convLast_ = 0;
  for (int j = scans_.gridLength; j >= 1; --j)
    if (scans_.grid[j] <= bottom_) {
      convLast_ = j;
      break;
    }
}

void CLammIdeal::ConvolveRadiallyGeneral(float* y, const float* r, int n, double w, double k,
                                         double meniscus, double bottom) {
  if (n < 2 || w <= 0) return;
  std::unique_ptr<float[]> out(new float[static_cast<size_t>(n) + 1]);
  const double mean = (r[n] - r[1]) / (n - 1);
  const double reach = k * w;
  for (int j = 1; j <= n; ++j) {
    double num = y[j], den = 1;
    for (int dir = -1; dir <= 1; dir += 2) {
      for (int step = 1;; ++step) {
        const int i = j + dir * step;
        double ri;
        bool inside = i >= 1 && i <= n;
        if (inside)
          ri = r[i];
        else
          ri = (dir < 0 ? r[1] - (1 - i) * mean : r[n] + (i - n) * mean);
        if (std::fabs(ri - r[j]) > reach || !(mean > 0)) break;
        const double wgt = std::exp(-(ri - r[j]) * (ri - r[j]) / (w * w));
        den += wgt;
        if (inside && ri >= meniscus && ri <= bottom) num += wgt * y[i];
      }
    }
    out[j] = static_cast<float>(num / den);
  }
  for (int j = 1; j <= n; ++j) y[j] = out[j];
}

void CLammIdeal::CorrectScan(float* y, const float* radii, int n, int scan) {
  if (!(detection_.magnification || detection_.shadow || detection_.convolution || detection_.drift)) return;
  const ScanRecord& rec = scans_.records[scan];
  ComputeTimeDriftFactors(startTimeOffset_ + rec.time, n, radii);
  if (detection_.magnification)
    for (int j = 1; j <= n; ++j)
      y[j] = static_cast<float>(((radii[j] - meniscus_) * detection_.dadr + 1) * y[j]);
  if (driftValid_)
    for (int j = 1; j <= n; ++j) y[j] = static_cast<float>(y[j] * driftFactors_[j]);
  if (detection_.shadow) ApplyExcitationShadow(y, radii, n, bottom_, detection_.coneRadius);
  if (detection_.convolution) {
    if (!perScanMode_ && gridClass_ == 1 && !kernel_.empty() && convFirst_ && convLast_) {
      const float* kernel = kernel_.data();
      const double delta = (radii[n] - radii[1]) / (n - 1);
      const int m = std::min(kernelLength_, static_cast<int>(std::floor(detection_.convRange * detection_.convWidth / delta)));
      std::unique_ptr<float[]> out(new float[static_cast<size_t>(n) + 1]);
      for (int j = 1; j <= n; ++j) {
        double num = y[j], den = 1;
        for (int i = 1; i <= m; ++i) {
          den += 2 * kernel[i];
          if (j - i >= convFirst_ && j - i <= convLast_) num += kernel[i] * y[j - i];
          if (j + i >= convFirst_ && j + i <= convLast_) num += kernel[i] * y[j + i];
        }
        out[j] = static_cast<float>(num / den);
      }
      for (int j = 1; j <= n; ++j) y[j] = out[j];
    } else {
      ConvolveRadiallyGeneral(y, radii, n, detection_.convWidth, detection_.convRange, meniscus_, bottom_);
    }
  }
}

void CLammIdeal::ApplyDetectionCorrections() {
  ForEachOutputRow([&](int k, int scan, float* row, const float* radii, int n) {
    if (k >= outIndex_) {
      // Scans the run never reached (user abort, failure) hold nothing.
      std::fill(row + 1, row + 1 + n, 0.0f);
      return;
    }
    CorrectScan(row, radii, n, scan);
  });
}

void CLammIdeal::ApplyTimedProfiles(double t) {
  if (!timed_.on || timed_.next > timed_.count || t < timed_.nextTime) return;
  if (timed_.next < 1) {
    timed_.next = 1;
    if (t != timed_.times[1]) return;
  }
  float** table = timed_.perSpecies ? timed_.tables[scans_.component] : timed_.table;
  if (table && table[timed_.next] && timed_.radii)
    InterpolateOntoGridD(timed_.length, timed_.radii, table[timed_.next], N_, r_, c_);
  ++timed_.next;
  timed_.nextTime =
      timed_.next <= timed_.count ? timed_.times[timed_.next] : timed_.times[timed_.count] + 1e10;
}

void CLammIdeal::FinishTimedProfiles() {
  if (!timed_.on) return;
  float** table = timed_.perSpecies ? timed_.tables[scans_.component] : timed_.table;
  if (!table) return;
  if (timed_.next <= 1) {
    for (int i = 1; i <= timed_.count; ++i)
      if (table[i]) std::fill(table[i] + 1, table[i] + 1 + timed_.length, 0.0f);
    return;
  }
  const int last = timed_.next - 1;
  for (int i = timed_.next; i <= timed_.count; ++i)
    if (table[i] && table[last]) std::copy(table[last] + 1, table[last] + 1 + timed_.length, table[i] + 1);
}

void CLammIdeal::AllocProfileBuffers(int n) {
  const size_t sz = static_cast<size_t>(n < 1 ? 1 : n) + 1;
  wienerRef_.reset(new double[sz]());
  wienerWork1_.reset(new double[sz]());
  wienerWork2_.reset(new double[sz]());
  wienerCount_ = n;
}

void CLammIdeal::FreeProfileBuffers() {
  wienerRef_.reset();
  wienerWork1_.reset();
  wienerWork2_.reset();
  wienerCount_ = 0;
}

void CLammIdeal::ApplyWienerSkewing(int n, const double* r, double* y, int m, const double* q) {
  if ((scans_.timeResolution && scans_.scanVelocity > 0) || n != m || n < 2 || !wienerWork1_ ||
      wienerCount_ < n) {
    detection_.wienerConflict = detection_.wienerConflict || (scans_.timeResolution && scans_.scanVelocity > 0);
    return;
  }
  double* rho = wienerWork1_.get();
  double* out = wienerWork2_.get();
  for (int i = 1; i <= n; ++i) {
    double g;
    if (i == 1)
      g = 0;
    else if (i == m)
      g = (q[i] - q[i - 1]) / (r[i] - r[i - 1]);
    else
      g = (q[i + 1] - q[i - 1]) / (r[i + 1] - r[i - 1]);
    rho[i] = r[i] + detection_.wienerGain * g;
    if (i > 1 && !(rho[i] > rho[i - 1])) rho[i] = rho[i - 1] + 1e-6;
  }
  for (int i = 1; i <= n; ++i) out[i] = y[i];
  InterpolateOntoGridMixed(n, r, out, n, rho, y);
  for (int i = 1; i <= n; ++i) y[i] = out[i];
}

namespace {
template <typename T>
void SmoothTransmittance(int n, double width, const T* r, T* y, T* work) {
  const double sigma = width * 0.42462845010615713;
  if (!(sigma > 0)) return;
  for (int i = 1; i <= n; ++i) {
    work[i] = y[i];
    if (y[i] >= 100) continue;
    double sw = 0, st = 0;
    for (int j = i; j >= 1 && r[j] >= r[i] - 2 * sigma; --j) {
      const double d = static_cast<double>(r[j]) - r[i];
      const double w = std::exp(-d * d / (sigma * sigma));
      sw += w;
      st += std::pow(10.0, -static_cast<double>(y[j])) * w;
    }
    for (int j = i + 1; j <= n && r[j] <= r[i] + 2 * sigma; ++j) {
      const double d = static_cast<double>(r[j]) - r[i];
      const double w = std::exp(-d * d / (sigma * sigma));
      sw += w;
      st += std::pow(10.0, -static_cast<double>(y[j])) * w;
    }
    if (sw > 0 && st > 0) work[i] = static_cast<T>(-std::log10(st / sw));
  }
  for (int i = 1; i <= n; ++i) y[i] = work[i];
}
}  // namespace

void CLammIdeal::SmoothInTransmittance(int n, double width, const double* r, double* y) {
  std::unique_ptr<double[]> work(new double[static_cast<size_t>(n) + 1]);
  SmoothTransmittance(n, width, r, y, work.get());
}

void CLammIdeal::SmoothInTransmittanceFloat(int n, float width, const float* r, float* y) {
  std::unique_ptr<float[]> work(new float[static_cast<size_t>(n) + 1]);
  SmoothTransmittance(n, width, r, y, work.get());
}

bool CLammIdeal::LoadFluorophoreTemplate(const CFluorophore* f, int wavelength) {
  if (!f) {
    ShowRefusal("Error pFlotmpl ==0 in CLammIdeal");
    return false;
  }
  if (wavelength < 1) {
    ShowRefusal("Error loading wl < 1 in CLammIdeal");
    return false;
  }
  if (wavelength > f->nWavelengths) {
    ShowRefusal("Error loading wl > max in CLammIdeal");
    return false;
  }
  fluorophore_ = std::make_unique<CFluorophore>();
  f->CopyTo(fluorophore_.get());
  fluorophoreWavelength_ = wavelength;
  return true;
}
