#pragma once
// The check of where a fit of discrete sedimentation-velocity species ends.
//
// A minimiser ends where its own steps stop falling; with several species
// that can be a valley of their own arrangement (a species that lost its
// loading, two merged into one, one standing in for a baseline, a held
// share on another's boundary) or, for the simplex, the floor of a narrow
// curved valley it shrank across. So the end is checked, once the method's
// own end is told:
//  1. species placed from the end (PlaceSpeciesWithoutASay): each moved a
//     little; one without a say, with a small share, or any at an end away
//     from a minimum, placed beside the others; pairs parted, split, placed
//     around another; held shares moved and exchanged; species placed anew
//     across the s the fit range sees; out of a misfit, beyond the fastest
//     boundary. These are the arrangements no step of the minimiser's size
//     leads out of.
//  2. a reached simplex end followed by Levenberg-Marquardt along the valley
//     (CheckSimplexEndAlongTheValley).
// Every trial is judged by the fall of chi-square in noise units (sigma
// from the end's rmsd, never below the signals' resolution): lower by one
// unit for one species moved, by kPairMoveChiSquare (ten) for two moved
// together or anything that frees every quantity. From a lower point the
// fit goes on (FitWithEndPlacements, at most kMaxEndPlacements times);
// otherwise the end stands as it was told. A point above the end is gone on
// from only where its rise above the end is no more than the end's whole
// chi-square (WithinReachOfTheEnd); no point is evaluated twice within one
// search; and an end already judged is not judged again.
#include "fit/end_placements.h"

class FitHost;

// Whether Fit runs the simplex (not Levenberg-Marquardt, nor annealing's
// Marquardt finishing pass).
bool SimplexChosen();
// One whole fit by `method` with its end checked as above, where the model
// has discrete species whose ends are placed; plainly `method` otherwise.
// Returns the fit's result (1 done, 0 refused).
int FitWithSpeciesEndChecks(FitHost* host, FitMethod method);
