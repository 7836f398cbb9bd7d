#pragma once
// The fit driver of every model that is not a continuous distribution or an
// equilibrium model: chooses the minimiser, runs it over the fit vector of
// the floated quantities and leaves the best parameter set in the model.
#include "fit/end_placements.h"
#include "fit/fit_end.h"
#include "fit/simplex_restarts.h"

class FitHost;

// 1 when done (also with nothing floated), 0 when refused. A fit of two or
// more discrete species of velocity data is checked where it ends: each
// species moved from where it is, and one with no say in the misfit (or a
// small share of the loadings) placed beside the others; with a loading
// held, sizes moved more widely, a species with a held share moved widely
// and exchanged with each other species (plainly and at sizes scaled), the
// trials ranked by their loadings solved freely and the lowest solved under
// the held ones; where none is lower, the end is judged against the fit
// with its loadings free (a bounded relaxation whose own end is checked as
// a Fit's is, out of a misfit too): the species with a held share given
// each boundary found there, solved under the held loadings and run on by
// a short simplex; where that lowers chi-square by a unit, the fit goes on
// from there (a bounded number of times; once from where the free fit,
// lower than the end, leads where that point is not lower) and tells the
// end of its last run.
int FitCurrentModel(FitHost* host);
