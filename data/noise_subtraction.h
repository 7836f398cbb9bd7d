#pragma once
// Taking the estimated systematic noise out of the loaded data, so that the
// user sees the data as the model sees them. The analysis is invariant to
// it; the data in memory change, the scan files do not.
//   TI noise: one offset per radius (on the common grid), the same in every scan.
//   RI noise: one offset per scan, the same at every radius.
// What was taken out is kept beside the estimate (tiNoiseSubtracted,
// riNoiseSubtracted), so that the noise reported is the whole noise found.

void SubtractTINoiseFromData();
void SubtractRINoiseFromData();
// Adds back all TI noise removed so far.
void RestoreTINoise();
void SubtractAllSystematicNoise();
void SubtractBaselineFromData();

// The Display-menu commands 508, 509, 519, 607 and the buffer-mismatch
// command 576, after the window's help-flag test: run condition, notice,
// worker, repaint. False when the condition failed and nothing was done.
bool RunNoiseCommand(int commandId);
