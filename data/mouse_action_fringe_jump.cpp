#include "data/mouse_action_fringe_jump.h"

#include <algorithm>
#include <cstdio>

#include "data/load_hooks.h"
#include "data/scan_grid.h"
#include "data/scan_repair_hooks.h"
#include "data/scan_set.h"
#include "platform/window_messages.h"

void CMouseAction_FixPointScanFringeJump::Begin() { AllocateWork(); }

void CMouseAction_FixPointScanFringeJump::AllocateWork() {
  FreeWork();
  windowLength = kFringeJumpWindowLength;
}

void CMouseAction_FixPointScanFringeJump::FreeWork() {
  workData.clear();
  workResiduals.clear();
  workPoints = 0;
  currentScan = 0;
  window = FringeJumpWindow{};
  windowLength = 0;
  for (FringeJumpPoint& j : jumps) j.radius = 0;
  focus = 1;
}

bool CMouseAction_FixPointScanFringeJump::LButtonDown(MousePoint p) {
  AllocateWork();
  if (PickScanPoint(p)) {
    UpdateFocus();
    Draw();
    return true;
  }
  FreeWork();
  return false;
}

bool CMouseAction_FixPointScanFringeJump::PickScanPoint(MousePoint p) {
  const ScanSet& s = CurrentScanSet();
  int scan = 0, point = 0;
  if (!RepairHooks().pickScanPoint || !RepairHooks().pickScanPoint(p.x, p.y, scan, point)) return false;
  if (scan < 1 || scan > s.count || !s.signals[scan]) return false;
  focusPoint = point;
  LoadScan(scan);
  return true;
}

void CMouseAction_FixPointScanFringeJump::LoadScan(int scan) {
  const ScanSet& s = CurrentScanSet();
  currentScan = scan;
  workPoints = s.points[scan];
  workData.assign(s.signals[scan], s.signals[scan] + workPoints + 1);
  if (s.residuals[scan])
    workResiduals.assign(s.residuals[scan], s.residuals[scan] + workPoints + 1);
  else
    workResiduals.assign(static_cast<std::size_t>(workPoints) + 1, 0.0f);
  UpdateFocus();
}

void CMouseAction_FixPointScanFringeJump::UpdateFocus() {
  if (!Picked()) return;
  const ScanSet& s = CurrentScanSet();
  focusPoint = std::clamp(focusPoint, 1, workPoints);
  currentRadius = s.radii[currentScan][focusPoint];
  jumps[focus - 1] = {currentRadius, currentSide, currentShift};
  ComputeFringeJumpWindow(s.radii[currentScan], workData.data(), workResiduals.data(), workPoints, focusPoint,
                          FringeJumpPoint{currentRadius, currentSide, currentShift}, window);
}

void CMouseAction_FixPointScanFringeJump::ApplyToWorkCopy() {
  if (!Picked()) return;
  const float* radii = CurrentScanSet().radii[currentScan];
  ApplyFringeJumpPoints(radii, workData.data(), workPoints, jumps, 3);
  ApplyFringeJumpPoints(radii, workResiduals.data(), workPoints, jumps, 3);
}

void CMouseAction_FixPointScanFringeJump::ApplyToScan() {
  if (!Picked()) return;
  ScanSet& s = CurrentScanSet();
  // The residuals keep the fit's values; only the signal is repaired.
  ApplyFringeJumpPoints(s.radii[currentScan], s.signals[currentScan], s.points[currentScan], jumps, 3);
}

void CMouseAction_FixPointScanFringeJump::StepScan(int step) {
  const ScanSet& s = CurrentScanSet();
  const int next = currentScan + step;
  if (next < 1 || next > s.count || !s.signals[next]) return;
  LoadScan(next);
}

void CMouseAction_FixPointScanFringeJump::Draw() {
  if (!Picked()) return;
  if (RepairHooks().drawFringeJump) RepairHooks().drawFringeJump(*this);
  const ScanSet& s = CurrentScanSet();
  char line[400];
  std::snprintf(line, sizeof line, "scan %s, r = %f cm     ", s.fileNames[currentScan].c_str(), currentRadius);
  RepairText(line, 10, 20);
  RepairText("current residuals(circles) and data (lines) are black/gray, corrected red/magenta", 10, 45);
  RepairText("press L (fix to left) R (fix to right), up/down to increase/decrease, left/right to move", 10, 70);
  std::snprintf(line, sizeof line, "press '1', '2', '3' key to add/modify jump point (current focus #%d)", focus);
  RepairText(line, 10, 95);
  RepairText("press 'N' or 'P' for next or previous scan (asks to apply first), RETURN to apply to this scan "
             "and end, ESC to end without applying",
             10, 120);
}

void CMouseAction_FixPointScanFringeJump::AskApplyAndStep(int step) {
  char text[400];
  std::snprintf(text, sizeof text, "apply changes to %s?", CurrentScanSet().fileNames[currentScan].c_str());
  if (RepairAskYesNo(text)) {
    ApplyToScan();
    if (RepairHooks().scansChanged) RepairHooks().scansChanged();
  }
  StepScan(step);
}

bool CMouseAction_FixPointScanFringeJump::KeyDown(int key, int, unsigned) {
  if (!active || !Picked()) return false;
  switch (key) {
    case 'N': AskApplyAndStep(+1); break;
    case 'P': AskApplyAndStep(-1); break;
    case platform::VK_LEFT: --focusPoint; break;
    case platform::VK_RIGHT: ++focusPoint; break;
    case platform::VK_UP: currentShift += 1.0; break;
    case platform::VK_DOWN: currentShift -= 1.0; break;
    case '1':
    case '2':
    case '3':
      ApplyToWorkCopy();
      focus = key - '0';
      break;
    case 'L': currentSide = -1.0; break;
    case 'R': currentSide = 1.0; break;
    case platform::VK_ESCAPE: return DiscardMode(*this);
    default: return false;
  }
  UpdateFocus();
  Draw();
  return true;
}

void CMouseAction_FixPointScanFringeJump::Finish() {
  const bool changed = Picked();
  const std::string scan = changed ? CurrentScanSet().fileNames[currentScan] : std::string();
  ApplyToScan();
  PrepareScanGrid();
  if (changed && RepairHooks().scansChanged) RepairHooks().scansChanged();
  // The question says what the scans in memory now hold.
  const std::string question = changed ? "the fringe jump repair was applied to " + scan + "\nsave scan data?"
                                       : "no scan was picked: nothing was applied\nsave scan data?";
  if (RepairAskYesNo(question.c_str())) CurrentLoadHooks().saveRawDataSet();
  FreeWork();
}

void CMouseAction_FixPointScanFringeJump::End() { FreeWork(); }
