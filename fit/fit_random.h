#pragma once
// Random deviates of the fit engine: the uniform generator of the annealing
// schedule (reproducible from its seed) and the Gaussian generator of the
// initial simplex (independent of the first, seeded once from the clock).
namespace fitrandom {

// Uniform deviate in (0, 1), at most 1 - 1.2e-7: Park-Miller minimal standard
// generator with a 32-entry shuffle table. A negative *seed re-initialises.
float ran1(int* seed);

// Gaussian deviate of mean 0 and standard deviation |sigma| (0 for sigma 0),
// polar method; the second deviate of each pair is kept for the next call.
float GaussRandom(float sigma);
// Restarts the Gaussian generator from a fixed seed (tests, reproducible runs).
void SeedGaussRandom(unsigned seed);

}  // namespace fitrandom
