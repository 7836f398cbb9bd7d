#pragma once
// The record of the reacting system A + B <-> AB: the model's values and the
// coefficients of a run, one record like the grid it works on (LammGrid).
// It lives beside the other models' records so that the first starts below
// the models read the values the model last held; the functions that act on
// it are the reacting system's own (models/reacting/).
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
