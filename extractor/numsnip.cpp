// numsnip: pulls the fax numbers out of a text file.
#include <wx/app.h>

#include "extractor/numsnip_frame.h"

namespace {

class NumsnipApp : public wxApp {
 public:
  bool OnInit() override {
    (new korvo::numsnip::NumsnipFrame)->Show();
    return true;
  }
};

}  // namespace

wxIMPLEMENT_APP(NumsnipApp);
