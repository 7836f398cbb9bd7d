// Commands on a computed distribution: integration over a drawn range or
// the ranges of a file, zoom and full range of the distribution plot, c(M)
// display, the running integral, the s20,w and Stokes-radius transforms
// and saving the distribution.
#include "app/commands/distribution/distribution_commands.h"

#include <vector>

#include "app/commands/distribution/integration_range.h"
#include "app/window/parameter_preferences.h"
#include "app/commands/distribution/peak_labels.h"
#include "app/window/program_options.h"
#include "app/plot_input/screen_buttons.h"
#include "app/window/txla_window.h"
#include "app/window/main_window_flags.h"
#include "app/window/window_services.h"
#include "data/rotor_speed_profile.h"
#include "data/scan_set.h"
#include "distributions/conti_models.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/distribution_transforms.h"
#include "distributions/integration_ranges.h"
#include "distributions/monte_carlo.h"
#include "distributions/range_selection.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "numerics/ccurve.h"
#include "numerics/clipboard_tables.h"
#include "platform/error_box.h"
#include "platform/sounds.h"
#include "plot/cwinplot.h"
#include "plot/direct_curve.h"
#include "plot/plot_window_set.h"
#include "plot/residual_bitmap.h"
#include "plot/screen_button.h"
#include "platform/user_interface.h"

namespace {

constexpr int kThickLine = 12;

const ModelSelectorFlags& F() { return gModelSelectorFlags; }

void Refuse(const char* text) {
  PlaySoundError();
  platform::Tell("ERROR", text, platform::BoxIcon::Error);
}

CWINPlot* DistributionPlot() { return DistArrays().plotExists ? Conti().distributionPlot : nullptr; }

// Boundary analyses over time, whose "distribution" is no density of s.
bool BoundaryExtrapolationMode() { return F().SedTransformModel || F().LsgExtrapolationModel; }

bool Transformed() { return DistArrays().transformedToS20 || DistArrays().transformedToR; }

// The transforms act on a computed distribution; without one they say so
// instead of doing nothing.
constexpr const char* kNoDistribution = "no distribution to transform - compute one first (Run)";
bool DistributionToTransform() {
  if (DistributionPlot() && DistArrays().distCurve) return true;
  Refuse(kNoDistribution);
  return false;
}

void LeaveRangeSelection(TXLAWindow& w) {
  RangeSelectionState& r = RangeSelection();
  r.active = r.forIntegration = r.forRescaling = false;
  w.Frame().SetCursor(platform::CursorKind::Arrow);
}

void SetPlotRanges(TXLAWindow& w, const ZoomRange& z) {
  CWINPlot* plot = DistributionPlot();
  if (!plot) return;
  plot->SetRanges(z.x1, z.x2, 0.0f, z.yMax);
  plot->Plot();
  w.Frame().Invalidate(true);
}

// Asks one number with the current value shown; false on Cancel.
bool AskNumber(float& value, const char* prompt, const char* caption) {
  return InputFloat(&value, value, true, prompt, caption);
}

// The s -> s20,w half of the two transform commands, its questions under
// the caption of the command that asks them; true when applied.
bool TransformToS20(const char* caption) {
  if (!DistributionToTransform()) return false;
  SolutionConditions& sc = gSolutionConditions;
  float vbar20 = sc.vbar20, vbar = sc.vbar, density = 1.0f;
  float viscosity = 0.01002f * sc.viscosity;
  if (Transformed()) {
    Refuse("distribution is already transformed - need to recalculate first");
    return false;
  }
  if (DistributionPlotHost* host = GetDistributionPlotHost()) host->DeleteIntegrateButton();
  if (!platform::AskYes("", "transform s to s20?")) return false;
  if (!AskNumber(vbar20, "enter partial specific volume [ml/g] at 20C", caption) ||
      !AskNumber(vbar, "enter partial specific volume [ml/g] in experiment", caption) ||
      !AskNumber(density, "enter buffer density [g/ml] in experiment", caption) ||
      !AskNumber(viscosity, "enter absolute viscosity (Poise) in experiment", caption))
    return false;
  sc.vbar20 = vbar20;
  // Poise to Pa s.
  const bool ok = F().DistributionModel && TransformDistributionToS20(viscosity * 0.1f, density, vbar, vbar20);
  if (!ok) {
    Refuse("could not calculate s20 from sapp in distribution");
    return false;
  }
  return true;
}

}  // namespace

