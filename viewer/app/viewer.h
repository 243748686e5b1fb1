// KorvoLens on wxWidgets: thin windows over FaxImageDocument. One viewer per
// process: a single-document manager whose one template takes any file name,
// the main frame with its toolbar and panes, and the document's model, which
// lives as long as the viewer so that the zoom carries over to the next file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <wx/docview.h>

#include "viewer/fax_image_document.h"
#include "viewer/recent_files.h"

namespace korvo {

class MainFrame;

class ViewerDocManager : public wxDocManager {
 public:
  ViewerDocManager();
  // Any name opens: there is one kind of document.
  wxDocTemplate* FindTemplateForPath(const wxString& path) override;
  // Any file that opened goes into the recent files, not only those the
  // template's filter names.
  wxDocument* CreateDocument(const wxString& path, long flags) override;
  // The framework's name of a document without a file.
  wxString MakeNewDocumentName() override { return "Untitled"; }
  wxFileHistory* OnCreateFileHistory() override;
  void AddFileToHistory(const wxString& file) override;
  void OnMRUFileNotExist(unsigned n, const wxString& filename) override;
  // Loads the recent files of the profile into the menu.
  void LoadHistory();

 private:
  // The toolkit appends recent files to the end of the menu; Exit stays last.
  void KeepExitLast();

  RecentFileList recent_;
};

class Viewer {
 public:
  // Arguments without the program name.
  explicit Viewer(const std::vector<std::string>& args);
  ~Viewer();
  Viewer(const Viewer&) = delete;
  Viewer& operator=(const Viewer&) = delete;

  static Viewer* Get() { return instance_; }
  FaxImageDocument& Model() { return model_; }
  MainFrame* Frame() const { return frame_; }
  ViewerDocManager* DocManager() const { return manager_.get(); }
  // Opens a file in place of the document shown; false when it does not open.
  bool OpenFile(const std::string& path);

 private:
  static Viewer* instance_;
  FaxImageDocument model_;
  std::unique_ptr<ViewerDocManager> manager_;
  MainFrame* frame_ = nullptr;
};

}  // namespace korvo
