#include "data/mouse_actions.h"

#include <utility>

#include "data/scan_set.h"
#include "platform/frame_window.h"

CMouseAction::~CMouseAction() { owner = nullptr; }

void CMouseAction::Activate() {
  MouseActionsEndAll();
  if (!owner) return;
  owner->SetCursor(platform::CursorKind::Cross);
  active = 1;
  eventCount = 0;
}

void CMouseAction::Deactivate() {
  if (!active) return;
  active = 0;
  if (!owner) return;
  owner->SetCursor(platform::CursorKind::Arrow);
  owner->Invalidate(true);
}

bool CMouseAction::KeyDown(int, int, unsigned) { return false; }

MouseActionRegistry& MouseActions() {
  static MouseActionRegistry registry;
  return registry;
}

MouseActionMakers& MouseActionFactories() {
  static MouseActionMakers makers;
  return makers;
}

void CreateMouseActions(platform::IFrameWindow* owner) {
  MouseActionRegistry& r = MouseActions();
  const MouseActionMakers& m = MouseActionFactories();
  auto make = [](const std::function<std::unique_ptr<CMouseAction>()>& maker) {
    std::unique_ptr<CMouseAction> action = maker ? maker() : nullptr;
    return action ? std::move(action) : std::make_unique<CMouseAction>();
  };
  r.entries[kTrackScratchAction] = make(m.trackScratch);
  r.entries[kFixScratchJumpAction] = make(m.fixScratchJump);
  r.entries[kFixPointScanFringeJumpAction] = make(m.fixPointScanFringeJump);
  for (int i = 1; i <= MouseActionRegistry::count; ++i) r.entries[i]->owner = owner;
}

namespace {

template <typename Offer>
bool Dispatch(Offer offer, bool counts) {
  MouseActionRegistry& r = MouseActions();
  for (int i = 1; i <= MouseActionRegistry::count; ++i) {
    CMouseAction* a = r.entries[i].get();
    if (!a || !a->active || !offer(*a)) continue;
    if (counts) ++a->eventCount;
    return true;
  }
  return false;
}

CMouseAction* FirstActive() {
  MouseActionRegistry& r = MouseActions();
  for (int i = 1; i <= MouseActionRegistry::count; ++i)
    if (r.entries[i] && r.entries[i]->active) return r.entries[i].get();
  return nullptr;
}

void Start(int entry) {
  if (CurrentScanSet().count <= 0) return;
  CMouseAction* a = MouseActions().entries[entry].get();
  if (!a) return;
  a->Activate();
  a->Begin();
}

}  // namespace

bool MouseActionsLButtonDown(MousePoint p) {
  return Dispatch([p](CMouseAction& a) { return a.LButtonDown(p); }, true);
}
bool MouseActionsLButtonUp(MousePoint p) {
  return Dispatch([p](CMouseAction& a) { return a.LButtonUp(p); }, true);
}
bool MouseActionsLButtonDblClk(MousePoint p) {
  return Dispatch([p](CMouseAction& a) { return a.LButtonDblClk(p); }, true);
}
bool MouseActionsRButtonDown(MousePoint p) {
  return Dispatch([p](CMouseAction& a) { return a.RButtonDown(p); }, true);
}
bool MouseActionsRButtonUp(MousePoint p) {
  return Dispatch([p](CMouseAction& a) { return a.RButtonUp(p); }, true);
}
bool MouseActionsRButtonDblClk(MousePoint p) {
  return Dispatch([p](CMouseAction& a) { return a.RButtonDblClk(p); }, true);
}
bool MouseActionsMouseMove(MousePoint p) {
  return Dispatch([p](CMouseAction& a) { return a.MouseMove(p); }, true);
}
bool MouseActionsKeyDown(int key, int repeat, unsigned flags) {
  return Dispatch([=](CMouseAction& a) { return a.KeyDown(key, repeat, flags); }, false);
}

bool MouseActionsEndActive() {
  CMouseAction* a = FirstActive();
  if (!a) return false;
  a->Deactivate();
  a->Reset();
  a->End();
  return true;
}

bool MouseActionsFinishActive() {
  CMouseAction* a = FirstActive();
  if (!a) return false;
  a->Deactivate();
  a->Reset();
  a->Finish();
  return true;
}

void MouseActionsEndAll() {
  MouseActionRegistry& r = MouseActions();
  for (int i = 1; i <= MouseActionRegistry::count; ++i) {
    if (!r.entries[i]) continue;
    r.entries[i]->Deactivate();
    r.entries[i]->End();
  }
}

void StartTrackScratch() { Start(kTrackScratchAction); }
void StartFixScratchJump() { Start(kFixScratchJumpAction); }
void StartFixPointScanFringeJump() { Start(kFixPointScanFringeJumpAction); }
