// The program's headers come first: Qt's keyword macros must not reach them.
#include "app_fixture.h"

#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include "platform/input_events.h"
#include "platform/qt/accelerator.h"
#include "platform/qt/frame_window.h"
#include "platform/qt/qt_app.h"
#include "platform/window_messages.h"

namespace {

class WidgetsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    platform::qt::EnsureApplication(argc, argv);
  }
  void TearDown() override { delete QCoreApplication::instance(); }
};
[[maybe_unused]] auto* const g_widgets = ::testing::AddGlobalTestEnvironment(new WidgetsEnvironment);

void Drain() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

// Records what the frame delivers, for the frame on its own.
struct RecordingEvents : platform::IWindowEvents {
  void OnCommand(int id) override { log.push_back("command " + std::to_string(id)); }
  void OnEnterIdle(int source, bool f1) override {
    log.push_back("idle " + std::to_string(source) + (f1 ? " F1" : ""));
  }
  void OnKeyDown(int vk, int, unsigned) override { log.push_back("key " + std::to_string(vk)); }
  void OnChar(int c, int, unsigned) override { log.push_back("char " + std::to_string(c)); }
  void OnMouse(platform::MouseMessage m, unsigned flags, int x, int y) override {
    log.push_back("mouse " + std::to_string(static_cast<int>(m)) + " " + std::to_string(flags) +
                  " " + std::to_string(x) + "," + std::to_string(y));
  }
  void OnSize(int w, int h) override { log.push_back("size " + std::to_string(w) + "x" + std::to_string(h)); }
  void OnPaint(bool erase) override { log.push_back(erase ? "paint erase" : "paint"); }
  void OnDropFiles(const std::vector<std::string>&) override {}
  void OnTimer(int) override {}
  void OnInputWhileBusy(bool key) override { log.push_back(key ? "busy key" : "busy click"); }
  std::vector<std::string> log;
};

class QtWindow : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    platform::qt::InstallDesktop();
  }
  void TearDown() override {
    platform::SetFrameWindowFactory({});
    AppTest::TearDown();
  }
  static platform::qt::QtFrameWindow& Qt(TXLAWindow& w) {
    return dynamic_cast<platform::qt::QtFrameWindow&>(w.Frame());
  }
};

}  // namespace

TEST_F(QtWindow, RendersOffscreenWithTitleMenuBarAndScreenshotSize) {
  auto w = AgreedWindow();
  auto& frame = Qt(*w);
  EXPECT_EQ(frame.windowTitle().toStdString(), "Sedimentation Analysis");
  EXPECT_FALSE(frame.windowIcon().isNull());
  QStringList titles;
  for (QAction* a : frame.menuBar()->actions()) titles << a->text();
  // "&Fit", "&Generate" and "D&isplay" give their Alt letters to accelerators.
  EXPECT_EQ(titles.join("|").toStdString(),
            "&Data|&Copy|Display|M&odel|&Parameters|&Run|Fit|Generate|Statistics|&Options|Plot|&Help");
  const std::string path = (dir_ / "screenshot.bmp").string();
  ASSERT_TRUE(frame.SaveClientImage(path, 1400, 1000));
  QImage shot(QString::fromStdString(path));
  EXPECT_EQ(shot.width(), 1400);
  EXPECT_EQ(shot.height(), 1000);
  EXPECT_EQ(w->ClientWidthF, 1400.0f);  // the paint saw the screenshot's size
  const QPixmap whole = frame.Grab();
  EXPECT_GT(whole.height(), frame.ClientHeight());
}

TEST_F(QtWindow, MenuItemsCarryTheirChecksAndDispatchTheirCommands) {
  auto w = AgreedWindow();
  auto& frame = Qt(*w);
  auto actions = frame.MenuBuilder().Actions(927);
  ASSERT_EQ(actions.size(), 2u);
  w->CheckMenuItem(927, true);
  for (QAction* a : frame.MenuBuilder().Actions(927)) EXPECT_TRUE(a->isChecked());
  auto exits = frame.MenuBuilder().Actions(230);
  ASSERT_EQ(exits.size(), 1u);
  EXPECT_EQ(exits[0]->text().toStdString(), "Exit");
  auto load = frame.MenuBuilder().Actions(200);
  ASSERT_EQ(load.size(), 1u);
  EXPECT_EQ(load[0]->text().toStdString(), "&Load New Files\t^L");
  exits[0]->trigger();
  EXPECT_FALSE(platform::QuitRequested());  // commands arrive after the menu has closed
  Drain();
  EXPECT_TRUE(platform::QuitRequested());
}

