// The windows of the Send Fax road: thin wx views over the models of
// core/sendfax, with the controls' ids of the dialog templates.
#pragma once

#include <memory>

#include <wx/dialog.h>

#include "core/sendfax/options_model.h"
#include "core/sendfax/send_fax_model.h"
#include "core/sendfax/send_fax_to_model.h"

class wxButton;
class wxCheckBox;
class wxComboBox;
class wxGauge;
class wxListBox;
class wxStaticText;
class wxTextCtrl;

namespace korvo::sendfax {

// Widens the list (and its dialog, within the screen) so that its longest
// entry shows whole.
void FitListToEntries(wxListBox* list, wxDialog* dialog);

namespace id {
// Send Fax
inline constexpr int kName = 1063;
inline constexpr int kNumber = 1043;
inline constexpr int kRecipients = 1064;
inline constexpr int kSend = 1030;
inline constexpr int kAddRemove = 1059;
inline constexpr int kAddressBook = 1038;
inline constexpr int kOptions = 1033;
inline constexpr int kStatus = 1051;
inline constexpr int kProgress = 1046;
// Send Fax Options
inline constexpr int kSubject = 1001;
inline constexpr int kServer = 1044;
inline constexpr int kSendTime = 1049;
inline constexpr int kHighPriority = 1004;
inline constexpr int kKeepSentFax = 1041;
inline constexpr int kCoverPage = 1042;
inline constexpr int kPreview = 1039;
inline constexpr int kSaferDialing = 1040;
// Send Fax To:
inline constexpr int kUseGlobal = 1050;
inline constexpr int kBookList = 1005;
// Send Fax Status (1051 is also its first line)
inline constexpr int kFirstLine = 1051;
inline constexpr int kSecondLine = 1052;
}  // namespace id

class SendFaxDialog : public wxDialog, private SendFaxHost {
 public:
  // Modal, without a parent, on the job's files.
  explicit SendFaxDialog(SendFaxJob& job);
  SendFaxModel& Model() { return *model_; }

  // Filled while the Options, Send Fax To and Status dialogs are open, for tests.
  wxDialog* OpenChild() const { return child_; }

 private:
  void StatusChanged(const std::string& text) override;
  bool RunOptions(SendFaxJob& job) override;
  bool RunSendFaxTo(SendFaxJob& job) override;
  void RunStatus(SendFaxJob& job, bool success) override;
  int RunChild(wxDialog& dialog);

  // Shows what the model holds; ends the dialog once the model has ended.
  void Sync();
  // The controls enabled as the model says, Cancel only while no work runs.
  void ShowEnabling();
  void OnCancel();

  std::unique_ptr<SendFaxModel> model_;
  wxTextCtrl* name_;
  wxTextCtrl* number_;
  wxListBox* list_;
  wxButton* send_;
  wxButton* addRemove_;
  wxButton* addressBook_;
  wxButton* options_;
  wxButton* cancel_;
  wxStaticText* status_;
  wxGauge* progress_;
  wxDialog* child_ = nullptr;
  bool syncing_ = false;
  bool busy_ = false;  // Send's work runs on this thread
};

class SendFaxOptionsDialog : public wxDialog {
 public:
  SendFaxOptionsDialog(wxWindow* parent, SendFaxJob& job, int64_t now);
  bool TransferDataFromWindow() override;
  OptionsModel& Model() { return model_; }

 private:
  OptionsModel model_;
  wxTextCtrl* subject_;
  wxComboBox* server_;
  wxComboBox* sendTime_;
  wxCheckBox* highPriority_;
  wxCheckBox* keepSentFax_;
  wxCheckBox* coverPage_;
  wxCheckBox* preview_;
  wxCheckBox* saferDialing_;
};

class SendFaxToDialog : public wxDialog {
 public:
  SendFaxToDialog(wxWindow* parent, SendFaxJob& job);
  bool TransferDataFromWindow() override;
  SendFaxToModel& Model() { return *model_; }

 private:
  void ShowList();

  std::unique_ptr<SendFaxToModel> model_;
  wxCheckBox* useGlobal_;
  wxListBox* list_;
};

class SendFaxStatusDialog : public wxDialog {
 public:
  SendFaxStatusDialog(wxWindow* parent, const SendFaxJob& job, bool success);
};

}  // namespace korvo::sendfax
