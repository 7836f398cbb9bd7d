// The window's ends of the exchange with the sibling analysis program:
// loading the scans an xp experiment file names with its settings, and
// "Export Data to MORLEAN" (the xp file, for a c(s) analysis the hybrid
// model files with the distribution's peaks as discrete species, and the
// start of the program).
#include "app/commands/data/morlean_commands.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/window/road_services.h"
#include "app/window/txla_window.h"
#include "automation/exchange/morlean_model_files.h"
#include "automation/exchange/outside_program.h"
#include "automation/exchange/xp_file.h"
#include "data/load_hooks.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "distributions/conti_models.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/hydrodynamics.h"
#include "distributions/ms_table.h"
#include "distributions/peak_area.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "numerics/ccurve.h"
#include "platform/sounds.h"
#include "platform/paths.h"
#include "platform/program_paths.h"
#include "platform/user_interface.h"

namespace {

void ErrorMessage(const std::string& text) {
  PlaySoundInfo();
  platform::Tell("ERROR", text, platform::BoxIcon::Error);
}

void LeaveEquilibriumTestMode() {
  ModelSelectionHooks& h = CurrentModelSelectionHooks();
  if (h.equilibriumTestMode && h.equilibriumTestMode() && h.exitEquilibriumTestMode)
    h.exitEquilibriumTestMode();
}

// Members of the c(s) family whose peaks can become discrete species.
bool CsFamilySelected() {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  return m.DistributionModel && SBasedModel() && !LsgModel() && !m.ElectrophoresisCVModel &&
         !m.ZoneCentrifugationCSModel && !m.ZoneCentrifugationLsgModel && !m.ElectrophoresisLsgModel;
}

// The molar mass that the selected model assigns to a peak at s (S).
float PeakMolarMass(float s) {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  const ContiSettings& c = Conti();
  const float celsius = gSolutionConditions.temperature - kAbsoluteZero;
  if (m.AnyBimodalCsModel() && s >= c.secondFfSMin &&
      s <= c.secondFfSMax)
    return CalculateMff02(s, c.secondFf);
  if (m.GeneralScalingLawCSModel) return MFromSPowerLaw(s);
  if (m.WormlikeChainCSModel) return CalculateMofSforWormLikeChain(s);
  if (m.CSWithMsTableModel) return static_cast<float>(InterpolateSMTable(s));
  if (m.ConformationalChangeCSModel && s >= c.conformationSMin && s <= c.conformationSMax)
    return c.conformationM;
  if (m.CSInvariantDModel) return DFromSM(s, c.invariantD * 1e-7f, celsius);
  if (m.CSModel521) return CalculateMofSforLinearRod(s, ContiStore().rodValue);
  return CalculateM(s);
}

// The peaks of the current distribution, tallest first.
MorleanPeakExport FindDistributionPeaks() {
  MorleanPeakExport peaks;
  peaks.convert = true;
  const CCurve* curve = DistArrays().distCurve;
  if (!curve || !curve->x || !curve->y) return peaks;
  float xs[kMorleanSpeciesSlots + 1], ys[kMorleanSpeciesSlots + 1];
  int index[kMorleanSpeciesSlots + 1];
  const int found = curve->FindPeaks(xs, ys, index, kMorleanSpeciesSlots, 2);
  for (int k = 1; k <= found; ++k) {
    const float sw = IntegratePeakAt(index[k], 0.9f).sw;
    peaks.s.push_back(sw);
    peaks.M.push_back(PeakMolarMass(sw));
  }
  return peaks;
}

// The hybrid model keeps the discrete species; the smallest peaks give way.
void FitPeaksAndTell(MorleanPeakExport& peaks) {
  const std::vector<float> left = FitPeaksIntoSlots(peaks, Conti().hybridDiscrete != 0);
  if (left.empty()) return;
  std::string text = "MORLEAN's hybrid model holds 10 species, the discrete species among them; "
                     "these peaks were not converted:";
  for (float s : left) {
    char value[48];
    std::snprintf(value, sizeof value, " %.3f S", static_cast<double>(s));
    text += value;
  }
  platform::Tell("", text);
}

void LaunchMorlean(const std::string& argument) {
  const std::string& program = platform::ProgramPaths.SiblingProgramPath;
  if (!OutsideProgramPresent(program)) {
    ErrorMessage("could not find " + program + " (nor on PATH): MORLEAN was not started");
    return;
  }
  StartOutsideProgram(program, {argument}, "ERROR");
}

}  // namespace

