// What the folder tree view does, without windows: builds the tree from the
// folder tree, works out the current server and the "&Server" caption, picks
// the popup of the selected node, rebuilds the server nodes when the
// discovery found new ones, and carries the server commands with their
// enabling. The window (a wxTreeCtrl) is reached through TreeControl.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/connection_settings.h"
#include "common/faxclient.h"
#include "manager/folder_tree.h"
#include "manager/manager_doc.h"
#include "manager/service_control.h"
#include "manager/ui_services.h"

namespace korvo::manager {

// The "&Server" popup's caption for the current server; the default server
// is recognised whatever the case of either name.
std::string ServerCaption(const std::string& currentServer, const std::string& defaultServer);

class TreeModel : public View {
 public:
  // What the main window does for the tree: put the server popup into the
  // main menu under a caption, open the Server Parameters dialog.
  struct Frame {
    std::function<void(const std::string& caption)> replaceServerMenu;
    std::function<void(const ConnectionSettings&, uint16_t version, const std::string& server)> openParameters;
  };

  TreeModel(ManagerDoc& doc, TreeControl& tree, UiServices& ui, ServiceControl& service, Frame frame);

  // The initial update: the whole tree from the document's folder tree.
  void Build();
  FaxClient& client() { return client_; }
  TreeControl::Item serversRoot() const { return serversRoot_; }

  std::string GetSelectedText() const;
  std::string GetCurrentServer() const;
  // What a list opened for the selected node is told of it.
  TreeSelection GetSelection() const;
  void RefreshServers();
  std::vector<std::string> ChildTexts() const;
  void SelectChild(int n);
  void DeleteChildren(TreeControl::Item item);

  // The selection moved to the tree's selected node.
  void OnSelectionChanged();
  // A node is being expanded.
  void OnExpanding(TreeControl::Item item);
  // The popup of menu 141 for a right click: by the selected node.
  int PopupIndex() const;
  bool IsServerNode(TreeControl::Item item) const;

  // The server commands. Each enabling makes its own query, so they belong
  // to the moment a menu opens, never to idle time.
  bool OnCommand(int id) override;
  bool OnUpdateCommand(int id, CommandUi& ui) override;

 private:
  Rights QueryRights(const std::string& server);
  bool ServiceRunning(bool wanted);
  void ShutDown(uint32_t code);
  void Request(uint32_t code);
  void ShowParameters();

  ManagerDoc& doc_;
  TreeControl& tree_;
  UiServices& ui_;
  ServiceControl& service_;
  Frame frame_;
  FaxClient client_;
  TreeControl::Item serversRoot_ = TreeControl::kRoot;
};

}  // namespace korvo::manager
