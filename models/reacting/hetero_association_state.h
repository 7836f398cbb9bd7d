#pragma once
// The records of the reacting system A + B <-> AB (hetero_association.h):
// the model's values and the coefficients of a run in one state record, the
// names of its per-node arrays inside LammGrid, and the amount a per-node
// array holds in the cell.
#include <cstdint>
#include <vector>

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

// Amount (signal x cm^3) of a per-node array in a 2-degree sector of 1.2 cm.
double HeteroAssociationSectorAmount(const double* values);
