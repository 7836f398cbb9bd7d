#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "platform/qt/qt_sound_player.h"
#include "platform/qt/qt_user_interface.h"

namespace {

using platform::qt::QtUserInterface;

// Widgets need a QApplication; made before any other test environment can
// make a plainer application object.
class WidgetsEnvironment : public ::testing::Environment {
 public:
  WidgetsEnvironment() {
    if (!QCoreApplication::instance()) {
      if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
      static int argc = 1;
      static char name[] = "qt_backends_test";
      static char* argv[] = {name, nullptr};
      app_ = std::make_unique<QApplication>(argc, argv);
    }
  }
  // When no test runs (listing them), TearDown never comes and the object
  // must not be destroyed after Qt's own statics: it is left to the exit.
  ~WidgetsEnvironment() override { (void)app_.release(); }
  void TearDown() override { app_.reset(); }
  std::unique_ptr<QApplication> app_;
};
[[maybe_unused]] auto* const g_widgets = ::testing::AddGlobalTestEnvironment(new WidgetsEnvironment);

bool HaveWidgets() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

// Acts on the modal dialog once it is open (polling, since exec() blocks).
void WhenModal(std::function<void(QWidget*)> act) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    if (QWidget* w = QApplication::activeModalWidget()) {
      timer->stop();
      timer->deleteLater();
      act(w);
    }
  });
  timer->start(10);
}

TEST(QtUserInterface, MessageBoxesReturnTheWindowsAnswerCodes) {
  if (!HaveWidgets()) GTEST_SKIP() << "no widget application";
  QtUserInterface ui;
  struct Case {
    platform::BoxButtons buttons;
    QMessageBox::StandardButton press;
    int expected;
  };
  const Case cases[] = {
      {platform::BoxButtons::Ok, QMessageBox::Ok, platform::IDOK},
      {platform::BoxButtons::YesNo, QMessageBox::No, platform::IDNO},
      {platform::BoxButtons::YesNo, QMessageBox::Yes, platform::IDYES},
      {platform::BoxButtons::OkCancel, QMessageBox::Cancel, platform::IDCANCEL},
  };
  for (const Case& c : cases) {
    QString caption, text;
    WhenModal([&](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      ASSERT_NE(box, nullptr);
      caption = box->windowTitle();
      text = box->text();
      box->button(c.press)->click();
    });
    EXPECT_EQ(ui.MessageBox("SAVE DATA", "save data?\a", c.buttons, platform::BoxIcon::Question),
              c.expected);
    EXPECT_EQ(caption, "SAVE DATA");
    EXPECT_EQ(text, "save data?") << "the bell is not shown";
  }
}

