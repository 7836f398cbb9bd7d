#pragma once
// The plots and markers that the mouse and keyboard tests of the main window
// work on: for a client of 1400 x 1000 pixels one pixel is one plot unit,
// radius r lies at column 100 r - 400 and the data plot spans rows 50..475.
// Meniscus 6.0 cm (limits 5.8..6.6), bottom 7.2 cm (limits 7.1..7.3), fit
// limits 6.8 and 7.0 cm; no drag, edit or sliding under way.
#include "app/plot_input/marker_moves.h"
#include "app/plot_input/markers.h"
#include "data/scan_set.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "models/buffer/buffer_sed_settings.h"
#include "numerics/arrays.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"
#include "platform/input_events.h"

// Meniscus and bottom; the user's ranges around them and the fit limits as above.
inline void SetMarkerValues(float meniscus, float bottom) {
  gModelParams.meniscus = meniscus;
  gModelParams.bottom = bottom;
  gFitEngineState.meniscusMin = 5.8f;
  gFitEngineState.meniscusMax = 6.6f;
  gFitEngineState.bottomMin = 7.1f;
  gFitEngineState.bottomMax = 7.3f;
  CurrentScanSet().leftFitLimit = 6.8f;
  CurrentScanSet().rightFitLimit = 7.0f;
}

// One scan of 120 points from 5.95 cm in steps of 0.01 cm.
inline void LoadMarkerScan() {
  ScanSet& s = CurrentScanSet();
  AllocateScanTables(s, 1);
  s.points[1] = 120;
  s.radii[1] = vector(1, 120);
  s.signals[1] = vector(1, 120);
  for (int j = 1; j <= 120; ++j) s.radii[1][j] = 5.95f + 0.01f * (j - 1);
}

inline void SetUpMarkerPlot() {
  MarkerDrag() = MarkerDragState{};
  MouseHooks() = PlotMouseHooks{};
  MouseSliding() = MouseSlidingFlags{};
  MarkerSettings() = MarkerDisplaySettings{};
  platform::StopFlag() = false;
  PlotWindowSet& p = CurrentPlotWindows();
  p.dataPlot = new CWINPlot();
  p.dataPlot->xScale = 100;
  p.dataPlot->xOffset = -400;
  p.dataPlot->plotLeft = 100;
  p.dataPlot->plotRight = 1300;
  p.residualPlot = new CWINPlot();
  p.dataTop = 50;
  p.dataBottom = 475;
  p.showData = 1;
  SetMarkerValues(6.0f, 7.2f);
  gBufferSedSettings.MeniscusDifference = 0;
}

inline void TearDownMarkerPlot() {
  PlotWindowSet& p = CurrentPlotWindows();
  delete p.dataPlot;
  delete p.residualPlot;
  p.dataPlot = p.residualPlot = nullptr;
  FreeScanSetArrays(CurrentScanSet());
  CurrentScanSet().leftFitLimit = CurrentScanSet().rightFitLimit = 0;
  MouseHooks() = PlotMouseHooks{};
  // A test that ends mid-drag or with a drop awaiting its question would
  // have the next window's first release move a marker.
  MarkerDrag() = MarkerDragState{};
  MouseSliding() = MouseSlidingFlags{};
}
