#pragma once
// The program's random numbers: a seeded, reproducible uniform generator
// (ran1) for simulated annealing; a combined 32-bit generator seeded from
// the clock for uniform draws and Gaussian noise; and two index shufflers
// for drawing a random subset of points. The states are program-wide and
// serve one thread at a time.
#include <ctime>

// Uniform in (0, 1): the minimal standard congruential generator
// seed' = 16807 seed mod (2^31 - 1) with a 32-entry Bays-Durham shuffle.
// A seed <= 0 (or the first call) restarts it; 0 counts as 1.
float ran1(int* seed);

// Calendar time in seconds (the platform clock).
std::time_t ClockSeed();

// Uniform double in [lo, hi) from the combined generator.
double UniformRandom(float lo, float hi);
// Normal deviates N(0, sigma^2) by the polar method, one cached per pair;
// GaussRandom2 keeps a state of its own.
float GaussRandom(float sigma);
double GaussRandom2(double sigma);

// Swaps floor(to x fraction) random pairs within a[from..to].
bool RandomSelectFraction(int* a, int from, int to, float fraction);
// Writes a permutation of from..to into a[from..to]: random values until
// floor(to x fraction) values are placed, then the rest in ascending order.
bool RandomSelectFraction2(int* a, int from, int to, float fraction);

// The draws a fit makes for itself (its random simplex, the trials that
// check its end) come from a Gaussian stream of their own while a Fit runs,
// started afresh at the beginning of every Fit from the fit seed (a fixed
// number): the same fit gives the same bits, run after run, whatever was
// drawn before it. Noise for synthetic data and Monte-Carlo sets drawn
// outside a Fit keeps the clock-seeded stream. Begin and end nest; the
// outermost pair counts.
void BeginFitDraws();
void EndFitDraws();

// Makes the clock-seeded generators seed again on their next call, and the
// fit seed the fixed one (tests).
void ResetRandomGenerators();
// Restarts GaussRandom from a fixed seed instead of the clock and makes it
// the fit seed, so that a test chooses the random simplex of the fits it
// runs (tests, benchmarks).
void SeedGaussRandom(unsigned seed);
// Every clock-seeded generator (uniform and both Gaussian states) from fixed
// seeds derived from seed: a test process then draws the same numbers
// whatever second it starts in.
void SeedRandomGenerators(unsigned seed);
