#pragma once
// The pointer mode that repairs whole-fringe jumps in one interference
// scan: a click on a point of the scan (data or residual plot) picks it and
// opens a zoomed 41-point window; keys place up to three jump points, each
// with a side and a shift, and move through the scans. Enter applies the
// jump points to the scan, Escape drops them.
#include <string>
#include <vector>

#include "data/fringe_jump_repair.h"
#include "data/mouse_actions.h"

class CMouseAction_FixPointScanFringeJump : public CMouseAction {
 public:
  void Begin() override;
  bool LButtonDown(MousePoint p) override;
  bool KeyDown(int key, int repeat, unsigned flags) override;
  void Finish() override;
  void End() override;

  void AllocateWork();
  // Frees the work copies; clears the jump radii and returns the focus to
  // jump point 1. Sides and shifts stay.
  void FreeWork();
  bool PickScanPoint(MousePoint p);
  void StepScan(int step);
  void UpdateFocus();
  void ApplyToWorkCopy();
  void ApplyToScan();
  void Draw();

  bool Picked() const { return currentScan > 0 && workPoints > 0; }
  const FringeJumpPoint& Jump(int k) const { return jumps[k - 1]; }

  // Work state.
  double currentRadius = 0;  // cm
  double currentSide = -1.0;
  double currentShift = -1.0;  // fringes
  int focusPoint = 0;          // point of the current scan, 1-based
  int currentScan = 0;         // 0 = none picked
  std::vector<float> workData, workResiduals;  // [1..workPoints]
  int workPoints = 0;
  FringeJumpWindow window;
  int focus = 1;  // which jump point follows the current values
  FringeJumpPoint jumps[3];
  int windowLength = 0;  // 41 while the work arrays exist

 private:
  void AskApplyAndStep(int step);
  // Copies the scan's signal and residuals into the work state.
  void LoadScan(int scan);
};
