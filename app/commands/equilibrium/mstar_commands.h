#pragma once
// The M* analysis in the main window: the transformation command, its
// screen of four plots (the signal plot in the data plot's place), the
// c(M) set-up, the reset, and the clipboard copies of its curves.
class TXLAWindow;

// Builds (or rebuilds) the analysis and shows the screen.
void RunMStarTransformation(TXLAWindow& w);
// The c(M) analysis that c(M) smoothing needs, then the transformation.
void MStarTransformationSetup(TXLAWindow& w);
// Recomputes every result from the current settings and ranges and redraws.
void ComputeMStarFitAndShow(TXLAWindow& w);
// Ends the analysis: plots and arrays freed, the data plot back in place.
void ResetMStarAnalysis(TXLAWindow& w);
// The hinge-point dialogue with its marks on the plots.
void ShowMStarHingePointInfo(TXLAWindow& w);
bool MStarScreenShown();

// Hooks of the window (paint, model selection); the disconnect ends a
// shown analysis without repainting.
void ConnectMStarAnalysis(TXLAWindow& w);
void DisconnectMStarAnalysis();