TEST_F(QtWindow, AcceleratorsComeBeforeMnemonicsAndF1GivesContextHelp) {
  auto w = AgreedWindow();
  auto& frame = Qt(*w);
  ui_->lenient = true;
  frame.DeliverKey(Qt::Key_F, Qt::AltModifier);
  Drain();
  ASSERT_EQ(ui_->transcript.size(), 1u);
  EXPECT_EQ(ui_->transcript[0].caption, "FloTools");  // the fluorescence tool box
  ui_->transcript.clear();
  frame.DeliverKey(Qt::Key_C, Qt::ControlModifier);
  Drain();
  EXPECT_TRUE(ui_->transcript.empty());  // Copy Screenshot shows nothing
  ui_->lenient = false;
  ui_->ExpectBox("HELP", "Open it?", platform::IDNO);
  frame.SimulateMenuF1(200);
  Drain();
  EXPECT_TRUE(ui_->AllConsumed());
  EXPECT_FALSE(w->HelpRequested);
  EXPECT_TRUE(ui_->failures.empty());
}

TEST_F(QtWindow, KeysMouseAndBusyQueueingReachTheWindowAsWindowsMessages) {
  RecordingEvents events;
  platform::qt::QtFrameWindow frame(events);
  frame.SetAccelerators({{'G', true, false, false, 901}});
  frame.Resize(400, 300);
  frame.Create();
  events.log.clear();
  frame.DeliverKey(Qt::Key_Tab, Qt::NoModifier, "\t");
  frame.DeliverKey(Qt::Key_Return, Qt::NoModifier, "\r");
  frame.DeliverKey(Qt::Key_A, Qt::NoModifier, "a");
  frame.DeliverKey(Qt::Key_G, Qt::ControlModifier, QString(QChar(7)));
  Drain();
  EXPECT_EQ(events.log, (std::vector<std::string>{"key 9", "char 9", "key 13", "char 13", "key 65",
                                                  "char 97", "command 901"}));

  events.log.clear();
  QWidget* client = frame.centralWidget();
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 20), QPointF(10, 20), Qt::LeftButton,
                    Qt::LeftButton, Qt::ShiftModifier);
  QApplication::sendEvent(client, &press);
  QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(11, 21), QPointF(11, 21), Qt::RightButton,
                  Qt::RightButton, Qt::ControlModifier);
  QApplication::sendEvent(client, &dbl);
  EXPECT_EQ(events.log, (std::vector<std::string>{
                            "mouse 0 " + std::to_string(platform::MK_LBUTTON | platform::MK_SHIFT) + " 10,20",
                            "mouse 6 " + std::to_string(platform::MK_RBUTTON | platform::MK_CONTROL) + " 11,21"}));

  // While a command runs, presses are queued for the computation.
  events.log.clear();
  platform::ClearInput();
  frame.SetBusy(true);
  frame.DeliverKey(Qt::Key_X, Qt::NoModifier, "x");
  QApplication::sendEvent(client, &press);
  frame.SetBusy(false);
  EXPECT_EQ(events.log, (std::vector<std::string>{"busy key", "busy click"}));
  int character = 0;
  EXPECT_TRUE(platform::TakeKeyDown(&character));
  EXPECT_EQ(character, 'x');
  EXPECT_TRUE(platform::TakeAnyInput());
  EXPECT_FALSE(platform::TakeAnyInput());
}

TEST_F(QtWindow, InvalidationPaintsOnceWithTheAccumulatedErase) {
  RecordingEvents events;
  platform::qt::QtFrameWindow frame(events);
  frame.Resize(200, 100);
  frame.Create();
  frame.Show();
  Drain();
  frame.Update();
  events.log.clear();
  frame.Invalidate(false);
  frame.Invalidate(true);
  frame.Invalidate(false);
  frame.Update();
  frame.Update();
  EXPECT_EQ(events.log, std::vector<std::string>{"paint erase"});
  events.log.clear();
  frame.FlushCanvas();  // direct drawing shown without the program painting
  EXPECT_TRUE(events.log.empty());
}

