// Command 904: one data set per "list.*" file of the data folder, with a
// running summary (summary.txt) and a compact table (idswsig.txt) of all
// sets, a check for saturated signals before each set, and the summary in
// the text editor at the end.
#include <algorithm>
#include <cctype>
#include <filesystem>

#include "automation/serial/fluorescence_correction_record.h"
#include "automation/serial/serial_fit.h"
#include "automation/serial/serial_fit_common.h"
#include "automation/serial/serial_fit_steps.h"
#include "data/scan_grid.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "distributions/hydrodynamics.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/rmsd.h"
#include "fit/saved_params.h"
#include "fit/serial_fit_settings.h"
#include "platform/paths.h"
#include "platform/process_launcher.h"
#include "platform/user_interface.h"

bool IsSignalSaturated() {
  const ScanSet& s = CurrentScanSet();
  const DataTypeFlags& t = CurrentDataTypeFlags();
  if (s.count <= 0 || t.interference) return false;
  const float limit = t.absorbance && !t.fluorescence ? 1.8f : 3900.0f;
  for (int i = 1; i <= s.count; ++i) {
    const float* r = s.radii[static_cast<std::size_t>(i)];
    const float* c = s.signals[static_cast<std::size_t>(i)];
    for (int k = 1; k <= s.points[static_cast<std::size_t>(i)]; ++k) {
      if (!(r[k] > 6.9f && r[k] < 7.0f)) continue;
      if (c[k] > limit) return true;
      break;
    }
  }
  return false;
}

