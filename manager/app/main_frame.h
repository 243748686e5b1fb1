// KorvoDesk's main window: menus, toolbar 128, the status bar with its three
// panes, the splitter with the folder tree on the left and the list on the
// right, the window state kept in the profile, and the command routing:
// frame, active view, document, application, then the other views.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <wx/dialog.h>
#include <wx/frame.h>

#include "manager/manager_doc.h"
#include "manager/service_control.h"
#include "manager/ui_services.h"
#include "manager/window_state.h"

class wxMenu;
class wxSplitterWindow;

namespace korvo::manager {

class ListView;
class TreeView;

// Dialog 100, "About Korvo Manager"; modeless it is the splash.
class AboutDialog : public wxDialog {
 public:
  // The splash passes wxSTAY_ON_TOP: a window manager raises the main window
  // as it activates it, which would hide the splash for its whole time.
  explicit AboutDialog(wxWindow* parent, long extraStyle = 0);
};

class MainFrame : public wxFrame {
 public:
  // What the application handles of the commands (About, help).
  struct App {
    std::function<bool(int id)> onCommand;
  };

  MainFrame(ManagerDoc& doc, ServiceControl& service, App app);
  ~MainFrame() override;

  TreeView* tree() { return tree_; }
  ListView* list() { return list_; }
  wxSplitterWindow* splitter() { return splitter_; }
  // The view that has the focus: the list when its pane holds it, else the tree.
  View* ActiveView();
  // One command through the whole routing; true when someone took it.
  bool RouteCommand(int id);
  // The enabling of a command as the routing finds it; nothing when nobody
  // decides it.
  std::optional<bool> RouteUpdate(int id);
  // The normal (restored) rectangle, as "Rect" will be written.
  const Rect& normalRect() const { return normal_; }
  // The placement applied at creation (from "Rect" or the default).
  const Rect& placement() const { return placed_; }
  // The status pane texts as last set.
  std::string StatusText(int pane) const;
  // Brings the status panes up to date (the frame does it when idle).
  void UpdateStatusPanes();

 private:
  class Ui;
  class ListPane;

  void MakeMenus();
  void MakeToolBar();
  void MakeStatusBar();
  void PlaceWindow();
  void SaveState();
  void ReplaceServerMenu(const std::string& caption);
  void OnMenu(wxCommandEvent& e);
  void OnUpdateUi(wxUpdateUIEvent& e);
  void OnClose(wxCloseEvent& e);
  void SwitchPane();
  // The six server commands' enabling, asked as a menu holding them opens.
  void QueryServerCommands(wxMenu* menu);

  ManagerDoc& doc_;
  App app_;
  std::unique_ptr<Ui> ui_;
  std::unique_ptr<ListPane> listPane_;
  wxSplitterWindow* splitter_ = nullptr;
  TreeView* tree_ = nullptr;
  ListView* list_ = nullptr;
  Rect normal_;
  // The placement applied at creation, checked once at the first activation.
  Rect placed_;
  bool placing_ = false;
  bool restoresToMaximized_ = false;
  bool wasMaximized_ = false;
  std::map<int, bool> serverCommandEnabled_;
};

}  // namespace korvo::manager
