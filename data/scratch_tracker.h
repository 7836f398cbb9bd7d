#pragma once
// Following one feature of the time-invariant noise (a scratch on a window)
// across the scans: rotor stretch and optical drift move it a little from
// scan to scan. In a window of k grid points x_j around the chosen radius,
// scan i is sampled at x_j + t_i (t in cm, t_1 = 0) and the shifts t_2..t_N
// are searched that make the scans agree best, up to a scan offset and a
// scan slope:
//
//   S_ij = signal_i(x_j + t_i)                  (linear interpolation on the grid)
//   R_ij = S_ij - M_j - m_i + G                 (M_j point means, m_i scan means, G grand mean)
//   b_i  = sum_j R_ij dx_j / Sxx                (dx_j = x_j - mean x, Sxx = sum dx_j^2)
//   E    = 1000 sum_ij (R_ij - b_i dx_j)^2 / sqrt(k N)
//
// E is minimised by a Nelder-Mead simplex over t_2..t_N, each coordinate
// clamped to +-0.1 cm, restarted from Gaussian-scattered simplices until
// two restarts in a row no longer lower E by 0.001. Kept results are stored
// (at most 99) and written as a text file: slopes (signal/cm) and shifts
// (cm) of every scan for every scratch.
#include <string>
#include <vector>

struct ScanSet;

// Asked by the tracking command, kept between runs.
struct ScratchTrackerSettings {
  double windowWidth = 0.01;       // cm
  double randomizeShift = 0.002;   // cm, sigma of the scattered simplex vertices
  double rmsdPrecision = 0.001;
};
ScratchTrackerSettings& CurrentScratchTrackerSettings();

enum class ScratchWindowResult {
  Ok,
  OutsideFitLimits,  // no grid point beyond the radius inside the fit limits
  PastGrid,          // the window would read outside the grid
  TooFewPoints,      // fewer than 5 window points: nothing to interpolate onto
  TooFewScans,       // one scan leaves no shift to search
};

class CScratchTracker {
 public:
  static constexpr int kCapacity = 100;  // rows of the store; row 100 is never filled
  static constexpr int kMaxStored = kCapacity - 1;
  static constexpr double kTolerance = 0.001;
  static constexpr double kShiftBound = 0.1;  // cm

  // ---- the store of kept scratches (lives while the mode is active)
  void BeginStore(int scans);
  void FreeStore();
  // Keeps the last result as the next row; false (nothing kept) when the
  // store is full or there is no result.
  bool StoreScratch();
  int StoredCount() const { return storedCount_; }
  bool StoreFull() const { return storedCount_ >= kMaxStored; }
  // Grid index of the centre of stored scratch row (1-based).
  int StoredCentre(int row) const { return storedCentre_[row]; }
  // "%d %d" (scratches, scans) and each centre radius, then per scan in
  // display order the slope and shift of every scratch. False when the file
  // cannot be written or nothing is stored.
  bool WriteScratchFile(const std::string& path) const;
  float StoredSlope(int row, int position) const { return storedSlope_[row][position]; }
  float StoredShift(int row, int position) const { return storedShift_[row][position]; }

  // ---- one click
  // Window size from the grid for width w (cm): k = 1, 3, 5, ... until
  // grid[k + 1] - grid[1] reaches w or k exceeds 100; sizes the work state.
  ScratchWindowResult PrepareWindow(const ScanSet& s, double width, double randomizeSigma);
  // Centres the window on the first grid point beyond r (cm) inside the
  // fit limits.
  ScratchWindowResult SetPosition(double r);
  // E for shifts[1..N] (cm); also leaves S, F and the outputs for them.
  double Evaluate(const double* shifts);
  // The restarted simplex search from all shifts 0; returns the final E.
  double OptimizeShifts();
  void FreeWork();
  bool HasWork() const { return k_ > 0; }

  // Nelder-Mead on vertices p[1..n+1][1..n] with values y[1..n+1]; the best
  // vertex ends in row 1. 0 when converged, 1 for a zero objective (the
  // relative test is undefined), 2 after too many evaluations.
  int OptimizeShiftNelderMead(double** p, double* y, int n, double ftol);

  // ---- results, by display position p = 1..N
  int windowPoints() const { return k_; }
  int halfWidth() const { return h_; }
  int centreIndex() const { return centre_; }
  int firstIndex() const { return first_; }
  int scans() const { return n_; }
  double objective() const { return e_; }
  long evaluations() const { return evaluations_; }
  int restarts() const { return restarts_; }
  double windowRadius(int j) const { return x_[j]; }
  const std::vector<double>& slopesOut() const { return slopesOut_; }
  const std::vector<double>& shiftsOut() const { return shiftsOut_; }
  const std::vector<double>& centreRadius() const { return centreRadius_; }
  const std::vector<double>& centreValue() const { return centreValue_; }
  double currentShift(int scan) const { return current_[scan]; }
  // Scan i's fitted surface F[i][1..k] against its shifted radii [1..k].
  const double* fitted(int scan) const { return fitted_[scan].data(); }
  const double* shiftedRadii(int scan) const { return shifted_[scan].data(); }

 private:
  double EvaluateFree(const double* free);  // free[1..N-1] = shifts of scans 2..N
  void FillSimplex(const double* centre);
  int BestVertex() const;
  double Try(double** p, double* y, double* psum, int n, int worst, double factor);

  const ScanSet* set_ = nullptr;
  int n_ = 0, k_ = 0, h_ = 0, centre_ = 0, first_ = 0;
  double sigma_ = 0, meanX_ = 0, sxx_ = 0, e_ = 0, precision_ = 0;
  long evaluations_ = 0, nmEvaluations_ = 0;
  int restarts_ = 0;
  std::vector<double> x_, dx_, trial_, current_, scanMean_, pointMean_, slope_;
  std::vector<std::vector<double>> sampled_, fitted_, shifted_, residual_;
  std::vector<double> slopesOut_, shiftsOut_, centreRadius_, centreValue_;
  // Simplex work: N vertices of N - 1 coordinates.
  std::vector<std::vector<double>> vertexRows_;
  std::vector<double*> vertices_;
  std::vector<double> values_, psum_, ptry_, free_;

  int storedCount_ = 0, storedScans_ = 0;
  std::vector<int> storedCentre_;
  std::vector<float> storedRadius_;  // grid radius of each centre (cm)
  std::vector<std::vector<float>> storedSlope_, storedShift_;  // [row][position]
};
