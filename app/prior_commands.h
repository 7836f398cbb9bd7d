#pragma once
// The prior dialog of the regularised c(s) ("Generate Prior Probability
// From Peaks", template 776): filled from the prior state of Priors() and
// PriorDialog(), run modally, and its answers applied.
class TXLAWindow;

void RunPriorProbabilityDialog(TXLAWindow& window);
