// "Monte-Carlo for Distributions" and "Monte-Carlo for Integrated
// Weight-Average s-Values": the user's settings for the Monte-Carlo series
// of the current continuous distribution, then the statistics for other
// confidence levels or integration ranges until the user has seen enough.
#include <cmath>
#include <string>

#include "app/commands/run_fit/run_fit_commands.h"
#include "app/window/txla_window.h"
#include "app/window/window_services.h"
#include "data/scan_set.h"
#include "distributions/monte_carlo.h"
#include "fit/model_selector.h"
#include "platform/error_box.h"
#include "platform/frame_window.h"
#include "platform/user_interface.h"

namespace {

constexpr const char* kTitle = "Monte Carlo for Distributions";
constexpr const char* kExplanation =
    "This Monte-Carlo routine will show the statistics only arising from the distribution and "
    "regularization.\n";


// The statistics are those of a regularized distribution; without data or
// with another model chosen the user is told why nothing is done.
bool DistributionModelOn() {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  if (CurrentScanSet().count <= 0) {
    platform::Tell(kTitle, "load data first");
    return false;
  }
  if (!m.DistributionModel || m.SedTransformModel) {
    platform::Tell(kTitle,
                   "the Monte-Carlo statistics are those of a continuous distribution - "
                   "please choose c(s) or another distribution model in the Model menu");
    return false;
  }
  return true;
}

bool Ask(TXLAWindow& w, float& value, const char* prompt) {
  return InputPositiveFloatEx(&w, &value, value, true, prompt, kTitle);
}

// The folder for the result files, named by a dummy file in it.
bool AskResultFolder(const char* defaultExtension, std::string& path) {
  platform::FileDialogRequest request;
  request.save = true;
  request.title = "select directory (keep dummy filename) for Distributions";
  request.presetName = "mc.dat";
  request.defaultExtension = defaultExtension;
  const platform::FileDialogResult result = platform::UI().FileDialog(request);
  if (!result.accepted || result.paths.empty()) return false;
  path = result.paths.front();
  return true;
}

bool AskCount(int& value, const char* prompt) { return InputCount(&value, value, prompt, kTitle); }

}  // namespace

void TXLAWindow::CmMonteCarloForDistributions() {
  if (!DistributionModelOn()) return;
  if (!platform::AskYes(kTitle, std::string(kExplanation) + " - continue?")) return;
  int n = 100;
  float c = 0.68f;
  if (!AskCount(n, "number of simulations") || !Ask(*this, c, "confidence level for display")) return;
  std::string path;
  if (!AskResultFolder("", path)) return;
  const bool writeEach = platform::AskYes("SET PREFERENCE", "write distribution to file at each iteration?");

  Frame().SetCursor(platform::CursorKind::Wait);
  PrepareContiContext(*this);
  const int done = RunMonteCarloDistributions(n, c, path, writeEach);
  while (done >= 2 && Ask(*this, c, "change confidence level")) {
    MonteCarloDistributionLimits(c);
    RequestRepaint(*this);
  }
  EndMonteCarlo();
  RequestRepaint(*this);
  Frame().SetCursor(platform::CursorKind::Arrow);
}

void TXLAWindow::CmMonteCarloIntegratedSw() {
  const std::string explanation =
      std::string(kExplanation) +
      "It will not optimize at each step non-linear parameters (such as meniscus value) but considers "
      "them fixed.\n"
      "If you need to consider their influence on confidence limits on integrated sw, too, you can use "
      "the Monte-Carlo procedure\n"
      "to the hybrid discrete/continuous distribution of MORLEAN (slow), or, alternatively, do a "
      "two-step analysis of determining confidence intervals\n"
      "of the nonlinear parameter first, and then apply the present Monte-Carlo for distributions "
      "procedure to the extreme values (faster)."
      " - continue?";
  if (!platform::AskYes(kTitle, explanation)) return;
  if (!DistributionModelOn()) return;
  int n = 100;
  float c = 0.68f, sMin = 1.0f, sMax = 10.0f;
  if (!AskCount(n, "number of simulations") ||
      !Ask(*this, c, "confidence level of regularization (P-value, recommended 0.68)") ||
      !Ask(*this, sMin, "left integration limit (smin)") || !Ask(*this, sMax, "right integration limit (smax)"))
    return;
  std::string path;
  if (!AskResultFolder("*", path)) return;
  const bool writeEach = platform::AskYes("SET PREFERENCE", "write distribution to file at each iteration?");

  Frame().SetCursor(platform::CursorKind::Wait);
  PrepareContiContext(*this);
  const int done = RunMonteCarloSw(n, c, sMin, sMax, path, writeEach);
  while (done >= 2 && platform::AskYes(kTitle, "other integration limits?")) {
    if (!Ask(*this, sMin, "left integration limit (smin)") || !Ask(*this, sMax, "right integration limit (smax)"))
      break;
    MonteCarloSwStatistics(sMin, sMax, c);
  }
  EndMonteCarlo();
  RequestRepaint(*this);
  Frame().SetCursor(platform::CursorKind::Arrow);
}
