#include "lamm/fe_integrals.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr long double k3 = 1.0L / 3.0L;
constexpr long double k6 = 1.0L / 6.0L;
constexpr long double k12 = 1.0L / 12.0L;
constexpr long double k30 = 1.0L / 30.0L;
constexpr long double k60 = 1.0L / 60.0L;

bool Outside(int i, int j, int L) { return i < 1 || j < 1 || i > L || j > L || std::abs(i - j) > 1; }

}  // namespace

long double FEIntegralSedimentation(const double* x, int N, int i, int L) {
  L = std::min(N, L);
  if (i < 1 || i > L || L < 2) return 0;
  const long double a = (i > 1) ? x[i - 1] : 0, m = x[i], b = (i < L) ? x[i + 1] : 0;
  if (i == 1) return (b - m) * (2 * m + b) * k6;
  if (i == L) return m * m * k3 - m * a * k6 - a * a * k6;
  return (b - a) * (a + m + b) * k6;
}

long double FEIntegralMassNonUniform(const double* x, int N, int i, int j, int L) {
  L = std::min(N, L);
  if (Outside(i, j, L) || L < 2) return 0;
  if (i != j) {
    const long double a = x[std::min(i, j)], b = x[std::max(i, j)];
    return (b * b - a * a) * k12;
  }
  if (i == 1) {
    const long double a = x[1], b = x[2];
    return (b - a) * (3 * a + b) * k12;
  }
  if (i == L) {
    const long double a = x[L - 1], b = x[L];
    return (b - a) * (a + 3 * b) * k12;
  }
  const long double a = x[i - 1], m = x[i], b = x[i + 1];
  return (b - a) * (a + 2 * m + b) * k12;
}

long double FEIntegralDiffusionNonUniform(const double* x, int N, int i, int j, int L) {
  L = std::min(N, L);
  if (Outside(i, j, L) || L < 2) return 0;
  if (i != j) {
    const long double a = x[std::min(i, j)], b = x[std::max(i, j)];
    return -(a + b) / (2 * (b - a));
  }
  if (i == 1) {
    const long double a = x[1], b = x[2];
    return (a + b) / (2 * (b - a));
  }
  if (i == L) {
    const long double a = x[L - 1], b = x[L];
    return (a + b) / (2 * (b - a));
  }
  const long double a = x[i - 1], m = x[i], b = x[i + 1];
  return m * (b - a) / ((m - a) * (b - m));
}

long double FEIntegralSedimentationNonUniform(const double* x, int N, int i, int j, int L) {
  L = std::min(N, L);
  if (Outside(i, j, L) || L < 2) return 0;
  if (j == i + 1) {  // element [x_i, x_j]: the differentiated hat is its left one
    const long double a = x[i], b = x[j];
    return -(a * a + 2 * a * b + 3 * b * b) * k12;
  }
  if (j == i - 1) {  // element [x_j, x_i]: the differentiated hat is its right one
    const long double a = x[j], b = x[i];
    return (3 * a * a + 2 * a * b + b * b) * k12;
  }
  if (i == 1) {
    const long double a = x[1], b = x[2];
    return -(3 * a * a + 2 * a * b + b * b) * k12;
  }
  if (i == L) {
    const long double a = x[L - 1], b = x[L];
    return (a * a + 2 * a * b + 3 * b * b) * k12;
  }
  const long double a = x[i - 1], m = x[i], b = x[i + 1];
  return (a - b) * (a + 2 * m + b) * k12;
}

long double FEIntegralA(const double* x, int N, double meniscus, double bottom, int i, int j) {
  const long double h = (static_cast<long double>(bottom) - meniscus) / (static_cast<long double>(N) - 1);
  const long double r = x[i];
  if (i == 1) {
    if (j == 1) return h * k3 * (r + h / 4);
    if (j == 2) return h * k6 * (r + h / 2);
    return 0;
  }
  if (i == N) {
    if (j == N - 1) return h * k6 * (r - h / 2);
    if (j == N) return h * k3 * (r - h / 4);
    return 0;
  }
  if (j == i - 1) return h * k6 * (r - h / 2);
  if (j == i) return 2 * k3 * h * r;
  if (j == i + 1) return h * k6 * (r + h / 2);
  return 0;
}

long double FEIntegralB(const double* x, int N, double meniscus, double bottom, int i, int j,
                        int k) {
  if (i < 1 || j < 1 || k < 1 || i > N || j > N || k > N) return 0;
  const long double h = (static_cast<long double>(bottom) - meniscus) / (static_cast<long double>(N) - 1);
  const long double r = x[i];
  if (i == 1 && j == 1 && k == 1) return (3 * r + h) / (6 * h);
  if (i == N && j == N && k == N) return (3 * r - h) / (6 * h);
  // The end rows have only one element: no contribution from the missing side.
  const bool left = i > 1, right = i < N;
  if (j == i - 1) {
    if (!left) return 0;
    if (k == i - 1) return (2 * h - 3 * r) / (6 * h);
    if (k == i) return (h - 3 * r) / (6 * h);
    return 0;
  }
  if (j == i) {
    if (k == i - 1) return left ? (3 * r - 2 * h) / (6 * h) : 0;
    if (k == i) return r / h;
    if (k == i + 1) return right ? (3 * r + 2 * h) / (6 * h) : 0;
    return 0;
  }
  if (j == i + 1) {
    if (!right) return 0;
    if (k == i) return -(3 * r + h) / (6 * h);
    if (k == i + 1) return -(3 * r + 2 * h) / (6 * h);
    return 0;
  }
  return 0;
}

long double FEIntegralC(const double* x, int N, double meniscus, double bottom, int i, int j,
                        int k) {
  if (i < 1 || j < 1 || k < 1 || i > N || j > N || k > N) return 0;
  const long double h = (static_cast<long double>(bottom) - meniscus) / (static_cast<long double>(N) - 1);
  const long double r = x[i];
  if (j > k) std::swap(j, k);
  if (i == 1 && j == 1 && k == 1) return -(h * h + 5 * h * r + 10 * r * r) * k30;
  if (i == N && j == N && k == N) return (h * h - 5 * h * r + 10 * r * r) * k30;
  const bool left = i > 1, right = i < N;
  // The squared neighbour hats integrate to a third of the element, hence the
  // divisor 30 (not 60) on (i, i-1, i-1) and (i, i+1, i+1).
  if (j == i - 1 && k == i - 1) return left ? (6 * h * h - 15 * h * r + 10 * r * r) * k30 : 0;
  if (j == i - 1 && k == i) return left ? (3 * h * h - 10 * h * r + 10 * r * r) * k60 : 0;
  if (j == i && k == i) return -h * r * k3;
  if (j == i && k == i + 1) return right ? -(3 * h * h + 10 * h * r + 10 * r * r) * k60 : 0;
  if (j == i + 1 && k == i + 1) return right ? -(6 * h * h + 15 * h * r + 10 * r * r) * k30 : 0;
  return 0;
}
