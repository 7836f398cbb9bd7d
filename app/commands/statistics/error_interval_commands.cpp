// "calculate error in s" and "calculate error in M": confidence limits of
// the first species' s, or M (or D), from the rmsd of refits with that
// parameter held at trial values.
#include <cmath>
#include <cstdio>
#include <string>

#include "app/window/txla_window.h"
#include "app/window/main_fit_host.h"
#include "app/window/window_services.h"
#include "data/scan_set.h"
#include "fit/error_surface.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/rmsd.h"
#include "platform/error_box.h"
#include "numerics/statistics.h"
#include "platform/frame_window.h"
#include "platform/user_interface.h"

namespace {

struct ErrorCommand {
  const char* title;
  const char* stepPrompt;
  const char* confirmation;
  int slot;
  float defaultStep;
  void (*scan)(FitHost*, float, float, ScanLimit*, ScanLimit*);
};

std::string LimitText(const ScanLimit& limit, const char* format) {
  switch (limit.status) {
    case ScanLimitStatus::Found: {
      char text[64];
      std::snprintf(text, sizeof text, format, limit.value);
      return text;
    }
    case ScanLimitStatus::Stopped: return "not determined (stopped)";
    case ScanLimitStatus::NotDetermined: break;
  }
  return "not determined";
}

long PointsInFitLimits() {
  const ScanSet& ss = CurrentScanSet();
  long n = 0;
  for (int s = 1; s <= ss.count; ++s) n += ss.lastFitPoint[s] - ss.firstFitPoint[s] + 1;
  return n;
}

void CalculateError(TXLAWindow& w, const ErrorCommand& cmd, const char* resultFormat, const char* limitFormat) {
  if (CurrentScanSet().count < 1) return;
  const float value = gModelParameterVector.P[cmd.slot];
  float level = 0.683f, step = cmd.defaultStep;
  if (!InputPositiveFloatEx(&w, &level, level, true, "confidence level", cmd.title)) return;
  if (!InputPositiveFloatEx(&w, &step, step, true, cmd.stepPrompt, cmd.title)) return;
  if (!(level > 0.0f && level < 1.0f)) {
    platform::Tell(cmd.title, "the confidence level must lie between 0 and 1", platform::BoxIcon::Error);
    return;
  }
  if (!(step > 0.0f)) {
    platform::Tell(cmd.title, "the test interval must be positive", platform::BoxIcon::Error);
    return;
  }
  if (platform::UI().MessageBox(cmd.title, cmd.confirmation, platform::BoxButtons::YesNo,
                                platform::BoxIcon::Question) != platform::IDYES)
    return;
  const long n = PointsInFitLimits();
  if (n < 2) {
    platform::Tell(cmd.title, "at least 2 data points inside the fit limits are needed", platform::BoxIcon::Error);
    return;
  }
  if (gFitEngineState.currentRmsd == 0.0f && CalcRmsd() == 0.0f) {
    platform::Tell(cmd.title, "fit the model first", platform::BoxIcon::Error);
    return;
  }

  w.Frame().SetCursor(platform::CursorKind::Wait);
  const double dn = static_cast<double>(n);
  const double f = FRatioForConfidence(level, dn - 1.0, dn);
  if (!std::isfinite(f)) {
    w.Frame().SetCursor(platform::CursorKind::Arrow);
    platform::Tell(cmd.title, "the confidence level must lie between 0 and 1", platform::BoxIcon::Error);
    return;
  }
  const float critical = static_cast<float>(std::sqrt(dn / (dn - 1.0) * f) * gFitEngineState.currentRmsd);
  ScanLimit lower, upper;
  cmd.scan(MainFitHost(), step, critical, &lower, &upper);
  RequestRepaint(w);
  w.Frame().SetCursor(platform::CursorKind::Arrow);

  char text[1000];
  std::snprintf(text, sizeof text, resultFormat, value, LimitText(lower, limitFormat).c_str(),
                LimitText(upper, limitFormat).c_str(), critical);
  platform::Tell(cmd.title, text);
}

}  // namespace

void TXLAWindow::CmCalculateErrorInS() {
  static const ErrorCommand cmd{"calculate error in s", "test interval for s",
                                "are current parameters best fit? \nuncheck s (first component only), but float all "
                                "other unknowns",
                                5, 0.01f, CalcErrorInS};
  CalculateError(*this, cmd, "s = %.3f [%s, %s] S\n(critical rmsd value is %f)", "%.3f");
}

void TXLAWindow::CmCalculateErrorInM() {
  const bool mass = gFitEngineState.molarMassParameters != 0;
  const ErrorCommand cmd{"calculate error in M", "test interval for M",
                         "are current parameters best fit? \nuncheck M (first component only), but float all "
                         "other unknowns",
                         1, mass ? 100.0f : 0.01f, CalcErrorInM};
  if (mass)
    CalculateError(*this, cmd, "M = %.0f [%s, %s] Da\n(critical rmsd value is %f)", "%.0f");
  else
    CalculateError(*this, cmd, "D = %.3f [%s, %s] 1e-7 cm^2/sec\n(critical rmsd value is %f)", "%.3f");
}
