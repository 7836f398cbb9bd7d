#pragma once
// Pointer modes: while one is active, clicks and keys on the main window do
// not reach the window's own handlers but drive an interactive repair of
// the loaded scans. One mode at most is active; it ends by applying its work
// (finish) or by discarding it (end). The window offers every event to the
// dispatch functions below first and goes on only when none took it.
#include <cstdint>
#include <functional>
#include <memory>

namespace platform {
class IFrameWindow;
}

// A pointer position in the owner's client pixels.
struct MousePoint {
  int x = 0, y = 0;
};

class CMouseAction {
 public:
  CMouseAction() = default;
  virtual ~CMouseAction();
  CMouseAction(const CMouseAction&) = delete;
  CMouseAction& operator=(const CMouseAction&) = delete;

  // Ends every registered mode (this one too), then takes the pointer:
  // cross cursor, active, no events counted. Without an owner the mode
  // stays idle.
  virtual void Activate();
  virtual void Begin() {}
  // Arrow cursor and a full repaint, which removes what the mode drew.
  virtual void Deactivate();
  virtual void Reset() {}
  virtual void Finish() {}  // apply the work
  virtual void End() {}     // discard the work
  // True when the event was consumed. A mode that only overrides the left
  // press gets right presses and double clicks through it.
  virtual bool LButtonDown(MousePoint) { return active != 0; }
  virtual bool LButtonUp(MousePoint) { return active != 0; }
  virtual bool LButtonDblClk(MousePoint p) { return LButtonDown(p); }
  virtual bool RButtonDown(MousePoint p) { return LButtonDown(p); }
  virtual bool RButtonUp(MousePoint) { return active != 0; }
  virtual bool RButtonDblClk(MousePoint p) { return LButtonDown(p); }
  virtual bool MouseMove(MousePoint) { return false; }
  virtual bool KeyDown(int key, int repeat, unsigned flags);

  std::uint8_t active = 0;
  std::int32_t eventCount = 0;  // mouse events consumed since activation
  platform::IFrameWindow* owner = nullptr;
};

// The modes in their fixed order, numbered from 1: the scratch tracker, the
// jump at one radius in all scans, the fringe jump in a single scan.
constexpr int kTrackScratchAction = 1;
constexpr int kFixScratchJumpAction = 2;
constexpr int kFixPointScanFringeJumpAction = 3;

struct MouseActionRegistry {
  static constexpr int count = 3;
  std::unique_ptr<CMouseAction> entries[count + 1];  // [0] unused
};
MouseActionRegistry& MouseActions();

// Makers of the three modes; an empty one leaves a mode that takes nothing
// (it never becomes active without an owner's scans and does no work).
struct MouseActionMakers {
  std::function<std::unique_ptr<CMouseAction>()> trackScratch;
  std::function<std::unique_ptr<CMouseAction>()> fixScratchJump;
  std::function<std::unique_ptr<CMouseAction>()> fixPointScanFringeJump;
};
MouseActionMakers& MouseActionFactories();

// Fills the registry (once per window) and sets the owner of every entry.
void CreateMouseActions(platform::IFrameWindow* owner);

// Each offers the event to the active modes in registry order; the first
// that consumes it has its event count raised (not for keys).
bool MouseActionsLButtonDown(MousePoint p);
bool MouseActionsLButtonUp(MousePoint p);
bool MouseActionsLButtonDblClk(MousePoint p);
bool MouseActionsRButtonDown(MousePoint p);
bool MouseActionsRButtonUp(MousePoint p);
bool MouseActionsRButtonDblClk(MousePoint p);
bool MouseActionsMouseMove(MousePoint p);
bool MouseActionsKeyDown(int key, int repeat, unsigned flags);
// The first active mode: deactivated, reset and ended (discarded) or
// finished (applied); true when there was one.
bool MouseActionsEndActive();
bool MouseActionsFinishActive();
// Every mode, active or not: deactivated and ended.
void MouseActionsEndAll();

// Start a mode when scans are loaded: Activate, then Begin.
void StartTrackScratch();
void StartFixScratchJump();
void StartFixPointScanFringeJump();
