#pragma once
// The frame window of the desktop: a Qt main window with the menu bar and a
// client area that shows a persistent canvas. It delivers the Windows-style
// messages to the program's window object and keeps accelerators ahead of
// menu mnemonics.
#include <QMainWindow>
#include <QPixmap>
#include <chrono>
#include <map>
#include <memory>

#include "platform/frame_window.h"
#include "platform/qt/menu_bar.h"
#include "platform/qt/qt_canvas.h"

class QTimer;

namespace platform::qt {

class ClientArea;

class QtFrameWindow : public QMainWindow, public IFrameWindow {
 public:
  explicit QtFrameWindow(IWindowEvents& events);
  ~QtFrameWindow() override;

  void Create() override;
  void Show() override;
  bool IsCreated() const override { return created_; }
  void Destroy() override;
  void SetTitle(const std::string& title) override;
  std::string Title() const override;
  void SetIcons(int bigIcon, int smallIcon) override;
  void SetMenu(const MenuNode& bar) override;
  MenuModel& Menu() override { return menu_; }
  void MenuChanged() override;
  void SetAccelerators(const std::vector<Accelerator>& table) override;
  const std::vector<Accelerator>& Accelerators() const override { return accelerators_; }
  void ChooseHighlightedMenuItem() override;
  int ClientWidth() const override { return canvas_.ClientWidth(); }
  int ClientHeight() const override { return canvas_.ClientHeight(); }
  void Resize(int clientWidth, int clientHeight) override;
  void Invalidate(bool erase) override;
  void Update() override;
  void FlushCanvas() override;
  DrawSurface* Surface() override { return &canvas_; }
  void SetCursor(CursorKind cursor) override;
  void SetTimer(int id, int milliseconds) override;
  void KillTimer(int id) override;
  void AcceptDroppedFiles(bool accept) override;
  bool AcceptsDroppedFiles() const override { return acceptDrops_; }
  bool CopyClientToClipboard() override;
  bool SaveClientImage(const std::string& path, int width, int height) override;
  int RunTwoButtonDialog(const std::string& caption, const std::string& text,
                         const std::string& okText, const std::string& cancelText) override;
  void SetBusy(bool busy) override;
  bool Busy() const override { return busy_; }
  // A box of the running command is about to open over the window.
  void BoxOfTheComputation() { events_.OnBoxWhileBusy(); }

  QtCanvas& Canvas() { return canvas_; }
  MenuBarBuilder& MenuBuilder() { return *menuBuilder_; }
  // The whole window with its menu bar, as it would look on the screen.
  QPixmap Grab();
  // Test hook: F1 pressed while the menu item of this command is highlighted.
  void SimulateMenuF1(int highlightedCommand);
  // Delivers a key press to the client area as the keyboard would.
  void DeliverKey(int qtKey, Qt::KeyboardModifiers modifiers, const QString& text = {});

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  friend class ClientArea;
  void PostCommand(int id);
  void PaintClient();
  bool BelongsToThisWindow(QObject* object) const;
  // Shows the canvas while a computation holds the thread.
  void ShowWhileBusy();

  IWindowEvents& events_;
  ClientArea* client_ = nullptr;
  QtCanvas canvas_;
  MenuModel menu_;
  std::vector<Accelerator> accelerators_;
  std::unique_ptr<MenuBarBuilder> menuBuilder_;
  std::map<int, QTimer*> timers_;
  bool created_ = false;
  bool busy_ = false;
  bool acceptDrops_ = false;
  bool invalid_ = false;
  bool pendingErase_ = false;
  bool painting_ = false;
  bool renderQueued_ = false;
  bool destroying_ = false;
  int highlighted_ = 0;
  // When the canvas was last shown while busy (steady clock).
  std::chrono::steady_clock::time_point shownWhileBusy_{};
};

}  // namespace platform::qt
