#include "models/nonideal/mean_field/mean_field.h"

#include <algorithm>
#include <string>
#include <vector>

#include "data/load_hooks.h"
#include "data/scan_set.h"
#include "data/wiener_skew.h"
#include "distributions/conti_fit_display.h"
#include "distributions/conti_lamm_list.h"
#include "distributions/conti_run.h"
#include "distributions/conti_settings.h"
#include "distributions/nnls.h"
#include "distributions/regularization_matrix.h"
#include "distributions/work_blocks.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/solvent_gradient.h"
#include "lamm/lamm_nonideal.h"
#include "lamm/lamm_settings.h"
#include "lamm/lamm_threads.h"
#include "models/nonideal/mean_field/ctot_movie.h"
#include "platform/error_box.h"
#include "numerics/matrix_files.h"
#include "platform/diagnostics.h"
#include "platform/input_events.h"
#include "platform/paths.h"
#include "platform/program_paths.h"
#include "platform/user_interface.h"

namespace {

int DefaultBatch(const CLammNonIdeal& prototype, int n, const double* s, const double* D, const double* vbar) {
  const ScanSet& sc = CurrentScanSet();
  int& threads = LammThreadCount();
  const int saved = threads;
  threads = Conti().multipleThreads ? LammListThreads() : 1;
  const int code = CLRunMTList(&prototype, n, s, D, vbar, WorkBlock().lammSolutions, sc.grid, sc.gridLength,
                               nullptr, nullptr);
  threads = saved;
  return code;
}

NonidealBatchRunner& BatchRunner() {
  static NonidealBatchRunner runner = DefaultBatch;
  return runner;
}

void Trace(const char* text) { platform::WriteDiagnostics(text); }

CContiNonid* Model() { return MeanField().pCContiNonidSim.get(); }

// The fingerprint covers the scans on the common grid.
std::vector<int> GridPoints(const ScanSet& sc) {
  return std::vector<int>(static_cast<size_t>(sc.count) + 1, sc.gridLength);
}

void RecordFingerprint(CContiNonid& o) {
  ScanSet& sc = CurrentScanSet();
  if (sc.count < 1 || sc.gridSignals.size() < static_cast<size_t>(sc.count) + 1) return;
  const std::vector<int> points = GridPoints(sc);
  o.fingerprint.Record(sc.count, sc.records.data(), points.data(), sc.gridSignals.data());
}

bool DataUnchanged(const CContiNonid& o) {
  ScanSet& sc = CurrentScanSet();
  if (sc.count < 1 || sc.gridSignals.size() < static_cast<size_t>(sc.count) + 1) return false;
  const std::vector<int> points = GridPoints(sc);
  return o.fingerprint.Matches(sc.count, sc.records.data(), points.data(), sc.gridSignals.data());
}

double LastScanTime() {
  const ScanSet& sc = CurrentScanSet();
  return sc.count >= 1 ? sc.records[sc.order[sc.count]].timeRead : 0.0;
}

// The two table files are diagnostics: a file that could not be written is
// told once a session, and no more is tried.
void WriteTableFiles(CContiNonid& o) {
  const platform::ProgramPathsRecord& paths = platform::ProgramPaths;
  if (paths.BoundaryFractsPath.empty() || paths.NonIdCtotTablePath.empty()) return;
  if (platform::WriteFailureSaid(paths.BoundaryFractsPath) || platform::WriteFailureSaid(paths.NonIdCtotTablePath))
    return;
  std::vector<double*> rows(static_cast<size_t>(o.tableScans) + 1, nullptr);
  std::vector<std::vector<double>> copy(rows.size());
  for (int i = 1; i <= o.tableScans; ++i) {
    copy[i].assign(static_cast<size_t>(o.levelCount) + 1, 0.0);
    for (int j = 1; j <= o.levelCount; ++j) copy[i][j] = o.BoundaryPosition(i, j);
    rows[i] = copy[i].data();
  }
  if (!WriteMatrixFile(rows.data(), 1, o.tableScans, 1, o.levelCount, paths.BoundaryFractsPath.c_str())) {
    platform::FirstWriteFailure(paths.BoundaryFractsPath);
    return;
  }
  std::vector<double*> table(static_cast<size_t>(o.extrapolationTimes) + 1, nullptr);
  for (int k = 1; k <= o.extrapolationTimes; ++k) table[k] = const_cast<double*>(o.TableRows()[k]);
  if (!WriteMatrixFile(table.data(), 1, o.extrapolationTimes, 1, o.levelCount, paths.NonIdCtotTablePath.c_str()))
    platform::FirstWriteFailure(paths.NonIdCtotTablePath);
}

// The table from a noise-corrected copy of the scans: the loaded data and
// what is shown and saved of them stay as they are.
void BuildDataTable(CContiNonid& o) {
  const ScanSet& sc = CurrentScanSet();
  const ModelParams& mp = gModelParams;
  if (sc.count < 1 || !sc.grid || sc.gridSignals.size() < static_cast<size_t>(sc.count) + 1) return;
  const bool ti = gFitEngineState.fitTINoise && sc.tiNoise;
  const bool ri = mp.riNoiseFit && sc.riNoise;
  const bool baseline = !gFitEngineState.fitTINoise && !mp.riNoiseFit && mp.baselineFit;
  std::vector<std::vector<float>> signals(static_cast<size_t>(sc.count) + 1);
  std::vector<const float*> rows(signals.size(), nullptr);
  std::vector<double> times(signals.size(), 0.0);
  for (int i = 1; i <= sc.count; ++i) {
    const int scan = sc.order[i];
    const float* g = sc.gridSignals[scan];
    std::vector<float>& v = signals[i];
    v.assign(static_cast<size_t>(sc.gridLength) + 1, 0.0f);
    for (int r = 1; r <= sc.gridLength && g; ++r) {
      float x = g[r];
      if (ti) x -= sc.tiNoise[r];
      if (ri) x -= sc.riNoise[scan];
      if (baseline) x -= mp.baseline;
      v[r] = x;
    }
    rows[i] = v.data();
    times[i] = sc.records[scan].timeRead;
  }
  ExtrapolationInput in;
  in.scans = sc.count;
  in.times = times.data();
  in.signals = rows.data();
  in.grid = sc.grid;
  in.first = std::max(1, static_cast<int>(sc.firstGridPoint));
  in.last = sc.lastGridPoint >= in.first ? sc.lastGridPoint : sc.gridLength;
  in.meniscus = mp.meniscus;
  in.bottom = mp.bottom;
  in.lammGridPoints = LammSettings().gridSize.inUse;
  if (o.AllocExtrapolationWorkspace(sc.count, in.lammGridPoints) && o.ExtrapolateFromData(in)) WriteTableFiles(o);
}

// A field made from the fit: the species from the first that counts.
void FieldFromFit(CContiNonid& o, int n) {
  const NormalEquationBlock& b = NeqBlock();
  const int first = MeanField().extraDiscreteExcluded ? 2 : 1;
  o.ComputeCtotFromFit(first, n, b.solution, gModelParams.meniscus, gModelParams.bottom);
  RecordFingerprint(o);
}

// Solves the unregularised problem on the built normal equations; false
// when NNLS fails.
bool UnregularisedChiSquare(double& chi2) {
  AddRegularizationMatrix(0.0);
  if (!NNLS()) return false;
  // Rounding can take a perfect fit below zero, which would read as no field.
  chi2 = std::max(0.0, ChiSquareFromNormalEquations());
  MeanField().lastChiSquare = chi2;
  return true;
}

int RunMTList(CContiNonid& o, int n, const double* s, const double* D, const double* vbar) {
  Trace("\n  enter RunMTList to start MT sims");
  const MeanFieldSettings& mf = MeanField();
  const LammSolverSettings& st = LammSettings();
  const ScanSet& sc = CurrentScanSet();
  CLammNonIdeal prototype;
  ConfigureContiLammSpecies(prototype, 1, s[1], D[1], vbar ? vbar[1] : gSolutionConditions.vbar);
  SetModelOptionsFromSettings(prototype, st, st.workingMaxDcOverC, o.movieGridSize);
  const WienerSkewSettings& wiener = CurrentWienerSkew();
  if (wiener.use) prototype.EnableOptionWithTwoValues(wiener.magnitude, wiener.signalPerConcentration);
  // The fit moves the model's values; the pack takes these slots from the
  // nonideality terms, which must not fall behind.
  AssociationModelParams& terms = gAssociationModelParams;
  terms.logKs = gModelParams.value20;
  terms.logKd = gModelParams.value21;
  prototype.SetNonidealParameters(terms.logKs, terms.logKd, sc.signalPerConcentration,
                                  gModelSelectorFlags.NonidealCSVariant != 0, false);
  if (o.meanFieldPass && o.ctotFramesPresent && o.ctotValid) {
    prototype.SetCtotNodeTable(o.frameCount, o.regriddedCount, o.RegriddedFrames(), o.frameTimes.data());
  } else if (o.tableBuilt) {
    prototype.LoadCtotMatrix(o.extrapolationTimes, o.levelCount, o.TableRows(), o.tableTimes.data(),
                             o.levels.data(), o.levelStep, platform::ProgramPaths.TempFolder.c_str());
  }
  if (mf.debugFiles && !Conti().maxEntropy) prototype.SetCtotDump(true, 1, platform::ProgramPaths.TempFolder.c_str());
  if (o.recordProfiles) {
    if (!o.frameTimesPresent) o.BuildFrameTimes(LastScanTime(), CurrentCtotMovie());
    // A loaded field brings its own frame and radius counts.
    if (!o.profileStorePresent || o.storeSpeciesCount != n || o.storeFrameCount != o.frameCount ||
        static_cast<int>(o.profileRadii.size()) != o.profileRadiiCount + 1)
      o.AllocProfileStore(n, gModelParams.meniscus, gModelParams.bottom);
    if (o.frameTimesPresent && o.profileStorePresent)
      prototype.SetTimedProfiles(o.frameCount, o.profileRadiiCount, nullptr, o.ProfileStore(),
                                 o.frameTimes.data(), o.profileRadii.data());
  }
  const int code = BatchRunner()(prototype, n, s, D, vbar);
  Trace(" --> done with sims");
  Trace(" --> pLammSolutions deleted");
  return code;
}

}  // namespace

