#pragma once

// One timed Fit of a discrete or extended model in a benchmark, and its
// counters.

#include <benchmark/benchmark.h>

#include "bench_experiment.h"
#include "fit/fit_driver.h"
#include "fit/model_evaluation.h"
#include "fit/rmsd.h"
#include "fit/fit_end.h"

namespace bench {

// A silent host that counts the model's evaluations.
class CountingFitHost : public SilentFitHost {
 public:
  long evaluations = 0;
  void SimulateModel() override {
    ++evaluations;
    ::SimulateModel(this);
  }
  bool DrawingEnabled() const override { return false; }
};

struct FitOutcome {
  double cpu = 0.0;  // seconds of the process's CPU
  long evaluations = 0;
  double rmsd = 0.0;
  int end = 0;  // 1 reached, 2 a limit, 3 quantities not determined, 4 another end
};

// A Fit of the model as it stands, on `host`, its evaluations counted from 0.
template <class Host>
FitOutcome TimedFit(Host& host) {
  host.evaluations = 0;
  const double before = ProcessCpuAndFaults().first;
  FitCurrentModel(&host);
  FitOutcome outcome;
  outcome.cpu = ProcessCpuAndFaults().first - before;
  outcome.evaluations = host.evaluations;
  outcome.rmsd = CalcRmsd();
  const FitEndKind kind = LastFitEnd().kind;
  outcome.end = kind == FitEndKind::Reached         ? 1
                : kind == FitEndKind::Limit         ? 2
                : kind == FitEndKind::Undetermined  ? 3
                                                    : 4;
  return outcome;
}

inline void CountFitOutcome(benchmark::State& state, const FitOutcome& outcome) {
  state.counters["cpu_seconds"] = outcome.cpu;
  state.counters["evaluations"] = static_cast<double>(outcome.evaluations);
  state.counters["rmsd"] = outcome.rmsd;
  state.counters["fit_end"] = outcome.end;
}

}  // namespace bench
