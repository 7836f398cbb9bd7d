#include "automation/exchange/morlean_model_files.h"

#include <algorithm>
#include <cmath>

#include "automation/exchange/exchange_text.h"
#include "distributions/conti_settings.h"
#include "distributions/hydrodynamics.h"
#include "fit/model_params.h"
#include "lamm/lamm_settings.h"
#include "platform/paths.h"

namespace {

constexpr const char* kCannotOpen = "could not open file %s for writing";
constexpr const char* kModelLine = "1000 (hybrid discrete - c(s) model) \n";

struct Species {
  double M = 0, s = 0;
  bool fitM = false, fitS = false;
};

void AppendSlots(std::string& text, const std::vector<Species>& species, bool floatZeros) {
  using exchange::Appendf;
  const int n = static_cast<int>(species.size());
  for (int k = 1; k <= kMorleanSpeciesSlots; ++k)
    Appendf(text, "%f (MCDglobM #%d)\n", k <= n ? species[static_cast<std::size_t>(k - 1)].M : 0.0, k);
  // A slot without species: "0" lines, or "%f" zeros beside converted peaks.
  auto flagLine = [&](const char* key, int k, bool on) {
    if (on)
      Appendf(text, "1 (%s #%d)\n", key, k);
    else if (floatZeros)
      Appendf(text, "%f (%s #%d)\n", 0.0, key, k);
    else
      Appendf(text, "0 (%s #%d)\n", key, k);
  };
  for (int k = 1; k <= kMorleanSpeciesSlots; ++k) flagLine("exist", k, k <= n);
  for (int k = 1; k <= kMorleanSpeciesSlots; ++k)
    Appendf(text, "%f (MCDglobS #%d)\n", k <= n ? species[static_cast<std::size_t>(k - 1)].s : 0.0, k);
  for (int k = 1; k <= kMorleanSpeciesSlots; ++k)
    flagLine("MCDfitM", k, k <= n && species[static_cast<std::size_t>(k - 1)].fitM);
  for (int k = 1; k <= kMorleanSpeciesSlots; ++k)
    flagLine("MCDfitS", k, k <= n && species[static_cast<std::size_t>(k - 1)].fitS);
}

std::vector<Species> SlotSpecies(const MorleanPeakExport& peaks, const ContiSettings& c) {
  std::vector<Species> species;
  const bool discrete = c.hybridDiscrete != 0;
  if (peaks.convert) {
    const std::size_t room = static_cast<std::size_t>(kMorleanSpeciesSlots - (discrete ? 1 : 0));
    const std::size_t count = std::min({peaks.s.size(), peaks.M.size(), room});
    for (std::size_t k = 0; k < count; ++k)
      species.push_back({peaks.M[k], SToS20wCurrent(peaks.s[k]), true, true});
    if (discrete) species.push_back({c.discreteM, c.discreteS, true, true});
  } else if (discrete) {
    species.push_back({c.discreteM, c.discreteS, c.fitDiscreteM != 0, c.fitDiscreteS != 0});
  }
  return species;
}

}  // namespace

std::vector<float> FitPeaksIntoSlots(MorleanPeakExport& peaks, bool discreteSpeciesOn) {
  const std::size_t room = static_cast<std::size_t>(kMorleanSpeciesSlots - (discreteSpeciesOn ? 1 : 0));
  std::vector<float> left;
  if (peaks.s.size() > room) left.assign(peaks.s.begin() + static_cast<long>(room), peaks.s.end());
  if (peaks.s.size() > room) peaks.s.resize(room);
  if (peaks.M.size() > room) peaks.M.resize(room);
  return left;
}

std::string MorleanParameterFilePath(const std::string& configPath) {
  const platform::PathParts p = platform::SplitPath(configPath);
  return p.drive + p.folder + p.name + ".morlean_PAR";
}

