// "Subtract TI Noise From Raw Data" (508) and "Subtract RI Noise From Raw
// Data" (509): the data layer checks that the noise is fitted, shows its
// notice and takes the noise out of the loaded scans.
#include "app/txla_window.h"
#include "data/noise_subtraction.h"

void TXLAWindow::CmSubtractTINoise() { RunNoiseCommand(508); }
void TXLAWindow::CmSubtractRINoise() { RunNoiseCommand(509); }