RangeSelectionState& RangeSelection() {
  static RangeSelectionState state;
  return state;
}

// ---- integration ranges from a file ---------------------------------------

bool SelectIntegrationRangeFile(TXLAWindow&) {
  platform::FileDialogRequest request;
  request.title = "Select 2 col file with s-min/s-max pairs";
  request.filters = {{"dat files (*.dat*)", "*.dat*"}, {"All Files (*.*)", "*.*"}};
  request.defaultExtension = "*";
  const platform::FileDialogResult result = platform::UI().FileDialog(request);
  if (!result.accepted || result.paths.empty()) return false;
  if (!SaveIntegrationRangesChoice(result.paths.front())) return false;
  return LoadIntegrationRanges();
}

void TXLAWindow::CmUseIntegrationRangesFromFile() {
  ProgramOptions& o = Options();
  if (o.IntegrationRangesFromFile) {
    o.IntegrationRangesFromFile = false;
    CheckMenuItem(cmd::UseIntegrationRangesFromFile, false);
    if (platform::AskYes("SET PREFERENCE", "switching off integration range from file - \nsave as default setting?"))
      SetParameterPreference(*this, 10, 0);
  } else {
    if (!SelectIntegrationRangeFile(*this)) {
      platform::Tell("SET DISTRIBUTION RANGE", "could not load distribution ranges from file",
                     platform::BoxIcon::Error);
      PlaySoundError();
      return;
    }
    o.IntegrationRangesFromFile = true;
    CheckMenuItem(cmd::UseIntegrationRangesFromFile, true);
    if (platform::AskYes("SET PREFERENCE", "switching on integration range from file \n" + IntegrationRanges().path +
                                  " \n - save as default setting?"))
      SetParameterPreference(*this, 10, 1);
  }
  PlaySoundOk();
}

// ---- range selection --------------------------------------------------------

void StartRangeSelection(TXLAWindow& w) {
  if (!DistributionPlot()) return;
  if (Options().InfoWizardMessages)
    platform::Tell(RangeSelection().forIntegration ? "SELECT INTEGRATION RANGE" : "SELECT RANGE",
                   "determine the range by drawing a rectangle while the right mouse button is down");
  w.Frame().SetCursor(platform::CursorKind::Cross);
  RangeSelection().active = true;
}

void IntegrateSelectedRange(TXLAWindow& w, float x1, float x2, float y1, float y2) {
  PlotIntegrationRange(w, x1, x2, kThickLine, platform::kRed);
  RangeSelectionState& sel = RangeSelection();
  sel.forIntegration = sel.active = false;
  ReleaseIntegrateButton(w);
  Conti().csffRangeFfMin = y1;
  Conti().csffRangeFfMax = y2;
  const SelectedRangeIntegral r = IntegrateRange(x1, x2, y1, y2);
  std::string text = SelectedRangeReport(r);
  const float cell[2] = {0.0f, r.c}, average[2] = {0.0f, r.average};
  const float* columns[2] = {nullptr, average};
  CopyColumnsToClipboard(cell, columns, 1, 1, 1);
  text += ShowRangeOnData(w, x1, x2, r.total, r.c, false);
  platform::Tell("INTEGRATE DISTRIBUTION", text);
  w.CmFullscaleDistributionPlot();
}

void MaxDistributionValueInRange(TXLAWindow& w, float x1, float x2) {
  RangeSelectionState& sel = RangeSelection();
  sel.forRescaling = sel.active = false;
  const ZoomRange z = DistributionZoomRange(DrawnDistributionCurve(), x1, x2);
  SetPlotRanges(w, z);
  if (RunState().RealtimeUpdateRunning) {
    sel.keepZoom = true;
    sel.zoomX1 = z.x1;
    sel.zoomX2 = z.x2;
  }
}

// ---- commands ---------------------------------------------------------------

