#include "manager/dialog_rules.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "manager/list_model.h"

namespace korvo::manager {

IntegerEntry ParseIntegerEntry(const std::string& text, int low, int high) {
  const std::string notANumber = "Please enter an integer.";
  size_t i = 0, end = text.size();
  while (i < end && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  while (end > i && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  bool negative = false;
  if (i < end && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == end) return {std::nullopt, notANumber};
  int64_t value = 0;
  for (; i < end; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return {std::nullopt, notANumber};
    // Saturates: a long run of digits is out of range, not wrapped into it.
    value = std::min<int64_t>(value * 10 + (text[i] - '0'), INT64_C(1) << 40);
  }
  if (negative) value = -value;
  if (value < low || value > high)
    return {std::nullopt,
            "Please enter an integer between " + std::to_string(low) + " and " + std::to_string(high) + "."};
  return {static_cast<int>(value), ""};
}

IntegerEntry ParseRefreshInterval(const std::string& text) {
  return ParseIntegerEntry(text, ListModel::kMinInterval, ListModel::kMaxInterval);
}

bool Filled(const std::string& text) { return text.find_first_not_of(" \t\r\n") != std::string::npos; }

bool AddSenderOkEnabled(const std::string& stationId) { return Filled(stationId); }

const char* AddSenderTitle(bool editMode) { return editMode ? "Edit Sender" : "Add Sender"; }

bool AddAddressOkEnabled(const std::string& fax, const std::string& firstName, const std::string& lastName,
                         const std::string& company) {
  return Filled(fax) && (Filled(firstName) || Filled(lastName) || Filled(company));
}

bool AddUserOkEnabled(const std::string& userName) { return !userName.empty(); }

const char* AddUserTitle(bool editMode) { return editMode ? "Edit User's Data" : "Add User"; }

IntegerEntry ParseRings(const std::string& text) { return ParseIntegerEntry(text, kMinRings, kMaxRings); }

bool ModemOkEnabled(const std::string& portName) { return !portName.empty(); }

const std::vector<std::string>& PortRateItems() {
  static const std::vector<std::string> items = {"2400", "4800", "9600", "19200", "38400", "57600", "115200"};
  return items;
}
const std::vector<std::string>& FaxRateItems() {
  static const std::vector<std::string> items = {"2400", "4800", "7200", "9600", "12000", "14400"};
  return items;
}
const std::vector<std::string>& SpeakerVolumeItems() {
  static const std::vector<std::string> items = {"Low", "Medium", "High"};
  return items;
}
const std::vector<std::string>& SpeakerModeItems() {
  static const std::vector<std::string> items = {"Always off", "On until carrier", "Always on",
                                                 "On after dialing until carrier"};
  return items;
}
const std::vector<std::string>& CallWaitingItems() {
  static const std::vector<std::string> items = {"None", "*70", "70#", "1170"};
  return items;
}
const std::vector<std::string>& BitOrderItems() {
  static const std::vector<std::string> items = {"Standard", "Nonstandard"};
  return items;
}

std::string AdvancedTitle(const std::string& title) { return title + " (Advanced)"; }

}  // namespace korvo::manager
