#include "platform/qt/frame_window.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <cmath>

#include "platform/clipboard.h"
#include "platform/input_events.h"
#include "platform/paths.h"
#include "platform/qt/accelerator.h"
#include "platform/user_interface.h"
#include "platform/window_messages.h"

namespace platform::qt {

class ClientArea : public QWidget {
 public:
  explicit ClientArea(QtFrameWindow* frame) : QWidget(frame), frame_(frame) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
  }

 protected:
  // The picture is drawn into the canvas outside Qt's paint handling;
  // here it is only copied to the screen.
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.drawImage(0, 0, frame_->canvas_.Image());
  }

  void resizeEvent(QResizeEvent* event) override {
    const QSize size = event->size();
    if (size.width() == frame_->canvas_.ClientWidth() &&
        size.height() == frame_->canvas_.ClientHeight())
      return;
    frame_->canvas_.Resize(size.width(), size.height());
    frame_->events_.OnSize(size.width(), size.height());
  }

  // Tab belongs to the plots (it confirms an edit), not to focus movement.
  bool focusNextPrevChild(bool) override { return false; }

  void keyPressEvent(QKeyEvent* event) override {
    const unsigned flags = event->isAutoRepeat() ? 0x4000u : 0u;
    const int vk = VirtualKeyFromQt(event->key(), event->modifiers());
    if (vk != 0) frame_->events_.OnKeyDown(vk, 1, flags);
    for (const QChar c : event->text()) frame_->events_.OnChar(c.unicode(), 1, flags);
  }

  void mousePressEvent(QMouseEvent* e) override { Mouse(e, true); }
  void mouseReleaseEvent(QMouseEvent* e) override { Mouse(e, false); }
  void mouseDoubleClickEvent(QMouseEvent* e) override {
    const MouseMessage m = e->button() == Qt::RightButton ? MouseMessage::RButtonDblClk
                                                          : MouseMessage::LButtonDblClk;
    Send(m, e);
  }
  void mouseMoveEvent(QMouseEvent* e) override { Send(MouseMessage::MouseMove, e); }

  void dragEnterEvent(QDragEnterEvent* e) override {
    if (frame_->acceptDrops_ && e->mimeData()->hasUrls()) e->acceptProposedAction();
  }
  void dropEvent(QDropEvent* e) override {
    std::vector<std::string> paths;
    for (const QUrl& url : e->mimeData()->urls())
      if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
    if (paths.empty()) return;
    e->acceptProposedAction();
    frame_->events_.OnDropFiles(paths);
  }

 private:
  void Mouse(QMouseEvent* e, bool press) {
    MouseMessage m;
    if (e->button() == Qt::LeftButton) m = press ? MouseMessage::LButtonDown : MouseMessage::LButtonUp;
    else if (e->button() == Qt::RightButton) m = press ? MouseMessage::RButtonDown : MouseMessage::RButtonUp;
    else return;
    Send(m, e);
  }
  void Send(MouseMessage m, QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    frame_->events_.OnMouse(m, MouseKeyFlags(e->buttons(), e->modifiers()), p.x(), p.y());
  }
  QtFrameWindow* frame_;
};

namespace {

// A small picture of a sedimentation boundary for the title bar and task bar.
QIcon BoundaryIcon() {
  QIcon icon;
  for (int size : {16, 32, 48}) {
    QPixmap pm(size, size);
    pm.fill(Qt::white);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 0, 160), size / 12.0 + 0.5));
    QPainterPath path;
    for (int i = 0; i <= 4 * size; ++i) {
      const double x = i / 4.0;
      const double y = size * (0.85 - 0.7 / (1.0 + std::exp(-(x - size * 0.5) / (size * 0.08))));
      if (i == 0) path.moveTo(x, y);
      else path.lineTo(x, y);
    }
    p.drawPath(path);
    p.setPen(QPen(Qt::black, 1));
    p.drawRect(0, 0, size - 1, size - 1);
    icon.addPixmap(pm);
  }
  return icon;
}

