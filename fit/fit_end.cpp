#include "fit/fit_end.h"

#include <algorithm>
#include <cfloat>
#include <cstdio>
#include <string>

#include "data/scan_set.h"
#include "fit/fit_budget.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/fit_target.h"
#include "fit/nelder_mead.h"
#include "fit/serial_fit_settings.h"
#include "numerics/statistics.h"

namespace {
// How every end that names what the data do not determine begins, but the
// c(s) family's end without material.
const std::string kUndeterminedLead = "the data do not determine ";

// "a", "a and b", "a, b and c".
std::string NameList(const std::vector<std::string>& names) {
  std::string list;
  for (size_t k = 0; k < names.size(); ++k)
    list += (k == 0 ? "" : k + 1 == names.size() ? " and " : ", ") + names[k];
  return list;
}

std::string UndeterminedText(const std::vector<std::string>& names) {
  return kUndeterminedLead + NameList(names) + (names.size() == 1 ? ": moving it" : ": moving any of them") +
         " changes chi-square by less than the noise; the best parameters found are kept";
}
}  // namespace

double RmsdResolution() {
  const ScanSet& ss = CurrentScanSet();
  double sum = 0.0;
  long count = 0;
  for (int s = 1; s <= ss.count && s < static_cast<int>(ss.signals.size()); ++s) {
    const float* signal = ss.signals[s];
    if (!signal || s >= static_cast<int>(ss.firstFitPoint.size()) || s >= static_cast<int>(ss.lastFitPoint.size()))
      continue;
    for (int k = ss.firstFitPoint[s]; k <= ss.lastFitPoint[s]; ++k) {
      sum += static_cast<double>(signal[k]) * signal[k];
      ++count;
    }
  }
  const double rms = count > 0 ? std::sqrt(sum / static_cast<double>(count)) : 0.0;
  return rms > 0.0 ? 4.0 * FLT_EPSILON * rms : 1e-30;
}

double ChiSquareFall(double oldRmsd, double newRmsd, double points, double resolution) {
  const double sigma = newRmsd > resolution ? newRmsd : resolution;
  const double o = oldRmsd > resolution ? oldRmsd : resolution;
  const double n = newRmsd > resolution ? newRmsd : resolution;
  return points * (o * o - n * n) / (sigma * sigma);
}

bool FallWithinNoise(double noiseOnly, double fit, double points, double noiseParameters, int amplitudes,
                     int nonlinear, double resolution, double* chiSquareFall) {
  const double nu1 = static_cast<double>(amplitudes) + nonlinear;
  const double nu2 = points - noiseParameters - nu1;
  const double rounding = points * resolution * resolution;
  const double fall = noiseOnly - fit;
  if (chiSquareFall) *chiSquareFall = 0.0;
  // Nothing lowered beyond rounding: the noise terms take the data whole,
  // or no amplitude came out positive.
  if (!(fall > rounding)) return true;
  if (!(nu1 > 0.0) || !(nu2 > 0.0)) return false;
  // The species take up all the noise terms leave: an exact fit is material.
  if (!(fit > rounding)) return false;
  const double sigma2 = fit / nu2;
  if (chiSquareFall) *chiSquareFall = fall / sigma2;
  return FDistributionProbability((fall / nu1) / sigma2, nu1, nu2) > kNoMaterialProbability;
}

bool StalledSteps::Judge(double oldRmsd, double newRmsd, double points, double expected) {
  const double n = points > 1.0 ? points : 1.0;
  double fall = ChiSquareFall(oldRmsd, newRmsd, n, resolution_);
  if (expected >= 0.0) {
    const double sigma = newRmsd > resolution_ ? newRmsd : resolution_;
    fall = std::max(fall, expected / (sigma * sigma));
  }
  bool any = false;
  for (int j = 1; j <= n_; ++j) any = any || now_[static_cast<size_t>(j)];
  if (!(fall < kStalledChiSquare) || !any) {
    inRow_ = 0;
    for (char& m : moved_) m = 0;
    return false;
  }
  for (size_t j = 1; j <= static_cast<size_t>(n_); ++j) moved_[j] = moved_[j] || now_[j];
  return ++inRow_ >= 2;
}

std::vector<int> StalledSteps::Moved() const {
  std::vector<int> out;
  for (int j = 1; j <= n_; ++j)
    if (moved_[j]) out.push_back(j);
  return out;
}

