#include "manager/view/list_view.h"

#include <algorithm>

#include <wx/dcclient.h>
#include <wx/frame.h>
#include <wx/headerctrl.h>
#include <wx/menu.h>
#include <wx/renderer.h>
#include <wx/scrolbar.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/utils.h>
#include <wx/vlbox.h>

#include "desktop/command_id.h"
#include "desktop/prompt.h"
#include "manager/menus.h"
#include "manager/view/book_dialogs.h"
#include "manager/view/fax_recipients_dialog.h"
#include "manager/view/menu_copy.h"
#include "manager/view/refresh_interval_dialog.h"
#include "manager/view/user_choice_dialog.h"

namespace korvo::manager {
namespace {

// Margins of a cell's text: the first column's and the others'.
constexpr int kFirstColumnOffset = 4;
constexpr int kColumnOffset = 12;

wxAlignment WxAlign(Align a) {
  return a == Align::Right ? wxALIGN_RIGHT : a == Align::Centre ? wxALIGN_CENTRE : wxALIGN_LEFT;
}

}  // namespace

// What the model asks of the user interface, given by the window.
class ListView::Services final : public UiServices {
 public:
  explicit Services(ListView& view) : view_(view) {}
  desktop::Answer Message(const std::string& text, const std::string& caption, desktop::Buttons buttons,
                          desktop::Icon icon) override {
    return desktop::Prompts().Message(&view_, text, caption, buttons, icon);
  }
  int DefaultColumnWidth(const std::string& title, int tableWidth) override {
    // Room for the title, the header's margins and its sort arrow.
    const int titleWidth = view_.header()->GetTextExtent(wxString::FromUTF8(title)).x + 2 * kColumnOffset + 12;
    return std::max(tableWidth * view_.columnScale_ / 1000, titleWidth);
  }
  void BeginWaitCursor() override { wxBeginBusyCursor(); }
  void EndWaitCursor() override { wxEndBusyCursor(); }
  bool StartTimer(int milliseconds) override { return view_.timer_.Start(milliseconds); }
  void StopTimer() override { view_.timer_.Stop(); }
  std::optional<int> AskRefreshInterval(int current) override {
    RefreshIntervalDialog dialog(&view_, current);
    if (dialog.ShowModal() != wxID_OK) return std::nullopt;
    return dialog.seconds();
  }
  void ShowTotalUsageTime(bool selected, const std::string& duration) override {
    TotalUsageTimeDialog(&view_, selected, duration).ShowModal();
  }
  bool EditJunkSender(JunkSenderEntry& entry, bool editMode) override {
    return AddSenderDialog(&view_, entry, editMode).ShowModal() == wxID_OK;
  }
  bool EditAddress(AddressEntry& entry, const std::string& title) override {
    return AddAddressDialog(&view_, entry, title).ShowModal() == wxID_OK;
  }
  bool EditUser(RegisteredUserEntry& entry, bool editMode) override {
    return AddUserDialog(&view_, entry, editMode).ShowModal() == wxID_OK;
  }
  bool EditModem(ModemRecord& record, bool editMode, const std::string& title, const std::string& server) override {
    return ModemConfigDialog(&view_, record, editMode, title, server).ShowModal() == wxID_OK;
  }
  std::optional<std::string> ChooseUser(const std::string& server, const std::string& title) override {
    UserChoiceDialog dialog(&view_, *this, server, title);
    if (dialog.ShowModal() != wxID_OK) return std::nullopt;
    return dialog.chosen();
  }
  void ShowRecipients(const FaxHeader& header) override { FaxRecipientsDialog(&view_, header).ShowModal(); }

