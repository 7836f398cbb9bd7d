// "Transform Equilibrium Data and Calculate M*" and the three copies of its
// curves. The numbers are equilibrium/mstar's; this file shows them: the
// four plots take the window (the signal plot in the data plot's place),
// the loaders wait until the screen is closed, Esc ends the analysis and a
// model command closes the screen.
#include "app/commands/equilibrium/mstar_commands.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "app/window/main_window_flags.h"
#include "app/plot_input/marker_moves.h"
#include "app/commands/model/model_commands.h"
#include "app/screens/mstar_screen.h"
#include "app/window/plot_replay.h"
#include "app/window/program_options.h"
#include "app/window/road_services.h"
#include "app/window/txla_window.h"
#include "app/window/window_services.h"
#include "data/scan_set.h"
#include "distributions/conti_models.h"
#include "distributions/conti_settings.h"
#include "equilibrium/mstar/mstar_hinge.h"
#include "equilibrium/mstar/mstar_screen.h"
#include "equilibrium/mstar/mstar_state.h"
#include "equilibrium/mstar/mstar_transform.h"
#include "fit/fit_engine_state.h"
#include "fit/model_ids.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/serial_fit_settings.h"
#include "numerics/arrays.h"
#include "numerics/clipboard_tables.h"
#include "platform/error_box.h"
#include "platform/draw_surface.h"
#include "platform/user_interface.h"
#include "plot/cwinplot.h"
#include "plot/mstar_plots.h"

namespace {

const char* const kTitle = "M* transformation";

MStarState& State() { return CurrentMStarState(); }

// The continuous c(M) distribution without any of its variants.
bool PlainCofMSelected() {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  return m.DistributionModel && MassGridModel() && !m.SedTransformModel && !m.CMPriorVbarModel &&
         !m.CMInvariantDModel && !m.CMPowerLawModel && !m.Model267 && !m.NonidealCSModel && !TwoDimensionalModel() &&
         !LsgModel() && !LeadingTermModel();
}

// c(M) smoothing reads the scan set's model arrays as the c(M) fit of these
// data.
bool CofMComputable() {
  if (!PlainCofMSelected()) return false;
  const ScanSet& s = CurrentScanSet();
  for (int d = 1; d <= s.count; ++d)
    if (static_cast<size_t>(d) >= s.model.size() || !s.model[static_cast<size_t>(d)]) return false;
  return true;
}

// ... and the last run of it left a distribution, and with it its fit.
bool CofMFitOfDataAvailable() {
  const ContiSettings& cs = Conti();
  return CofMComputable() && !cs.lastRunFailed && cs.distribution && cs.gridSize > 0;
}

void EndScreenFlags(MStarState& st) {
  st.screenShown = false;
  st.analysisActive = false;
  st.arraysExisted = false;
}

// Ends the analysis without touching the window.
void FreeAnalysis() {
  FreeMStarPlots();
  DeleteMStarButtons();
  CurrentMStarRequests() = MStarScreenRequests{};
  MStarState& st = State();
  st.FreeData();
  EndScreenFlags(st);
}

void PaintScreen(TXLAWindow& w) {
  platform::DrawSurface* surface = w.Frame().Surface();
  if (!surface) return;
  const int width = w.Frame().ClientWidth(), height = w.Frame().ClientHeight();
  const MStarPlotSet& p = CurrentMStarPlots();
  {
    auto dc = surface->ClientDC();
    SetCanvasMapping(*dc, width, height);
    for (const CWINPlot* plot : {p.signal.get(), p.mstar.get(), p.lnc.get(), p.mwapp.get()})
      if (plot && plot->lastMetafile) platform::PlayMetaFile(*dc, plot->lastMetafile);
  }
  {
    auto dc = surface->ClientDC();
    DrawDataScreenMarkers(*dc, w, false);
  }
  PaintMStarButtons(w);
  {
    auto dc = surface->ClientDC();
    SetCanvasMapping(*dc, width, height);
    for (int d = 1; d <= State().count && static_cast<int>(State().hinge.size()) > d; ++d)
      if (State().hinge[static_cast<size_t>(d)].found) DrawMStarHingeMarks(*dc, State(), d);
  }
  // The c(M) summary in window pixels.
  const std::vector<std::string> lines = CofMSummaryLines(State());
  if (!lines.empty()) {
    auto dc = surface->ClientDC();
    for (size_t i = 0; i < lines.size(); ++i) dc->TextOut(275, 30 + 20 * static_cast<int>(i), lines[i]);
  }
}

// Rows first..last of x against y, then the box telling what was copied.
void CopyTable(const char* caption, const std::vector<float>& x, const std::vector<float>& y, int n, int first,
               int last, const char* message) {
  const int lo = std::max(1, first), hi = std::min({n, last, static_cast<int>(x.size()) - 1,
                                                     static_cast<int>(y.size()) - 1});
  const float* columns[2] = {nullptr, y.data()};
  CopyColumnsToClipboard(x.data(), columns, lo, hi, 1);
  platform::Tell(caption, message);
}

// The data set a copy is made of: 1 for a single data set, else asked;
// 0 for a cancelled prompt or a data set that does not exist (told).
int AskDataSet(const char* caption) {
  const MStarState& st = State();
  if (st.count == 1) return 1;
  int d = 1;
  if (!InputCount(&d, 1, "which data set?", caption)) return 0;
  if (d < 1 || d > st.count) {
    char text[160];
    std::snprintf(text, sizeof text, "there is no data set %d: data sets are numbered 1 to %d", d, st.count);
    platform::Tell(caption, text);
    return 0;
  }
  return static_cast<int>(d);
}

// The data set a copy command copies from (its number in *d), or null:
// no analysis, a cancelled or refused data-set number, or its arrays (with
// c(M) smoothing also the c(M)-based one, chosen by cofm) missing.
const MStarDataSet* CopySource(const char* caption, int* d,
                               const std::vector<float> MStarDataSet::*cofm) {
  const MStarState& st = State();
  if (CurrentScanSet().count < 1 || !st.analysisActive || !st.HasData()) return nullptr;
  *d = AskDataSet(caption);
  if (*d < 1) return nullptr;
  const MStarDataSet& s = st.sets[static_cast<size_t>(*d)];
  const size_t need = static_cast<size_t>(s.n) + 1;
  if (s.n < 1 || s.r.size() != need) return nullptr;
  if (st.settings.cmSmoothing && (s.*cofm).size() != need) return nullptr;
  return &s;
}

}  // namespace

