#include "fit/stalled_steps.h"

#include "fit/fit_host.h"
#include "fit/serial_fit_settings.h"

bool StalledSteps::Judge(double oldRmsd, double newRmsd) {
  const double fall = oldRmsd > 0.0 ? 1.0 - newRmsd / oldRmsd : 1.0;
  bool any = false;
  for (int j = 1; j <= n_; ++j) any = any || now_[static_cast<size_t>(j)];
  if (!(fall < kStalledRmsdFall) || !any) {
    inRow_ = 0;
    for (char& m : moved_) m = 0;
    return false;
  }
  for (size_t j = 1; j <= static_cast<size_t>(n_); ++j) moved_[j] = moved_[j] || now_[j];
  return ++inRow_ >= 2;
}

std::vector<int> StalledSteps::Moved() const {
  std::vector<int> out;
  for (int j = 1; j <= n_; ++j)
    if (moved_[j]) out.push_back(j);
  return out;
}

void ReportUndetermined(FitHost* host, const std::vector<std::string>& names) {
  if (!host || gSerialFitSettings.running || names.empty()) return;
  std::string list;
  for (size_t k = 0; k < names.size(); ++k)
    list += (k == 0 ? "" : k + 1 == names.size() ? " and " : ", ") + names[k];
  host->MessageBox("", "the data do not determine " + list +
                           ": the fit ended where the rmsd stopped improving; the best parameters found are kept");
}