MeanFieldSettings& MeanField() {
  static MeanFieldSettings settings;
  return settings;
}

void DeleteNonidealModel() { MeanField().pCContiNonidSim.reset(); }

void DeleteMeanFieldCtot() {
  DeleteCtotMovie();
  MeanField().displayCtot = false;
}

void SetNonidealBatchRunner(NonidealBatchRunner runner) {
  BatchRunner() = runner ? std::move(runner) : NonidealBatchRunner(DefaultBatch);
}

void CheckExternalMeanFieldForRun() {
  MeanFieldSettings& mf = MeanField();
  bool reuse = true;
  if (!mf.pCContiNonidSim) {
    mf.pCContiNonidSim = std::make_unique<CContiNonid>(mf.movieGridSize, mf.profileRadii);
    // From now on a model may hold a field: a movie written takes it first.
    SetCtotMovieRefresh([] { return MeanField().freeze || !ModelHoldsMeanField() || CopyMeanFieldToCtotMovie(); });
    reuse = false;
  }
  CContiNonid& o = *mf.pCContiNonidSim;
  o.recordProfiles = true;
  const ScanSet& sc = CurrentScanSet();
  // A field that cannot be used is replaced by the data themselves, for good.
  auto toInterpolatedData = [&] {
    o.externalInUse = false;
    mf.loadExternal = false;
    mf.useInterpolatedData = true;
    reuse = false;
  };
  if (mf.loadExternal) {
    const CCtotMovie* movie = CurrentCtotMovie();
    if (!movie || !movie->HasField()) {
      ErrorBox("use external mean field: not loaded");
      toInterpolatedData();
    } else if (CheckMeanFieldCoverage(*movie, sc.records.data(), sc.order.data(), sc.count, sc.fileNames)) {
      reuse = true;
      o.externalInUse = true;
      if (mf.freeze) o.recordProfiles = false;
    } else {
      toInterpolatedData();
    }
  }
  if (!mf.loadExternal) {
    o.externalInUse = false;
    if (mf.useInterpolatedData) {
      reuse = false;
      o.FreeCtotFrames();
      o.recordProfiles = false;
    } else {
      if (o.ctotFramesPresent) {
        if (o.fieldChiSquare < 0 || !o.ctotValid) reuse = false;
        if (!DataUnchanged(o)) {
          ErrorBox("data appear to have changed - switching back to data extrapolation mode");
          reuse = false;
        }
      } else {
        reuse = false;
      }
      o.recordProfiles = !(reuse && mf.freeze);
    }
  }
  if (reuse) {
    o.extrapolationPass = false;
    o.meanFieldPass = true;
  } else {
    o.extrapolationPass = true;
    o.meanFieldPass = false;
    BuildDataTable(o);
    o.fieldChiSquare = -1.0;
  }
}

