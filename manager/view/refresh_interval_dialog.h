// The Refresh Interval dialog: the seconds between periodic refreshes of the
// open list, 3 to 36000. OK with another number shows why and stays open.
#pragma once

#include <wx/dialog.h>

class wxTextCtrl;

namespace korvo::manager {

inline constexpr int kRefreshIntervalDialog = 163;
inline constexpr int kRefreshIntervalEdit = 1040;

class RefreshIntervalDialog : public wxDialog {
 public:
  RefreshIntervalDialog(wxWindow* parent, int seconds);
  int seconds() const { return seconds_; }
  bool TransferDataFromWindow() override;

 private:
  wxTextCtrl* edit_;
  int seconds_;
};

}  // namespace korvo::manager
