// What the books (addresses, registered users, junk senders, modems) share:
// one entry object per row, owned by the list, made from each downloaded
// line; the Add, Copy, Edit and Delete commands of their popup with the
// toolbar's, enabled by the selection; a row opened is edited.
#pragma once

#include <memory>
#include <type_traits>

#include "manager/list_context.h"
#include "manager/list_model.h"

namespace korvo::manager {

// The popup's command ids; 0 where the popup has no such command.
struct BookCommands {
  int add;
  int copy;
  int edit;
  int remove;
};

template <class Entry>
class BookList : public ListContext {
 public:
  void DeleteItemData(ItemValue item) override { delete reinterpret_cast<Entry*>(item); }
  int AddItemFromText(int rowIndex, const char* line, int) override {
    auto entry = std::make_unique<Entry>();
    if (!Decode(line, *entry) || !model_->InsertRow(rowIndex, reinterpret_cast<ItemValue>(entry.get()))) return 0;
    entry.release();
    return 1;
  }
  void OpenItem(int row) override { Edit(row); }
  void OnAddItem() override { Add(); }
  void OnEditItem() override {
    if (model_->SelectedCount() == 1) Edit(model_->FirstSelected());
  }
  void OnDeleteItems() override {
    if (model_->SelectedCount() > 0) ConfirmDeleteSelected(0);
  }
  void OnUpdateAddItem(CommandUi& ui) override { ui.Enable(true); }
  void OnUpdateEditItem(CommandUi& ui) override { ui.Enable(model_->SelectedCount() == 1); }
  void OnUpdateDeleteItems(CommandUi& ui) override { ui.Enable(model_->SelectedCount() > 0); }

  bool HandleCommand(int id) override {
    const BookCommands c = Commands();
    if (id == c.add) OnAddItem();
    else if (c.copy && id == c.copy) {
      if (model_->SelectedCount() == 1) Copy(model_->FirstSelected());
    } else if (id == c.edit) OnEditItem();
    else if (id == c.remove) OnDeleteItems();
    else return false;
    return true;
  }
  bool UpdateCommand(int id, CommandUi& ui) override {
    const BookCommands c = Commands();
    if (id == c.add) OnUpdateAddItem(ui);
    else if ((c.copy && id == c.copy) || id == c.edit) OnUpdateEditItem(ui);
    else if (id == c.remove) OnUpdateDeleteItems(ui);
    else return false;
    return true;
  }

  Entry& EntryAt(int row) { return *reinterpret_cast<Entry*>(model_->GetRow(row).item); }

 protected:
  virtual BookCommands Commands() const = 0;
  virtual void Add() = 0;
  virtual void Copy(int /*row*/) {}
  virtual void Edit(int row) = 0;
  // The entry of a downloaded line; false when the line makes none.
  static bool Decode(const char* line, Entry& entry) {
    if constexpr (std::is_constructible_v<Entry, const char*>) {
      entry = Entry(line);
      return true;
    } else {
      return entry.Decode(line);
    }
  }
  // A new row for an entry the book accepted.
  void Append(std::unique_ptr<Entry> entry) {
    if (model_->AddRow(reinterpret_cast<ItemValue>(entry.get()))) entry.release();
  }
  // The request's outcome: true on success, else its text is shown.
  bool Accepted(const RequestResult& result) {
    if (result.status == 0) return true;
    ShowText(model_->ui(), result.text);
    return false;
  }
};

}  // namespace korvo::manager
