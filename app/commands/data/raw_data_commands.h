#pragma once
// What the raw-data and saved-parameter commands hand to the rest of the
// program: the Wiener skewing question that "Parameters" asks, and the
// wiring of the fit entry, the solver option and the save services.
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

void InstallRawDataCommands(TXLAWindow& window);
void UninstallRawDataCommands();
