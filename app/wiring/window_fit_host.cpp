#include "app/wiring/window_fit_host.h"
#include "plot/text_in_place.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "app/window/main_fit_host.h"
#include "app/window/main_window_flags.h"
#include "models/buffer/buffer_sedimentation.h"
#include "models/nonideal/mean_field/mean_field.h"
#include "app/plot_input/markers.h"
#include "app/window/plot_replay.h"
#include "app/window/program_options.h"
#include "app/wiring/plot_wiring.h"
#include "app/commands/model/wiener_skew_entries.h"
#include "app/window/road_services.h"
#include "app/window/txla_window.h"
#include "app/window/window_services.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "distributions/prior_knowledge.h"
#include "distributions/conti_fit_display.h"
#include "distributions/conti_fit_vector.h"
#include "distributions/conti_settings.h"
#include "fit/model_selector.h"
#include "fit/fit_report_inputs.h"
#include "fit/rmsd.h"
#include "fit/fluorescence_options.h"
#include "fit/model_params.h"
#include "fit/model_evaluation.h"
#include "fit/nonideal_species.h"
#include "fit/saved_params.h"
#include "fit/solvent_gradient.h"
#include "fit/fit_end.h"
#include "platform/diagnostics.h"
#include "platform/draw_surface.h"
#include "platform/paths.h"
#include "platform/program_paths.h"
#include "numerics/statistics.h"
#include "plot/cwinplot.h"
#include "plot/fit_redraw.h"
#include "plot/plot_window_set.h"
#include "plot/residual_statistics.h"
#include "plot/progress_line.h"

WindowFitHost::WindowFitHost(TXLAWindow& window) : window_(window) {}

void WindowFitHost::MessageBox(const std::string& caption, const std::string& text, platform::BoxIcon icon) {
  // The fit records how it ended just before it says so.
  if (caption.empty() && !text.empty() && text == LastFitEnd().text && KeepFitEndBox(text)) return;
  FitHost::MessageBox(caption, text, icon);
}

WindowFitHost::~WindowFitHost() = default;

void WindowFitHost::SimulateModel() { ::SimulateModel(this); }

bool WindowFitHost::HasPlotWindows() const {
  // Until the plots of the window are part of the build, the window itself
  // is what a fit draws into.
  if (!Road().dataPlot) return true;
  return Road().dataPlot() != nullptr;
}

bool WindowFitHost::DrawingEnabled() const { return true; }

void DrawProgressText(TXLAWindow& window, int x, int y, const std::string& text, bool flush) {
  platform::DrawSurface* surface = window.Frame().Surface();
  if (!surface) return;
  {
    auto dc = surface->ClientDC();
    DrawReportTextInPlace(*surface, *dc, ReportTextColumn(window, x), y, text);
  }
  if (flush) window.Frame().FlushCanvas();
}

void WindowFitHost::DrawText(int x, int y, const std::string& text) {
  // The M* screen has its plots where the report would stand and shows its
  // own results (the buttons' values, the c(M) summary).
  if (!WindowFlags().WindowPainted || (Road().mStarScreenShown && Road().mStarScreenShown())) return;
  // A line of the report placed last stands in its own rows.
  for (std::size_t k = 1; k < placed_.size(); ++k) {
    const PlacedLine& line = placed_[k];
    if (y != 10 + 20 * static_cast<int>(k - 1) || text != line.text) continue;
    if (line.row == static_cast<int>(k - 1) && line.pieces.size() < 2) break;
    for (std::size_t i = 0; i < line.pieces.size(); ++i)
      DrawProgressText(window_, x, 10 + 20 * (line.row + static_cast<int>(i)), line.pieces[i],
                       i + 1 == line.pieces.size());
    return;
  }
  DrawProgressText(window_, x, y, text);
}

void WindowFitHost::PlaceReport(const std::vector<std::string>& lines) {
  placed_.clear();
  if (!WindowFlags().WindowPainted || (Road().mStarScreenShown && Road().mStarScreenShown())) return;
  platform::DrawSurface* surface = window_.Frame().Surface();
  if (!surface) return;
  // Wrapped at the column the report has before it moves clear of the
  // scans: it moves only where its widest line still fits.
  const int height = surface->ClientHeight();
  const int width = surface->ClientWidth() - (ReportTextColumn(window_, 10) - ReportShift()) - 10;
  std::vector<std::string> rows(1);
  {
    auto dc = surface->ClientDC();
    const auto measure = [&](std::string_view piece) { return ReportTextWidth(*dc, height, std::string(piece)); };
    placed_.resize(lines.size());
    for (std::size_t k = 1; k < lines.size(); ++k) {
      PlacedLine& line = placed_[k];
      line.text = lines[k];
      line.row = static_cast<int>(rows.size()) - 1;
      // The blanks at a line's end only cover a longer line of before.
      const std::string shown = lines[k].substr(0, lines[k].find_last_not_of(' ') + 1);
      if (width > 0 && measure(shown) > width) line.pieces = WrapTextToWidth(shown, width, measure);
      if (line.pieces.size() < 2) line.pieces = {lines[k]};
      rows.insert(rows.end(), line.pieces.begin(), line.pieces.end());
    }
  }
  PlaceReportClearOfTheData(window_, rows);
}

void WindowFitHost::RedrawFitProgress() {
  // The update switches and the interval may have changed since the last fit.
  SyncPlotPreferences();
  ::RedrawFitProgress();
}

void WindowFitHost::DrawFitCurves() {
  PaintDataPlot(window_);
  PaintResidualPlots(window_);
  RedrawPlotMarkers(window_);
  window_.Frame().FlushCanvas();
}

