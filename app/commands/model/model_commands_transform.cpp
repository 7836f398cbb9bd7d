// The boundary transforms of the Model menu: the van Holde-Weischet
// analysis and the extrapolation of ls-g*(s) area fractions against
// 1/sqrt(t). Both may also plot the apparent s against 1/sqrt(t).
#include "app/commands/run_fit/run_fit_commands.h"
#include "app/window/main_window_flags.h"
#include "app/commands/model/model_commands.h"
#include "app/window/txla_window.h"
#include "distributions/model_entries.h"
#include "app/window/window_services.h"
#include "data/scan_set.h"
#include "distributions/analysis/extrapolation_plot.h"
#include "distributions/conti_models.h"
#include "distributions/conti_parameters.h"
#include "distributions/conti_settings.h"
#include "fit/clear_model_selection.h"
#include "fit/fit_engine_state.h"
#include "fit/model_ids.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/model_table.h"
#include "platform/error_box.h"
#include "platform/user_interface.h"

namespace {

constexpr const char* kVhwCaption = "Van Holde Weischet Analysis";

void AskForExtrapolationPlot() {
  LsgExtrapolation().plotExtrapolation =
      platform::UI().MessageBox("",
                                "show plot with extrapolation of s(app) vs 1/srqt(time)? \n"
                                "(switch off by pressing the ESCAPE key)",
                                platform::BoxButtons::YesNo, platform::BoxIcon::Question) == platform::IDYES;
}

// Sedimentation (yes) or flotation (no).
bool AskFlotation() {
  return platform::UI().MessageBox(kVhwCaption, "van Holde-Weischet for sedimentation? ('no' for flotation)",
                                   platform::BoxButtons::YesNo, platform::BoxIcon::Question) == platform::IDNO;
}

// The resolution is a number of boundary fractions; false when cancelled.
bool AskResolution(float* answer) {
  const ContiSettings& cs = Conti();
  int count = static_cast<int>(cs.resolution);
  if (!InputCount(&count, count, "enter resolution", kVhwCaption)) return false;
  *answer = static_cast<float>(count);
  return true;
}

}  // namespace

void TXLAWindow::CmExtrapolateLsgAreaFractions() {
  if (RefuseDlsData()) return;
  ModelSelectorFlags& m = gModelSelectorFlags;
  platform::Tell("ATTENTION",
                 "This model has not been fully examined yet and can be unstable.\n"
                 "It works best after manual jitter alignment, with RI noise switched off, and with "
                 "data that show both the solvent and the solution plateau.\n"
                 "Usually, c(s) will give better results.",
                 platform::BoxIcon::Error);
  ClearSelectionForModel();
  m.SedTransformModel = 1;
  m.LsgExtrapolationModel = 1;
  m.DistributionModel = 1;
  ContiSettings& cs = Conti();
  CheckMenuItem(kCmExtrapolateLsgAreaFractions, true);
  cs.showBothRegularizations = 0;
  CheckMenuItem(642, false);
  AskForExtrapolationPlot();
}

void TXLAWindow::CmVanHoldeWeischet() {
  if (RefuseDlsData()) return;
  ModelSelectorFlags& m = gModelSelectorFlags;
  // Both questions come before anything changes: a cancel leaves the model
  // in use as it was.
  const bool flotation = AskFlotation();
  float resolution = 0;
  if (!AskResolution(&resolution)) return;
  FreeLsgsArrays();
  Conti().resolution = resolution;
  if (ModelOptionsOnly(kCmVanHoldeWeischet)) {
    m.VanHoldeWeischetFlotation = flotation;
    return;
  }
  ClearSelectionForModel();
  m.VanHoldeWeischetFlotation = flotation;
  m.SedTransformModel = 1;
  gFitEngineState.fitTINoise = 0;
  gModelParams.riNoiseFit = 0;
  CheckMenuItem(kCmVanHoldeWeischet, true);
  // Choosing the transform computes nothing; the screen says how to, and
  // shows no curves of the model before it.
  RunState().TransformAwaitsRun = true;
  ForgetShownResult(*this);
  // Fluorescence data also carry the absorbance mark: the signal kind decides.
  const DataTypeFlags& data = CurrentDataTypeFlags();
  if (data.interference || data.intensity || data.fluorescence)
    platform::Tell(kVhwCaption,
                   "this function is only for absorbance data, \nrecommending extrapolation of s(app) vs "
                   "1/srqt(time) for interference data");
  AskForExtrapolationPlot();
}
