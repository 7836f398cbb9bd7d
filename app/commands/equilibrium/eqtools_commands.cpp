#include "app/commands/equilibrium/eqtools_commands.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <cstdio>
#include <string>
#include <vector>

#include <memory>

#include "app/window/main_window_flags.h"
#include "app/window/program_options.h"
#include "app/window/road_services.h"
#include "app/window/txla_window.h"
#include "app/window/main_fit_host.h"
#include "app/window/window_services.h"
#include "app/screens/eq_test_screen.h"
#include "automation/exchange/xp_file.h"
#include "data/scan_set.h"
#include "data/realtime_update.h"
#include "data/scan_loading.h"
#include "equilibrium/eqtools/eq_data_tools.h"
#include "equilibrium/eqtools/eq_test_mode.h"
#include "equilibrium/eqtools/equilibrium_model.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "platform/paths.h"
#include "platform/error_box.h"
#include "platform/sounds.h"
#include "platform/user_interface.h"
#include "numerics/ccurve.h"
#include "plot/adhoc_plot_arrays.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"

namespace {


// The latest scan's values over its fit range as the extra plot.
void ShowLatestScan(TXLAWindow& w, int latest) {
  const ScanSet& s = CurrentScanSet();
  int first = 0, last = 0;
  EqScanFitRange(latest, &first, &last);
  std::vector<float> x(1), y(1);
  for (int i = first; i <= last; ++i) {
    x.push_back(s.radii[latest][i]);
    y.push_back(EqPointValue(latest, i));
  }
  ShowAdHocXYPlot(x.data(), y.data(), static_cast<int>(x.size()) - 1, "radius", "signal", 0);
  RequestRepaint(w);
}

bool AcceptLatest(TXLAWindow& w, int latest, const char* tail) {
  ShowLatestScan(w, latest);
  PlaySoundInfo();
  const ScanRecord& r = CurrentScanSet().records[latest];
  char text[200];
  std::snprintf(text, sizeof text, "accept EQ scan at %.0f nm and %.0f rpm to be included? %s",
                static_cast<double>(r.wavelength), static_cast<double>(r.rpm), tail);
  return platform::AskYes("EQ Test", text);
}

}  // namespace

bool TestEquilibriumAttained(TXLAWindow& w, const std::vector<int>& list, int latest) {
  const ScanSet& s = CurrentScanSet();
  if (list.size() == 1 || (list.size() == 2 && list[0] == list[1]))
    return AcceptLatest(w, latest, "(no time-course available)");
  std::vector<int> earlier;
  for (int k : list)
    if (k != latest && std::find(earlier.begin(), earlier.end(), k) == earlier.end()) earlier.push_back(k);
  std::stable_sort(earlier.begin(), earlier.end(),
                   [&s](int a, int b) { return s.records[a].timeRead < s.records[b].timeRead; });
  std::vector<float> x(1), y(1);
  for (int k : earlier) {
    x.push_back(static_cast<float>(s.records[k].timeRead));
    y.push_back(ComputeEqScanDifferences(k, latest));
  }
  ShowAdHocXYPlot(x.data(), y.data(), static_cast<int>(earlier.size()), "elapsed time (sec)", "rmsd difference", 6);
  RequestRepaint(w);
  PlaySoundInfo();
  const ScanRecord& r = s.records[latest];
  char text[200];
  std::snprintf(text, sizeof text, "was equilibrium attained at %.0f nm and %.0f rpm?",
                static_cast<double>(r.wavelength), static_cast<double>(r.rpm));
  if (!platform::AskYes("EQ Test", text)) return false;
  return AcceptLatest(w, latest, "");
}

