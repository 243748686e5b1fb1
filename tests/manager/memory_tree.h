// A tree control in memory for the folder tree's tests: nodes with their
// text and class, the selection, and expansion marks that a rebuild loses
// with the nodes.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "manager/folder_tree.h"

namespace korvo::test {

class MemoryTree final : public manager::TreeControl {
 public:
  Item InsertItem(Item parent, Item after, const std::string& text, const manager::ListClass* cls) override {
    const Item item = next_++;
    nodes_[item] = {text, cls, parent, false};
    auto& siblings = children_[parent];
    auto at = after == kLast ? siblings.end() : std::find(siblings.begin(), siblings.end(), after);
    siblings.insert(at == siblings.end() ? at : at + 1, item);
    return item;
  }
  void DeleteItem(Item item) override {
    for (Item child : Children(item)) DeleteItem(child);
    auto& siblings = children_[nodes_[item].parent];
    siblings.erase(std::remove(siblings.begin(), siblings.end(), item), siblings.end());
    if (selected_ == item) selected_ = kRoot;
    children_.erase(item);
    nodes_.erase(item);
  }
  std::vector<Item> Children(Item item) const override {
    auto it = children_.find(item);
    return it == children_.end() ? std::vector<Item>{} : it->second;
  }
  Item Parent(Item item) const override { return nodes_.at(item).parent; }
  std::string Text(Item item) const override { return nodes_.at(item).text; }
  const manager::ListClass* Class(Item item) const override { return nodes_.at(item).cls; }
  Item Selection() const override { return selected_; }
  void Select(Item item) override { selected_ = item; }

  void Expand(Item item) { nodes_.at(item).expanded = true; }
  bool IsExpanded(Item item) const { return nodes_.at(item).expanded; }
  // The child with the text; kRoot when there is none.
  Item Find(Item parent, const std::string& text) const {
    for (Item c : Children(parent))
      if (Text(c) == text) return c;
    return kRoot;
  }
  std::vector<std::string> Texts(Item parent) const {
    std::vector<std::string> out;
    for (Item c : Children(parent)) out.push_back(Text(c));
    return out;
  }

 private:
  struct Node {
    std::string text;
    const manager::ListClass* cls;
    Item parent;
    bool expanded;
  };
  std::map<Item, Node> nodes_;
  std::map<Item, std::vector<Item>> children_;
  Item selected_ = kRoot;
  Item next_ = 1;
};

}  // namespace korvo::test
