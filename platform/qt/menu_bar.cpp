#include "platform/qt/menu_bar.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenu>
#include <cctype>

namespace platform::qt {

QString QtMenuText(const std::string& text, bool dropMnemonic) {
  std::string t = text;
  if (dropMnemonic) {
    std::string out;
    for (std::size_t i = 0; i < t.size(); ++i) {
      if (t[i] == '&' && i + 1 < t.size() && t[i + 1] == '&') {
        out += "&&";
        ++i;
      } else if (t[i] != '&') {
        out += t[i];
      }
    }
    t = out;
  }
  return QString::fromStdString(t);
}

namespace {

// The letter that an "&" marks, upper case; 0 when none.
int MnemonicOf(const std::string& text) {
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '&') continue;
    if (text[i + 1] == '&') {
      ++i;
      continue;
    }
    return std::toupper(static_cast<unsigned char>(text[i + 1]));
  }
  return 0;
}

bool AltAcceleratorTakes(const std::vector<Accelerator>& accelerators, int letter) {
  for (const auto& a : accelerators)
    if (a.alt && !a.control && !a.shift && a.key == letter) return true;
  return false;
}

}  // namespace

MenuBarBuilder::MenuBarBuilder(QMenuBar* bar, CommandSink sink, QObject* popupFilter)
    : bar_(bar), sink_(std::move(sink)), popupFilter_(popupFilter) {}

std::string MenuBarBuilder::Structure(const MenuNode& node) {
  std::string s;
  for (const auto& child : node.children) {
    switch (child.kind) {
      case MenuNode::Kind::Separator: s += "-;"; break;
      case MenuNode::Kind::Item: s += std::to_string(child.id) + "=" + child.text + ";"; break;
      case MenuNode::Kind::Popup: s += "[" + child.text + ":" + Structure(child) + "]"; break;
    }
  }
  return s;
}

int MenuBarBuilder::CommandOf(const QAction* action) {
  if (!action || action->menu() || action->isSeparator()) return 0;
  const QVariant v = action->data();
  return v.isValid() ? v.toInt() : 0;
}

bool MenuBarBuilder::WalkKey(QWidget* target, int key) {
  if (key != Qt::Key_Left && key != Qt::Key_Right) return false;
  const QList<QAction*> bar = bar_->actions();
  const qsizetype n = bar.size();
  qsizetype at = -1;
  auto* menu = qobject_cast<QMenu*>(target);
  if (menu) {
    at = bar.indexOf(menu->menuAction());
    if (at < 0) return false;  // a submenu: Left closes it
    QAction* active = menu->activeAction();
    if (key == Qt::Key_Right && active && active->menu() && active->isEnabled()) return false;
  } else if (target == bar_) {
    // Only a walk that stands on a command: from a title Qt walks on its own.
    QAction* active = bar_->activeAction();
    if (!active || active->menu()) return false;
    at = bar.indexOf(active);
  }
  if (at < 0 || n < 2) return false;
  const qsizetype step = (key == Qt::Key_Right) == (bar_->layoutDirection() == Qt::LeftToRight) ? 1 : n - 1;
  QAction* next = nullptr;
  for (qsizetype i = (at + step) % n; i != at; i = (i + step) % n) {
    QAction* a = bar[i];
    if (a->isSeparator() || !a->isVisible() || !a->isEnabled()) continue;
    next = a;
    break;
  }
  if (!next) return false;
  if (menu) {
    if (next->menu()) return false;  // menu to menu is Qt's own walk
    // Escape closes the menu and leaves the bar walking from its title.
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(menu, &escape);
  }
  // On a menu title this opens the menu, as the walk came with menus open.
  bar_->setActiveAction(next);
  return true;
}

std::vector<QAction*> MenuBarBuilder::Actions(int id) const {
  std::vector<QAction*> out;
  auto range = actions_.equal_range(id);
  for (auto it = range.first; it != range.second; ++it) out.push_back(it->second);
  return out;
}

void MenuBarBuilder::Sync(const MenuModel& model, const std::vector<Accelerator>& accelerators) {
  std::string structure = Structure(model.Bar());
  for (const auto& a : accelerators) structure += "#" + std::to_string(a.key) + (a.alt ? "a" : "");
  if (structure != structure_) {
    structure_ = structure;
    Rebuild(model, accelerators);
    return;
  }
  for (auto& [id, action] : actions_) {
    const MenuNode* node = model.Find(id);
    if (!node) continue;
    const bool checked = model.IsChecked(id);
    action->setCheckable(checked);
    action->setChecked(checked);
    action->setEnabled(model.IsEnabled(id));
  }
}

void MenuBarBuilder::Rebuild(const MenuModel& model, const std::vector<Accelerator>& accelerators) {
  bar_->clear();
  actions_.clear();
  for (const auto& child : model.Bar().children) {
    if (child.kind == MenuNode::Kind::Separator) {
      bar_->addSeparator();
      continue;
    }
    // Windows translates accelerators before menu mnemonics, so a bar title
    // whose letter an Alt accelerator uses loses its mnemonic.
    const bool drop = AltAcceleratorTakes(accelerators, MnemonicOf(child.text));
    if (child.kind == MenuNode::Kind::Popup) {
      QMenu* menu = bar_->addMenu(QtMenuText(child.text, drop));
      menu->installEventFilter(popupFilter_);
      AddItems(menu, child);
    } else {
      QAction* action = bar_->addAction(QtMenuText(child.text, drop));
      action->setData(child.id);
      action->setEnabled(child.enabled);
      const int id = child.id;
      QObject::connect(action, &QAction::triggered, bar_, [this, id] { sink_(id); });
      actions_.emplace(id, action);
    }
  }
}

void MenuBarBuilder::AddItems(QMenu* menu, const MenuNode& popup) {
  for (const auto& child : popup.children) {
    switch (child.kind) {
      case MenuNode::Kind::Separator: menu->addSeparator(); break;
      case MenuNode::Kind::Popup: {
        QMenu* sub = menu->addMenu(QtMenuText(child.text));
        sub->installEventFilter(popupFilter_);
        AddItems(sub, child);
        break;
      }
      case MenuNode::Kind::Item: {
        QAction* action = menu->addAction(QtMenuText(child.text));
        action->setData(child.id);
        // Only marked items are checkable, so unmarked ones show no box.
        action->setCheckable(child.checked);
        action->setChecked(child.checked);
        action->setEnabled(child.enabled);
        const int id = child.id;
        QObject::connect(action, &QAction::triggered, menu, [this, id, action] {
          // A click toggles a checkable action; the mark belongs to the program.
          if (action->isCheckable()) action->setChecked(!action->isChecked());
          sink_(id);
        });
        actions_.emplace(id, action);
        break;
      }
    }
  }
}

}  // namespace platform::qt