int RunNonidcofsSedList(int n, const double* sList, const double* dList, const double* vbarList) {
  Trace("\nEnter RunNonidcofsSedList");
  auto refuse = [](const char* text) {
    platform::Tell("", text, platform::BoxIcon::Warning);
    return -1;
  };
  if (CurrentSolventGradientSettings().UseInhomogeneousSolvent)
    return refuse("nonideal c(s) model not implemented yet for inhomogeneous solvent");
  if (ContiHooks().bufferCorrection)
    return refuse("nonideal c(s) model not implemented yet with buffer mismatch signals");
  CContiNonid* o = Model();
  if (!o) return refuse("error -- no pCContiNonidSim object allocated");
  MeanFieldSettings& mf = MeanField();
  const ScanSet& sc = CurrentScanSet();
  if (o->externalInUse && CurrentCtotMovie()) {
    if (o->LoadExternalCtot(*CurrentCtotMovie(), gModelParams.meniscus, gModelParams.bottom,
                            sc.signalPerConcentration))
      RecordFingerprint(*o);
  }
  int code = 0;
  if (o->extrapolationPass) {
    code = RunMTList(*o, n, sList, dList, vbarList);
    if (code >= 1 || platform::StopFlag().load()) return code;
    if (!mf.useInterpolatedData) {
      ContiNormalEquations(2);
      double chi2 = 0;
      if (!UnregularisedChiSquare(chi2)) return 0;
      if (o->fieldChiSquare < 0 || chi2 < o->fieldChiSquare) {
        FieldFromFit(*o, n);
        o->fieldChiSquare = chi2;
        o->meanFieldPass = true;
        o->fieldJustRefined = true;
      }
    }
  }
  if (o->meanFieldPass) {
    o->RegridCtotFrames(gModelParams.meniscus, gModelParams.bottom, o->movieGridSize, false);
    code = RunMTList(*o, n, sList, dList, vbarList);
  }
  Trace(" --> OUT");
  return code;
}

