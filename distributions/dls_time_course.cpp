#include "distributions/dls_time_course.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>

#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "distributions/conti_grid.h"
#include "distributions/conti_run.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/work_blocks.h"
#include "fit/dls_kernels.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/serial_fit_settings.h"
#include "numerics/arrays.h"
#include "numerics/cvector.h"
#include "platform/error_box.h"
#include "numerics/matrix_files.h"
#include "platform/input_events.h"
#include "platform/paths.h"
#include "platform/user_interface.h"

namespace {

constexpr const char* kStepModeLine = "step mode: space = next window, r = run on, s = stop";

// Set times (s) by time position, t[1..n].
std::vector<double> SetTimes() {
  const ScanSet& s = CurrentScanSet();
  std::vector<double> t(static_cast<size_t>(s.count) + 1, 0.0);
  for (int pos = 1; pos <= s.count; ++pos) {
    const int j = s.order[pos];
    t[static_cast<size_t>(pos)] =
        static_cast<int>(s.dlsRecords.size()) > j ? s.dlsRecords[static_cast<size_t>(j)].time : s.records[j].time;
  }
  return t;
}

std::string OutputPath(const char* name) {
  std::string folder = CurrentDataPaths().dataFolder;
  if (folder.empty()) folder = CurrentScanSet().dataFolder;
  return folder.empty() ? std::string(name) : platform::Combine(folder, name);
}

// The work set on the common grid, replaced by the mean of a window and
// restored from its copy; the earliest set's own values enter a window
// from that copy.
class WorkSet {
 public:
  WorkSet() {
    ScanSet& s = CurrentScanSet();
    j_ = s.order[1];
    n_ = s.gridLength;
    values_ = s.gridSignals[static_cast<size_t>(j_)];
    saved_.assign(values_ + 1, values_ + n_ + 1);
  }
  ~WorkSet() { std::copy(saved_.begin(), saved_.end(), values_ + 1); }
  WorkSet(const WorkSet&) = delete;
  WorkSet& operator=(const WorkSet&) = delete;

  void Average(const DlsTimeWindow& w) {
    const ScanSet& s = CurrentScanSet();
    std::vector<double> sum(static_cast<size_t>(n_) + 1, 0.0);
    for (int pos = w.first; pos <= w.last; ++pos) {
      const int j = s.order[pos];
      const float* y = j == j_ ? saved_.data() - 1 : s.gridSignals[static_cast<size_t>(j)];
      for (int r = 1; r <= n_; ++r) sum[static_cast<size_t>(r)] += y[r];
    }
    const double count = w.last - w.first + 1;
    for (int r = 1; r <= n_; ++r) values_[r] = static_cast<float>(sum[static_cast<size_t>(r)] / count);
  }

