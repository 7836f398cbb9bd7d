#pragma once
// The two pointer modes that work on all scans at one clicked radius:
// - CMouseAction_FixScratchJump: a defect at one radius makes some scans
//   jump by a whole fringe there; the residuals just left and right of it
//   tell which, the arrows refine the radius, Enter repairs.
// - CMouseAction_TrackScratch: a click fits the radial shift of every scan
//   that lines up a noise feature near it (CScratchTracker); 'y' keeps the
//   result, 'n' drops it, Enter writes the kept ones to a file and plots
//   them, Escape drops everything.
#include "data/fringe_jump_repair.h"
#include "data/mouse_actions.h"
#include "data/scratch_tracker.h"

class CMouseAction_FixScratchJump : public CMouseAction {
 public:
  void Begin() override;
  bool LButtonDown(MousePoint p) override;
  bool KeyDown(int key, int repeat, unsigned flags) override;
  void Finish() override;
  void End() override;

  bool LocatePosition(MousePoint p);
  void Draw();

  RadiusJumpState state;

 private:
  void DrawWithDistance();
};

class CMouseAction_TrackScratch : public CMouseAction {
 public:
  void Begin() override;
  bool LButtonDown(MousePoint p) override;
  bool KeyDown(int key, int repeat, unsigned flags) override;
  void Finish() override;
  void End() override;

  bool LocateScratch(MousePoint p);
  // Writes the stored scratches to a file the user names; false when
  // nothing is stored, the dialog is cancelled or the file fails.
  bool SaveScratchData();

  CScratchTracker tracker;
  bool located = false;  // a click has been examined since the mode began
};