void RefineMeanFieldAfterSolve() {
  CContiNonid* o = Model();
  if (!o || !o->profileStorePresent || !o->ctotFramesPresent || !o->meanFieldPass) return;
  const MeanFieldSettings& mf = MeanField();
  double chi2 = 0;
  if (!UnregularisedChiSquare(chi2)) return;
  const int n = NeqBlock().gridPoints;
  const bool mayRefine = !mf.freeze && o->recordProfiles;
  if (o->externalInUse) {
    if (o->fieldChiSquare == -1.0) {
      o->fieldChiSquare = chi2;
    } else if (chi2 < o->fieldChiSquare && mayRefine) {
      FieldFromFit(*o, n);
      o->fieldChiSquare = chi2;
    }
  } else if ((chi2 < o->fieldChiSquare || o->fieldJustRefined) && mayRefine) {
    FieldFromFit(*o, n);
    o->fieldChiSquare = chi2;
  }
  o->fieldJustRefined = false;
}

void SwitchExternalFieldToBestFit() {
  CContiNonid* o = Model();
  MeanFieldSettings& mf = MeanField();
  if (!o || !o->externalInUse || !o->ctotValid || mf.freeze) return;
  o->externalInUse = false;
  mf.loadExternal = false;
}

bool ModelHoldsMeanField() {
  const CContiNonid* o = Model();
  return o && o->ctotFramesPresent && o->ctotValid && o->meanFieldPass;
}

bool CopyMeanFieldToCtotMovie() {
  if (!ModelHoldsMeanField()) return false;
  const ScanSet& sc = CurrentScanSet();
  if (!(sc.signalPerConcentration > 0)) return false;
  CContiNonid& o = *Model();
  std::vector<float*> frames(o.ctotFrames.size(), nullptr);
  for (size_t f = 1; f < frames.size(); ++f) frames[f] = o.ctotFrames[f].data();
  const float rpm = sc.count >= 1 ? sc.records[sc.order[sc.count]].rpm : 0.0f;
  return EnsureCtotMovie().Assign(o.frameCount, o.profileRadiiCount, o.extendedRadii.data(), o.frameTimes.data(),
                                  frames.data(), o.gridStart, o.gridEnd, sc.signalPerConcentration, rpm);
}

void InstallMeanFieldHooks() {
  ContiRunHooks& c = ContiHooks();
  c.checkMeanField = CheckExternalMeanFieldForRun;
  c.nonidealList = RunNonidcofsSedList;
  c.refineMeanField = RefineMeanFieldAfterSolve;
  c.endNonidealRun = SwitchExternalFieldToBestFit;
  // The run itself checks, after it has chosen the scans it fits.
  ContiFitDisplay().checkExternalMeanField = nullptr;
  CurrentLoadHooks().deleteNonidealModel = DeleteNonidealModel;
}
