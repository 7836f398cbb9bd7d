#pragma once
// van Holde-Weischet analysis of sedimentation-velocity scans: each scan's
// boundary between baseline and plateau is cut into n equal steps of
// signal (boundary fractions j = 1..n, band j at baseline + (j -+ 1/2) w,
// w = plateau / (R + 1), a point placed by its value on the closest profile
// that rises monotonically from the inner end, so that noise on the
// plateau joins no band); the mean radius r_ij of fraction j in scan i gives
//   s*_ij = ln(r_ij / r_ref) 1e13 / (omega^2 (t_i + dt_ij))        (S)
// (r_ref the meniscus, or the bottom for flotation; dt the scanning delay
// (r - meniscus) 60 / v with the time-resolution option), and s*_j is
// extrapolated linearly against 1/sqrt(t) to infinite time, where diffusion
// no longer broadens the boundary: s*_ij = a_j + b_j / sqrt(t_i), each
// line through the scans that saw its fraction whole. The intercepts a_j
// against the boundary fraction j/(R + 1) are the integral distribution
// G(s), so they never fall with j (for flotation never rise): lines out of
// order are fitted under that constraint. Radii in cm, times in s, rotor
// speed in rpm.
#include <string>
#include <vector>

struct ScanSet;

struct VhwOptions {
  float resolution = 20.0f;  // R; n = floor(R) fractions
  bool flotation = false;
  float meniscus = 0.0f, bottom = 0.0f;
  bool timeResolution = false;
  float scanVelocity = 0.0f;  // v in cm/min
};

// Everything the analysis works out; scans i = 1..N in time order.
struct VhwAnalysis {
  VhwOptions options;
  int scans = 0;              // N
  int fractions = 0;          // n
  float resolution = 0.0f;    // R after any reduction
  bool reduced = false;       // R was lowered to avoid empty fractions
  // Sedimentation: scans whose boundaries no longer hold the whole loading
  // (the fastest material has passed the outer end of the fit range, so
  // the plateau lacks it) are left out; how many, and the loaded scan
  // numbers of those left out.
  int leftOut = 0;
  std::vector<int> leftOutScans;
  // Such scans are kept instead, whenever at least three complete ones give
  // the plateau's radial dilution (ln plateau against t, a parabola from
  // six scans on, else a line): the plateau of the whole loading at their
  // time is that prediction ([1..N], 0 for a scan with its own plateau).
  // Only the fractions below their outer end are seen whole in them, and
  // the lower fractions gain the late scans for their lines.
  std::vector<float> predictedPlateaus;
  int predicted = 0;
  float baseline = 0.0f;
  double omega = 0.0;         // rad/s
  std::vector<int> scanIndex;       // [1..N] scan number of position i
  std::vector<float> times;         // [1..N] s
  std::vector<float> plateaus;      // [1..N] above the baseline
  std::vector<float> fractionRadii; // [(i-1)*n + j-1]
  std::vector<float> apparentS;     // same layout, S
  std::vector<float> modelRadii;    // same layout
  // Same layout: 1 where scan i saw fraction j's whole band inside its fit
  // range; only those scans enter the fraction's line.
  std::vector<unsigned char> observed;
  std::vector<float> intercepts;    // [1..n] S
  std::vector<float> slopes;        // [1..n] S s^1/2
  std::string failure;              // why there is no result

  template <typename T>
  T& At(std::vector<T>& m, int i, int j) {
    return m[static_cast<size_t>(i - 1) * fractions + (j - 1)];
  }
  template <typename T>
  T At(const std::vector<T>& m, int i, int j) const {
    return m[static_cast<size_t>(i - 1) * fractions + (j - 1)];
  }
};

// The steps of the analysis on the scans of s (read only).
float EstimateVhwBaseline(const ScanSet& s, const VhwAnalysis& a, float tolerance);
void EstimateVhwPlateaus(const ScanSet& s, VhwAnalysis& a, float tolerance);
// Fraction radii per scan; a fraction whose band is not wholly inside a
// scan's fit range is marked unseen there (and shown at the nearer end when
// empty). False when a band the boundary crosses is empty, or a fraction
// was seen whole at fewer than two times.
bool DivideIntoBoundaryFractions(const ScanSet& s, VhwAnalysis& a);
void ComputeApparentS(VhwAnalysis& a);
// The lines of the fractions (through the scans marked observed, all when
// there is no record), their intercepts kept in the order of the fractions:
// the least-squares lines under that constraint, each line's residual sum
// weighted by the inverse of its scatter (never below the median).
void ExtrapolateToInfiniteTime(VhwAnalysis& a);

// The loading of a sedimentation scan by mass balance in the sector from the
// meniscus m to the last fit point R (the signal above the baseline):
//   c0 = (c_plateau R^2 - 2 int_m^R c r dr) / m^2,
// the same for every scan while all material is inside R; smaller once the
// fastest has passed it.
double VhwScanLoading(const ScanSet& s, int scan, float meniscus, float baseline, float plateau);

// Steps 1 to 8: true with a result; otherwise `failure` says why.
bool AnalyseVanHoldeWeischet(const ScanSet& s, const VhwOptions& o, VhwAnalysis& a);

// The step model of the scans drawn from the extrapolated lines: below the
// boundary of fraction 1 the baseline, between the boundaries of fractions
// j - 1 and j the level baseline + (j - 1/2) w, beyond the last the plateau.
void ComputeVhwModel(ScanSet& s, VhwAnalysis& a);

// The Run of the van Holde-Weischet model on the loaded scans: the result
// goes to the distribution (x = extrapolated s, y = boundary fraction), the
// scans' models, the baseline of the model and, when asked for, the
// extrapolation plot. False when refused or without a result (with a
// message).
bool RunVanHoldeWeischet();
// The analysis of the last successful run.
const VhwAnalysis& LastVhwAnalysis();
