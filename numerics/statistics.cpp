#include "numerics/statistics.h"

#include <cmath>
#include <limits>

#include "numerics/arrays.h"
#include "numerics/brent_root.h"
#include "platform/error_box.h"

namespace {

// State of the critical-ratio search, read by FRatioResidual.
double fNu1 = 1, fNu2 = 1, fTail = 0.05;

}  // namespace

float RunsTestZ(float** data, float** model, int from, int to, int* order, int* first, int* last) {
  if (!data || !model || !order || !first || !last || to < from) return 0.0f;
  double runs = 0, nPlus = 0, nMinus = 0;
  for (int k = from; k <= to; ++k) {
    const int s = order[k];
    if (first[s] > last[s]) continue;
    runs += 1;
    int sign = 0;
    for (int i = first[s]; i <= last[s]; ++i) {
      const double r = static_cast<double>(data[s][i]) - model[s][i];
      if (r <= 0)
        nMinus += 1;
      else
        nPlus += 1;
      if (i == first[s]) {
        sign = r <= 0 ? -1 : 1;
      } else if (r * sign < 0) {
        sign = -sign;
        runs += 1;
      }
    }
  }
  const double n = nPlus + nMinus;
  if (n < 2) return 0.0f;
  const double pm = 2 * nPlus * nMinus;
  const double mu = pm / n + 1;
  const float sigma = static_cast<float>(std::sqrt(pm * (pm - nPlus - nMinus) / (n * n * (n - 1))));
  if (sigma == 0.0f) return 0.0f;
  return static_cast<float>(std::fabs(runs - mu + 0.5) / sigma);
}

double FDistributionProbability(double F, double nu1, double nu2) {
  // Without degrees of freedom on either side there is no distribution.
  if (!(nu1 > 0) || !(nu2 > 0)) return 0.0;
  // An undefined ratio (0/0) has no probability; it never reaches betai.
  if (std::isnan(F)) return F;
  if (F < 0) F = 0;
  return betai(nu2 / 2, nu1 / 2, nu2 / (nu1 * F + nu2));
}

double FRatioResidual(double F) {
  if (F < 0) F = 0;
  return betai(fNu2 / 2, fNu1 / 2, fNu2 / (fNu1 * F + fNu2)) - fTail;
}

double FRatioForConfidence(double P, double nu1, double nu2) {
  fNu1 = nu1;
  fNu2 = nu2;
  fTail = 1 - P;
  // The ratio usually lies in [1, 2]; with few degrees of freedom or a low
  // confidence it lies outside, and the bracket is widened until it holds
  // the root (the residual falls monotonically with F).
  double lo = 1.0, hi = 2.0;
  // Without degrees of freedom, or outside 0 < P < 1, there is no ratio.
  if (!(nu1 > 0 && nu2 > 0 && P > 0 && P < 1)) return std::numeric_limits<double>::quiet_NaN();
  {
    while (FRatioResidual(hi) > 0 && hi < 1e12) {
      lo = hi;
      hi *= 2;
    }
    while (FRatioResidual(lo) < 0 && lo > 1e-12) {
      hi = lo;
      lo /= 2;
    }
  }
  return statzbrent(FRatioResidual, lo, hi, 1e-7);
}

double gammln(double x) {
  static const double cof[6] = {76.18009172947146,     -86.50532032941678,
                                24.01409824083091,     -1.231739572450155,
                                0.1208650973866179e-2, -0.5395239384953e-5};
  double y = x;
  double tmp = x + 5.5;
  tmp -= (x + 0.5) * std::log(tmp);
  double ser = 1.000000000190015;
  for (double c : cof) ser += c / ++y;
  return -tmp + std::log(2.5066282746310007 * ser / x);
}

double betacf(double a, double b, double x) {
  constexpr int MAXIT = 10000;
  constexpr double EPS = 3.0e-7, FPMIN = 1.0e-30;
  const double qab = a + b, qap = a + 1, qam = a - 1;
  double c = 1, d = 1 - qab * x / qap;
  if (std::fabs(d) < FPMIN) d = FPMIN;
  d = 1 / d;
  double h = d;
  for (int m = 1; m <= MAXIT; ++m) {
    const int m2 = 2 * m;
    double aa = m * (b - m) * x / ((qam + m2) * (a + m2));
    d = 1 + aa * d;
    if (std::fabs(d) < FPMIN) d = FPMIN;
    c = 1 + aa / c;
    if (std::fabs(c) < FPMIN) c = FPMIN;
    d = 1 / d;
    h *= d * c;
    aa = -(a + m) * (qab + m) * x / ((a + m2) * (qap + m2));
    d = 1 + aa * d;
    if (std::fabs(d) < FPMIN) d = FPMIN;
    c = 1 + aa / c;
    if (std::fabs(c) < FPMIN) c = FPMIN;
    d = 1 / d;
    const double del = d * c;
    h *= del;
    if (std::fabs(del - 1) < EPS) return h;
  }
  nrfail("a or b too big, or MAXIT too small in betacf");
}

double betai(double a, double b, double x) {
  if (!(x >= 0 && x <= 1)) nrfail("Bad x in routine betai");
  double bt;
  if (x == 0 || x == 1)
    bt = 0;
  else
    bt = std::exp(gammln(a + b) - gammln(a) - gammln(b) + a * std::log(x) + b * std::log(1 - x));
  if (x < (a + 1) / (a + b + 2)) return x == 0 ? 0.0 : bt * betacf(a, b, x) / a;
  return x == 1 ? 1.0 : 1 - bt * betacf(b, a, 1 - x) / b;
}

double statzbrent(double (*f)(double), double x1, double x2, double tol) {
  constexpr int ITMAX = 100;
  constexpr double EPS = 3.0e-8;
  const double fa = f(x1), fb = f(x2);
  if (SameSign(fa, fb)) ErrorBox("Root must be bracketed in statzbrent");
  double root;
  if (BrentRoot(f, x1, x2, fa, fb, tol, EPS, ITMAX, &root)) return root;
  ErrorBox("Maximum number of iterations exceeded in statzbrent");
  return 0.0;
}