bool LoadXpFile(TXLAWindow& window, const std::string& path) {
  LeaveEquilibriumTestMode();
  const XpFileContents xp = ReadXpFile(path);
  switch (xp.status) {
    case XpReadStatus::CannotOpen: ErrorMessage(xp.openError); return false;
    case XpReadStatus::NoNumber: return false;
    case XpReadStatus::NotVelocity: ErrorMessage("can only load xp files from sedimentation velocity"); return false;
    case XpReadStatus::OldFormat: ErrorMessage("old XP-file format (use newer version of morlean)"); return false;
    case XpReadStatus::BadNameLine: ErrorMessage("could not read the scan file names of " + path); return false;
    case XpReadStatus::Ok: break;
  }
  ScanSet& s = CurrentScanSet();
  s.loadEvery = 1;
  window.Frame().SetTitle("SEDIMENTATION ANALYSIS -> " + platform::Combine(xp.folder, xp.names[0]) + "...");
  window.Frame().SetCursor(platform::CursorKind::Wait);
  bool loaded = false;
  {
    // The files are where the xp file says, whatever folder a list load chose.
    const LoadTargets& t = CurrentLoadTargets();
    const std::uint8_t otherFolder = t.useOtherFolder ? *t.useOtherFolder : 0;
    if (t.useOtherFolder) *t.useOtherFolder = 0;
    loaded = LoadAllData(MakeSelection(xp.folder, xp.names));
    if (t.useOtherFolder) *t.useOtherFolder = otherFolder;
  }
  window.Frame().SetCursor(platform::CursorKind::Arrow);
  // After a failed load the set in place (if any) is not the xp file's.
  if (!loaded || s.count <= 0) return false;
  ApplyXpValues(xp.values);
  return true;
}

void ConnectMorleanExchange(TXLAWindow& window) {
  TXLAWindow* w = &window;
  Road().loadXpFile = [w](const std::string& path) { return LoadXpFile(*w, path); };
}

void TXLAWindow::CmExportXpToMorlean() {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  if (m.FMScalingLawModel) return;
  struct Raise {
    bool& flag;
    explicit Raise(bool& f) : flag(f) { flag = true; }
    ~Raise() { flag = false; }
  } open(DialogOpen);

  platform::FileDialogRequest dialog;
  dialog.save = true;
  dialog.title = "export data as MORLEAN xp file";
  dialog.filters = {{"MORLEAN xp Files (*.xp)", "*.xp"}, {"All Files (*.*)", "*.*"}};
  dialog.initialFolder = CurrentScanSet().dataFolder;
  dialog.presetName = "data.xp";
  dialog.defaultExtension = "xp";
  const platform::FileDialogResult chosen = platform::UI().FileDialog(dialog);
  if (!chosen.accepted || chosen.paths.empty()) return;
  const std::string xpPath = chosen.paths[0];
  // Without a display nobody can answer the solvent questions.
  if (!WriteMorleanXpFile(xpPath, platform::Headless())) return;
  if (!platform::AskYes("", "launch MORLEAN with data?")) return;

  MorleanPeakExport peaks;
  const bool distributionComputed = Conti().distribution && Conti().gridSize > 0 && DistArrays().distCurve;
  if (!m.LammDiscreteModel && distributionComputed && CsFamilySelected() &&
      platform::AskYes("", "convert all c(s) peaks to discrete species?")) {
    peaks = FindDistributionPeaks();
    if (peaks.s.empty()) peaks.convert = false;
    FitPeaksAndTell(peaks);
  }

  std::string argument = xpPath;
  if (m.DistributionModel && m.CSModel) {
    const platform::PathParts p = platform::SplitPath(xpPath);
    const std::string config = p.drive + p.folder + p.name + "_from_tarnel_c(s).morlean";
    if (WriteMorleanHybridParameterFile(config, xpPath, peaks)) argument = config;
  }
  LaunchMorlean(argument);
}
