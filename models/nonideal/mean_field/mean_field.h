#pragma once
// The nonideal c(s) run: where the mean field ctot(r, t) comes from before
// each run ("interpol. data", "best fit", "load external"), the one or two
// batches of CLammNonIdeal species per run, the refinement of the field
// after each solve and its display and export as a ctot(r, t) movie.
#include <functional>
#include <memory>

#include "models/nonideal/mean_field/conti_nonid.h"

class CLammNonIdeal;

struct MeanFieldSettings {
  std::unique_ptr<CContiNonid> pCContiNonidSim;  // made by the first run, deleted by every load
  bool useInterpolatedData = false;  // "interpol. data"
  bool loadExternal = false;         // "load external"
  bool freeze = false;               // "freeze"
  int movieGridSize = 500;           // "resolution for sedimentation"
  int profileRadii = 100;            // "for mean field"
  bool debugFiles = false;           // "create debug files"
  bool extraDiscreteExcluded = false;  // "extra disc. species (excluded from ctot)"
  double lastChiSquare = -1.0;       // of the latest unregularised solve
  bool displayCtot = false;          // "Display ctot(r,t) (in mg/ml units)" is on
};
MeanFieldSettings& MeanField();

// Deletes the model object (every data load does).
void DeleteNonidealModel();
// Deletes the process's ctot(r, t) movie and ends its display.
void DeleteMeanFieldCtot();

// Before every nonideal run or fit evaluation: makes the object and decides
// whether the stored field is reused or the data table is made again.
void CheckExternalMeanFieldForRun();
// In place of the ideal species list: one batch with the data table (and,
// with "best fit", a field from its solve and a second batch with it), or
// one batch with the stored or loaded field. 0 or the solver's error code.
int RunNonidcofsSedList(int n, const double* sList, const double* dList, const double* vbarList);
// After the run's normal equations: a better unregularised solve refines the field.
void RefineMeanFieldAfterSolve();
// At the end of a run with TI or RI noise: a loaded field becomes the start
// of "best fit".
void SwitchExternalFieldToBestFit();

// The model holds a valid field of its mean-field pass.
bool ModelHoldsMeanField();
// The model's field into the movie (mg/ml); false when there is none or the
// signal per mg/ml is not positive.
bool CopyMeanFieldToCtotMovie();

// One batch of nonideal species on a configured prototype (the solver's
// list runner by default; tests record the batches instead).
using NonidealBatchRunner =
    std::function<int(const CLammNonIdeal& prototype, int n, const double* s, const double* D, const double* vbar)>;
void SetNonidealBatchRunner(NonidealBatchRunner runner);

// Connects the run, the fit evaluations and the loaders to the model.
void InstallMeanFieldHooks();
