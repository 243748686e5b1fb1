#include "manager/app/tree_view.h"

#include <wx/bitmap.h>
#include <wx/frame.h>
#include <wx/menu.h>

#include "desktop/command_id.h"
#include "manager/app/tree_images.h"
#include "manager/menus.h"
#include "manager/view/menu_copy.h"

namespace korvo::manager {

namespace {

constexpr int kNodeImage = 3;
constexpr int kSelectedImage = 4;

// The class record a node carries, read back from the tree item alone.
class NodeData : public wxTreeItemData {
 public:
  explicit NodeData(const ListClass* cls) : cls_(cls) {}
  const ListClass* cls() const { return cls_; }

 private:
  const ListClass* cls_;
};

}  // namespace

TreeView::TreeView(wxWindow* parent, ManagerDoc& doc, UiServices& ui, ServiceControl& service,
                   TreeModel::Frame frame)
    : wxTreeCtrl(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                 wxTR_HAS_BUTTONS | wxTR_LINES_AT_ROOT | wxTR_HIDE_ROOT | wxTR_SINGLE),
      images_(16, 16, true, 5) {
  model_ = std::make_unique<TreeModel>(doc, *this, ui, service, std::move(frame));
  AddRoot("");
  Bind(wxEVT_TREE_SEL_CHANGED, [this](wxTreeEvent& e) {
    // The rebuild of the server nodes moves the selection on its own.
    if (!IsFrozen()) model_->OnSelectionChanged();
    e.Skip();
  });
  Bind(wxEVT_TREE_ITEM_EXPANDING, [this](wxTreeEvent& e) {
    model_->OnExpanding(ToItem(e.GetItem()));
    e.Skip();
  });
  // The right button opens the popup of the selected node: the press is kept
  // from the control, which would select the node under the pointer first
  // (and load its list).
  Bind(wxEVT_RIGHT_DOWN, [this](wxMouseEvent&) { SetFocus(); });
  Bind(wxEVT_RIGHT_UP, [this](wxMouseEvent& e) { ShowPopup(e.GetPosition()); });
}

TreeView::~TreeView() { DeleteAllItems(); }

void TreeView::InitialUpdate() {
  images_.Add(wxBitmap(kTreeImagesXpm), wxColour(0xFF, 0x00, 0xFF));
  SetImageList(&images_);
  model_->Build();
}

wxTreeItemId TreeView::ToId(Item item) const {
  return item == kRoot ? GetRootItem() : wxTreeItemId(reinterpret_cast<void*>(item));
}

TreeControl::Item TreeView::InsertItem(Item parent, Item after, const std::string& text, const ListClass* cls) {
  const wxString label = wxString::FromUTF8(text);
  auto* data = new NodeData(cls);
  const wxTreeItemId id =
      after == kLast ? AppendItem(ToId(parent), label, kNodeImage, kSelectedImage, data)
                     : wxTreeCtrl::InsertItem(ToId(parent), ToId(after), label, kNodeImage, kSelectedImage, data);
  return ToItem(id);
}

void TreeView::DeleteItem(Item item) { Delete(ToId(item)); }

std::vector<TreeControl::Item> TreeView::Children(Item item) const {
  std::vector<Item> children;
  wxTreeItemIdValue cookie;
  for (wxTreeItemId c = GetFirstChild(ToId(item), cookie); c.IsOk(); c = GetNextChild(ToId(item), cookie))
    children.push_back(ToItem(c));
  return children;
}

TreeControl::Item TreeView::Parent(Item item) const {
  const wxTreeItemId parent = GetItemParent(ToId(item));
  return !parent.IsOk() || parent == GetRootItem() ? kRoot : ToItem(parent);
}

std::string TreeView::Text(Item item) const { return GetItemText(ToId(item)).utf8_string(); }

const ListClass* TreeView::Class(Item item) const {
  auto* data = static_cast<NodeData*>(GetItemData(ToId(item)));
  return data ? data->cls() : nullptr;
}

TreeControl::Item TreeView::Selection() const {
  const wxTreeItemId selected = GetSelection();
  return selected.IsOk() && selected != GetRootItem() ? ToItem(selected) : kRoot;
}

void TreeView::Select(Item item) { SelectItem(ToId(item)); }

wxTreeItemId TreeView::FindChild(const wxTreeItemId& parent, const std::string& text) const {
  for (Item c : Children(parent == GetRootItem() ? kRoot : ToItem(parent)))
    if (Text(c) == text) return ToId(c);
  return {};
}

void TreeView::ShowPopup(const wxPoint& at) {
  // The popup of the selected node, not of the node under the pointer.
  const int index = model_->PopupIndex();
  std::unique_ptr<wxMenu> menu(CopyPopup(TreePopups()[static_cast<size_t>(index)]));
  wxWindow* owner = wxGetTopLevelParent(this);
  popupOpen_ = true;
  owner->PopupMenu(menu.get(), owner->ScreenToClient(ClientToScreen(at)));
  popupOpen_ = false;
}

}  // namespace korvo::manager
