// The commands that bring scans into the program: the open-file dialog, list
// files, the equilibrium and light-scattering loads, and files dropped on
// the window. The scan loaders below do the reading; these commands decide
// what is loaded, set the window title and remember the selection.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "app/commands/model/model_commands.h"
#include "app/commands/distribution/distribution_commands.h"
#include "app/commands/data/list_file.h"
#include "app/commands/run_fit/fit_limits.h"
#include "app/window/main_window_flags.h"
#include "app/screens/mstar_screen.h"
#include "app/commands/model/nonideal_cs_commands.h"
#include "app/commands/distribution/peak_labels.h"
#include "app/window/program_options.h"
#include "app/screens/eq_test_screen.h"
#include "equilibrium/eqtools/eq_test_mode.h"
#include "app/commands/generate/generate_commands.h"
#include "app/window/road_services.h"
#include "app/window/shell_services.h"
#include "app/window/txla_window.h"
#include "app/window/window_services.h"
#include "data/load_hooks.h"
#include "data/mouse_actions.h"
#include "data/scan_grid.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "data/speed_steps_at_load.h"
#include "data/time_stamps.h"
#include "distributions/analysis/extrapolation_plot.h"
#include "distributions/model_entries.h"
#include "fit/clear_model_selection.h"
#include "fit/model_table.h"
#include "fit/model_ids.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "plot/plot_window_set.h"
#include "fit/fit_engine_state.h"
#include "lamm/lamm_settings.h"
#include "platform/error_box.h"
#include "platform/paths.h"
#include "platform/user_interface.h"

namespace {

// Raises a flag for the lifetime of the guard.
class Raised {
 public:
  explicit Raised(bool& flag) : flag_(flag) { flag_ = true; }
  ~Raised() { flag_ = false; }
  Raised(const Raised&) = delete;
  Raised& operator=(const Raised&) = delete;

 private:
  bool& flag_;
};

// The dialog's answer as selection text: one chosen file is its full path;
// several give the folder first, then the names.
std::string SelectionFromDialog(const platform::FileDialogResult& result) {
  if (result.paths.size() == 1) return result.paths.front() + '\0' + '\0';
  const platform::PathParts first = platform::SplitPath(result.paths.front());
  std::vector<std::string> names;
  for (const std::string& p : result.paths) {
    const platform::PathParts parts = platform::SplitPath(p);
    names.push_back(parts.name + parts.extension);
  }
  std::string folder = first.drive + first.folder;
  if (folder.size() > 1 && folder.back() == platform::Separator()) folder.pop_back();
  return MakeSelection(folder, names);
}

bool NameIs(const std::string& name, const char* wanted) {
  if (name.size() != std::char_traits<char>::length(wanted)) return false;
  for (std::size_t i = 0; i < name.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(name[i])) != wanted[i]) return false;
  return true;
}

// "load every n'th file:" with the count as default; the floor of the answer,
// at least 1 and at most a million. Cancel keeps the count.
int PromptEveryNth(int current) {
  int n = current;
  if (!InputCount(&n, current, "load every n'th file:", "LOAD FILES")) return current;
  return std::clamp(n, 1, 1000000);
}

// The same question asked while the file dialog counts as open.
int AskEveryNth(int current) {
  Raised open(WindowFlags().FileDialogOpen);
  return PromptEveryNth(current);
}

// The first file's full path: the first entry, the separator and the name of
// the second entry (for a single file: its path followed by the separator).
std::string FirstFilePath(const std::vector<std::string>& entries) {
  std::string path = entries.empty() ? std::string() : entries[0];
  path += platform::Separator();
  if (entries.size() > 1) {
    const platform::PathParts second = platform::SplitPath(entries[1]);
    path += second.name + second.extension;
  }
  return path;
}

// Writes the list file of chosen scans beside the first file; false when it
// cannot be created.
bool WriteListBeside(const std::string& firstFile, const std::string& text) {
  const platform::PathParts parts = platform::SplitPath(firstFile);
  const std::string listPath = parts.drive + parts.folder + "list" + parts.extension;
  // Whole or not at all; a named pipe of that name (opening it for writing
  // would wait for a reader) or a folder is left alone.
  return platform::WriteThroughTemporary(listPath, [&text](const std::string& temporary) {
    std::ofstream out(temporary, std::ios::binary);
    out << text;
    out.close();
    return !out.fail();
  });
}

