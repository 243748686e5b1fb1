#include "manager/string_list.h"

#include "manager/list_model.h"

namespace korvo::manager {

const ListClass kStringListClass{"StringList", &CreateList<StringList>};
const ListClass kUserFoldersClass{"UserFolders", &CreateList<UserFolders>};
const ListClass kServerFoldersClass{"ServerFolders", &CreateList<ServerFolders>};
const ListClass kListOfServersClass{"ListOfServers", &CreateList<ListOfServers>};

// A row's item value is the child's position among the node's children.
void StringList::FillWithChildren() {
  for (size_t i = 0; i < tree_.children.size(); ++i) model_->InsertRow(model_->RowCount(), i);
}

void StringList::OpenItem(int row) { model_->OpenRow(row); }

std::string StringList::GetItemText(int, ItemValue item, int tableColumn) {
  if (tableColumn != 0 || item >= tree_.children.size()) return {};
  return tree_.children[item];
}

bool StringList::HandleCommand(int id) {
  if (id != kCmdOpen) return false;
  if (model_->SelectedCount() == 1) OpenItem(model_->FirstSelected());
  return true;
}

bool StringList::UpdateCommand(int id, CommandUi& ui) {
  if (id != kCmdOpen) return false;
  ui.Enable(model_->SelectedCount() == 1);
  return true;
}

ColumnTable UserFolders::GetColumnTable() {
  static const ColumnDescriptor kColumns[] = {{"Folder", 96}};
  return {kColumns, 1};
}

ColumnTable ServerFolders::GetColumnTable() {
  static const ColumnDescriptor kColumns[] = {{"List", 180}};
  return {kColumns, 1};
}

ColumnTable ListOfServers::GetColumnTable() {
  static const ColumnDescriptor kColumns[] = {{"Server", 96}};
  return {kColumns, 1};
}

}  // namespace korvo::manager
