#pragma once
// A reacting system A + B <-> AB in local chemical equilibrium, sedimenting
// in a sector cell. The free concentrations a(r,t), b(r,t) are the unknowns;
// the complex is c_AB = K a b everywhere. Each component is conserved with
// its share of the complex:
//
//   d(a + K a b)/dt = -(1/r) d/dr [ r J_A + r J_AB ]
//   d(b + K a b)/dt = -(1/r) d/dr [ r J_B + r J_AB ]
//   J_X = s_X w^2 r c_X - D_X dc_X/dr,   zero flux at meniscus and bottom,
//
// r in cm, t in s, s in Svedberg, D in cm^2/s, w = 2 pi rpm / 60, K in
// 1/(concentration unit). The signal is epsA a + epsB b + (epsA + epsB) K a b.
//
// The model's values live in HeteroAssociationState (one record, like the
// grid it works on); the per-node arrays are the 34 reacting arrays of
// LammGrid, which AllocLammArrays makes when LammGrid::reactingSystem is set.
// The records and the amounts: hetero_association_state.h; the coupled step
// and its finite-element matrices: hetero_association_step.h; the flux tables
// a run shows: hetero_association_flux_table.h.
#include "models/reacting/hetero_association_state.h"

class FitHost;

// K = 10^logK (logK held within +-30, NaN taken as 0), the
// loading totals a = loadA/epsA, b = loadB/epsB (0 for a non-positive signal
// or extinction), the complex cAB0 of the loading mixture, and, when the
// arrays exist, the uniform loading state on every node.
void InitHeteroAssociationEquilibrium();
// Signal per node into LammGrid::Concentration, and the complex K a b.
void ComputeHeteroAssociationSignal();
// Static-frame node radii between meniscus and bottom (first and last
// elements half as wide in ln r), omega2 from the run's rotor speed.
void SetupHeteroAssociationGrid();
// Chooses the step (ending on the next scan time), runs it and commits it;
// returns dt for the first step of a run, 1.0 afterwards (and for a zero step).
double HeteroAssociationStepControl();
void AdvanceHeteroAssociationTime();
// Rotor speed (rpm) of the coming steps: the matrices are made again for it
// when it changed.
void SetHeteroAssociationSpeed(double rpm);
// Amounts of A and B in the cell, free plus complex (concentration x cm^3).
void HeteroAssociationTotals(double* totalA, double* totalB);
// The driver: one run over the scans from the state the model evaluation set.
void SimulateHeteroAssociationLamm();

// The hetero branch of the model evaluation: equilibrium at loading, the
// coefficients of the three species, the run and its error messages.
void SimulateHeteroAssociationModel(FitHost* host);
// Parameter vector <-> HeteroAssociationState: slots 1..3 masses (or D) of
// A, B, AB; 4 epsA; 5..7 s of A, B, AB; 8 logK; 9, 10 loads; 11 the complex
// of the loading mixture; 12 epsB. Slots 3 and 11 are always derived.
void DeriveHeteroAssociationParameters(bool packing);
// Slot 3 from the slots of A and B (a, b: molar masses, or D in 1e-7 cm^2/s)
// and the three s: M_A + M_B, or the D of that mass at s_AB; `own` (the
// slot's entry) when no masses follow from the D entered.
float ComplexMassOrD(bool molarMasses, float a, float b, float sA, float sB, float sAB, float own);
// Registers the derivation and the model evaluation's hooks.
void InstallHeteroAssociationModel();
