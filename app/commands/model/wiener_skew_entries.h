#pragma once
// The Wiener skewing correction's entries as the model sees them: the
// question "Parameters" asks while the correction is on, the fit vector's
// entry and the fit report's lines.
class TXLAWindow;
struct FitReportInputs;
struct FitOptionEntries;

// Asks the Wiener skewing magnitude (1e-6 cm^2 ml/mg, with its fit flag) and
// the signal per mg/ml until they are sound or the user gives up, which
// switches the correction off. True when values were taken.
bool AskWienerSkewingParameters(TXLAWindow& window);

// The Wiener skewing settings as the fit report prints them.
void FillWienerReportInputs(FitReportInputs& in);

// The fit vector's Wiener entry while the magnitude is floated.
void ProvideWienerFitOptions(FitOptionEntries& entries);
