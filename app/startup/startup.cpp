#include "app/startup/startup.h"

#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <new>
#include <vector>

#include "app/window/program_options.h"
#include "app/window/window_services.h"
#include "automation/automation_run.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "fit/model_params.h"
#include "platform/error_box.h"
#include "platform/diagnostics.h"
#include "platform/fatal_error.h"
#include "platform/paths.h"
#include "platform/program_paths.h"
#include "platform/user_interface.h"

CommandLineArgsRecord CommandLineArgs;

namespace {

MainWindowFactory& Factory() {
  static MainWindowFactory factory;
  return factory;
}

// Storage behind CommandLineArgs.ArgCopies. The buffers have at least the
// sizes the window code relies on (10000 for the first argument, 260 for the
// others) and grow for longer arguments instead of cutting them.
std::vector<std::vector<char>> g_argBuffers;
std::vector<char*> g_argPointers;

void CopyArguments(int argc, char** argv) {
  g_argBuffers.clear();
  g_argPointers.clear();
  CommandLineArgs.ArgCount = argc > 1 ? argc - 1 : 0;
  CommandLineArgs.ArgCopies = nullptr;
  if (CommandLineArgs.ArgCount <= 0) return;
  g_argBuffers.resize(static_cast<std::size_t>(argc));
  g_argPointers.assign(static_cast<std::size_t>(argc), nullptr);
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i] ? argv[i] : "";
    const std::size_t length = std::strlen(arg);
    const std::size_t minimum = i == 1 ? 10000 : 260;
    std::vector<char>& buffer = g_argBuffers[static_cast<std::size_t>(i)];
    buffer.assign(length + 1 > minimum ? length + 1 : minimum, '\0');
    std::memcpy(buffer.data(), arg, length);
    g_argPointers[static_cast<std::size_t>(i)] = buffer.data();
  }
  CommandLineArgs.ArgCopies = g_argPointers.data();
}

// Anything of that name in the folder: file, folder or other entry.
bool EntryExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(platform::ToNative(path), ec);
}

// The sibling program under its name on this platform: in the program
// folder, else the first on PATH; the program folder's path when neither.
std::string FindSiblingProgram(const std::string& folder) {
  const std::string name = "morlean";
  const std::string own = folder + name;
  if (EntryExists(own)) return own;
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const std::size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::string dir = dirs.substr(start, end - start);
    if (!dir.empty()) {
      const std::filesystem::path candidate = std::filesystem::path(dir) / name;
      std::error_code ec;
      if (std::filesystem::is_regular_file(candidate, ec)) return candidate.string();
    }
    start = end + 1;
  }
  return own;
}

void ShowError(const char* format, const std::string& path) {
  std::vector<char> text(path.size() + 64);
  std::snprintf(text.data(), text.size(), format, path.c_str());
  platform::Tell("ERROR", text.data(), platform::BoxIcon::None);
}

}  // namespace

void SetMainWindowFactory(MainWindowFactory factory) { Factory() = std::move(factory); }

TXLAApp::TXLAApp(std::string name) : name_(std::move(name)) {}
TXLAApp::~TXLAApp() = default;

void TXLAApp::InitMainWindow() {
  AllocParameterArrays();
  SetupProgramFiles();
  if (Factory()) mainWindow_ = Factory()("Sedimentation Analysis");
  RangeHistory = RangeHistoryRecord{};
  WizardFooter = "\n\n\n(to switch off wizard messages, use menu Help->Info and Wizard Messages)";
}

