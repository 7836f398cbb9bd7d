// The desktop form of the data-described dialogs.
#ifdef TARNEL_HAVE_QT
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <map>
#include <set>
#include <utility>
#include <memory>

#include "app/dialogs/form_dialog.h"
#include "app/dialogs/form_dialog_qt.h"
#include "platform/user_interface.h"

namespace {

// Labels wrap at this width, so that long ones ("buffer viscosity (Poise)")
// do not widen a whole column of the grid.
constexpr int kLabelWidth = 120;

QLabel* WrappedLabel(const std::string& text) {
  auto* label = new QLabel(QString::fromStdString(text));
  label->setWordWrap(true);
  label->setMaximumWidth(kLabelWidth);
  return label;
}

// A check box in the cell right after an edit belongs to that edit's value
// ("meniscus" [5.95] [fit]) and sits beside it; a gap on its right keeps it
// apart from the next field's label. Any other check box after a
// control of its row belongs to the field that follows it: the gap on its
// left keeps it away from the field there, which a click meant for that
// field would tick.
constexpr int kCheckGap = 24;
constexpr int kValueCheckGap = 12;

// A check box, its text wrapping when long: the box and a label beside it.
QCheckBox* WrappedCheck(const FormControl& c, QGridLayout* grid, bool besideValue) {
  auto* box = new QCheckBox;
  box->setChecked(c.state != 0);
  box->setEnabled(c.enabled);
  auto* cell = new QWidget;
  auto* row = new QHBoxLayout(cell);
  if (besideValue)
    row->setContentsMargins(0, 0, kValueCheckGap, 0);
  else
    row->setContentsMargins(c.column > 0 ? kCheckGap : 0, 0, 0, 0);
  row->setSpacing(4);
  row->addWidget(box);
  if (c.label.size() <= 12) {
    box->setText(QString::fromStdString(c.label));
    row->addStretch(1);
  } else {
    QLabel* label = WrappedLabel(c.label);
    label->setBuddy(box);
    row->addWidget(label, 1);
  }
  grid->addWidget(cell, c.row, c.column);
  return box;
}

}  // namespace

std::unique_ptr<QDialog> BuildQtForm(FormDialog& form, QWidget* parent) {
  auto dialog = std::make_unique<QDialog>(parent);
  dialog->setWindowTitle(QString::fromStdString(form.caption));
  auto* outer = new QVBoxLayout(dialog.get());
  auto* scroll = new QScrollArea;
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  auto* body = new QWidget;
  auto* grid = new QGridLayout(body);
  grid->setHorizontalSpacing(6);
  scroll->setWidget(body);
  outer->addWidget(scroll);
  auto checks = std::make_shared<std::map<int, QCheckBox*>>();
  auto radios = std::make_shared<std::map<int, QRadioButton*>>();
  auto edits = std::make_shared<std::map<int, QLineEdit*>>();
  std::map<int, QButtonGroup*> groups;
  // Each group box holds a grid of its own; its controls keep their places
  // relative to the box's first row and column.
  std::vector<QGridLayout*> boxGrids;
  for (const FormGroupBox& g : form.groupBoxes) {
    auto* box = new QGroupBox(QString::fromStdString(g.title));
    auto* inner = new QGridLayout(box);
    inner->setHorizontalSpacing(6);
    grid->addWidget(box, g.row, g.column, g.rows, g.columns);
    boxGrids.push_back(inner);
  }
  QGridLayout* const mainGrid = grid;
  // The cells that hold the value of an edit with a place of its own.
  std::set<std::pair<int, int>> valueCells;
  for (const FormControl& c : form.controls)
    if (c.visible && c.kind == FormControl::Kind::Edit && c.row > 0) valueCells.insert({c.row, c.column + 1});
  int autoRow = 0;
  for (FormControl c : form.controls) {
    if (!c.visible) continue;
    if (c.row <= 0) c.row = ++autoRow;
    const bool besideValue = c.kind == FormControl::Kind::Check && valueCells.count({c.row, c.column - 1}) > 0;
    QGridLayout* grid = mainGrid;
    if (const FormGroupBox* g = form.GroupBoxOf(c)) {
      grid = boxGrids[static_cast<size_t>(g - form.groupBoxes.data())];
      c.row -= g->row;
      c.column -= g->column;
    }
    switch (c.kind) {
      case FormControl::Kind::Check: (*checks)[c.id] = WrappedCheck(c, grid, besideValue); break;
      case FormControl::Kind::Radio: {
        auto* box = new QRadioButton(QString::fromStdString(c.label));
        box->setAutoExclusive(true);
        if (c.group != 0) {
          QButtonGroup*& g = groups[c.group];
          if (!g) g = new QButtonGroup(dialog.get());
          g->addButton(box);
        }
        box->setChecked(c.state != 0);
        box->setEnabled(c.enabled);
        grid->addWidget(box, c.row, c.column, 1, 3);
        (*radios)[c.id] = box;
        break;
      }
      case FormControl::Kind::Edit: {
        auto* edit = new QLineEdit(QString::fromStdString(c.text));
        edit->setMaxLength(c.maxChars);
        edit->setMinimumWidth(80);
        edit->setMaximumWidth(110);
        edit->setEnabled(c.enabled);
        if (!c.label.empty()) {
          QLabel* label = WrappedLabel(c.label);
          label->setBuddy(edit);
          grid->addWidget(label, c.row, c.column);
        }
        // A path or a long text takes the rest of its row.
        if (c.maxChars > 100) {
          edit->setMaximumWidth(QWIDGETSIZE_MAX);
          grid->addWidget(edit, c.row, c.column + 1, 1, -1);
        } else {
          grid->addWidget(edit, c.row, c.column + 1);
        }
        (*edits)[c.id] = edit;
        break;
      }
    }
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  outer->addWidget(buttons);
  auto collect = [checks, radios, edits](FormDialog& into) {
    for (auto& [id, w] : *checks) into.Find(id)->state = w->isChecked() ? 1 : 0;
    for (auto& [id, w] : *radios) into.Find(id)->state = w->isChecked() ? 1 : 0;
    for (auto& [id, w] : *edits) into.Find(id)->text = w->text().toStdString();
  };
  QDialog* d = dialog.get();
  QObject::connect(buttons, &QDialogButtonBox::accepted, d, [&form, d, collect] {
    FormDialog typed = form;
    collect(typed);
    if (!typed.canClose || typed.canClose(typed)) {
      collect(form);
      d->accept();
    }
  });
  QObject::connect(buttons, &QDialogButtonBox::rejected, d, &QDialog::reject);
  // The whole grid when the screen has room for it; otherwise as much as
  // fits, and the rest scrolls.
  body->adjustSize();
  QSize want = body->sizeHint() + QSize(scroll->verticalScrollBar()->sizeHint().width() + 24,
                                        buttons->sizeHint().height() + 40);
  if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen()) {
    const QRect room = screen->availableGeometry();
    want = want.boundedTo(QSize(room.width() * 95 / 100, room.height() * 90 / 100));
  }
  dialog->resize(want);
  return dialog;
}

namespace {

bool RunQtForm(FormDialog& form) {
  std::unique_ptr<QDialog> dialog = BuildQtForm(form, QApplication::activeWindow());
  return dialog->exec() == QDialog::Accepted;
}

}  // namespace

FormRunner DesktopFormRunner() {
  if (!QApplication::instance() || platform::Headless()) return nullptr;
  if (QGuiApplication::platformName() == QLatin1String("offscreen")) return nullptr;
  return RunQtForm;
}
#endif