bool MStarScreenShown() { return State().screenShown; }

void ComputeMStarFitAndShow(TXLAWindow& w) {
  MStarState& st = State();
  if (!st.HasData()) return;
  ComputeMStarFit(st);
  UpdateMStarPlots(st);
  RequestRepaint(w);
}

void RunMStarTransformation(TXLAWindow& w) {
  MStarState& st = State();
  const std::string problem = MStarInputProblem();
  if (!problem.empty()) {
    platform::Tell(kTitle, problem, platform::BoxIcon::Error);
    return;
  }
  bool computeCofM = false;
  if (!st.settings.cmSmoothing && st.analysisMade && PlainCofMSelected()) {
    if (platform::AskYes(kTitle, "use c(M) smoothing?")) {
      // Without a c(M) fit of these data the model arrays hold no such fit:
      // after this transformation (whose Mwavg proposes the M range) the
      // set-up computes one and transforms again with smoothing on.
      if (CofMFitOfDataAvailable())
        st.settings.cmSmoothing = true;
      else
        computeCofM = true;
    } else {
      st.settings.cmSmoothing = false;
    }
  }
  // A transformation on a shown screen replaces it, with a range request
  // it may have had.
  FreeMStarPlots();
  CurrentMStarRequests() = MStarScreenRequests{};
  w.Frame().SetCursor(platform::CursorKind::Arrow);
  st.analysisMade = true;
  st.screenShown = true;
  st.analysisActive = true;
  if (!CheckMStarSmoothingRange(st)) CheckMStarSmoothingRange(st);  // again with smoothing switched off
  SetInitialMStarRanges(st);
  ComputeMStarFit(st);
  TXLAWindow* window = &w;
  BuildMStarSignalPlot(st, [window] { ResetMStarAnalysis(*window); });
  BuildMStarPlot(st);
  DrawMStarScreen(w);
  BuildLnCPlot(st);
  BuildMwappPlot(st);
  RequestRepaint(w);
  if (computeCofM) MStarTransformationSetup(w);
}

