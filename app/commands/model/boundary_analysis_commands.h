#pragma once
// The boundary analyses in the window: Run of the van Holde-Weischet and
// ls-g*(s) area-fraction models, and their plot of s against 1/sqrt(t),
// which the window paints over the data while it is shown.
class TXLAWindow;

void InstallBoundaryAnalyses(TXLAWindow& window);
// Drops the window from the hooks (the window goes).
void UninstallBoundaryAnalyses();
