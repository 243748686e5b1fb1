// The document and view classes the document manager makes, and the
// scrolling canvas of the main frame that the view paints.
#pragma once

#include <wx/docview.h>
#include <wx/scrolwin.h>

#include "viewer/fax_image_document.h"
#include "viewer/view_geometry.h"

namespace korvo {

class FaxImgView;

// The open file: the viewer's model, opened and closed by the framework.
class FaxImgDoc : public wxDocument {
 public:
  FaxImgDoc();
  ~FaxImgDoc() override;
  FaxImageDocument& Model();
  bool OnNewDocument() override;
  bool DoOpenDocument(const wxString& file) override;
  bool DeleteContents() override;
  bool IsModified() const override { return false; }

 private:
  wxDECLARE_DYNAMIC_CLASS(FaxImgDoc);
};

// What an update says: 0, or the quarter turns of a rotation.
class UpdateHint : public wxObject {
 public:
  explicit UpdateHint(int32_t turns) : turns_(turns) {}
  int32_t Turns() const { return turns_; }

 private:
  int32_t turns_;
};

class PageCanvas;

class FaxImgView : public wxView {
 public:
  bool OnCreate(wxDocument* doc, long flags) override;
  bool OnClose(bool deleteWindow) override;
  void OnDraw(wxDC* dc) override;
  void OnUpdate(wxView* sender, wxObject* hint) override;
  wxPrintout* OnCreatePrintout() override;
  // The frame's title: "name - Korvo Viewer".
  void OnChangeFilename() override;

 private:
  PageCanvas* canvas_ = nullptr;
  wxDECLARE_DYNAMIC_CLASS(FaxImgView);
};

// Paints the page at its zoom, only the part that is shown, and the grey
// area beside a page smaller than the window.
class PageCanvas : public wxScrolledCanvas {
 public:
  explicit PageCanvas(wxWindow* parent);

  void SetModel(const FaxImageDocument* model) { model_ = model; }
  // The page changed: 0 sets the scroll size afresh, a rotation keeps the place.
  void PageChanged(int32_t turns);
  // The page shown as drawn, in view coordinates (for tests).
  ViewRect VisibleArea() const;
  // Draws the visible part of the page into a DC prepared for scrolling.
  void Paint(wxDC& dc);

 private:
  void OnPaint(wxPaintEvent& event);
  void OnSize(wxSizeEvent& event);
  void OnWheel(wxMouseEvent& event);

  const FaxImageDocument* model_ = nullptr;
  PixelSize page_;
};

}  // namespace korvo
