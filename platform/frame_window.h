#pragma once
// The program's frame window as the code above the platform sees it: a
// titled window with a menu bar, accelerators, a client area that is painted
// on request, and the Windows-style messages it delivers. The desktop uses a
// Qt implementation; tests and builds without a display use the headless one.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/draw_surface.h"
#include "platform/menu_model.h"

namespace platform {

enum class CursorKind { Arrow, Wait, Cross, SizeWE };

// The answer of a two-button dialog that was closed without pressing either.
constexpr int kDialogDismissed = 0;

// A message box's answer as a two-button dialog's: OK and Cancel stay, any
// other answer (a box closed without choosing) is kDialogDismissed.
int TwoButtonAnswer(int boxAnswer);

// One accelerator entry: a virtual key with its modifiers sends a command.
struct Accelerator {
  int key = 0;  // virtual-key code
  bool control = false;
  bool alt = false;
  bool shift = false;
  int command = 0;
};

enum class MouseMessage {
  LButtonDown,
  LButtonUp,
  RButtonDown,
  RButtonUp,
  MouseMove,
  LButtonDblClk,
  RButtonDblClk
};

// What the frame window hands to the program's window object; every call
// arrives on the user-interface thread.
class IWindowEvents {
 public:
  virtual ~IWindowEvents() = default;
  // Once the window exists, before it is shown.
  virtual void SetupWindow() {}
  virtual void OnCommand(int id) = 0;
  // WM_ENTERIDLE: source MSGF_MENU while a menu is open; f1Down tells
  // whether F1 is held at that moment.
  virtual void OnEnterIdle(int source, bool f1Down) = 0;
  virtual void OnKeyDown(int virtualKey, int repeat, unsigned flags) = 0;
  virtual void OnChar(int character, int repeat, unsigned flags) = 0;
  // x, y in client pixels; modKeys carries the MK_ flags.
  virtual void OnMouse(MouseMessage message, unsigned modKeys, int x, int y) = 0;
  virtual void OnSize(int width, int height) = 0;
  // Paint into the client area; erase is set when the background was cleared.
  virtual void OnPaint(bool erase) = 0;
  // False while a paint would draw nothing (a computation or a dialog of
  // the program is in progress); the window then keeps its picture and
  // paints when the running command ends.
  virtual bool CanPaint() const { return true; }
  virtual void OnDropFiles(const std::vector<std::string>& paths) = 0;
  virtual void OnTimer(int id) = 0;
  // A key press or click that arrived while a command was running; it was
  // queued for the computation instead of being dispatched.
  virtual void OnInputWhileBusy(bool key) { (void)key; }
  // A box or dialog is about to show while a command runs: what the command
  // drew only to show its progress may go, so that the box stands over the
  // plots and not over the computation's scaffolding.
  virtual void OnBoxWhileBusy() {}
  // The window is being closed from its title bar or system menu; false
  // keeps it open.
  virtual bool OnClose() { return true; }
};

class IFrameWindow {
 public:
  virtual ~IFrameWindow() = default;

  // Creates the window (not shown) and calls SetupWindow.
  virtual void Create() = 0;
  virtual void Show() = 0;
  virtual bool IsCreated() const = 0;
  // Destroys the window without any of the program's exit steps.
  virtual void Destroy() = 0;

  virtual void SetTitle(const std::string& title) = 0;
  virtual std::string Title() const = 0;
  // Icon resources by their group number (big and small icon).
  virtual void SetIcons(int bigIcon, int smallIcon) = 0;

  virtual void SetMenu(const MenuNode& bar) = 0;
  virtual MenuModel& Menu() = 0;
  // To be called after any change made through Menu(), so the shown menu follows.
  virtual void MenuChanged() = 0;
  virtual void SetAccelerators(const std::vector<Accelerator>& table) = 0;
  virtual const std::vector<Accelerator>& Accelerators() const = 0;

  // Chooses the highlighted item of the open menu, as Enter would.
  virtual void ChooseHighlightedMenuItem() = 0;

  virtual int ClientWidth() const = 0;
  virtual int ClientHeight() const = 0;
  virtual void Resize(int clientWidth, int clientHeight) = 0;
  // InvalidateRect of the whole client area; erase flags accumulate until
  // the next paint.
  virtual void Invalidate(bool erase) = 0;
  // Paints pending invalid areas now (UpdateWindow).
  virtual void Update() = 0;
  // Shows what was drawn straight into the client area at once, also while
  // a computation holds the user-interface thread.
  virtual void FlushCanvas() = 0;
  // The persistent canvas of the client area that painting and every direct
  // draw go to; null without a display.
  virtual DrawSurface* Surface() = 0;