void TXLAWindow::CmSortEqDataToDisk() {
  ScanSet& s = CurrentScanSet();
  if (s.count < 1) {
    platform::Tell("Sort SE data", "please load data first");
    return;
  }
  if (s.radialResolution > 0.001f) {
    PlaySoundInfo();
    if (!platform::AskYes("sort EQ data", "resolution is limiting data points - continue?")) {
      if (platform::AskYes("sort EQ data", "change resolution?")) CmSetRadialResolution();
      return;
    }
  }
  EqSortRequest request;
  request.outputPath = "eq.ra1";
  if (!SelectFileNameOpenOrSave(*this, true, request.outputPath, 4096, "select filename for sorted eq data", "ra1",
                                "scan files", "*.*")) {
    PlaySoundOk();
    return;
  }
  if (CurrentDataTypeFlags().interference && platform::AskYes("sort EQ data", "subtract blank file?")) {
    std::string blank;
    if (SelectFileNameOpenOrSave(*this, false, blank, 4096, "select blank scan", "", "scan files", "*.*"))
      request.blankPath = blank;
  }
  request.makeXp = platform::AskYes("sort EQ data", "make xp files?");
  if (request.makeXp) {
    const SolutionConditions& sc = gSolutionConditions;
    const char* caption = "make MORLEAN xp file";
    struct Entry {
      float* value;
      float offered;
      const char* prompt;
    };
    const Entry entries[] = {{&request.density, sc.density, "buffer density (g/ml)"},
                             {&request.vbar, sc.vbar, "partial-specific volume (ml/g)"},
                             {&request.extinctionA, 1.0f, "molar extinction coefficient A"},
                             {&request.extinctionB, 1.0f, "molar extinction coefficient B"},
                             {&request.extinctionC, 0.0f, "molar extinction coefficient C"}};
    // A cancelled number keeps the value offered.
    for (const Entry& e : entries) {
      *e.value = e.offered;
      InputFloat(e.value, e.offered, true, e.prompt, caption);
    }
  }
  EqSortHooks hooks;
  hooks.testEquilibriumAttained = [this](const std::vector<int>& list, int latest) {
    return TestEquilibriumAttained(*this, list, latest);
  };
  hooks.writeXp = [](const EqXpFile& xp) { return WriteSortedEquilibriumXpFile(xp); };
  SortEqDataToDisk(request, hooks);
  FreeAdHocPlotArrays();
  RequestRepaint(*this);
  PlaySoundOk();
}

// ---- test of approach to equilibrium