void MStarTransformationSetup(TXLAWindow& w) {
  MStarState& st = State();
  ScanSet& s = CurrentScanSet();
  if (!st.HasData() || s.count < 1) return;
  ContiSettings& cs = Conti();
  if (st.settings.askMRange) {
    float smallest = st.mwavg[1], largest = st.mwavg[1];
    for (int d = 2; d <= st.count; ++d) {
      smallest = std::min(smallest, st.mwavg[static_cast<size_t>(d)]);
      largest = std::max(largest, st.mwavg[static_cast<size_t>(d)]);
    }
    if (!(smallest > 0) || !std::isfinite(largest)) {
      platform::Tell(kTitle, "no positive Mwavg to propose an M range from - the c(M) analysis is not started");
      return;
    }
    float lo = 0, hi = 0;
    if (!InputFloat(&lo, std::floor(0.5f * smallest), true, "min Mw (kDa)", kTitle)) return;
    if (!InputFloat(&hi, std::floor(2.0f * largest), true, "max Mw (kDa)", kTitle)) return;
    if (!(lo > 0) || !(hi > lo)) {
      platform::Tell(kTitle, "the M range needs 0 < min Mw < max Mw - the c(M) analysis is not started");
      return;
    }
    cs.sMin = 1000.0f * lo;
    cs.sMax = 1000.0f * hi;
  }
  const float mMin = cs.sMin, mMax = cs.sMax;
  const unsigned char individual = gModelParams.riNoiseFit;
  bool ask = true;
  if (s.count == 1) {
    gFitEngineState.fitTINoise = 0;
  } else if (individual) {
    platform::Tell(kTitle, "recalculating individual baselines from c(M)");
    ask = false;
  }
  unsigned char baselineFit = gModelParams.baselineFit;
  if (ask) {
    if (platform::AskYes(kTitle, "determine Baseline from c(M)?")) {
      baselineFit = 1;
    } else {
      baselineFit = 0;
      if (individual) {
        // Each data set keeps its baseline as its RI value, which may not exist yet.
        std::vector<float> kept(static_cast<size_t>(s.count) + 1);
        for (int d = 1; d <= s.count; ++d) kept[static_cast<size_t>(d)] = MStarBaseline(d);
        if (!s.riNoise) s.riNoise = vector(1, s.count);
        for (int d = 1; d <= s.count; ++d) s.riNoise[d] = kept[static_cast<size_t>(d)];
        gModelParams.riNoiseFit = 0;
      }
    }
  }
  const unsigned char individualAfter = gModelParams.riNoiseFit;
  ResetMStarAnalysis(w);
  st.analysisMade = false;
  // Chosen as from the menu: the model left keeps its entries.
  RunModelCommand(w, kCmContinuousCMModel, [&w] { w.CmContinuousCMModel(); });
  cs.maxEntropy = false;
  cs.secondDerivative = true;
  cs.showBothRegularizations = false;
  w.CheckMenuItem(cmd::Regularization2ndDerivative, true);
  w.CheckMenuItem(cmd::RegularizationMaxEnt, false);
  w.CheckMenuItem(cmd::ShowBothRegularizations, false);
  cs.confidenceLevel = 1.01f;
  // Run and Fit take the grid limits, the confidence level and the fit flags
  // from the parameter vector: what is set here must be there too.
  float* P = gModelParameterVector.P;
  P[1] = cs.sMin = mMin;
  P[2] = cs.confidenceLevel;
  P[5] = cs.sMax = mMax;
  int* F = gModelParameterVector.F;
  F[15] = gModelParams.baselineFit = baselineFit;
  if (s.count > 1) F[14] = gModelParams.bottomFit = 1;
  bool fitted = false;
  if (CofMComputable()) {
    gSerialFitSettings.running = 1;
    gFitEngineState.stopRequested = 0;
    // Only a c(M) that comes to its end clears this: a declined fit does not.
    cs.lastRunFailed = 1;
    w.Frame().SetCursor(platform::CursorKind::Wait);
    if (s.count == 1)
      w.CmRun();
    else
      w.CmFit();
    gSerialFitSettings.running = 0;
    w.Frame().SetCursor(platform::CursorKind::Arrow);
    // An interrupted or refused c(M) leaves nothing to smooth with.
    fitted = !cs.lastRunFailed;
  }
  gModelParams.riNoiseFit = individualAfter;
  st.settings.cmSmoothing = fitted;
  RunMStarTransformation(w);
}

void ResetMStarAnalysis(TXLAWindow& w) {
  FreeAnalysis();
  w.Frame().SetCursor(platform::CursorKind::Arrow);
  RequestRepaint(w);
}

void ShowMStarHingePointInfo(TXLAWindow& w) {
  MStarState& st = State();
  if (!st.HasData()) return;
  ShowHingePointInfo(st, [&w](int) { RequestRepaint(w); });
}

void ConnectMStarAnalysis(TXLAWindow& w) {
  TXLAWindow* window = &w;
  RoadServices& r = Road();
  r.mStarScreenShown = [] { return State().screenShown; };
  r.paintMStarScreen = [window] { PaintScreen(*window); };
  MStarScreenActions& actions = MStarActions();
  actions.runTransformation = RunMStarTransformation;
  actions.transformationSetup = MStarTransformationSetup;
  actions.computeFitAndShow = ComputeMStarFitAndShow;
  actions.resetAnalysis = ResetMStarAnalysis;
  actions.showHingePointInfo = ShowMStarHingePointInfo;
  ModelSelectionHooks& sel = CurrentModelSelectionHooks();
  // A model command takes the screen away but leaves the results to copy;
  // the next load ends them.
  sel.mStarAnalysisActive = [] { return State().screenShown; };
  sel.closeMStarAnalysis = [window] { CloseMStarScreen(*window); };
  PlotMouseHooks& mouse = MouseHooks();
  mouse.refreshMStar = [window] { MStarScreenButtonHandler(*window, 0); };
  mouse.mStarRangeDrag = [window](int xmin, int xmax) {
    if (!MStarRangeRequestPending()) return false;
    MStarRangeDragEnded(*window, xmin, xmax);
    return true;
  };
}