bool NamedInSignalUnits(const std::string& name) {
  if (name == "baseline" || name == "buffer signal") return true;
  return name.size() == 2 && name[0] == 'c' && name[1] >= '1' && name[1] <= '4';
}

double NoiseFromNeighbours(double* differences) {
  const ScanSet& ss = CurrentScanSet();
  double sum = 0.0, count = 0.0;
  for (int s = 1; s <= ss.count; ++s) {
    const size_t u = static_cast<size_t>(s);
    if (u >= ss.signals.size() || u >= ss.firstFitPoint.size() || u >= ss.lastFitPoint.size() || !ss.signals[s])
      continue;
    const float* y = ss.signals[s];
    for (int k = std::max(1, ss.firstFitPoint[s]); k < ss.lastFitPoint[s]; ++k) {
      const double d = static_cast<double>(y[k + 1]) - y[k];
      sum += d * d;
      count += 1.0;
    }
  }
  *differences = count;
  return count > 0.0 ? sum / (2.0 * count) : 0.0;
}

std::vector<int> EntriesTheDataLeaveOpen(FitHost* host, float (*target)(float* v, FitHost* host),
                                         const FitEndPoint& end, FitEndFall* fall) {
  std::vector<int> open;
  if (fall) *fall = FitEndFall{};
  const int n = static_cast<int>(end.value.size()) - 1;
  const double resolution = RmsdResolution();
  if (n < 1 || !(end.points > 0.0) || !(end.rmsd > resolution) || !std::isfinite(end.rmsd)) return open;
  // sigma^2: the noise, which the end's rmsd overstates where the model
  // cannot follow the data (a distribution whose s range lies beside the
  // boundaries leaves a misfit many times the noise, in units of which a
  // quantity that shapes the model would seem to change nothing). The
  // neighbouring signals tell the noise free of any model, and only ever
  // too high: the smaller of the two.
  double differences = 0.0;
  const double neighbours = NoiseFromNeighbours(&differences);
  double sigma2 = end.rmsd * end.rmsd;
  if (differences > 0.0 && neighbours > resolution * resolution) sigma2 = std::min(sigma2, neighbours);
  std::vector<float> trial(end.value);
  for (int j = 1; j <= n; ++j) {
    const size_t u = static_cast<size_t>(j);
    const double value = end.value[u];
    const double start = u < end.start.size() ? std::fabs(end.start[u]) : 0.0;
    const double scale = std::max(std::fabs(value), start);
    double step = scale != 0.0 ? kStalledMove * scale : kStalledMove;
    if (u < end.signalUnits.size() && end.signalUnits[u]) step = std::max(step, end.rmsd);
    // Named when some side was computed and none changed chi-square by a
    // unit.
    int computed = 0;
    bool within = true, crossedZero = false;
    auto side = [&](float wanted) {
      trial = end.value;
      trial[u] = wanted;
      const float rmsd = target(trial.data(), host);
      // Not computed, or held where it stood: that side tells nothing. A
      // side a range holds short of the tenth still moves the entry as far
      // as the fit lets it (a molar mass of 2.2 kDa over featureless scans,
      // held at 5.6 kDa: its tenth of 69 kDa, 9.1 kDa, lies beyond, its
      // other side below 0), and the data leave it open when that changes
      // chi-square by less than a unit.
      if (trial[u] == end.value[u] || !(rmsd < kRejectedTrial)) {
        crossedZero = crossedZero || (wanted < 0.0f) != (value < 0.0);
        return;
      }
      ++computed;
      const double change = end.points * (static_cast<double>(rmsd) * rmsd - end.rmsd * end.rmsd) / sigma2;
      if (fall && change <= -kStalledChiSquare && -change > fall->units) *fall = FitEndFall{j, -change};
      within = within && std::fabs(change) < kStalledChiSquare;
    };
    for (const double sign : {1.0, -1.0}) {
      side(static_cast<float>(value + sign * step));
      if (gFitEngineState.stopRequested) return {};
      if (!within) break;
    }
    // Neither side taken, one of them beyond 0, where the model has no
    // species: that side goes as far as the model takes it, to a tenth of
    // the value (a molar mass of 170 Da at the least size its s allows,
    // which a tenth of its start of 69 kDa takes below 0).
    if (computed == 0 && crossedZero && value != 0.0) {
      side(static_cast<float>(kStalledMove * value));
      if (gFitEngineState.stopRequested) return {};
    }
    if (computed > 0 && within) open.push_back(j);
  }
  return open;
}

