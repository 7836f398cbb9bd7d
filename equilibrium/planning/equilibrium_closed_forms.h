#pragma once
// Closed forms of ideal sedimentation equilibrium in a sector from meniscus m
// to bottom b (cm).
//
// With the reduced buoyant mass sigma = s w^2 / (2 D) = (1 - vbar rho) M w^2
// / (2 R T) (1/cm^2), the equilibrium of one species loaded at unit
// concentration is
//
//   c(r) = sigma (b^2 - m^2) exp(sigma (r^2 - b^2)) / (1 - exp(sigma (m^2 - b^2))),
//
// which keeps the loaded mass: the r-weighted mean of c over [m, b] is 1.
// The forms below are evaluated without 0/0 or inf x 0 for sigma of either
// sign and in the uniform limit sigma -> 0.

// sigma (1/cm^2) of a species with s (S) and D (cm^2/s) at rpm.
double ReducedBuoyantMass(double s, double D, double rpm);

// c(r) of unit loading at sigma.
double IdealEquilibriumConcentration(double sigma, double r, double meniscus, double bottom);

// The loading concentration of a column filled only from r (cm) to the
// bottom that reaches the same bottom concentration at sigma as the whole
// column m..b: A(m) / A(r), A(x) = sigma (b^2 - x^2) / (1 - exp(sigma (x^2 - b^2))).
double StepPlateauConcentration(double sigma, double r, double meniscus, double bottom);

// Time (h) until the slowest mode of the approach to equilibrium from
// uniform loading at constant speed decays below epsilon:
//   alpha = 2 R T / ((b^2 - m^2)(1 - rho vbar) M w^2),  beta = 1 + 1/(4 pi^2 alpha^2),
//   t = -(b - m)^2 / (D pi^2 beta) ln(pi^2 epsilon beta^2 / (4 (cosh(1/(2 alpha)) + 1))).
// rpm, temperature in degrees C, M in Da, density g/ml, vbar ml/g, radii cm,
// D cm^2/s.
float EstimateTimeToEquilibrium(float rpm, float temperature, float M, float density, float vbar,
                                float bottom, float meniscus, float D, float epsilon);
