#include "app/wiring/automation_window.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/commands/run_fit/run_fit_commands.h"
#include "app/window/main_window_flags.h"
#include "app/window/program_options.h"
#include "app/window/shell_services.h"
#include "app/window/thread_counts.h"
#include "app/window/txla_window.h"
#include "automation/automation_run.h"
#include "automation/commands.h"
#include "fit/fit_report.h"
#include "platform/bitmap.h"
#include "platform/frame_window.h"
#include "platform/paths.h"

namespace {

constexpr int kCmdDataRange = 518;
constexpr int kCmdShowLastFitInfo = 517;

class WindowForAutomation : public IAutomationWindow {
 public:
  explicit WindowForAutomation(TXLAWindow& w) : w_(w) {}
  void Command(int id) override { w_.Dispatch(id); }
  void SetCaption(const std::string& text) override { w_.Frame().SetTitle(text); }
  void RequestRepaint() override { w_.Frame().Invalidate(true); }
  void CheckMenuItem(int id, bool checked) override { w_.CheckMenuItem(id, checked); }
  void SwitchOffHelpMessages() override {
    Options().InfoWizardMessages = 0;
    w_.CheckMenuItem(cmd::InfoAndWizardMessages, false);
  }
  void SetShowResidualsHistogram(bool show) override {
    Options().ShowResidualsHistogram = show;
    w_.CheckMenuItem(cmd::ShowResidualsHistogram, show);
  }
  void SetLammThreadCount(int threads) override { SetLammEquationThreads(threads); }
  void RelayoutAndRedrawPlots() override { CallService(Services().relayoutAndRedrawPlots); }
  void ShowDataRange() override { w_.Dispatch(kCmdDataRange); }
  void ShowLastFitInfo() override { w_.Dispatch(kCmdShowLastFitInfo); }
  std::vector<std::string> FitNotes() override {
    std::vector<std::string> notes;
    for (std::string line : LastFitInfoLines().line) {
      line.erase(line.find_last_not_of(' ') + 1);
      if (!line.empty()) notes.push_back(line);
    }
    for (const std::string& note : ResidualNotes()) notes.push_back("[Help Wizard] " + note);
    return notes;
  }
  bool CaptureClientArea(platform::Bitmap& out) override {
    platform::IFrameWindow& frame = w_.Frame();
    const int width = frame.ClientWidth() > 0 ? frame.ClientWidth() : 1000;
    const int height = frame.ClientHeight() > 0 ? frame.ClientHeight() : 700;
    // The window paints itself into an image of its client area, shown or
    // not. The scratch file is created here, new and ours alone, so that
    // nothing another user placed in the temporary folder is written through;
    // the process id names the run it belongs to among parallel runs.
    std::string scratch = platform::ToNative(platform::SystemTempFolder()) + "tarnel_screenshot_" +
                          std::to_string(getpid()) + "_XXXXXX.bmp";
    const int fd = mkstemps(scratch.data(), 4);
    if (fd < 0) return false;
    close(fd);
    // The picture is painted anew for the file: the report shown just
    // before goes on top of it again, as it stood in the window.
    WindowFlags().FitInfoPending = true;
    const bool painted = frame.SaveClientImage(scratch, width, height) &&
                         platform::LoadBmp(scratch, out);
    std::remove(scratch.c_str());
    return painted && !out.Empty();
  }
  void Exit() override { w_.CmExit(); }

 private:
  TXLAWindow& w_;
};

}  // namespace

void TXLAWindow::CmFinishAutomation() {
  WindowForAutomation window(*this);
  FinishAutomation(window, true);
}

void InstallAutomationServices(ShellServices& s) {
  ConnectSavedParamsToDistributions();
  s.takeAutomationCommandLine = [](int argCount, char** argCopies) {
    return TakeAutomationCommandLine(argCount, argCopies);
  };
  s.runAutomationAtStartup = [](TXLAWindow& w) {
    WindowForAutomation window(w);
    return RunAutomationAtStartup(window);
  };
  s.finishAutomation = [](TXLAWindow& w) {
    if (CurrentAutomationState().automationFinished) return;
    WindowForAutomation window(w);
    FinishAutomation(window, false);
  };
}
