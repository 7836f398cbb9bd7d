#pragma once
// Connects the global-array Lamm solvers (lamm/global/) to the model
// evaluation: the model's cell and drive, the scan output and the
// inhomogeneous solvent. Done once, on the first grid allocation; any later
// call does nothing.
void ConnectGlobalLammSolvers();