 private:
  int j_ = 0, n_ = 0;
  float* values_ = nullptr;
  std::vector<float> saved_;
};

bool Interactive() { return GetDistributionPlotHost() != nullptr && !platform::Headless(); }

enum class AfterWindow { Next, Stop };

// Keys after a window: "s" stops, "r" leaves step mode, any other key
// enters it (interactive sessions only); in step mode the run waits for
// space, "r" or "s", or for a stop request.
AfterWindow ReadStepKeys(bool& stepMode) {
  int key = 0;
  if (!stepMode) {
    if (!ReadKey(&key)) return AfterWindow::Next;
    if (key == 's') return AfterWindow::Stop;
    if (key == 'r' || !Interactive()) return AfterWindow::Next;
    stepMode = true;
  }
  platform::UI().StatusText(kStepModeLine);
  for (;;) {
    if (ReadKey(&key)) {
      if (key == ' ') return AfterWindow::Next;
      if (key == 'r') {
        stepMode = false;
        platform::UI().StatusText("");
        return AfterWindow::Next;
      }
      if (key == 's') return AfterWindow::Stop;
    }
    if (platform::StopFlag().load() || platform::InterruptRequest().exchange(false)) return AfterWindow::Stop;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// The sets of window w take the model of the window's distribution at their
// own lag times: sum_k c_k exp(-1e-4 D_k q^2 tau) + baseline, D_k of grid
// point k (cm^2/s) and q^2 of the set.
void ModelWindowSets(const DlsTimeWindow& w) {
  ScanSet& s = CurrentScanSet();
  const ContiSettings& cs = Conti();
  const NormalEquationBlock& b = NeqBlock();
  if (!b.solution || !cs.molarMasses) return;
  const int n = cs.gridSize;
  std::vector<double> D(static_cast<size_t>(n) + 1);
  for (int k = 1; k <= n; ++k) D[static_cast<size_t>(k)] = std::pow(10.0, static_cast<double>(cs.molarMasses[k]));
  DlsKernelInputs in;
  for (int pos = w.first; pos <= w.last; ++pos) {
    const int j = s.order[pos];
    if (static_cast<int>(s.dlsRecords.size()) <= j || !s.model[j]) continue;
    const float q2 = DlsScatteringVectorSquared(s.dlsRecords[static_cast<size_t>(j)]);
    for (int p = 1; p <= s.points[j]; ++p) {
      const double tau = std::pow(10.0, static_cast<double>(s.radii[j][p]));
      double v = gModelParams.baseline;
      for (int k = 1; k <= n; ++k) {
        if (b.solution[k] == 0.0) continue;
        in.D = D[static_cast<size_t>(k)];
        v += b.solution[k] * DlsKernelValue(in, q2, tau);
      }
      s.model[j][p] = static_cast<float>(v);
    }
  }
}

void Draw() {
  RedrawDistributionPlot();
  if (DistributionPlotHost* h = GetDistributionPlotHost()) h->RequestRepaint();
  platform::PumpEvents();
}

void WriteResults(const std::vector<DlsTimeWindow>& windows, const std::vector<std::vector<float>>& rows, int n) {
  const ContiSettings& cs = Conti();
  const int m = static_cast<int>(rows.size());
  CVector axis;
  if (cs.sValues && n > 0) axis.Attach(cs.sValues, n, 1);
  // A file that could not be written was said by its writer; the others
  // (the same folder, the same full disk) are not tried.
  if (!axis.WriteToFile(OutputPath("radii.dat").c_str())) return;
  std::vector<float> t(static_cast<size_t>(m) + 1, 0.0f);
  for (int v = 1; v <= m; ++v) t[static_cast<size_t>(v)] = static_cast<float>(windows[static_cast<size_t>(v) - 1].time);
  CVector times;
  if (m > 0) times.Attach(t.data(), m, 1);
  if (!times.WriteToFile(OutputPath("times.dat").c_str())) return;
  if (m < 1 || n < 1) return;
  float** matrixRows = matrix(1, m, 1, n);
  for (int v = 1; v <= m; ++v)
    for (int i = 1; i <= n; ++i) matrixRows[v][i] = rows[static_cast<size_t>(v) - 1][static_cast<size_t>(i) - 1];
  WriteMatrixFileT(matrixRows, 1, m, 1, n, OutputPath("sizes.dat").c_str());
  free_matrix(matrixRows, 1, m, 1, n);
}

}  // namespace

std::vector<DlsTimeWindow> DlsTimeCourseWindows(const std::vector<double>& t, double widthMinutes) {
  std::vector<DlsTimeWindow> windows;
  const int n = static_cast<int>(t.size()) - 1;
  if (n < 1 || !(widthMinutes > 0.0)) return windows;
  const double w = widthMinutes * 60.0;
  int last = n >= 2 ? 2 : 1;
  while (last < n && t[static_cast<size_t>(last)] < 1.5 * w) ++last;
  windows.push_back({1, last, 0.5 * (t[1] + t[static_cast<size_t>(last)])});
  for (int v = 2; last < n; ++v) {
    const int first = last + 1;
    while (last < n && (v + 0.5) * w > t[static_cast<size_t>(last)]) ++last;
    if (first > last) continue;  // a gap: no set in this window
    windows.push_back({first, last, 0.5 * (t[static_cast<size_t>(first)] + t[static_cast<size_t>(last)])});
  }
  return windows;
}

bool RunContiSedAndShow() {
  ContiSettings& cs = Conti();
  ScanSet& s = CurrentScanSet();
  const uint8_t runCommand = cs.runCommand;
  if (s.count == 1) {
    RunContiSed();
    return true;
  }
  if (!(cs.timeCourseWindowMinutes > 0.0f)) {
    platform::Tell("ERROR", "the time interval of the time course must be above 0 min", platform::BoxIcon::Error);
    return false;
  }
  // Converted before the work set is copied: its copy must hold what the
  // set holds afterwards; and no window may average g(2)-1 into g(1).
  if (!DlsDataAsFieldAutocorrelation()) return false;
  if (DlsIntensityAutocorrelationLoaded()) {
    ErrorBox("no field ACF in DLS distribution model");
    return false;
  }
  const std::vector<DlsTimeWindow> windows = DlsTimeCourseWindows(SetTimes(), cs.timeCourseWindowMinutes);
  if (windows.empty() || s.gridLength < 1) return false;
  // A time course stopped before its first window is computed shows the
  // distribution from before it.
  ShownDistribution shownBefore;
  shownBefore.Keep();
  cs.runCommand = 1;
  if (!SetupContiGrid()) {
    cs.runCommand = runCommand;
    return false;
  }
  FitEngineState& fe = gFitEngineState;
  fe.stopRequested = 0;
  cs.timeCourseFirstScan = cs.timeCourseLastScan = 1;
  const int n = cs.gridSize;
  std::vector<std::vector<float>> rows;
  std::vector<float> workModel;
  bool stepMode = false;
  bool stopped = false;
  {
    WorkSet work;
    for (const DlsTimeWindow& w : windows) {
      work.Average(w);
      // An interrupted or refused run clears the stop flag on its way out
      // and leaves no result.
      const bool done = RunContiSedQuiet();
      if (!done || cs.lastRunFailed || platform::StopFlag().load()) {
        stopped = true;
        break;
      }
      rows.emplace_back(cs.distribution + 1, cs.distribution + n + 1);
      ModelWindowSets(w);
      // The next windows fit their means in the work set's place.
      if (w.first == 1) {
        const int j = s.order[1];
        workModel.assign(s.model[j] + 1, s.model[j] + s.points[j] + 1);
      }
      Draw();
      if (&w != &windows.back() && ReadStepKeys(stepMode) == AfterWindow::Stop) {
        stopped = true;
        break;
      }
    }
  }
  if (!workModel.empty()) std::copy(workModel.begin(), workModel.end(), s.model[s.order[1]] + 1);
  if (stepMode) platform::UI().StatusText("");
  cs.timeCourseWindowCount = static_cast<int32_t>(rows.size());
  if (stopped) {
    s.dataChanged = 1;
    platform::StopFlag() = false;
    gSerialFitSettings.abortRequest = 1;
    fe.stopRequested = 0;
    char text[120];
    std::snprintf(text, sizeof text, "time course interrupted: %d of %d time windows computed",
                  static_cast<int>(rows.size()), static_cast<int>(windows.size()));
    platform::Tell("", text);
  }
  WriteResults(windows, rows, n);
  // Every set keeps the model of its own window (a model of all sets from
  // one window's kernels would compare them with kernels never made); the
  // distribution of the last computed window is shown.
  if (!rows.empty() && cs.distribution) std::copy(rows.back().begin(), rows.back().end(), cs.distribution + 1);
  FreeDistributionWorkArrays(WorkBlock().gridPoints);
  FreeNormalEquationBlock();
  if (rows.empty() && stopped) shownBefore.PutBack();
  RedrawDistributionPlot();
  cs.runCommand = runCommand;
  if (DistributionPlotHost* h = GetDistributionPlotHost()) h->RequestRepaint();
  return true;
}
