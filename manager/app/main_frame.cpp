#include "manager/app/main_frame.h"

#include <wx/accel.h>
#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/display.h>
#include <wx/menu.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/splitter.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>
#include <wx/toolbar.h>
#include <wx/utils.h>

#include "desktop/command_id.h"
#include "desktop/prompt.h"
#include "manager/app/tree_view.h"
#include "manager/command_prompts.h"
#include "manager/list_model.h"
#include "manager/manager_ids.h"
#include "manager/menus.h"
#include "manager/startup.h"
#include "manager/user_fax_list.h"
#include "manager/view/list_view.h"
#include "manager/view/menu_copy.h"
#include "manager/view/server_parameters_dialog.h"

namespace korvo::manager {

namespace {

constexpr int kServerCommands[] = {kCmdStartServer,   kCmdShutDownConditionally, kCmdShutDownUnconditionally,
                                   kCmdSuspendServer, kCmdResumeServer,          kCmdServerParameters};
constexpr int kServerMenuPosition = 2;

bool IsServerCommand(int id) {
  for (int c : kServerCommands)
    if (c == id) return true;
  return false;
}

Size ScreenSize() {
  const wxRect screen = wxDisplay(0u).GetGeometry();
  return {screen.width, screen.height};
}

// The union of all screens.
Rect DesktopRect() {
  wxRect all;
  for (unsigned i = 0; i < wxDisplay::GetCount(); ++i) all.Union(wxDisplay(i).GetGeometry());
  return {all.x, all.y, all.x + all.width, all.y + all.height};
}

wxMenu* MakeMenu(std::initializer_list<std::pair<int, const char*>> items) {
  auto* menu = new wxMenu;
  for (const auto& [id, text] : items) {
    if (id == 0)
      menu->AppendSeparator();
    else
      menu->Append(id == kCmdPlaceholder ? wxID_ANY : WxId(id), wxString::FromUTF8(text),
                   wxString::FromUTF8(PromptMessage(id)));
  }
  return menu;
}

}  // namespace

AboutDialog::AboutDialog(wxWindow* parent, long extraStyle)
    : wxDialog(parent, kDlgAbout, "About Korvo Manager", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | extraStyle) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(new wxStaticText(this, wxID_ANY, kAboutText), 0, wxALL | wxALIGN_CENTER_HORIZONTAL, 12);
  sizer->Add(new wxStaticText(this, kAboutVersionText, kVersionText), 0,
             wxLEFT | wxRIGHT | wxALIGN_CENTER_HORIZONTAL, 12);
  sizer->Add(new wxButton(this, wxID_OK, "OK"), 0, wxALL | wxALIGN_CENTER_HORIZONTAL, 12);
  // Wide enough for its title beside a window manager's buttons, which cut
  // it short on a dialog only as wide as its texts.
  sizer->SetMinSize(wxSize(GetTextExtent("About Korvo Manager").x + 160, -1));
  SetSizerAndFit(sizer);
  SetEscapeId(wxID_OK);
  CentreOnScreen();
}

// The boxes and the wait cursor of the tree, over the installed prompts.
class MainFrame::Ui final : public UiServices {
 public:
  explicit Ui(wxWindow* owner) : owner_(owner) {}
  desktop::Answer Message(const std::string& text, const std::string& caption, desktop::Buttons buttons,
                          desktop::Icon icon) override {
    return desktop::Prompts().Message(owner_, text, caption, buttons, icon);
  }
  void BeginWaitCursor() override { wxBeginBusyCursor(); }
  void EndWaitCursor() override { wxEndBusyCursor(); }
  bool StartTimer(int) override { return false; }
  void StopTimer() override {}
  std::optional<int> AskRefreshInterval(int) override { return std::nullopt; }

 private:
  wxWindow* owner_;
};

// The list view as a view of the document.
class MainFrame::ListPane final : public View {
 public:
  ListPane(ListView& view, TreeView& tree) : view_(view), tree_(tree) {}
  void OnUpdate(View*, const ListClass* hint) override {
    if (hint) view_.OpenList(*hint, tree_.model().GetSelection());
  }
  bool OnCommand(int id) override { return view_.DoCommand(id); }
  bool OnUpdateCommand(int id, CommandUi& ui) override {
    bool enabled = true;
    if (!view_.DoUpdateCommand(id, &enabled)) return false;
    ui.Enable(enabled);
    return true;
  }

