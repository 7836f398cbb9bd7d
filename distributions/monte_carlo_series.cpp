// The Monte-Carlo series itself: base solution, synthetic data sets on the
// common grid, one right-hand side and one regularised solve per iteration.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "data/scan_set.h"
#include "distributions/conti_context.h"
#include "distributions/conti_grid.h"
#include "distributions/conti_model_family.h"
#include "distributions/conti_run.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/distribution_transforms.h"
#include "distributions/max_entropy.h"
#include "distributions/monte_carlo.h"
#include "distributions/normal_equations.h"
#include "distributions/regularization_scaling.h"
#include "distributions/work_blocks.h"
#include "fit/rmsd.h"
#include "numerics/arrays.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "numerics/random.h"
#include "numerics/regrid.h"
#include "platform/input_events.h"
#include "platform/paths.h"
#include "platform/user_interface.h"

namespace {

// The measured signals on the common grid, kept while synthetic data take
// their place: a copy of every owned grid row (views need none).
std::vector<std::vector<float>> gMeasuredGrid;

void KeepMeasuredGrid() {
  const ScanSet& s = CurrentScanSet();
  gMeasuredGrid.assign(static_cast<size_t>(s.count) + 1, std::vector<float>());
  if (!s.gridOwned) return;
  for (int j = 1; j <= s.count; ++j)
    gMeasuredGrid[j].assign(s.gridSignals[j], s.gridSignals[j] + s.gridLength + 1);
}

void RestoreMeasuredGrid() {
  ScanSet& s = CurrentScanSet();
  for (int j = 1; j <= s.count; ++j) {
    if (!s.gridOwned)
      s.gridSignals[j] = s.signals[j];
    else if (static_cast<int>(gMeasuredGrid[j].size()) == s.gridLength + 1)
      std::copy(gMeasuredGrid[j].begin(), gMeasuredGrid[j].end(), s.gridSignals[j]);
  }
  std::vector<std::vector<float>>().swap(gMeasuredGrid);
}

// Synthetic scans: the base fit's model plus Gaussian noise of its rmsd, in
// every scan's work signal, and from there on the common grid. A grid that
// views the scans' own signals views the work signals instead; every other
// grid is interpolated, whatever kind of data was loaded.
void MakeSyntheticScans() {
  ScanSet& s = CurrentScanSet();
  const MonteCarloState& mc = MonteCarlo();
  for (int j = 1; j <= s.count; ++j) {
    const int points = s.points[j];
    if (!s.work[j]) s.work[j] = vector(1, points);
    float* w = s.work[j];
    const std::vector<float>& model = mc.modelCopy[j];
    for (int i = 1; i <= points; ++i) w[i] = model[i] + GaussRandom(mc.baseRmsd);
    if (!s.gridOwned) {
      s.gridSignals[j] = w;
    } else {
      float* row = s.gridSignals[j];
      for (int r = 1; r <= s.gridLength; ++r) row[r] = 0.0f;
      InterpolateOntoGrid(s.gridLength, s.grid, row, points, s.radii[j], w);
    }
  }
}

// The solution of the block as the displayed distribution (c(s,f/f0): the
// 2-D values and their sum over f/f0), converted to a density.
void SolutionToDistribution() {
  if (CopySolutionToDistribution()) ConvertAmplitudesToDensity();
}

// Row k of the series from the displayed distribution (and its 2-D values).
void StoreRow(int k) {
  MonteCarloState& mc = MonteCarlo();
  const ContiSettings& cs = Conti();
  float* row = mc.Row(k);
  if (mc.twoDimensional) {
    for (int j = 1; j <= mc.G; ++j) row[j] = cs.grid2DAmplitude[j];
    float* marginal = mc.Marginal(k);
    for (int i = 1; i <= mc.sPoints; ++i) marginal[i] = cs.distribution[i];
  } else {
    for (int i = 1; i <= mc.G; ++i) row[i] = cs.distribution[i];
  }
}

// False (said by the writer) when the file could not be written.
bool WriteIteration(int k) {
  const MonteCarloState& mc = MonteCarlo();
  const ContiSettings& cs = Conti();
  char stem[32];
  std::snprintf(stem, sizeof stem, "%d", k);
  const std::string path = mc.folder + stem + ".dat";
  if (mc.twoDimensional) return SaveMonteCarloTable(path);
  CVector x, y;
  x.Attach(cs.sValues, cs.gridSize, 1);
  y.Attach(cs.distribution, cs.gridSize, 1);
  return CCurve(&x, &y).WriteToFile(path.c_str());
}

void RegularizedSolve() {
  const ContiSettings& cs = Conti();
  if (!TwoDimensionalModel() && (cs.maxEntropy || cs.showBothRegularizations))
    RegularizeDistribution();
  else
    ScaleRegularization();
}

int Threads() {
  const ContiSettings& cs = Conti();
  return cs.multipleThreads ? std::max(1, static_cast<int>(cs.normalEquationThreads)) : 0;
}

// The regularised solve of the measured data, as a run makes it: the block
// afterwards holds the best fit again, not the last synthetic data set.
void SolveMeasuredData(NoiseModel model) {
  MonteCarloRhs(model, Threads());
  SolveWithChosenRegularization();
}

// A key typed since the series began, or a stop asked for elsewhere, ends
// the series. The keys are counted, not looked for: a solve polling for its
// own interrupt may have taken the key from the queue.
unsigned long gKeysAtStart = 0;
bool StopAsked() {
  platform::PumpEvents();
  return platform::KeyDownsPosted() != gKeysAtStart || platform::StopFlag().load();
}

}  // namespace

