#pragma once
// The plots during a fit: the data, the residual plots, the residuals bitmap
// and the distribution, each as its update flag in PlotWindowSet asks.

// Redraws the plots chosen by the update flags, at most once per
// fitRedrawInterval (the first call always redraws).
void RedrawFitProgress();
