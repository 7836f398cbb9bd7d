#include "app/commands/run_fit/fit_limits.h"

#include <string>
#include <vector>

#include "app/dialogs/matrix_dialogs.h"
#include "app/window/txla_window.h"
#include "app/window/window_services.h"
#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "platform/error_box.h"
#include "platform/user_interface.h"

std::uint8_t& UserFitLimitsSet() {
  static std::uint8_t set = 0;
  return set;
}

void SetDefaultMeniscusBottomLimits() {
  if (UserFitLimitsSet()) return;
  FitEngineState& fs = gFitEngineState;
  const ModelParams& mp = gModelParams;
  const ScanSet& s = CurrentScanSet();
  const bool fluorescence = CurrentDataTypeFlags().fluorescence != 0;
  const double mStep = fluorescence ? 0.1 : 0.02;
  const double bStep = fluorescence ? 0.1 : 0.05;
  fs.meniscusMax = static_cast<float>(mp.meniscus + mStep);
  fs.meniscusMin = static_cast<float>(mp.meniscus - mStep);
  fs.bottomMax = static_cast<float>(mp.bottom + bStep);
  fs.bottomMin = static_cast<float>(mp.bottom - bStep);
  // Only a fit limit the data have moves a range (without data the limits
  // are 0, and an upper meniscus limit of -0.001 would lie below the lower).
  if (s.leftFitLimit > 0 && fs.meniscusMax >= s.leftFitLimit) fs.meniscusMax = s.leftFitLimit - 0.001f;
  if (s.rightFitLimit > 0 && fs.bottomMin <= s.rightFitLimit) fs.bottomMin = s.rightFitLimit + 0.001f;
}

namespace {

bool LimitsConsistent() {
  const FitEngineState& fs = gFitEngineState;
  const ModelParams& mp = gModelParams;
  const ScanSet& s = CurrentScanSet();
  return fs.meniscusMin <= mp.meniscus && mp.meniscus <= fs.meniscusMax && fs.meniscusMin <= fs.meniscusMax &&
         fs.meniscusMax <= s.leftFitLimit && fs.bottomMin <= mp.bottom && mp.bottom <= fs.bottomMax &&
         fs.bottomMin <= fs.bottomMax && s.rightFitLimit <= fs.bottomMin;
}

}  // namespace

void SetMeniscusBottomRanges(TXLAWindow& window, bool force) {
  if (!force && LimitsConsistent()) return;
  FitEngineState& fs = gFitEngineState;
  ModelParams& mp = gModelParams;
  bool automatic = false;
  if (!CurrentDataTypeFlags().electrophoresis) {
    const std::vector<std::string> labels = {"meniscus", "low limit (0=auto)", "up limit (0=auto)",
                                             "bottom",   "low limit (0=auto)", "up limit (0=auto)"};
    float row1[4] = {0, mp.meniscus, fs.meniscusMin, fs.meniscusMax};
    float row2[4] = {0, mp.bottom, fs.bottomMin, fs.bottomMax};
    float* values[3] = {nullptr, row1, row2};
    if (!GetMatrixBox::Run(2, 3, values, labels, "set meniscus+limits")) return;
    UnpackModelParameters();
    mp.meniscus = row1[1];
    const float menLow = row1[2], menUp = row1[3], botLow = row2[2], botUp = row2[3];
    fs.meniscusMin = menLow > 0 ? menLow : mp.meniscus - 0.02f;
    fs.meniscusMax = menUp > 0 ? menUp : mp.meniscus + 0.02f;
    mp.bottom = row2[1];
    fs.bottomMin = botLow > 0 ? botLow : mp.bottom - 0.02f;
    fs.bottomMax = botUp > 0 ? botUp : mp.bottom + 0.02f;
    automatic = menLow <= 0 || menUp <= 0 || botLow <= 0 || botUp <= 0;
    PackModelParameters();
  } else {
    const bool entered = mp.parametersEntered != 0;
    float up = entered ? fs.meniscusMax : mp.meniscus + 0.02f;
    float low = entered ? fs.meniscusMin : mp.meniscus - 0.02f;
    float answer = up;
    if (!InputPositiveFloat(&answer, up, true, "enter upper limit (0 for auto default)",
                            "SET RANGE FOR MENISCUS VARIATION"))
      answer = 0;
    if (answer <= 0) {
      automatic = true;
    } else {
      fs.meniscusMax = answer;
      float lower = low;
      if (!InputPositiveFloat(&lower, low, true, "enter lower limit (0 for auto default)",
                              "SET RANGE FOR MENISCUS VARIATION"))
        lower = 0;
      if (lower <= 0)
        automatic = true;
      else
        fs.meniscusMin = lower;
    }
  }
  if (automatic) {
    UserFitLimitsSet() = 0;
    SetDefaultMeniscusBottomLimits();
  } else {
    UserFitLimitsSet() = 1;
  }
  RequestRepaint(window);
}

void TXLAWindow::CmSetFitLimitsMeniscusBottom() { SetMeniscusBottomRanges(*this, true); }

namespace {

// The switch and the fit-vector flag that carries it (F[4]) go off together.
void SwitchOffLogGrid() {
  Conti().logSpacedGrid = 0;
  gModelParams.massOrDFit[4] = 0;
  gModelParameterVector.F[4] = 0;
}

}  // namespace

bool CheckContiGridSettings() {
  ContiSettings& cs = Conti();
  const ModelSelectorFlags& m = gModelSelectorFlags;
  if (m.DistributionModel) {
    if (cs.logSpacedGrid && cs.sMin == 0) {
      platform::Tell("", "smin = 0 is incompatible with log spacing of grid\n - switching off - please cconfirm",
                     platform::BoxIcon::Warning);
      SwitchOffLogGrid();
      return false;
    }
    if (cs.logSpacedGrid && (cs.sMin < 0 || cs.sMax < 0)) {
      platform::Tell(
          "", "smin < 0 and smax < 0 is incompatible with log spacing of grid\n - switching off - please cconfirm",
          platform::BoxIcon::Warning);
      SwitchOffLogGrid();
      return false;
    }
  }
  if (m.AnyCsff0Model()) {
    if (cs.ffMax <= cs.ffMin) {
      ErrorBox("Error in bCofSff0: ff0max must be larger than ff0min", false);
      return false;
    }
    if (cs.ffResolution <= 1.0f) {
      ErrorBox("Error in bCofSff0: ff0resolution must be integer > 1", false);
      return false;
    }
  }
  return true;
}
