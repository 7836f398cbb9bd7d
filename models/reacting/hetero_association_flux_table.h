#pragma once
// The flux tables of a reacting run (hetero_association.h): 30 node rows of
// free concentrations, old values and fluxes of A and B, with the sector
// amounts, drawn into the run's progress window. A key pressed during the
// run makes the next table wait: "r" runs on, "s" stops.
void SetHeteroAssociationPauseFlag();
void ShowHeteroAssociationFluxTable();
void ShowHeteroAssociationFluxTableTemp();
