#include "data/mouse_action_scratch.h"

#include <cstdio>
#include <string>
#include <utility>

#include "data/load_hooks.h"
#include "data/scan_grid.h"
#include "data/scan_repair_hooks.h"
#include "data/scan_set.h"
#include "platform/frame_window.h"
#include "platform/user_interface.h"
#include "platform/window_messages.h"

namespace {

// A limit not set yet (0) does not limit.
bool InsideFitLimits(const ScanSet& s, double r) {
  return !(s.leftFitLimit != 0 && r < s.leftFitLimit) && !(s.rightFitLimit != 0 && r > s.rightFitLimit);
}

}  // namespace

// ---- one radius, all scans

void CMouseAction_FixScratchJump::Begin() { state = RadiusJumpState{}; }

bool CMouseAction_FixScratchJump::LocatePosition(MousePoint p) {
  const ScanSet& s = CurrentScanSet();
  double r0 = 0;
  if (!RepairHooks().residualPlotRadius || !RepairHooks().residualPlotRadius(p.x, p.y, r0)) return false;
  if (!InsideFitLimits(s, r0)) return false;
  RadiusJumpState located;
  if (!LocateRadiusJump(s, r0, RadiusJumpDistance(), located)) return false;
  state = std::move(located);
  return true;
}

void CMouseAction_FixScratchJump::Draw() {
  if (state.count > 0 && RepairHooks().drawRadiusJump) RepairHooks().drawRadiusJump(state);
}

void CMouseAction_FixScratchJump::DrawWithDistance() {
  Draw();
  const ScanSet& s = CurrentScanSet();
  if (state.count < 1 || state.right[1] < 1) return;
  char line[80];
  std::snprintf(line, sizeof line, "dr = %f      ", s.radii[1][state.right[1]] - state.position);
  RepairText(line, 10, 70);
}

bool CMouseAction_FixScratchJump::LButtonDown(MousePoint p) {
  if (!active) return false;
  // A click beside the residual plot or the fit limits keeps what was
  // located before; it is still the mode's click.
  if (LocatePosition(p)) DrawWithDistance();
  return true;
}

bool CMouseAction_FixScratchJump::KeyDown(int key, int, unsigned) {
  if (!active || state.count <= 0) return false;
  switch (key) {
    case platform::VK_LEFT:
    case platform::VK_RIGHT:
      // A step that would leave any scan's points is ignored.
      if (MoveRadiusJump(CurrentScanSet(), key == platform::VK_LEFT ? -1 : 1, state)) DrawWithDistance();
      return true;
    case platform::VK_ESCAPE: return DiscardMode(*this);
    default: return false;
  }
}

void CMouseAction_FixScratchJump::Finish() {
  Draw();
  if (ApplyRadiusJump(CurrentScanSet(), state) > 0 && RepairHooks().scansChanged) RepairHooks().scansChanged();
  PrepareScanGrid();
  if (RepairAskYesNo("save scan data?")) CurrentLoadHooks().saveRawDataSet();
  state = RadiusJumpState{};
}

void CMouseAction_FixScratchJump::End() { state = RadiusJumpState{}; }

// ---- scratch tracking

void CMouseAction_TrackScratch::Begin() {
  located = false;
  tracker.FreeWork();
  tracker.BeginStore(CurrentScanSet().count);
}

bool CMouseAction_TrackScratch::LocateScratch(MousePoint p) {
  const ScanSet& s = CurrentScanSet();
  double r = 0;
  if (!RepairHooks().dataPlotRadius || !RepairHooks().dataPlotRadius(p.x, p.y, r)) return false;
  if (!InsideFitLimits(s, r)) return false;
  const ScratchTrackerSettings& settings = CurrentScratchTrackerSettings();
  ScratchWindowResult result = tracker.PrepareWindow(s, settings.windowWidth, settings.randomizeShift);
  if (result == ScratchWindowResult::Ok) result = tracker.SetPosition(r);
  switch (result) {
    case ScratchWindowResult::Ok: break;
    case ScratchWindowResult::OutsideFitLimits: tracker.FreeWork(); return false;
    case ScratchWindowResult::PastGrid:
      platform::Tell(
          "TRACK SCRATCH",
          "the window around this radius reaches past the end of the radial grid - please click farther inside");
      tracker.FreeWork();
      return false;
    case ScratchWindowResult::TooFewPoints:
      platform::Tell("TRACK SCRATCH",
                     "the window width covers fewer than 5 grid points - please choose a wider window");
      tracker.FreeWork();
      return false;
    case ScratchWindowResult::TooFewScans:
      platform::Tell("TRACK SCRATCH", "tracking a scratch needs at least 2 scans");
      tracker.FreeWork();
      return false;
  }
  const double e = tracker.OptimizeShifts();
  char line[80];
  std::snprintf(line, sizeof line, "rmsd = %f             ", e / 1000.0);
  RepairText(line, 10, 50);
  if (RepairHooks().drawScratchTrack) RepairHooks().drawScratchTrack(tracker);
  return true;
}

bool CMouseAction_TrackScratch::LButtonDown(MousePoint p) {
  if (!active) return false;
  if (LocateScratch(p)) {
    located = true;
    char line[80];
    std::snprintf(line, sizeof line, "press 'y' or 'n' to store scratch as #%d        ", tracker.StoredCount() + 1);
    RepairText(line, 10, 70);
  }
  return true;
}

bool CMouseAction_TrackScratch::KeyDown(int key, int, unsigned) {
  if (!active || !located) return false;
  switch (key) {
    case 'Y':
      RepairText("use left mouse button to locate next scratch      ", 10, 70);
      if (tracker.HasWork() && tracker.StoreFull())
        platform::Tell("TRACK SCRATCH", "the scratch store is full (99 scratches) - press RETURN to save them");
      else
        tracker.StoreScratch();
      tracker.FreeWork();
      return true;
    case 'N':
      RepairText("use left mouse button to locate next scratch      ", 10, 70);
      tracker.FreeWork();
      return true;
    case platform::VK_RETURN:
      tracker.FreeWork();
      Deactivate();
      Reset();
      Finish();
      return true;
    case platform::VK_ESCAPE: return DiscardMode(*this);
    default: return false;
  }
}

bool CMouseAction_TrackScratch::SaveScratchData() {
  if (tracker.StoredCount() <= 0) return false;
  platform::FileDialogRequest request;
  request.save = true;
  request.title = "save scratch data in file";
  request.presetName = "scratch";
  request.filters = {{"*.scratch", "*.scratch"}};
  request.defaultExtension = "scratch";
  request.initialFolder = CurrentScanSet().dataFolder;
  const platform::FileDialogResult chosen = platform::UI().FileDialog(request);
  if (!chosen.accepted || chosen.paths.empty()) return false;
  return tracker.WriteScratchFile(chosen.paths.front());
}

void CMouseAction_TrackScratch::Finish() {
  SaveScratchData();
  if (tracker.StoredCount() > 0 && RepairHooks().plotScratches) {
    // The repaint that ended the mode comes first, so that the plot stays.
    if (owner) owner->Update();
    RepairHooks().plotScratches(tracker);
  }
  tracker.FreeStore();
  located = false;
}

void CMouseAction_TrackScratch::End() {
  tracker.FreeWork();
  tracker.FreeStore();
  located = false;
}
