#pragma once
// The fit report: one-line texts drawn into the top left of the main window
// after and during fits and on every repaint, composed from the current
// model state (files fitted, progress counters, rmsd, the model's principal
// parameters, meniscus, bottom, baseline, fit limits, residual tests, vbar and
// the correction terms), and the shorter set for printouts.
#include <string>

#include "fit/fit_report_inputs.h"

class FitHost;

// Lines 1..14 of the screen report (index 0 unused).
struct FitInfoLines {
  std::string line[15];
};

// Lines 1..12 of the printed report (index 0 unused).
struct PrintFitInfoLines {
  std::string line[13];
};

// Set from the parameter dialog in the area-extrapolation mode: ShowFitInfo
// then composes nothing.
extern unsigned char gFitReportSuppressed;

// Composes the fourteen lines from the current state (no drawing). Returns
// false, leaving the lines untouched, when the main window's drawing is off.
bool ComposeFitInfoLines(FitHost* host, FitInfoLines& lines);
// Composes and draws the report into the main window.
void ComposeFitInfoText(FitHost* host);
// Draws composed lines into the main window as ComposeFitInfoText does.
void DrawFitInfoLines(FitHost* host, const FitInfoLines& lines);
// ComposeFitInfoText unless the report is suppressed.
void ShowFitInfo(FitHost* host);
// The shorter composition for printouts; false (nothing composed) for the
// non-ideal multiple-species model or with drawing off.
bool ComposePrintFitInfoLines(FitHost* host, PrintFitInfoLines& lines);

// The last composition (what the window shows).
const FitInfoLines& LastFitInfoLines();
