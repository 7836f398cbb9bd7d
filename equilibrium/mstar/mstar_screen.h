#pragma once
// The buttons of the M* screen as data: which slot holds which control,
// where it stands and what it shows. The window makes on-screen buttons of
// this table and routes clicks, drags and typed values back here.
//
// Positions are in screen units: y 0..1000 down the client area, button x
// 0..1400 across it. Button sizes follow the client area in pixels (W x H,
// 1400 x 1000 before the first paint): the height h = 18 H / 1000 and the
// text width w = k L W / 1400 for a caption of L characters (k = 2.5, 3.0
// for the baselines).
//
// Slots run 1..4N + 9 for N data sets:
//   1 signal extrapolation, 2 Savitzky-Golay smoothing of ln c and c,
//   3 moving mean over Mwapp, 4 M* extrapolation, 5 individual baselines
//   (N >= 2), 6 c(M) smoothing, 7 hinge point, 8 Mwapp form,
//   8 + i Mwavg(i), 8 + N + i linear fit(i), 8 + 2N + i baseline(i),
//   8 + 3N + i signal at the meniscus (i), 4N + 9 Mwapp abscissa.
// Slots 1, 4 and 8 + N + i are empty with c(M) smoothing on.
#include <cstdint>
#include <string>
#include <vector>

#include "equilibrium/mstar/mstar_state.h"

// While one is on, the next right-mouse drag sets that range instead of
// zooming.
struct MStarScreenRequests {
  bool meniscusRange = false;
  bool bottomRange = false;
  bool Pending() const { return meniscusRange || bottomRange; }
};
MStarScreenRequests& CurrentMStarRequests();

enum class MStarAction {
  None,
  SignalExtrapolation,
  SgSmoothing,
  MwappMean,
  MStarExtrapolation,
  IndividualBaselines,
  CofMSmoothing,
  HingePoint,
  MwappForm,
  MwavgText,
  LinearFitText,
  Baseline,
  MeniscusSignal,
  MwappAbscissa,
};

int MStarSlotCount(int N);
// The action of a slot and its data set (1..N; 0 for the fixed slots).
MStarAction MStarSlotAction(int slot, int N, int* dataSet);

struct MStarButtonSpec {
  bool exists = false;
  std::string caption, onCaption;
  std::uint32_t offFill = 0, onFill = 0;  // 0x00bbggrr
  float top = 0, left = 0, bottom = 0, right = 0;
  bool pressed = false;
  // Pixels a unit down over pixels a unit across, of the window the table
  // is made for: the captions' characters are that much narrower in units.
  float aspect = 1;
};

// The table for the current analysis, [0] unused. riNoise: the individual
// baselines are in use; interference: the signal is in fringes.
std::vector<MStarButtonSpec> MStarButtonLayout(const MStarState& st, bool riNoise, bool interference,
                                               float clientWidth, float clientHeight);

// Captions of the typed settings.
std::string MStarSgCaption(const MStarSettings& s);
std::string MStarMwappMeanCaption(const MStarSettings& s);
std::string MStarMeniscusSignalCaption(int d, float ca, bool interference, bool fixed);

// Typed values, kept where the smoothing and the extrapolations can use
// them: half-widths (typed as a percentage, stored as points of the
// 1000-point resampling grid) 1..499, Savitzky-Golay orders 0..10 and at
// most 2 x half-width, extrapolation orders 0..2.
int MStarHalfWidthFromPercent(float percent);
int MStarSgOrderFromTyped(float typed, int halfWidth);
int MStarExtrapolationOrderFromTyped(float typed);

// Radius (cm) under pixel column px of a plot with the x transform
// X = r xScale + xOffset (log10 r on a logarithmic axis), X in plot units
// X = trunc(trunc(px) 1400 / W); X = 0 when W <= 0.
double MStarRadiusAtPixel(double px, double clientWidth, double xOffset, double xScale, bool logX);
