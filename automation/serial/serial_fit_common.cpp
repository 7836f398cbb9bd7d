#include "automation/serial/serial_fit_common.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "automation/exchange/morlean_model_files.h"
#include "automation/exchange/xp_file.h"
#include "automation/serial/serial_fit_steps.h"
#include "data/load_hooks.h"
#include "data/scan_grid.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "distributions/conti_models.h"
#include "distributions/conti_run.h"
#include "distributions/conti_settings.h"
#include "distributions/integrate_distribution.h"
#include "distributions/monte_carlo.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/saved_params.h"
#include "fit/serial_fit_settings.h"
#include "platform/error_box.h"
#include "platform/paths.h"
#include "platform/user_interface.h"

namespace serial {

namespace {

// The person's interface while the analysis is muted.
platform::IUserInterface* g_person = nullptr;
std::vector<std::string> g_mutedBoxes;

platform::IUserInterface& Person() { return g_person ? *g_person : platform::UI(); }

}  // namespace

std::vector<std::string> TakeMutedBoxes() {
  std::vector<std::string> boxes;
  boxes.swap(g_mutedBoxes);
  return boxes;
}

bool AskYesNo(const std::string& question) {
  return Person().MessageBox(kCaption, question, platform::BoxButtons::YesNo,
                                   platform::BoxIcon::Question) == platform::IDYES;
}

void Tell(const std::string& text) { platform::Tell(Person(), kCaption, text); }

bool AskFloat(const std::string& prompt, float offered, float& answer) {
  float value = offered;
  if (!InputFloat(&value, offered, true, prompt.c_str(), kCaption)) return false;
  answer = value;
  return true;
}

std::string Format(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::vector<IntegrationRange> AskIntegrationRanges(bool twoDimensional) {
  std::vector<IntegrationRange> ranges;
  if (!AskYesNo("with automatic integration?")) return ranges;
  const ContiSettings& c = Conti();
  const bool grid = c.sValues && c.gridSize > 0;
  const float sFirst = grid ? c.sValues[1] : 1.0f, sLast = grid ? c.sValues[c.gridSize] : 10.0f;
  const bool ffGrid = c.ffValues && c.ffCount > 0;
  const float fFirst = ffGrid ? c.ffValues[1] : c.ffMin, fLast = ffGrid ? c.ffValues[c.ffCount] : c.ffMax;
  while (static_cast<int>(ranges.size()) < kMaxRanges) {
    IntegrationRange r;
    if (!AskFloat("s min for integration", sFirst, r.sMin) ||
        !AskFloat("s max for integration", sLast, r.sMax))
      break;
    if (twoDimensional) {
      r.ffMin = fFirst;
      r.ffMax = fLast;
      AskFloat("ff0 min for integration", fFirst, r.ffMin);
      AskFloat("ff0 max for integration", fLast, r.ffMax);
    }
    ranges.push_back(r);
    if (static_cast<int>(ranges.size()) >= kMaxRanges || !AskYesNo("another integration range?"))
      break;
  }
  return ranges;
}

int AskMonteCarloIterations() {
  if (!AskYesNo("with Monte-Carlo error analysis?")) return 0;
  float n = 100.0f;
  if (!AskFloat("# of MC iterations", 100.0f, n)) return 0;
  const int iterations = static_cast<int>(std::floor(n));
  return iterations >= 2 ? iterations : 0;
}

RangeResult IntegrateRange(const IntegrationRange& range, bool twoDimensional) {
  RangeResult r;
  IntegrateDistribution(range.sMin, range.sMax, &r.c, &r.sw, &r.ctot);
  if (r.ctot == 0.0f) r.ctot = 1.0f;
  if (twoDimensional && Conti().grid2DAmplitude) {
    IntegrateDistribution2D(range.sMin, range.sMax, range.ffMin, range.ffMax);
    const ContiSettings& c = Conti();
    r.fw = static_cast<float>(c.csffFf);
    r.Mw = static_cast<float>(c.csffWeightAverageM);
    r.Mz = static_cast<float>(c.csffMFromSD);
    r.MzMoment = static_cast<float>(c.csffMSD);
    r.R = static_cast<float>(c.csffStokesRadius);
    r.RMoment = static_cast<float>(c.csffStokesRadiusSD);
  }
  return r;
}

CRunningSeries::CRunningSeries()
    : muted_([](const std::string& line) {
        std::string flat = line;
        for (char& ch : flat)
          if (ch == '\n' || ch == '\r') ch = ' ';
        g_mutedBoxes.push_back(flat);
      }) {
  g_mutedBoxes.clear();
  g_person = &platform::UI();
  platform::SetUI(&muted_);
  LoadHooks& h = CurrentLoadHooks();
  runModelFromTools_ = h.runModelFromTools;
  h.runModelFromTools = [] {};
  gSerialFitSettings.running = 1;
}

CRunningSeries::~CRunningSeries() {
  SerialFitSettings& sf = gSerialFitSettings;
  sf.running = 0;
  sf.reuseSavedParameters = 0;
  CurrentLoadHooks().runModelFromTools = runModelFromTools_;
  platform::SetUI(g_person);
  g_person = nullptr;
}

CSerialFitLog::CSerialFitLog(const std::string& folder)
    : path_(platform::Combine(folder, "serialfit.log")) {}

void CSerialFitLog::Add(const std::string& line) {
  text_ += line + "\n";
  // What the analysis of the set said, under the set's line.
  for (const std::string& box : TakeMutedBoxes()) text_ += "    " + box + "\n";
  // Rewritten whole after every set: a series cut short still leaves its trace.
  std::vector<std::string> ignored;
  WriteSetFile(path_, text_, ignored);
}

void CSerialFitLog::Analysed(const std::string& set) {
  ++analysed;
  Add(set + ": analysed");
}

void CSerialFitLog::Skipped(const std::string& set, const std::string& why) {
  ++skipped;
  notAnalysed_.push_back(set + ": skipped (" + why + ")");
  Add(notAnalysed_.back());
}

void CSerialFitLog::Failed(const std::string& set, const std::string& why) {
  ++failed;
  notAnalysed_.push_back(set + ": failed (" + why + ")");
  Add(notAnalysed_.back());
}

void CSerialFitLog::Outcome(const std::string& set, int errorCode,
                            const std::vector<std::string>& unwritten) {
  std::string why;
  if (errorCode > 0) why = Format("error code %d: %s", errorCode, SerialFitErrorText(errorCode).c_str());
  for (const std::string& file : unwritten) why += (why.empty() ? "" : "; ") + ("could not write " + file);
  if (why.empty())
    Analysed(set);
  else
    Failed(set, why);
}

void CSerialFitLog::Note(const std::string& line) { Add(line); }

void CSerialFitLog::ShowClosingBox() const {
  std::string text = Format("serial fit: %d analysed, %d skipped, %d failed", analysed, skipped, failed);
  for (const std::string& line : notAnalysed_) text += "\n" + line;
  text += "\n(see " + path_ + ")";
  const bool allWell = skipped == 0 && failed == 0;
  platform::Tell(Person(), kCaption, text, allWell ? platform::BoxIcon::Information : platform::BoxIcon::Warning);
}

std::string ResultPlace::Underscored(const std::string& stem, const std::string& fileExtension) const {
  std::string ext = extension;
  if (!ext.empty() && ext[0] == '.') ext[0] = '_';
  return folder + stem + ext + fileExtension;
}

ResultPlace PlaceOfLoadedSet() {
  BuildTmpFileList(0);
  ResultPlace place;
  const FileNameList& list = CurrentFileNameList();
  if (list.count <= 0) return place;
  const platform::PathParts p = platform::SplitPath(list.names[1]);
  place.folder = p.drive + p.folder;
  place.extension = p.extension;
  return place;
}

void WriteSetFile(const std::string& path, const std::string& text, std::vector<std::string>& unwritten) {
  const bool written = platform::WriteThroughTemporary(path, [&text](const std::string& temporary) {
    std::FILE* f = std::fopen(platform::ToNative(temporary).c_str(), "w");
    if (!f) return false;
    const bool whole = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && whole;
  });
  if (!written) unwritten.push_back(path);
}

bool ContinuousModel() { return gModelSelectorFlags.DistributionModel != 0; }

bool CsModel() {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  return m.DistributionModel && m.CSModel;
}

bool HasResultCurve() {
  const ContiSettings& c = Conti();
  return c.sValues && c.distribution && c.gridSize > 0;
}

bool WriteDistributionFiles(const ResultPlace& place, std::vector<std::string>& unwritten) {
  if (!HasResultCurve()) return false;
  const ContiSettings& c = Conti();
  std::string text;
  for (int i = 1; i <= c.gridSize; ++i) text += Format("%e %e\n", c.sValues[i], c.distribution[i]);
  WriteSetFile(place.Path("distribution"), text, unwritten);
  WriteSetFile(place.Path("ff0"), Format("%e \n", c.ffValue), unwritten);
  return true;
}

void WriteMonteCarloIntegrals(ISerialFitWindow& window, const ResultPlace& place, int iterations,
                              const std::vector<IntegrationRange>& ranges,
                              std::vector<std::string>& unwritten) {
  const std::string folder = place.folder + "MCdata";
  if (!platform::DirectoryExists(folder) && !platform::CreateDirectory(folder)) {
    gSerialFitSettings.errorCode = 7;
    return;
  }
  window.RunMonteCarlo(iterations, platform::Combine(folder, "MC"));
  std::string text = "smin\tsmax\tsavg\tsstd\tslow\tsup\tcavg\tcstd\tclow\tcup (P = 0.68)\n";
  for (const IntegrationRange& r : ranges) {
    MonteCarloSwStatistics(r.sMin, r.sMax, kMonteCarloConfidence);
    const SerialFitSettings& sf = gSerialFitSettings;
    text += Format("%e\t%e\t%e\t%e\t%e\t%e\t%e\t%e\t%e\t%e\n", r.sMin, r.sMax, sf.mcMeanSw, sf.mcSdSw,
                   sf.mcLowerSw, sf.mcUpperSw, sf.mcMeanC, sf.mcSdC, sf.mcLowerC, sf.mcUpperC);
  }
  EndMonteCarlo();
  WriteSetFile(place.Path("MCintegrals"), text, unwritten);
}

void WriteErrorAndExchangeFiles(const ResultPlace& place, std::vector<std::string>& unwritten) {
  const int code = gSerialFitSettings.errorCode;
  if (code > 0) WriteSetFile(place.folder + "error.txt", SerialFitErrorText(code), unwritten);
  const std::string xp = place.Underscored("data", ".xp");
  if (!WriteMorleanXpFile(xp, true)) {
    unwritten.push_back(xp);
    return;
  }
  const std::string config = place.Underscored("from_tarnel_series", ".morlean");
  if (!WriteMorleanHybridParameterFile(config, xp, MorleanPeakExport{})) unwritten.push_back(config);
}

bool StopRequested() {
  SerialFitSettings& sf = gSerialFitSettings;
  if (!sf.abortRequest) return false;
  if (AskYesNo("stop series?")) return true;
  sf.abortRequest = 0;
  return false;
}

void ShowSetInTitle(ISerialFitWindow& window) {
  const ScanSet& s = CurrentScanSet();
  if (s.count <= 0) return;
  window.SetCaption("SEDIMENTATION ANALYSIS -> " + ScanFilePath(s.order[1]) + "...");
}

bool AnalyseSet(ISerialFitWindow& window, bool fit) {
  window.Command(kSerialCmdShowLastFitInfo);
  LastContiRunTimings() = ContiRunTimings{};
  window.Command(kSerialCmdRun);
  if (fit) window.Command(kSerialCmdFit);
  return !ContinuousModel() || (LastContiRunTimings().total > 0 && HasResultCurve());
}

SetUpAnswers AskSetUp(const char* fitQuestion, bool peldoVariant) {
  SetUpAnswers a;
  a.peldoVariant = peldoVariant;
  const bool fluorescence = CurrentDataTypeFlags().fluorescence != 0;
  a.fit = AskYesNo(fitQuestion);
  a.corrections = FluorescenceCorrections().Get();
  a.bottomFloatedAtStart = gModelParams.bottomFit != 0;
  a.restore = AskYesNo("restore previous params if available?");
  // The corrections matter only for fluorescence data; the PELDO variant asks
  // only then, the list-file variant whenever it restores.
  if (a.restore && (fluorescence || !a.peldoVariant)) a.overwriteCorrections = AskYesNo("overwrite FDS-related parameters?");
  a.rightLimit = CurrentScanSet().rightFitLimit;
  if (!a.peldoVariant || a.restore) {
    if (AskYesNo("overwrite FitRightLim?")) {
      float limit = a.rightLimit;
      if (AskFloat("right lim position ", a.rightLimit, limit)) {
        a.overwriteRightLimit = true;
        a.rightLimit = limit;
      }
    }
  }
  if (!a.peldoVariant || fluorescence) {
    if (a.overwriteCorrections && a.corrections.shadowOn)
      a.floatBottom = AskYesNo("always float bottom?");
    else
      a.floatBottom = a.bottomFloatedAtStart;
  }
  return a;
}

void PrepareSetParameters(const SetUpAnswers& a, const std::string& startParameterFile) {
  bool restored = false;
  if (a.restore) restored = OfferRestorePreviousAnalysis(CurrentDataPaths().parameterFile, false);
  if (!restored) ReloadParameters(startParameterFile);
  if (a.overwriteCorrections) FluorescenceCorrections().Set(a.corrections);
  if (a.overwriteRightLimit) {
    EnterRightFitLimit(a.rightLimit);
    CheckRightFitLimit();
  }
  if (a.floatBottom) {
    gModelParams.bottomFit = 1;
    gModelParameterVector.F[14] = 1;
  }
}

}  // namespace serial

std::string SerialFitErrorText(int code) {
  static const char* const texts[] = {
      "max #iteration exceeded in NNLS",
      "matrix not positive definite in NNLS",
      "problem in regularization, cannot reach chi-square increase",
      "Maximum number of iterations exceeded in zbrent",
      "too many iterations finding root",
      "problem with regularization, caught at P = ?",
      "could not create MC directory",
      "too many iterations finding root",
      "zero differential in mlcof",
      "Nelder-Mead not converged",
  };
  if (code >= 1 && code <= 10) return texts[code - 1];
  return "error occured (invalid error code)";
}