bool Offscreen() {
  const QString name = QGuiApplication::platformName();
  return name == "offscreen" || name == "minimal";
}

}  // namespace

QtFrameWindow::QtFrameWindow(IWindowEvents& events) : events_(events), canvas_(1000, 700) {
  client_ = new ClientArea(this);
  setCentralWidget(client_);
  resize(1000, 700 + menuBar()->sizeHint().height());
  menuBuilder_ = std::make_unique<MenuBarBuilder>(
      menuBar(), [this](int id) { PostCommand(id); }, nullptr);
  canvas_.SetChangedCallback([this] {
    if (painting_ || destroying_) return;
    if (busy_) ShowWhileBusy();
    else client_->update();
  });
  qApp->installEventFilter(this);
}

QtFrameWindow::~QtFrameWindow() {
  destroying_ = true;
  if (qApp) qApp->removeEventFilter(this);
  canvas_.SetChangedCallback({});
}

void QtFrameWindow::Create() {
  if (created_) return;
  created_ = true;
  events_.SetupWindow();
}

void QtFrameWindow::Show() {
  show();
  client_->setFocus();
  activateWindow();
}

void QtFrameWindow::Destroy() {
  destroying_ = true;
  created_ = false;
  hide();
}

void QtFrameWindow::SetTitle(const std::string& title) {
  setWindowTitle(QString::fromStdString(title));
}

std::string QtFrameWindow::Title() const { return windowTitle().toStdString(); }

void QtFrameWindow::SetIcons(int bigIcon, int smallIcon) {
  (void)bigIcon;
  (void)smallIcon;
  setWindowIcon(BoundaryIcon());
}

void QtFrameWindow::SetMenu(const MenuNode& bar) {
  menu_.Set(bar);
  MenuChanged();
}

void QtFrameWindow::MenuChanged() { menuBuilder_->Sync(menu_, accelerators_); }

void QtFrameWindow::SetAccelerators(const std::vector<Accelerator>& table) {
  accelerators_ = table;
  MenuChanged();
}

void QtFrameWindow::ChooseHighlightedMenuItem() {
  const int id = highlighted_;
  highlighted_ = 0;
  // The menu closes, then the item's command arrives as Enter would send it.
  while (QWidget* popup = QApplication::activePopupWidget()) {
    if (!popup->close()) break;
  }
  if (id != 0) PostCommand(id);
}

void QtFrameWindow::SimulateMenuF1(int highlightedCommand) {
  highlighted_ = highlightedCommand;
  events_.OnEnterIdle(MSGF_MENU, true);
}

void QtFrameWindow::DeliverKey(int qtKey, Qt::KeyboardModifiers modifiers, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, qtKey, modifiers, text);
  QApplication::sendEvent(client_, &press);
  QKeyEvent release(QEvent::KeyRelease, qtKey, modifiers, text);
  QApplication::sendEvent(client_, &release);
}

void QtFrameWindow::Resize(int clientWidth, int clientHeight) {
  resize(clientWidth, clientHeight + menuBar()->sizeHint().height());
  client_->resize(clientWidth, clientHeight);
  if (canvas_.ClientWidth() != clientWidth || canvas_.ClientHeight() != clientHeight) {
    canvas_.Resize(clientWidth, clientHeight);
    events_.OnSize(clientWidth, clientHeight);
  }
}

void QtFrameWindow::Invalidate(bool erase) {
  invalid_ = true;
  pendingErase_ = pendingErase_ || erase;
  if (renderQueued_) return;
  renderQueued_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        renderQueued_ = false;
        // While the program cannot paint, the picture stays and the
        // request waits for the end of the running command (SetBusy).
        if (!destroying_) PaintClient();
      },
      Qt::QueuedConnection);
}

void QtFrameWindow::Update() { PaintClient(); }

void QtFrameWindow::SetBusy(bool busy) {
  busy_ = busy;
  if (!busy_ && invalid_) Invalidate(false);
}

void QtFrameWindow::FlushCanvas() {
  // Inside a paint the picture is shown once it is complete.
  if (painting_) return;
  if (busy_) ShowWhileBusy();
  else client_->repaint();
}

