#pragma once
// The molar mass that the chosen c(s)-family model assigns to a species of
// sedimentation coefficient s (S, experimental conditions): the frictional
// scaling with the best-fit f/f0, unless the model carries a law of its own
// (second f/f0 class, scaling law, worm-like chain, M(s) table, fixed mass
// of the changed conformation, invariant D).
float MolarMassUnderModel(float s);
