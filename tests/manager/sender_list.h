// A list made for the tests over a real korvohub: the denied senders
// (request 7800, per-row delete 7820), downloaded through the base's LST
// file, sorted by either column, with the junk senders' popup whose Delete
// asks before it deletes.
#pragma once

#include <string>
#include <vector>

#include "common/entries.h"
#include "manager/list_model.h"

namespace korvo::test {

class SenderList : public manager::ListContext {
 public:
  static constexpr int kPopupDelete = 32867;
  // Adding this row raises a file error.
  static inline int failAtRow = -1;
  // The rows opened, in order.
  static inline std::vector<int> opened;

  void Fill() override { DownloadList(serverName_, 7800, "0", 0); }
  std::string GetItemText(int, manager::ItemValue item, int column) override {
    const auto* e = reinterpret_cast<const JunkSenderEntry*>(item);
    return column == 0 ? e->stationId : e->description;
  }
  manager::CompareFunction GetCompareFunction() override {
    return [](manager::ItemValue a, manager::ItemValue b, uint32_t p) {
      const auto* x = reinterpret_cast<const JunkSenderEntry*>(a);
      const auto* y = reinterpret_cast<const JunkSenderEntry*>(b);
      const int r = (p & 0xFFFF) == 0 ? x->stationId.compare(y->stationId) : x->description.compare(y->description);
      return (p >> 16) ? -r : r;
    };
  }
  int GetMenuIndex() override { return 12; }
  void OpenItem(int row) override { opened.push_back(row); }
  void DeleteItemData(manager::ItemValue item) override { delete reinterpret_cast<JunkSenderEntry*>(item); }
  void OnDeleteItems() override { ConfirmDeleteSelected(0); }
  void OnUpdateDeleteItems(manager::CommandUi& ui) override { ui.Enable(model_->SelectedCount() > 0); }
  bool HandleCommand(int id) override {
    if (id != kPopupDelete) return false;
    ConfirmDeleteSelected(0);
    return true;
  }
  manager::ColumnTable GetColumnTable() override {
    static const manager::ColumnDescriptor kColumns[] = {{"Station Identifier", 130}, {"Name / Comment", 120}};
    return {kColumns, 2};
  }
  int AddItemFromText(int row, const char* line, int) override {
    if (row == failAtRow) throw manager::ListFileError("damaged list");
    auto* e = new JunkSenderEntry(line);
    return model_->InsertRow(row, reinterpret_cast<manager::ItemValue>(e)) ? 1 : (delete e, 0);
  }
  RequestResult DeleteItemOnServer(int row, int) override {
    return client_.ChangeJunkSender(serverName_.c_str(), FaxClient::kDeleteJunkSender,
                                    *reinterpret_cast<const JunkSenderEntry*>(model_->GetRow(row).item));
  }
};

inline const manager::ListClass kSenderList{"SenderList", &manager::CreateList<SenderList>};
inline const manager::TreeSelection kSenderNode{"Denied Access Book", true, "."};

}  // namespace korvo::test
