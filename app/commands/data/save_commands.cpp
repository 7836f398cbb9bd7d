// The Data-menu commands that write fitted data, residuals, parameters and
// the systematic noise. Each presets its names, asks through the save
// dialog and hands the writing to the code that owns the file format.
#include "app/window/main_window_flags.h"
#include "app/window/road_services.h"
#include "app/window/txla_window.h"
#include "app/window/window_services.h"
#include "data/fit_output_files.h"
#include "data/scan_set.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "lamm/lamm_settings.h"
#include "platform/paths.h"
#include "platform/user_interface.h"

void TXLAWindow::CmSaveFitData() {
  if (Road().updateSavedFitParameters) Road().updateSavedFitParameters();
  DialogOpen = true;
  const std::string fitPreset = DefaultFitDataName();
  std::string name = AskSaveFile(LoadFileDialog, {"save fitted data as", fitPreset, SaveFolderFor(fitPreset)});
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
    const std::string resPreset = platform::JoinPath(resParts);
    const std::string residuals =
        AskSaveFile(LoadFileDialog, {"save residuals as", resPreset, SaveFolderFor(resPreset)});
    if (!residuals.empty()) SaveResidualFiles(residuals);
    platform::PathParts parParts = fitParts;
    if (CurrentScanSet().oldFileNameConvention) {
      parParts.extension = ".par";
    } else {
      parParts.name = "fitparams";
    }
    const std::string parPreset = platform::JoinPath(parParts);
    const std::string parameters =
        AskSaveFile(LoadFileDialog, {"save some fit parameters as", parPreset, SaveFolderFor(parPreset)});
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
  const std::string name = AskSaveFile(LoadFileDialog, {"save equilibrium data as", "eq.rxx", SaveFolderFor("eq.rxx")});
  DialogOpen = false;
  if (!name.empty()) SaveEquilibriumScan(name);
}

void TXLAWindow::CmSaveNoiseInFile() {
  DialogOpen = true;
  if (gFitEngineState.fitTINoise) {
    const std::string preset = DefaultTINoiseName();
    const std::string ti =
        AskSaveFile(LoadFileDialog, {"save time independent noise component as", preset, SaveFolderFor(preset)});
    if (!ti.empty()) SaveTINoiseFile(ti);
  }
  if (gModelParams.riNoiseFit) {
    const std::string preset = DefaultRINoiseName();
    const std::string ri =
        AskSaveFile(LoadFileDialog, {"save radial independent noise component as", preset, SaveFolderFor(preset)});
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
  const std::string preset = DefaultCorrectedEqName(scan);
  const std::string target = AskSaveFile(LoadFileDialog, {"save corrected data as", preset, SaveFolderFor(preset)});
  if (!target.empty()) {
    Frame().SetCursor(platform::CursorKind::Wait);
    SubtractNoiseFromEqDataFiles(scan, target);
    Frame().SetCursor(platform::CursorKind::Arrow);
  }
  LoadFileDialog.defaultExtension = "IP*";
  DialogOpen = false;
}