namespace {

constexpr const char* kEqTest = "EQ TEST";

int Krpm(float rpm) { return static_cast<int>(std::floor(rpm / 1000.0f)); }

bool AutomaticRealtime() {
  const RealtimeState& rt = CurrentRealtimeState();
  return rt.running && rt.autoContinue;
}

// Shows the last scan of series i with its comparison range.
void ShowSeriesScan(TXLAWindow& w, int i) {
  EqTestSeriesSet& t = EqTest();
  const ScanSet& s = CurrentScanSet();
  const int L = t.series[i - 1].Last();
  const int n = s.points[L];
  if (t.first[i] < 1 || t.first[i] > n) t.first[i] = 1;
  if (t.last[i] < 1 || t.last[i] > n) t.last[i] = n;
  std::vector<float> x(1), y(1);
  for (int p = 1; p <= n; ++p) {
    x.push_back(s.radii[L][p]);
    y.push_back(EqPointValue(L, p));
  }
  t.selecting = true;
  t.shown = i;
  ShowAdHocXYPlot(x.data(), y.data(), n, "radius", "signal", 0, t.first[i], t.last[i]);
  RequestRepaint(w);
}

void SelectEqTestSeries(TXLAWindow& w) {
  EqTestSeriesSet& t = EqTest();
  const ScanSet& s = CurrentScanSet();
  for (int i = 1; i <= t.Count(); ++i) {
    const EqTestSeries& e = t.series[i - 1];
    if (IsExcludedEqTestSeries(e.First())) {
      t.included[i] = false;
      continue;
    }
    if (t.first[i] == 0 || t.last[i] == 0) SetEqTestRangeFromFitLimits(i);
    if (AutomaticRealtime()) continue;
    const ScanRecord& r = s.records[e.First()];
    for (;;) {
      ShowSeriesScan(w, i);
      if (!t.oneCellOnly && !IsAcceptedEqTestSeries(e.First())) {
        char text[200];
        std::snprintf(text, sizeof text, "cell %d, %.0f nm, %d krpm\nInclude this (cell/wl) series in time-course plot?",
                      r.cell, static_cast<double>(r.wavelength), Krpm(r.rpm));
        if (!platform::AskYes(kEqTest, text)) {
          t.excluded.push_back({r.cell, r.wavelength});
          t.included[i] = false;
          break;
        }
      }
      PlaySoundInfo();
      char text[200];
      std::snprintf(text, sizeof text,
                    "accept radial limits for comparison of %d kprm series? \n(otherwise set new ones to exclude "
                    "region or artifacts)",
                    Krpm(r.rpm));
      if (!platform::AskYes(kEqTest, text)) {
        const int L = e.Last();
        float rMin = s.radii[L][t.first[i]], rMax = s.radii[L][t.last[i]];
        if (InputFloat(&rMin, rMin, true, "r-min:", kEqTest) && InputFloat(&rMax, rMax, true, "r-max:", kEqTest)) {
          if (!SetEqTestRangeFromRadii(i, rMin, rMax))
            platform::Tell(kEqTest, "no data points between these radii: the limits stay");
          continue;
        }
      }
      t.included[i] = true;
      t.accepted.push_back({r.cell, r.wavelength});
      break;
    }
  }
  t.selecting = false;
  if (!AutomaticRealtime()) FreeAdHocPlotArrays();
}

CWINPlot* NewPlotInPlaceOf(CWINPlot*& plot) {
  PlotWindowSet& w = CurrentPlotWindows();
  if (&plot == &w.dataPlot && w.endDataPlotLoan) std::exchange(w.endDataPlotLoan, nullptr)();
  delete plot;
  plot = new CWINPlot;
  return plot;
}

bool PlotEqTestTimeCourse() {
  FreeEqTestCurves();
  MakeEqTestCurves();
  PlotWindowSet& w = CurrentPlotWindows();
  CWINPlot* data = NewPlotInPlaceOf(w.dataPlot);
  CWINPlot* residuals = NewPlotInPlaceOf(w.residualPlot);
  LayoutPlotWindows();
  data->SetYLabel("rmsd difference");
  data->SetXLabel("time difference to last scan in series (hours)");
  data->ToggleDisplayOption();
  residuals->SetYLabel("difference last 2 scans");
  residuals->SetXLabel("radius (cm)");
  EqTestPlotSet().testPlot = std::make_unique<CWINPlot>();
  CWINPlot& test = *EqTestPlotSet().testPlot;
  test.SetPlotRect(60, 650, 300, 965);
  test.SetYLabel("relative signal of last scan");
  test.SetXLabel("radius");
  test.ToggleDisplayOption();
  test.SetCompactAxes();
  test.SetFillBackground(false);
  EqTest().testPlots = true;
  return true;
}

void DrawEqTestCurves() {
  EqTestSeriesSet& t = EqTest();
  const ScanSet& s = CurrentScanSet();
  PlotWindowSet& w = CurrentPlotWindows();
  FreeEqTestCurves();
  CWINPlot* data = w.dataPlot;
  CWINPlot* residuals = w.residualPlot;
  CWINPlot* test = EqTestPlotSet().testPlot.get();
  if (!data || !residuals || !test) return;
  ProgramOptions& o = Options();
  const bool colourFromTime = o.ScanColorFromTime;
  o.ScanColorFromTime = false;
  int total = 0;
  for (int i = 1; i <= t.Count(); ++i) total += t.included[i] && t.series[i - 1].Count() > 1;
  int k = 0;
  for (int i = 1; i <= t.Count(); ++i) {
    const EqTestSeries& e = t.series[i - 1];
    if (!t.included[i] || e.Count() < 2) continue;
    ++k;
    const ScanRecord& r = s.records[e.First()];
    const bool interference = IsInterferenceScan(e.First());
    const platform::COLORREF colour =
        interference && !t.oneCellOnly ? ScanColor(r.cell) : ColorForFraction(k, total);
    char name[200];
    std::snprintf(name, sizeof name, "cell %d, %.0f nm, %d krpm (>= %s)", r.cell, static_cast<double>(r.wavelength),
                  Krpm(r.rpm), s.fileNames[e.First()].c_str());
    data->AddCurve(EqTestCurve(e.dt, e.rmsd));
    data->SetCurveName(data->curveCount - 1, name);
    data->SetCurveStyle(data->curveCount - 1, e.lastSpeed ? 6 : -1);
    data->SetCurveColor(data->curveCount - 1, colour);
    if (r.rpm != t.highestSpeed) continue;
    std::snprintf(name, sizeof name, "c%d-%.0fnm-%.0dk: rmsd=%.4f", r.cell, static_cast<double>(r.wavelength),
                  Krpm(r.rpm), static_cast<double>(e.rmsdLastTwo));
    const platform::COLORREF side = interference ? ScanColor(r.cell) : colour;
    for (auto [plot, curve] : {std::pair{residuals, EqTestCurve(e.diffR, e.diff)}, std::pair{test, EqTestCurve(e.relR, e.rel)}}) {
      plot->AddCurve(curve);
      plot->SetCurveName(plot->curveCount - 1, name);
      plot->SetCurveStyle(plot->curveCount - 1, e.lastSpeed ? 12 : -1);
      plot->SetCurveColor(plot->curveCount - 1, side);
    }
  }
  o.ScanColorFromTime = colourFromTime;
  data->SetCurveSetOption();
  residuals->SetCurveSetOption();
  if (RangeHistory.depth > 0) {
    const int d = RangeHistory.depth - 1;
    data->SetRanges(RangeHistory.xMin[d], RangeHistory.xMax[d], RangeHistory.yMin[d], RangeHistory.yMax[d]);
  } else {
    data->Rescale();
  }
  residuals->Rescale();
  test->Rescale();
  data->Plot();
  residuals->Plot();
  test->Plot();
}

void AskToSaveEqTestFiles(TXLAWindow& w) {
  if (!platform::AskYes(kEqTest, "save approach to equilibrium data?")) return;
  const platform::PathParts params = platform::SplitPath(CurrentDataPaths().parameterFile);
  std::string path = params.folder + "approach_to_eq_test.txt";
  std::string chosen = path;
  if (SelectSaveFileName(w, chosen, 4096, 0, "txt")) path = chosen;
  SaveEqTestFiles(path);
}

}  // namespace