enum class LoadKind { Scans, Dls, Equilibrium };

// What the data in memory are, as far as the models and their settings care.
enum class DataKind { None, Velocity, Equilibrium, Dls, Electrophoresis, Generated };

DataKind KindInMemory() {
  const DataTypeFlags& types = CurrentDataTypeFlags();
  const ScanSet& s = CurrentScanSet();
  if (s.count < 1) return DataKind::None;
  if (GeneratedDataInMemory()) return DataKind::Generated;
  if (types.dls) return DataKind::Dls;
  if (s.equilibriumMode) return DataKind::Equilibrium;
  if (types.electrophoresis) return DataKind::Electrophoresis;
  return DataKind::Velocity;
}

DataKind KindRequested(LoadKind kind, bool electrophoresis) {
  if (kind == LoadKind::Dls) return DataKind::Dls;
  if (kind == LoadKind::Equilibrium) return DataKind::Equilibrium;
  return electrophoresis ? DataKind::Electrophoresis : DataKind::Velocity;
}

// New data: what was computed for the data before (distribution, boundary
// transform, range selection) leaves the screen with them. Data of another
// kind also start without the model of the earlier kind, as in a new
// session; the entries of the models used on the earlier data wait for data
// of that kind, and those of the new kind's models come back.
void ForgetPreviousAnalysis(TXLAWindow& w, bool otherKind) {
  if (PeakLabels().count > 0) DeletePeakLabels(w);
  RangeSelection() = RangeSelectionState{};
  WindowFlags().FitInfoShown = false;
  if (Road().freeDistributionArrays) Road().freeDistributionArrays();
  // The new data's plots were placed while the earlier distribution still
  // held the lower third (a loader that has already put its distribution
  // switch down is not relaid by the freeing): they take the whole area now.
  RelayoutAndRedrawPlots();
  FreeLsgsArrays();
  NewDataForModels(otherKind);
}

// What a load of new data outside the window's load commands found before
// it: the kind of the data in memory and the model in use.
struct DataBeforeLoad {
  bool taken = false;
  DataKind kind = DataKind::None;
  ModelInUse inUse;
};
DataBeforeLoad& BeforeLoad() {
  static DataBeforeLoad before;
  return before;
}

// Data of another kind: the loader puts meniscus, bottom and fit limits
// (the entered ones too) where the new data have them: lag-time limits of
// light scattering data would otherwise become radii. A failed load gives
// them back.
struct PlaceOfData {
  bool cleared = false;
  float meniscus = 0, bottom = 0, left = 0, right = 0, enteredLeft = 0, enteredRight = 0;
  void Restore() const {
    if (!cleared) return;
    ModelParams& mp = gModelParams;
    ScanSet& s = CurrentScanSet();
    mp.meniscus = meniscus;
    mp.bottom = bottom;
    s.leftFitLimit = left;
    s.rightFitLimit = right;
    s.enteredLeftFitLimit = enteredLeft;
    s.enteredRightFitLimit = enteredRight;
    PackModelParameters();
  }
};

PlaceOfData LeavePlaceToTheLoader(bool otherKind) {
  PlaceOfData place;
  if (!otherKind) return place;
  ModelParams& mp = gModelParams;
  ScanSet& s = CurrentScanSet();
  place = {true, mp.meniscus, mp.bottom, s.leftFitLimit, s.rightFitLimit, s.enteredLeftFitLimit,
           s.enteredRightFitLimit};
  mp.meniscus = mp.bottom = 0;
  s.leftFitLimit = s.rightFitLimit = s.enteredLeftFitLimit = s.enteredRightFitLimit = 0;
  PackModelParameters();
  return place;
}

