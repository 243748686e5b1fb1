// The manager's one document: the folder tree, the discovery of servers on
// a thread of its own, and the views of the main window, to which it offers
// the commands the active view did not take. It holds no file.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/serverfinder.h"
#include "manager/folder_tree.h"
#include "manager/list_context.h"
#include "platform/neighbourhood.h"

namespace korvo::manager {

class View {
 public:
  virtual ~View() = default;
  // True when the view took the command.
  virtual bool OnCommand(int /*id*/) { return false; }
  // True when the command is the view's; ui then holds its enabling.
  virtual bool OnUpdateCommand(int /*id*/, CommandUi& /*ui*/) { return false; }
  // A change told to every view but its sender; the hint is the list class
  // of the tree's newly selected node.
  virtual void OnUpdate(View* /*sender*/, const ListClass* /*hint*/) {}
};

class ManagerDoc {
 public:
  // The current user's default server, the LAN as the discovery walks it.
  ManagerDoc();
  // The same over a default server and a neighbourhood of the caller's.
  ManagerDoc(const std::string& defaultServer, std::unique_ptr<platform::Neighbourhood> neighbourhood);
  // Stops the discovery and joins it before the folder tree goes.
  ~ManagerDoc();
  ManagerDoc(const ManagerDoc&) = delete;
  ManagerDoc& operator=(const ManagerDoc&) = delete;

  FolderTree& folderTree() { return tree_; }
  const std::string& defaultServer() const { return defaultServer_; }
  // True once the discovery's walks are done (or stopped).
  bool DiscoveryDone() const { return done_.load(); }

  // Views in the order added; not owned.
  void AddView(View* view);
  void RemoveView(View* view);
  void UpdateAllViews(View* sender, const ListClass* hint);
  // Offers the command to every view but the active one, in order; true at
  // the first that took it.
  bool RouteCmdToAllViews(View* active, int id);
  bool RouteUpdateToAllViews(View* active, int id, CommandUi& ui);
  // The whole routing below the frame: the active view, then the others.
  bool Route(View* active, int id);
  bool RouteUpdate(View* active, int id, CommandUi& ui);

 private:
  std::string defaultServer_;
  FolderTree tree_;
  std::unique_ptr<platform::Neighbourhood> neighbourhood_;
  ServerFinder finder_;
  std::atomic<bool> done_{false};
  std::thread discovery_;
  std::vector<View*> views_;
};

}  // namespace korvo::manager