void DisconnectMStarAnalysis() {
  FreeAnalysis();
  MouseHooks().refreshMStar = nullptr;
  MouseHooks().mStarRangeDrag = nullptr;
}

// ---------------------------------------------------------------- commands

void TXLAWindow::CmTransformEqDataToMStar() {
  if (!CurrentScanSet().equilibriumMode || CurrentScanSet().count < 1) {
    platform::Tell("ERROR", "equilibrium data set must be loaded for MSTAR", platform::BoxIcon::Error);
    return;
  }
  RunMStarTransformation(*this);
}

void TXLAWindow::CmCopyLnCData() {
  const char* caption = "COPY LNC DATA";
  int d = 0;
  const MStarDataSet* source = CopySource(caption, &d, &MStarDataSet::lnf);
  if (!source) return;
  const MStarDataSet& s = *source;
  const MStarState& st = State();
  const bool smoothing = st.settings.cmSmoothing;
  const int hw = st.settings.sgHalfWidth;
  CopyTable(caption, s.r2, s.lncRaw, s.n, s.iFirst, s.iLast - 1,
            "r^2 vs ln(c) is in clipboard - paste before continuing");
  if (smoothing) {
    CopyTable(caption, s.r2, s.lnf, s.n, s.ma, s.mb - 1,
              "r^2 vs fit of ln(c) [c(M)-based] is in clipboard - paste before continuing");
    return;
  }
  CopyTable(caption, s.r2, s.lncSmooth, s.n, s.iFirst + hw, s.iLast - hw - 1,
            "r^2 vs smoothed ln(c) is in clipboard - paste before continuing");
  CopyTable(caption, s.r2, s.lncLine, s.n, s.iFirst, s.iLast - 1,
            "r^2 vs linear fit of ln(c) is in clipboard - paste before continuing");
}

void TXLAWindow::CopyMStarData() {
  const char* caption = "COPY M* DATA";
  int d = 0;
  const MStarDataSet* source = CopySource(caption, &d, &MStarDataSet::mstarFit);
  if (!source) return;
  const MStarDataSet& s = *source;
  const bool smoothing = State().settings.cmSmoothing;
  CopyTable(caption, s.r, s.mstar, s.n, s.iFirst, s.iLast - 1, "r vs M*(r) is in clipboard - paste before continuing");
  if (smoothing)
    CopyTable(caption, s.r, s.mstarFit, s.n, s.ma + 1, s.mb - 1,
              "r vs fit of M*(r) [c(M)-based] is in clipboard - paste before continuing");
  else
    CopyTable(caption, s.bottomGrid, s.bottomMStar, kMStarGridPoints, 1, kMStarGridPoints,
              "extrapolation of r vs M*(r) is in clipboard - paste before continuing");
}

void TXLAWindow::CmCopyMavgData() {
  const char* caption = "COPY MW DATA";
  int d = 0;
  const MStarDataSet* source = CopySource(caption, &d, &MStarDataSet::mwappFit);
  if (!source) return;
  const MStarDataSet& s = *source;
  const MStarSettings& set = State().settings;
  const int edge = set.sgHalfWidth + set.mwappHalfWidth;
  const std::vector<float>& mwapp = s.SelectedMwapp(set);
  if (set.mwappAgainstRadius) {
    CopyTable(caption, s.r, mwapp, s.n, s.iFirst + edge, s.iLast - edge - 1,
              "r vs Mapp(r) is in clipboard - paste before continuing");
    if (set.cmSmoothing)
      CopyTable(caption, s.r, s.mwappFit, s.n, s.ma + 1, s.mb - 1,
                "r vs fit of Mapp(r) [c(M)-based] is in clipboard - paste before continuing");
    return;
  }
  std::vector<float> c = s.y;
  if (platform::AskYes(caption, "for c vs Mapp(c), subtract baseline?")) {
    const float bd = MStarBaseline(d);
    for (size_t i = 1; i < c.size(); ++i) c[i] -= bd;
  }
  CopyTable(caption, c, mwapp, s.n, s.iFirst + edge, s.iLast - edge - 1,
            "c vs Mapp(c) is in clipboard - paste before continuing");
  if (set.cmSmoothing)
    CopyTable(caption, c, s.mwappFit, s.n, s.ma + 1, s.mb - 1,
              "c vs fit of Mapp(c) [c(M)-based] is in clipboard - paste before continuing");
}
