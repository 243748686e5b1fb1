// The Server Parameters dialog: the station identifier (1033, at most 20
// bytes), retry count (1034) and retry interval (1035) of a server, and
// its version (1038). OK sets them on the server and stays open while the
// values or the server refuse.
#pragma once

#include <string>

#include <wx/dialog.h>

#include "manager/server_parameters.h"

class wxTextCtrl;

namespace korvo::manager {

class ServerParametersDialog : public wxDialog {
 public:
  ServerParametersDialog(wxWindow* parent, UiServices& ui, const ConnectionSettings& settings, uint16_t version,
                         const std::string& server);
  const ServerParameters& model() const { return model_; }
  bool TransferDataFromWindow() override;

 private:
  ServerParameters model_;
  wxTextCtrl* stationId_;
  wxTextCtrl* retryCount_;
  wxTextCtrl* retryInterval_;
};

}  // namespace korvo::manager
