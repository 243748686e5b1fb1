#include "manager/modems_list.h"

#include "manager/list_formats.h"

namespace korvo::manager {

const ListClass kModemsListClass{"ModemsList", &CreateList<ModemsList>};

namespace {

enum Column {
  kPort, kEnabled, kPortRate, kUsage, kRings, kDialMode, kPrefix, kModemName, kInit, kFaxRate, kFlow, kCallWaiting,
  kVolume, kSpeaker, kBitOrder, kColumnCount
};

std::string Pick(int32_t value, std::initializer_list<const char*> names) {
  if (value < 0 || value >= static_cast<int32_t>(names.size())) return {};
  return *(names.begin() + value);
}

// The index or number a column sorts by; texts sort by their shown text.
int32_t SortValue(const ModemRecord& r, int column) {
  switch (column) {
    case kEnabled: return r.enabled;
    case kPortRate: return r.portSpeed;
    case kUsage: return r.usage;
    case kRings: return r.ringsBeforeAnswer;
    case kDialMode: return r.dialMode;
    case kFaxRate: return r.faxSpeed;
    case kFlow: return r.flowControl;
    case kVolume: return r.speakerVolume;
    case kBitOrder: return r.class2BitOrder;
    default: return 0;
  }
}

int CompareModems(ItemValue a, ItemValue b, uint32_t sortParameter) {
  const auto& x = *reinterpret_cast<const ModemRecord*>(a);
  const auto& y = *reinterpret_cast<const ModemRecord*>(b);
  const int column = static_cast<int>(sortParameter & 0xFFFF);
  int r = 0;
  switch (column) {
    case kPort:
    case kPrefix:
    case kModemName:
    case kInit:
    case kCallWaiting:
    case kSpeaker: r = CompareNoCase(ModemColumnText(x, column), ModemColumnText(y, column)); break;
    // Ascending puts the enabled configurations first.
    case kEnabled: r = CompareNumbers(y.enabled, x.enabled); break;
    default:
      if (column < kColumnCount) r = CompareNumbers(SortValue(x, column), SortValue(y, column));
  }
  return Ordered(r, sortParameter);
}

}  // namespace

RequestResult SubmitModem(ModemRecord& record, bool editMode, const std::string& server) {
  FaxClient client;
  if (editMode) return client.EditModem(server.c_str(), record);
  int32_t id = 0;
  const RequestResult result = client.AddModem(server.c_str(), record, id);
  if (result.status == 0) record.id = id;
  return result;
}

std::string ModemColumnText(const ModemRecord& r, int column) {
  switch (column) {
    case kPort: return r.portName.Str();
    case kEnabled: return Pick(r.enabled, {"No", "Yes"});
    case kPortRate: return r.GetPortSpeedName();
    case kUsage: return r.GetModemUsageName();
    case kRings: return std::to_string(r.ringsBeforeAnswer);
    case kDialMode: return Pick(r.dialMode, {"Pulse", "Tone"});
    case kPrefix: return r.dialPrefix.Str();
    case kModemName: return r.modemName.Str();
    case kInit: return r.initString.Str();
    case kFaxRate: return r.GetFaxSpeedName();
    case kFlow: return Pick(r.flowControl, {"Hardware", "Software"});
    case kCallWaiting: return r.GetCallWaitingName();
    case kVolume: return r.GetSpeakerVolumeName();
    case kSpeaker: return r.GetSpeakerModeName();
    case kBitOrder: return Pick(r.class2BitOrder, {"Standard", "Nonstandard"});
    default: return {};
  }
}

void ModemsList::Fill() { DownloadList(serverName_, 8000, nullptr, 0); }

std::string ModemsList::GetItemText(int, ItemValue item, int tableColumn) {
  return ModemColumnText(*reinterpret_cast<const ModemRecord*>(item), tableColumn);
}

CompareFunction ModemsList::GetCompareFunction() { return &CompareModems; }

ColumnTable ModemsList::GetColumnTable() {
  static const ColumnDescriptor kColumns[] = {
      {"Port Name", 70},         {"Enabled", 60},       {"Port Data Rate", 86},  {"Send / Receive", 90},
      {"Rings Before Answer", 118}, {"Pulse / Tone", 83}, {"Dial Prefix", 73},     {"Modem Name", 115},
      {"Additional Init", 85},   {"Fax Modem Data Rate", 120}, {"Flow Control", 78}, {"Disable Call Waiting", 113},
      {"Speaker Volume", 92},    {"Speaker On / Off", 100}, {"Class 2 Data Bit Order", 118}};
  return {kColumns, kColumnCount};
}

RequestResult ModemsList::DeleteItemOnServer(int row, int) {
  return client_.DeleteModem(serverName_.c_str(), EntryAt(row));
}

void ModemsList::AddWithDialog(const ModemRecord& start, const std::string& title) {
  auto record = std::make_unique<ModemRecord>(start);
  if (model_->ui().EditModem(*record, false, title, serverName_)) Append(std::move(record));
}

void ModemsList::Add() { AddWithDialog(ModemRecord(), "Add Modem Configuration"); }

void ModemsList::Copy(int row) { AddWithDialog(EntryAt(row), "Copy Modem Configuration"); }

void ModemsList::Edit(int row) {
  ModemRecord local = EntryAt(row);
  if (!model_->ui().EditModem(local, true, "Edit Modem Configuration", serverName_)) return;
  EntryAt(row) = local;
  model_->UpdateRow(row);
}

}  // namespace korvo::manager