TEST(QtUserInterface, PromptHonoursTheFieldLengthAndCancel) {
  if (!HaveWidgets()) GTEST_SKIP() << "no widget application";
  QtUserInterface ui;
  int maxLength = 0;
  QString initial;
  WhenModal([&](QWidget* w) {
    auto* edit = w->findChild<QLineEdit*>("promptEdit");
    ASSERT_NE(edit, nullptr);
    maxLength = edit->maxLength();
    initial = edit->text();
    edit->setText("12345678901234567890");  // longer than the field
    static_cast<QDialog*>(w)->accept();
  });
  auto reply = ui.PromptText("enter float", "radius", "0.500000", 14);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(*reply, "12345678901234");
  EXPECT_EQ(maxLength, 14);
  EXPECT_EQ(initial, "0.500000");

  WhenModal([](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
  EXPECT_FALSE(ui.PromptText("t", "p", "", 14).has_value());

  // A short prompt under a long caption still shows the whole caption
  // beside the title bar's buttons.
  const QString caption = "CALCULATE HYDRODYNAMIC FRICTIONAL FORCE";
  int width = 0, needed = 0;
  WhenModal([&](QWidget* w) {
    width = w->width();
    needed = w->fontMetrics().horizontalAdvance(caption);
    static_cast<QDialog*>(w)->reject();
  });
  ui.PromptText(caption.toStdString(), "p", "", 14);
  EXPECT_GE(width, needed + 100);
}

TEST(QtUserInterface, EditorReturnsLongTextButNeverItsPlaceholder) {
  if (!HaveWidgets()) GTEST_SKIP() << "no widget application";
  QtUserInterface ui;
  const std::string sequence(100000, 'W');  // far beyond any fixed buffer
  QString placeholder, title;
  WhenModal([&](QWidget* w) {
    auto* edit = w->findChild<QPlainTextEdit*>("editorText");
    ASSERT_NE(edit, nullptr);
    placeholder = edit->placeholderText();
    title = w->windowTitle();
    edit->setPlainText(QString::fromStdString(sequence));
    static_cast<QDialog*>(w)->accept();
  });
  auto text = ui.EditText("SEQUENCE", "write the sequence here", "");
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, sequence);
  EXPECT_EQ(placeholder, "write the sequence here");
  EXPECT_EQ(title, "SEQUENCE");

  // Untouched: the placeholder is not text.
  WhenModal([](QWidget* w) { static_cast<QDialog*>(w)->accept(); });
  EXPECT_EQ(ui.EditText("t", "placeholder", ""), std::optional<std::string>(""));
  WhenModal([](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
  EXPECT_FALSE(ui.EditText("t", "placeholder", "kept").has_value());
}

TEST(QtUserInterface, ClosingTheEditorHandsTheTextBackAndEscapeDropsIt) {
  if (!HaveWidgets()) GTEST_SKIP() << "no widget application";
  QtUserInterface ui;
  // The title bar's close button: what the hint "close this window" asks for.
  WhenModal([](QWidget* w) {
    w->findChild<QPlainTextEdit*>("editorText")->setPlainText("MKWVTFISLL");
    w->close();
  });
  EXPECT_EQ(ui.EditText("SEQUENCE", "close this window", ""), std::optional<std::string>("MKWVTFISLL"));
  WhenModal([](QWidget* w) {
    auto* edit = w->findChild<QPlainTextEdit*>("editorText");
    edit->setPlainText("MKWVTFISLL");
    QCoreApplication::postEvent(edit, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
  });
  EXPECT_FALSE(ui.EditText("SEQUENCE", "close this window", "").has_value());
}

TEST(QtUserInterface, FileDialogTakesFiltersFolderAndPresetName) {
  if (!HaveWidgets()) GTEST_SKIP() << "no widget application";
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() / "tarnel_qt_dialog";
  fs::create_directories(folder);
  QtUserInterface ui;
  platform::FileDialogRequest request;
  request.save = true;
  request.title = "save scratch data in file";
  request.filters = {{"scratch files", "*.scratch;*.scr"}};
  request.initialFolder = folder.string();
  request.presetName = "scratch";
  request.defaultExtension = "*.scratch";
  QStringList filters;
  QString title;
  bool asksBeforeReplacing = false;
  WhenModal([&](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    filters = dialog->nameFilters();
    title = dialog->windowTitle();
    asksBeforeReplacing = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
    static_cast<QDialog*>(dialog)->accept();
  });
  platform::FileDialogResult result = ui.FileDialog(request);
  EXPECT_TRUE(asksBeforeReplacing);
  EXPECT_EQ(title, "save scratch data in file");
  EXPECT_EQ(filters, QStringList{"scratch files (*.scratch *.scr)"});
  ASSERT_TRUE(result.accepted);
  ASSERT_EQ(result.paths.size(), 1u);
  EXPECT_EQ(fs::path(result.paths[0]), folder / "scratch.scratch");

  // A save dialog that picks a file to read asks nothing about replacing it.
  request.confirmOverwrite = false;
  WhenModal([&](QWidget* w) {
    asksBeforeReplacing = !qobject_cast<QFileDialog*>(w)->testOption(QFileDialog::DontConfirmOverwrite);
    static_cast<QDialog*>(w)->reject();
  });
  ui.FileDialog(request);
  EXPECT_FALSE(asksBeforeReplacing);
  fs::remove_all(folder);
}

TEST(QtSoundPlayer, MissingFilesAndSilentMachinesNeverBlock) {
  platform::qt::QtSoundPlayer player(2000);
  player.Play("/nowhere/sounds/bye.wav", true);
  const std::string bad = (std::filesystem::temp_directory_path() / "tarnel_not_a.wav").string();
  std::ofstream(bad) << "not a wave file";
  player.Play(bad, true);  // an undecodable file ends the wait through its error
  player.Play(bad, false);
  std::filesystem::remove(bad);
  SUCCEED();
}

}  // namespace
