#pragma once
// The four plots of the M* analysis screen, drawn from the arrays of the
// analysis record (equilibrium/mstar/mstar_state.h): the signal A(r) with
// its meniscus extrapolation (upper left, standing in the data plot's
// place of PlotWindowSet while the screen is shown), M*(r) with the bottom
// extrapolation (lower left), ln c against r^2 (upper right) and the
// apparent molar mass (lower right). Curves are added in groups of N data
// sets: curve index = group x N + d - 1.
//
// Ownership: the plots own nothing of the record. Views and curves are
// owned here and rebuilt by every UpdateMStarPlots, so arrays that the
// analysis replaced are never read through stale views. The signal plot is
// owned here too; while it stands in the data plot's place, the data plot
// and its geometry are kept here and put back by FreeMStarSignalPlot.
#include <functional>
#include <memory>
#include <vector>

#include "platform/draw_context.h"

class CScreenButton;
class CWINPlot;
class CCurve;
class CVector;
struct MStarState;
struct MStarButtonSpec;

struct MStarPlotSet {
  std::unique_ptr<CWINPlot> signal, mstar, lnc, mwapp;
  std::vector<std::unique_ptr<CVector>> views;
  std::vector<std::unique_ptr<CCurve>> curves;
  // The data plot and its top and bottom while the signal plot has their place.
  CWINPlot* savedDataPlot = nullptr;
  int savedTop = 0, savedBottom = 0;
  bool placed = false;

  bool Built() const { return signal || mstar || lnc || mwapp; }
};

MStarPlotSet& CurrentMStarPlots();

// Creates the signal plot and puts it in the data plot's place.
// reclaimed runs when something else is about to replace or delete the
// data plot meanwhile (a load, a new layout): it must end the screen.
void BuildMStarSignalPlot(MStarState& st, std::function<void()> reclaimed);
void BuildMStarPlot(MStarState& st);
void BuildLnCPlot(MStarState& st);
void BuildMwappPlot(MStarState& st);

// Curves over the record's current arrays, curve ranges, axis texts, axis
// ranges, and a new picture of every existing plot.
void UpdateMStarPlots(MStarState& st);

void FreeMwappPlot();
void FreeLnCPlot();
void FreeMStarPlot();
// Destroys the signal plot and gives the data plot its place and geometry back.
void FreeMStarSignalPlot();
// All four, in the order Mwapp, ln c, M*, signal.
void FreeMStarPlots();

// The hinge marks of data set d in plot space (copy pen): vertical lines at
// r_hinge on the signal plot, r_hinge^2 on the ln c plot and r_hinge or
// c0 - b_d on the Mwapp plot; horizontal lines at c0 + b_d on the signal
// plot and at Mwapp(r_hinge) on the Mwapp plot.
void DrawMStarHingeMarks(platform::DrawContext& dc, const MStarState& st, int d);

// An on-screen button of the M* screen from its table entry: toggled by its
// handler only, caption raised, face recorded.
std::unique_ptr<CScreenButton> MakeMStarButton(const MStarButtonSpec& spec);
// The caption height that lets the longer of its two captions fit the
// button's width (between 7 and 16 plot-space units, at most its height).
