#pragma once
// A window menu built at run time: popups, separators and command items
// with their check and grey states. The frame window shows it; the program
// changes it by command id, as the Windows menu calls do.
#include <string>
#include <vector>

namespace platform {

struct MenuNode {
  enum class Kind { Item, Separator, Popup };
  Kind kind = Kind::Item;
  int id = 0;        // command id of an item
  std::string text;  // "&" marks the mnemonic, "\t" starts the accelerator hint
  bool checked = false;
  bool enabled = true;
  std::vector<MenuNode> children;  // items of a popup

  static MenuNode Item(int id, std::string text);
  static MenuNode Separator();
  static MenuNode Popup(std::string text, std::vector<MenuNode> children);
};

class MenuModel {
 public:
  void Set(MenuNode bar);
  const MenuNode& Bar() const { return bar_; }

  // Ticks or unticks every item of the command (one command may have
  // several items); false when the menu has none.
  bool Check(int id, bool checked);
  bool IsChecked(int id) const;
  // Greys or enables every item of the command.
  bool Enable(int id, bool enabled);
  bool IsEnabled(int id) const;
  // Deletes the first item of the command, searching popups depth first.
  bool Delete(int id);
  // Deletes the first popup with this text (mnemonic included).
  bool DeletePopup(const std::string& text);
  // Inserts an item or a popup before the first item of the command beforeId.
  bool InsertBefore(int beforeId, MenuNode node);
  // Appends to the menu bar.
  void Append(MenuNode node);

  int Count(int id) const;  // items of this command
  const MenuNode* Find(int id) const;
  const MenuNode* FindPopup(const std::string& text) const;
  std::vector<int> CommandIds() const;  // item ids in menu order, repeats kept

 private:
  MenuNode bar_ = MenuNode::Popup("", {});
};

// The menu text without mnemonic marks and without the accelerator hint.
std::string PlainMenuText(const std::string& text);

}  // namespace platform
