#include "app/commands/display/clipboard_commands.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "app/window/txla_window.h"
#include "app/window/wait_cursor.h"
#include "data/scan_grid.h"
#include "data/scan_set.h"
#include "distributions/prior_knowledge.h"
#include "distributions/analysis/extrapolation_plot.h"
#include "distributions/analysis/lsgs_extrapolation.h"
#include "distributions/conti_models.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/parameter_listing.h"
#include "numerics/clipboard_tables.h"
#include "platform/sounds.h"
#include "platform/clipboard.h"
#include "platform/metafile.h"
#include "platform/user_interface.h"
#include "plot/distribution_plot.h"

namespace {

const ModelSelectorFlags& F() { return gModelSelectorFlags; }

bool Yes(const std::string& question) {
  return platform::AskYes("", question);
}

bool ScansLoaded() { return CurrentScanSet().count > 0; }

// Unset fit limits become the meniscus and bottom of the model; the
// per-scan point ranges the tables read are then recomputed for both ends.
void RepairFitLimits() {
  ScanSet& s = CurrentScanSet();
  if (s.leftFitLimit != 0 && s.rightFitLimit != 0) return;
  s.leftFitLimit = gModelParams.meniscus;
  s.rightFitLimit = gModelParams.bottom;
  CheckLeftFitLimit();
  CheckRightFitLimit();
}

// The columns of the extrapolation plot of the boundary analyses: the m
// fitted lines at every abscissa including 0, then the m fractions' s at
// the p rows, as the plot draws them: empty where a fraction's line left
// the row out (0 at the extra point).
bool CopyExtrapolationTable() {
  const ExtrapolationPlotData& e = ExtrapolationPlot();
  const int p = e.rows, m = e.fractions;
  if (!e.shown || p < 1 || m < 1 || static_cast<int>(e.x.size()) < p + 2) return false;
  std::vector<std::vector<float>> columns(2 * static_cast<std::size_t>(m) + 1,
                                          std::vector<float>(static_cast<std::size_t>(p) + 2, 0.0f));
  for (int j = 1; j <= m; ++j)
    for (int i = 1; i <= p + 1; ++i) {
      columns[j][i] = e.Line(j, e.x[i]);
      if (i <= p) columns[m + j][i] = e.Taken(i, j) ? e.S(i, j) : std::numeric_limits<float>::quiet_NaN();
    }
  std::vector<const float*> y(columns.size());
  for (std::size_t k = 1; k < columns.size(); ++k) y[k] = columns[k].data();
  CopyColumnsToClipboard(e.x.data(), y.data(), 1, p + 1, 2 * m);
  return true;
}

// Signals, fits or residuals of all scans in scan order. Interference scans
// share the first scan's radii: one x column, each scan's column ending
// with its own points. Other scans: one x and y pair per scan over its
// fitted points (lastOffset points fewer at the end).
void CopyScanArrays(const std::vector<float*>& arrays, int lastOffset) {
  const ScanSet& s = CurrentScanSet();
  const int n = s.count;
  std::vector<const float*> x(static_cast<std::size_t>(n) + 1), y(static_cast<std::size_t>(n) + 1);
  std::vector<int> first(static_cast<std::size_t>(n) + 1), last(static_cast<std::size_t>(n) + 1);
  for (int k = 1; k <= n; ++k) {
    x[k] = s.radii[k];
    y[k] = k < static_cast<int>(arrays.size()) ? arrays[k] : nullptr;
    first[k] = s.firstFitPoint[k];
    last[k] = s.lastFitPoint[k] - lastOffset;
  }
  if (CurrentDataTypeFlags().interference) {
    CopyColumnsToClipboard(s.radii[1], y.data(), s.firstFitPoint[1], s.lastFitPoint[1], n, nullptr,
                           s.points.data());
  } else {
    CopyScanTableToClipboard(x.data(), y.data(), first.data(), last.data(), n);
  }
}

void CopyScanTable(TXLAWindow& w, const std::vector<float*>& arrays, int lastOffset, bool sound) {
  if (!ScansLoaded()) return;
  WaitCursor wait(w);
  RepairFitLimits();
  CopyScanArrays(arrays, lastOffset);
  if (sound) PlaySoundOk();
}

bool DistributionShownModel() { return F().DistributionModel || F().SedTransformModel; }

// One y column over x, rows 1..rows.
void CopyOneColumn(const float* x, const float* y, int rows) {
  if (!x || !y || rows < 1) return;
  const float* columns[] = {nullptr, y};
  CopyColumnsToClipboard(x, columns, 1, rows, 1);
}

// The ls-g*(s) extrapolation: the groups' distributions over their s grid,
// or the extrapolated integral distribution, one row per extrapolated
// fraction (never beyond the grid).
void CopyLsgsDistributions(int g) {
  LsgsRunState& st = Lsgs();
  const ContiSettings& cs = Conti();
  if (Yes("ls-g*(s) distributions?")) {
    const int n = std::min(g, st.gridPoints);
    const int m = st.groupsDone;
    if (n < 1 || m < 1 || static_cast<int>(st.sGrid.size()) <= n) return;
    std::vector<std::vector<float>> columns(static_cast<std::size_t>(m) + 1,
                                            std::vector<float>(static_cast<std::size_t>(n) + 1, 0.0f));
    std::vector<const float*> y(static_cast<std::size_t>(m) + 1);
    for (int k = 1; k <= m; ++k) {
      for (int i = 1; i <= n; ++i)
        columns[k][i] = st.groupDistributions[static_cast<std::size_t>(k - 1) * st.gridPoints + (i - 1)];
      y[k] = columns[k].data();
    }
    CopyColumnsToClipboard(st.sGrid.data(), y.data(), 1, n, m);
  } else {
    CopyOneColumn(cs.sValues, cs.distribution, std::min(st.fractions, g));
  }
}

// The c(s,f/f0) result: the 2-D grid with its five columns, or the
// distribution over s.
void Copy2DDistribution(int g) {
  const ContiSettings& cs = Conti();
  if (!Yes("2d distributions?")) {
    CopyOneColumn(cs.sValues, cs.distribution, g);
    return;
  }
  const float* columns[] = {nullptr, cs.grid2DM, cs.grid2DD, cs.grid2DStokes, cs.grid2DFf, cs.grid2DAmplitude};
  for (int k = 1; k <= 5; ++k)
    if (!columns[k]) return;
  if (cs.grid2DS && cs.grid2DSize > 0) CopyColumnsToClipboard(cs.grid2DS, columns, 1, cs.grid2DSize, 5);
}

// A one-dimensional distribution; false when the user wanted none.
bool Copy1DDistribution(int g) {
  const ContiSettings& cs = Conti();
  const float* y = cs.distribution;
  if (cs.showBothRegularizations) {
    if (Yes("Max Ent distribution?"))
      y = cs.distribution;
    else if (Yes("Tikhonov distribution?"))
      y = cs.companionDistribution;
    else
      return false;
  }
  const bool mass = F().CSWithMsTableModel ? cs.msTableLoaded != 0 : MassGridModel();
  CopyOneColumn(mass ? cs.molarMasses : cs.sValues, y, g);
  return true;
}

}  // namespace