void QtFrameWindow::ShowWhileBusy() {
  // While a computation holds the thread only a synchronous repaint shows.
  // A solver draws its progress at every time step, and a repaint is a
  // round trip to the display: shown at most 25 times a second, the
  // drawing costs a small share of the computation instead of most of it.
  // What is drawn in between is shown by the posted update, at the next
  // delivery of events (the solvers poll for keys) or when the command ends.
  constexpr auto kInterval = std::chrono::milliseconds(40);
  const auto now = std::chrono::steady_clock::now();
  if (now - shownWhileBusy_ >= kInterval) {
    shownWhileBusy_ = now;
    client_->repaint();
  } else {
    client_->update();
  }
}

void QtFrameWindow::PaintClient() {
  if (!invalid_ || painting_ || !events_.CanPaint()) return;
  const bool erase = pendingErase_;
  invalid_ = false;
  pendingErase_ = false;
  // A paint that the program skips (a computation or dialog in progress)
  // keeps the picture that is there; the request stands until it draws.
  if (erase) canvas_.Clear();
  painting_ = true;
  events_.OnPaint(erase);
  painting_ = false;
  client_->update();
}

void QtFrameWindow::SetCursor(CursorKind cursor) {
  switch (cursor) {
    case CursorKind::Arrow: client_->setCursor(Qt::ArrowCursor); break;
    case CursorKind::Wait: client_->setCursor(Qt::WaitCursor); break;
    case CursorKind::Cross: client_->setCursor(Qt::CrossCursor); break;
    case CursorKind::SizeWE: client_->setCursor(Qt::SizeHorCursor); break;
  }
}

void QtFrameWindow::SetTimer(int id, int milliseconds) {
  KillTimer(id);
  auto* timer = new QTimer(this);
  QObject::connect(timer, &QTimer::timeout, this, [this, id] {
    // A timer never enters the program while one of its commands runs.
    if (!busy_ && !destroying_) events_.OnTimer(id);
  });
  timer->start(milliseconds);
  timers_[id] = timer;
}

void QtFrameWindow::KillTimer(int id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  it->second->stop();
  it->second->deleteLater();
  timers_.erase(it);
}

void QtFrameWindow::AcceptDroppedFiles(bool accept) {
  acceptDrops_ = accept;
  client_->setAcceptDrops(accept);
}

bool QtFrameWindow::CopyClientToClipboard() { return Clipboard().SetBitmap(canvas_.ToBitmap()); }

