// The pages of a print job: the page on screen, or a page read for printing
// with the document's rules; and for print preview, the page drawn at paper
// size, kept while the preview shows it.
#pragma once

#include <cstdint>

#include "viewer/fax_image_document.h"
#include "viewer/view_geometry.h"

namespace korvo {

class PrintPages {
 public:
  explicit PrintPages(FaxImageDocument& document) : document_(document) {}

  // Page n of the job (from 1); null when it cannot be read (the document
  // has shown why).
  const PageBitmap* Page(uint32_t n);
  // Page n for the preview: a white width x height image with the page
  // fitted at its top left. Drawn again only for another page or size.
  const RgbImage* PreviewImage(uint32_t n, uint32_t width, uint32_t height);
  uint32_t PreviewDraws() const { return previewDraws_; }
  // The end of the job: the pages are let go.
  void End();

 private:
  FaxImageDocument& document_;
  PageBitmap printPage_;
  RgbImage preview_;
  int32_t previewIndex_ = -1;
  uint32_t previewDraws_ = 0;
};

}  // namespace korvo
