#pragma once
// The Qt menu bar of a frame window, built from its menu description:
// popups, separators, checkable items keyed by command id, greyed items,
// mnemonics and the accelerator hints after "\t".
#include <QMenuBar>
#include <QString>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/frame_window.h"
#include "platform/menu_model.h"

namespace platform::qt {

// Menu text in Qt's form. With dropMnemonic the "&" mark is removed (a
// mnemonic that an Alt accelerator of the window takes over).
QString QtMenuText(const std::string& text, bool dropMnemonic = false);

class MenuBarBuilder {
 public:
  using CommandSink = std::function<void(int id)>;
  MenuBarBuilder(QMenuBar* bar, CommandSink sink, QObject* popupFilter);

  // Follows the description: rebuilds when items came or went, else only
  // updates check marks and grey states.
  void Sync(const MenuModel& model, const std::vector<Accelerator>& accelerators);
  // The actions of a command (one per item).
  std::vector<QAction*> Actions(int id) const;
  // The command of an action, 0 for popups and separators.
  static int CommandOf(const QAction* action);
  // Left or Right pressed in an open menu of the bar (or on the bar itself):
  // Qt's walk passes over the bar's own commands, this one stops on them and
  // goes on from them. True when it took the key.
  bool WalkKey(QWidget* target, int key);

 private:
  void Rebuild(const MenuModel& model, const std::vector<Accelerator>& accelerators);
  void AddItems(QMenu* menu, const MenuNode& popup);
  static std::string Structure(const MenuNode& node);

  QMenuBar* bar_;
  CommandSink sink_;
  QObject* popupFilter_;
  std::string structure_;
  std::multimap<int, QAction*> actions_;
};

}  // namespace platform::qt
