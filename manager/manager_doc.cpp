#include "manager/manager_doc.h"

#include <algorithm>

#include "common/userenvironment.h"

namespace korvo::manager {

ManagerDoc::ManagerDoc()
    : ManagerDoc(GetUserEnvironment().GetDefaultServer(), std::make_unique<platform::LanNeighbourhood>()) {}

ManagerDoc::ManagerDoc(const std::string& defaultServer, std::unique_ptr<platform::Neighbourhood> neighbourhood)
    : defaultServer_(defaultServer),
      tree_(defaultServer),
      neighbourhood_(std::move(neighbourhood)),
      finder_(tree_.serverNames(), tree_.lock(), *neighbourhood_) {
  // The tree shows it in upper case; requests reach it as it was written.
  platform::RememberServerName(defaultServer, defaultServer);
  discovery_ = std::thread([this] {
    finder_.FindAll();
    done_.store(true);
  });
}

ManagerDoc::~ManagerDoc() {
  finder_.Stop();
  if (discovery_.joinable()) discovery_.join();
}

void ManagerDoc::AddView(View* view) { views_.push_back(view); }

void ManagerDoc::RemoveView(View* view) { views_.erase(std::remove(views_.begin(), views_.end(), view), views_.end()); }

void ManagerDoc::UpdateAllViews(View* sender, const ListClass* hint) {
  for (View* v : views_)
    if (v != sender) v->OnUpdate(sender, hint);
}

bool ManagerDoc::RouteCmdToAllViews(View* active, int id) {
  for (View* v : views_)
    if (v != active && v->OnCommand(id)) return true;
  return false;
}

bool ManagerDoc::RouteUpdateToAllViews(View* active, int id, CommandUi& ui) {
  for (View* v : views_)
    if (v != active && v->OnUpdateCommand(id, ui)) return true;
  return false;
}

bool ManagerDoc::Route(View* active, int id) {
  if (active && active->OnCommand(id)) return true;
  return RouteCmdToAllViews(active, id);
}

bool ManagerDoc::RouteUpdate(View* active, int id, CommandUi& ui) {
  if (active && active->OnUpdateCommand(id, ui)) return true;
  return RouteUpdateToAllViews(active, id, ui);
}

}  // namespace korvo::manager
