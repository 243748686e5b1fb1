// numsnip: pulls the fax numbers out of a text file.
#include <wx/app.h>

#include "desktop/session_end.h"
#include "extractor/numsnip_frame.h"

namespace {

class NumsnipApp : public wxApp {
 public:
  bool OnInit() override {
    // A run in progress stops and writes nothing, as when the window is closed.
    korvo::desktop::CloseOnEndOfSession(*this);
    (new korvo::numsnip::NumsnipFrame)->Show();
    return true;
  }
};

}  // namespace

wxIMPLEMENT_APP(NumsnipApp);