// A fit may leave the meniscus closer to the left fit limit than a load
// leaves room for (a fit keeps it 0.001 cm clear, a load 0.01 cm): data
// loaded again keep the left fit limit the user set, as long as the
// meniscus stays below it, and the automatic meniscus range follows.
void KeepFitRangeOfTheMeniscus(bool otherData) {
  ScanSet& s = CurrentScanSet();
  const float entered = s.enteredLeftFitLimit;
  // Only a limit the load raised, and one that stays left of the right one
  // (limits moved onto other data keep the range they were given).
  if (otherData || s.equilibriumMode || !(entered > 0.0f) || !(s.leftFitLimit > entered)) return;
  if (!(gModelParams.meniscus < entered) || !(entered < s.rightFitLimit)) return;
  s.leftFitLimit = entered;
  CheckLeftFitLimit(0.0f);
  SetDefaultMeniscusBottomLimits();
}

struct LoadOutcome {
  bool chosen = false;
  bool finished = true;  // false: the command ended early (no menu refresh)
};

// Asks for the files of `kind`. The data-kind switches are set for the kind
// asked for; when nothing is chosen they are given back, as the data in
// memory still are of the kind they name.
bool AskForDataFiles(TXLAWindow& w, LoadKind kind, platform::FileDialogResult& result) {
  DataTypeFlags& types = CurrentDataTypeFlags();
  MainWindowFlags& flags = WindowFlags();
  platform::FileDialogRequest& dialog = w.LoadFileDialog;
  const auto scanFilters = dialog.filters;
  const std::uint8_t electrophoresisData = types.electrophoresis, floToolsData = types.floToolsData;
  if (kind == LoadKind::Scans) {
    types.electrophoresis = flags.ElectrophoresisLoad ? 1 : 0;
    types.floToolsData = flags.ElectrophoresisLoad ? 1 : 0;
  } else if (kind == LoadKind::Equilibrium) {
    types.electrophoresis = 0;
  } else {
    dialog.filters = {{"tarnel DLS Files (*.dlsdat*)", "*.dlsdat*"},
                      {"Previously Loaded Lists (list*.*)", "list*.*"},
                      {"All Files (*.*)", "*.*"}};
  }
  CurrentScanSet().equilibriumMode = 0;
  LoadLastDataDirectory(w, dialog.initialFolder);
  dialog.presetName.clear();
  dialog.title = kind == LoadKind::Scans ? "select files to fit" : "select files in set 1 to fit";
  dialog.save = false;
  dialog.multiSelect = true;
  {
    Raised open(flags.FileDialogOpen);
    result = platform::UI().FileDialog(dialog);
  }
  if (kind == LoadKind::Dls) dialog.filters = scanFilters;
  if (!result.accepted || result.paths.empty()) {
    types.electrophoresis = electrophoresisData;
    types.floToolsData = floToolsData;
    return false;
  }
  return true;
}

// What the chosen files name: the scans of a list file, or the files
// themselves (less the program's own) and the list to write beside them.
struct DataSelection {
  std::string selection;
  std::vector<std::string> entries;
  std::string chosenFolder;
  bool isList = false;
  std::string listText;
};

enum class SelectionRead {
  Entries,     // the entries name the data to load
  HandedOver,  // a file of another format went to its own loader
  Unreadable,  // a list that could not be read (the user was told)
};

