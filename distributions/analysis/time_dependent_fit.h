#pragma once
// Apparent molar mass and sedimentation coefficient over time: the current
// discrete-species model (experimental initial condition) is fitted again
// and again to subsets of the scans, each time from the same start values,
// and species 1's M (Da, P[1]) and s (S, P[5]) are recorded per set.
//   increasing sets: scans 1..k,        k = 2..N,   at t_k
//   moving sets:     scans 1..k,        k = 2..W,   at (t_1 + t_k)/2,
//                    then j..j+W,       j = 1..N-W, at (t_j + t_j+W)/2
// The first scan of a set is its initial distribution. While a set is
// fitted the model evaluation, the amplitude and noise solves, the rmsd and
// the fit report see only the set's scans; the other scans keep their
// model values. Times in s.
#include <string>
#include <vector>

class FitHost;
struct ScanSet;

struct TimeDependentFitState {
  int setSize = 0;                // W
  unsigned char scanRange = 0;    // a set is being fitted
  int firstScan = 0, lastScan = 0;  // positions in time order of that set
  int scanCount = 0;              // N
  unsigned char increasingSets = 0, movingSets = 0;
  std::vector<float> times, molarMasses, sedimentation;  // [1..N-1]
  int entries = 0;                // filled entries
};
TimeDependentFitState& TimeDependentFit();

// The two series on the loaded scans with host's fit; false (with a
// message) when refused.
bool FitTimeDependentScanByScan(FitHost* host);
bool FitTimeDependentDcdt(FitHost* host, int setSize);

// Makes the scan at `position` (time order) of the current scan set its
// experimental initial distribution, with that scan's own record; the
// first scan also switches the experimental initial condition on.
void SetInitialScanForSet(int position);
void SetInitialScanToFirst();

// "MW(t).dat"/"S(t).dat" (increasing sets) or "MWdcdt.dat"/"Sdcdt.dat"
// (moving sets) in `folder`, lines "%e %e"; false when either failed.
bool SaveTimeDependentResults(const std::string& folder);
// The two file names of the last series.
std::string TimeDependentMassFile();
std::string TimeDependentSFile();