void RunEqTest(TXLAWindow& w) {
  EqTestSeriesSet& t = EqTest();
  if (!t.testPlots || CurrentRealtimeState().running) PlotEqTestTimeCourse();
  const int before = t.Count();
  if (GroupEqTestSeries() != before) {
    SelectEqTestSeries(w);
    PlotEqTestTimeCourse();
  }
  if (t.Count() != t.curveCount) {
    ErrorBox("error in equilibrium test function");
  } else {
    MakeEqTestCurves();
    DrawEqTestCurves();
  }
  RequestRepaint(w);
  AskToSaveEqTestFiles(w);
}

void TXLAWindow::CmTestApproachToEquilibrium() {
  if (CurrentScanSet().count < 1) {
    platform::Tell(kEqTest, "please load data first");
    return;
  }
  EqTestSeriesSet& t = EqTest();
  std::fill(t.included.begin(), t.included.end(), true);
  t.excluded.clear();
  t.accepted.clear();
  for (EqTestSeries& e : t.series) e.lastSpeed = false;
  const int before = t.testPlots ? t.Count() : -1;
  const int n = GroupEqTestSeries();
  for (int i = 1; i <= n; ++i) SetEqTestRangeFromFitLimits(i);
  if (n != before) {
    SelectEqTestSeries(*this);
    PlotEqTestTimeCourse();
  }
  t.testMode = 1;
  RangeHistory.depth = 0;
  RunEqTest(*this);
  RequestRepaint(*this);
  if (platform::AskYes(kEqTest, "realtime update?")) CmRealtimeUpdate();
}

void ConnectEqTools(TXLAWindow& w) {
  TXLAWindow* window = &w;
  RoadServices& r = Road();
  r.runEqTest = [window] { RunEqTest(*window); };
  r.eqTestPlot = [] { return EqTestPlot(); };
  ModelSelectionHooks& sel = CurrentModelSelectionHooks();
  sel.equilibriumTestMode = [] { return EqTestModeOn(); };
  sel.exitEquilibriumTestMode = [window] { ExitEqTestMode(*window); };
  r.runEquilibrium = [] { RunEquilibrium(MainFitHost()); };
  // Fit starts from a run of the current parameters.
  r.fitEquilibrium = [] {
    if (RunEquilibrium(MainFitHost())) FitEquilibrium(MainFitHost());
  };
}

void DisconnectEqTools() {
  FreeEquilibriumWorkArrays();
  EqTestPlotSet().curves.clear();
  EqTestPlotSet().testPlot.reset();
  EqTestSeriesSet& t = EqTest();
  t.series.clear();
  t.testMode = 0;
  t.testPlots = false;
  t.curveCount = -1;
}
