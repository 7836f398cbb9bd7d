#include "app/commands/options/hydro_commands.h"

#include <chrono>
#include <cstdio>
#include <utility>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/window/road_services.h"
#include "app/window/txla_window.h"
#include "automation/tools/hydro_results.h"
#include "automation/tools/hydropro_files.h"
#include "distributions/conti_models.h"
#include "distributions/conti_settings.h"
#include "fit/model_params.h"
#include "numerics/arrays.h"
#include "platform/error_box.h"
#include "numerics/matrix_files.h"
#include "platform/frame_window.h"
#include "platform/input_events.h"
#include "platform/paths.h"
#include "platform/process_launcher.h"
#include "platform/program_paths.h"
#include "platform/user_interface.h"
#include "plot/adhoc_plot_arrays.h"

namespace {

constexpr const char* kCalibrationCaption = "CALIBRATE C(M) POWER LAW";
constexpr const char* kBestCaption = "read BEST/BEMINE";

std::string Format2(const char* format, double a, double b) {
  char buf[200];
  std::snprintf(buf, sizeof buf, format, a, b);
  return buf;
}

void StoreScalingLaw(float ks, float kb) {
  ModelParameterVector& v = gModelParameterVector;
  ModelParams& mp = gModelParams;
  ContiSettings& cs = Conti();
  v.P[11] = mp.concentration[3] = cs.scalingKs = ks;
  v.P[18] = mp.extra[3] = cs.scalingBs = kb;
  // Selecting the scaling-law model again starts from the stored law.
  ContiStore().scalingPrefactor = ks;
  ContiStore().scalingExponent = kb;
}

// Waits for a key press while the window keeps painting; returns at once
// without a display.
void WaitForKeyPress() {
  if (platform::Headless()) return;
  for (;;) {
    platform::PumpEvents();
    if (platform::TakeKeyDown()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

bool CalibrateCMPowerLaw() {
  if (!platform::AskYes(
          kCalibrationCaption,
          "select enter ASCII file with calibration data\nformat: each row with two columns containing (s M) "
          "pairs, tab or space-delimited\n(if there's only one calibration point, scaling exponent will be "
          "requested as user input)"))
    return false;
  platform::FileDialogRequest request;
  request.title = "please locate the calibration file";
  request.filters = {{"calibration text files (*.dat)", "*.dat"}};
  request.initialFolder = LastDataFolder();
  request.presetName = "calibration.dat";
  request.defaultExtension = "dat";
  const platform::FileDialogResult chosen = platform::UI().FileDialog(request);
  if (!chosen.accepted || chosen.paths.empty()) return false;
  int count = 0;
  float** table = ReadMatrixFile(chosen.paths.front().c_str(), 2, &count);
  if (!table) return false;
  std::vector<float> s, M;
  for (int i = 1; i <= count; ++i) {
    s.push_back(table[1][i]);
    M.push_back(table[2][i]);
  }
  free_matrix(table, 1, 2, 1, count);
  const CalibrationRows rows = UsableCalibrationRows(s, M);
  if (!rows.skipped.empty()) platform::Tell(kCalibrationCaption, rows.skipped, platform::BoxIcon::Error);
  if (rows.s.empty()) return false;
  float exponent = 0.66f;
  if (rows.s.size() == 1 && !InputFloat(&exponent, 0.66f, true, "scaling exponent:", "c(M) with scaling law"))
    return false;
  const PowerLawFit fit = FitCMPowerLaw(rows.s, rows.M, exponent);
  if (!fit.ok) {
    platform::Tell(kCalibrationCaption, fit.refusal, platform::BoxIcon::Error);
    return false;
  }
  const std::string note = Format2("ks = %.3e, kb = %.3e  (press a key to continue...)", fit.ks, fit.kb);
  ShowAdHocPointsAndLine(fit.x.data(), fit.y.data(), fit.lineX.data(), fit.lineY.data(), fit.n, "log10(M)",
                         "log10(s)", note.c_str(), fit.yLow, fit.yHigh);
  WaitForKeyPress();
  if (!platform::AskYes(kCalibrationCaption, Format2("ks = %.3e, kb = %.3e\naccept?", fit.ks, fit.kb))) return false;
  StoreScalingLaw(fit.ks, fit.kb);
  FreeAdHocPlotArrays();
  platform::RequestRepaint();
  return true;
}

void TXLAWindow::CmMinimumSForLogGrid() {
  ContiSettings& cs = Conti();
  if (platform::AskYes("DISTRIBUTION OPTIONS", "use minimum s-value for log spaced grids?")) {
    cs.useMinimumS = 1;
    CheckMenuItem(1107, true);
    float value = cs.minimumSValue;
    if (InputFloat(&value, cs.minimumSValue, true, "min s-value:", "DISTRIBUTION OPTIONS")) cs.minimumSValue = value;
  } else {
    cs.useMinimumS = 0;
    CheckMenuItem(1107, false);
  }
}

void TXLAWindow::CmExtractSFromBest() {
  float M = 100000.0f, vbar = gSolutionConditions.vbar;
  if (!InputFloat(&M, M, true, "molar mass (Da)", kBestCaption) || !(M > 0)) return;
  if (!InputFloat(&vbar, vbar, true, "partial-specific volume (ml/g)", kBestCaption) || !(vbar > 0)) return;
  platform::FileDialogRequest request;
  request.title = "select filename of BEMINE output";
  request.filters = {{"all files (*.*)", "*.*"}};
  request.initialFolder = LastDataFolder();
  request.presetName = "tdat.*";
  request.defaultExtension = "*";
  const platform::FileDialogResult chosen = platform::UI().FileDialog(request);
  if (!chosen.accepted || chosen.paths.empty()) return;
  const std::string& path = chosen.paths.front();
  std::string text;
  if (const platform::FileReadError e = platform::ReadWholeFile(path, text, platform::kTableFileLimit);
      e != platform::FileReadError::None) {
    ErrorBox(("\n\aAttention: " + platform::FileReadErrorText(path, e, platform::kTableFileLimit)).c_str());
    return;
  }
  if (text.empty()) {
    ErrorBox(("\n\aAttention: could not read " + path + " into memory").c_str());
    return;
  }
  const BestModels models = ScanBestOutput(text);
  const int n = static_cast<int>(models.N.size());
  if (n == 0) {
    ErrorBox(("\n\ano diffusion data found in " + path).c_str());
    return;
  }
  const BestExtrapolation e = ExtrapolateBestD(models);
  if (!platform::AskYes(kBestCaption, BestReport(path, models, e, M, vbar))) return;
  std::vector<float> x(static_cast<size_t>(n) + 1), y = x, lineX = x, lineY = x;
  for (int i = 1; i <= n; ++i) {
    x[i] = lineX[i] = 1.0f / models.N[static_cast<size_t>(i - 1)];
    y[i] = models.D[static_cast<size_t>(i - 1)] * 1e7f;
  }
  lineX[1] = 0;
  if (n > 1) lineX[n] = 1.1f * x[n];
  for (int i = 1; i <= n; ++i) lineY[i] = (e.slope * lineX[i] + e.D0) * 1e7f;
  ShowAdHocPointsAndLine(x.data(), y.data(), lineX.data(), lineY.data(), n, "1/n", "D (F)");
}

HydroProSettings& HydroProConfig() {
  static HydroProSettings settings;
  return settings;
}

namespace {

namespace fs = std::filesystem;

// Copies a file under a temporary name beside the target and renames it
// into place, so that an interrupted copy never leaves a cut program where
// the next run would start it. The copy keeps the source's permissions (the
// right to run). Empty on success, else what went wrong.
std::string CopyWhole(const std::string& from, const std::string& to) {
  const std::string temporary = to + ".copying";
  std::error_code ec;
  fs::copy_file(from, temporary, fs::copy_options::overwrite_existing, ec);
  if (!ec) fs::rename(temporary, to, ec);
  if (!ec) return {};
  std::error_code ignored;
  fs::remove(temporary, ignored);
  return ec.message();
}

std::string FileName(const std::string& path) { return fs::path(path).filename().string(); }

// The executable in the program folder, located or copied there on request;
// empty when there is none.
std::string LocateHydroPro() {
  const std::string folder = platform::ProgramPaths.ProgramFolder;
  const std::string exe = HydroProConfig().executable.empty() ? folder + "hydropro" : HydroProConfig().executable;
  if (fs::exists(exe)) return exe;
  const std::string name = FileName(exe);
  platform::Tell("ERROR",
                 "Could not find HydroPro file \"" + name + "\" in folder " + fs::path(exe).parent_path().string() +
                     ".\nPlease locate this file!",
                 platform::BoxIcon::Error);
  platform::FileDialogRequest request;
  request.title = "please locate the file \"" + name + "\"";
  request.filters = {{"hydropro (" + name + ".*)", name + ".*"}, {"hydropro (" + name + ")", name}};
  request.initialFolder = folder;
  const platform::FileDialogResult chosen = platform::UI().FileDialog(request);
  if (!chosen.accepted || chosen.paths.empty()) {
    const std::string where = "Please save the program into the folder " + folder + " and start this command again.";
    // Without a known address the browser is not offered.
    if (HydroProConfig().downloadUrl.empty())
      platform::Tell("no HYDROPRO file", where);
    else if (platform::AskYes("no HYDROPRO file",
                              "Would you like to open the HYDROPRO download page in your browser?\n" + where))
      platform::Processes().OpenUrl(HydroProConfig().downloadUrl);
    return {};
  }
  const std::string problem = CopyWhole(chosen.paths.front(), exe);
  if (!problem.empty()) {
    platform::Tell("ERROR", "could not copy " + chosen.paths.front() + " to " + exe + ": " + problem,
                   platform::BoxIcon::Error);
    return {};
  }
  return exe;
}

// One parameter with its explanation; false when cancelled.
bool AskParameter(float* value, const char* note, const char* prompt) {
  platform::Tell("ATTENTION", note);
  return InputFloat(value, *value, true, prompt, "HYDROPRO parameters");
}

bool ReadHydroProParameters(HydroProInput& in) {
  if (!AskParameter(&in.aer,
                    "AER, the radius of the atomic elements, accounts for the hydration of the molecule.\n"
                    "The HYDROPRO manual recommends 3.2 Angstroms for globular proteins, about 2.8 for nucleic "
                    "acids and 3.0 for nucleoprotein complexes; about 1.8 is the minimum without hydration.",
                    "AER (Angstroms)"))
    return false;
  float nsig = -1.0f;
  if (!AskParameter(&nsig,
                    "Please enter the number of minibead radii (NSIG).\nThe HYDROPRO manual: more than 2 "
                    "(typically 5 to 8) radii from SIGMIN to SIGMAX;\nthe value -1 lets HYDROPRO choose the "
                    "two extremes.",
                    "NSIG"))
    return false;
  in.nsig = NsigOf(nsig);
  if (in.nsig != -1) {
    const char* sigNote =
        "Please enter the minimum and maximum minibead radius.\nThe HYDROPRO manual: at most 2000 minibeads; too "
        "small a SIGMIN stops HYDROPRO with an error;\nSIGMAX such that there are about 200-400 minibeads. "
        "Messages appear in HYDROPRO's output.";
    if (!AskParameter(&in.sigmin, sigNote, "SIGMIN")) return false;
    if (!InputFloat(&in.sigmax, in.sigmax, true, "SIGMAX", "HYDROPRO parameters")) return false;
  }
  return AskParameter(&in.temperature,
                      "Next, enter the temperature in K. For example, enter 293.15 in order to predict values at "
                      "standard conditions.",
                      "temperature (K)") &&
         AskParameter(&in.density,
                      "Next, enter the solvent density in g/ml. For example, enter 0.99823 in order to predict "
                      "values at standard conditions.",
                      "solvent density (g/ml)") &&
         AskParameter(&in.viscosity,
                      "Next, enter the solvent viscosity in Poise. For example, enter 0.01002 in order to predict "
                      "values at standard conditions.",
                      "solvent viscosity (Poise)") &&
         AskParameter(&in.mw,
                      "Next, enter the molecular weight in Da.  \nAlternatively you may give the value: -1.0, and "
                      "HydroPro will calculate it from the sequence given in the pdb file",
                      "molecular weight (Da)") &&
         AskParameter(&in.vbar,
                      "Next, enter the partial-specific volume (ml/g).  \nAlternatively you may give the value: "
                      "-1.0, and HydroPro will calculate it from the sequence given in the pdb file",
                      "partial-specific volume (ml/g)");
}

// The child runs until it ends or a key press is answered with Yes.
bool KeepHydroProRunning() {
  platform::PumpEvents();
  if (!platform::TakeKeyDown()) return true;
  return !platform::AskYes("HYDROPRO", "stop HYDROPRO?");
}

}  // namespace

void TXLAWindow::CmStartHydroPro() {
  const std::string exe = LocateHydroPro();
  if (exe.empty()) return;
  if (!platform::AskYes("HYDROPRO",
                        "Please cite the reference publication of HYDROPRO when you use its results:\n"
                        "Biophys. J. 78, 719-730 (2000)\n\ncontinue?"))
    return;
  platform::Tell(
      "ATTENTION",
      "Please select the pdb structure file.\nNote that the structure should describe exactly the same molecule "
      "that was studied in the experiment. \nIf there are, for example, missing loops in the pdb file, then they "
      "should be added in hypothetical conformations. \nThis may be done both in extremely extended and compact "
      "forms, \nsuch that the results reflect estimates for the upper and lower limits of the theoretical "
      "s-values.");
  const std::string programFolder = platform::ProgramPaths.ProgramFolder;
  std::string structure = programFolder + "teststruct.pdb";
  if (!fs::exists(structure)) {
    platform::FileDialogRequest request;
    request.title = "please select the pdb file";
    request.filters = {{"pdb files (*.pdb)", "*.pdb"}};
    request.initialFolder = programFolder;
    request.presetName = "*.pdb";
    request.defaultExtension = "pdb";
    const platform::FileDialogResult chosen = platform::UI().FileDialog(request);
    if (!chosen.accepted || chosen.paths.empty()) return;
    structure = chosen.paths.front();
  }
  const std::string name = fs::path(structure).stem().string();
  std::error_code ec;
  const std::string base = programFolder + "HydroPro/";
  fs::create_directories(base, ec);
  const std::string folder = FreshWorkingFolder(base, name);
  if (ec || !fs::create_directory(folder, ec)) {
    platform::Tell("ERROR", "could not create the folder " + folder + (ec ? ": " + ec.message() : ""),
                   platform::BoxIcon::Error);
    return;
  }
  const std::string copiedExe = folder + "/" + FileName(exe);
  for (const auto& [from, to] : {std::pair{exe, copiedExe}, std::pair{structure, folder + "/" + FileName(structure)}}) {
    const std::string problem = CopyWhole(from, to);
    if (!problem.empty()) {
      platform::Tell("ERROR", "could not copy " + from + " to " + to + ": " + problem, platform::BoxIcon::Error);
      return;
    }
  }
  // Reading is optional: No is the default, and only a known address is offered.
  const std::pair<const char*, const std::string*> documents[] = {
      {"Would you like to open the HYDROPRO user guide?", &HydroProConfig().userGuideUrl},
      {"Would you like to open the HYDROPRO reference paper?", &HydroProConfig().paperUrl}};
  for (const auto& [question, url] : documents)
    if (!url->empty() && platform::UI().MessageBox("no HYDROPRO file", question, platform::BoxButtons::YesNoDefaultNo,
                                                   platform::BoxIcon::Question) == platform::IDYES)
      platform::Processes().OpenUrl(*url);
  HydroProInput in;
  if (!ReadHydroProParameters(in)) return;
  const std::string dat = folder + "/hydropro.dat";
  if (!platform::WriteWholeFile(dat, HydroProDat(name, in))) {
    platform::Tell("ERROR", "could not open " + dat + " for writing", platform::BoxIcon::Error);
    return;
  }
  platform::Tell(
      "ATTENTION",
      "TARNEL now hands over to HYDROPRO (Biophys. J. 78, 719-730 (2000)).\nPress a key to stop it.\nThe results "
      "files will be saved in the folder " +
          folder,
      platform::BoxIcon::Error);
  const int code = platform::Processes().RunInFolderAndWait(copiedExe, {}, folder, KeepHydroProRunning);
  if (code == -1) {
    platform::Tell("ERROR", "cannot start HYDROPRO", platform::BoxIcon::Error);
    return;
  }
  if (code == platform::kChildStopped) return;
  const std::string results = folder + "/" + name + ".res";
  std::string text;
  if (!platform::ReadRegularFile(results, text, false, platform::kTableFileLimit)) {
    platform::Tell("ERROR", "ERROR - no results file created", platform::BoxIcon::Error);
    return;
  }
  platform::Processes().OpenTextEditor(results);
  platform::Tell("HYDROPRO RESULTS", HydroProSummary(text));
}

void ConnectHydroTools(TXLAWindow&) { Road().calibrateCMPowerLaw = [] { return CalibrateCMPowerLaw(); }; }