 private:
  ListView& view_;
  TreeView& tree_;
};

MainFrame::MainFrame(ManagerDoc& doc, ServiceControl& service, App app)
    : doc_(doc), app_(std::move(app)), ui_(std::make_unique<Ui>(this)) {
  // Created three quarters of the screen in size, an eighth in; the
  // placement the user left comes before the window shows.
  const Size screen = ScreenSize();
  const int height = screen.height * 3 / 4;
  const int width = screen.width * 3 / 4;
  Create(nullptr, wxID_ANY, "Korvo Manager", wxPoint(screen.width * 3 / 24, height / 6), wxSize(width, height));

  MakeMenus();
  MakeToolBar();
  MakeStatusBar();

  splitter_ = new wxSplitterWindow(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxSP_LIVE_UPDATE | wxSP_3D);
  splitter_->SetMinimumPaneSize(kMinPaneWidth);
  TreeModel::Frame frame;
  frame.replaceServerMenu = [this](const std::string& caption) { ReplaceServerMenu(caption); };
  frame.openParameters = [this](const ConnectionSettings& settings, uint16_t version, const std::string& server) {
    ServerParametersDialog(this, *ui_, settings, version, server).ShowModal();
  };
  tree_ = new TreeView(splitter_, doc_, *ui_, service, std::move(frame));
  list_ = new ListView(splitter_);
  // A folder list's opened row selects that child of the node in the tree,
  // which opens its list.
  list_->SetOpenRowHandler([this](int row) { tree_->model().SelectChild(row); });
  listPane_ = std::make_unique<ListPane>(*list_, *tree_);
  doc_.AddView(&tree_->model());
  doc_.AddView(listPane_.get());
  tree_->InitialUpdate();

  const wxAcceleratorEntry keys[] = {
      {wxACCEL_NORMAL, WXK_F1, WxId(kCmdHelp)},          {wxACCEL_NORMAL, WXK_F5, WxId(kCmdRefreshList)},
      {wxACCEL_NORMAL, WXK_F6, WxId(kCmdNextPane)},      {wxACCEL_SHIFT, WXK_F6, WxId(kCmdPrevPane)},
      {wxACCEL_NORMAL, WXK_TAB, WxId(kCmdNextPane)},
  };
  SetAcceleratorTable(wxAcceleratorTable(static_cast<int>(std::size(keys)), keys));

  Bind(wxEVT_MENU, &MainFrame::OnMenu, this);
  Bind(wxEVT_UPDATE_UI, &MainFrame::OnUpdateUi, this);
  Bind(wxEVT_CLOSE_WINDOW, &MainFrame::OnClose, this);
  Bind(wxEVT_MENU_OPEN, [this](wxMenuEvent& e) {
    if (e.GetMenu()) QueryServerCommands(e.GetMenu());
    e.Skip();
  });
  // The normal rectangle is the one "Rect" keeps, also while maximized.
  auto track = [this](wxEvent& e) {
    if (!IsMaximized() && !IsIconized()) {
      const wxRect r = GetRect();
      normal_ = {r.x, r.y, r.x + r.width, r.y + r.height};
    }
    e.Skip();
  };
  Bind(wxEVT_SIZE, track);
  Bind(wxEVT_MOVE, track);
  Bind(wxEVT_ICONIZE, [this](wxIconizeEvent& e) {
    if (e.IsIconized()) restoresToMaximized_ = wasMaximized_;
    e.Skip();
  });
  Bind(wxEVT_MAXIMIZE, [this](wxMaximizeEvent& e) {
    wasMaximized_ = true;
    e.Skip();
  });
  Bind(wxEVT_IDLE, [this](wxIdleEvent& e) {
    if (!IsIconized()) wasMaximized_ = IsMaximized();
    UpdateStatusPanes();
    e.Skip();
  });
  PlaceWindow();
  // Some window managers first place the window where they like (the
  // toolkit may hint 0, 0 before the placement was applied), and the frame
  // they add is known only once it is shown; at the first activation, the
  // placement is applied again if the window is elsewhere or of another size.
  Bind(wxEVT_ACTIVATE, [this](wxActivateEvent& e) {
    if (placing_ && e.GetActive()) {
      placing_ = false;
      const wxRect wanted(placed_.left, placed_.top, placed_.width(), placed_.height());
      if (!IsMaximized() && !IsIconized() && GetRect() != wanted) SetSize(wanted);
    }
    e.Skip();
  });
}

