#pragma once
// What the files of the continuous-distribution fit share (conti_fit.cpp:
// the objective and the drivers; conti_fit_restarts.cpp: the Nelder-Mead
// restarts with their Marquardt steps; conti_fit_marquardt.cpp: the
// Levenberg-Marquardt fit): the record of the last evaluation, the evidence
// of material, the residuals the restarts keep, and the drivers' shared steps.
#include <string>
#include <vector>

#include "distributions/conti_context.h"
#include "distributions/conti_fit_vector.h"
#include "fit/fit_end.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/model_selector.h"
#include "fit/nelder_mead.h"

struct ScanSet;

namespace conti_fit_work {

const ModelSelectorFlags& F();
FitEngineState& FS();

// The fit vector's model predicates and the positions of its entries.
using conti_fit_vector::Bimodal;
using conti_fit_vector::Positions;
using conti_fit_vector::TwoDimensional;
using conti_fit_vector::ZoneGeometry;

// Sum of squared residuals of the last evaluation, and its number of points.
extern double gSumSquares;
extern double gFittedPoints;

// The point of the last evaluation during a fit and its misfit, while the
// model still holds its curves: a minimiser that asks for the same point
// again (a step beyond a limit put back onto it, a derivative taken
// outwards at a limit) is given the same result without solving the
// species again. Forgotten at every fit's start, after an evaluation that
// did not end in a misfit, and for the result's own evaluation.
struct LastEvaluation {
  std::vector<float> point;
  double sumSquares = 0.0, points = 0.0;
  float rmsd = 0.0f;
  bool valid = false;
};
extern LastEvaluation gLastEvaluation;

// The lowest misfit a fit has evaluated so far, beside what the systematic
// noise terms alone leave of the data (the normal equations' sum of squares
// of the centred data) and the count of its amplitudes: whether the data
// show any material at all (FallWithinNoise). Every amplitude counts, not
// only the positive ones: the non-negative solve picks from all of them
// those that fit the noise best, and a few picked from a hundred lower
// chi-square by far more than a few chosen in advance. Forgotten at every
// fit's start.
struct MaterialEvidence {
  double sumSquares = 0.0, noiseOnly = 0.0, points = 0.0, noiseParameters = 0.0;
  int amplitudes = 0, scans = 0;
  bool valid = false;
};
extern MaterialEvidence gBestEvidence;

// Records the evidence of the evaluation just solved when it is the lowest
// of the fit.
void RecordMaterialEvidence(const ScanSet& sc, double points);
// Whether the best evaluation so far shows no material beyond the noise;
// `fall` receives the fall of chi-square the distribution gave.
bool DataShowNoMaterial(int n, double* fall);
// Whether an evaluation depends on the fitted parameters alone.
bool ParametersAlone();

// The points the Nelder-Mead restarts have evaluated (none outside them).
extern EvaluatedPoints* gEvaluated;
// The residuals (data less model and noise at the scans' fitted points) of the
// last evaluation, and those of the lowest one with its point, while the
// Nelder-Mead restarts record them.
struct ResidualMemory {
  std::vector<float> last, best, bestPoint;
  float bestValue = 1e30f;
};
extern ResidualMemory* gResiduals;
void RecordResiduals(const float* p, float rmsd);

void Trace(const char* text);
std::vector<int> AllEntries(int n);
std::vector<std::string> ContiEntryNames(const std::vector<int>& entries);
// Whether TmpSaveBestParams is kept for the model (see the definition).
bool SaveBestApplies(bool smallStep = false);
void SaveBest(FitHost* host, bool smallStep = false);
void RaiseInterruptFlags(FitHost* host);
// The largest and the smallest f/f0 a fit takes, and whether a fitted f/f0
// stands at its ceiling.
float FrictionalRatioCeiling();
float FrictionalRatioFloor();
bool AtFrictionalRatioCeiling();
// The common start of the three drivers; false when a check fails.
bool CommonStart(FitHost* host, unsigned char* redraw);
// The distribution of the current parameters, regularised, on the screen.
void FinishDistribution();
// Nothing floats: the distribution of the current parameters shown.
int NothingFloats(FitHost* host, unsigned char redraw);
// Vertices other than `keep` scattered around vertex `centre`.
void Scatter(float** p, int n, int centre, int keep);
// Vertices other than `centre` drawn with the widths a restart learnt.
void ScatterLearnt(float** p, int n, int centre, const float* spread);
// One box for the whole Fit, at its end: what the regularisation of the
// result (or a solve of it) had to say is said with the fit's end, which a
// box shows also when the fit reached its minimum or was stopped. The
// outermost of nested drivers (a finishing pass after annealing) says it.
// Declared before the fit's budget scope, whose end it follows.
class OneEndBox {
 public:
  explicit OneEndBox(FitHost* host) : host_(host), hold_(host) {}
  ~OneEndBox() {
    if (!notes_.Outermost()) return;
    const std::string said = TakeContiFitNotes();
    if (said.empty()) return;
    FitEndRecord& end = LastFitEnd();
    end.text = end.text.empty() ? said : end.text + "; " + said;
    // The hold shows the ends it holds; these it does not.
    const bool unshown = end.kind == FitEndKind::None || end.kind == FitEndKind::Reached ||
                         end.kind == FitEndKind::Stopped;
    if (unshown && host_ && !SerialFitRunning()) host_->MessageBox("", end.text);
  }
  OneEndBox(const OneEndBox&) = delete;
  OneEndBox& operator=(const OneEndBox&) = delete;

 private:
  FitHost* host_;
  FitEndNoteHold hold_;
  ContiFitNotesScope notes_;
};

// A stop of the user's told, the interruption passed on and the grid set
// up again; a stop by the whole fit's budget is none.
void StopEnd(FitHost* host);

// The Nelder-Mead restarts of a continuous-distribution fit
// (conti_fit_restarts.cpp).
int NelderMeadRestarts(FitHost* host);

}  // namespace conti_fit_work
