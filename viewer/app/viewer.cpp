#include "viewer/app/viewer.h"

#include <wx/app.h>
#include <wx/filehistory.h>
#include <wx/menu.h>

#include "desktop/prompt.h"
#include "viewer/app/document.h"
#include "viewer/app/frame.h"
#include "viewer/command_line.h"
#include "viewer/viewer_ids.h"

namespace korvo {

namespace id = viewer_id;

Viewer* Viewer::instance_ = nullptr;

// Initialized here, not by the base's constructor, which would make the
// base's file history of nine files rather than ours of four.
ViewerDocManager::ViewerDocManager() : wxDocManager(0, false) { Initialize(); }

wxDocTemplate* ViewerDocManager::FindTemplateForPath(const wxString&) {
  return GetTemplates().empty() ? nullptr : static_cast<wxDocTemplate*>(GetTemplates().GetFirst()->GetData());
}

wxDocument* ViewerDocManager::CreateDocument(const wxString& path, long flags) {
  wxDocument* doc = wxDocManager::CreateDocument(path, flags);
  if (doc && !(flags & wxDOC_NEW)) {
    const wxString file = doc->GetFilename();
    if (!doc->GetDocumentTemplate()->FileMatchesTemplate(file)) AddFileToHistory(file);
  }
  return doc;
}

wxFileHistory* ViewerDocManager::OnCreateFileHistory() {
  return new wxFileHistory(RecentFileList::kSize, WxId(id::kFileMru1));
}

void ViewerDocManager::AddFileToHistory(const wxString& file) {
  wxDocManager::AddFileToHistory(file);
  recent_.Add(file.utf8_string());
  KeepExitLast();
}

void ViewerDocManager::KeepExitLast() {
  if (!GetFileHistory()) return;
  const wxList& menus = GetFileHistory()->GetMenus();
  for (auto node = menus.GetFirst(); node; node = node->GetNext()) {
    auto* menu = static_cast<wxMenu*>(node->GetData());
    if (!menu->FindChildItem(WxId(id::kAppExit))) continue;
    wxMenuItem* exit = menu->Remove(WxId(id::kAppExit));
    // One separator between groups, none at the end; then Exit after one.
    bool separator = false;
    for (size_t i = 0; i < menu->GetMenuItemCount();) {
      wxMenuItem* item = menu->FindItemByPosition(i);
      const bool end = i + 1 == menu->GetMenuItemCount();
      if (item->IsSeparator() && (separator || end)) {
        menu->Destroy(item);
        continue;
      }
      separator = item->IsSeparator();
      ++i;
    }
    menu->AppendSeparator();
    menu->Append(exit);
  }
}

void ViewerDocManager::OnMRUFileNotExist(unsigned n, const wxString& filename) {
  recent_.Remove(filename.utf8_string());
  RemoveFileFromHistory(n);
  KeepExitLast();
  desktop::Prompts().Message(wxTheApp->GetTopWindow(),
                             "The file '" + filename.utf8_string() +
                                 "' could not be opened.\nIt has been removed from the recent file list.",
                             kViewerAppName, desktop::Buttons::Ok, desktop::Icon::Warning);
}

void ViewerDocManager::LoadHistory() {
  recent_.Load();
  const auto& files = recent_.Files();
  for (auto it = files.rbegin(); it != files.rend(); ++it) wxDocManager::AddFileToHistory(wxString::FromUTF8(*it));
  KeepExitLast();
}

Viewer::Viewer(const std::vector<std::string>& args) {
  instance_ = this;
  const ViewerCommandLine line = ParseViewerCommandLine(args);
  model_.SetFirstPageOnly(line.firstPageOnly);
  model_.SetMessageSink([this](const std::string& text, const std::string& caption) {
    desktop::Prompts().Message(frame_, text, caption, desktop::Buttons::Ok, desktop::Icon::Warning);
  });
  model_.SetUpdateSink([this](int32_t turns) {
    // The one document, whether or not its frame has been activated.
    UpdateHint hint(turns);
    for (wxDocument* doc : manager_->GetDocumentsVector()) doc->UpdateAllViews(nullptr, &hint);
    if (frame_) frame_->ShowState();
  });
  manager_ = std::make_unique<ViewerDocManager>();
  manager_->SetMaxDocsOpen(1);
  new wxDocTemplate(manager_.get(), "KorvoLens Files (*.fax)", "*.fax;*.FAX", "", "fax", "KorvoLens.Document",
                    "KorvoLens Document", CLASSINFO(FaxImgDoc), CLASSINFO(FaxImgView));
  frame_ = new MainFrame(manager_.get(), model_);
  frame_->Bind(wxEVT_DESTROY, [this](wxWindowDestroyEvent& e) {
    if (e.GetEventObject() == frame_) frame_ = nullptr;
    e.Skip();
  });
  manager_->LoadHistory();
  frame_->Show();
  if (!line.file.empty()) OpenFile(line.file);
  if (manager_->GetDocumentsVector().empty()) manager_->CreateNewDocument();
  frame_->ShowState();
  frame_->DragAcceptFiles(true);
}

Viewer::~Viewer() {
  manager_->Clear(true);
  delete frame_;
  instance_ = nullptr;
}

bool Viewer::OpenFile(const std::string& path) {
  if (manager_->CreateDocument(wxString::FromUTF8(path), wxDOC_SILENT)) return true;
  // The document shown before was closed for this one: an empty one takes its place.
  if (manager_->GetDocumentsVector().empty()) manager_->CreateNewDocument();
  return false;
}

}  // namespace korvo