void FillResidualTests(FitReportInputs& in) {
  ScanSet& s = CurrentScanSet();
  in.runsZ = 0;
  in.histogramH = 0;
  if (s.count < 1 || static_cast<int>(s.model.size()) <= s.count || static_cast<int>(s.signals.size()) <= s.count ||
      static_cast<int>(s.firstFitPoint.size()) <= s.count || static_cast<int>(s.lastFitPoint.size()) <= s.count)
    return;
  for (int i = 1; i <= s.count; ++i)
    if (!s.model[i] || !s.signals[i]) return;
  // The histogram reads the residual arrays: they follow the model first.
  UpdateResidualsPlot(false);
  int first = 1, last = s.count;
  RmsdScanSpan(first, last);
  in.runsZ = RunsTestZ(s.signals.data(), s.model.data(), first, last, s.order.data(), s.firstFitPoint.data(),
                       s.lastFitPoint.data());
  ComputeResidualStatistics(nullptr, nullptr, nullptr, nullptr, nullptr, &in.histogramH);
}

void WindowFitHost::RequestRepaint() { ::RequestRepaint(window_); }

void WindowFitHost::WriteDiagnostics(const std::string& text) { platform::WriteDiagnostics(text); }

void WindowFitHost::ShowBestContiVertex(float* vertex) { ::ShowBestContiVertex(this, vertex); }

void WindowFitHost::FillFitReportInputs(FitReportInputs& in) {
  FillResidualTests(in);
  const SolventGradientSettings& sg = CurrentSolventGradientSettings();
  in.solvent.inhomogeneous = sg.UseInhomogeneousSolvent;
  in.solvent.apparentVbarOn = sg.UseInhomogeneousSolvent && sg.DynamicGradient;
  in.solvent.apparentVbar = sg.EffectiveVbar;
  const ContiSettings& cs = Conti();
  FitReportInputs::Conti& c = in.conti;
  c.confidenceLevel = cs.confidenceLevel;
  c.maxEnt = cs.maxEntropy != 0;
  c.showBoth = cs.showBothRegularizations != 0;
  c.secondDerivative = cs.secondDerivative != 0;
  const PriorKnowledge& prior = Priors();
  c.priorOn = prior.use;
  if (prior.use && !prior.priorFile.empty()) {
    c.priorFilePath = prior.priorFile;
    const platform::PathParts parts = platform::SplitPath(prior.priorFile);
    c.priorFileName = parts.name + parts.extension;
  }
  c.ffMin = cs.ffMin;
  c.ffMax = cs.ffMax;
  c.ffResolution = cs.ffResolution;
  // The report's D of c(v) stands where c(M) with invariant D keeps its D.
  c.ffValue = gModelSelectorFlags.ElectrophoresisCVModel ? cs.constantD : cs.ffValue;
  c.ffCeiling = cs.fitFfValue && !gModelSelectorFlags.ElectrophoresisCVModel ? ContiFrictionalRatioCeilingInUse() : 0.0f;
  c.ffFloor = cs.fitFfValue && !gModelSelectorFlags.ElectrophoresisCVModel ? ContiFrictionalRatioFloorInUse() : 0.0f;
  c.invariantD = cs.invariantD;
  c.secondFf = cs.secondFf;
  c.secondSMin = cs.secondFfSMin;
  c.secondSMax = cs.secondFfSMax;
  c.sMin = cs.sMin;
  c.sMax = cs.sMax;
  c.gridSize = cs.gridSize;
  c.persistenceLength = cs.wormPersistenceLength;
  c.crossSection = cs.wormCrossSection;
  c.monomerMw = cs.wormMonomerMass;
  c.hydration = cs.wormHydration;
  c.scalingKs = cs.scalingKs;
  c.scalingBs = cs.scalingBs;
  c.vbar = gSolutionConditions.vbar;
  c.discreteS = cs.discreteS;
  c.discreteM = cs.discreteM;
  c.discreteByD = gModelSelectorFlags.CSWith1DiscreteModel && !gModelSelectorFlags.CSWith1DiscreteComponent;
  c.discreteD = cs.discreteD;
  c.hybridDiscreteOff = cs.hybridDiscrete == 0;
  c.nonidealExtraDiscrete = MeanField().extraDiscreteExcluded;
  FillNonidealReportInputs(in);
  FillFluorescenceReportInputs(in);
  FillWienerReportInputs(in);
  FillBufferReportInputs(in);
}

void WindowFitHost::TmpSaveBestParams(int flag) {
  ::TmpSaveBestParams(CurrentDataPaths().parameterFile, flag == 1);
}

void WindowFitHost::ShowFitProgressIndicator() {
  mlProgress_ = std::make_unique<CProgressLine>();
  if (platform::DrawSurface* surface = window_.Frame().Surface()) mlProgress_->Show(*surface, 10, 10);
}

void WindowFitHost::DrawFitProgressIndicator(double fraction) {
  if (!mlProgress_) return;
  if (platform::DrawSurface* surface = window_.Frame().Surface())
    mlProgress_->Draw(static_cast<float>(fraction), *surface);
}

void WindowFitHost::EraseFitProgressIndicator() {
  if (!mlProgress_) return;
  if (platform::DrawSurface* surface = window_.Frame().Surface()) mlProgress_->Erase(*surface);
  mlProgress_.reset();
}

std::string WindowFitHost::MarquardtListingPath() const { return platform::ProgramPaths.MarquardtListingPath; }

void WindowFitHost::OpenLammEquationParameters() { window_.CmLammEquationParameters(); }
