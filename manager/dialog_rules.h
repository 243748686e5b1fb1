// The rules of the manager's dialogs, without windows: what a number field
// takes and the message that refuses the rest, when OK is enabled, titles,
// text limits and the items of the drop-down lists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/field_sizes.h"

namespace korvo::manager {

struct IntegerEntry {
  std::optional<int> value;  // nothing: refused with message
  std::string message;
};

// A whole number between low and high, blanks around it allowed:
// "Please enter an integer." when it is none, "Please enter an integer
// between <low> and <high>." when it is out of range.
IntegerEntry ParseIntegerEntry(const std::string& text, int low, int high);

// The Refresh Interval dialog's one number, in seconds.
IntegerEntry ParseRefreshInterval(const std::string& text);

// A text field is filled when it holds something besides blanks, tabs and
// line breaks.
bool Filled(const std::string& text);

// The dialogs' text edits take what the record's field holds
// (common/field_sizes.h), counted in UTF-8 bytes: an edit that would make the
// text longer is refused whole, so what was entered is what is stored.
inline bool FitsField(const std::string& text, std::size_t bytes) { return text.size() <= bytes; }

// Add Sender (167): OK while the station identifier is filled.
bool AddSenderOkEnabled(const std::string& stationId);
const char* AddSenderTitle(bool editMode);  // "Add Sender", "Edit Sender"

// Add Address (132): OK while the fax number and one of first name, last
// name and company are filled.
bool AddAddressOkEnabled(const std::string& fax, const std::string& firstName, const std::string& lastName,
                         const std::string& company);

// Add User (133): OK while the user name is not empty; in edit mode the name
// is the record's key and cannot change.
bool AddUserOkEnabled(const std::string& userName);
const char* AddUserTitle(bool editMode);  // "Add User", "Edit User's Data"

// The modem configuration dialogs (135, 145).
inline constexpr int kMinRings = 1;
inline constexpr int kMaxRings = 10;  // what the modem record keeps
IntegerEntry ParseRings(const std::string& text);
bool ModemOkEnabled(const std::string& portName);
// The rings edit takes input unless the modem only sends.
inline bool RingsEditEnabled(int32_t usage) { return usage != 0; }
// Items of the drop-down lists, index = value.
const std::vector<std::string>& PortRateItems();
const std::vector<std::string>& FaxRateItems();
const std::vector<std::string>& SpeakerVolumeItems();
const std::vector<std::string>& SpeakerModeItems();
const std::vector<std::string>& CallWaitingItems();
const std::vector<std::string>& BitOrderItems();
// "<title> (Advanced)".
std::string AdvancedTitle(const std::string& title);

}  // namespace korvo::manager