MainFrame::~MainFrame() {
  doc_.RemoveView(listPane_.get());
  if (tree_) doc_.RemoveView(&tree_->model());
}

void MainFrame::MakeMenus() {
  auto* bar = new wxMenuBar;
  bar->Append(MakeMenu({{kCmdExit, "E&xit"}}), "&Manager");
  bar->Append(MakeMenu({{kCmdPlaceholder, "Context"}}), "&Context");
  bar->Append(MakeMenu({{kCmdPlaceholder, "&Default Server"}}), "&Server");
  auto* view = new wxMenu;
  view->AppendCheckItem(WxId(kCmdViewToolbar), "&Toolbar", PromptMessage(kCmdViewToolbar));
  view->AppendCheckItem(WxId(kCmdViewStatusBar), "&Status Bar", PromptMessage(kCmdViewStatusBar));
  view->Append(WxId(kCmdSplit), "S&plit");
  view->Append(WxId(kCmdRefreshList), "&Refresh list\tF5", PromptMessage(kCmdRefreshList));
  view->Append(WxId(kCmdNextPane), "&Change Active Pane\tF6", PromptMessage(kCmdNextPane));
  bar->Append(view, "&View");
  bar->Append(MakeMenu({{kCmdHelpTopics, "&Help Topics"}, {kCmdAbout, "&About Korvo Manager ..."}}), "&Help");
  SetMenuBar(bar);
}

void MainFrame::MakeToolBar() {
  // Buttons of 16 x 15 pixels in the resource; here the theme's 16-pixel
  // pictures. The bar stays at the top: wx frames do not dock toolbars.
  wxToolBar* bar = CreateToolBar(wxTB_HORIZONTAL | wxTB_FLAT);
  const std::pair<int, wxArtID> tools[] = {
      {kCmdAddItem, wxART_NEW},       {kCmdEditItem, wxART_EDIT},      {kCmdDeleteItems, wxART_DELETE},
      {0, {}},                        {UserFaxList::kCmdView, wxART_FILE_OPEN},      {0, {}},
      {kCmdRefreshList, wxART_REDO},  {kCmdAbout, wxART_INFORMATION},
  };
  for (const auto& [id, art] : tools) {
    if (id == 0) {
      bar->AddSeparator();
      continue;
    }
    bar->AddTool(WxId(id), wxString::FromUTF8(PromptTip(id)), wxArtProvider::GetBitmap(art, wxART_TOOLBAR, wxSize(16, 16)),
                 wxString::FromUTF8(PromptTip(id)), wxITEM_NORMAL);
    bar->SetToolLongHelp(WxId(id), wxString::FromUTF8(PromptMessage(id)));
  }
  bar->Realize();
}

void MainFrame::MakeStatusBar() {
  wxStatusBar* bar = CreateStatusBar(3);
  const int margin = 12;
  const int widths[] = {-1, bar->GetTextExtent("XXXXX item(s) selected").x + margin,
                        bar->GetTextExtent("Sort (inv.): Fax Modem Data Rate").x + margin};
  bar->SetStatusWidths(3, widths);
  SetStatusBarPane(0);
}

void MainFrame::PlaceWindow() {
  const WindowState state = LoadWindowState();
  const Size icon{wxSystemSettings::GetMetric(wxSYS_ICON_X, this), wxSystemSettings::GetMetric(wxSYS_ICON_Y, this)};
  const Rect r = PlacementRect(state.rect, ScreenSize(), {std::max(icon.width, 32), std::max(icon.height, 32)},
                               DesktopRect());
  SetSize(r.left, r.top, r.width(), r.height());
  normal_ = r;
  placed_ = r;
  placing_ = true;
  if (state.maximized) Maximize();
  GetToolBar()->Show(state.toolBar);
  GetStatusBar()->Show(state.statusBar);
  splitter_->SplitVertically(tree_, list_, TreePaneWidth(state.splitter, r.width()));
  SendSizeEvent();
}

void MainFrame::SaveState() {
  SaveWindowState(normal_, MaximizedFlag(IsMaximized(), IsIconized(), restoresToMaximized_),
                  splitter_->GetSashPosition(), GetToolBar()->IsShown(), GetStatusBar()->IsShown());
}

