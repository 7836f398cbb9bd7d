#pragma once
// The fit host of the window that is connected to the subsystems: what the
// commands hand the fit engine and the model evaluation. The wiring sets it
// when it connects the window (app/wiring/window_fit_host.h) and clears it
// when the window goes.

#include <string>

#include "fit/fit_host.h"

// Null without a connected window.
FitHost* MainFitHost();
void SetMainFitHost(FitHost* host);

// The box that says how a fit ended (a limit, a quantity the data do not
// determine, a stop away from a minimum) comes while the window still shows
// the picture of the fit's start: the curves of the first evaluation, the
// progress lines, a report of the end written beside them. While one of
// these lives, the fit keeps that box for the command to show once the
// window has painted the end of the fit.
class DeferredFitEndBox {
 public:
  DeferredFitEndBox();
  ~DeferredFitEndBox();
  DeferredFitEndBox(const DeferredFitEndBox&) = delete;
  DeferredFitEndBox& operator=(const DeferredFitEndBox&) = delete;
  // The kept box's text (empty when the fit ended without one); it is no
  // longer kept.
  std::string Take();
};

// True when the fit's end box is to be kept (a DeferredFitEndBox lives and
// keeps none yet): it is kept then and not shown.
bool KeepFitEndBox(const std::string& text);
