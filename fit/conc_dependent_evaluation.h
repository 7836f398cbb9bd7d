#pragma once
// The model evaluation of the species whose s and D depend on the local
// concentration: the rapidly self-associating models (monomer-dimer,
// -trimer, -dimer-tetramer, -tetramer-octamer), the nonideal single species
// (linear or hard-sphere nonideality, or a cosolute), and component 1 of the
// discrete model with "c1 nonideal". Each fills the species record and runs
// the nonideal moving frame (moving-hat algorithm) or the static-grid twin.
class FitHost;

// The single-species branch of the model evaluation: the grid's initial
// profile, the algorithm choice, the solve and its messages.
void SimulateConcDependentModel(FitHost* host);
// The species record from the model parameters of the selected model.
void LoadConcDependentSpeciesFromModel();
// Component 1 with "c1 nonideal": s (S) and D (cm^2/s) of the component,
// nonideality from the component-1 prompt values. Runs the solver of the
// chosen algorithm on the grid's initial concentration; its result code.
int RunFirstComponentNonideal(double s, double D);
// The solver's flags as messages (singular matrix, nonideality out of
// range, discretization once per fit).
void ReportConcDependentErrors(FitHost* host, int code);
