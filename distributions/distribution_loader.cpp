#include "distributions/distribution_loader.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <type_traits>

#include "data/scan_set.h"
#include "distributions/conti_context.h"
#include "distributions/conti_lamm_list.h"
#include "distributions/conti_run_hooks.h"
#include "distributions/conti_model_family.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/normal_equations.h"
#include "distributions/work_blocks.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/lamm_ideal.h"
#include "numerics/arrays.h"
#include "numerics/ccurve.h"

bool LoadDistributionFromFile(const std::string& path) {
  if (TwoDimensionalModel()) return false;
  FreeDistributionArrays();
  CCurve c;
  if (!c.ReadFromFile(path.c_str(), 1, 2) || c.Count() < 1) return false;
  const int n = c.Count();
  AllocDistributionArrays(n, 0, 0);
  ContiSettings& cs = Conti();
  const bool sBased = SBasedModel() && !LsgModel() && !gModelSelectorFlags.ZoneCentrifugationLsgModel;
  for (int i = 1; i <= n; ++i) {
    const float x = (*c.x)[i - 1], y = (*c.y)[i - 1];
    cs.distribution[i] = y;
    cs.companionDistribution[i] = 0.0f;
    cs.sValues[i] = sBased ? x : 0.0f;
    cs.molarMasses[i] = sBased ? 0.0f : x;
  }
  DistributionArrays& a = DistArrays();
  if (a.normaliseOnLoad) {
    // A term at point 1 that is no part of the distribution is an amplitude
    // of its own: it neither enters the sum and area nor is rescaled.
    const int k0 = LeadingTermModel() ? 2 : 1;
    const float* x = sBased ? cs.sValues : cs.molarMasses;
    double sum = 0.0, area = 0.0;
    for (int i = k0; i <= n; ++i) sum += cs.distribution[i];
    for (int i = k0; i < n; ++i)
      area += (cs.distribution[i + 1] + cs.distribution[i]) * (x[i + 1] - x[i]) / 2.0;
    if (area > 0.0) a.normalisationFactor = static_cast<float>(sum / area);
    for (int i = k0; i <= n; ++i) cs.distribution[i] /= a.normalisationFactor;
  }
  BuildDistributionPlot();
  const ScanSet& s = CurrentScanSet();
  const int points = s.count >= 1 ? s.points[1] : 0;
  if (!AllocDistributionWorkArrays(n, s.count, points)) return false;
  if (!AllocNormalEquationBlock(n, s.count, points)) {
    FreeDistributionWorkArrays(n);
    return false;
  }
  return true;
}

namespace {

// The inputs of the kernels kept for the next Run.
std::string gKeptKernelInputs;

template <typename T>
void Put(std::string& key, const T& value) {
  static_assert(std::is_arithmetic_v<T>);
  key.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// Every input of the c(s,f/f0) kernels and normal equations, as bytes; empty
// when they cannot all be named (a run other than the plain sector cell's:
// its kernels are then computed every time). The species' own s and D follow
// from the grid (compared apart), the solvent and the scans' temperature.
std::string ContiKernelInputs() {
  const ScanSet& sc = CurrentScanSet();
  if (sc.count < 1 || !WorkBlock().lammSolutions) return {};
  // What every species' solver reads besides its s and D: a solver of the
  // list loaded for a unit species says it by its key. Whether it shows its
  // progress (once the window has been drawn) changes no curve.
  CLammIdeal solver;
  bool& drawing = ContiContext().drawingEnabled;
  const bool drawingBefore = drawing;
  drawing = false;
  ConfigureContiLammSpecies(solver, 1, 1.0, 1e-7, gSolutionConditions.vbar);
  drawing = drawingBefore;
  std::string key = solver.PlainRunKey(false);
  if (key.empty()) return key;
  const SolutionConditions& sol = gSolutionConditions;
  Put(key, sol.temperature), Put(key, sol.vbar), Put(key, sol.density), Put(key, sol.viscosity);
  Put(key, sc.records[sc.count].temperature);
  const ContiSettings& cs = Conti();
  Put(key, gModelSelectorFlags.CSff0With1DiscreteModel), Put(key, cs.discreteS), Put(key, cs.discreteM);
  // The normal equations: noise switches, fixed baseline, buffer component,
  // the fit range on the grid and the data there.
  const NormalEquationInputs& in = NeqInputs();
  // (The baseline value enters only as a fixed one; a fitted one is the
  // Run's result.)
  Put(key, static_cast<int>(ChooseNoiseModel(in)));
  if (ChooseNoiseModel(in) == NoiseModel::Plain) Put(key, in.baselineValue);
  Put(key, ContiHooks().bufferCorrection), Put(key, ContiHooks().bufferConcentrationFitted);
  Put(key, in.groupFirst), Put(key, in.groupLast);
  Put(key, sc.firstGridPoint), Put(key, sc.lastGridPoint), Put(key, sc.gridLength);
  // The radial grid and the data on it by their values (the solver's key
  // names the arrays only).
  std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
  auto mix = [&](const float* v) {
    if (!v) return;
    const auto* bytes = reinterpret_cast<const unsigned char*>(v + 1);
    for (size_t b = 0; b < sizeof(float) * static_cast<size_t>(sc.gridLength); ++b)
      hash = (hash ^ bytes[b]) * 1099511628211ull;
  };
  mix(sc.grid);
  for (int k = 1; k <= sc.count; ++k) {
    Put(key, sc.order[k]), Put(key, sc.firstFitPoint[k]), Put(key, sc.lastFitPoint[k]);
    mix(k < static_cast<int>(sc.gridSignals.size()) ? sc.gridSignals[k] : nullptr);
  }
  Put(key, hash);
  return key;
}

}  // namespace

void ForgetContiKernelInputs() { gKeptKernelInputs.clear(); }
void KeepContiKernelInputs() { gKeptKernelInputs = ContiKernelInputs(); }

bool ContiFF0GridChanged() {
  DistributionArrays& a = DistArrays();
  const ContiSettings& cs = Conti();
  if (cs.silent) return true;
  if (!TwoDimensionalModel()) {
    a.kernelRebuild = true;
    return true;
  }
  a.kernelRebuild = !cs.grid2DAmplitude || !cs.grid2DS || !WorkBlock().lammSolutions ||
                    cs.resolution != a.lastResolution || cs.ffResolution != a.lastFfResolution ||
                    cs.sMin != a.lastSMin || cs.sMax != a.lastSMax || cs.ffMin != a.lastFfMin ||
                    cs.ffMax != a.lastFfMax ||
                    static_cast<int>(std::floor(cs.resolution)) * static_cast<int>(cs.ffResolution) !=
                        a.lastGrid2DSize ||
                    CurrentScanSet().dataChanged || !a.kernelsWhole;
  if (!a.kernelRebuild) {
    const std::string inputs = ContiKernelInputs();
    a.kernelRebuild = inputs.empty() || inputs != gKeptKernelInputs;
  }
  return a.kernelRebuild;
}
