// The window's core: its menus' check marks, the dispatch through the table
// it was handed, the help test, exit, and the window-wide records. It calls
// nothing above it; the window as the program makes it (constructor, event
// routing) is assembled in app/wiring/main_window.cpp.
#include "app/window/txla_window.h"

#include <algorithm>

#include "app/window/main_window_flags.h"
#include "app/window/program_options.h"
#include "app/window/shell_services.h"
#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "distributions/model_entries.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "platform/fatal_error.h"
#include "platform/input_events.h"
#include "platform/sounds.h"
#include "platform/window_messages.h"
#include "plot/plot_window_set.h"
#include "plot/text_in_place.h"
#include "platform/draw_surface.h"

CommandLineFlags& CommandLineState() {
  static CommandLineFlags flags;
  return flags;
}

std::string& LastDataFolder() {
  static std::string folder;
  return folder;
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

const CommandEntry* FindCommandEntry(const std::vector<CommandEntry>& table, int id) {
  auto it = std::find_if(table.begin(), table.end(),
                         [id](const CommandEntry& e) { return e.id == id; });
  return it == table.end() ? nullptr : &*it;
}

void TXLAWindow::Dispatch(int id) {
  const CommandEntry* entry = commands_.table ? FindCommandEntry(*commands_.table, id) : nullptr;
  if (!entry) return;  // ids without an entry (1114) do nothing
  ++dispatchDepth_;
  const int outer = commandInHand_;
  commandInHand_ = id;
  frame_->SetBusy(true);
  // What the user entered and the model stand as they were when a command
  // ends on a routine's failure.
  const ModelParams modelBefore = gModelParams;
  const ModelParameterVector entriesBefore = gModelParameterVector;
  const SolutionConditions conditionsBefore = gSolutionConditions;
  try {
    if (!(entry->helpTest && HelpTest())) {
      if (IsModelCommand(id))
        commands_.runModelCommand(*this, id, [this, entry] { (this->*(entry->handler))(); });
      else
        (this->*(entry->handler))();
    }
  } catch (const platform::FatalError&) {
    // The fatal box has been shown and the quit requested; the failed
    // command ends here.
  } catch (const platform::CommandFailure&) {
    // A numerical routine could not go on with what the data gave it: its
    // box has been shown, the command ends here and the program goes on.
    gModelParams = modelBefore;
    gModelParameterVector = entriesBefore;
    gSolutionConditions = conditionsBefore;
    platform::StopFlag() = false;
  }
  commandInHand_ = outer;
  if (--dispatchDepth_ == 0) {
    frame_->SetBusy(false);
    // Presses queued for a computation that did not take them are stale now.
    platform::ReleaseInput();
    platform::ClearInput();
  }
}

bool TXLAWindow::HelpTest() {
  if (!HelpRequested) return false;
  // The help prompt is the table's own entry.
  if (commands_.table)
    if (const CommandEntry* help = FindCommandEntry(*commands_.table, cmd::HowToGetHelp))
      (this->*(help->handler))();
  HelpRequested = false;
  return true;
}

void TXLAWindow::EvEnterIdle(int source, bool f1Down) {
  if (source != platform::MSGF_MENU || !f1Down) return;
  HelpRequested = true;
  // The highlighted item is chosen as if Enter had been pressed.
  frame_->ChooseHighlightedMenuItem();
}

void TXLAWindow::OnInputWhileBusy(bool key) {
  (void)key;
  // A press during Run or Fit asks the computation to stop.
  if (RunBusy || FitBusy) platform::RequestStopByUser();
}

void TXLAWindow::OnBoxWhileBusy() {
  // The profiles a Lamm solver drew over the data while it ran fill the plot
  // (hundreds of grid points of a distribution, black from the fifth on):
  // under a box of the computation (the regularisation's note, the stop of
  // a Run) the window shows the picture they were drawn over, without the
  // progress lines. The new picture waits for the paint after the command.
  MainWindowFlags& flags = WindowFlags();
  platform::DrawSurface* surface = frame_->Surface();
  if (!flags.SolverCurvesOverData || !surface) return;
  flags.SolverCurvesOverData = false;
  EraseTextsInPlace(*surface);
  surface->PastePixels(flags.UnderSolverCurves, 0, 0);
  flags.UnderSolverCurves = platform::Bitmap();
  frame_->FlushCanvas();
}

void TXLAWindow::EvSize(int width, int height) {
  (void)width;
  (void)height;
  frame_->Invalidate(true);
}

