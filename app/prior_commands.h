#pragma once
// The prior dialog of the regularised c(s) ("Generate Prior Probability
// From Peaks", template 776): filled from the prior state Priors(), run
// modally, and its answers applied.
class TXLAWindow;

void RunPriorProbabilityDialog(TXLAWindow& window);
