// "Options/DLS Tools": the conversions of the instruments' exports (each
// asks for its export, the output name and what the export does not hold),
// the mean of the loaded sets, and the switch between g(2)-1 and g(1).
#include "app/commands/options/dls_commands.h"

#include <string>
#include <vector>

#include "app/window/program_options.h"
#include "app/window/road_services.h"
#include "app/window/txla_window.h"
#include "app/window/window_services.h"
#include "data/data_messages.h"
#include "data/dls/dls_loading.h"
#include "data/dls/dls_readers.h"
#include "data/load_hooks.h"
#include "distributions/conti_settings.h"
#include "platform/error_box.h"
#include "platform/paths.h"
#include "platform/user_interface.h"
#include "plot/plot_window_set.h"

namespace {

constexpr const char* kCaption = "MAKE DLS DATA";
constexpr const char* kViscosity = "absolute viscosity of solvent (Poise)";
constexpr const char* kIndex = "refractive index of solvent";
constexpr const char* kAngle = "scattering angle (degrees)";
constexpr const char* kTemperature = "temperature (C)";
constexpr const char* kChannels = "# of channels";
constexpr const char* kFormattedFiles = "select filename for saving formatted data files";
constexpr const char* kFormattedFile = "select filename for saving tarnel formatted data file";

bool Confirm(const char* text) { return platform::AskYes(kCaption, text); }

// The export(s) to convert; false when the dialog was cancelled.
bool ChooseExports(const char* pattern, bool several, std::vector<std::string>& paths) {
  platform::FileDialogRequest request;
  request.title = "select data file";
  request.filters = {{pattern, pattern}};
  request.multiSelect = several;
  const platform::FileDialogResult result = platform::UI().FileDialog(request);
  if (!result.accepted || result.paths.empty()) return false;
  paths = result.paths;
  return true;
}

bool ChooseExport(const char* pattern, std::string& path) {
  std::vector<std::string> paths;
  if (!ChooseExports(pattern, false, paths)) return false;
  path = paths.front();
  return true;
}

bool ChooseOutput(const char* title, std::string& path) {
  platform::FileDialogRequest request;
  request.save = true;
  request.title = title;
  request.defaultExtension = "dlsdat";
  request.presetName = "00001.dlsdat";
  request.filters = {{"tarnel DLS Files (*.dlsdat)", "*.dlsdat"}};
  const platform::FileDialogResult result = platform::UI().FileDialog(request);
  if (!result.accepted || result.paths.empty()) return false;
  path = result.paths.front();
  return true;
}

float AskNanometres(float nm, const char* prompt) {
  AskFloat(nm, prompt, kCaption);
  return nm * 1e-9f;
}

int AskChannels(float defaultCount) {
  AskFloat(defaultCount, kChannels, kCaption);
  return defaultCount >= 1 && defaultCount <= 1e6f ? static_cast<int>(defaultCount) : 0;
}

// A failed conversion says which export and why; a good one says nothing.
void Report(const std::string& in, const DlsReadResult& r) {
  if (r) return;
  ErrorBox(("could not convert " + in + ":\n" + r.reason).c_str());
}

// Viscosity, refractive index, wavelength, angle and temperature, as the
// coefficient exports of Dynamics and Protein Solutions lack them.
DlsConditions AskCoefficientExportConditions(float nm, bool wavelengthNotice) {
  DlsConditions c;
  AskFloat(c.viscosity, kViscosity, kCaption);
  AskFloat(c.refractiveIndex, kIndex, kCaption);
  AskFloat(nm, "laser wavelength (nm)", kCaption);
  if (wavelengthNotice) {
    platform::Tell(kCaption,
                   "are you sure about the wavelengt? (DynaPro used to have 825 nm laser, but Wyatt "
                   "Dynapro Nanostar (WDPN-04) has 660 nm laser)");
    AskFloat(nm, "laser wavelength (nm)", kCaption);
  }
  c.wavelength = nm * 1e-9f;
  AskFloat(c.angle, kAngle, kCaption);
  AskFloat(c.temperature, kTemperature, kCaption);
  return c;
}

// Asks for the export and the output, then converts.
template <typename Read>
void Convert(const char* pattern, const char* outputTitle, Read read) {
  std::string in, out;
  if (!ChooseExport(pattern, in) || !ChooseOutput(outputTitle, out)) return;
  Report(in, read(in, out));
}

}  // namespace

