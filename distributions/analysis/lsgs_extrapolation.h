#pragma once
// Extrapolation of ls-g*(s) area fractions against 1/sqrt(t). The scans, in
// time order, are taken in groups of g (consecutive, or sliding by one);
// each group gets its ls-g*(s) -- the least-squares distribution of
// non-diffusing boundaries, kernel c0 exp(-2 w^2 s t) behind m exp(w^2 s t),
// with the grid, noise elimination and regularisation of c(s) -- which is
// cut into N fractions of equal area; the s at the middle of fraction j in
// group k, s_kj, is fitted as s_kj = a_j + b_j / sqrt(t_k) (t_k the mean
// time of the group). The intercepts a_j (s at infinite time, where
// diffusion no longer spreads the boundary) against j L/(N + 1) are the
// integral distribution G(s), L the loading signal. A boundary model of N
// steps built from the lines is compared with all scans:
//   x_jk = w^2 t_j 1e-13 (b_k / sqrt(t_j) + a_k),  r_jk = m exp(x_jk),
//   step height exp(-2 x_jk) L / N beyond r_jk,
// its amplitude (and noise) solved algebraically; on request every line is
// refined by a Simplex fit of that model. s in S, t in s, r in cm.
#include <cstddef>
#include <vector>

struct LsgsRunState {
  int groups = 0;       // G
  int groupsDone = 0;
  int groupSize = 0;    // g
  int fractions = 0;    // N
  int gridPoints = 0;   // n
  double omega2 = 0.0;  // (rad/s)^2, rotor speed of the last scan
  float loadingSignal = 0.0f;
  std::vector<float> sGrid;               // [1..n]
  std::vector<float> groupDistributions;  // [(k-1)*n + i-1]
  std::vector<float> groupTimes;          // [1..G], s
  std::vector<char> groupUsable;          // [1..G], the group's distribution has area
  std::vector<float> fractionS;           // [(k-1)*N + j-1], S
  std::vector<float> refinement;          // [1..2N]: intercepts, then slopes
  int currentFraction = 0;

  float* Intercepts() { return refinement.data(); }  // [1..N]
  float* Slopes() { return refinement.data() + fractions; }  // [1..N]
  float& FractionS(int k, int j) { return fractionS[static_cast<size_t>(k - 1) * fractions + (j - 1)]; }
};
LsgsRunState& Lsgs();

// The whole run on the loaded scans; false when refused (with a message) or
// stopped.
bool RunLsgs();

// One group (positions p1..p2 in time order): kernels, normal equations,
// regularised solve, cut-off above the largest s still inside the fit
// limits in the group's first scan, and the scaling that makes the area
// equal to the total amplitude. Values into `values[1..n]`; false when
// stopped.
bool LsgsGroupDistribution(int p1, int p2, float* values);
// Fraction s-values of group k from its distribution; returns its area.
float LsgsFractionPositions(int k);
// The N-step boundary model of all scans from the lines; returns its rmsd
// and leaves the fitted loading signal in the state.
float LsgsExtrapolatedModel(const float* slopes, const float* intercepts);
// Simplex refinement of every fraction's line (two sweeps).
bool LsgsFitBoundaryFractions();
