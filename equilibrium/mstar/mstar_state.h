#pragma once
// The record of the M* analysis of sedimentation-equilibrium profiles: one
// radial profile per data set d = 1..N of the scan set, extended to the
// meniscus a and the bottom b (cm), and everything derived from it.
//
// With u(r) = c(r) - c_a the signal above its meniscus value c_a and
// k = (1 - vbar rho) w^2 / (2 R T), the M* function
//   M*(r) = u(r) / (2 k int_a^r u r' dr' + k c_a (r^2 - a^2))
// equals the buoyant-mass average of the loaded species at every r for an
// ideal solution, and M*(b) is the loading (signal-weighted) average Mw of
// the whole cell. Molar masses are kept in kDa.
//
// Ownership: every array is a std::vector owned by the record, indexed
// 1..n (element 0 unused) so that the one-based numerical code and the
// plot views read the same memory. Resizing a profile (a new extension of
// the profile) invalidates views; the plots rebuild their views from the
// record on every update. Reset() frees all.
#include <vector>

struct MStarSettings {
  bool cmSmoothing = false;       // replace the signal near the meniscus by the c(M) fit
  bool askMRange = true;          // ask the M range before the c(M) fit
  int sgHalfWidth = 20;           // points of the 1000-point resampling grid
  int sgOrder = 1;                // 1 = box
  int mwappHalfWidth = 10;        // moving mean over Mwapp, points
  int signalOrder = 2;            // polynomial order of the signal extrapolations
  int mstarOrder = 2;             // polynomial order of the M* extrapolation
  bool straightLineBasis = false; // meniscus extrapolation: straight line instead of polynomial
  bool dlncForm = false;          // Mwapp as (1/k) dlnc/dr^2 instead of (1/k)(1/2)(1/(c r)) dc/dr
  bool mwappAgainstRadius = false;  // Mwapp plotted against r instead of the total signal
};

inline constexpr int kMStarGridPoints = 100;
inline constexpr int kMStarResamplePoints = 1000;

struct MStarDataSet {
  int n = 0;  // points of the extended profile
  int iFirst = 0, iLast = 0;  // first and last point inside the fit limits
  int leftExtension = 0, rightExtension = 0;
  int ma = 0, mb = 0;  // points nearest to the meniscus and the bottom
  int meniscusFirst = 0, meniscusLast = 0;  // points inside the meniscus-extrapolation range

  // [1..n]
  std::vector<float> s, r, y, f;  // masked signal, radii, extended signal, c(M) fit
  std::vector<float> r2, rCopy;
  std::vector<float> lncRaw, lncSmooth, cRaw, cSmooth, lncLine, lnf;
  std::vector<float> mstar, mstarFit;  // kDa
  std::vector<float> mwappDlnc, mwappDcdr, mwappFit;  // kDa

  // [1..100]
  std::vector<float> baselineRadii, baselineValues;
  std::vector<float> meniscusGrid, meniscusSignal;
  std::vector<float> bottomGrid, bottomMStar;
  // markers: meniscus [1..2], Mwavg [1]
  std::vector<float> meniscusMarkerX, meniscusMarkerY, mwavgMarkerX, mwavgMarkerY;

  // The Mwapp form that the settings select (display and copies).
  const std::vector<float>& SelectedMwapp(const MStarSettings& st) const {
    return st.dlncForm ? mwappDlnc : mwappDcdr;
  }
};

// Where the hinge point was found (data set d): r_hinge (cm), Mwapp there
// (kDa) and the loading signal c0 above the baseline; 0 when none.
struct MStarHinge {
  float loading = 0;
  float radius = 0;
  float mwapp = 0;
  bool found = false;
};

struct MStarState {
  // Flags
  bool analysisMade = false;   // since the program started
  bool screenShown = false;    // the screen is up (mouse, keys, paint)
  bool analysisActive = false; // the analysis holds its results
  bool arraysExisted = false;
  bool negativeMStar = false;  // a negative M* or a vanishing denominator was met

  MStarSettings settings;
  // Extrapolation ranges [1] lower, [2] upper (cm); element 0 unused.
  float meniscusRange[3] = {};
  float bottomRange[3] = {};

  int count = 0;  // N
  std::vector<float> k, ca, mwavg, mwLin;  // [1..N]; k in 1/(cm^2 g/mol)
  std::vector<MStarDataSet> sets;          // [1..N]
  std::vector<MStarHinge> hinge;           // [1..N], after ShowHingePointInfo

  bool HasData() const { return count > 0 && static_cast<int>(sets.size()) == count + 1; }
  // Frees every array; flags and settings stay.
  void FreeData();
};

MStarState& CurrentMStarState();
