#pragma once
// The main window's side of the unattended run: the window operations the
// run calls, the "Done" command, and the shell services that hand the
// command line and the run to automation/.
struct ShellServices;

// Fills the automation members of the shell services (command-line intake,
// the run inside the constructor, the finish on Exit).
void InstallAutomationServices(ShellServices& services);
