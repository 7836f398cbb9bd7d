#include "fit/simplex_end_check.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "data/scan_set.h"
#include "fit/annealing.h"
#include "fit/end_placements.h"
#include "fit/fit_budget.h"
#include "fit/fit_end.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/fit_report.h"
#include "fit/fit_target.h"
#include "fit/fit_vector.h"
#include "fit/marquardt.h"
#include "fit/model_evaluation_hooks.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/nelder_mead.h"
#include "fit/nonideal_species.h"
#include "fit/rmsd.h"
#include "fit/serial_fit_settings.h"
#include "fit/simulation_switches.h"
#include "fit/species_end_notes.h"
#include "fit/species_placement_tools.h"
#include "fit/species_placements.h"
#include "fit/species_slots.h"
#include "numerics/arrays.h"
#include "numerics/constants.h"
#include "numerics/random.h"
#include "platform/error_box.h"
#include "platform/input_events.h"

namespace {

// Discrete species of a sedimentation-velocity fit. With loadings solved as
// linear amplitudes a species can lose its loading to the solve while its s
// and size stay wherever the fit left them (one species alone too: with TI
// and RI noise fitted, a boundary that misses the data's gets none); with a
// loading held (a fit of the total and fractions), the held one can end on
// the boundary of another species, the others making up for it, where no
// step of s and size leads across.
bool SpeciesEndsArePlaced() {
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  if (!sel.LammDiscreteModel || sel.AnySelfAssociationModel() || sel.AnyNonidealSpeciesModel()) return false;
  if (!SpeciesFitRangesForCurrentFit().on) return false;
  const ModelEvaluationHooks& hooks = CurrentModelEvaluationHooks();
  if (hooks.bufferSedimentationOn && hooks.bufferSedimentationOn()) return false;
  int included = 0;
  for (int k = 1; k <= kSpeciesSlots; ++k) included += gModelParams.included[k] ? 1 : 0;
  return included > 0;
}

// A simplex that says it reached its minimum saw only its own vertices stop
// falling. In a narrow curved valley (three species whose loadings and
// sizes trade, the TI and RI noise and the meniscus making up for each) it
// shrinks across the valley and stops there, 1 000 units of chi-square
// above a minimum that Levenberg-Marquardt, stepping along the valley,
// reaches from that end in a few hundred evaluations, where every
// placement of species from the end lies higher. So a reached simplex end
// is checked by a Marquardt run from it. Lower by what two quantities moved
// together must show, the end was no minimum: Marquardt's end is kept where
// it reached one, and the simplex goes on from there where not. Otherwise
// the simplex's end stands as it was. A stop or the time bound during the
// check keeps the lower of the two. Returns the end of the fit's last run.
FitRunEnd CheckSimplexEndAlongTheValley(FitHost* host, const FitRunEnd& run, FitMethod method,
                                        const std::function<EndPlacement(FitHost*)>& place) {
  FitEngineState& fs = gFitEngineState;
  if (run.result != 1 || !SimplexChosen() || LastFitEnd().kind != FitEndKind::Reached || fs.stopRequested ||
      FitStoppedByBudget())
    return run;
  const int n = ParametersToFitVector(0, nullptr);
  const float endRmsd = CalcRmsd();
  // Nothing lies below an exact fit.
  if (n == 0 || !(endRmsd > RmsdResolution())) return run;
  std::vector<float> endPoint(static_cast<size_t>(n) + 1);
  PackFitVectorUnclamped(n, endPoint.data());
  const FitEndRecord endRecord = LastFitEnd();
  const MarquardtResult endResult = LastMarquardtResult();
  const int codeBefore = gSerialFitSettings.errorCode;
  FitRunEnd check;
  {
    // Its trials show no solver box, and it writes no parameter listing:
    // the user asked for neither. Its steps and evaluations are the fit's.
    QuietTrials quiet;
    MarquardtOptions options;
    options.writesListing = false;
    options.continuesCounters = true;
    check = RunMarquardt(host, options);
  }
  const float checkedRmsd = CalcRmsd();
  const bool stopped = check.stoppedByTheUser;
  const bool cut = stopped || FitStoppedByBudget();
  const bool lower = cut ? checkedRmsd < endRmsd
                         : ChiSquareFall(endRmsd, checkedRmsd, fs.rmsdPointCount, RmsdResolution()) >= kPairMoveChiSquare;
  if (stopped) {
    RecordFitEnd(host, FitEndKind::Stopped, "the fit was stopped: the best parameters found are kept");
    host->RaiseRealtimeInterrupt();
    gSerialFitSettings.abortRequest = 1;
  }
  if (!lower) {
    {
      platform::InputHold hold;
      SimplexSim(endPoint.data(), host);
    }
    if (!stopped) LastFitEnd() = endRecord;
    RestoreMarquardtResult(endResult);
    gSerialFitSettings.errorCode = codeBefore;
    if (fs.saveBestDuringFit) host->TmpSaveBestParams(0);
    FitRunEnd kept = run;
    kept.ranOutOfIterations = kept.stoppedAfterRejectedTrials = false;
    return kept;
  }
  if (cut || LastFitEnd().kind == FitEndKind::Reached) {
    check.result = run.result;
    return check;
  }
  gSerialFitSettings.errorCode = codeBefore;
  LastFitEnd() = FitEndRecord{FitEndKind::Reached, "the fit reached its minimum"};
  return FitWithEndPlacements(host, method, place, true);
}

}  // namespace

// Whether Fit runs the simplex: Levenberg-Marquardt runs instead where it is
// the method chosen, and as the annealing schedule's finishing pass where
// that pass is asked of it.
bool SimplexChosen() {
  const FitEngineState& fs = gFitEngineState;
  return !fs.useMarquardt && !(fs.useAnnealing && fs.annealFinalMarquardt && fs.annealTemperature == 0.0f);
}

int FitWithSpeciesEndChecks(FitHost* host, FitMethod method) {
  if (!SpeciesEndsArePlaced()) return method(host).result;
  // The simplex's restarts can run out beside a species standing in for a
  // baseline (0 S and 0 Da at a loading of thousands, the RI offsets making
  // up for it), the data's boundary unmodelled, each restart creeping on:
  // such an end is checked like any other.
  FitEndNoteHold told(host);
  const int codeBefore = gSerialFitSettings.errorCode;
  // An end already judged is not judged again: going on from it led back to
  // it (a share fitted again after the check held it), and the same check
  // would find the same point and send the fit round once more.
  std::set<std::vector<unsigned>> judged;
  const std::function<EndPlacement(FitHost*)> place = [&judged](FitHost* h) {
    const int n = ParametersToFitVector(0, nullptr);
    std::vector<float> end(static_cast<size_t>(n) + 1);
    PackFitVectorUnclamped(n, end.data());
    if (!judged.insert(PointKey(n, end.data())).second) return EndPlacement::None;
    return PlaceSpeciesWithoutASay(h, LastFitEnd());
  };
  const FitRunEnd run =
      CheckSimplexEndAlongTheValley(host, FitWithEndPlacements(host, method, place, true), method, place);
  if (run.result == 1 && LastFitEnd().kind == FitEndKind::NotReached && run.stoppedAfterRejectedTrials)
    TellRejectedEndByTheMisfit(host, codeBefore);
  if (run.result == 1) TellEndHeldAtTheLeastSize(host);
  return run.result;
}
