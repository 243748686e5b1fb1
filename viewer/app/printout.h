// Printing and print preview of the document's pages, each fitted to the
// drawing rectangle of the paper.
#pragma once

#include <wx/print.h>

#include "viewer/print_pages.h"

namespace korvo {

class FaxPrintout : public wxPrintout {
 public:
  explicit FaxPrintout(FaxImageDocument& model);
  void GetPageInfo(int* minPage, int* maxPage, int* pageFrom, int* pageTo) override;
  bool HasPage(int page) override;
  bool OnPrintPage(int page) override;
  void OnEndPrinting() override;
  const PrintPages& Pages() const { return pages_; }

 private:
  FaxImageDocument& model_;
  PrintPages pages_;
};

}  // namespace korvo
