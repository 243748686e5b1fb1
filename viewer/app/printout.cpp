#include "viewer/app/printout.h"

#include <wx/dc.h>
#include <wx/filename.h>
#include <wx/image.h>

namespace korvo {

namespace {

wxBitmap BitmapOf(const RgbImage& image) {
  wxImage picture(static_cast<int>(image.width), static_cast<int>(image.height),
                  const_cast<unsigned char*>(image.pixels.data()), true);
  return wxBitmap(picture);
}

}  // namespace

FaxPrintout::FaxPrintout(FaxImageDocument& model)
    : wxPrintout(model.Path().empty() ? wxString(kViewerAppName)
                                      : wxFileName(wxString::FromUTF8(model.Path())).GetFullName()),
      model_(model),
      pages_(model) {}

void FaxPrintout::GetPageInfo(int* minPage, int* maxPage, int* pageFrom, int* pageTo) {
  *minPage = *pageFrom = model_.PageCount() ? 1 : 0;
  *maxPage = *pageTo = model_.PageCount();
}

bool FaxPrintout::HasPage(int page) { return page >= 1 && page <= model_.PageCount(); }

bool FaxPrintout::OnPrintPage(int page) {
  wxDC* dc = GetDC();
  if (!dc || page < 1) return false;
  // The drawing rectangle: the page in the printer's pixels, mapped onto
  // the paper (the preview's DC is the screen's bitmap of the paper).
  int width = 0, height = 0;
  GetPageSizePixels(&width, &height);
  FitThisSizeToPage(wxSize(width, height));
  double sx = 1, sy = 1;
  dc->GetUserScale(&sx, &sy);
  if (IsPreview()) {
    // The preview draws at the screen's pixels, each page once while shown.
    const int w = dc->LogicalToDeviceXRel(width), h = dc->LogicalToDeviceYRel(height);
    const RgbImage* image = pages_.PreviewImage(static_cast<uint32_t>(page), static_cast<uint32_t>(std::max(w, 0)),
                                                static_cast<uint32_t>(std::max(h, 0)));
    if (!image || image->pixels.empty()) return true;
    dc->SetUserScale(1, 1);
    dc->DrawBitmap(BitmapOf(*image), 0, 0);
    dc->SetUserScale(sx, sy);
    return true;
  }
  const PageBitmap* bitmap = pages_.Page(static_cast<uint32_t>(page));
  if (!bitmap) return true;
  const PixelSize fit = PrintFit(*bitmap, width, height);
  if (fit.width == 0 || fit.height == 0) return true;
  // The whole page at its own pixels, stretched by the printer to its fit.
  const RgbImage image =
      DrawPageArea(*bitmap, {1, 1}, {1, 1},
                   {0, 0, static_cast<int32_t>(bitmap->Width()), static_cast<int32_t>(bitmap->Height())});
  dc->SetUserScale(sx * fit.width / bitmap->Width(), sy * fit.height / bitmap->Height());
  dc->DrawBitmap(BitmapOf(image), 0, 0);
  dc->SetUserScale(sx, sy);
  return true;
}

void FaxPrintout::OnEndPrinting() { pages_.End(); }

}  // namespace korvo