SelectionRead ReadSelection(TXLAWindow& w, LoadKind kind, const platform::FileDialogResult& result,
                            DataSelection& chosen) {
  ScanSet& s = CurrentScanSet();
  chosen.selection = SelectionFromDialog(result);
  chosen.entries = SelectionEntries(chosen.selection);
  std::vector<std::string>& entries = chosen.entries;
  const platform::PathParts first = platform::SplitPath(entries[0]);
  chosen.chosenFolder = first.drive + first.folder;
  if (kind == LoadKind::Scans && first.extension == ".xp" && first.name.rfind('_', 0) != 0) {
    Road().loadXpFile(entries[0]);
    return SelectionRead::HandedOver;
  }
  if (NameIs(first.name, "list") || (kind == LoadKind::Scans && NameIs(first.name, "list_corr"))) {
    ListFileSelection list;
    std::string reason;
    if (!ReadListFile(entries[0], list, &reason)) {
      // Nothing was loaded: the scans already there stay as they were.
      platform::Tell("LOAD ERROR", reason, platform::BoxIcon::Error);
      return SelectionRead::Unreadable;
    }
    chosen.isList = true;
    chosen.selection = list.selection;
    entries = SelectionEntries(chosen.selection);
    s.loadEvery = kind == LoadKind::Scans ? list.every : 1;
    if (!entries.empty()) SaveLastDataDirectory(w, entries[0]);
    return SelectionRead::Entries;
  }
  if (kind == LoadKind::Scans)
    s.loadEvery = AskEveryNth(s.loadEvery);
  else
    s.loadEvery = 1;
  SaveLastDataDirectory(w, entries[0]);
  // The list names the scans only, not the program's files beside them.
  if (entries.size() > 1) {
    entries.erase(std::remove_if(entries.begin() + 1, entries.end(), IsProgramOwnFile), entries.end());
    // Beside scans, fitted data and residuals came with a select-all.
    const std::string folder = entries[0];
    const auto output = [&folder](const std::string& name) {
      return IsProgramOutputFile(platform::Combine(folder, name));
    };
    if (!std::all_of(entries.begin() + 1, entries.end(), output))
      entries.erase(std::remove_if(entries.begin() + 1, entries.end(), output), entries.end());
  }
  chosen.listText = ComposeListText(kind == LoadKind::Scans ? s.loadEvery : 1, entries);
  return SelectionRead::Entries;
}

// Tells the loader where the files are and returns the path the title
// shows: the scans of a list that are not where it names them may be taken
// from the folder the list was chosen in, if the user says so.
std::string PlaceTheFilesForTheLoader(TXLAWindow& w, LoadKind kind, const DataSelection& chosen,
                                      const std::string& firstFile) {
  MainWindowFlags& flags = WindowFlags();
  LoadTargets& targets = CurrentLoadTargets();
  std::string titlePath = firstFile;
  if (chosen.isList && kind == LoadKind::Scans && !platform::FileExists(firstFile)) {
    const std::string question = "could not find files in " + firstFile + " - use file from " +
                                 chosen.chosenFolder + " ?";
    const int answer = platform::UI().MessageBox("LOAD ERROR", question, platform::BoxButtons::YesNo,
                                                 platform::BoxIcon::Question);
    flags.ListFolder = answer == platform::IDYES;
    if (flags.ListFolder) {
      SaveLastDataDirectory(w, chosen.chosenFolder);
      const platform::PathParts f = platform::SplitPath(firstFile);
      titlePath = platform::Combine(chosen.chosenFolder, f.name + f.extension);
    }
  }
  *targets.useOtherFolder = flags.ListFolder ? 1 : 0;
  *targets.otherFolder = chosen.chosenFolder;
  return titlePath;
}

// The start of the window's title while data of `kind` are analysed.
std::string AnalysisTitle(LoadKind kind, bool electrophoresis) {
  if (kind == LoadKind::Dls) return "LIGHT SCATTERING ANALYSIS -> ";
  if (kind == LoadKind::Equilibrium) return "SEDIMENTATION EQUILIBRIUM ANALYSIS -> ";
  if (electrophoresis) return "ELECTROPHORESIS ANALYSIS -> ";
  return "SEDIMENTATION ANALYSIS -> ";
}

// Reads the selection; true when data were read. The earlier analysis goes
// when the new scans are read (before a saved analysis of their folder is
// restored); a failed load keeps it, and the place of the data before.
bool ReadChosenData(TXLAWindow& w, LoadKind kind, DataKind before, const std::string& selection,
                    const std::string& titleBefore) {
  ScanSet& s = CurrentScanSet();
  DataTypeFlags& types = CurrentDataTypeFlags();
  const bool otherKind = before != DataKind::None && before != KindRequested(kind, types.electrophoresis != 0);
  // The loader sets the new data's switches (a DLS load ticks the baseline
  // fit), which belong to no model of the earlier data.
  if (otherKind) RecordModelInUse();
  const PlaceOfData place = LeavePlaceToTheLoader(otherKind);
  PendingNewData() = {true, otherKind};
  bool loaded = true;
  if (kind == LoadKind::Dls) {
    Road().loadDlsData(selection);
  } else {
    loaded = LoadAllData(selection);
    // A load that read nothing keeps the set shown before, and its title.
    if (!loaded && s.count > 0) w.Frame().SetTitle(titleBefore);
  }
  if (kind == LoadKind::Dls) loaded = s.count > 0 && types.dls;
  if (loaded) {
    KeepFitRangeOfTheMeniscus(otherKind || kind == LoadKind::Dls);
    // The fit of the data before went with them.
    WindowFlags().UnsavedFit = false;
    ForgetPreviousAnalysisOfNewData(w);
    GeneratedDataInMemory() = false;
  } else {
    PendingNewData().pending = false;
    place.Restore();
  }
  return loaded;
}