bool TellWhatTheDataLeaveOpen(FitHost* host, float (*target)(float* v, FitHost* host), const FitEndPoint& end,
                              std::string (*name)(int k), const std::function<void()>& restore) {
  // The whole fit's time bound tells its end when the fit's scope closes,
  // after this: until then the record still says reached. A fit the bound
  // ended evaluates nothing more.
  // An end that names what the data leave open by a test of its own (steps
  // that stalled, the curvature, a species without a loading) named them
  // where that test looked, and only those it looked at: the annealing's
  // finishing pass named s1 over featureless scans where a tenth of it
  // changed chi-square by 30 000 units, and Marquardt-Levenberg named M1 and
  // s1 of two species where M2 and s2 changed it by less than one. The
  // probes judge it again, as they judge a reached end. The c(s) family's
  // end without material stands: its names follow from the F test.
  const FitEndRecord told = LastFitEnd();
  const bool namedByItsOwnTest =
      told.kind == FitEndKind::Undetermined && told.text.rfind(kUndeterminedLead, 0) == 0;
  if ((told.kind != FitEndKind::Reached && !namedByItsOwnTest) || gFitEngineState.budgetSpent) return false;
  const int n = static_cast<int>(end.value.size()) - 1;
  if (n < 1 || !(end.rmsd > RmsdResolution()) || !(end.points > 0.0)) return false;
  FitEndFall fall;
  const int codeBefore = gSerialFitSettings.errorCode;
  const std::vector<int> open = EntriesTheDataLeaveOpen(host, target, end, &fall);
  const bool stopped = UserStopPending();
  gFitEngineState.stopRequested = 0;
  restore();
  if (stopped) {
    // The test the user cut short tells nothing, a fall it found before the
    // key neither: the end point is the best the fit found.
    gSerialFitSettings.errorCode = codeBefore;
    TellStoppedAtTheEnd(host);
    return true;
  }
  if (fall.entry > 0) {
    char why[160];
    std::snprintf(why, sizeof why, "moving %s by a tenth lowers chi-square by %.1f", name(fall.entry).c_str(),
                  fall.units);
    ReportStoppedAwayFromMinimum(host, why);
    return true;
  }
  if (open.empty()) {
    if (!namedByItsOwnTest) return false;
    // Every entry its test named is determined here, and no probe fell.
    RecordFitEnd(host, FitEndKind::Reached, "the fit reached its minimum");
    return true;
  }
  std::vector<std::string> names;
  for (int k : open) names.push_back(name(k));
  if (UndeterminedText(names) == told.text) return false;
  ReportUndetermined(host, names);
  return true;
}

bool UserStopPending() { return gFitEngineState.stopRequested && !FitStoppedByBudget(); }

void TellStoppedAtTheEnd(FitHost* host) {
  RecordFitEnd(host, FitEndKind::Stopped, "the fit was stopped: the best parameters found are kept");
  gSerialFitSettings.abortRequest = 1;
  if (host) host->RaiseRealtimeInterrupt();
}

std::string FitEndKindName(FitEndKind kind) {
  switch (kind) {
    case FitEndKind::Reached: return "reached";
    case FitEndKind::Limit: return "limit";
    case FitEndKind::Undetermined: return "undetermined";
    case FitEndKind::NotReached: return "not reached";
    case FitEndKind::Stopped: return "stopped";
    default: return "";
  }
}

std::string LimitEndText(const std::string& what) {
  return what + ": the best parameters found are kept; a second Fit continues from there";
}

FitEndRecord& LastFitEnd() {
  static FitEndRecord record;
  return record;
}

namespace {

int gFitEndNoteHolds = 0;
bool gFitEndRecordedInHold = false;

void ShowFitEnd(FitHost* host, const FitEndRecord& end) {
  if (end.kind == FitEndKind::None || end.kind == FitEndKind::Reached || end.kind == FitEndKind::Stopped) return;
  if (gSerialFitSettings.running || !host) return;
  host->MessageBox("", end.text);
}

}  // namespace

