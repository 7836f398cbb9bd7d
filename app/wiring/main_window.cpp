// The main window as the program makes it: its frame, menus and services,
// the response table handed to its dispatch, the connections to the
// subsystems, the disclaimer and the unattended run; and the routing of the
// frame's events to the plot input, the loaders and the painting.
#include "app/window/txla_window.h"

#include <string>
#include <utility>
#include <vector>

#include "app/commands/help/help_menu.h"
#include "app/commands/model/model_commands.h"
#include "app/window/menu_resources.h"
#include "app/window/parameter_preferences.h"
#include "app/window/program_options.h"
#include "app/window/shell_services.h"
#include "app/wiring/window_wiring.h"
#include "platform/fatal_error.h"
#include "platform/input_events.h"
#include "platform/window_messages.h"

namespace {

const std::vector<std::pair<std::string, std::string>>& LoadFilters() {
  static const std::vector<std::pair<std::string, std::string>> filters = [] {
    std::vector<std::pair<std::string, std::string>> f = {
        {"All AUC Files (*.IP*;*.RA*;*.RI*;*.R0*;*.FI*;*.xp;*list*.*)",
         "*.IP*;*.RA*;*.RI*;*.R0*;*.FI*;*.xp;*list*.*"},
        {"Previously Loaded Lists (list*.*)", "list*.*"},
        {"MORLEAN Experiments (*.xp)", "*.xp"}};
    for (int cell = 1; cell <= 8; ++cell) {
      const std::string digit = std::to_string(cell);
      f.push_back({"cell " + digit + " (*.*" + digit + ")", "*.*" + digit});
    }
    f.push_back({"Interference Files (*.IP*)", "*.IP*"});
    f.push_back({"Absorbance Files (*.RA*)", "*.RA*"});
    f.push_back({"Intensity Files (*.RI*)", "*.RI*"});
    f.push_back({"Fluorescence Files (*.FI*)", "*.FI*"});
    f.push_back({"All Files (*.*)", "*.*"});
    return f;
  }();
  return filters;
}

}  // namespace

TXLAWindow::TXLAWindow(TXLAWindow* parent, const std::string& title,
                       WindowCommandLine commandLine)
    : commandLine_(commandLine), commands_{&CommandTable(), RunModelCommand} {
  (void)parent;  // the main window has none
  frame_ = platform::CreateFrameWindow(*this);
  frame_->SetTitle(title);
  platform::SetMainFrame(frame_.get());
  ConnectWindowToSubsystems(*this);

  HelpRequested = false;
  ZoomDragging = false;
  ZoomDC = nullptr;

  bool automation = false;
  if (Services().takeAutomationCommandLine)
    automation = Services().takeAutomationCommandLine(commandLine_.argCount, commandLine_.argCopies);
  CommandLineState().AutomationMode = automation ? 1 : 0;

  if (automation) {
    frame_->SetMenu(BuildMenuIniCustom());
    frame_->SetAccelerators(AcceleratorTable1112());
  } else {
    frame_->SetMenu(BuildMenu1());
    frame_->SetAccelerators(AcceleratorTable303());
  }
  frame_->SetIcons(kIconGroupBig, kIconGroupSmall);

  CallService(Services().initApproachToEqSim, *this);
  PrinterCreated = false;
  PrepareOpenFileDialog(LoadFileDialog);
  PrepareOpenFileDialog(DropFileDialog);
  RunBusy = false;
  FitBusy = false;
  DialogOpen = false;

  LoadParameterPreferences(*this);
  if (!automation) CallService(Services().readLammEqParameterPreferences, *this);
  RunDisclaimer();
  CallService(Services().createMouseActions, *this);
  DiagBanner.clear();
  DiagFileName.clear();
  DiagLogOpened = false;

  // The unattended analysis runs here, before the window is on the screen;
  // it ends with Exit. After "don't agree" nothing more may run.
  if (automation && !platform::QuitRequested())
    CallService(Services().runAutomationAtStartup, *this);
}

TXLAWindow::~TXLAWindow() {
  DisconnectWindowFromSubsystems();
  if (platform::MainFrame() == frame_.get()) platform::SetMainFrame(nullptr);
  DiagBanner.clear();
  DiagFileName.clear();
  frame_.reset();
}

void TXLAWindow::PrepareOpenFileDialog(platform::FileDialogRequest& dialog) {
  dialog = platform::FileDialogRequest{};
  dialog.save = false;
  dialog.title = "select files";
  dialog.filters = LoadFilters();
  dialog.initialFolder = LastDataFolder();
  dialog.defaultExtension = "*";
  dialog.multiSelect = true;
}

void TXLAWindow::RunDisclaimer() {
  if (Options().DisclaimerAccepted || platform::QuitRequested()) return;
  // An unattended run has nobody to press a button: its user interface
  // logs the question and answers it.
  const int answer =
      CommandLineState().AutomationMode
          ? (platform::UI().MessageBox("About", AboutText(), platform::BoxButtons::OkCancel,
                                       platform::BoxIcon::None) == platform::IDOK
                 ? platform::IDOK
                 : platform::IDCANCEL)
          : frame_->RunTwoButtonDialog("About", AboutText(), "agree", "don't agree");
  if (answer == platform::IDOK) {
    Options().DisclaimerAccepted = true;
    SaveParameterPreferences(*this);
  } else {
    ExitProgram();
  }
}

void TXLAWindow::OnMouse(platform::MouseMessage message, unsigned modKeys, int x, int y) {
  using platform::MouseMessage;
  switch (message) {
    case MouseMessage::LButtonDown: EvLButtonDown(modKeys, x, y); break;
    case MouseMessage::LButtonUp: EvLButtonUp(modKeys, x, y); break;
    case MouseMessage::RButtonDown: EvRButtonDown(modKeys, x, y); break;
    case MouseMessage::RButtonUp: EvRButtonUp(modKeys, x, y); break;
    case MouseMessage::MouseMove: EvMouseMove(modKeys, x, y); break;
    case MouseMessage::LButtonDblClk: EvLButtonDblClk(modKeys, x, y); break;
    case MouseMessage::RButtonDblClk: EvRButtonDblClk(modKeys, x, y); break;
  }
}