// The shared body of "Load New Files", "load DLS Data" and "load
// sedimentation equilibrium data".
LoadOutcome RunLoad(TXLAWindow& w, LoadKind kind) {
  LoadOutcome outcome;
  const DataKind before = KindInMemory();
  platform::FileDialogResult result;
  if (!AskForDataFiles(w, kind, result)) return outcome;
  outcome.chosen = true;
  if (kind == LoadKind::Equilibrium) CurrentScanSet().equilibriumMode = 1;

  DataSelection chosen;
  switch (ReadSelection(w, kind, result, chosen)) {
    case SelectionRead::Entries:
      break;
    case SelectionRead::HandedOver:
      return outcome;
    case SelectionRead::Unreadable:
      outcome.finished = false;
      return outcome;
  }
  if (chosen.entries.empty()) return outcome;

  const std::string firstFile = FirstFilePath(chosen.entries);
  const std::string titlePath = PlaceTheFilesForTheLoader(w, kind, chosen, firstFile);
  const std::string titleBefore = w.Frame().Title();
  w.Frame().SetTitle(AnalysisTitle(kind, CurrentDataTypeFlags().electrophoresis != 0) + titlePath + "...");
  w.Frame().SetCursor(platform::CursorKind::Wait);
  const bool loaded = ReadChosenData(w, kind, before, chosen.selection, titleBefore);
  WindowFlags().ListFolder = false;
  *CurrentLoadTargets().useOtherFolder = 0;
  w.Frame().SetCursor(platform::CursorKind::Arrow);
  // The list remembers a selection that was loaded, not one that failed.
  if (loaded && !chosen.isList && !WriteListBeside(firstFile, chosen.listText)) outcome.finished = false;
  return outcome;
}

}  // namespace

PendingNewDataState& PendingNewData() {
  static PendingNewDataState state;
  return state;
}

void NewDataForModels(bool otherKind) {
  if (otherKind) {
    // The model in use stays where it computes the new data; a model that
    // cannot is no model of them (a Run says so rather than computing it).
    const ModelRow* row = FindModelRow(SelectedModelKey());
    if (!row || !(row->accepts & LoadedDataKind())) ClearModelSelection();
    ModelParams& mp = gModelParams;
    mp.baseline = 0;
    mp.baselineFit = 0;
    PackModelParameters();
  }
  // After the model is cleared: the slots the new kind's models start from
  // keep nothing of the earlier data's model.
  NoteNewDataForModelEntries(otherKind);
}

// The window's load commands tell the models themselves (they know the kind
// they load before the loader runs).
void ModelsBeforeNewData() {
  if (PendingNewData().pending) return;
  BeforeLoad() = {true, KindInMemory(), TakeModelInUse()};
}

void ModelsAfterNewData() {
  DataBeforeLoad& before = BeforeLoad();
  if (PendingNewData().pending || !before.taken) return;
  before.taken = false;
  // Scans read from files replace the generated set.
  GeneratedDataInMemory() = false;
  const bool otherKind = before.kind != DataKind::None && before.kind != KindInMemory();
  if (otherKind) RecordModelInUse(before.inUse);
  NewDataForModels(otherKind);
}

void ForgetPreviousAnalysisOfNewData(TXLAWindow& w) {
  PendingNewDataState& p = PendingNewData();
  if (!p.pending) return;
  p.pending = false;
  ForgetPreviousAnalysis(w, p.otherKind);
}

