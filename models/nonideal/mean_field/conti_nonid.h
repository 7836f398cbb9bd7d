#pragma once
// CContiNonid: the mean-field total concentration of the nonideal c(s).
// Every species k of the distribution sediments with s(ctot) and D(ctot)
// (CLammNonIdeal) in the field of all species together,
//
//   ctot(r, t) = sum_k c_k P_k(r, t),
//
// c_k the fitted amplitudes (signal units), P_k the species' unit-loading
// profile. Before a distribution exists ctot comes from the data
// themselves: a table of the radii at which the total signal of the scans
// reaches each of L levels at 100 times (ExtrapolateFromData), extrapolated
// back to the times before the first scan. Radii in cm, times in s, ctot in
// signal units. All arrays are 1-based.
#include <vector>

#include "data/scan_fingerprint.h"

class CCtotMovie;

// The scans the data table is made of, in time order, on a common grid.
struct ExtrapolationInput {
  int scans = 0;
  const double* times = nullptr;        // [1..scans], ascending
  const float* const* signals = nullptr;  // [1..scans][1..gridLength], noise removed
  const float* grid = nullptr;          // [1..gridLength], cm
  int first = 1, last = 0;              // grid points inside the fit limits
  double meniscus = 0, bottom = 0;
  int lammGridPoints = 100;
};

class CContiNonid {
 public:
  explicit CContiNonid(int movieGridSize = 500, int profileRadii = 100);
  ~CContiNonid();
  CContiNonid(const CContiNonid&) = delete;
  CContiNonid& operator=(const CContiNonid&) = delete;

  // ---- data-extrapolation table ---------------------------------------
  bool AllocExtrapolationWorkspace(int scans, int lammGridPoints);
  void FreeExtrapolationWorkspace();
  // Builds the table; false (no table) when the data hold no signal or no
  // time. Levels L = min(100, Lamm grid points), a = 0.001 Smax,
  // b = Smax - 0.001 (Smax - a).
  bool ExtrapolateFromData(const ExtrapolationInput& in);
  double TableRadius(int time, int level) const { return table_[time][level]; }
  double BoundaryPosition(int scan, int level) const { return boundary_[scan][level]; }

  // ---- frames ------------------------------------------------------------
  // 0, 20, ... 200 s, then every 100 s up to the first time not below the
  // last scan (at least 11 frames); a movie's own times when it holds a field.
  void BuildFrameTimes(double lastScanTime, const CCtotMovie* movie);
  void FreeFrameTimes();
  // One profile per species and frame on profileRadiiCount radii equally
  // spaced over meniscus..bottom.
  bool AllocProfileStore(int species, double meniscus, double bottom);
  void FreeProfileStore();
  // ctot = sum of c_k P_k over species first..last, amplitudes[k] in signal
  // units; regridded (forced) onto movieGridSize radii over meniscus..bottom.
  void ComputeCtotFromFit(int first, int last, const double* amplitudes, double meniscus, double bottom);
  void AllocCtotFrames(double meniscus, double bottom);
  void FreeCtotFrames();
  // Linear interpolation of every frame onto `points` radii over
  // meniscus..bottom; unforced, nothing is done when they are unchanged.
  void RegridCtotFrames(double meniscus, double bottom, int points, bool force);
  // The movie's field into the frames (signal units), moved with targetMeniscus.
  bool LoadExternalCtot(const CCtotMovie& movie, double meniscus, double bottom, double signalPerMg);

  // The solver's view of the regridded frames: frame f at regridded node i.
  float* const* RegriddedFrames() { return regriddedRows_.data(); }
  float*** ProfileStore() { return storeSpecies_.data(); }

  // ---- state (the record's fields) ---------------------------------------
  bool extrapolationPass = false;
  bool meanFieldPass = true;
  int movieGridSize = 500;
  bool workspaceAllocated = false;
  int levelCountRequested = 100;
  int extrapolationTimes = 100;
  int levelCount = 100;
  double earlyTimeFactor = 2.0;
  std::vector<double> tableTimes;  // [1..extrapolationTimes]
  std::vector<double> levels;      // [1..levelCount]
  double signalMaximum = 0, lowestLevel = 0, levelStep = 0;
  bool tableBuilt = false;
  int tableScans = 0;

  bool frameTimesPresent = false;
  std::vector<double> frameTimes;  // [1..frameCount]
  int frameCount = 0;
  bool recordProfiles = true;
  bool profileStorePresent = false;
  std::vector<float> profileRadii;  // [1..profileRadiiCount]
  int storeSpeciesCount = 0;
  int storeFrameCount = 0;
  int profileRadiiCount = 100;

  bool ctotFramesPresent = false;
  std::vector<float> extendedRadii;          // [1..profileRadiiCount + 2]
  std::vector<std::vector<float>> ctotFrames;  // [frame][1..profileRadiiCount + 2]
  bool ctotValid = false;
  double fieldChiSquare = -1.0;
  bool fieldJustRefined = false;
  CSVDataFingerPrint fingerprint;
  int regriddedCount = 0;
  float gridStart = 0, gridEnd = 0;
  std::vector<float> regriddedRadii;            // [1..regriddedCount]
  std::vector<std::vector<float>> regridded;    // [frame][1..regriddedCount]
  bool externalInUse = false;

  // Row pointers of the table (for the solver's matrix).
  const double* const* TableRows() const { return tableRows_.data(); }

 private:
  void RebuildRegriddedRows();

  std::vector<std::vector<double>> boundary_;  // [scan][level]
  std::vector<std::vector<double>> table_;     // [time][level]
  std::vector<const double*> tableRows_;
  std::vector<float> store_;                 // every profile in one block
  std::vector<float*> storeRows_;            // [(k - 1)(F + 1) + f]
  std::vector<float**> storeSpecies_;        // [k] -> rows of species k, [f]
  std::vector<float*> regriddedRows_;
};
