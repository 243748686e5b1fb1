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

// The macro defines wxGetApp(), which this program never calls.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
wxIMPLEMENT_APP(NumsnipApp);
#pragma GCC diagnostic pop
