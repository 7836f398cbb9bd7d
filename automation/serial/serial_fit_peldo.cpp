// Command 923: the sets picked in the companion plotter PELDO. PELDO runs
// in a watch mode on the data folder; it writes the series file
// (listOfLists.txt: list files; toBeProcessed.txt: numbered scan ranges),
// follows the per-set files the series writes (dfr<set>.txt,
// dist<set>.txt) and stops watching when distFinis.txt appears.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "automation/exchange/outside_program.h"
#include "automation/plot_exports.h"
#include "automation/serial/fluorescence_correction_record.h"
#include "automation/serial/serial_fit.h"
#include "automation/serial/serial_fit_common.h"
#include "automation/serial/serial_fit_steps.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/rmsd.h"
#include "fit/serial_fit_settings.h"
#include "platform/error_box.h"
#include "platform/paths.h"
#include "platform/program_paths.h"
#include "platform/user_interface.h"

using namespace serial;

SeriesFile ParseSeriesFile(const std::string& text, bool listOfLists) {
  SeriesFile out;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<char> a(line.size() + 1), b(line.size() + 1);
    SeriesRow row;
    const int fields = std::sscanf(line.c_str(), "%s %s %d %d %d", a.data(), b.data(), &row.first,
                                   &row.last, &row.step);
    if (fields <= 0) continue;  // an empty line
    if (listOfLists) {
      if (fields > 1) return out;
      out.listPaths.push_back(a.data());
      continue;
    }
    // A step of 0 or less would never reach the last number.
    if (fields != 5 || row.step <= 0) return out;
    row.prefix = std::strstr(a.data(), "None") ? std::string() : std::string(a.data());
    row.extension = b.data();
    out.rows.push_back(row);
  }
  out.ok = true;
  return out;
}

std::string SeriesFilePath(const std::string& folder, const SeriesRow& row, int number) {
  return folder + row.prefix + Format("%05d", number) + "." + row.extension;
}

std::vector<int> SeriesRowNumbers(const SeriesRow& row, const std::string& folder, bool* tooMany,
                                  std::string* problem) {
  std::vector<int> found;
  if (tooMany) *tooMany = false;
  long long number = row.first;
  while (number <= row.last) {
    const int n = static_cast<int>(number);
    if (platform::FileExists(platform::ToNative(SeriesFilePath(folder, row, n)))) {
      if (static_cast<int>(found.size()) >= kMaxSeriesSetFiles) {
        if (tooMany) *tooMany = true;
        break;
      }
      found.push_back(n);
      if (n >= row.last) break;
      number = std::min<long long>(number + row.step, row.last);
    } else {
      if (n == row.last && found.size() < 2) {
        if (problem)
          *problem = Format("problem creating list %s: only %d files found", row.extension.c_str(),
                            static_cast<int>(found.size()));
        return {};
      }
      ++number;
    }
  }
  return found;
}

