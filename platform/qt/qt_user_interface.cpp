#include "platform/qt/qt_user_interface.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QSpacerItem>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QStringList>
#include <QVBoxLayout>

#include "platform/input_events.h"
#include "platform/paths.h"
#include "platform/qt/frame_window.h"

namespace platform::qt {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QMessageBox::Icon ToQtIcon(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::None:
      return QMessageBox::NoIcon;
    case BoxIcon::Information:
      return QMessageBox::Information;
    case BoxIcon::Question:
      return QMessageBox::Question;
    case BoxIcon::Warning:
      return QMessageBox::Warning;
    case BoxIcon::Error:
      return QMessageBox::Critical;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ToQtButtons(BoxButtons buttons) {
  switch (buttons) {
    case BoxButtons::Ok:
      return QMessageBox::Ok;
    case BoxButtons::OkCancel:
      return QMessageBox::Ok | QMessageBox::Cancel;
    case BoxButtons::YesNo:
    case BoxButtons::YesNoDefaultNo:
      return QMessageBox::Yes | QMessageBox::No;
    case BoxButtons::YesNoCancel:
      return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
  }
  return QMessageBox::Ok;
}

// What closing the box without a button (Escape, the title bar) means.
int DismissAnswer(BoxButtons buttons) {
  switch (buttons) {
    case BoxButtons::Ok:
      return IDOK;
    case BoxButtons::YesNo:
    case BoxButtons::YesNoDefaultNo:
      return IDNO;
    case BoxButtons::OkCancel:
    case BoxButtons::YesNoCancel:
      return IDCANCEL;
  }
  return IDCANCEL;
}

// A box that a computation shows (a stop it was asked for) comes while the
// user may still be typing: presses already on their way went to the busy
// window, which drops them, instead of answering the box. The window puts
// away what the computation drew only to show its progress.
void FlushPressesBeforeABoxOfAComputation() {
  bool busy = false;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* frame = dynamic_cast<QtFrameWindow*>(w); frame && frame->Busy()) {
      busy = true;
      frame->BoxOfTheComputation();
    }
  if (!busy) return;
  QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  ClearInput();
}

}  // namespace

std::string QtFilterText(const std::string& description, const std::string& pattern) {
  std::string patterns = pattern;
  for (char& c : patterns)
    if (c == ';') c = ' ';
  return description + " (" + patterns + ")";
}

namespace {

// A short text makes a narrow window whose title bar cuts the caption
// ("In... or", "CALCU... RATIO"): the window is at least this wide.
int WidthForCaption(const QWidget& window, const std::string& caption) {
  return window.fontMetrics().horizontalAdvance(Q(caption)) + 160;
}

}  // namespace

int QtUserInterface::MessageBox(const std::string& caption, const std::string& text,
                                BoxButtons buttons, BoxIcon icon) {
  FlushPressesBeforeABoxOfAComputation();
  QMessageBox box(ToQtIcon(icon), Q(caption), Q(StripBell(text)), ToQtButtons(buttons),
                  QApplication::activeWindow());
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    const int width = WidthForCaption(box, caption);
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), grid->rowCount(), 0,
                  1, grid->columnCount());
  }
  if (buttons == BoxButtons::YesNoDefaultNo) box.setDefaultButton(QMessageBox::No);
  switch (box.exec()) {
    case QMessageBox::Ok:
      return IDOK;
    case QMessageBox::Cancel:
      return IDCANCEL;
    case QMessageBox::Yes:
      return IDYES;
    case QMessageBox::No:
      return IDNO;
    default:
      return DismissAnswer(buttons);
  }
}

std::optional<std::string> QtUserInterface::PromptText(const std::string& title,
                                                       const std::string& prompt,
                                                       const std::string& initial, int maxChars) {
  QDialog dialog(QApplication::activeWindow());
  dialog.setWindowTitle(Q(title));
  dialog.setMinimumWidth(WidthForCaption(dialog, title));
  auto* layout = new QVBoxLayout(&dialog);
  auto* label = new QLabel(Q(prompt), &dialog);
  label->setWordWrap(true);
  layout->addWidget(label);
  auto* edit = new QLineEdit(&dialog);
  edit->setObjectName("promptEdit");
  if (maxChars > 0) edit->setMaxLength(maxChars);
  edit->setText(Q(initial));
  edit->selectAll();
  layout->addWidget(edit);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  edit->setFocus();
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return edit->text().toStdString();
}

namespace {

// The editor's hint tells the user to close the window when done: closing
// (the title bar's button) hands the text back like OK; Escape and Cancel
// still drop it.
class TextEditorDialog : public QDialog {
 public:
  using QDialog::QDialog;

 protected:
  void closeEvent(QCloseEvent* event) override {
    if (isVisible()) accept();
    event->accept();
  }
};

}  // namespace

// Cut, copy, paste, undo and select-all are the text field's own shortcuts.
std::optional<std::string> QtUserInterface::EditText(const std::string& title, const std::string& placeholder,
                                                     const std::string& initial) {
  TextEditorDialog dialog(QApplication::activeWindow());
  dialog.setWindowTitle(Q(title));
  auto* layout = new QVBoxLayout(&dialog);
  auto* edit = new QPlainTextEdit(&dialog);
  edit->setObjectName("editorText");
  edit->setPlaceholderText(Q(placeholder));
  edit->setPlainText(Q(initial));
  layout->addWidget(edit);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  dialog.resize(600, 400);
  edit->setFocus();
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return edit->toPlainText().toStdString();
}

FileDialogResult QtUserInterface::FileDialog(const FileDialogRequest& request) {
  QFileDialog dialog(QApplication::activeWindow(), Q(request.title));
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  if (request.save) {
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
  } else {
    dialog.setFileMode(request.multiSelect ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  }
  QStringList filters;
  for (const auto& [description, pattern] : request.filters)
    filters << Q(QtFilterText(description, pattern));
  if (!filters.isEmpty()) dialog.setNameFilters(filters);
  if (!request.initialFolder.empty()) dialog.setDirectory(Q(ToNative(request.initialFolder)));
  std::string extension = request.defaultExtension;
  while (!extension.empty() && (extension.front() == '*' || extension.front() == '.'))
    extension.erase(extension.begin());
  if (!extension.empty()) dialog.setDefaultSuffix(Q(extension));
  if (!request.presetName.empty()) dialog.selectFile(Q(ToNative(request.presetName)));

  FileDialogResult result;
  if (dialog.exec() != QDialog::Accepted) return result;
  result.accepted = true;
  for (const QString& path : dialog.selectedFiles()) result.paths.push_back(path.toStdString());
  return result;
}

void QtUserInterface::Beep() { QApplication::beep(); }

}  // namespace platform::qt
