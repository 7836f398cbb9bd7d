#pragma once
// Run planning in the window: the parameter dialog of the time-to-equilibrium
// planning ("Parameters For Optimizing Time To Equilibrium"), the start-up
// step that loads its preferences, and the rotor-speed estimate (command 875).
#include <string>

#include "app/dialogs/form_dialog.h"

class TXLAWindow;
struct ShellServices;
struct TimeToEqParams;

// The dialog filled from the record (entries as the program shows them).
FormDialog TimeToEqDialog(TimeToEqParams& p);
// The checks of OK: "Invalid Entry" (captioned "Input Error") and false for
// an entry that is no number or that the planning cannot work with.
bool TimeToEqDialogCanClose(const FormDialog& entries);
// Takes the accepted entries into the record and completes the species;
// entries still as shown keep the record's value.
void ReadTimeToEqDialog(const FormDialog& entries, const FormDialog& shown, TimeToEqParams& p);
// Fills, shows and reads back the dialog; on OK the record is saved to the
// start-up preference file. False on Cancel (record unchanged).
bool RunTimeToEQPBox(TXLAWindow& window);

// The dialog, the initial condition from the loaded scans (or the speed
// file to run and its "simparams.txt"), and the next numbered result
// folder. False on Cancel or when that folder cannot be made.
bool SetupTimeToEqFromScans(TXLAWindow& window);
// The result path of the current planning run.
std::string& PlanningResultPath();

// Start-up: loads the preferences, forgets the chosen "simparams" file and
// makes the planner's simulation object.
void InitApproachToEqSim(TXLAWindow& window);
void InstallPlanningShellServices(ShellServices& services);