void SaveParametersListing(TXLAWindow& window, const std::string& name) {
  WaitCursor wait(window);
  SaveParametersToFile(name);
}

void TXLAWindow::CmCopyFitParameters() { CopyParametersToClipboard(); }

void TXLAWindow::CmCopyDataTable() {
  if (CopyExtrapolationTable()) return;
  CopyScanTable(*this, CurrentScanSet().signals, 0, true);
}

void TXLAWindow::CmCopyFitDataTable() {
  if (CopyExtrapolationTable()) return;
  CopyScanTable(*this, CurrentScanSet().model, 0, true);
}

void TXLAWindow::CmCopyResidualsTable() { CopyScanTable(*this, CurrentScanSet().residuals, 1, false); }

void TXLAWindow::CmCopyRINoiseTable() {
  const ScanSet& s = CurrentScanSet();
  if (!ScansLoaded() || !gModelParams.riNoiseFit || !s.riNoise) return;
  WaitCursor wait(*this);
  RepairFitLimits();
  std::vector<float> times(static_cast<std::size_t>(s.count) + 1, 0.0f);
  std::vector<float> noise(static_cast<std::size_t>(s.count) + 1, 0.0f);
  for (int i = 1; i <= s.count; ++i) {
    times[i] = static_cast<float>(s.records[i].time);
    noise[i] = TotalRINoise(s, i);
  }
  CopyOneColumn(times.data(), noise.data(), s.count);
  PlaySoundOk();
}

void TXLAWindow::CmCopyTINoiseTable() {
  const ScanSet& s = CurrentScanSet();
  if (!ScansLoaded() || !gFitEngineState.fitTINoise || !s.tiNoise || !s.grid) return;
  WaitCursor wait(*this);
  RepairFitLimits();
  const float* columns[] = {nullptr, s.tiNoise};
  CopyColumnsToClipboard(s.grid, columns, s.firstGridPoint, s.lastGridPoint, 1);
  PlaySoundOk();
}

void TXLAWindow::CmCopyDistribution() {
  if (!ScansLoaded() || !DistributionShownModel()) return;
  const ContiSettings& cs = Conti();
  const int g = cs.gridSize;
  WaitCursor wait(*this);
  RepairFitLimits();
  if (F().LsgExtrapolationModel) {
    CopyLsgsDistributions(g);
  } else if (!TwoDimensionalModel()) {
    if (!Copy1DDistribution(g)) return;
  } else {
    Copy2DDistribution(g);
  }
  PlaySoundOk();
}

void TXLAWindow::CmCopyPriorKnowledgeTable() {
  const ContiSettings& cs = Conti();
  if (!Priors().use || !ScansLoaded() || !DistributionShownModel() || !cs.prior || !cs.priorCompanion) return;
  WaitCursor wait(*this);
  RepairFitLimits();
  const int rows = std::min(cs.gridSize, DistArrays().allocatedPrior);
  if (rows < 1) return;
  std::vector<float> x(static_cast<std::size_t>(rows) + 1), y(static_cast<std::size_t>(rows) + 1);
  for (int i = 1; i <= rows; ++i) {
    x[i] = static_cast<float>(cs.priorCompanion[i]);
    y[i] = static_cast<float>(cs.prior[i]);
  }
  CopyOneColumn(x.data(), y.data(), rows);
  PlaySoundOk();
}

void TXLAWindow::CmCopyDistributionPlot() {
  if (!DistributionShownModel()) return;
  const platform::HMETAFILE mf = GetDistributionPlotMetafile();
  if (!mf) return;
  platform::ClipboardPicture picture;
  picture.metafile = platform::MetafileContents(mf);
  if (!picture.metafile) return;
  picture.mapMode = platform::MM_ISOTROPIC;
  picture.xExt = 13000;
  picture.yExt = 9000;
  platform::Clipboard().SetPicture(picture);
  PlaySoundOk();
}
