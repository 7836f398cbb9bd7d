// The Display-menu commands that take the calculated systematic noise out
// of the loaded scans ("Subtract ... From Raw Data", "Restore Original TI
// Noise to Data") and the hidden buffer-mismatch subtraction: the data
// layer checks that the noise is fitted, shows its notice and takes the
// noise out of the loaded scans.
#include "app/window/txla_window.h"
#include "data/noise_subtraction.h"

void TXLAWindow::CmSubtractTINoise() { RunNoiseCommand(508); }
void TXLAWindow::CmSubtractRINoise() { RunNoiseCommand(509); }
void TXLAWindow::CmSubtractAllNoise() { RunNoiseCommand(519); }
void TXLAWindow::CmRestoreTINoise() { RunNoiseCommand(607); }
void TXLAWindow::CmSubtractBufferMismatch() { RunNoiseCommand(576); }
