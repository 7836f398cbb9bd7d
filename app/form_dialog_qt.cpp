// The desktop form of the data-described dialogs.
#ifdef TARNEL_HAVE_QT
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include <map>

#include "app/form_dialog.h"
#include "platform/user_interface.h"

namespace {

bool RunQtForm(FormDialog& form) {
  QDialog dialog(QApplication::activeWindow());
  dialog.setWindowTitle(QString::fromStdString(form.caption));
  auto* outer = new QVBoxLayout(&dialog);
  auto* grid = new QGridLayout;
  outer->addLayout(grid);
  std::map<int, QCheckBox*> checks;
  std::map<int, QRadioButton*> radios;
  std::map<int, QLineEdit*> edits;
  std::map<int, QButtonGroup*> groups;
  int autoRow = 0;
  for (const FormControl& c : form.controls) {
    if (!c.visible) continue;
    const int row = c.row > 0 ? c.row : ++autoRow;
    const int column = c.column;
    switch (c.kind) {
      case FormControl::Kind::Check: {
        auto* box = new QCheckBox(QString::fromStdString(c.label));
        box->setChecked(c.state != 0);
        box->setEnabled(c.enabled);
        grid->addWidget(box, row, column);
        checks[c.id] = box;
        break;
      }
      case FormControl::Kind::Radio: {
        auto* box = new QRadioButton(QString::fromStdString(c.label));
        box->setAutoExclusive(true);
        if (c.group != 0) {
          QButtonGroup*& g = groups[c.group];
          if (!g) g = new QButtonGroup(&dialog);
          g->addButton(box);
        }
        box->setChecked(c.state != 0);
        box->setEnabled(c.enabled);
        grid->addWidget(box, row, column, 1, 3);
        radios[c.id] = box;
        break;
      }
      case FormControl::Kind::Edit: {
        auto* edit = new QLineEdit(QString::fromStdString(c.text));
        edit->setMaxLength(c.maxChars);
        edit->setMinimumWidth(90);
        edit->setEnabled(c.enabled);
        if (!c.label.empty()) grid->addWidget(new QLabel(QString::fromStdString(c.label)), row, column);
        grid->addWidget(edit, row, column + 1);
        edits[c.id] = edit;
        break;
      }
    }
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  outer->addWidget(buttons);
  auto collect = [&](FormDialog& into) {
    for (auto& [id, w] : checks) into.Find(id)->state = w->isChecked() ? 1 : 0;
    for (auto& [id, w] : radios) into.Find(id)->state = w->isChecked() ? 1 : 0;
    for (auto& [id, w] : edits) into.Find(id)->text = w->text().toStdString();
  };
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
    FormDialog typed = form;
    collect(typed);
    if (!typed.canClose || typed.canClose(typed)) dialog.accept();
  });
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  if (dialog.exec() != QDialog::Accepted) return false;
  collect(form);
  return true;
}

}  // namespace

FormRunner DesktopFormRunner() {
  if (!QApplication::instance() || platform::Headless()) return nullptr;
  if (QGuiApplication::platformName() == QLatin1String("offscreen")) return nullptr;
  return RunQtForm;
}
#endif
