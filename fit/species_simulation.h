#pragma once
// Per-species evaluation of the discrete-species family on the global grid
// arrays, used when the solver-object driver cannot serve the model (an
// experimental initial distribution, buffer sedimentation, DLS or
// equilibrium data, a concentration-dependent first species): for each slot
// the element algorithm and the grid size are chosen automatically, the
// initial concentration is set on the grid, the moving-frame or static-grid
// solver runs, a failed solve is retried with other settings, and the
// constant, no-diffusion and Faxen cases are formed in closed form.
// s in Svedberg, D in cm^2/s, radii in cm, times in s.
class FitHost;

// "Simulate Non-Interacting Species with Faxen Approximation" is selected.
extern unsigned char gFaxenApproximation;

// Number of slots the last evaluation of DLS data computed.
extern int gDlsSpeciesCount;

// The per-species branch of the model evaluation.
void SimulateSpeciesOnGlobalGrid(FitHost* host);

// Automatic choice between the static grid and the moving frame for s.
void ChooseFiniteElementAlgorithm(double s, bool perSpecies);
// Grid size for slot k from the boundary width at the start radius.
void ApplyAutomaticGridRule(double s, double D);
