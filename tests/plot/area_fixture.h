#pragma once
// Loaded scan sets for the tests of the main window's plots: scans with
// analytic signals and models on a common radial grid, written straight
// into the program-wide scan set, and a clean plot state around each test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "data/scan_set.h"
#include "numerics/arrays.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "platform/scripted_ui.h"
#include "plot/adhoc_plot_arrays.h"
#include "plot/cwinplot.h"
#include "plot/fit_redraw.h"
#include "plot/plot_window_set.h"
#include "plot/residual_bitmap.h"
#include "plot/residual_statistics.h"
#include "tests/support/temp_folder.h"

namespace plottest {

struct ScanSpec {
  int scans = 3;
  int points = 50;
  float r0 = 6.0f, r1 = 7.0f;  // cm
  float left = 0, right = 0;   // fit limits; 0 = not set
  char type = 'R';
  bool reverseOrder = true;  // scan 1 is the latest, so time order differs from file order
};

using Profile = std::function<float(int scan, float r)>;

inline CVector* View(float* p, int n) {
  auto* v = new CVector();
  v->Attach(p, n, 1);
  return v;
}

// Fills the program-wide scan set; model may be empty (zero model).
inline void LoadScans(const ScanSpec& spec, const Profile& signal, const Profile& model = {}) {
  ScanSet& s = CurrentScanSet();
  AllocateScanTables(s, spec.scans);
  DataTypeFlags& f = CurrentDataTypeFlags();
  f.absorbance = spec.type == 'R' || spec.type == 'F';
  f.intensity = spec.type == 'I';
  f.interference = spec.type == 'P';
  f.fluorescence = spec.type == 'F';
  const int n = spec.points;
  for (int i = 1; i <= spec.scans; ++i) {
    s.points[i] = n;
    s.radii[i] = vector(1, n);
    s.signals[i] = vector(1, n);
    s.model[i] = vector(1, n);
    s.residuals[i] = vector(1, n);
    for (int k = 1; k <= n; ++k) {
      const float r = spec.r0 + (spec.r1 - spec.r0) * static_cast<float>(k - 1) / static_cast<float>(n - 1);
      s.radii[i][k] = r;
      s.signals[i][k] = signal(i, r);
      s.model[i][k] = model ? model(i, r) : 0.0f;
      s.residuals[i][k] = s.signals[i][k];
    }
    if (f.intensity) {
      s.signals2[i] = vector(1, n);
      for (int k = 1; k <= n; ++k) s.signals2[i][k] = 0.5f * s.signals[i][k];
      s.signal2Vec[i] = View(s.signals2[i], n);
    }
    s.radiusVec[i] = View(s.radii[i], n);
    s.signalVec[i] = View(s.signals[i], n);
    s.modelVec[i] = View(s.model[i], n);
    s.residualVec[i] = View(s.residuals[i], n);
    s.dataCurve[i] = new CCurve(s.radiusVec[i], s.signalVec[i]);
    s.modelCurve[i] = new CCurve(s.radiusVec[i], s.modelVec[i]);
    s.residualCurve[i] = new CCurve(s.radiusVec[i], s.residualVec[i]);
    if (f.intensity) s.signal2Curve[i] = new CCurve(s.radiusVec[i], s.signal2Vec[i]);
    ScanRecord& rec = s.records[i];
    rec.type = spec.type;
    rec.temperature = 20.0f;
    rec.rpm = 50000;
    rec.points = n;
    const int position = spec.reverseOrder ? spec.scans + 1 - i : i;
    rec.time = rec.timeRead = 300.0 * position;
    s.order[position] = i;
    char name[32];
    std::snprintf(name, sizeof name, "%05d.RA1", i);
    s.fileNames[i] = name;
  }
  s.leftFitLimit = spec.left;
  s.rightFitLimit = spec.right;
  s.gridLength = n;
  s.grid = vector(1, n);
  for (int k = 1; k <= n; ++k) s.grid[k] = s.radii[1][k];
  s.gridOwned = 1;
  int first = 1, last = n;
  if (spec.left != 0 && spec.right != 0) {
    while (first < n && s.grid[first] < spec.left) ++first;
    while (last > 1 && s.grid[last] > spec.right) --last;
  }
  s.firstGridPoint = first;
  s.lastGridPoint = last;
  for (int i = 1; i <= spec.scans; ++i) {
    s.firstFitPoint[i] = first;
    s.lastFitPoint[i] = last;
  }
}

// 40-odd scans of one sedimenting species from the Lamm solver, with noise,
// and a slightly misfitting model (area_lamm_scans.cpp).
bool LoadSimulatedAbsorbanceSet(int scans);

// Text on a canvas needs the application's fonts (offscreen without a
// display); Qt's headers stay out of this one, whose scan set has a member
// named like one of Qt's keywords.
void EnsureGuiApp();

inline void ClearPlotState() {
  DeletePlotWindows();
  FreeAdHocPlotArrays();
  ResetAdHocPlot();
  CurrentAdHocPlot().adHocShown = 0;
  ScanSet& s = CurrentScanSet();
  FreeScanSetArrays(s);
  FreeScanGridArrays(s);
  s = ScanSet{};
  CurrentDataTypeFlags() = DataTypeFlags{};
  CurrentPlotWindows() = PlotWindowSet{};
  PlotHooks() = PlotWindowHooks{};
  CurrentPeakBand() = PeakBandSelection{};
}

// A clean plot state, a scripted user interface and a scratch folder (the
// rmsd table goes there).
class PlotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearPlotState();
    CurrentPlotWindows().scanRmsPath = (folder_ / "ScanRms.dat").string();
  }
  void TearDown() override { ClearPlotState(); }
  std::string Path(const std::string& name) const { return (folder_ / name).string(); }

  platform::ScriptedUserInterface ui_;
  platform::ScopedUI scoped_{ui_};
  teststate::TempFolder scratch_;
  const std::filesystem::path folder_{scratch_.path()};
};

}  // namespace plottest
