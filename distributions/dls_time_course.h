#pragma once
// The DLS time course I(Rh, t): the loaded series of autocorrelation sets
// is cut into consecutive time windows of w minutes, the sets of each
// window are averaged into the earliest set (the work set, restored bit for
// bit afterwards), and one I(Rh) is computed per window, shown as it goes.
// The axis, the window times (s) and the distributions (one row per
// window) are written as "radii.dat", "times.dat" and "sizes.dat" into the
// data folder.
#include <vector>

// Sets at time positions first..last, centred at time (s).
struct DlsTimeWindow {
  int first = 0, last = 0;
  double time = 0.0;
};

// The windows of width w (min) over the set times t[1..n] (s, ascending):
// window 1 runs from the first set to the first set at or after 1.5 w; each
// further window from the set after the previous window to the first set
// at or after (v + 0.5) w, the last one to the last set. Windows without a
// set are left out. Empty for n < 1 or w <= 0.
std::vector<DlsTimeWindow> DlsTimeCourseWindows(const std::vector<double>& t, double widthMinutes);

// Run for "Continuous I(Rh,t)-Time-Course". One set: a plain RunContiSed.
// False when there is no window (width <= 0 refused with a message) or the
// grid cannot be set up. Step mode, only in an interactive session: a key
// pressed after a window pauses before the next; space goes one window
// on, "r" runs on, "s" stops (stopping writes the computed windows only).
bool RunContiSedAndShow();
