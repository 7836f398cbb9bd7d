// The Data-menu commands that write fitted data, residuals, parameters and
// the systematic noise. Each presets its names, asks through the save
// dialog and hands the writing to the code that owns the file format.
#include "app/window/main_window_flags.h"
#include "app/window/road_services.h"
#include "app/window/txla_window.h"
#include "data/fit_output_files.h"
#include "data/scan_set.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "lamm/lamm_settings.h"
#include "platform/paths.h"
#include "platform/user_interface.h"

namespace {

// One save dialog with a preset name; the chosen path, or empty.
std::string AskSaveName(TXLAWindow& w, const std::string& preset, const std::string& title,
                        const std::string& defaultExtension = std::string()) {
  platform::FileDialogRequest request = w.LoadFileDialog;
  request.save = true;
  request.multiSelect = false;
  request.presetName = preset;
  // A bare name is offered beside the data the results belong to; a name
  // with a folder in that folder.
  const std::string& dataFolder = CurrentScanSet().dataFolder;
  const std::string presetFolder = platform::SplitPath(preset).folder;
  if (!presetFolder.empty()) {
    request.initialFolder = presetFolder;
  } else if (!dataFolder.empty()) {
    request.initialFolder = dataFolder;
    request.presetName = platform::Combine(dataFolder, preset);
  }
  request.title = title;
  request.defaultExtension = defaultExtension;
  const platform::FileDialogResult result = platform::UI().FileDialog(request);
  if (!result.accepted || result.paths.empty()) return std::string();
  // A longer path would not fit the program's name buffer.
  if (result.paths.front().size() > 259) return std::string();
  return result.paths.front();
}

}  // namespace

void TXLAWindow::CmSaveFitData() {
  if (Road().updateSavedFitParameters) Road().updateSavedFitParameters();
  DialogOpen = true;
  const std::string fitPreset = DefaultFitDataName();
  std::string name = AskSaveName(*this, fitPreset, "save fitted data as");
  if (!name.empty()) {
    bool convert = false;
    if (CurrentDataTypeFlags().intensity)
      convert = platform::UI().MessageBox("SAVE FITS", "convert intensities to absorbance data?",
                                          platform::BoxButtons::YesNo,
                                          platform::BoxIcon::Question) == platform::IDYES;
    if (SaveFitDataFiles(name, convert)) WindowFlags().UnsavedFit = false;
  }
  if (!CurrentDataTypeFlags().dls) {
    const platform::PathParts fitParts = platform::SplitPath(name.empty() ? fitPreset : name);
    // The residuals are offered in the folder the fitted data just went to.
    platform::PathParts resParts = platform::SplitPath(DefaultResidualsName());
    resParts.folder = fitParts.folder;
    const std::string residuals = AskSaveName(*this, platform::JoinPath(resParts), "save residuals as");
    if (!residuals.empty()) SaveResidualFiles(residuals);
    platform::PathParts parParts = fitParts;
    if (CurrentScanSet().oldFileNameConvention) {
      parParts.extension = ".par";
    } else {
      parParts.name = "fitparams";
    }
    const std::string parameters =
        AskSaveName(*this, platform::JoinPath(parParts), "save some fit parameters as");
    if (!parameters.empty()) {
      Road().saveParametersToFile(parameters);
      WindowFlags().UnsavedFit = false;
    }
  }
  DialogOpen = false;
}

// Only while the final-state option (223) makes the last scan's model the
// state the simulation reached at its end.
void TXLAWindow::CmSaveEquilibriumData() {
  if (!LammSettings().OptionToggle223) return;
  DialogOpen = true;
  const std::string name = AskSaveName(*this, "eq.rxx", "save equilibrium data as");
  DialogOpen = false;
  if (!name.empty()) SaveEquilibriumScan(name);
}

void TXLAWindow::CmSaveNoiseInFile() {
  DialogOpen = true;
  if (gFitEngineState.fitTINoise) {
    const std::string ti = AskSaveName(*this, DefaultTINoiseName(), "save time independent noise component as");
    if (!ti.empty()) SaveTINoiseFile(ti);
  }
  if (gModelParams.riNoiseFit) {
    const std::string ri = AskSaveName(*this, DefaultRINoiseName(), "save radial independent noise component as");
    if (!ri.empty()) SaveRINoiseFile(ri);
  }
  DialogOpen = false;
}

void TXLAWindow::CmSubtractNoiseFromEqData() {
  if (!gFitEngineState.fitTINoise) return;
  DialogOpen = true;
  platform::FileDialogRequest request = LoadFileDialog;
  request.save = false;
  request.multiSelect = false;
  request.presetName.clear();
  request.title = "select equilbrium scan";
  request.defaultExtension = "*";
  const platform::FileDialogResult source = platform::UI().FileDialog(request);
  if (!source.accepted || source.paths.empty()) {
    platform::Tell("WARNING", "GetOpenFileName returned Error", platform::BoxIcon::Error);
    DialogOpen = false;
    return;
  }
  const std::string scan = source.paths.front();
  const std::string target = AskSaveName(*this, DefaultCorrectedEqName(scan), "save corrected data as");
  if (!target.empty()) {
    Frame().SetCursor(platform::CursorKind::Wait);
    SubtractNoiseFromEqDataFiles(scan, target);
    Frame().SetCursor(platform::CursorKind::Arrow);
  }
  LoadFileDialog.defaultExtension = "IP*";
  DialogOpen = false;
}
