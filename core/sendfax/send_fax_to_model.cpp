#include "core/sendfax/send_fax_to_model.h"

#include "common/entries.h"
#include "common/userenvironment.h"

namespace korvo::sendfax {
namespace {

constexpr uint32_t kListAddresses = 7000;
// A whole record line of either list (a registered user's record is up to
// 511 characters), so that no line is split into two entries.
constexpr size_t kLineSize = FaxClient::kUserBufferSize + 2;

}  // namespace

SendFaxToModel::SendFaxToModel(SendFaxJob& job) : job_(job) { Fill(); }

void SendFaxToModel::Fill() {
  recipients_.RemoveAll();
  entries_.clear();
  useGlobal_ = job_.useGlobalAddressBook != 0;
  AddSource(nullptr, kListAddresses, false);
  if (!useGlobal_) return;
  AddSource(job_.server.c_str(), kListAddresses, false);
  AddSource(job_.server.c_str(), FaxClient::kListUsers, true);
}

void SendFaxToModel::AddSource(const char* server, uint32_t code, bool users) {
  const std::string& folder = GetUserEnvironment().GetDataPath();
  TextFile file;
  RequestResult result;
  if (server) {
    if (!FaxClient::MakeTempFile(folder, "LST", file)) return;
    result = client_.DownloadList(server, code, "0", file);
  } else {
    // The local book writes its list by name.
    const std::string name = FaxClient::MakeTempFileName(folder, "LST");
    if (name.empty()) return;
    result = client_.DownloadList(nullptr, code, "0", name);
    if (!file.Open(name.c_str())) {
      FaxClient::DeleteTempFile(name);
      return;
    }
  }
  if (result.status == 0 && file.SeekToBegin() == 0) {
    char line[kLineSize];
    size_t row = 0;
    while (file.ReadLine(line, sizeof line, nullptr)) {
      FaxSenderOrRecipient recipient;
      std::string text;
      if (users) {
        RegisteredUserEntry user(line);
        recipient = FaxSenderOrRecipient(user);
        text = user.GetLabel();
      } else {
        AddressEntry entry(line);
        recipient = FaxSenderOrRecipient(entry);
        text = entry.GetFullName() + ": " + entry.faxNumber;
      }
      recipients_.AddTail(recipient);
      entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(row++), {text, recipients_.GetCount() - 1});
    }
  }
  file.Close();
  FaxClient::DeleteTempFile(file.GetFileName());
}

void SendFaxToModel::SetUseGlobal(bool checked) {
  job_.useGlobalAddressBook = checked ? 1 : 0;
  if (checked) Fill();
  useGlobal_ = checked;
}

void SendFaxToModel::Apply(const std::vector<int>& selectedRows) {
  job_.useGlobalAddressBook = useGlobal_ ? 1 : 0;
  for (size_t row = 0; row < entries_.size(); ++row)
    for (int s : selectedRows)
      if (s == static_cast<int>(row)) job_.recipientsHeader->recipients.AddTail(recipients_[entries_[row].data]);
}

}  // namespace korvo::sendfax