void RecordFitEnd(FitHost* host, FitEndKind kind, const std::string& text) {
  LastFitEnd() = FitEndRecord{kind, text};
  if (gFitEndNoteHolds > 0) {
    gFitEndRecordedInHold = true;
    return;
  }
  ShowFitEnd(host, LastFitEnd());
}

FitEndNoteHold::FitEndNoteHold(FitHost* host) : host_(host) {
  if (gFitEndNoteHolds++ == 0) gFitEndRecordedInHold = false;
}

FitEndNoteHold::~FitEndNoteHold() {
  if (--gFitEndNoteHolds != 0 || !gFitEndRecordedInHold) return;
  gFitEndRecordedInHold = false;
  ShowFitEnd(host_, LastFitEnd());
}

void ReportUndetermined(FitHost* host, const std::vector<std::string>& names) {
  if (names.empty()) return;
  RecordFitEnd(host, FitEndKind::Undetermined, UndeterminedText(names));
}

void ReportNoMaterial(FitHost* host, const std::vector<std::string>& names, double fall, int amplitudes) {
  if (names.empty()) return;
  char why[200];
  std::snprintf(why, sizeof why,
                "the data show no sedimenting material beyond the noise (the %d amplitudes of the distribution "
                "lower chi-square by %.1f, no more than they would fitting noise alone): ",
                amplitudes, fall);
  RecordFitEnd(host, FitEndKind::Undetermined,
               why + kUndeterminedLead + NameList(names) +
                   "; the best parameters found are kept");
}

void ReportIterationLimit(FitHost* host) {
  if (gSerialFitSettings.running) gSerialFitSettings.errorCode = 10;
  RecordFitEnd(host, FitEndKind::Limit,
               LimitEndText("the fit did not settle in " + std::to_string(gFitEngineState.mlMaxIterations) +
                            " Marquardt-Levenberg iterations"));
}

void ReportStoppedAwayFromMinimum(FitHost* host, const std::string& why) {
  if (gSerialFitSettings.running) gSerialFitSettings.errorCode = 10;
  RecordFitEnd(host, FitEndKind::NotReached,
               "the fit stopped away from a minimum: " + why +
                   "; the best parameters found are kept; a second Fit, or the simplex, continues from there");
}

void ReportMarquardtEnd(FitHost* host, bool undetermined, const std::vector<std::string>& names, bool shrunk,
                        bool done, const std::vector<std::string>& held) {
  if (undetermined)
    ReportUndetermined(host, names);
  else if (shrunk)
    ReportStoppedAwayFromMinimum(host, "every step from there was rejected (the model could not be computed "
                                       "along it, or was no lower)");
  else if (!done)
    ReportIterationLimit(host);
  else if (!held.empty())
    ReportStoppedAwayFromMinimum(host, "its steps lead beyond the fit range of " + NameList(held) +
                                           ", which is held at its limit");
}

void ReportRestartsExhausted(FitHost* host) {
  if (gSerialFitSettings.running) gSerialFitSettings.errorCode = 10;
  RecordFitEnd(host, FitEndKind::Limit,
               LimitEndText("the fit did not settle in " + std::to_string(kMaxNelderMeadRestarts) + " restarts"));
}

void ReportSimplexEvaluationsExhausted(FitHost* host) {
  if (gSerialFitSettings.running) gSerialFitSettings.errorCode = 10;
  RecordFitEnd(host, FitEndKind::Limit,
               LimitEndText("the fit did not settle in " + std::to_string(kMaxNelderMeadEvaluations) +
                            " simplex evaluations"));
}

void ReportAnnealingEnd(FitHost* host, bool interrupted) {
  if (interrupted)
    RecordFitEnd(host, FitEndKind::Stopped, "the fit was stopped: the best parameters found are kept");
  else
    RecordFitEnd(host, FitEndKind::Limit, LimitEndText("the annealing schedule ended the fit"));
}

void ReportFitBudgetSpent(FitHost* host) {
  if (gSerialFitSettings.running) gSerialFitSettings.errorCode = 10;
  const std::string minutes = std::to_string(static_cast<long long>(gFitEngineState.maxFitSeconds / 60.0));
  RecordFitEnd(host, FitEndKind::Limit, LimitEndText("the fit did not settle in " + minutes + " minutes"));
}
