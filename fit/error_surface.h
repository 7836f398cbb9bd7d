#pragma once
// Confidence limits of one parameter by projection of the error surface:
// the parameter is held at trial values, every other floated quantity is
// refitted, and the trial value moves until the refitted rmsd meets a
// critical rmsd.
class FitHost;

enum class ScanLimitStatus {
  Found,          // the refitted rmsd met the critical rmsd
  NotDetermined,  // the data do not fix the limit (refit budget or step exhausted)
  Stopped,        // the user stopped the scan
};

struct ScanLimit {
  float value = 0;
  ScanLimitStatus status = ScanLimitStatus::NotDetermined;
};

// A side gives up after this many refits.
constexpr int kMaxRefitsPerSide = 200;

// Refits every floated quantity (restarted Nelder-Mead until converged) and
// returns the best rmsd; 0 when the fit limits are refused, -1 when a stop
// was requested before the call. Leaves the best fit in the model.
float FitWithFixedParameters(FitHost* host);

// Limits of s (P[5], species 1) and of M or D (P[1], species 1) for the
// step and the critical rmsd. The scanned parameter is left fixed; every
// other parameter value is restored on every exit, a stop included.
void CalcErrorInS(FitHost* host, float step, float criticalRmsd, ScanLimit* lower, ScanLimit* upper);
void CalcErrorInM(FitHost* host, float step, float criticalRmsd, ScanLimit* lower, ScanLimit* upper);

// Rmsd maps of the error surface: the scanned parameters are held at the
// nodes of a grid, everything else floated is refitted at each node. The
// scanned parameters stay fixed afterwards, at the values of the last node.

// Nodes of one axis: floor((to - from) / step + 1e-5) + 1; below 1 when the
// step points away from the range (or is 0) - such a map is refused.
int ContourNodeCount(float from, float to, float step);

struct ContourAxis {
  float from = 0, to = 0, step = 0;
};

// Two-parameter map. Level 0 records the raster (x, y, rmsd) from the start
// node, the first column from the start y upwards, the following columns
// sweeping the whole y range alternately down and up; a positive level
// traces the boundary where the rmsd crosses it and writes the interpolated
// crossing points, the first repeated last (an empty file, with a message,
// when there is none). Returns false, writing nothing, when an axis has no
// node.
bool ContourSM(FitHost* host, const char* fileName, ContourAxis s, ContourAxis m, float level, float startS,
               float startM);
bool ContourS1S2(FitHost* host, const char* fileName, ContourAxis s1, ContourAxis s2, float level, float startS1,
                 float startS2);
// Profile (lg K, rmsd) over the self-association constant.
bool ContourLogK(FitHost* host, const char* fileName, ContourAxis logK);

// "%d: (%.2f , %.2f) %f" drawn at x = 350 px on line 1..15 of the progress
// column, the line counter running on across maps.
void ShowContourProgress(FitHost* host, float a, float b, float rmsd, int node);
