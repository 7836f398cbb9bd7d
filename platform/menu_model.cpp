#include "platform/menu_model.h"

#include <functional>

namespace platform {

MenuNode MenuNode::Item(int id, std::string text) {
  MenuNode n;
  n.kind = Kind::Item;
  n.id = id;
  n.text = std::move(text);
  return n;
}

MenuNode MenuNode::Separator() {
  MenuNode n;
  n.kind = Kind::Separator;
  return n;
}

MenuNode MenuNode::Popup(std::string text, std::vector<MenuNode> children) {
  MenuNode n;
  n.kind = Kind::Popup;
  n.text = std::move(text);
  n.children = std::move(children);
  return n;
}

namespace {

void ForEachItem(MenuNode& node, int id, const std::function<void(MenuNode&)>& f) {
  for (auto& child : node.children) {
    if (child.kind == MenuNode::Kind::Item && child.id == id) f(child);
    if (child.kind == MenuNode::Kind::Popup) ForEachItem(child, id, f);
  }
}

const MenuNode* FindIn(const MenuNode& node, int id) {
  for (const auto& child : node.children) {
    if (child.kind == MenuNode::Kind::Item && child.id == id) return &child;
    if (child.kind == MenuNode::Kind::Popup) {
      if (const MenuNode* found = FindIn(child, id)) return found;
    }
  }
  return nullptr;
}

const MenuNode* FindPopupIn(const MenuNode& node, const std::string& text) {
  for (const auto& child : node.children) {
    if (child.kind != MenuNode::Kind::Popup) continue;
    if (child.text == text) return &child;
    if (const MenuNode* found = FindPopupIn(child, text)) return found;
  }
  return nullptr;
}

// Removes (or inserts before) the first matching child, depth first.
bool EditFirst(MenuNode& node, const std::function<bool(const MenuNode&)>& match,
               const std::function<void(std::vector<MenuNode>&, std::size_t)>& edit) {
  for (std::size_t i = 0; i < node.children.size(); ++i) {
    if (match(node.children[i])) {
      edit(node.children, i);
      return true;
    }
    if (node.children[i].kind == MenuNode::Kind::Popup && EditFirst(node.children[i], match, edit))
      return true;
  }
  return false;
}

void CollectIds(const MenuNode& node, std::vector<int>& ids) {
  for (const auto& child : node.children) {
    if (child.kind == MenuNode::Kind::Item) ids.push_back(child.id);
    if (child.kind == MenuNode::Kind::Popup) CollectIds(child, ids);
  }
}

}  // namespace

void MenuModel::Set(MenuNode bar) {
  bar_ = std::move(bar);
  bar_.kind = MenuNode::Kind::Popup;
}

bool MenuModel::Check(int id, bool checked) {
  bool any = false;
  ForEachItem(bar_, id, [&](MenuNode& n) {
    n.checked = checked;
    any = true;
  });
  return any;
}

bool MenuModel::IsChecked(int id) const {
  const MenuNode* n = Find(id);
  return n && n->checked;
}

bool MenuModel::Enable(int id, bool enabled) {
  bool any = false;
  ForEachItem(bar_, id, [&](MenuNode& n) {
    n.enabled = enabled;
    any = true;
  });
  return any;
}

bool MenuModel::IsEnabled(int id) const {
  const MenuNode* n = Find(id);
  return n && n->enabled;
}

bool MenuModel::Delete(int id) {
  return EditFirst(
      bar_, [id](const MenuNode& n) { return n.kind == MenuNode::Kind::Item && n.id == id; },
      [](std::vector<MenuNode>& v, std::size_t i) { v.erase(v.begin() + static_cast<long>(i)); });
}

bool MenuModel::DeletePopup(const std::string& text) {
  return EditFirst(
      bar_, [&](const MenuNode& n) { return n.kind == MenuNode::Kind::Popup && n.text == text; },
      [](std::vector<MenuNode>& v, std::size_t i) { v.erase(v.begin() + static_cast<long>(i)); });
}

bool MenuModel::InsertBefore(int beforeId, MenuNode node) {
  return EditFirst(
      bar_,
      [beforeId](const MenuNode& n) { return n.kind == MenuNode::Kind::Item && n.id == beforeId; },
      [&](std::vector<MenuNode>& v, std::size_t i) {
        v.insert(v.begin() + static_cast<long>(i), std::move(node));
      });
}

void MenuModel::Append(MenuNode node) { bar_.children.push_back(std::move(node)); }

int MenuModel::Count(int id) const {
  int n = 0;
  for (int x : CommandIds()) n += (x == id);
  return n;
}

const MenuNode* MenuModel::Find(int id) const { return FindIn(bar_, id); }

const MenuNode* MenuModel::FindPopup(const std::string& text) const {
  return FindPopupIn(bar_, text);
}

std::vector<int> MenuModel::CommandIds() const {
  std::vector<int> ids;
  CollectIds(bar_, ids);
  return ids;
}

std::string PlainMenuText(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\t') break;
    if (c == '&') {
      if (i + 1 < text.size() && text[i + 1] == '&') {
        out += '&';
        ++i;
      }
      continue;
    }
    out += c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

}  // namespace platform
