#pragma once
// Mass action of A + B <-> AB: beneath the solvers, so that the reacting
// system and the first starts of the models that derive their complex from
// it read one formula.

// The smaller root q of q^2 - (a + b + 1/K) q + a b = 0: the complex formed
// from a of A and b of B at association constant K; 0 unless a, b and K
// are positive and finite.
double SmallerComplexRoot(double a, double b, double K);
