#include "lamm/radial_nodes.h"

#include <cmath>

void EvenNodes(double m, double b, int N, double* r) {
  for (int i = 1; i <= N; ++i) r[i] = m + (i - 1) * (b - m) / (N - 1);
}

void CellCentredNodes(double m, double b, int N, double* r) {
  for (int i = 1; i <= N; ++i) r[i] = m + (i - 0.5) * (b - m) / N;
}

void MovingFrameNodes(double m, double b, int N, bool towardsBottom, double* r) {
  const double q = std::pow(b / m, 1.0 / (N - 1));
  r[1] = m;
  r[2] = towardsBottom ? m * std::pow(b / m, 0.5 / (N - 1)) : m * std::pow(b / m, 1.5 / (N - 1));
  for (int i = 3; i <= N - 1; ++i) r[i] = r[i - 1] * q;
  r[N] = b;
}

int GradedNodes(double m, double b, double Rt, double h0, int maxNodes, double* r) {
  int count = 1;
  double x = m;
  if (r) r[1] = m;
  while (x <= Rt && x + h0 < b) {
    if (count >= maxNodes - 1) return 0;
    x = m + count * h0;
    ++count;
    if (r) r[count] = x;
  }
  while (true) {
    const double next = x + h0 * std::sqrt((Rt / x) * ((x - m) / (Rt - m)));
    if (next >= b) break;
    if (count >= maxNodes - 1) return 0;
    x = next;
    ++count;
    if (r) r[count] = x;
  }
  // A last node a hair short of the bottom would leave an element far below
  // its neighbours (seen: 7e-9 cm beside 6e-3 cm): it carries no resolution
  // and scales its rows badly, so the bottom takes its place.
  constexpr double kSmallestLastElement = 0.01;
  if (count > 1 && b - x < kSmallestLastElement * h0) {
    if (r) r[count] = b;
    return count;
  }
  ++count;
  if (r) r[count] = b;
  return count;
}
