// The three serial fits of the Fit menu: the window's side is the stand-in
// that lets automation/serial/ drive it (its commands, caption, text, xp
// loader, Monte-Carlo series and cursor).
#include "app/road_services.h"
#include "app/run_fit_commands.h"
#include "app/txla_window.h"
#include "app/window_services.h"
#include "automation/serial/serial_fit.h"
#include "data/load_hooks.h"
#include "distributions/monte_carlo.h"
#include "platform/frame_window.h"

namespace {

class WindowForSerialFit : public ISerialFitWindow {
 public:
  explicit WindowForSerialFit(TXLAWindow& w) : w_(w) {}
  void Command(int id) override { w_.Dispatch(id); }
  void SetCaption(const std::string& text) override { w_.Frame().SetTitle(text); }
  void DrawText(const std::string& text, int x, int y) override { CurrentLoadHooks().drawText(text, x, y); }
  bool LoadXpFile(const std::string& path) override {
    return Road().loadXpFile && Road().loadXpFile(path);
  }
  void RunMonteCarlo(int iterations, const std::string& prefix) override {
    PrepareContiContext(w_);
    RunMonteCarloDistributions(iterations, 0.68f, prefix, false);
  }
  void SetWaitCursor(bool wait) override {
    w_.Frame().SetCursor(wait ? platform::CursorKind::Wait : platform::CursorKind::Arrow);
  }
  void RequestRepaint() override { ::RequestRepaint(w_); }

 private:
  TXLAWindow& w_;
};

}  // namespace

void TXLAWindow::CmSerializeFitByCellOrDir() {
  WindowForSerialFit window(*this);
  SerializeFitByCellOrDir(window);
}

void TXLAWindow::CmSerializeFitByListFile() {
  WindowForSerialFit window(*this);
  SerializeFitByListFile(window);
}

void TXLAWindow::CmSerializeFitWithPeldoMonitoring() {
  WindowForSerialFit window(*this);
  SerializeFitWithPeldoMonitoring(window);
}
