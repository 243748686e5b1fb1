// The right pane as a view of the document: a node selected in the tree
// opens its list class in the list model, and the commands offered to the
// pane go to the list model (the list view's commands, then the open list's).
#pragma once

#include <functional>

#include "manager/list_model.h"
#include "manager/manager_doc.h"

namespace korvo::manager {

class ListPane : public View {
 public:
  ListPane(ListModel& model, std::function<TreeSelection()> selection)
      : model_(model), selection_(std::move(selection)) {}

  void OnUpdate(View* /*sender*/, const ListClass* hint) override {
    if (hint) model_.Open(*hint, selection_());
  }
  bool OnCommand(int id) override { return model_.OnCommand(id); }
  bool OnUpdateCommand(int id, CommandUi& ui) override { return model_.OnUpdateCommand(id, ui); }
  ListModel& model() { return model_; }

 private:
  ListModel& model_;
  std::function<TreeSelection()> selection_;
};

}  // namespace korvo::manager
