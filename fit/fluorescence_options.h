#pragma once
// The fluorescence signal corrections as the solvers, the fit vector and the
// fit report see them. The settings themselves live in data/ (one record for
// the whole program); these functions only read or point into it.
class CLammIdeal;
struct FitOptionEntries;
struct FitReportInputs;

// Hands each correction that is on (radial gradient, drift with time,
// excitation shadow, radial convolution) to a solver before its run.
void ApplyFluorescenceCorrections(CLammIdeal& solver);
// The floated correction values, entries cone radius ... depletion ks.
void ProvideFluorescenceFitOptions(FitOptionEntries& entries);
// The corrections' part of the fit report (all but the Wiener skewing).
void FillFluorescenceReportInputs(FitReportInputs& in);