void TXLAWindow::CmLoadNewFiles() {
  MouseActionsEndActive();  // a repair in progress is dropped, not applied
  if (!MStarLetsLoadGoAhead(*this)) return;
  // The help test comes after the mode checks; the table entry leaves it here.
  if (HelpTest()) return;
  ExitEqTestMode(*this);
  ResetMeanFieldCtotPrompt(*this);
  const LoadOutcome outcome = RunLoad(*this, LoadKind::Scans);
  WindowFlags().FileDialogOpen = false;
  if (outcome.finished) UpdateFloToolsMenu(*this);
}

// Sent by the fluorescence tools (no menu item): their files are read as
// electrophoresis scans, and the discrete electrophoresis model is chosen.
void TXLAWindow::CmReloadForFloTools() {
  CurrentDataTypeFlags().floToolsData = 1;
  MainWindowFlags& flags = WindowFlags();
  flags.ElectrophoresisLoad = true;
  CmLoadNewFiles();
  flags.ElectrophoresisLoad = false;
  // Chosen as from the menu: the model left keeps its entries.
  RunModelCommand(*this, kCmElectrophoresisLammModel, [this] { CmElectrophoresisLammModel(); });
  LammSettings().gridSize.inUse = 200;
  UpdateFloToolsMenu(*this);
}

void TXLAWindow::CmLoadDlsData() {
  if (!MStarLetsLoadGoAhead(*this)) return;
  if (HelpTest()) return;
  ExitEqTestMode(*this);
  const LoadOutcome outcome = RunLoad(*this, LoadKind::Dls);
  // The discrete species of light scattering are never in the M-and-s form:
  // their masses become diffusion coefficients, as with the menu toggle,
  // which the Stokes radii read (a mass read as D is a radius of 1e-4 nm).
  if (outcome.chosen && gFitEngineState.molarMassParameters) SetFitMAndS(*this, false);
  WindowFlags().FileDialogOpen = false;
  if (outcome.finished) UpdateFloToolsMenu(*this);
}

void TXLAWindow::CmLoadEquilibriumData() {
  if (!MStarLetsLoadGoAhead(*this)) return;
  if (HelpTest()) return;
  ExitEqTestMode(*this);
  const LoadOutcome outcome = RunLoad(*this, LoadKind::Equilibrium);
  WindowFlags().FileDialogOpen = false;
  // Equilibrium analyses work with molar masses, also after a cancelled
  // dialog. The switch converts the species entered with D, so that they
  // stay the species the user entered rather than D read as a molar mass.
  if (!gFitEngineState.molarMassParameters) SetFitMAndS(*this, true);
  if (outcome.finished) UpdateFloToolsMenu(*this);
}

void TXLAWindow::CmAddMoreFiles() {
  MouseActionsEndActive();  // a repair in progress is dropped, not applied
  if (!MStarLetsLoadGoAhead(*this)) return;
  if (HelpTest()) return;
  ExitEqTestMode(*this);
  LoadFileDialog.presetName.clear();
  LoadFileDialog.title = "select files to add to set 1";
  platform::FileDialogResult result;
  {
    Raised open(WindowFlags().FileDialogOpen);
    result = platform::UI().FileDialog(LoadFileDialog);
  }
  if (result.accepted && !result.paths.empty()) {
    Frame().SetCursor(platform::CursorKind::Wait);
    AddMoreFiles(SelectionFromDialog(result));
    Frame().SetCursor(platform::CursorKind::Arrow);
  }
  WindowFlags().FileDialogOpen = false;
  UpdateFloToolsMenu(*this);
}

