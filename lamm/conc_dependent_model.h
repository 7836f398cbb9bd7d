#pragma once
// Settings of the concentration-dependent path of CLammIdeal: which model
// makes s and D depend on the local concentration, the nonideality of the
// total concentration and the step scheme. The components of several
// non-interacting species sharing one nonideality come from the component
// table of CLammIdeal::SetSolventComponents.

struct ConcDependentModel {
  // The model, first that applies: components (the component table),
  // monomer-dimer, monomer-trimer, one nonideal species, three-species table.
  bool dimer = false, trimer = false;
  bool tetramerOctamer = false, dimerTetramer = false;
  bool singleNonideal = false;

  // Nonideality of the total concentration c. Linear: s = s0 (1 - ks c),
  // D = D0 (1 + kd c) with ks = +-10^a / scale, kd = +-10^b / scale (a sign
  // switch off makes its coefficient negative). Hard spheres: k = |a|,
  // tau = |b|, evaluated at c / scale.
  bool nonideality = false, hardSphere = false;
  float a = 0, b = 0;
  bool signA = true, signB = true;
  double scale = 1.0;

  // Monomer-dimer and monomer-trimer: log10 K, s (S) and D (cm^2/s) of the
  // monomer and the oligomer.
  float logK = 0, s1 = 0, s2 = 0, D1 = 0, D2 = 0;
  // Three-species schemes: log10 K2, log10 K3, s3, D3 of the second
  // oligomer, and the monomer range and row count of their table.
  float logK2 = 0, logK3 = 0, s3 = 0, D3 = 0;
  double monomerMin = 1e-6, monomerMax = 1e3;
  int tableRows = 3000;

  // +-1 predictor only, +-2 corrector with the mean of the coefficients,
  // +-3 corrector with the coefficients at the mean concentration. The sign
  // says which way the species moves (+ sedimentation, - flotation) for the
  // step-direction test; every solve is Crank-Nicolson.
  float scheme = 2.0f;

  bool meniscusCorrection = false;  // fold a small negative first node into the second
  bool cleanUp = false;  // spread small negative values during the first 10 s
};

// True for the schemes +-1, +-2, +-3.
bool ConcDependentSchemeValid(float scheme);
