#pragma once
// The fluorescence-detection corrections as the user sets them: the chains
// of questions of commands 905-914 and 925, the tool box (915) and the
// sorting of fluorescence scans to disk (903).
#include "app/dialogs/form_dialog.h"

class TXLAWindow;

// ks as entered -> its decimal logarithm; 1e-8 for entries at or below it.
float DepletionLogKsOfEntry(double ks);
// A power of 0 or below would send every signal above the baseline to one
// value; such entries are taken as 0.01.
float DetectionPowerOfEntry(double power);
void CheckMenuPair(TXLAWindow& window, int first, int second, bool on);
// Ticks the menu items of every correction by its use switch.
void CheckFluorescenceMenuItems(TXLAWindow& window);
// Puts the measured signals back when the transformed ones are shown.
void SwitchOffNonlinearDetection();

// The tool box "Tools For Fitting Fluorescence AUC data" as filled from the
// settings, and what its OK writes back.
FormDialog FloToolBoxDialog();
void ApplyFloToolBox(const FormDialog& dialog, TXLAWindow& window);

// Registers the corrections with the serial fits and the model curves.
void ConnectFluorescenceCorrections(TXLAWindow& window);
void DisconnectFluorescenceCorrections();
