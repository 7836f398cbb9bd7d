#pragma once
// Command 542 "Inhomogeneous Solvent": the dialog "Inhomogeneous Solvent
// Parameters" that edits the solvent-gradient settings, and the conversion
// of the discrete species' s and D to 20 degC water and back when the model
// is switched on or off.
#include "app/dialogs/form_dialog.h"

class TXLAWindow;

// The dialog as filled from the settings.
FormDialog InhomogeneousSolventDialog();
// Fills, runs and applies the dialog.
void RunInhomogeneousSolventDialog(TXLAWindow& window);

void ConvertToStandardConditions();
void ConvertToExperimentalConditions();
