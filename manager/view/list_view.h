// The right pane of the manager: the rows of the open list drawn by our own
// control (a multi-selection wxVListBox under a header), over the list model.
// The view gives the model its prompts, the wait cursor, its refresh timer
// (id 1) and the Refresh Interval dialog; it routes its commands and those of
// the list's popup to the model, and puts the popup into position 1 of the
// main menu of the frame it sits in.
#pragma once

#include <functional>
#include <memory>

#include <wx/panel.h>
#include <wx/timer.h>

#include "manager/list_model.h"

class wxHeaderCtrl;
class wxMenu;
class wxScrollBar;
class wxVListBox;

namespace korvo::manager {

class ListView : public wxPanel {
 public:
  explicit ListView(wxWindow* parent, wxWindowID id = wxID_ANY);
  ~ListView() override;

  // Closes the open list, opens one made from the class record and puts its
  // popup into the main menu.
  void OpenList(const ListClass& cls, const TreeSelection& tree);
  // Saves the open list's settings and deletes it.
  void CloseList();

  // The view's and the open list's commands, for the frame's routing: true
  // when handled (DoUpdateCommand: when the enabling was decided).
  bool DoCommand(int id);
  bool DoUpdateCommand(int id, bool* enabled);

  // A folder list's row opened: the tree selects the selected node's child
  // at that position (called after the list's command has returned).
  void SetOpenRowHandler(std::function<void(int row)> handler) { openRow_ = std::move(handler); }

  // The open list's row popup, or null when the list has none.
  std::unique_ptr<wxMenu> MakeRowPopup();
  // Rows, columns and selection drawn again from the model; for a list that
  // changed the model outside the view's own commands.
  void Reload();

  ListModel& model() { return *model_; }
  wxVListBox* rows() const;
  wxHeaderCtrl* header() const;
  wxScrollBar* scrollBar() const { return scrollBar_; }
  bool popupOpen() const { return popupOpen_; }

 private:
  class Services;
  class Rows;
  class Header;

  void ShowRowPopup(const wxPoint& at);
  void TakeSelection();
  // The horizontal scroll bar over the columns' whole width, shown while
  // they are wider than the rows; x the first pixel column shown.
  void UpdateScrollBar();
  void ScrollTo(int x);

  wxTimer timer_;
  std::unique_ptr<Services> services_;
  std::unique_ptr<ListModel> model_;
  Header* header_;
  Rows* rows_;
  wxScrollBar* scrollBar_;
  int scrollX_ = 0;
  // Table widths scale with the font, in thousandths.
  int columnScale_ = 1000;
  bool popupOpen_ = false;
  std::function<void(int)> openRow_;
};

}  // namespace korvo::manager
