#include "automation/tools/hydro_results.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>

#include "numerics/linear_fit.h"

namespace {

std::string Printf(const char* format, double a) {
  char buf[200];
  std::snprintf(buf, sizeof buf, format, a);
  return buf;
}

}  // namespace

CalibrationRows UsableCalibrationRows(const std::vector<float>& s, const std::vector<float>& M) {
  CalibrationRows r;
  std::string bad;
  for (size_t i = 0; i < s.size() && i < M.size(); ++i) {
    if (s[i] > 0 && M[i] > 0) {
      r.s.push_back(s[i]);
      r.M.push_back(M[i]);
    } else {
      bad += (bad.empty() ? "" : ", ") + std::to_string(i + 1);
    }
  }
  if (!bad.empty()) r.skipped = "rows with s or M not above 0 were left out: " + bad;
  return r;
}

PowerLawFit FitCMPowerLaw(const std::vector<float>& s, const std::vector<float>& M, float oneRowExponent) {
  PowerLawFit f;
  const int rows = static_cast<int>(std::min(s.size(), M.size()));
  if (rows < 1) {
    f.refusal = "no calibration rows";
    return f;
  }
  std::vector<float> lm(static_cast<size_t>(rows) + 1), ls(static_cast<size_t>(rows) + 1);
  for (int i = 1; i <= rows; ++i) {
    if (!(s[i - 1] > 0) || !(M[i - 1] > 0)) {
      f.refusal = "s and M must be above 0";
      return f;
    }
    lm[i] = std::log10(M[i - 1]);
    ls[i] = std::log10(s[i - 1]);
  }
  double logKs = 0;
  f.n = rows == 1 ? 2 : rows;
  f.x.assign(static_cast<size_t>(f.n) + 1, 0);
  f.y = f.lineX = f.lineY = f.x;
  if (rows == 1) {
    f.kb = oneRowExponent;
    logKs = ls[1] - static_cast<double>(f.kb) * lm[1];
    f.x[1] = f.x[2] = lm[1];
    f.y[1] = f.y[2] = ls[1];
    f.lineX[1] = 0.7f * lm[1];
    f.lineX[2] = 1.3f * lm[1];
  } else {
    bool flat = false;
    float a = 0, b = 0;
    LinearFitWithResidual(&a, &b, lm.data(), ls.data(), rows, &flat);
    if (flat) {
      f.refusal = "all molar masses of the calibration are equal: the exponent cannot be fitted";
      return f;
    }
    logKs = a;
    f.kb = b;
    const float margin = 0.1f * (lm[rows] - lm[1]);
    for (int i = 1; i <= rows; ++i) {
      f.x[i] = lm[i];
      f.y[i] = ls[i];
      f.lineX[i] = lm[i];
    }
    f.lineX[1] = lm[1] - margin;
    f.lineX[rows] = lm[rows] + margin;
  }
  f.ks = static_cast<float>(std::pow(10.0, logKs));
  for (int i = 1; i <= f.n; ++i) f.lineY[i] = static_cast<float>(logKs + f.kb * static_cast<double>(f.lineX[i]));
  const auto [lo, hi] = std::minmax_element(f.lineY.begin() + 1, f.lineY.end());
  const float span = *hi - *lo;
  f.yLow = *lo - 0.05f * span;
  f.yHigh = *hi + 0.05f * span;
  f.ok = std::isfinite(f.ks) && std::isfinite(f.kb);
  if (!f.ok) f.refusal = "the calibration gives no finite ks and kb";
  return f;
}

BestModels ScanBestOutput(const std::string& text) {
  static const std::string kPatches = "Number of Surface Patches", kD = "DTT(EXACT) =";
  BestModels m;
  std::vector<std::pair<float, float>> pairs;
  size_t at = text.find(kPatches);
  while (at != std::string::npos && static_cast<int>(pairs.size()) < kMaxBestModels) {
    char word[10] = {}, dword[64] = {};
    const size_t dAt = text.find(kD, at + kPatches.size());
    if (dAt == std::string::npos) break;
    std::sscanf(text.c_str() + at + kPatches.size(), "%9s", word);
    std::sscanf(text.c_str() + dAt + kD.size(), "%63s", dword);
    char* end1 = nullptr;
    char* end2 = nullptr;
    const float N = std::strtof(word, &end1);
    const float D = std::strtof(dword, &end2);
    // 1/N must exist: a record with an unreadable or non-positive N (or an
    // unreadable D) cannot enter the extrapolation.
    if (end1 != word && end2 != dword && N > 0 && std::isfinite(N) && std::isfinite(D)) pairs.emplace_back(N, D);
    at = text.find(kPatches, dAt + kD.size());
  }
  std::stable_sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  for (const auto& [N, D] : pairs) {
    m.N.push_back(N);
    m.D.push_back(D);
  }
  return m;
}

BestExtrapolation ExtrapolateBestD(const BestModels& models) {
  BestExtrapolation e;
  const int n = static_cast<int>(models.N.size());
  if (n < 1) return e;
  std::vector<float> x(static_cast<size_t>(n) + 1), y(static_cast<size_t>(n) + 1);
  for (int i = 1; i <= n; ++i) {
    x[i] = 1.0f / models.N[i - 1];
    y[i] = models.D[i - 1];
  }
  e.used = n;
  if (n == 1) {
    e.D0 = y[1];
    return e;
  }
  double ssr = LinearFitWithResidual(&e.D0, &e.slope, x.data(), y.data(), n, &e.flat);
  // A model that spoils the fit (its residual share is large) is dropped,
  // the smallest first, while at least three remain.
  while (e.used >= 4) {
    float a = 0, b = 0;
    bool flat = false;
    const double smaller = LinearFitWithResidual(&a, &b, x.data(), y.data(), e.used - 1, &flat);
    if (!(smaller < 0.3 * ssr)) break;
    --e.used;
    ssr = smaller;
    e.D0 = a;
    e.slope = b;
    e.flat = flat;
  }
  return e;
}

double SFromBestD(double M, double D0, double vbar) {
  return 1e13 * M * D0 * (1.0 - vbar * 0.99823) * 4.102734765389717e-11;
}

std::string BestReport(const std::string& file, const BestModels& models, const BestExtrapolation& e, float M,
                       float vbar) {
  const int n = static_cast<int>(models.N.size());
  std::string t = "reading " + file + "\nfound " + std::to_string(n) + " D-values:\n";
  for (int i = 0; i < n; ++i) {
    char line[120];
    std::snprintf(line, sizeof line, "%.0f triangles - D = %e\n", models.N[static_cast<size_t>(i)],
                  models.D[static_cast<size_t>(i)]);
    t += line;
  }
  if (e.used == n) {
    t += Printf("\nextrapolation to 1/N = 0 gives D = %e cm^2/sec\n", e.D0);
  } else {
    char line[160];
    std::snprintf(line, sizeof line, "\nextrapolation of %d largest models to 1/N = 0 gives D = %e cm^2/sec\n",
                  e.used, e.D0);
    t += line;
  }
  if (e.flat)
    t += "(fewer than two different triangle numbers: D is their mean, not extrapolated)\n";
  char line[200];
  std::snprintf(line, sizeof line,
                "\nunder standard conditions, with Mw = %f Da and vbar = %f ml/g, this results in an s-value of %f S",
                M, vbar, SFromBestD(M, e.D0, vbar));
  t += line;
  t += "\n\n show extrapolation plot?";
  return t;
}
