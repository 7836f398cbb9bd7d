#include "platform/frame_window.h"

#include <algorithm>
#include <atomic>

#include "platform/bitmap.h"
#include "platform/clipboard.h"
#include "platform/user_interface.h"
#include "platform/window_messages.h"

namespace platform {

int TwoButtonAnswer(int boxAnswer) {
  return boxAnswer == IDOK || boxAnswer == IDCANCEL ? boxAnswer : kDialogDismissed;
}

void HeadlessFrameWindow::Create() {
  created_ = true;
  events_.SetupWindow();
}

void HeadlessFrameWindow::ChooseHighlightedMenuItem() {
  const int id = highlightedItem;
  highlightedItem = 0;
  if (id != 0) events_.OnCommand(id);
}

void HeadlessFrameWindow::Resize(int clientWidth, int clientHeight) {
  width_ = clientWidth;
  height_ = clientHeight;
  events_.OnSize(width_, height_);
}

void HeadlessFrameWindow::Invalidate(bool erase) {
  ++invalidations;
  invalid = true;
  pendingErase = pendingErase || erase;
}

void HeadlessFrameWindow::Update() {
  if (!invalid) return;
  const bool erase = pendingErase;
  invalid = false;
  pendingErase = false;
  ++paints;
  events_.OnPaint(erase);
}

void HeadlessFrameWindow::SetTimer(int id, int milliseconds) {
  KillTimer(id);
  timers.emplace_back(id, milliseconds);
}

void HeadlessFrameWindow::KillTimer(int id) {
  timers.erase(std::remove_if(timers.begin(), timers.end(),
                              [id](const auto& t) { return t.first == id; }),
               timers.end());
}

bool HeadlessFrameWindow::SaveClientImage(const std::string& path, int width, int height) {
  // Without a display there are no pixels: a white bitmap of the size asked
  // for keeps callers that expect the file going.
  if (!SaveBmp(Bitmap(width, height), path)) return false;
  savedImages.push_back(path);
  return true;
}

bool HeadlessFrameWindow::CopyClientToClipboard() {
  ++clipboardCopies;
  return Clipboard().SetBitmap(Bitmap(width_, height_));
}

int HeadlessFrameWindow::RunTwoButtonDialog(const std::string& caption, const std::string& text,
                                            const std::string& okText,
                                            const std::string& cancelText) {
  // Without a display the question goes to the program's user interface,
  // where a script or the automatic answers take it.
  (void)okText;
  (void)cancelText;
  return TwoButtonAnswer(UI().MessageBox(caption, text, BoxButtons::OkCancel, BoxIcon::None));
}

bool HeadlessFrameWindow::PressAccelerator(int key, bool control, bool alt, bool shift) {
  for (const auto& a : accelerators_) {
    if (a.key == key && a.control == control && a.alt == alt && a.shift == shift) {
      events_.OnCommand(a.command);
      return true;
    }
  }
  return false;
}

void HeadlessFrameWindow::PressF1InMenu(int highlightedItemId) {
  highlightedItem = highlightedItemId;
  // F1 only counts while a menu is open; otherwise it is an ordinary key.
  if (highlightedItemId != 0) {
    events_.OnEnterIdle(MSGF_MENU, true);
  } else {
    events_.OnKeyDown(VK_F1, 1, 0);
  }
  highlightedItem = 0;
}

namespace {
FrameWindowFactory& Factory() {
  static FrameWindowFactory factory;
  return factory;
}
IFrameWindow* g_mainFrame = nullptr;
std::atomic<bool> g_repaintsMuted{false};
}  // namespace

void SetFrameWindowFactory(FrameWindowFactory factory) { Factory() = std::move(factory); }

std::unique_ptr<IFrameWindow> CreateFrameWindow(IWindowEvents& events) {
  if (Factory()) return Factory()(events);
  return CreateHeadlessFrameWindow(events);
}

std::unique_ptr<IFrameWindow> CreateHeadlessFrameWindow(IWindowEvents& events) {
  return std::make_unique<HeadlessFrameWindow>(events);
}

IFrameWindow* MainFrame() { return g_mainFrame; }
void SetMainFrame(IFrameWindow* frame) { g_mainFrame = frame; }

void RequestRepaint() {
  if (g_repaintsMuted) return;
  if (g_mainFrame) g_mainFrame->Invalidate(true);
}
void SetRepaintsMuted(bool muted) { g_repaintsMuted = muted; }
bool RepaintsMuted() { return g_repaintsMuted; }

}  // namespace platform
