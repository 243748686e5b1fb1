#include "viewer/app/document.h"

#include <wx/dcclient.h>
#include <wx/image.h>
#include <wx/wupdlock.h>

#include "viewer/app/frame.h"
#include "viewer/app/printout.h"
#include "viewer/app/viewer.h"

namespace korvo {

wxIMPLEMENT_DYNAMIC_CLASS(FaxImgDoc, wxDocument);
wxIMPLEMENT_DYNAMIC_CLASS(FaxImgView, wxView);

FaxImgDoc::FaxImgDoc() = default;
FaxImgDoc::~FaxImgDoc() = default;

FaxImageDocument& FaxImgDoc::Model() { return Viewer::Get()->Model(); }

bool FaxImgDoc::OnNewDocument() {
  Model().Close();
  return wxDocument::OnNewDocument();
}

bool FaxImgDoc::DoOpenDocument(const wxString& file) { return Model().Open(file.utf8_string()); }

bool FaxImgDoc::DeleteContents() {
  Model().Close();
  return true;
}

bool FaxImgView::OnCreate(wxDocument* doc, long flags) {
  if (!wxView::OnCreate(doc, flags)) return false;
  MainFrame* frame = Viewer::Get()->Frame();
  SetFrame(frame);
  canvas_ = frame->Canvas();
  canvas_->SetModel(&Viewer::Get()->Model());
  canvas_->PageChanged(0);
  return true;
}

bool FaxImgView::OnClose(bool deleteWindow) {
  if (!wxView::OnClose(deleteWindow)) return false;
  if (canvas_) canvas_->PageChanged(0);
  return true;
}

void FaxImgView::OnDraw(wxDC* dc) {
  if (canvas_) canvas_->Paint(*dc);
}

void FaxImgView::OnUpdate(wxView*, wxObject* hint) {
  if (!canvas_) return;
  const auto* update = dynamic_cast<UpdateHint*>(hint);
  canvas_->PageChanged(update ? update->Turns() : 0);
}

void FaxImgView::OnChangeFilename() {
  if (wxWindow* frame = GetFrame(); frame && GetDocument())
    frame->SetLabel(GetDocument()->GetUserReadableName() + " - " + kViewerAppName);
}

wxPrintout* FaxImgView::OnCreatePrintout() { return new FaxPrintout(Viewer::Get()->Model()); }

PageCanvas::PageCanvas(wxWindow* parent)
    : wxScrolledCanvas(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxHSCROLL | wxVSCROLL) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  SetScrollRate(1, 1);
  Bind(wxEVT_PAINT, &PageCanvas::OnPaint, this);
  Bind(wxEVT_SIZE, &PageCanvas::OnSize, this);
  Bind(wxEVT_MOUSEWHEEL, &PageCanvas::OnWheel, this);
}

void PageCanvas::PageChanged(int32_t turns) {
  const PixelSize next = model_ ? ScrollSize(model_->Bitmap(), model_->Zoom()) : PixelSize{};
  if (turns != 0) {
    wxWindowUpdateLocker lock(this);
    const wxPoint start = GetViewStart();
    const wxSize client = GetClientSize();
    const ViewPoint at = KeepPlace(turns, {start.x, start.y},
                                   {static_cast<uint32_t>(client.x), static_cast<uint32_t>(client.y)}, page_, next);
    page_ = next;
    SetVirtualSize(static_cast<int>(next.width), static_cast<int>(next.height));
    Scroll(at.x, at.y);
  } else {
    page_ = next;
    SetVirtualSize(static_cast<int>(next.width), static_cast<int>(next.height));
  }
  Refresh();
}

ViewRect PageCanvas::VisibleArea() const {
  const wxPoint origin = CalcUnscrolledPosition(wxPoint(0, 0));
  const wxSize client = GetClientSize();
  return ViewRect{origin.x, origin.y, origin.x + client.x, origin.y + client.y}.Intersect(
      {0, 0, static_cast<int32_t>(page_.width), static_cast<int32_t>(page_.height)});
}

void PageCanvas::Paint(wxDC& dc) {
  const wxSize client = GetClientSize();
  const bool shown = model_ && model_->Bitmap().Loaded();
  if (!shown) {
    dc.SetBackground(wxBrush(GetBackgroundColour()));
    dc.Clear();
    return;
  }
  // Only what the update region asks for is drawn.
  wxRect box = GetUpdateRegion().GetBox();
  if (box.IsEmpty()) box = wxRect(client);
  const wxPoint at = CalcUnscrolledPosition(box.GetPosition());
  const RgbImage image = DrawZoomed(model_->Bitmap(), model_->Zoom(),
                                    {at.x, at.y, at.x + box.width, at.y + box.height});
  if (!image.pixels.empty()) {
    wxImage picture(static_cast<int>(image.width), static_cast<int>(image.height),
                    const_cast<unsigned char*>(image.pixels.data()), true);
    dc.DrawBitmap(wxBitmap(picture), image.left, image.top);
  }
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(*wxLIGHT_GREY_BRUSH);
  for (const ViewRect& r : BackgroundRegion({static_cast<uint32_t>(client.x), static_cast<uint32_t>(client.y)}, page_))
    dc.DrawRectangle(r.left, r.top, r.Width(), r.Height());
}

void PageCanvas::OnPaint(wxPaintEvent&) {
  wxPaintDC dc(this);
  DoPrepareDC(dc);
  Paint(dc);
}

void PageCanvas::OnSize(wxSizeEvent& event) {
  Refresh();
  event.Skip();
}

void PageCanvas::OnWheel(wxMouseEvent& event) {
  if (event.GetWheelDelta() == 0) return;
  const wxSize client = GetClientSize();
  const int lines = event.GetWheelRotation() / event.GetWheelDelta() * event.GetLinesPerAction();
  const bool across = event.GetWheelAxis() == wxMOUSE_WHEEL_HORIZONTAL || event.ShiftDown();
  const wxPoint start = GetViewStart();
  if (across)
    Scroll(start.x - lines * std::max(client.x / 10, 8), start.y);
  else
    Scroll(start.x, start.y - lines * std::max(client.y / 10, 8));
}

}  // namespace korvo