namespace {

using namespace serial;

// The list files of the folder, in name order.
std::vector<std::string> ListFiles(const std::string& folder) {
  namespace fs = std::filesystem;
  std::vector<std::string> found;
  std::error_code ec;
  for (fs::directory_iterator it(platform::ToNative(folder), ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    std::string lower = name;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (lower.rfind("list.", 0) == 0 && it->is_regular_file(ec)) found.push_back(name);
  }
  std::sort(found.begin(), found.end());
  for (std::string& name : found) name = platform::Combine(folder, name);
  return found;
}

constexpr const char* kHeader =
    "smin, smax, c(in range), c(tot), sw(in range), Mwavg(in range), rmsd, rmsd/ctot(%)\n";

}  // namespace

void SerializeFitByListFile(ISerialFitWindow& window) {
  if (CurrentScanSet().count <= 0) return;
  SerialFitSettings& sf = gSerialFitSettings;
  sf.abortRequest = 0;
  if (!CsModel()) {
    Tell("currently only implemented for c(s) distribution analysis (please switch first)");
    return;
  }
  SetUpAnswers setUp = AskSetUp("fit each set? \n(otherwise only run will be executed in each set)");
  const bool toPeldo = AskYesNo("PELDO dfr and c(s)?");
  const std::vector<IntegrationRange> ranges = AskIntegrationRanges(false);
  const int iterations = AskMonteCarloIterations();
  sf.monteCarlo = iterations > 0 && !ranges.empty();

  std::string summary = kHeader, table;
  BuildTmpFileList(0);
  const std::string folder = CurrentDataPaths().dataFolder;
  const std::string startParameterFile = CurrentDataPaths().parameterFile;
  const std::string summaryPath = platform::Combine(folder, "summary.txt");
  const std::string tablePath = platform::Combine(folder, "idswsig.txt");
  const std::vector<std::string> lists = ListFiles(folder);
  CSerialFitLog log(folder);
  {
    CRunningSeries series;
    sf.reuseSavedParameters = setUp.restore;
    int n = 0;
    for (const std::string& listPath : lists) {
      ++n;
      const std::string listName = platform::SplitPath(listPath).name + platform::SplitPath(listPath).extension;
      window.DrawText(Format("#%d: next %s", n, listName.c_str()), 300, 240);
      // A list that cannot be read would load the previous set's files again.
      std::string reason;
      if (!LoadFileNameList(listPath, &reason)) {
        log.Skipped(listPath, "the list file could not be read: " + reason);
        continue;
      }
      if (!LoadListedScans()) {
        log.Failed(listPath, "the scans could not be loaded");
        continue;
      }
      BuildTmpFileList(0);
      if (IsSignalSaturated()) {
        summary += listPath + "\n" + "signal maxed out\n";
        table += listPath;
        for (std::size_t k = 0; k < ranges.size(); ++k) table += " 0 0 0";
        table += "\n";
        log.Skipped(listPath, "signal maxed out");
      } else {
        sf.errorCode = 0;
        if (CurrentScanSet().count <= 0) {
          log.Failed(listPath, "no scans loaded: the series ends here");
          break;
        }
        ShowSetInTitle(window);
        PrepareSetParameters(setUp, startParameterFile);
        const bool computed = AnalyseSet(window, setUp.fit);
        if (StopRequested()) {
          log.Note(listPath + ": stopped by the user; the series ends here");
          break;
        }
        if (!computed) {
          log.Failed(listPath, "no distribution was computed for this set");
          continue;
        }
        const ResultPlace place = PlaceOfLoadedSet();
        std::vector<std::string> unwritten;
        WriteDistributionFiles(place, unwritten);
        if (toPeldo) {
          window.Command(kSerialCmdPeldoDistribution);
          window.Command(kSerialCmdPeldoDataFitResiduals);
        }
        const float rmsd = CalcRmsd();
        std::vector<std::string> rangeLines;
        std::string rangeTable;
        if (!ranges.empty()) {
          std::string text = kHeader;
          for (const IntegrationRange& r : ranges) {
            const RangeResult v = IntegrateRange(r, false);
            const float M = CalculateM(v.sw);
            const double share = 100.0 * rmsd / v.ctot;
            text += Format("%.3f %.3f  %f %f %.3f %.0f %f %.2f\n", r.sMin, r.sMax, v.c, v.ctot, v.sw, M,
                           rmsd, share);
            rangeLines.push_back(Format("          %.3f - %.3f: c=%f (ctot = %f) sw=%.3f , Mapp=%.0f , "
                                        "rmsd = %f (rmsd/ctot = %.2f%%)                 \n",
                                        r.sMin, r.sMax, v.c, v.ctot, v.sw, M, rmsd, share));
            rangeTable += Format(" %f  %f %f", v.c, v.sw, M);
          }
          WriteSetFile(place.Path("integrals"), text, unwritten);
          if (sf.monteCarlo) WriteMonteCarloIntegrals(window, place, iterations, ranges, unwritten);
        }
        WriteErrorAndExchangeFiles(place, unwritten);
        summary += Format("#%d - %s: ", n, listPath.c_str());
        table += listPath + " ";
        if (!ranges.empty()) {
          for (const std::string& line : rangeLines) summary += line;
          window.DrawText(Format("#%d: result from %s: ", n, listName.c_str()), 300, 200);
          const std::string& last = rangeLines.back();
          window.DrawText(last.substr(0, last.size() - 2), 300, 220);
        } else {
          summary += "no integrations\n";
        }
        // Each set's row ends, with or without ranges, so that rows never run together.
        table += rangeTable + "\n";
        summary += FloatingCorrectionsLine(FluorescenceCorrections().Get());
        log.Outcome(listPath, sf.errorCode, unwritten);
      }
      std::vector<std::string> unwritten;
      WriteSetFile(summaryPath, summary, unwritten);
      WriteSetFile(tablePath, table, unwritten);
      for (const std::string& file : unwritten) log.Note("could not write " + file);
    }
    FluorescenceCorrections().Set(setUp.corrections);
  }
  window.RequestRepaint();
  if (lists.empty()) {
    Tell("no list.* file in " + folder + ": nothing to analyse");
    return;
  }
  log.ShowClosingBox();
  platform::Processes().OpenTextEditor(summaryPath);
}
