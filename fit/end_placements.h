#pragma once
// A fit that goes on from its ends: a method's whole fit, its end checked
// by a placement of the caller's, and the fit run again from a lower point
// that placement found. Below the drivers of every model (the discrete
// species, the nonideal components), which pass their method and their
// placement in.
#include <functional>

#include "fit/fit_end.h"

class FitHost;

// How a check of where a fit ended came out: nothing lower, a point lower by
// the check's own margin (the model left there), a point not lower from
// which the fit goes on once and keeps the lower end (the model left there),
// or a stop.
enum class EndPlacement { None, Lower, Apart, Stopped };
// Runs `method`; from an end that is reached, away from a minimum or names
// undetermined quantities, `place` checks for a lower point, and the fit
// goes on from one by `method` again, at most kMaxEndPlacements times, never
// to an end worse than the point it went on from (nor, from an Apart point,
// than the end). The end told is the last run's, or the end's that stands.
// With `afterRestartLimit` an end at the simplex's restart limit is checked
// too (a model whose restarts can creep along a valley until they run out).
constexpr int kMaxEndPlacements = 3;
// One whole fit by a method, from the model's current values.
using FitMethod = FitRunEnd (*)(FitHost* host);
FitRunEnd FitWithEndPlacements(FitHost* host, FitMethod method, const std::function<EndPlacement(FitHost*)>& place,
                               bool afterRestartLimit = false);
