#include "fit/signal_shapes.h"

#include <cmath>
#include <vector>

#include "data/scan_set.h"
#include "fit/model_params.h"
#include "lamm/lamm_settings.h"
#include "numerics/constants.h"

void AverageAbsorbanceOverWindow(std::int32_t n, float width, const float* r, float* y) {
  if (n < 1) return;
  std::vector<float> result(static_cast<std::size_t>(n) + 1, 0.0f);
  const float half = width / 2;
  for (int i = 1; i <= n; ++i) {
    float sum = 0;
    int count = 0;
    for (int k = i; k >= 1 && r[k] >= r[i] - half; --k) {
      sum += std::pow(10.0f, -y[k]);
      ++count;
    }
    for (int k = i + 1; k <= n && r[k] <= r[i] + half; ++k) {
      sum += std::pow(10.0f, -y[k]);
      ++count;
    }
    result[i] = (count <= 0 || sum / count <= 0) ? 0.0f : -std::log10(sum / count);
  }
  for (int i = 1; i <= n; ++i) y[i] = result[i];
}

void RadialCorrection1(std::int32_t n, const float* r, float* y, float sigma, float extent) {
  if (n < 2 || sigma <= 0) return;
  const float m = gModelParams.meniscus, b = gModelParams.bottom;
  const float h = (r[n] - r[1]) / static_cast<float>(n - 1);
  std::vector<float> result(static_cast<std::size_t>(n) + 1, 0.0f);
  const float s2 = sigma * sigma;
  for (int i = 1; i <= n; ++i) {
    float numerator = y[i], weight = 1;
    for (int k = i + 1;; ++k) {
      const bool real = k <= n;
      const float x = real ? r[k] : r[n] + static_cast<float>(k - n) * h;
      const float w = std::exp(-(x - r[i]) * (x - r[i]) / s2);
      weight += w;
      if (real && x >= m && x <= b) numerator += w * y[k];
      if (!(x < r[i] + extent * sigma)) break;
    }
    for (int k = i - 1;; --k) {
      const bool real = k >= 1;
      const float x = real ? r[k] : r[n] - static_cast<float>(n - k) * h;
      const float w = std::exp(-(x - r[i]) * (x - r[i]) / s2);
      weight += w;
      if (real && x >= m && x <= b) numerator += w * y[k];
      if (!(x > r[i] - extent * sigma)) break;
    }
    result[i] = numerator / weight;
  }
  for (int i = 1; i <= n; ++i) y[i] = result[i];
}

void RadialCorrection2(std::int32_t n, const float* r, float* y, float d) {
  if (d <= 0) return;
  const float b = gModelParams.bottom;
  const float twoPi = 2 * kPiF;
  for (int i = 1; i <= n; ++i) {
    const float u = b - r[i];
    if (u > d) continue;
    float factor = 0;
    if (u > -d) {
      const float theta = std::acos(u / d);
      const float chord = std::sqrt(d * d - u * u);
      factor = 1 - (2 * d * d * theta - u * chord) / (twoPi * d * d);
    }
    y[i] *= factor;
  }
}

float erfcApprox(float x) {
  // Evaluated in double with the fit's coefficients to nine digits (their
  // float roundings are the single-precision constants): exp(-z^2 ...) in
  // float loses up to 1e-5 relative for large z through its argument.
  const double z = std::fabs(static_cast<double>(x));
  const double t = 1.0 / (1.0 + 0.5 * z);
  const double ans =
      t * std::exp(-z * z - 1.26551223 +
                   t * (1.00002368 +
                        t * (0.37409196 +
                             t * (0.09678418 +
                                  t * (-0.18628806 +
                                       t * (0.27886807 +
                                            t * (-1.13520398 +
                                                 t * (1.48851587 +
                                                      t * (-0.82215223 + t * 0.17087277)))))))));
  return static_cast<float>(x >= 0 ? ans : 2.0 - ans);
}

void FaxenApproximationCurve(float c0, double t, const float* r, float* out, std::int32_t n,
                             float a, float D, float m) {
  const float tau = static_cast<float>(2.0 * a * t);
  const float e = static_cast<float>(std::exp(-static_cast<double>(tau)));
  const float g = 2 * D / (a * m * m);
  const float root = static_cast<float>(std::sqrt(static_cast<double>(g) * tau));
  for (int i = 1; i <= n; ++i) {
    const float L = static_cast<float>(2.0 * std::log(static_cast<double>(r[i]) / m));
    const float x = (tau - L) / (2 * root);
    out[i] = 0.5f * c0 * e * erfcApprox(x);
  }
  const LammSolverSettings& st = LammSettings();
  if (CurrentDataTypeFlags().absorbance && st.simulateRadialResolution)
    AverageAbsorbanceOverWindow(n, st.convolutionRange, r, out);
}

bool SteepBoundaryTest(double s, double D) {
  const LammSolverSettings& st = LammSettings();
  if (!st.shutOffBackDiffusion || s <= 0 || D <= 0) return false;
  const ScanSet& ss = CurrentScanSet();
  if (ss.count < 1) return false;
  const ScanRecord& last = ss.records[ss.order[ss.count]];
  const double T = last.temperature + 273.15;
  const double Mb = T * s * 1e-13 * 8.31451e7 / D;
  const double w = RpmToOmega(last.rpm);
  const double a = w * w / (T * 1.6628944e8);
  const double sigma = Mb * a;
  if (sigma > 100) return true;
  const double m = gModelParams.meniscus, b = gModelParams.bottom, rf = ss.rightFitLimit;
  const double I =
      (std::exp((b * b - rf * rf) * sigma) - std::exp((m * m - rf * rf) * sigma)) / (2 * a * Mb);
  const float cRel = static_cast<float>(1 / (I / ((b * b - m * m) / 2)));
  return cRel < st.tolerance;
}
