#pragma once
// The fit host of the window that is connected to the subsystems: what the
// commands hand the fit engine and the model evaluation. The wiring sets it
// when it connects the window (app/wiring/window_fit_host.h) and clears it
// when the window goes.

#include "fit/fit_host.h"

// Null without a connected window.
FitHost* MainFitHost();
void SetMainFitHost(FitHost* host);