TEST_F(QtWindow, ClosingByTheTitleBarSkipsTheExitSteps) {
  WriteAgreedDefaults();
  bool bye = false;
  Services().playSoundBye = [&] { bye = true; };
  auto w = MakeWindow();
  auto& frame = Qt(*w);
  frame.Show();
  Drain();
  EXPECT_TRUE(frame.close());
  Drain();
  EXPECT_FALSE(bye);
  EXPECT_FALSE(platform::QuitRequested());
  EXPECT_FALSE(frame.isVisible());
}

TEST_F(QtWindow, F1PressedInAnOpenMenuAsksForHelpInsteadOfLoading) {
  auto w = AgreedWindow();
  auto& frame = Qt(*w);
  frame.Show();
  Drain();
  QAction* load = frame.MenuBuilder().Actions(200).at(0);
  auto* data = qobject_cast<QMenu*>(load->parent());
  ASSERT_NE(data, nullptr);
  data->popup(frame.mapToGlobal(QPoint(0, 0)));
  Drain();
  data->setActiveAction(load);
  ui_->ExpectBox("HELP", "Open it?", platform::IDNO);
  QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
  QApplication::sendEvent(data, &f1);
  Drain();
  EXPECT_FALSE(data->isVisible());
  EXPECT_TRUE(ui_->AllConsumed());
  EXPECT_TRUE(ui_->failures.empty());
  EXPECT_FALSE(w->HelpRequested);
}

// Alt and a title's letter opens its menu; from there the arrows walk the
// whole bar, its own commands included, and Enter on a command gives it.
TEST_F(QtWindow, ArrowsWalkTheWholeMenuBarThroughItsOwnCommands) {
  auto w = AgreedWindow();
  auto& frame = Qt(*w);
  frame.Show();
  Drain();
  QMenuBar* bar = frame.menuBar();
  const QList<QAction*> titles = bar->actions();
  bar->setActiveAction(titles.at(0));  // as Alt+D leaves it: the Data menu open
  Drain();
  auto press = [&](int key) {
    // The key goes where the keyboard is: the open menu, else the focus.
    QWidget* target = QApplication::activePopupWidget();
    if (!target) target = QApplication::focusWidget();
    ASSERT_NE(target, nullptr);
    QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &e);
    Drain();
  };
  auto where = [&] {
    QAction* a = bar->activeAction();
    std::string s = a ? a->text().toStdString() : "none";
    auto* open = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (open) s += open->menuAction() == a ? " open" : " other menu open";
    return s;
  };
  std::vector<std::string> right{where()};
  for (int i = 0; i < titles.size(); ++i) {
    press(Qt::Key_Right);
    right.push_back(where());
  }
  EXPECT_EQ(right, (std::vector<std::string>{"&Data open", "&Copy open", "Display open", "M&odel open",
                                             "&Parameters", "&Run", "Fit", "Generate open", "Statistics open",
                                             "&Options open", "Plot open", "&Help open", "&Data open"}));
  press(Qt::Key_Left);
  press(Qt::Key_Left);
  press(Qt::Key_Left);
  press(Qt::Key_Left);
  press(Qt::Key_Left);
  press(Qt::Key_Left);
  EXPECT_EQ(where(), "Fit");
  press(Qt::Key_Left);
  press(Qt::Key_Left);
  EXPECT_EQ(where(), "&Parameters");
  press(Qt::Key_Left);
  EXPECT_EQ(where(), "M&odel open");
  press(Qt::Key_Right);
  press(Qt::Key_Right);
  ASSERT_EQ(where(), "&Run");
  ui_->lenient = true;
  press(Qt::Key_Return);
  ASSERT_FALSE(ui_->transcript.empty());
  EXPECT_EQ(ui_->transcript[0].text, "load data first");
  EXPECT_EQ(bar->activeAction(), nullptr);
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}