bool QtFrameWindow::SaveClientImage(const std::string& path, int width, int height) {
  // The window shows what it showed until its next paint (none comes while
  // a command holds the paint), not a part of the picture made for the file.
  const bool otherSize = width != canvas_.ClientWidth() || height != canvas_.ClientHeight();
  const QImage shown = otherSize ? canvas_.Image() : QImage();
  canvas_.Resize(width, height);
  canvas_.Clear();
  painting_ = true;
  events_.OnPaint(true);
  painting_ = false;
  // The picture in the format its name asks for, written whole through the
  // one checked path (never into a pipe, never cut).
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  const QByteArray format = QFileInfo(QString::fromStdString(path)).suffix().toLower().toLatin1();
  const bool ok = !format.isEmpty() && canvas_.Image().save(&buffer, format.constData()) &&
                  WriteWholeFile(path, std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
  if (otherSize) canvas_.Replace(shown);
  Invalidate(true);
  return ok;
}

int QtFrameWindow::RunTwoButtonDialog(const std::string& caption, const std::string& text,
                                      const std::string& okText, const std::string& cancelText) {
  // Without a screen nobody could press a button: the program's user
  // interface (scripted or automatic) answers instead.
  if (Offscreen()) return TwoButtonAnswer(UI().MessageBox(caption, text, BoxButtons::OkCancel, BoxIcon::None));
  // A plain dialog rather than a message box: Escape and the title bar
  // close it without choosing either button.
  QDialog dialog(isVisible() ? this : nullptr);
  dialog.setWindowTitle(QString::fromStdString(caption));
  auto* layout = new QVBoxLayout(&dialog);
  auto* label = new QLabel(QString::fromStdString(text), &dialog);
  label->setWordWrap(true);
  label->setMinimumWidth(420);
  layout->addWidget(label);
  auto* buttons = new QDialogButtonBox(&dialog);
  QPushButton* ok = buttons->addButton(QString::fromStdString(okText), QDialogButtonBox::AcceptRole);
  QPushButton* cancel = buttons->addButton(QString::fromStdString(cancelText), QDialogButtonBox::DestructiveRole);
  layout->addWidget(buttons);
  int answer = kDialogDismissed;
  QObject::connect(ok, &QPushButton::clicked, &dialog, [&] {
    answer = IDOK;
    dialog.accept();
  });
  QObject::connect(cancel, &QPushButton::clicked, &dialog, [&] {
    answer = IDCANCEL;
    dialog.accept();
  });
  ok->setDefault(true);
  dialog.exec();
  return answer;
}

QPixmap QtFrameWindow::Grab() {
  ensurePolished();
  return grab();
}

void QtFrameWindow::PostCommand(int id) {
  QMetaObject::invokeMethod(
      this,
      [this, id] {
        if (destroying_) return;
        // A command never enters while another one runs (a computation
        // letting the window take input); it waits for its end.
        if (busy_) {
          QTimer::singleShot(20, this, [this, id] { PostCommand(id); });
          return;
        }
        events_.OnCommand(id);
      },
      Qt::QueuedConnection);
}

bool QtFrameWindow::BelongsToThisWindow(QObject* object) const {
  auto* widget = qobject_cast<QWidget*>(object);
  return widget && widget->window() == this;
}

bool QtFrameWindow::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type == QEvent::KeyPress && (watched == menuBar() || qobject_cast<QMenu*>(watched)) &&
      menuBuilder_->WalkKey(static_cast<QWidget*>(watched), static_cast<QKeyEvent*>(event)->key()))
    return true;
  if (auto* menu = qobject_cast<QMenu*>(watched)) {
    if (type != QEvent::KeyPress || static_cast<QKeyEvent*>(event)->key() != Qt::Key_F1)
      return false;
    bool ours = false;
    for (QObject* o = menu; o; o = o->parent()) ours = ours || o == this;
    if (!ours) return false;
    highlighted_ = MenuBarBuilder::CommandOf(menu->activeAction());
    events_.OnEnterIdle(MSGF_MENU, true);
    return true;
  }
  if (!BelongsToThisWindow(watched)) return false;
  switch (type) {
    case QEvent::ShortcutOverride: {
      auto* key = static_cast<QKeyEvent*>(event);
      const int vk = VirtualKeyFromQt(key->key(), key->modifiers());
      // Claiming the key keeps menu mnemonics and shortcuts from taking it,
      // so it arrives as a key press below.
      if (busy_ || MatchAccelerator(accelerators_, vk, key->modifiers())) {
        event->accept();
        return true;
      }
      return false;
    }
    case QEvent::KeyPress: {
      auto* key = static_cast<QKeyEvent*>(event);
      if (busy_) {
        const QString text = key->text();
        PostKeyDown(text.isEmpty() ? 0 : text.at(0).unicode());
        events_.OnInputWhileBusy(true);
        return true;
      }
      const int vk = VirtualKeyFromQt(key->key(), key->modifiers());
      if (const Accelerator* a = MatchAccelerator(accelerators_, vk, key->modifiers())) {
        PostCommand(a->command);
        return true;
      }
      return false;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
      if (!busy_) return false;
      PostMouseClick();
      events_.OnInputWhileBusy(false);
      return true;
    case QEvent::KeyRelease:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseMove:
    case QEvent::Wheel:
      return busy_;
    default:
      return false;
  }
}

void QtFrameWindow::closeEvent(QCloseEvent* event) {
  // Closing while a command computes would pull the window from under it.
  if (busy_) {
    event->ignore();
    return;
  }
  if (!events_.OnClose()) {
    event->ignore();
    return;
  }
  event->accept();
}

}  // namespace platform::qt
