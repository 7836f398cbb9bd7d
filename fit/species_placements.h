#pragma once
// Species placed where a discrete-species fit ended, to see whether the end
// was a minimum: each species moved from where it is, one without a say
// (or a small share) placed beside the others, pairs parted, split or
// placed around another, held shares moved and exchanged, species placed
// anew across the s the fit range sees, and out of a misfit beyond the
// fastest boundary; each judged by the fall of chi-square in noise units.
#include <vector>

#include "fit/end_placements.h"
#include "fit/fit_end.h"

class FitHost;

// The points of an end out of a misfit to go on from, lowest first: the
// lowest of each way out (a flat species parted from another, a species
// placed beyond the others or beside them from below 0 S, one splitting
// another).
using PointsToGoOnFrom = std::vector<std::vector<float>>;
EndPlacement PlaceSpeciesWithoutASay(FitHost* host, const FitEndRecord& endRecord,
                                     PointsToGoOnFrom* apartPoints = nullptr);
// The held loadings relaxed and the end judged against the fit with its
// loadings free (fit/held_loadings_placement.cpp); returns the rmsd of the
// lowest point packed into v, kRejectedTrial where none or where the free
// fit lies no lower.
float PlaceUnderHeldLoadingsFromFreeFit(int n, const float* saved, float endRmsd, float* v, FitHost* host);