void TXLAWindow::EvDropFiles(const std::vector<std::string>& paths) {
  if (!MStarLetsLoadGoAhead(*this)) return;
  const int count = static_cast<int>(paths.size());
  if (count == 0) return;
  ExitEqTestMode(*this);
  Raised open(DialogOpen);
  if (count == 1) {
    const platform::PathParts p = platform::SplitPath(paths[0]);
    if (p.extension == ".xp") {
      Road().loadXpFile(paths[0]);
    } else if (!p.name.empty() && p.name[0] == '~') {
      const int answer = platform::UI().MessageBox("DROPPING FILES",
                                                   "switch to parameter file " + paths[0] + "?",
                                                   platform::BoxButtons::YesNo, platform::BoxIcon::Question);
      if (answer == platform::IDYES) {
        Road().reloadParameters(paths[0]);
        DialogOpen = false;
        CmParameters();
      }
    }
    return;
  }
  std::string ext = platform::SplitPath(paths[0]).extension;
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const bool scans = ext == ".R00" ||
                     (ext.size() == 4 && (ext.rfind(".IP", 0) == 0 || ext.rfind(".RA", 0) == 0) &&
                      ext[3] >= '1' && ext[3] <= '8');
  if (!scans) return;
  if (CurrentScanSet().count > 0) {
    const int answer = platform::UI().MessageBox("DROPPING FILES", "erase currently loaded data?",
                                                 platform::BoxButtons::YesNo, platform::BoxIcon::Question);
    if (answer != platform::IDYES) return;
  }
  FileNameList& list = CurrentFileNameList();
  if (list.count > 0) FreeFileNameList();
  const int step = PromptEveryNth(1);
  list.names.assign(1, std::string());
  for (int i = 0; i < count; i += step) list.names.push_back(paths[i].substr(0, 259));
  list.count = static_cast<int>(list.names.size()) - 1;
  if (Services().loadListedScansAndSimulate)
    Services().loadListedScansAndSimulate(*this);
  else
    LoadListedScans();
}

void TXLAWindow::CmLoadRawMultiSpeedDataAndAutocorrect() {
  MainWindowFlags& flags = WindowFlags();
  PlotWindowSet& plots = CurrentPlotWindows();
  flags.FileDialogOpen = true;
  const std::uint8_t bitmapShown = plots.showBitmap;
  plots.showBitmap = 0;
  flags.Autocorrect = true;
  AutocorrectLoad() = 1;
  CmLoadNewFiles();
  if (!Options().TimeStampCheck && CheckScanTimeStamps()) {
    if (Services().loadListedScansAndSimulate)
      Services().loadListedScansAndSimulate(*this);
    else
      LoadListedScans();
  }
  // Ramps of 280 rpm/s up and 100 rpm/s down, as the instrument drives them.
  if (DetectRotorSpeedSteps(280.0f, 100.0f)) CmShowRotorSpeedPlot();
  CmUndoRotorStretch();
  flags.FileDialogOpen = false;
  DialogOpen = false;
  flags.Autocorrect = false;
  AutocorrectLoad() = 0;
  // Hundreds of scans make the bitmap strip too tall to be useful.
  plots.showBitmap = CurrentScanSet().count >= 200 ? 0 : bitmapShown;
  CheckMenuItem(cmd::ShowResidualsBitmap, plots.showBitmap);
}

void TXLAWindow::CmChangeCell() {
  if (CurrentScanSet().count <= 0) CmLoadNewFiles();
  const ScanSet& s = CurrentScanSet();
  if (s.count <= 0) return;
  BuildTmpFileList(0);
  const float current = static_cast<float>(s.records[static_cast<std::size_t>(s.order[1])].cell);
  float value = current;
  {
    Raised open(DialogOpen);
    InputFloat(&value, current, true, "cell number:", "LOAD DATA");
  }
  // The cell is the last character of the extension: one digit.
  if (!(value >= 1.0f && value < 9.0f)) {
    platform::Tell("LOAD DATA", "the cell number must be 1 to 8", platform::BoxIcon::None);
    return;
  }
  SetCellDigitOfListedFiles(static_cast<int>(std::floor(value)));
  const FileNameList& list = CurrentFileNameList();
  if (list.count > 0) Frame().SetTitle("SEDIMENTATION ANALYSIS -> " + list.names[1] + "...");
  if (Services().loadListedScansAndSimulate)
    Services().loadListedScansAndSimulate(*this);
  else
    LoadListedScans();
  WriteFileNameList(false);
}

void TXLAWindow::CmFixIndividualScanJump199() { CmFixIndividualScanJump(); }
