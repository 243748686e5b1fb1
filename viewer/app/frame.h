// The main frame: menus, the page toolbar with its page number box, and the
// status bar with the message, zoom and page panes.
#pragma once

#include <wx/docview.h>
#include <wx/control.h>
#include <wx/toolbar.h>

namespace korvo {

class FaxImageDocument;
class PageCanvas;
class ViewerDocManager;

// The page number box of the toolbar: black text on white, in a border.
class PageBox : public wxControl {
 public:
  PageBox(wxWindow* parent, int id, const wxSize& size);
  void SetNumber(const wxString& text);
  const wxString& Number() const { return text_; }

 private:
  void OnPaint(wxPaintEvent& event);
  wxString text_ = "1";
};

class PageToolBar : public wxToolBar {
 public:
  explicit PageToolBar(wxWindow* parent);
  // The box shows the current page number.
  void ShowPage(const FaxImageDocument& model);
  PageBox* Box() const { return box_; }

 private:
  PageBox* box_ = nullptr;
};

class MainFrame : public wxDocParentFrame {
 public:
  MainFrame(ViewerDocManager* manager, FaxImageDocument& model);

  PageCanvas* Canvas() const { return canvas_; }
  PageToolBar* PageBar() const { return toolBar_; }
  // Panes and page box from the document.
  void ShowState();

 private:
  void BuildMenus();
  void OnCommand(wxCommandEvent& event);
  void OnUpdateCommand(wxUpdateUIEvent& event);
  void OnGoTo(wxCommandEvent& event);
  void OnOpen(wxCommandEvent& event);
  void OnAbout(wxCommandEvent& event);
  void OnDropFiles(wxDropFilesEvent& event);
  void OnIdle(wxIdleEvent& event);

  ViewerDocManager* manager_;
  FaxImageDocument& model_;
  PageCanvas* canvas_ = nullptr;
  PageToolBar* toolBar_ = nullptr;
};

}  // namespace korvo