void ConnectDlsData() {
  Road().loadDlsData = [](const std::string& selection) {
    const bool loaded = LoadDLSData(selection, Options().AlwaysLoadG2m1) != 0;
    if (loaded) Conti().distributionShown = 0;
    return loaded;
  };
  PlotHooks().dlsFieldAutocorrelation = [] { return DlsFieldAutocorrelationLoaded(); };
}

void TXLAWindow::CmDlsDynamics7() {
  if (Confirm("needs data of Wyatt DLS (Dynamics 7.0.2.7.)")) {
    Convert("*.csv", kFormattedFiles, [](const std::string& in, const std::string& out) {
      return ReadDlsDynamics7(in, out, AskCoefficientExportConditions(660, true));
    });
  }
  UpdateFloToolsMenu(*this);
}

void TXLAWindow::CmDlsPS99v6() {
  if (Confirm("needs data of Protein Solutions (Dynamics Version 6.2.05), exported by right-clicking in the "
              "correlation graph, select autocorrelation coefficients only")) {
    Convert("*.dat", kFormattedFiles, [](const std::string& in, const std::string& out) {
      return ReadDlsPS99v6(in, out, AskCoefficientExportConditions(824.7f, false));
    });
  }
  UpdateFloToolsMenu(*this);
}

void TXLAWindow::CmDlsPS99v526() {
  if (Confirm("needs data of Protein Solutions 99 (Version 5.26.38), exported as 'this experiment only', with "
              "autocorrelation coefficients, parameter settings, and cumulants data log")) {
    Convert("*.txt", kFormattedFiles, [](const std::string& in, const std::string& out) {
      DlsConditions c;
      AskFloat(c.viscosity, kViscosity, kCaption);
      AskFloat(c.refractiveIndex, kIndex, kCaption);
      const int channels = AskChannels(161);
      const bool timeCourse = platform::UI().MessageBox(kCaption, "load entire time-course?",
                                                        platform::BoxButtons::YesNo,
                                                        platform::BoxIcon::Question) == platform::IDYES;
      return ReadDlsPS99v526(in, out, c, channels, timeCourse);
    });
  }
  UpdateFloToolsMenu(*this);
}

void TXLAWindow::CmDlsPS99v520() {
  if (!Confirm("needs data of Protein Solutions 99 (Version 5.20.05), exported with options:\nanalysis results, "
               "autocorrelation coefficients, all measurements, ASCII text, include headers"))
    return;
  Convert("*.txt", kFormattedFiles, [](const std::string& in, const std::string& out) {
    DlsConditions c;
    AskFloat(c.viscosity, kViscosity, kCaption);
    AskFloat(c.refractiveIndex, kIndex, kCaption);
    const int channels = AskChannels(161);
    c.angle = 90;
    c.wavelength = 808.3e-9f;
    return ReadDlsPS99v520(in, out, c, channels);
  });
}

void TXLAWindow::CmDlsPSv4() {
  if (Confirm("needs data of Protein Solutions Dynamics Version 4, exported with options:\nanalysis results, "
              "autocorrelation coefficients, all measurements, ASCII text, include headers, results summary")) {
    Convert("*.txt", kFormattedFiles, [](const std::string& in, const std::string& out) {
      const DlsConditions c = AskCoefficientExportConditions(824.7f, false);
      return ReadDlsPSv4(in, out, c, AskChannels(20));
    });
  }
  UpdateFloToolsMenu(*this);
}

void TXLAWindow::CmDlsALV() {
  if (Confirm("needs data of ALV-5000/E V.2.0.6.2 (6/99), exported with File->Save As...->Datatype:  ALV-5000 "
              "Data (ASCII)"))
    Convert("*.asc", kFormattedFile, ReadDlsALV);
  UpdateFloToolsMenu(*this);
}

void TXLAWindow::CmDlsBIC() {
  std::vector<std::string> exports;
  std::string out;
  if (!ChooseExports("*.dat", true, exports) || !ChooseOutput(kFormattedFile, out)) return;
  // One file per export, named after it, in the chosen folder.
  const platform::PathParts folder = platform::SplitPath(out);
  for (const std::string& in : exports) {
    const platform::PathParts p = platform::SplitPath(in);
    Report(in, ReadDlsBIC(in, folder.drive + folder.folder + p.name + ".dlsdat"));
  }
}