int RunMonteCarloDistributions(int n, float c, const std::string& fileName, bool writeEach) {
  ContiSettings& cs = Conti();
  MonteCarloState& mc = MonteCarlo();
  ScanSet& s = CurrentScanSet();
  if (cs.showBothRegularizations && !SerialFitRunning())
    platform::Tell("Monte Carlo for Distributions", "only calculating for maximum entropy regularization");
  if (s.count < 1 || n < 2) return 0;
  cs.monteCarloRun = 1;
  cs.silent = 1;
  cs.synthetic = 0;
  mc.iteration = 0;
  if (!SetupContiGrid() || !AllocMonteCarloArrays(n) || !AllocMonteCarloModelCopy()) {
    cs.monteCarloRun = 0;
    return 0;
  }
  if (!SerialFitRunning()) {
    CreateMonteCarloLimitCurves();
    if (MonteCarloDisplay().addLimitCurves) {
      MonteCarloDisplay().addLimitCurves(mc.upperCurve, mc.lowerCurve);
      mc.curvesAdded = true;
    }
  }

  // The base solution, unregularised: its model curves are the noise-free data.
  const float level = cs.confidenceLevel;
  cs.confidenceLevel = 0.0f;
  RunContiSed();
  cs.confidenceLevel = level;
  if (!NeqBlock().block || !WorkBlock().lammSolutions) {
    cs.monteCarloRun = 0;
    FreeMonteCarloModelCopy();
    return 0;
  }
  SolutionToDistribution();
  CalculateppAFit();
  for (int j = 1; j <= s.count; ++j)
    for (int i = 1; i <= s.points[j]; ++i) mc.modelCopy[j][i] = s.model[j][i];
  mc.baseRmsd = CalcRmsd();

  mc.folder = platform::SplitPath(fileName).folder;
  StoreRow(1);
  // A file of the series that could not be written was said; the series
  // goes on without writing more (each would fail and be said again).
  if (writeEach && !WriteIteration(0)) writeEach = false;

  const NoiseModel model = ChooseNoiseModel(NeqInputs());
  KeepMeasuredGrid();
  // Keys typed before the series are no request to stop it.
  platform::ClearInput();
  gKeysAtStart = platform::KeyDownsPosted();
  int done = 0;
  bool stopped = false;
  for (int k = 1; k <= n; ++k) {
    if (StopAsked()) {
      stopped = true;
      break;
    }
    mc.iteration = k;
    char text[64];
    std::snprintf(text, sizeof text, "Monte-Carlo distribution #%d   ", k);
    if (MonteCarloDisplay().drawText) {
      MonteCarloDisplay().drawText(10, 70, text);
    } else if (DistributionPlotHost* h = GetDistributionPlotHost();
               h && ContiContext().drawingEnabled) {
      h->DrawText(10, 70, text);
    }
    MakeSyntheticScans();
    MonteCarloRhs(model, Threads());
    RegularizedSolve();
    // A solve cut short by a key is no member of the series.
    if (platform::StopFlag().load() || platform::KeyDownsPosted() != gKeysAtStart) {
      stopped = true;
      break;
    }
    SolutionToDistribution();
    StoreRow(k);
    if (writeEach && !WriteIteration(k)) writeEach = false;
    done = k;
  }
  RestoreMeasuredGrid();
  platform::StopFlag() = false;
  // Solved while the series still counts as running: a silent solve outside
  // it would skip the regularisation.
  SolveMeasuredData(model);
  cs.monteCarloRun = 0;
  SolutionToDistribution();
  // The limits come from the simulations that were completed.
  mc.n = done;
  if (stopped) {
    platform::FlushTypedInput();
    char text[160];
    std::snprintf(text, sizeof text, "Monte-Carlo series stopped by the user after %d of %d simulations%s", done,
                  n, done >= 2 ? "" : "\n(too few for confidence limits)");
    if (!SerialFitRunning()) platform::Tell("Monte Carlo for Distributions", text);
  }
  if (done < 2) {
    FreeMonteCarloModelCopy();
    return done;
  }

  if (!SerialFitRunning()) {
    if (mc.twoDimensional) {
      for (int j = 1; j <= mc.G; ++j) {
        double sum = 0.0;
        for (int k = 1; k <= done; ++k) sum += mc.Row(k)[j];
        cs.grid2DAmplitude[j] = static_cast<float>(sum);
      }
      for (int i = 1; i <= mc.sPoints; ++i) {
        double sum = 0.0;
        for (int q = 1; q <= cs.ffCount; ++q) sum += cs.grid2DAmplitude[(q - 1) * mc.sPoints + i];
        cs.distribution[i] = static_cast<float>(sum);
      }
      SaveMonteCarloTable(mc.folder + "_sum.dat");
    }
    MonteCarloDistributionLimits(c);
  }
  FreeMonteCarloModelCopy();
  return done;
}

int RunMonteCarloSw(int n, float c, float sMin, float sMax, const std::string& fileName,
                    bool writeEach) {
  const int done = RunMonteCarloDistributions(n, c, fileName, writeEach);
  if (done >= 2) MonteCarloSwStatistics(sMin, sMax, c);
  return done;
}

void EndMonteCarlo() {
  FreeMonteCarloArrays();
  FreeMonteCarloLimitCurves();
  if (NeqBlock().block) ShowContiSolution();
}