void ClickIntegrateButton(TXLAWindow& w) {
  // A c(s) shown as c(M) holds densities per Da over its s grid: ranges in
  // S, or drawn in Da, would integrate the wrong quantity.
  if (!DistributionPlot() || CurrentDataTypeFlags().dls || BoundaryExtrapolationMode() || Transformed() ||
      Conti().transformedToCM) {
    ReleaseIntegrateButton(w);
    return;
  }
  if (RangeSelection().active) {
    LeaveRangeSelection(w);
    w.ZoomDragging = false;
    if (CScreenButton* b = NoiseAndRange().IntegrateButton.get()) PaintButton(w, *b);
    return;
  }
  if (PeakLabels().count > 0) DeletePeakLabels(w);
  if (Options().IntegrationRangesFromFile) {
    ReleaseIntegrateButton(w);
    IntegrateRangesFromFile(true);
    return;
  }
  RangeSelection().forIntegration = true;
  StartRangeSelection(w);
}

void ReleaseIntegrateButton(TXLAWindow& w) {
  CScreenButton* b = NoiseAndRange().IntegrateButton.get();
  if (!b || !b->on) return;
  ToggleIntegrateButton(w);
  PaintButton(w, *b);
}

void TXLAWindow::CmIntegrateDistribution() {
  // The menu command acts as a click on the on-plot button.
  if (CScreenButton* b = NoiseAndRange().IntegrateButton.get()) {
    ToggleIntegrateButton(*this);
    PaintButton(*this, *b);
  }
  ClickIntegrateButton(*this);
}

void TXLAWindow::CmRescaleDistributionPlot() {
  if (!DistributionPlot()) return;
  RangeSelection().forRescaling = true;
  StartRangeSelection(*this);
}

void TXLAWindow::CmFullscaleDistributionPlot() {
  RangeSelectionState& sel = RangeSelection();
  sel.forRescaling = sel.active = false;
  if (!DistributionPlot() || !DistArrays().distCurve) return;
  SetPlotRanges(*this, DistributionFullRange(DrawnDistributionCurve()));
}

void TXLAWindow::CmTransformCSToCM() {
  if (!DistributionToTransform()) return;
  TransformDistributionPlotToCM();
  Frame().Invalidate(true);
}

void TXLAWindow::CmTransformDifferentialToIntegral() {
  if (CurrentDataTypeFlags().dls || BoundaryExtrapolationMode() || !DistributionToTransform()) return;
  DifferentialToIntegralDistribution();
  Frame().Invalidate(true);
}

void TXLAWindow::TransformDistributionToS20w() {
  if (TransformToS20("Transform s to s20,w Distribution")) RequestRepaint(*this);
}

void TXLAWindow::CmTransformSToRDistribution() {
  if (!TransformToS20("Transform s to Rh Distribution")) return;
  RequestRepaint(*this);
  if (!platform::AskYes("", "transform s20 to Stokes-Radius?")) return;
  if (!TransformDistributionToStokesRadius(gSolutionConditions.vbar20)) {
    Refuse("could not calculate Rh from s20 in distribution");
    return;
  }
  RequestRepaint(*this);
  if (!platform::AskYes("", "correct distribution c(R) for a size-dependent signal a(R)?")) return;
  // An open dialog: the file must exist, and picking it asks no overwrite.
  platform::FileDialogRequest request;
  request.title = "open power series for a(R)";
  request.defaultExtension = "dat";
  request.presetName = "MieScatCoeffs.dat";
  const platform::FileDialogResult chosen = platform::UI().FileDialog(request);
  if (!chosen.accepted || chosen.paths.empty()) return;
  const std::string& path = chosen.paths.front();
  if (!CorrectDistributionForSignal(path)) {
    Refuse("could not calculate Rh from s20 in distribution");
    return;
  }
  RequestRepaint(*this);
}

void TXLAWindow::CmSaveContinuousDistribution() {
  const ModelSelectorFlags& m = F();
  CCurve* curve = DistArrays().distCurve;
  if (!(m.DistributionModel || m.SedTransformModel) || !curve) return;
  // The title names what the distribution is over; no filter and no start
  // folder of its own, any path length, ".dat" added to a bare name.
  SaveFileQuestion question{MassGridModel() ? "save mass distribution as" : "save distribution as", "newdat.dat"};
  question.defaultExtension = "dat";
  question.longestPath = 0;
  const std::string path = AskSaveFile(platform::FileDialogRequest{}, question);
  if (path.empty()) return;
  if (m.AnyCsff0Model() && platform::AskYes("", "2d distributions?")) {
    SaveMonteCarloTable(path);
    return;
  }
  curve->WriteToFile(path.c_str());
}
