#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "fit/fit_engine_state.h"
#include "platform/sounds.h"
#include "app/commands/help/help_menu.h"

#include "app/window/parameter_preferences.h"
#include "app/window/program_options.h"
#include "app/window/shell_services.h"
#include "app/window/txla_window.h"
#include "lamm/lamm_ideal.h"
#include "platform/diagnostics.h"
#include "platform/paths.h"
#include "platform/process_launcher.h"
#include "platform/program_paths.h"
#include "platform/user_interface.h"

std::string AboutText() {
  return "TARNEL\n"
         "version 1.0\n\n"
         "THIS SOFTWARE IS PROVIDED \"AS IS\", WITH ALL FAULTS, AND WITHOUT WARRANTIES OF ANY "
         "KIND, EXPRESS OR IMPLIED, INCLUDING BUT NOT LIMITED TO THE WARRANTIES OF "
         "MERCHANTABILITY, FITNESS FOR A PARTICULAR PURPOSE AND NON-INFRINGEMENT. THE ENTIRE "
         "RISK AS TO THE QUALITY, ACCURACY AND PERFORMANCE OF THE RESULTS IS WITH THE USER.\n\n"
         "Written and maintained by the TARNEL developers.\n"
         "For new versions, contact the TARNEL developers through the program's web site.\n"
         "Users' mailing list: TARNEL-L\n";
}

std::string KeyboardShortcutsText() {
  return "current keyboard shortcuts (with control key unless otherwise mentioned):\n\n"
         "\nL - Data->Load New Files"
         "\nA - Data->Add More Files"
         "\nS - Data->Save Fit Data"
         "\nU - Data->Update Saved Fit Parameters"
         "\n\nC - Copy->Copy Screenshot"
         "\n\nD - Display->Data Range"
         "\nN - Display->Subtract All Systematic Noise From Raw Data"
         "\nO - Display->Show Last Fit Info Again"
         "\nM - Display->Show Peak Mw in c(s)"
         "\n\nP - Parameters"
         "\n\nR - Run"
         "\n\nF - Fit"
         "\n\nalt-I - Options->Inhomogeneous Solvent"
         "\nB - Options->Fitting Options->Corrections For Buffer Sedimentation"
         "\nE - Options->Loading Options->Sort Eq Data to Disk"
         "\nG - Plot->PELDO"
         "\nalt-G - Options->Fitting Options->Lamm Equation Parameters"
         "\nI - Options->Size-Distribution Options->Integrate Distribution"
         "\nW - Options->Size-Distribution Options->Use Prior Probabilities"
         "\nX - Options->Size-Distribution Options->Prior Knowledge of Discrete Species"
         "\n\nalt-F - FloTools"
         "\n\n(alt-M - toggle mouse sliding)";
}

void TXLAWindow::CmAbout() {
  CallService(Services().playSoundOk);
  const int answer = Frame().RunTwoButtonDialog("About", AboutText(), "agree", "don't agree");
  // Only an explicit "don't agree" withdraws the agreement; closing the box
  // just closes it.
  if (answer != platform::IDCANCEL) return;
  // Not agreeing ends the program: an analysis in the window would go with it.
  if (CurrentScanSet().count > 0 &&
      platform::UI().MessageBox("About",
                                "Not agreeing ends the program, and the analysis loaded is lost.\n"
                                "End the program?",
                                platform::BoxButtons::YesNoDefaultNo, platform::BoxIcon::Question) != platform::IDYES)
    return;
  Options().DisclaimerAccepted = false;
  SaveParameterPreferences(*this);
  ExitProgram();
}

void TXLAWindow::CmInfoAndWizardMessages() {
  ProgramOptions& o = Options();
  o.InfoWizardMessages = !o.InfoWizardMessages;
  CheckMenuItem(cmd::InfoAndWizardMessages, o.InfoWizardMessages);
  if (platform::UI().MessageBox("HELP MESSAGES", "Save Setting?", platform::BoxButtons::YesNo,
                                platform::BoxIcon::Question) == platform::IDYES)
    SetParameterPreference(*this, 8, o.InfoWizardMessages ? 1 : 0);
}

void TXLAWindow::CmKeyboardShortcuts() { platform::Tell("KEYBOARD SHORTCUTS", KeyboardShortcutsText()); }

std::string HelpDocumentPath() {
  // $TARNEL_HOME holds the user's files, not the documents: those stay
  // beside the executable (or the build folder in the tree) and in the
  // source tree the program was built from.
  const std::string& folder = platform::ProgramPaths.ProgramFolder;
  std::vector<std::string> candidates = {folder + "README.md", folder + "../README.md"};
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const std::string beside = exe.parent_path().string() + "/";
    candidates.push_back(beside + "README.md");
    candidates.push_back(beside + "../README.md");
  }
#ifdef TARNEL_SOURCE_TREE
  candidates.push_back(std::string(TARNEL_SOURCE_TREE) + "/README.md");
#endif
  for (const std::string& candidate : candidates)
    if (platform::FileExists(candidate)) return std::filesystem::weakly_canonical(candidate).string();
  return folder + "README.md";
}

void TXLAWindow::CmHowToGetHelp() {
  const std::string path = HelpDocumentPath();
  if (!platform::FileExists(path)) {
    platform::Tell("HELP", "The help file " + path + " is missing from the program folder.");
    return;
  }
  const std::string text = "Help is available in " + path + " and the docs folder beside it.\nOpen it?";
  const int answer = platform::UI().MessageBox("HELP", text, platform::BoxButtons::YesNo,
                                               platform::BoxIcon::Question);
  if (answer != platform::IDYES) return;
  // The preferred browser first, then whatever the desktop opens files with.
  const std::string url = "file://" + path;
  if (platform::Processes().StartDetached("firefox", {url}) || platform::Processes().OpenUrl(url)) return;
  platform::Tell("HELP", "No browser could be started. Open this file to read the help:\n" + path);
}

void TXLAWindow::CmHelp() { CmHowToGetHelp(); }

void TXLAWindow::CmDiagnosticsOutput() {
  // The data layer's log and the Lamm solvers' own logs follow one switch.
  if (!platform::ToggleDiagnosticsOutput()) return;
  const bool on = platform::DiagnosticsState().DiagnosticsOn.load();
  SetLammDiagnosticsOutput(on);
  CheckMenuItem(867, on);
}

void TXLAWindow::CmToggleExportMatrices() {
  ContiSettings& cs = Conti();
  cs.exportMatrices = !cs.exportMatrices;
  platform::Tell("ERROR", cs.exportMatrices ? "Export Matrices is ON" : "Export Matrices is OFF");
}
