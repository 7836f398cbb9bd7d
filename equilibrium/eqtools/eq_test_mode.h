#pragma once
// The test of approach to equilibrium: for every series of scans (one cell,
// wavelength and speed) how far each scan still differs from the series'
// last scan as a function of time, the difference of the last two scans and
// the shape of the last scan. This is the mode's state and arithmetic; the
// window draws the plots and asks the questions.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "equilibrium/eqtools/eq_data_tools.h"

struct EqTestSeries {
  EqSeries scans;
  float rmsdLastTwo = 0;
  bool lastSpeed = false;  // recorded at the run's last rotor speed
  // Curves, one-based: time difference to the last scan (h) and rmsd of
  // each earlier scan; radius and offset-corrected difference of the last
  // two scans; centred radius and relative signal of the last scan.
  std::vector<float> dt, rmsd, diffR, diff, relR, rel;
  int Count() const { return static_cast<int>(scans.scans.size()); }
  int Last() const { return scans.scans.back(); }
  int First() const { return scans.scans.front(); }
};

struct EqTestSeriesSet {
  std::vector<EqTestSeries> series;  // series i at [i - 1]
  // Kept by series number across regroupings: comparison range in the
  // points of the last scan (0 = not yet set) and the included flag.
  std::vector<int> first, last;
  std::vector<bool> included;
  // (cell, wavelength) pairs; a scan matches within 5 nm.
  std::vector<std::pair<int, float>> excluded, accepted;
  double highestSpeed = 0, nextLowerSpeed = 0;
  bool oneCellOnly = true;
  int oneCell = 0;
  int curveCount = -1;  // series count the curves were made for
  std::uint8_t testMode = 0;  // Run and Fit make test passes; the loaders read it
  bool testPlots = false;
  bool selecting = false;  // the window paints the comparison range of `shown`
  int shown = 0;

  int Count() const { return static_cast<int>(series.size()); }
  // Makes room for the per-number fields of n series.
  void Reserve(int n);
};
EqTestSeriesSet& EqTest();
// Whether the test is on (the paint, the plot input, Run and the parameter
// dialog ask it).
inline bool EqTestModeOn() { return EqTest().testMode != 0; }

bool IsExcludedEqTestSeries(int scan);
bool IsAcceptedEqTestSeries(int scan);

// Regroups the loaded scans into the record's series: ordered by speed
// (unless a rotor-speed profile is in use), last-speed marks, included
// flags from the excluded list, the data-set extensions of the realtime
// update, the highest and next lower speed. Returns the series count.
int GroupEqTestSeries();

// The comparison range of series i from the fit limits of its last scan.
void SetEqTestRangeFromFitLimits(int i);
// New comparison range from radii: the first point beyond rMin to the last
// below rMax (given in either order). False, range unchanged, when no point
// lies between them.
bool SetEqTestRangeFromRadii(int i, float rMin, float rMax);

// The curves of every series of more than one scan (one test pass).
void MakeEqTestCurves();

// Files "<name>_<i><ext>" for every included series of more than one scan:
// per earlier scan "%f %f %f" elapsed time (h), time difference to the last
// scan (h), rmsd. Stops at the first file that cannot be opened. Returns
// the paths written.
std::vector<std::string> SaveEqTestFiles(const std::string& chosenPath);
