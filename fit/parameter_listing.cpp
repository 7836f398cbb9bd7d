#include "fit/parameter_listing.h"

#include <cctype>
#include <cstdio>

#include "data/data_messages.h"
#include "data/scan_set.h"
#include "fit/fit_engine_state.h"
#include "fit/rmsd.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/lamm_settings.h"
#include "platform/error_box.h"
#include "platform/sounds.h"
#include "platform/clipboard.h"
#include "platform/paths.h"
#include "platform/user_interface.h"

namespace {

using data_messages::Format;

const char* Flag(int fitted, const char* floated, const char* fixed) { return fitted ? floated : fixed; }

}  // namespace

std::string ParameterListingText(bool forClipboard) {
  const ModelParams& mp = gModelParams;
  const ModelParameterVector& pv = gModelParameterVector;
  const FitEngineState& fs = gFitEngineState;
  const ScanSet& s = CurrentScanSet();
  std::string text;
  const ModelSelectorFlags& m = gModelSelectorFlags;
  // A distribution keeps its grid in the species slots: s min, s max, the
  // resolution and the frictional ratio are no species.
  const bool distribution = m.DistributionModel || m.SedTransformModel;
  if (distribution) {
    constexpr int n = kComponentSlots;
    text += "\n\ndistribution:\n";
    text += Format("s min\t=\t%.3f\ns max\t=\t%.3f\nresolution\t=\t%.0f\n", static_cast<double>(pv.P[1]),
                   static_cast<double>(pv.P[n + 1]), static_cast<double>(pv.P[2 * n + 1]));
    text += Format("confidence level\t=\t%.3f\n", static_cast<double>(pv.P[2]));
    text += Format("f/f0\t=\t%.3f", static_cast<double>(pv.P[2 * n + 3]));
    text += Flag(pv.F[2 * n + 3], "\t(floated)", "\t(fixed)");
  }
  for (int k = 1; k <= kComponentSlots && !distribution; ++k) {
    if (!mp.included[k]) continue;
    text += Format("\n\ncomponent %d included:\n", k);
    if (fs.molarMassParameters)
      text += Format("M\t=\t%f g/Mol", static_cast<double>(mp.massOrD[k]));
    else
      text += Format("D\t=\t%.3f *10^-7 cm^2/sec", static_cast<double>(mp.massOrD[k]));
    text += Flag(mp.massOrDFit[k], "\t(floated)\n", "\t(fixed)\n");
    text += Format("s\t=\t%.3f S", static_cast<double>(mp.s[k]));
    if (forClipboard)
      text += Flag(mp.sFit[k], "\t\t\t(floated)", "\t\t\t(fixed)");
    else
      text += Flag(mp.sFit[k], "\t\t\t(floated)\n", "\t\t\t(fixed)\n");
  }
  if (!distribution) {
    text += "\n\nconcentrations = ";
    for (int slot = 9; slot <= 12; ++slot)
      if (mp.included[slot - 8]) text += Format("%.3f | ", static_cast<double>(pv.P[slot]));
    text += "(first is total, next are fractions)";
  }
  text += Format("\n\nmeniscus at \t%1.4f cm", static_cast<double>(mp.meniscus));
  text += Flag(mp.meniscusFit, "\t\t(floated)\n", "\t\t(fixed)\n");
  text += Format("bottom at \t%1.4f cm", static_cast<double>(mp.bottom));
  text += Flag(mp.bottomFit, "\t\t(floated)\n", "\t\t(fixed)\n\n");
  text += Format("baseline at \t%1.5f OD", static_cast<double>(mp.baseline));
  if (mp.baselineFit || mp.baselineLinear)
    text += "\t\t(floated)\n";
  else
    text += forClipboard ? "\t\t(fixed)\n" : "\t\t(fixed)\n";
  if (fs.fitTINoise) text += forClipboard ? "\t\ttime independent baseline fitted\n" : "\t\t(time independently fitted)";
  text += Format("\nfitted from %1.4f to %1.4f cm\n", static_cast<double>(s.leftFitLimit),
         static_cast<double>(s.rightFitLimit));
  text += LammSettings().experimentalInitialDistribution ? "with experimental initial distribution"
                                                          : "with constant initial distribution";
  text += Format("\nsimulation start time %f sec", static_cast<double>(mp.startTime));
  text += Flag(mp.startTimeFit, "\t\t(floated)\n", "\t\t(fixed)\n");
  text += Format("\nrmsd=%f (n=%.0f,SSR=%f)\n", static_cast<double>(fs.currentRmsd),
                 static_cast<double>(fs.rmsdPointCount), RmsdSquareSum());
  return text;
}

namespace {

bool IsPlaceholderExtension(const std::string& extension) {
  if (extension.empty() || extension == ".") return true;
  std::string lower;
  for (char c : extension) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower == ".rxx";
}

}  // namespace

std::string SaveParametersToFile(const std::string& name) {
  std::string path = name;
  const ScanSet& s = CurrentScanSet();
  // The listing goes with the data: a name without an extension of its
  // own, or with the placeholder ".rxx" of the preset names, takes theirs.
  // An extension the user typed stands.
  platform::PathParts parts = platform::SplitPath(name);
  if (IsPlaceholderExtension(parts.extension) && s.count > 0 && s.fileNames.size() > 1 &&
      !s.fileNames[1].empty()) {
    parts.extension = platform::SplitPath(s.fileNames[1]).extension;
    path = platform::JoinPath(parts);
  }
  if (platform::FileExists(path)) {
    PlaySoundInfo();
    const int answer = platform::UI().MessageBox("ERROR", "file " + path + " already exists!\nOverwrite?",
                                                 platform::BoxButtons::YesNo, platform::BoxIcon::Question);
    if (answer != platform::IDYES) {
      platform::Tell("ERROR", "parameters not saved");
      return std::string();
    }
  }
  UnpackModelParameters();
  platform::CheckedOutputFile file(path);
  if (!file) {
    ErrorBox(("could not open " + path).c_str(), false);
    return std::string();
  }
  const std::string text = ParameterListingText(false);
  const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
  if (!written || !file.Commit()) {
    ErrorBox(("could not write " + path).c_str(), false);
    return std::string();
  }
  return path;
}

void CopyParametersToClipboard() {
  UnpackModelParameters();
  platform::Clipboard().SetText(ParameterListingText(true));
}
