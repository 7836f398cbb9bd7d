#pragma once
// Command 552 "Corrections For &Buffer Sedimentation" with its dialog
// "Buffer Mismatch", and the wiring of the correction into the model
// evaluation, the c(s) run, the fit engine, the report, the saved
// parameters and the buffer-mismatch subtraction.
#include "app/dialogs/form_dialog.h"

class TXLAWindow;

// The dialog as filled from the settings (template 572, or 575 with the
// M-and-s parametrisation).
FormDialog BufferSedimentationDialog();
// Fills, runs and applies the dialog.
void RunBufferSedimentationDialog(TXLAWindow& window);

void ConnectBufferSedimentation(TXLAWindow& window);
void DisconnectBufferSedimentation();