 private:
  ListView& view_;
};

// The header shows the model's columns; a resize goes back into the model.
class ListView::Header final : public wxHeaderCtrl {
 public:
  Header(wxWindow* parent, ListModel& model) : wxHeaderCtrl(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, 0),
                                               model_(model) {}
  const wxHeaderColumn& GetColumn(unsigned int idx) const override {
    const ListModel::Column& c = model_.GetColumn(static_cast<int>(idx));
    shown_ = wxHeaderColumnSimple(wxString::FromUTF8(c.title), c.width, WxAlign(c.align),
                                  wxCOL_RESIZABLE | wxCOL_SORTABLE);
    if (model_.sort().column == static_cast<int>(idx)) shown_.SetSortOrder(!model_.sort().descending);
    return shown_;
  }

 private:
  ListModel& model_;
  mutable wxHeaderColumnSimple shown_{""};
};

// The rows, each drawn across every column and to the client width.
class ListView::Rows final : public wxVListBox {
 public:
  Rows(wxWindow* parent, ListModel& model, const int& scrollX)
      : wxVListBox(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLB_MULTIPLE | wxWANTS_CHARS),
        model_(model),
        scrollX_(scrollX) {}
  using wxVListBox::DoSetCurrent;
  int Current() const {
    for (size_t i = 0; i < GetItemCount(); ++i)
      if (IsCurrent(i)) return static_cast<int>(i);
    return -1;
  }

 protected:
  wxCoord OnMeasureItem(size_t) const override { return GetCharHeight() + 6; }

  void OnDrawBackground(wxDC& dc, const wxRect& rect, size_t n) const override {
    const bool highlighted = IsSelected(n);
    const wxColour fill = wxSystemSettings::GetColour(highlighted ? wxSYS_COLOUR_HIGHLIGHT : wxSYS_COLOUR_WINDOW);
    dc.SetBrush(wxBrush(fill));
    dc.SetPen(*wxTRANSPARENT_PEN);
    const wxRect area(rect.x, rect.y, std::max(rect.width, GetClientSize().x), rect.height);
    dc.DrawRectangle(area);
    if (HasFocus() && IsCurrent(n))
      wxRendererNative::Get().DrawFocusRect(const_cast<Rows*>(this), dc, area);
  }

  void OnDrawItem(wxDC& dc, const wxRect& rect, size_t n) const override {
    const int row = static_cast<int>(n);
    if (row >= model_.RowCount()) return;
    dc.SetFont(GetFont());
    dc.SetTextForeground(
        wxSystemSettings::GetColour(IsSelected(n) ? wxSYS_COLOUR_HIGHLIGHTTEXT : wxSYS_COLOUR_WINDOWTEXT));
    auto measure = [&dc](const std::string& s) { return dc.GetTextExtent(wxString::FromUTF8(s)).x; };
    int left = rect.x - scrollX_;
    for (int c = 0; c < model_.ColumnCount(); ++c) {
      const ListModel::Column& column = model_.GetColumn(c);
      const std::string text = model_.CellText(row, c);
      if (!text.empty()) {
        const CellPlacement cell =
            PlaceCellText(text, column.width, c == 0 ? kFirstColumnOffset : kColumnOffset, column.align, measure);
        const wxString shown = wxString::FromUTF8(cell.text);
        const int y = rect.y + (rect.height - dc.GetTextExtent(shown).y) / 2;
        dc.DrawText(shown, left + cell.x, y);
      }
      left += column.width;
    }
  }

