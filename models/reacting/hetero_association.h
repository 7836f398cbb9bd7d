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
// The coupled step and its finite-element matrices: hetero_association_step.h.
#include <cstdint>
#include <vector>

class FitHost;

struct HeteroAssociationState {
  // Parameters (the fit flags are those of the parameter vector).
  float logK = 0.0f;  // log10 of K
  float loadA = 0.5f, epsA = 1.0f;
  float loadB = 0.5f, epsB = 1.0f;
  // Until the model evaluation converts them, the D slots hold what the
  // parameter vector holds: molar masses (g/mol) or D in 1e-7 cm^2/s.
  float DA = 100000.0f, DB = 100000.0f, DAB = 200000.0f;
  float sA = 7.0f, sB = 7.0f, sAB = 11.0f;

  // Derived by InitHeteroAssociationEquilibrium.
  double K = 1.0;
  double cAB0 = 0.0;   // complex of the loading mixture
  double a0 = 0.0, b0 = 0.0;  // loading totals of A and B (concentration units)
  double epsAB = 2.0;

  // Coefficients of a run (cm^2/s and S), set by the model evaluation.
  double runDA = 0, runDB = 0, runDAB = 0;
  double omega2 = 0;  // (2 pi rpm / 60)^2 1e-13: omega2 s (S) is in 1/s
  double sFrame = 0;  // the frame stays static
  double framePeriod = 1e10, frameRate = 0, t0 = 0;
  double dtFix = 1.0;
  double dtPrev = 0;
  double meanFluxDiff = 0;  // mean |fluxA - fluxB| of the last pass
  int passes = 0;           // corrector passes of the last step

  // Flux tables: drawn while a run has a progress window; a key pressed
  // during a run makes the next table wait ("r" runs on, "s" stops).
  std::uint8_t pauseFlag = 0;
  std::uint8_t noInterruptFlag = 0;
  std::uint8_t showComplex = 1;

  // Pass-to-pass copies of the corrector and the flux term it solves with,
  // sized once per grid.
  std::vector<double> passA, passB, fluxSum;
  std::vector<double> systemStore;  // B's system and both fixed right-hand sides
};

HeteroAssociationState& CurrentHeteroAssociationState();

// Names of the per-node arrays (1..N) inside LammGrid::ReactingArrays.
struct HeteroAssociationArrays {
  double *cA, *cB, *cAOld, *cBOld, *cAOlder, *cBOlder;
  double *fluxA, *fluxB, *cATmp, *cBTmp, *cAB, *avg, *rate;
  double *SASub, *SADiag, *SASup, *SBSub, *SBDiag, *SBSup;
  double* QK[7];  // pairs (j,k) = (i-1,i-1), (i-1,i), (i,i-1), (i,i), (i,i+1), (i+1,i), (i+1,i+1)
  double* TK[7];
  double* solve;  // scratch of the tridiagonal solver
};
// False when the grid holds no reacting arrays.
bool BindHeteroAssociationArrays(HeteroAssociationArrays& out);

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
// Amount (signal x cm^3) of a per-node array in a 2-degree sector of 1.2 cm.
double HeteroAssociationSectorAmount(const double* values);
// Amounts of A and B in the cell, free plus complex (concentration x cm^3).
void HeteroAssociationTotals(double* totalA, double* totalB);
void SetHeteroAssociationPauseFlag();
void ShowHeteroAssociationFluxTable();
void ShowHeteroAssociationFluxTableTemp();
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
