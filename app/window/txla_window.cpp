#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "fit/fit_engine_state.h"
#include "platform/sounds.h"
#include "app/window/txla_window.h"

#include <algorithm>

#include "app/commands/model/model_commands.h"
#include "distributions/model_entries.h"
#include "app/commands/help/help_menu.h"
#include "app/window/menu_resources.h"
#include "app/startup/parameter_preferences.h"
#include "app/startup/program_options.h"
#include "app/window/shell_services.h"
#include "app/wiring/window_wiring.h"
#include "platform/fatal_error.h"
#include "app/window/main_window_flags.h"
#include "platform/input_events.h"
#include "platform/process_launcher.h"
#include "platform/window_messages.h"
#include "plot/plot_window_set.h"


CommandLineFlags& CommandLineState() {
  static CommandLineFlags flags;
  return flags;
}

std::string& LastDataFolder() {
  static std::string folder;
  return folder;
}

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
    : commandLine_(commandLine) {
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

void TXLAWindow::Create() {
  if (!frame_->IsCreated()) frame_->Create();
}

void TXLAWindow::CheckMenuItem(int id, bool checked) {
  frame_->Menu().Check(id, checked);
  frame_->MenuChanged();
}

bool TXLAWindow::IsMenuItemChecked(int id) const { return frame_->Menu().IsChecked(id); }

void TXLAWindow::SetupWindow() {
  ProgramOptions& o = Options();
  // The menu may have been built before the window existed; every saved
  // switch gets its mark here, whatever the preference reader managed.
  if (Conti().suppressBaselineCorrelation) CheckMenuItem(cmd::SuppressBaselineCorrelation, true);
  if (o.IntegrationRangesFromFile) CheckMenuItem(cmd::UseIntegrationRangesFromFile, true);
  CheckMenuItem(cmd::Sound, SoundState.soundsOn);
  CheckMenuItem(cmd::MultipleThreads, Conti().multipleThreads);
  CheckMenuItem(1107, Conti().useMinimumS);  // "Minimum s-Value For log-Spaced Grid"
  CheckMenuItem(cmd::InfoAndWizardMessages, o.InfoWizardMessages);
  CheckMenuItem(cmd::Regularization2ndDerivative, false);
  CheckMenuItem(cmd::RegularizationMaxEnt, false);
  CheckMenuItem(cmd::ShowBothRegularizations, false);
  if (Conti().secondDerivative)
    CheckMenuItem(cmd::Regularization2ndDerivative, true);
  else if (Conti().maxEntropy)
    CheckMenuItem(cmd::RegularizationMaxEnt, true);
  else if (Conti().showBothRegularizations)
    CheckMenuItem(cmd::ShowBothRegularizations, true);
  CheckMenuItem(cmd::SimplexAlgorithm, false);
  CheckMenuItem(cmd::SimulatedAnnealing, false);
  CheckMenuItem(cmd::MarquardtLevenberg, false);
  if (gFitEngineState.useSimplex) CheckMenuItem(cmd::SimplexAlgorithm, true);
  if (gFitEngineState.useAnnealing) CheckMenuItem(cmd::SimulatedAnnealing, true);
  if (gFitEngineState.useMarquardt) CheckMenuItem(cmd::MarquardtLevenberg, true);
  if (o.AlwaysLoadG2m1) CheckMenuItem(cmd::AlwaysLoadG2m1, true);
  if (o.TimeStampCheck) CheckMenuItem(cmd::CheckElapsedTime, true);
  CheckMenuItem(cmd::FitMAndS, gFitEngineState.molarMassParameters);
  CheckMenuItem(cmd::DontLoadSpikes, CurrentDataTypeFlags().excludeSpikes);
  CheckMenuItem(cmd::FlagTooStrongGradients, CurrentDataTypeFlags().flagTooStrongGradients);
  CheckMenuItem(cmd::ErrorPropagationToSw, o.ErrorPropagationToSw);
  // The plots that start shown carry their marks from the start.
  const PlotWindowSet& plots = CurrentPlotWindows();
  CheckMenuItem(cmd::ShowData, plots.showData);
  CheckMenuItem(cmd::ShowResiduals, plots.showResiduals);
  CheckMenuItem(cmd::ShowResidualsBitmap, plots.showBitmap);

  CallService(Services().checkPlotHelpers, *this);
  if (CommandLineState().AutomationMode) return;

  o.ShowResidualsHistogram = false;
  CheckMenuItem(cmd::ShowResidualsHistogram, false);
  CallService(Services().relayoutAndRedrawPlots);
  CallService(Services().countSoundFiles);
  CallService(Services().playSoundHi);
  frame_->AcceptDroppedFiles(true);
}

bool TXLAWindow::LeaveUnsavedWork() {
  if (CommandLineState().AutomationMode || !WindowFlags().UnsavedFit) return true;
  return platform::UI().MessageBox("EXIT", "The last fit has not been saved.\nEnd the program all the same?",
                                   platform::BoxButtons::YesNoDefaultNo,
                                   platform::BoxIcon::Question) == platform::IDYES;
}

bool TXLAWindow::OnClose() { return LeaveUnsavedWork(); }

void TXLAWindow::CmExit() {
  if (HelpTest()) return;
  if (!LeaveUnsavedWork()) return;
  ExitProgram();
}

void TXLAWindow::ExitProgram() {
  if (CommandLineState().AutomationMode) CallService(Services().finishAutomation, *this);
  CallService(Services().freeLammArrays);
  CallService(Services().freeExtrapolationArrays);
  CallService(Services().freeScanData);
  platform::RequestQuit(0);
  CallService(Services().playSoundBye);
}

const CommandEntry* TXLAWindow::Find(int id) {
  const auto& table = CommandTable();
  auto it = std::find_if(table.begin(), table.end(),
                         [id](const CommandEntry& e) { return e.id == id; });
  return it == table.end() ? nullptr : &*it;
}

void TXLAWindow::Dispatch(int id) {
  const CommandEntry* entry = Find(id);
  if (!entry) return;  // ids without an entry (1114) do nothing
  ++dispatchDepth_;
  frame_->SetBusy(true);
  try {
    if (!(entry->helpTest && HelpTest())) {
      if (IsModelCommand(id))
        RunModelCommand(*this, id, [this, entry] { (this->*(entry->handler))(); });
      else
        (this->*(entry->handler))();
    }
  } catch (const platform::FatalError&) {
    // The fatal box has been shown and the quit requested; the failed
    // command ends here.
  }
  if (--dispatchDepth_ == 0) {
    frame_->SetBusy(false);
    // Presses queued for a computation that did not take them are stale now.
    platform::ReleaseInput();
    platform::ClearInput();
  }
}

bool TXLAWindow::HelpTest() {
  if (!HelpRequested) return false;
  CmHowToGetHelp();
  HelpRequested = false;
  return true;
}

void TXLAWindow::EvEnterIdle(int source, bool f1Down) {
  if (source != platform::MSGF_MENU || !f1Down) return;
  HelpRequested = true;
  // The highlighted item is chosen as if Enter had been pressed.
  frame_->ChooseHighlightedMenuItem();
}

void TXLAWindow::CmHelp() { CmHowToGetHelp(); }

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

void TXLAWindow::OnInputWhileBusy(bool key) {
  (void)key;
  // A press during Run or Fit asks the computation to stop.
  if (RunBusy || FitBusy) platform::RequestStopByUser();
}

void TXLAWindow::EvSize(int width, int height) {
  (void)width;
  (void)height;
  frame_->Invalidate(true);
}