 private:
  ListModel& model_;
  const int& scrollX_;
};

ListView::ListView(wxWindow* parent, wxWindowID id)
    : wxPanel(parent, id), timer_(this, ListModel::kTimerId) {
  services_ = std::make_unique<Services>(*this);
  model_ = std::make_unique<ListModel>(*services_);
  header_ = new Header(this, *model_);
  rows_ = new Rows(this, *model_, scrollX_);
  scrollBar_ = new wxScrollBar(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxSB_HORIZONTAL);
  scrollBar_->Hide();
  auto* box = new wxBoxSizer(wxVERTICAL);
  box->Add(header_, 0, wxEXPAND);
  box->Add(rows_, 1, wxEXPAND);
  box->Add(scrollBar_, 0, wxEXPAND);
  SetSizer(box);
  // The tables' widths were made for a font in which a list date fits its
  // 110-pixel column; they grow with a wider font and never shrink.
  const int date = rows_->GetTextExtent("12/31/99 12:59 PM").x + 2 * kColumnOffset;
  columnScale_ = std::max(1000, date * 1000 / 110);
  for (const wxEventTypeTag<wxScrollEvent>& type :
       {wxEVT_SCROLL_TOP, wxEVT_SCROLL_BOTTOM, wxEVT_SCROLL_LINEUP, wxEVT_SCROLL_LINEDOWN, wxEVT_SCROLL_PAGEUP,
        wxEVT_SCROLL_PAGEDOWN, wxEVT_SCROLL_THUMBTRACK, wxEVT_SCROLL_THUMBRELEASE, wxEVT_SCROLL_CHANGED})
    scrollBar_->Bind(type, [this](wxScrollEvent& e) { ScrollTo(e.GetPosition()); });
  rows_->Bind(wxEVT_SIZE, [this](wxSizeEvent& e) {
    e.Skip();
    CallAfter([this] { UpdateScrollBar(); });
  });
  // A folder list's row opens after the list's command has returned, as the
  // tree's answer closes that list.
  model_->SetOpenRowHandler([this](int row) {
    CallAfter([this, row] {
      if (openRow_) openRow_(row);
    });
  });

  header_->Bind(wxEVT_HEADER_CLICK, [this](wxHeaderCtrlEvent& e) {
    model_->ClickColumn(e.GetColumn());
    Reload();
  });
  auto resize = [this](wxHeaderCtrlEvent& e) {
    model_->SetColumnWidth(e.GetColumn(), e.GetWidth());
    header_->UpdateColumn(static_cast<unsigned>(e.GetColumn()));
    rows_->Refresh();
    UpdateScrollBar();
  };
  header_->Bind(wxEVT_HEADER_RESIZING, resize);
  header_->Bind(wxEVT_HEADER_END_RESIZE, resize);

  rows_->Bind(wxEVT_LISTBOX, [this](wxCommandEvent&) { TakeSelection(); });
  rows_->Bind(wxEVT_KEY_DOWN, [this](wxKeyEvent& e) {
    switch (e.GetKeyCode()) {
      case WXK_RETURN:
      case WXK_NUMPAD_ENTER:
        TakeSelection();
        model_->OnEnter();
        Reload();
        break;
      case WXK_DELETE:
      case WXK_NUMPAD_DELETE:
        TakeSelection();
        DoCommand(kCmdDeleteItems);
        break;
      default: e.Skip();
    }
  });
  rows_->Bind(wxEVT_LEFT_DCLICK, [this](wxMouseEvent& e) {
    TakeSelection();
    model_->OnDoubleClick(rows_->VirtualHitTest(e.GetPosition().y));
    Reload();
    e.Skip();
  });
  rows_->Bind(wxEVT_RIGHT_DOWN, [this](wxMouseEvent& e) { ShowRowPopup(e.GetPosition()); });
  Bind(wxEVT_TIMER, [this](wxTimerEvent& e) {
    model_->OnTimer(e.GetId());
    Reload();
  }, ListModel::kTimerId);
  // The popup's commands come to the view; the rest go on to the frame.
  Bind(wxEVT_MENU, [this](wxCommandEvent& e) {
    if (!DoCommand(NumberOfWxId(e.GetId()))) e.Skip();
  });
  Bind(wxEVT_UPDATE_UI, [this](wxUpdateUIEvent& e) {
    bool enabled = true;
    if (DoUpdateCommand(NumberOfWxId(e.GetId()), &enabled))
      e.Enable(enabled);
    else
      e.Skip();
  });
}

ListView::~ListView() {
  // Settings are saved while the timer and the services still stand.
  model_->Close();
  timer_.Stop();
}

wxVListBox* ListView::rows() const { return rows_; }
wxHeaderCtrl* ListView::header() const { return header_; }

void ListView::OpenList(const ListClass& cls, const TreeSelection& tree) {
  // The old list's columns leave the header before the model drops them.
  header_->SetColumnCount(0);
  rows_->SetItemCount(0);
  ScrollTo(0);
  model_->Open(cls, tree);
  if (auto* frame = wxDynamicCast(wxGetTopLevelParent(this), wxFrame)) {
    ListContext* list = model_->current();
    ReplaceMenuPopup(ListPopups(), list->GetMenuIndex(), frame->GetMenuBar(), 1, list->GetMenuCaption());
  }
  Reload();
}

void ListView::CloseList() {
  header_->SetColumnCount(0);
  rows_->SetItemCount(0);
  model_->Close();
  Reload();
}

bool ListView::DoCommand(int id) {
  const bool handled = model_->OnCommand(id);
  if (handled) Reload();
  return handled;
}

bool ListView::DoUpdateCommand(int id, bool* enabled) {
  CommandUi ui;
  if (!model_->OnUpdateCommand(id, ui)) return false;
  *enabled = ui.enabled;
  return true;
}

std::unique_ptr<wxMenu> ListView::MakeRowPopup() {
  ListContext* list = model_->current();
  const int index = list ? list->GetMenuIndex() : -1;
  if (index < 0 || index >= static_cast<int>(ListPopups().size())) return nullptr;
  return std::unique_ptr<wxMenu>(CopyPopup(ListPopups()[static_cast<size_t>(index)]));
}

void ListView::ShowRowPopup(const wxPoint& at) {
  std::unique_ptr<wxMenu> menu = MakeRowPopup();
  if (!menu) return;
  TakeSelection();
  popupOpen_ = true;
  rows_->PopupMenu(menu.get(), at);
  popupOpen_ = false;
}

void ListView::TakeSelection() {
  const int n = std::min(model_->RowCount(), static_cast<int>(rows_->GetItemCount()));
  for (int i = 0; i < n; ++i) {
    if (rows_->IsSelected(static_cast<size_t>(i)))
      model_->SetRowState(i, kRowSelected);
    else
      model_->ClearRowState(i, kRowSelected);
  }
  const int current = rows_->Current();
  if (current >= 0 && current < n) model_->SetRowState(current, kRowFocused);
}

void ListView::Reload() {
  // The header asks the model for its columns as it draws; one refresh
  // covers them all (a column's own update refreshes from its start to the
  // right edge, a rectangle of negative width for a column past that edge).
  if (static_cast<int>(header_->GetColumnCount()) != model_->ColumnCount())
    header_->SetColumnCount(static_cast<unsigned>(model_->ColumnCount()));
  else
    header_->Refresh();
  const int n = model_->RowCount();
  rows_->SetItemCount(static_cast<size_t>(n));
  rows_->DeselectAll();
  for (int i = 0; i < n; ++i)
    if (model_->IsSelected(i)) rows_->Select(static_cast<size_t>(i));
  rows_->DoSetCurrent(model_->FirstFocused());
  UpdateScrollBar();
  rows_->Refresh();
}

void ListView::UpdateScrollBar() {
  int total = 0;
  for (int c = 0; c < model_->ColumnCount(); ++c) total += model_->GetColumn(c).width;
  const int shown = rows_->GetClientSize().x;
  const bool needed = shown > 0 && total > shown;
  if (needed) scrollBar_->SetScrollbar(std::min(scrollX_, total - shown), shown, total, shown);
  ScrollTo(needed ? scrollBar_->GetThumbPosition() : 0);
  if (scrollBar_->IsShown() != needed) {
    scrollBar_->Show(needed);
    Layout();
  }
}

void ListView::ScrollTo(int x) {
  if (x == scrollX_) return;
  // The header keeps its own offset; it moves by the difference.
  header_->ScrollWindow(scrollX_ - x, 0);
  scrollX_ = x;
  rows_->Refresh();
}

}  // namespace korvo::manager