void TXLAWindow::CmDlsOldDosBIC() {
  Convert("*.dat", kFormattedFile, ReadDlsOldDosBIC);
  UpdateFloToolsMenu(*this);
}

void TXLAWindow::CmDlsPhotoCor() {
  if (Confirm("needs data of PhotoCor (Version 0.3), exported as 'PhotoCor Runtime Report' txt file"))
    Convert("*.txt", kFormattedFiles, ReadDlsPhotoCor);
  UpdateFloToolsMenu(*this);
}

void TXLAWindow::CmDls2ColumnG2() {
  if (Confirm("needs two-column ASCII data of intensity autocorrelation g(2)")) {
    Convert("*.txt", kFormattedFile, [](const std::string& in, const std::string& out) {
      float unit = 1e-6f, baseline = 100000;
      DlsConditions c;
      AskFloat(unit, "unit of correlation times (*sec)", kCaption);
      AskFloat(baseline, "measured baseline countrate", kCaption);
      AskFloat(c.temperature, kTemperature, kCaption);
      float time = 1;
      AskFloat(time, "time (sec)", kCaption);
      c.time = time;
      AskFloat(c.countRate, "count rate (cps)", kCaption);
      AskFloat(c.refractiveIndex, "refractive index", kCaption);
      AskFloat(c.viscosity, kViscosity, kCaption);
      AskFloat(c.angle, kAngle, kCaption);
      c.wavelength = AskNanometres(808.3f, "wavelength (nm)");
      return ReadDls2ColumnG2(in, out, unit, baseline, c);
    });
  }
  UpdateFloToolsMenu(*this);
}

void TXLAWindow::CmDls2ColumnG2m1() {
  if (Confirm("needs two-column ASCII data of intensity autocorrelation g(2)-1 versus time[microseconds]\nFrom "
              "Malvern Zetasizer NanoS output delete first two lines.")) {
    Convert("*.txt", kFormattedFile, [](const std::string& in, const std::string& out) {
      DlsConditions c;
      c.temperature = 25;
      c.angle = 173;
      AskFloat(c.temperature, kTemperature, kCaption);
      float time = 1;
      AskFloat(time, "time (sec)", kCaption);
      c.time = time;
      AskFloat(c.refractiveIndex, "refractive index", kCaption);
      AskFloat(c.viscosity, kViscosity, kCaption);
      AskFloat(c.angle, kAngle, kCaption);
      c.wavelength = AskNanometres(632.8f, "wavelength (nm)");
      return ReadDls2ColumnG2m1(in, out, c);
    });
  }
  UpdateFloToolsMenu(*this);
}

void TXLAWindow::CmSaveMeanDlsData() {
  if (!DlsDataLoaded()) {
    data_messages::InfoSound();
    data_messages::Box("ERROR", "no DLS data loaded");
    return;
  }
  platform::FileDialogRequest request;
  request.save = true;
  request.title = "select filename for new average DLS data set";
  request.presetName = "mean.dlsdat";
  request.defaultExtension = "dlsdat";
  request.filters = {{"tarnel DLS Files (*.dlsdat)", "*.dlsdat"}};
  const platform::FileDialogResult result = platform::UI().FileDialog(request);
  if (!result.accepted || result.paths.empty()) return;
  SaveAveragedDlsData(result.paths.front());
}

void TXLAWindow::CmDlsCD() {
  platform::UI().MessageBox("Format CD DATA", "not implemented yet", platform::BoxButtons::YesNo,
                            platform::BoxIcon::Question);
  UpdateFloToolsMenu(*this);
}

void TXLAWindow::CmToggleG2m1G1() {
  if (DlsDataLoaded()) {
    ToggleDlsFieldAutocorrelation();
    LoadHooks& h = CurrentLoadHooks();
    h.setPlotAxisTitles();
    h.redrawDataPlot(true);
    h.updateResidualsPlot();
    h.invalidateWindow();
  }
  UpdateFloToolsMenu(*this);
}