int TXLAApp::Run() {
  try {
    InitMainWindow();
    // A quit requested during start-up (the disclaimer refused, a fatal box,
    // a finished unattended run) ends the program before the loop.
    if (platform::QuitRequested()) return platform::QuitExitCode();
    if (!mainWindow_ || platform::Headless()) return 0;
    return mainWindow_->RunMessageLoop();
  } catch (const platform::FatalError&) {
    // The fatal box has been shown and the end requested.
    if (const int status = AutomationCutShort(false)) return status;
    return platform::QuitExitCode();
  } catch (const std::bad_alloc&) {
    // The failed allocation is gone with the unwinding: there is room to
    // tell, and an unattended run ends with a status that says it failed.
    try {
      ErrorBox("allocation failure", true);
    } catch (const std::bad_alloc&) {
    }
    if (const int status = AutomationCutShort(true)) return status;
    return platform::QuitExitCode();
  }
}

void SetupProgramFiles() {
  platform::ProgramPathsRecord& p = platform::ProgramPaths;
  const std::string& folder = p.ProgramFolder;

  // The sibling analysis program is needed by few commands: its absence is
  // noted in the log, and a command that needs it says so itself.
  p.SiblingProgramPath = FindSiblingProgram(folder);
  if (!EntryExists(p.SiblingProgramPath))
    platform::WriteDiagnostics("\ncould not find " + p.SiblingProgramPath + " (nor on PATH)");

  p.TempFolder = folder + "temp";
  if (!EntryExists(p.TempFolder) && !platform::CreateDirectory(p.TempFolder))
    ShowError("could not create %s", p.TempFolder);
  p.TempFolder.push_back(platform::Separator());

  // The first file dialog opens in the program folder.
  p.LastFolderIniPath = folder + "tarnel.ini";
  if (!EntryExists(p.LastFolderIniPath)) WriteLastFolderFile(folder);

  p.MofsTablePath = folder + "mofs.dat";
  p.WormChainMofsTablePath = folder + "~WormChain_mofs.dat";
  for (int c = 0; c < platform::kSoundCategoryCount; ++c)
    p.SoundFilePaths[static_cast<std::size_t>(c)] = folder + platform::kSoundFileNames[static_cast<std::size_t>(c)];
  p.ViscosityTablePath = folder + "viscosity.dat";
  p.DensityTablePath = folder + "density.dat";
  p.SnonidTablePath = folder + "snonid.dat";
  p.DnonidTablePath = folder + "dnonid.dat";
  p.DistribFilePath = p.TempFolder + "distrib.dat";
  p.BoundaryFractsPath = p.TempFolder + "ppBoundaryFracts.dat";
  p.NonIdCtotTablePath = p.TempFolder + "ppNonIdCtotTable.dat";
  p.IntegrationRangesPath[0] = folder + "integratrangefile.txt";
  p.IntegrationRangesPath[1] = folder + "integratrangefile.txt";
  // A file of its own: the integration ranges are the user's.
  p.MarquardtListingPath = folder + "mlparams.txt";
}

int OwlMain(int argc, char** argv) {
  platform::ProgramPathsRecord& p = platform::ProgramPaths;
  p.ProgramFolder = platform::ProgramFolderFromEnvironment(argc > 0 && argv && argv[0] ? argv[0] : "");
  p.ParamsIniPath = p.ProgramFolder + "tarnelparams.ini";
  p.LammParamsIniPath = p.ProgramFolder + "tarnellammparams.ini";
  p.SimAppEqParamsIniPath = p.ProgramFolder + "tarnelsimappeqparams.ini";
  CopyArguments(argv ? argc : 0, argv);
  // One or two arguments ask for an unattended run: no box may wait for a
  // person from here on.
  if (CommandLineArgs.ArgCount == 1 || CommandLineArgs.ArgCount == 2) InstallUnattendedUserInterface();
  platform::SetDiagnosticsErrorReporter([](const std::string& text) { ErrorBox(text.c_str(), false); });

  TXLAApp app("ZODIvaridid");
  const int status = app.Run();
  // The scan set's arrays hang from global tables that the static
  // destructors take down; freed here, while the window that draws them
  // still exists, the program ends owning nothing.
  FreeScanData();
  FreeScanGridArrays(CurrentScanSet());
  FreeFileNameList();
  return status;
}