  virtual void SetCursor(CursorKind cursor) = 0;
  virtual void SetTimer(int id, int milliseconds) = 0;
  virtual void KillTimer(int id) = 0;
  virtual void AcceptDroppedFiles(bool accept) = 0;
  virtual bool AcceptsDroppedFiles() const = 0;

  // The client area as a bitmap on the clipboard.
  virtual bool CopyClientToClipboard() = 0;
  // Paints the client area at the given size without showing the window and
  // saves it (the format follows the extension: .bmp, .png).
  virtual bool SaveClientImage(const std::string& path, int width, int height) = 0;

  // A modal dialog with a text and two buttons (OK and Cancel roles, with
  // the given labels); returns IDOK or IDCANCEL for the button pressed, or
  // kDialogDismissed when it was closed by Escape or its title bar.
  virtual int RunTwoButtonDialog(const std::string& caption, const std::string& text,
                                 const std::string& okText, const std::string& cancelText) = 0;

  // Marks that a command is running: input to the window is then queued
  // for the computation instead of dispatched.
  virtual void SetBusy(bool busy) = 0;
  virtual bool Busy() const = 0;
};

// A frame window without a display: it keeps the menu, title and states,
// paints on Update, and lets tests play the user's part.
class HeadlessFrameWindow : public IFrameWindow {
 public:
  explicit HeadlessFrameWindow(IWindowEvents& events) : events_(events) {}
  void Create() override;
  void Show() override { shown = true; }
  bool IsCreated() const override { return created_; }
  void Destroy() override { created_ = false; }
  void SetTitle(const std::string& title) override { title_ = title; }
  std::string Title() const override { return title_; }
  void SetIcons(int bigIcon, int smallIcon) override {
    this->bigIcon = bigIcon;
    this->smallIcon = smallIcon;
  }
  void SetMenu(const MenuNode& bar) override { menu_.Set(bar); }
  MenuModel& Menu() override { return menu_; }
  void MenuChanged() override {}
  void SetAccelerators(const std::vector<Accelerator>& table) override { accelerators_ = table; }
  const std::vector<Accelerator>& Accelerators() const override { return accelerators_; }
  void ChooseHighlightedMenuItem() override;
  int ClientWidth() const override { return width_; }
  int ClientHeight() const override { return height_; }
  void Resize(int clientWidth, int clientHeight) override;
  void Invalidate(bool erase) override;
  void Update() override;
  void FlushCanvas() override { ++flushes; }
  DrawSurface* Surface() override { return nullptr; }
  void SetCursor(CursorKind cursor) override { this->cursor = cursor; }
  void SetTimer(int id, int milliseconds) override;
  void KillTimer(int id) override;
  void AcceptDroppedFiles(bool accept) override { acceptDrops_ = accept; }
  bool AcceptsDroppedFiles() const override { return acceptDrops_; }
  bool CopyClientToClipboard() override;
  bool SaveClientImage(const std::string& path, int width, int height) override;
  int RunTwoButtonDialog(const std::string& caption, const std::string& text,
                         const std::string& okText, const std::string& cancelText) override;
  void SetBusy(bool busy) override { busy_ = busy; }
  bool Busy() const override { return busy_; }

  // The user's part: press a key combination (accelerators first), or
  // press F1 on a highlighted menu item (0: no menu open).
  bool PressAccelerator(int key, bool control, bool alt, bool shift);
  void PressF1InMenu(int highlightedItem);

  bool shown = false;
  int bigIcon = 0, smallIcon = 0;
  int invalidations = 0;
  bool pendingErase = false;
  bool invalid = false;
  int paints = 0;
  int flushes = 0;
  int clipboardCopies = 0;
  int highlightedItem = 0;
  CursorKind cursor = CursorKind::Arrow;
  std::vector<std::pair<int, int>> timers;  // (id, ms)
  std::vector<std::string> savedImages;

 private:
  IWindowEvents& events_;
  bool created_ = false;
  bool acceptDrops_ = false;
  bool busy_ = false;
  std::string title_;
  MenuModel menu_;
  std::vector<Accelerator> accelerators_;
  int width_ = 1000, height_ = 700;
};

using FrameWindowFactory = std::function<std::unique_ptr<IFrameWindow>(IWindowEvents&)>;
// The desktop installs its factory; the default makes headless windows.
void SetFrameWindowFactory(FrameWindowFactory factory);
std::unique_ptr<IFrameWindow> CreateFrameWindow(IWindowEvents& events);
std::unique_ptr<IFrameWindow> CreateHeadlessFrameWindow(IWindowEvents& events);

// The main window, for the layers below the shell (null before it exists).
IFrameWindow* MainFrame();
void SetMainFrame(IFrameWindow* frame);

// Repaint request of the whole main window with erase. It does nothing
// while repaints are muted (a serial fit redraws on its own schedule).
void RequestRepaint();
void SetRepaintsMuted(bool muted);
bool RepaintsMuted();

}  // namespace platform
