#include "fit/end_placements.h"

#include <vector>

#include "fit/fit_budget.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/fit_target.h"
#include "fit/fit_vector.h"
#include "fit/marquardt.h"
#include "fit/nelder_mead.h"
#include "fit/rmsd.h"
#include "fit/serial_fit_settings.h"
#include "platform/input_events.h"

FitRunEnd FitWithEndPlacements(FitHost* host, FitMethod method, const std::function<EndPlacement(FitHost*)>& place,
                               bool afterRestartLimit) {
  FitEngineState& fs = gFitEngineState;
  // The end told is the last fit's: an end from which the fit goes on is
  // not shown.
  FitEndNoteHold hold(host);
  FitRunEnd run = method(host);
  // The end the fit last went on from a point above (none yet).
  float apartTriedAt = kRejectedTrial;
  // Whether `to` lies a unit of chi-square or more below `from`: a fall the
  // noise tells from none. A smaller one leaves the fit where it was.
  auto lowerByAUnit = [&fs](float from, float to) {
    return ChiSquareFall(from, to, fs.rmsdPointCount, RmsdResolution()) >= kStalledChiSquare;
  };
  for (int placement = 0; run.result == 1 && placement < kMaxEndPlacements; ++placement) {
    const FitEndKind end = LastFitEnd().kind;
    // Marquardt's iterations can run out in a corner where a species has
    // lost its say (walked to s near 0 or beyond, its loading taken up by
    // the others and the noise terms), creeping along a valley there: a
    // point to place species from like any other end away from a minimum.
    // So, where the caller asks, can the simplex's restarts.
    const bool ranOut = end == FitEndKind::Limit &&
                        (run.ranOutOfIterations || (afterRestartLimit && run.ranOutOfRestarts));
    if ((end != FitEndKind::Reached && end != FitEndKind::NotReached && end != FitEndKind::Undetermined && !ranOut) ||
        fs.stopRequested || FitStoppedByBudget())
      break;
    const int nEnd = ParametersToFitVector(0, nullptr);
    std::vector<float> endPoint(static_cast<size_t>(nEnd) + 1);
    PackFitVectorUnclamped(nEnd, endPoint.data());
    const float endRmsd = CalcRmsd();
    const FitEndRecord endRecord = LastFitEnd();
    const bool endRejected = run.stoppedAfterRejectedTrials;
    const MarquardtResult endResult = LastMarquardtResult();
    EndPlacement placed = place(host);
    // Going on from a point above the end is tried once from each end, and
    // again only from an end a unit below the one it was tried from: the
    // valley that going on from a lower point leads to (a species walked
    // below 0 S again) can hold the end an earlier check would have gone on
    // from.
    if (placed == EndPlacement::Apart && !lowerByAUnit(apartTriedAt, endRmsd)) {
      platform::InputHold inputs;
      SimplexSim(endPoint.data(), host);
      placed = EndPlacement::None;
    }
    if (placed == EndPlacement::Stopped && !FitStoppedByBudget()) {
      RecordFitEnd(host, FitEndKind::Stopped, "the fit was stopped: the best parameters found are kept");
      host->RaiseRealtimeInterrupt();
      gSerialFitSettings.abortRequest = 1;
    }
    if (placed != EndPlacement::Lower && placed != EndPlacement::Apart) break;
    if (placed == EndPlacement::Apart) apartTriedAt = endRmsd;
    const int n = ParametersToFitVector(0, nullptr);
    std::vector<float> from(static_cast<size_t>(n) + 1);
    PackFitVectorUnclamped(n, from.data());
    const float fromRmsd = CalcRmsd();
    LastFitEnd() = FitEndRecord{FitEndKind::Reached, "the fit reached its minimum"};
    run = method(host);
    // Never an end worse than the point the fit went on from, nor, from a
    // point above the end, one less than a unit of chi-square below the end:
    // then that end stands, as told. (Each end the fit goes on to is checked
    // again, a search of seconds; from a measured start two species went on
    // so from falls of 0.9 and 0.1 units, a third of the fit's CPU.)
    if (placed == EndPlacement::Apart && !lowerByAUnit(endRmsd, CalcRmsd())) {
      platform::InputHold inputs;
      SimplexSim(endPoint.data(), host);
      // A stop or the budget during it is still told; its best is the end.
      if (LastFitEnd().kind != FitEndKind::Stopped && !FitStoppedByBudget()) {
        LastFitEnd() = endRecord;
        run.stoppedAfterRejectedTrials = endRejected;
        RestoreMarquardtResult(endResult);
      }
      break;
    }
    if (CalcRmsd() > fromRmsd) {
      platform::InputHold inputs;
      SimplexSim(from.data(), host);
    }
  }
  return run;
}
