// The dialogs of the books and lists: Add Sender (167), Add Address (132),
// Add User (133), the modem configuration (135) with its Advanced dialog
// (145), and Total Usage Time (165, 166). Each edits the entry it is given
// and leaves it alone on Cancel; the rules are the model's (dialog_rules.h).
#pragma once

#include <string>

#include <wx/dialog.h>

#include "common/entries.h"
#include "common/modem_record.h"

class wxButton;
class wxCheckBox;
class wxChoice;
class wxRadioButton;
class wxTextCtrl;

namespace korvo::manager {

// Resource and control ids.
inline constexpr int kAddAddressDialog = 132;
inline constexpr int kAddUserDialog = 133;
inline constexpr int kModemConfigDialog = 135;
inline constexpr int kModemAdvancedDialog = 145;
inline constexpr int kTotalUsageAllDialog = 165;
inline constexpr int kTotalUsageSelectedDialog = 166;
inline constexpr int kAddSenderDialog = 167;

class AddSenderDialog : public wxDialog {
 public:
  static constexpr int kStationId = 1047, kName = 1038;
  AddSenderDialog(wxWindow* parent, JunkSenderEntry& entry, bool editMode);
  bool TransferDataFromWindow() override;

 private:
  JunkSenderEntry& entry_;
  wxTextCtrl* stationId_;
  wxTextCtrl* name_;
};

class AddAddressDialog : public wxDialog {
 public:
  static constexpr int kFirstName = 1046, kLastName = 1044, kCompany = 1045, kFax = 1006, kPhone = 1007,
                       kAddress = 1037, kComment = 1038;
  AddAddressDialog(wxWindow* parent, AddressEntry& entry, const std::string& title);
  bool TransferDataFromWindow() override;

 private:
  void UpdateOk();
  AddressEntry& entry_;
  wxTextCtrl* edits_[7];
};

class AddUserDialog : public wxDialog {
 public:
  static constexpr int kUserName = 1005, kFullName = 1036, kDescription = 1037, kEmail = 1038, kGlobalBook = 1006,
                       kDispatch = 1007, kAdministration = 1008;
  AddUserDialog(wxWindow* parent, RegisteredUserEntry& entry, bool editMode);
  bool TransferDataFromWindow() override;

 private:
  RegisteredUserEntry& entry_;
  wxTextCtrl* edits_[4];
  wxCheckBox* checks_[3];
};

class ModemConfigDialog : public wxDialog {
 public:
  static constexpr int kPortName = 1008, kPortRate = 1009, kSend = 1010, kReceive = 1011, kBoth = 1012,
                       kPulse = 1016, kTone = 1017, kHardware = 1021, kSoftware = 1022, kRings = 1024,
                       kDialPrefix = 1013, kModemName = 1015, kFaxRate = 1019, kEnabled = 1023, kAdvanced = 1025;
  // The dialog works on record and sends it to server on OK.
  ModemConfigDialog(wxWindow* parent, ModemRecord& record, bool editMode, const std::string& title,
                    const std::string& server);
  bool TransferDataFromWindow() override;

 private:
  ModemRecord& record_;
  bool editMode_;
  std::string title_;
  std::string server_;
  wxTextCtrl* port_;
  wxChoice* portRate_;
  wxRadioButton* usage_[3];
  wxRadioButton* dial_[2];
  wxRadioButton* flow_[2];
  wxTextCtrl* rings_;
  wxTextCtrl* prefix_;
  wxTextCtrl* modemName_;
  wxChoice* faxRate_;
  wxCheckBox* enabled_;
};

class ModemAdvancedDialog : public wxDialog {
 public:
  static constexpr int kVolume = 1030, kSpeaker = 1031, kCallWaiting = 1028, kBitOrder = 1032, kInit = 1014;
  ModemAdvancedDialog(wxWindow* parent, ModemRecord& record, const std::string& title);
  bool TransferDataFromWindow() override;

 private:
  ModemRecord& record_;
  wxChoice* choices_[4];
  wxTextCtrl* init_;
};

class TotalUsageTimeDialog : public wxDialog {
 public:
  static constexpr int kText = 1042;
  TotalUsageTimeDialog(wxWindow* parent, bool selected, const std::string& duration);
};

}  // namespace korvo::manager