bool WriteMorleanHybridParameterFile(const std::string& configPath, const std::string& xpPath,
                                     const MorleanPeakExport& peaks) {
  using exchange::Appendf;
  const ContiSettings& c = Conti();
  const std::string parameterPath = MorleanParameterFilePath(configPath);
  {
    exchange::TextFile file(parameterPath, kCannotOpen);
    if (!file.Open()) return false;
    std::string& t = file.text;
    const double sMin = c.sMin, sMax = c.sMax;
    t += kModelLine;
    Appendf(t, "%d (# of parameter follow)\n", 80);
    Appendf(t, "%d (resolution c(s) #1)\n",
            peaks.convert ? 0 : static_cast<int>(std::floor(static_cast<double>(c.resolution))));
    Appendf(t, "%f (MCDsmin1)\n", sMin);
    Appendf(t, "%f (MCDsmax1)\n", sMax);
    t += c.logSpacedGrid ? "0 (MCDlinlog1)\n" : "1 (MCDlinlog1)\n";
    Appendf(t, "%f (ff0 c(s) #1)\n", static_cast<double>(c.ffValue));
    t += c.fitFfValue && !peaks.convert ? "1 (MCDfitff01)\n" : "0 (MCDfitff01)\n";
    Appendf(t, "%d (resolution c(s) #2)\n", 0);
    Appendf(t, "%f (MCDsmin2)\n", sMin);
    Appendf(t, "%f (MCDsmax2)\n", sMax);
    t += "1 (MCDlinlog2)\n";
    Appendf(t, "%f (ff0 c(s) #2)\n", 1.3);
    t += "0 (MCDfitff02)\n";
    t += "1 (MCDWithTikhReg)\n";
    Appendf(t, "%f (MCDWPval)\n", static_cast<double>(c.confidenceLevel));
    t += "1 (MCDbNormalize)\n";
    AppendSlots(t, SlotSpecies(peaks, c), peaks.convert);
    t += "0 (bMCDlinkM)\n";
    Appendf(t, "%d (nMCDlinkMBase)\n", 1);
    Appendf(t, "%d (nMCDlinkMfrom)\n", 2);
    Appendf(t, "%d (nMCDlinkMto)\n", 4);
    t += "0 (bMCDlinkS)\n";
    Appendf(t, "%d (nMCDlinkSBase)\n", 1);
    Appendf(t, "%d (nMCDlinkSfrom)\n", 2);
    Appendf(t, "%d (nMCDlinkSto)\n", 4);
    Appendf(t, "%d (resolution c(s) #3)\n", 0);
    Appendf(t, "%f (MCDsmin3)\n", 10.0);
    Appendf(t, "%f (MCDsmax3)\n", 100.0);
    t += "1 (MCDlinlog3)\n";
    Appendf(t, "%f (ff0 c(s) #3)\n", 1.3);
    t += "0 (MCDfitff03)\n";
    t += "1 (bMarquardLevenbergMin)\n";
    if (!file.Close()) return false;
  }

  exchange::TextFile file(configPath, kCannotOpen);
  if (!file.Open()) return false;
  std::string& t = file.text;
  const LammSolverSettings& lamm = LammSettings();
  t += "experiments:\n";
  Appendf(t, "1 1 %s\n", xpPath.c_str());
  t += "-1 0 end\n";
  Appendf(t, "%f %f (vbar20, hydration)\n", static_cast<double>(gSolutionConditions.vbar), 0.3);
  Appendf(t, "g %d (#global parameters)\n", 18);
  Appendf(t, "%d %f\n", 1, 0.000459);
  Appendf(t, "%f (CompressLimit)\n", 40000.0);
  Appendf(t, "%f (threshold s for switching algorithms)\n", static_cast<double>(lamm.automaticSwitchS));
  Appendf(t, "%f (nGridSize)\n", static_cast<double>(SavedGridSize(lamm.gridSize)));
  Appendf(t, "%f (adjust dt with max relative increase)\n", lamm.maxDcOverC);
  Appendf(t, "%f (SRMAXSED)\n", 0.1);
  Appendf(t, "%f (SRMAXREACT)\n", 0.1);
  t += "1 (SRLIMITRANGE)\n";
  t += "0 (SRTESTING)\n";
  Appendf(t, "%d (SRCORRLEVEL)\n", 2);
  t += "0 (SRTESTING)\n";
  t += "0 (bSRFixedDt)\n";
  t += "0 (bShutOffBackDiffusion)\n";
  t += "1 (bRampOmega)\n";
  t += "500 (nSAItMax)\n";
  t += "2 (SAmaxTemp)\n";
  t += "10 (nSANumberOfTemps)\n";
  t += "1 (bSAFinalML)\n";
  t += "model:\n";
  t += kModelLine;
  t += "parameter file:\n";
  Appendf(t, "%s\n", parameterPath.c_str());
  t += "links:\n";
  Appendf(t, "%d (iMaxExp)\n", 20);
  Appendf(t, "%d (#links)\n", 7);
  for (int i = 1; i <= 20; ++i) Appendf(t, "%d %d %d %d %d %d %d\n", i, i, i, i, i, 0, 0);
  return file.Close();
}
