// The left pane: the folder tree in a wxTreeCtrl, a thin view over the tree
// model. Selecting a node opens its list in the other views, "Fax Servers"
// picks up newly found servers, and a right click opens the popup of the
// selected node (menu 141) with the main window as owner of its commands.
#pragma once

#include <memory>

#include <wx/imaglist.h>
#include <wx/treectrl.h>

#include "manager/tree_model.h"

class wxFrame;

namespace korvo::manager {

class TreeView : public wxTreeCtrl, public TreeControl {
 public:
  TreeView(wxWindow* parent, ManagerDoc& doc, UiServices& ui, ServiceControl& service, TreeModel::Frame frame);
  ~TreeView() override;

  // The initial update: images and the whole tree.
  void InitialUpdate();
  TreeModel& model() { return *model_; }
  // The node with this text under the parent (kRoot: top level); an invalid
  // id when there is none.
  wxTreeItemId FindChild(const wxTreeItemId& parent, const std::string& text) const;
  bool popupOpen() const { return popupOpen_; }

  // TreeControl.
  Item InsertItem(Item parent, Item after, const std::string& text, const ListClass* listClass) override;
  void DeleteItem(Item item) override;
  std::vector<Item> Children(Item item) const override;
  Item Parent(Item item) const override;
  std::string Text(Item item) const override;
  const ListClass* Class(Item item) const override;
  Item Selection() const override;
  void Select(Item item) override;
  void Freeze() override { wxTreeCtrl::Freeze(); }
  void Thaw() override { wxTreeCtrl::Thaw(); }

  static Item ToItem(const wxTreeItemId& id) { return reinterpret_cast<Item>(id.GetID()); }
  wxTreeItemId ToId(Item item) const;

 private:
  void ShowPopup(const wxPoint& at);

  std::unique_ptr<TreeModel> model_;
  wxImageList images_;
  bool popupOpen_ = false;
};

}  // namespace korvo::manager