void MainFrame::OnClose(wxCloseEvent& e) {
  SaveState();
  e.Skip();
}

void MainFrame::ReplaceServerMenu(const std::string& caption) {
  wxMenu* server = GetMenuBar()->GetMenu(kServerMenuPosition);
  const manager::PopupMenu& popup = TreePopups()[0];
  server->Destroy(server->FindItemByPosition(0));
  server->Insert(0, wxID_ANY, wxString::FromUTF8(caption), CopyPopup(popup));
}

View* MainFrame::ActiveView() {
  for (wxWindow* w = wxWindow::FindFocus(); w; w = w->GetParent()) {
    if (w == list_) return listPane_.get();
    if (w == tree_) return &tree_->model();
  }
  return &tree_->model();
}

void MainFrame::SwitchPane() {
  if (ActiveView() == listPane_.get())
    tree_->SetFocus();
  else
    list_->SetFocus();
}

bool MainFrame::RouteCommand(int id) {
  switch (id) {
    case kCmdExit:
      Close();
      return true;
    case kCmdViewToolbar:
      GetToolBar()->Show(!GetToolBar()->IsShown());
      SendSizeEvent();
      return true;
    case kCmdViewStatusBar:
      GetStatusBar()->Show(!GetStatusBar()->IsShown());
      SendSizeEvent();
      return true;
    case kCmdNextPane:
    case kCmdPrevPane:
      SwitchPane();
      return true;
    default:
      break;
  }
  View* active = ActiveView();
  if (active->OnCommand(id)) return true;
  if (app_.onCommand && app_.onCommand(id)) return true;
  return doc_.RouteCmdToAllViews(active, id);
}

std::optional<bool> MainFrame::RouteUpdate(int id) {
  CommandUi ui;
  if (doc_.RouteUpdate(ActiveView(), id, ui)) return ui.enabled;
  return std::nullopt;
}

void MainFrame::QueryServerCommands(wxMenu* menu) {
  for (int id : kServerCommands) {
    wxMenuItem* item = nullptr;
    for (wxMenuItem* i : menu->GetMenuItems())
      if (i->GetId() == WxId(id)) item = i;
    if (!item) continue;
    const std::optional<bool> enabled = RouteUpdate(id);
    serverCommandEnabled_[id] = enabled.value_or(false);
    item->Enable(serverCommandEnabled_[id]);
  }
}

void MainFrame::OnMenu(wxCommandEvent& e) {
  if (!RouteCommand(NumberOfWxId(e.GetId()))) e.Skip();
}

void MainFrame::OnUpdateUi(wxUpdateUIEvent& e) {
  const int id = NumberOfWxId(e.GetId());
  if (IsServerCommand(id)) {
    // Each of these asks the server: that is done when the menu opens, and
    // here only the answers of that moment are given.
    auto it = serverCommandEnabled_.find(id);
    e.Enable(it != serverCommandEnabled_.end() && it->second);
    return;
  }
  switch (id) {
    case kCmdViewToolbar:
      e.Check(GetToolBar()->IsShown());
      return;
    case kCmdViewStatusBar:
      e.Check(GetStatusBar()->IsShown());
      return;
    case kCmdSplit:
      e.Enable(false);
      return;
    case kCmdPlaceholder:
      // "Context" and "Default Server" until a list and a node take their place.
      e.Enable(false);
      return;
    default:
      break;
  }
  if (const std::optional<bool> enabled = RouteUpdate(id))
    e.Enable(*enabled);
  else
    e.Skip();
}

void MainFrame::UpdateStatusPanes() {
  wxStatusBar* bar = GetStatusBar();
  if (!bar) return;
  const ListModel& model = list_->model();
  const wxString count = wxString::FromUTF8(ItemCountText(model.SelectedCount(), model.RowCount()));
  const wxString sort = wxString::FromUTF8(model.GetSortCaption());
  if (bar->GetStatusText(1) != count) bar->SetStatusText(count, 1);
  if (bar->GetStatusText(2) != sort) bar->SetStatusText(sort, 2);
}

std::string MainFrame::StatusText(int pane) const { return GetStatusBar()->GetStatusText(pane).utf8_string(); }

}  // namespace korvo::manager
