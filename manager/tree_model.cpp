#include "manager/tree_model.h"

#include <strings.h>

#include "manager/manager_ids.h"

namespace korvo::manager {

std::string ServerCaption(const std::string& currentServer, const std::string& defaultServer) {
  // Node names are upper-cased, the registry's name is as the user wrote it.
  if (strcasecmp(currentServer.c_str(), defaultServer.c_str()) == 0) return "&" + currentServer + " (Default server)";
  return "&" + currentServer;
}

TreeModel::TreeModel(ManagerDoc& doc, TreeControl& tree, UiServices& ui, ServiceControl& service, Frame frame)
    : doc_(doc), tree_(tree), ui_(ui), service_(service), frame_(std::move(frame)) {}

Rights TreeModel::QueryRights(const std::string& server) {
  Rights rights;
  uint32_t bits = 0;
  if (client_.GetPermissions(server.c_str(), bits).status == 0) {
    rights.known = true;
    rights.bits = bits;
  }
  return rights;
}

void TreeModel::Build() {
  serversRoot_ = doc_.folderTree().AddPersonalFolders(tree_, doc_.defaultServer(),
                                                      [this](const std::string& s) { return QueryRights(s); });
}

std::string TreeModel::GetSelectedText() const {
  const TreeControl::Item selected = tree_.Selection();
  return selected == TreeControl::kRoot ? std::string() : tree_.Text(selected);
}

bool TreeModel::IsServerNode(TreeControl::Item item) const {
  return item != TreeControl::kRoot && tree_.Class(item) == &kServerFoldersClass;
}

std::string TreeModel::GetCurrentServer() const {
  const TreeControl::Item selected = tree_.Selection();
  if (IsServerNode(selected)) return tree_.Text(selected);
  if (selected != TreeControl::kRoot) {
    for (TreeControl::Item up = tree_.Parent(selected); up != TreeControl::kRoot; up = tree_.Parent(up))
      if (IsServerNode(up)) return tree_.Text(tree_.Parent(selected));
  }
  return doc_.defaultServer();
}

TreeSelection TreeModel::GetSelection() const {
  TreeSelection selection;
  const TreeControl::Item selected = tree_.Selection();
  if (selected == TreeControl::kRoot) return selection;
  selection.nodeText = tree_.Text(selected);
  const TreeControl::Item parent = tree_.Parent(selected);
  if (parent != TreeControl::kRoot) {
    selection.hasParent = true;
    selection.parentText = tree_.Text(parent);
  }
  selection.children = ChildTexts();
  return selection;
}

void TreeModel::RefreshServers() {
  FolderTree& folders = doc_.folderTree();
  if (!folders.ServersChanged()) return;
  tree_.Freeze();
  DeleteChildren(serversRoot_);
  folders.AddServerFolders(tree_, serversRoot_, TreeControl::kLast,
                           [this](const std::string& s) { return QueryRights(s); });
  tree_.Thaw();
}

std::vector<std::string> TreeModel::ChildTexts() const {
  std::vector<std::string> texts;
  const TreeControl::Item selected = tree_.Selection();
  if (selected == TreeControl::kRoot) return texts;
  for (TreeControl::Item child : tree_.Children(selected)) texts.push_back(tree_.Text(child));
  return texts;
}

void TreeModel::SelectChild(int n) {
  const TreeControl::Item selected = tree_.Selection();
  if (selected == TreeControl::kRoot || n < 0) return;
  const auto children = tree_.Children(selected);
  if (static_cast<size_t>(n) < children.size()) tree_.Select(children[static_cast<size_t>(n)]);
}

void TreeModel::DeleteChildren(TreeControl::Item item) {
  for (TreeControl::Item child : tree_.Children(item)) tree_.DeleteItem(child);
}

void TreeModel::OnSelectionChanged() {
  const TreeControl::Item selected = tree_.Selection();
  if (selected == TreeControl::kRoot) return;
  const ListClass* listClass = tree_.Class(selected);
  if (listClass == &kListOfServersClass) RefreshServers();
  if (frame_.replaceServerMenu) frame_.replaceServerMenu(ServerCaption(GetCurrentServer(), doc_.defaultServer()));
  doc_.UpdateAllViews(this, listClass);
}

void TreeModel::OnExpanding(TreeControl::Item item) {
  if (item == serversRoot_ && item != TreeControl::kRoot) RefreshServers();
}

int TreeModel::PopupIndex() const { return IsServerNode(tree_.Selection()) ? 0 : 1; }

bool TreeModel::ServiceRunning(bool wanted) {
  bool running = false;
  return service_.IsRunning(GetCurrentServer(), running) && running == wanted;
}

bool TreeModel::OnUpdateCommand(int id, CommandUi& ui) {
  switch (id) {
    case kCmdStartServer:
      ui.Enable(ServiceRunning(false));
      return true;
    case kCmdShutDownConditionally:
    case kCmdShutDownUnconditionally:
    case kCmdServerParameters:
      ui.Enable(ServiceRunning(true));
      return true;
    case kCmdSuspendServer:
    case kCmdResumeServer: {
      int suspended = 0;
      const bool known = client_.IsServerSuspended(GetCurrentServer().c_str(), suspended).status == 0;
      ui.Enable(known && (suspended != 0) == (id == kCmdResumeServer));
      return true;
    }
    default:
      return false;
  }
}

bool TreeModel::OnCommand(int id) {
  switch (id) {
    case kCmdStartServer: {
      ui_.BeginWaitCursor();
      const bool started = service_.Start(GetCurrentServer());
      ui_.EndWaitCursor();
      if (!started) ShowText(ui_, "Couldn't start Korvo service. Check your permissions");
      return true;
    }
    case kCmdShutDownConditionally:
      ShutDown(3010);
      return true;
    case kCmdShutDownUnconditionally:
      ShutDown(3000);
      return true;
    case kCmdSuspendServer:
      Request(3020);
      return true;
    case kCmdResumeServer:
      Request(3030);
      return true;
    case kCmdServerParameters:
      ShowParameters();
      return true;
    default:
      return false;
  }
}

void TreeModel::ShutDown(uint32_t code) {
  if (ui_.Message("Are you sure you want to shut down the server?", "Confirm Server Shut Down",
                  desktop::Buttons::YesNo, desktop::Icon::Question) != desktop::Answer::Yes)
    return;
  Request(code);
}

void TreeModel::Request(uint32_t code) {
  const RequestResult r = client_.SendCommand(GetCurrentServer().c_str(), code);
  if (r.status != 0) ShowText(ui_, r.text);
}

void TreeModel::ShowParameters() {
  const std::string server = GetCurrentServer();
  ConnectionSettings settings;
  RequestResult r = client_.GetServerParameters(server.c_str(), settings);
  if (r.status != 0) {
    ShowText(ui_, r.text);
    return;
  }
  uint32_t version = 0;
  r = client_.GetServerVersion(server.c_str(), version);
  if (r.status != 0) {
    ShowText(ui_, r.text);
    return;
  }
  if (frame_.openParameters) frame_.openParameters(settings, static_cast<uint16_t>(version & 0xFFFF), server);
}

}  // namespace korvo::manager
