#include "viewer/print_pages.h"

namespace korvo {

const PageBitmap* PrintPages::Page(uint32_t n) {
  if (n == 0 || n > document_.PageCount()) return nullptr;
  const int32_t index = static_cast<int32_t>(n - 1);
  const PageBitmap& shown = document_.Bitmap();
  if (shown.Loaded() && shown.Index() == index) return &shown;
  if (printPage_.Loaded() && printPage_.Index() == index) return &printPage_;
  if (!document_.ReadPage(printPage_, static_cast<uint16_t>(index))) return nullptr;
  return &printPage_;
}

const RgbImage* PrintPages::PreviewImage(uint32_t n, uint32_t width, uint32_t height) {
  const int32_t index = static_cast<int32_t>(n) - 1;
  if (previewIndex_ == index && index >= 0 && preview_.width == width && preview_.height == height) return &preview_;
  const PageBitmap* page = Page(n);
  if (!page) return nullptr;
  const PixelSize fit = PrintFit(*page, width, height);
  // The page at its fitted size; what lies beyond it is white paper.
  RgbImage image = DrawPageArea(*page, {fit.width, page->Width()}, {fit.height, page->Height()},
                                {0, 0, static_cast<int32_t>(width), static_cast<int32_t>(height)});
  preview_ = std::move(image);
  previewIndex_ = index;
  ++previewDraws_;
  return &preview_;
}

void PrintPages::End() {
  printPage_.Free();
  preview_ = {};
  previewIndex_ = -1;
}

}  // namespace korvo
