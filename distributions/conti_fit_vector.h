#pragma once
// The fit vector of the continuous models: the floated quantities in their
// fixed order, packed from the model and written back into it, each within
// its own limits.
#include <string>

class FitHost;

// The fit vector of the floated quantities in their fixed order. Counts
// them; with p, writes entries 1..min(count, n) (packing limits applied to
// the vector and the model).
int ContiParametersToFitVector(int n, float* p);
// Writes the entries back into the model with the unpacking limits (p takes
// the values the model took), and rebuilds the radial grid when meniscus or
// bottom moved.
void ContiFitVectorToParameters(float* p, FitHost* host = nullptr);
// The largest f/f0 a fit may take (kMaxFrictionalRatio until set): the
// fits set it at their start (ContiFrictionalRatioCeiling) and the
// unpacking holds f/f0 and the second f/f0 at it.
void SetContiFrictionalRatioCeiling(float ceiling);
float ContiFrictionalRatioCeilingInUse();
// The smallest f/f0 a fit may take (0 until set): the fits set it at their
// start and the unpacking holds f/f0 and the second f/f0 at it.
void SetContiFrictionalRatioFloor(float floor);
float ContiFrictionalRatioFloorInUse();
// Simplex spread factor of entry i: 0.01 meniscus and bottom, 0.1 lamella
// thickness and f/f0, 0.2 the nonideality parameters, 1 otherwise.
float ContiSimplexSpread(int i);
// The name of entry k (one-based) as the fit report calls the quantity.
std::string ContiFitVectorEntryName(int k);
// Marquardt-Levenberg derivative steps of the entries (relative factor and
// absolute step) into the fit engine's arrays; returns the entry count.
int ContiDerivativeSteps();

// What the drivers of the continuous fit share with the vector.
namespace conti_fit_vector {

// The model families whose entries and steps differ: f/f0 on a grid of its
// own, two f/f0 ranges, and the zone geometry with its lamella thickness.
bool TwoDimensional();
bool Bimodal();
bool ZoneGeometry();

// Positions of the entries whose simplex spread differs, recorded while packing.
struct Positions {
  int meniscus = 0, bottom = 0, lamella = 0, ff0 = 0, nonideal1 = 0, nonideal2 = 0;
};
const Positions& EntryPositions();

}  // namespace conti_fit_vector
