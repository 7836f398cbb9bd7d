#pragma once
// The buffer-sedimentation correction in the model evaluation: validation
// against the selected model, the fit flags of the buffer species, the two
// solver passes (sample and reference sector) and where their signal goes:
// subtracted from the scans (one-shot), added to the models, into the buffer
// slot's curves of the discrete species, or into kernel column 1 of c(s).
#include <functional>
#include <string>

#include "models/buffer/buffer_sed_settings.h"

class FitHost;
struct FitOptionEntries;
struct FitReportInputs;

// What the correction needs of the main window; each does nothing until set.
struct BufferSedHooks {
  std::function<void(bool checked)> checkMenuItem;  // item 552
};
BufferSedHooks& CurrentBufferSedHooks();

// The buffer occupies the last discrete species slot.
constexpr int kBufferSpecies = 4;
// R T (erg/mol) assumed while no scans give a temperature (20 degC).
constexpr double kBufferDefaultRT = 2.436002e10;

// Validates the correction against model and data; false (and switched off
// with a message) when it cannot be combined with them.
bool CheckBufferSedimentationModel();
// Fit flags of the species concentrations and of the buffer species.
void ApplyBufferSedimentationToFitFlags();
// Removes the check mark of 552 and releases the buffer species.
void SetBufferSedimentationMenuCheck();
// Each model evaluation while the correction is on: consistency of s, D and
// Mb, then the sample and reference passes.
void UpdateBufferSedimentation(FitHost* host);
// One pass with the BufferPass inputs.
void SimulateBufferSedimentation(FitHost* host);
// The buffer-mismatch subtraction: the signal of the current estimate is
// taken out of every scan (once).
void SubtractBufferSedimentationFromData(FitHost* host);
void SwitchOffBufferSedimentation();

// Puts the correction into the model evaluation (the buffer slot of the
// discrete species) and the c(s) run (kernel column 1, the solved amplitude
// back into the record); `host` names the window that messages belong to.
void InstallBufferSedimentationHooks(std::function<FitHost*()> host);

// Tells the c(s) run and the fit engine the correction's state (on, and
// whether the buffer concentration floats); called after every change.
void PublishBufferSedimentation();

// Fit-engine entries 14-20 (buffer signal ... reference s).
void ProvideBufferFitOptions(FitOptionEntries& entries);
// Line 14 of the fit report.
void FillBufferReportInputs(FitReportInputs& inputs);
// The component line of a running c(s) fit while the correction is on
// (empty while it is off): the amplitude, then only the values that float.
std::string BufferComponentDisplayLine();
// Saved-parameter lines 96-118: value of a line, and a line read back
// (present false when the file ends before it).
float BufferSavedValue(int line);
void SetBufferSavedValue(int line, float value, bool present);
// After a reload: validation, fit flags and menu as the reloaded switch wants.
void AfterBufferReload();
