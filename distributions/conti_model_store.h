#pragma once
// The values the continuous-distribution variants load into the fit vector
// and keep between model commands: the model commands write them, the
// reading of the fit vector updates the floated ones, and the parameter
// files store them.

struct ContiModelStore {
  float discreteM = 350.0f, discreteS = 1.0f, discreteSecond = 0.34f;
  int discreteMFit = 0, discreteSecondFit = 0;
  float conformation[3] = {200000.0f, 7.0f, 10.0f};
  float bimodal[3] = {2.0f, 10.0f, 20.0f};
  int bimodalSecondFit = 0;
  float vbarFit = 0;
  float scalingPrefactor = 0.003f, scalingExponent = 0.667f;
  int scalingPrefactorFit = 0, scalingExponentFit = 0;
  float wormPersistence = 36.0f;
  int wormPersistenceFit = 0;
  float worm[3] = {23.0f, 9000.0f, 0.4f};
  float ffDimension[3] = {1.0f, 2.0f, 10.0f};
  // In 1e-7 cm^2/s, the unit of its field: 5e-7 cm^2/s, a protein's D (a
  // start of 5e-7 in this unit, 5e-14 cm^2/s, is a species that does not
  // diffuse, whose boundary needs the largest static grid on every Run).
  float invariantD = 5.0f;
  float rodValue = 10000.0f;
  // "Nonideal c(s)" has been chosen once (its first start is the ideal limit).
  bool nonidealStartGiven = false;
};
ContiModelStore& ContiStore();