namespace {

constexpr int kSeriesCapacity = 1000;

struct SeriesEntry {
  std::string listPath;
  std::string name;
  float rmsd = 0, meniscus = 0, ff0 = 0;
};

struct SeriesTableRecord {
  std::vector<SeriesEntry> sets;
  std::string folder;  // data folder with its separator
  std::string seriesFile;
};

SeriesTableRecord& SeriesTable() {
  static SeriesTableRecord table;
  return table;
}

void ErrorMessage(const std::string& text) { ErrorBox(text.c_str()); }

std::string PeldoProgram() { return platform::ProgramPaths.ProgramFolder + "PELDO/PELDO"; }

// "name(k).ext" for the smallest k from `from` on that names no file; the
// rename asks whether to go on when it fails. k is left at the value used.
bool MoveAside(const std::string& path, int& k) {
  if (!platform::FileExists(platform::ToNative(path))) return true;
  const platform::PathParts p = platform::SplitPath(path);
  std::string target;
  for (;; ++k) {
    target = p.drive + p.folder + p.name + Format("(%d)", k) + p.extension;
    std::error_code ec;
    if (!std::filesystem::exists(platform::ToNative(target), ec)) break;
  }
  std::error_code ec;
  std::filesystem::rename(platform::ToNative(path), platform::ToNative(target), ec);
  if (!ec) return true;
  return platform::UI().MessageBox("", Format("could not rename existing %s to %s - proceed?", path.c_str(),
                                              target.c_str()),
                                   platform::BoxButtons::YesNo, platform::BoxIcon::Question) == platform::IDYES;
}

bool PrepareSerialFit(ISerialFitWindow& window) {
  if (CurrentScanSet().count <= 0) return false;
  if (!AskYesNo("Are currently loaded data part of the series, and analyzed as the series should be?")) {
    Tell("please load first data set and analyze manually, then invoke serialization");
    return false;
  }
  if (!CsModel()) {
    Tell("sorry, currently only envisioned for c(s)");
    return false;
  }
  const std::string peldo = PeldoProgram();
  if (!OutsideProgramPresent(peldo)) {
    Tell("sorry, could not find PELDO file at " + peldo);
    return false;
  }
  SeriesTableRecord& t = SeriesTable();
  BuildTmpFileList(0);
  const platform::PathParts first = platform::SplitPath(CurrentFileNameList().names[1]);
  t.folder = first.drive + first.folder;
  SerialFitSettings& sf = gSerialFitSettings;
  sf.useListOfLists = CurrentDataTypeFlags().fluorescence ||
                      AskYesNo("look for existing series of lists? (otherwise they will be assembled by "
                               "scan numbers)");
  t.seriesFile = t.folder + (sf.useListOfLists ? "listOfLists.txt" : "toBeProcessed.txt");
  int k = 1;
  if (!MoveAside(t.seriesFile, k) || !MoveAside(t.folder + "SerialFit.pptx", k)) return false;

  std::string folder = t.folder;
  if (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  if (!StartOutsideProgram(peldo, {"--cofs", sf.useListOfLists ? "--watchlist" : "--watch", folder}, "ERROR"))
    return false;
  Tell("now please work with PELDO to select sets and press 'begin', then press OK here");

  window.SetWaitCursor(true);
  bool found = platform::FileExists(platform::ToNative(t.seriesFile));
  for (int second = 0; !found && second < 11; ++second) {
    WaitSeconds(1.0f);
    found = platform::FileExists(platform::ToNative(t.seriesFile));
    if (KeyPressed()) break;
  }
  window.SetWaitCursor(false);
  if (!found) {
    Tell("oops - can't seem to find " + t.seriesFile + " ... sorry, stopping here");
    return false;
  }
  return true;
}

// One set's list file, "list_<first>-<last>.<ext>" beside its first scan,
// so that two rows of one extension never share it.
bool BuildSeriesFileList(std::string& listPath, const SeriesRow& row, int k) {
  const std::string& folder = SeriesTable().folder;
  bool tooMany = false;
  std::string problem;
  const std::vector<int> numbers = SeriesRowNumbers(row, folder, &tooMany, &problem);
  if (!problem.empty()) {
    ErrorMessage("\a" + problem);
    return false;
  }
  if (tooMany) ErrorMessage(Format("\n\aAttention: too many files in set %d", k));
  if (numbers.empty()) return false;
  const platform::PathParts p = platform::SplitPath(SeriesFilePath(folder, row, numbers.front()));
  std::string text = "newformat n=1\n";
  std::string listFolder = p.drive + p.folder;
  if (listFolder.size() > 1 && (listFolder.back() == '/' || listFolder.back() == '\\')) listFolder.pop_back();
  text += listFolder + "\n";
  for (int n : numbers) {
    const platform::PathParts f = platform::SplitPath(SeriesFilePath(folder, row, n));
    text += f.name + f.extension + "\n";
  }
  listPath = p.drive + p.folder + Format("list_%d-%d", row.first, row.last) + p.extension;
  std::vector<std::string> unwritten;
  WriteSetFile(listPath, text, unwritten);
  if (!unwritten.empty()) {
    ErrorMessage("\n\aAttention: could not open " + listPath);
    return false;
  }
  return true;
}

bool ReadListOfLists(CSerialFitLog& log) {
  SeriesTableRecord& t = SeriesTable();
  t.sets.clear();
  std::string text;
  if (!platform::ReadRegularFile(platform::ToNative(t.seriesFile), text, true, platform::kTableFileLimit)) {
    ErrorMessage("\n\aAttention: could not open " + t.seriesFile);
    return false;
  }
  if (text.empty()) return false;
  const bool listOfLists = gSerialFitSettings.useListOfLists != 0;
  const SeriesFile series = ParseSeriesFile(text, listOfLists);
  if (!series.ok) {
    ErrorMessage("\aparsing error of " + t.seriesFile);
    return false;
  }
  if (listOfLists) {
    for (const std::string& path : series.listPaths) {
      if (static_cast<int>(t.sets.size()) >= kSeriesCapacity) break;
      const platform::PathParts p = platform::SplitPath(path);
      // The set's files are named after it in its folder: no folder in the name.
      t.sets.push_back({path, p.name + p.extension});
    }
    return true;
  }
  int k = 0;
  for (const SeriesRow& row : series.rows) {
    ++k;
    if (static_cast<int>(t.sets.size()) >= kSeriesCapacity) break;
    const std::string rowText = Format("%s %s %d %d %d", row.prefix.empty() ? "None" : row.prefix.c_str(),
                                       row.extension.c_str(), row.first, row.last, row.step);
    if (row.last < row.first) {
      log.Skipped("row " + rowText, "last number below the first");
      continue;
    }
    std::string listPath;
    if (!BuildSeriesFileList(listPath, row, k)) {
      ErrorMessage(Format("\aproblem creating list #%d: ", k) + rowText);
      log.Failed("row " + rowText, "its list file could not be made; the later rows are not taken");
      break;
    }
    t.sets.push_back({listPath, row.prefix + row.extension});
  }
  return true;
}

void SerialFitListLoop(ISerialFitWindow& window, CSerialFitLog& log) {
  SerialFitSettings& sf = gSerialFitSettings;
  sf.abortRequest = 0;
  SetUpAnswers setUp = AskSetUp("fit each set? \n(otherwise only run will be executed in each set)", true);
  const std::string startParameterFile = CurrentDataPaths().parameterFile;
  CRunningSeries series;
  sf.reuseSavedParameters = setUp.restore;
  for (SeriesEntry& set : SeriesTable().sets) {
    std::string reason;
    if (!LoadFileNameList(set.listPath, &reason)) {
      log.Skipped(set.listPath, "the list file could not be read: " + reason);
      continue;
    }
    if (!LoadListedScans()) {
      log.Failed(set.listPath, "the scans could not be loaded");
      continue;
    }
    BuildTmpFileList(0);
    sf.errorCode = 0;
    if (CurrentScanSet().count <= 0) {
      log.Failed(set.listPath, "no scans loaded: the series ends here");
      break;
    }
    ShowSetInTitle(window);
    PrepareSetParameters(setUp, startParameterFile);
    const bool computed = AnalyseSet(window, setUp.fit);
    if (StopRequested()) {
      log.Note(set.listPath + ": stopped by the user; the series ends here");
      break;
    }
    if (!computed) {
      log.Failed(set.listPath, "no distribution was computed for this set");
      continue;
    }
    const ResultPlace place = PlaceOfLoadedSet();
    std::vector<std::string> unwritten;
    WriteDistributionFiles(place, unwritten);
    const std::string dfr = place.folder + "dfr" + set.name + ".txt";
    if (WriteSvdfrData(dfr.c_str()) < 0) unwritten.push_back(dfr);
    const std::string dist = place.folder + "dist" + set.name + ".txt";
    if (WriteDistributionForPlot(true, dist.c_str()) != 1) unwritten.push_back(dist);
    set.rmsd = CalcRmsd();
    set.meniscus = gModelParams.meniscus;
    set.ff0 = Conti().ffValue;
    WriteErrorAndExchangeFiles(place, unwritten);
    log.Outcome(set.listPath, sf.errorCode, unwritten);
  }
  FluorescenceCorrections().Set(setUp.corrections);
}

bool WriteDistFinis() {
  SeriesTableRecord& t = SeriesTable();
  const std::string path = t.folder + "distFinis.txt";
  std::string text;
  for (const SeriesEntry& set : t.sets)
    text += Format("%s\t%f\t%f\t%f\n", set.name.c_str(), set.rmsd, set.meniscus, set.ff0);
  std::vector<std::string> unwritten;
  WriteSetFile(path, text, unwritten);
  t.sets.clear();
  if (!unwritten.empty()) {
    ErrorMessage("\n\aAttention: could not open " + path + " - please create manually to stop PELDO's watch");
    return false;
  }
  return true;
}

}  // namespace

void SerializeFitWithPeldoMonitoring(ISerialFitWindow& window) {
  if (!PrepareSerialFit(window)) return;
  CSerialFitLog log(SeriesTable().folder);
  if (!ReadListOfLists(log)) return;
  SerialFitListLoop(window, log);
  window.RequestRepaint();
  if (!WriteDistFinis()) log.Note("could not write distFinis.txt");
  log.ShowClosingBox();
}
