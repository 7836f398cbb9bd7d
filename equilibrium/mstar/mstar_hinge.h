#pragma once
// The hinge point of an equilibrium profile and the c(M) summary of the M*
// analysis.
//
// Loading signal by conservation of mass in the sector from a to b (cm):
//   c0 = int_a^b (s(r) - b_d) r dr / ((b^2 - a^2)/2),
// the data summed by trapezoids up to the right fit limit R and the signal
// beyond R taken from a polynomial fitted to the bottom-extrapolation
// range. The hinge radius is where the profile crosses c0: there the
// apparent molar mass equals the loading average for ideal species.
#include <functional>
#include <string>
#include <vector>

#include "equilibrium/mstar/mstar_state.h"

// c0 of data set d; ok false (with the order box) when the bottom range
// holds too few points for the polynomial.
float MStarLoadingSignal(const MStarState& st, int d, bool* ok);

// The first window i .. i+m (m >= 1 the fewest points spanning the
// interval, cm, or reaching the last point) whose mean masked signal
// minus b_d exceeds c0: r_hinge the window's mean radius, Mwapp its mean
// of the selected form. Not found: zeros.
MStarHinge FindHingePoint(const MStarState& st, int d, float c0, float interval);

// The hinge-point dialogue for every data set: the loading signal with a
// manual override, the smoothing interval, the result. drawMarks(d) draws
// the hinge marks of data set d (may be empty). False when a prompt was
// cancelled.
bool ShowHingePointInfo(MStarState& st, const std::function<void(int d)>& drawMarks);

// The c(M) summary lines (rmsd, loading signal, Mw, spread, Mz) of the
// current distribution between the c(M) grid limits; empty without c(M)
// smoothing.
std::vector<std::string> CofMSummaryLines(const MStarState& st);
