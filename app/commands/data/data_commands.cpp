// Data-menu commands that follow a running experiment and repair scan
// times: "Realtime Update of Files" with its timer, "Stop Realtime Update"
// and "Restore Time and w^2t Entries". The data layer does the work; the
// window keeps the timer, the menu mark and the cursor.
#include "app/window/main_window_flags.h"
#include "app/window/txla_window.h"
#include "data/load_hooks.h"
#include "data/realtime_update.h"
#include "data/scan_set.h"
#include "data/time_stamps.h"
#include "plot/text_in_place.h"
#include "platform/draw_surface.h"
#include "platform/fatal_error.h"
#include "platform/input_events.h"

void TXLAWindow::CmRealtimeUpdate() {
  RealtimeState& rt = CurrentRealtimeState();
  if (CurrentScanSet().count <= 0 || rt.running) return;
  CheckMenuItem(540, true);
  Frame().SetCursor(platform::CursorKind::Wait);
  if (!RealtimeStart()) {
    CheckMenuItem(540, false);
    Frame().SetCursor(platform::CursorKind::Arrow);
    return;
  }
  RunState().RealtimeUpdateRunning = true;
  Frame().SetTimer(static_cast<int>(rt.timerId), static_cast<int>(rt.timerInterval));
}

void TXLAWindow::CmStopRealtimeUpdate() {
  RealtimeState& rt = CurrentRealtimeState();
  Frame().KillTimer(static_cast<int>(rt.timerId));
  if (rt.running) RealtimeStop();
  RunState().RealtimeUpdateRunning = false;
  Frame().SetCursor(platform::CursorKind::Arrow);
  CheckMenuItem(540, false);
}

void TXLAWindow::EvTimer(int id) {
  RealtimeState& rt = CurrentRealtimeState();
  if (id != static_cast<int>(rt.timerId) || !rt.running) return;
  // A tick that arrives while a command computes (a Run, a Fit or a dialog
  // pumping messages) waits for the next one: loading now would free the
  // scans under the computation. So does a tick while the previous one still
  // loads (a box it shows lets the timer through).
  static bool ticking = false;
  if (dispatchDepth_ > 0 || RunBusy || FitBusy || DialogOpen || ticking) return;
  bool goesOn = false;
  {
    struct Ticking {
      Ticking() { ticking = true; }
      ~Ticking() { ticking = false; }
    } guard;
    // As for a command: input during the tick is queued for it (a key there
    // stops the update) instead of reaching the window's handlers.
    struct BusyFrame {
      platform::IFrameWindow& frame;
      bool was;
      explicit BusyFrame(platform::IFrameWindow& f) : frame(f), was(f.Busy()) { frame.SetBusy(true); }
      ~BusyFrame() { frame.SetBusy(was); }
    } busy(Frame());
    try {
      goesOn = RealtimeTick(static_cast<unsigned>(id));
    } catch (const platform::FatalError&) {
      // The fatal box has been shown and the quit requested, as for a command.
      goesOn = false;
    } catch (const platform::CommandFailure&) {
      // A routine failed on the new scans: the update ends, its box shown.
      goesOn = false;
    }
  }
  if (!goesOn) {
    // The data layer stopped the update (key press, fit stop, load error) or
    // a fatal error ended the tick; the window's share of stopping remains.
    CmStopRealtimeUpdate();
    return;
  }
  // The rerun's picture first, then the two status lines right of the fit
  // report.
  Frame().Update();
  Frame().SetCursor(platform::CursorKind::Wait);
  // Where the screen paint writes them.
  platform::DrawSurface* surface = Frame().Surface();
  if (!surface) return;
  {
    auto dc = surface->ClientDC();
    DrawReportTextInPlace(*surface, *dc, 500, 30, rt.statusLine1);
    DrawReportTextInPlace(*surface, *dc, 500, 50, rt.statusLine2);
  }
  Frame().FlushCanvas();
}

void TXLAWindow::CmRestoreTimeAndW2t() { ::CmRestoreTimeAndW2t(); }
