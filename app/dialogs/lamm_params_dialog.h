#pragma once
// "Numerical Control of Lamm Equation Solution" (Options > Fitting Options >
// Lamm Equation Parameters, alt-G): the dialog over LammSolverSettings and
// the fit tolerance. The command applies what was chosen (grid
// reallocation, rotor-speed profile, scan times, warnings) and offers to
// keep the new values in "tarnellammparams.ini".
#include "app/dialogs/form_dialog.h"

struct LammSolverSettings;

// Grid sizes above this are refused: every Lamm array is allocated for the
// grid size, and a mistyped size would exhaust the memory.
constexpr int kLargestLammGridSize = 100000;

class LammPBox {
 public:
  // The dialog filled from the settings; with a rotor-speed profile in use
  // "using speedsteps" is ticked and "check rotor acceleration" not.
  LammPBox(const LammSolverSettings& settings, float fitTolerance, bool speedProfileInUse);

  // The entries that must be numbers pass, or the first bad one has been
  // refused with "Invalid Entry" and the dialog stays open.
  static bool CanClose(const FormDialog& typed);

  FormDialog form;
};
