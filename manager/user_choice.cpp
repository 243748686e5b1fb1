#include "manager/user_choice.h"

#include <algorithm>
#include <new>

#include "common/entries.h"
#include "common/status_codes.h"
#include "common/userenvironment.h"
#include "manager/list_formats.h"

namespace korvo::manager {

UserChoice::UserChoice(UiServices& ui, std::string server, std::string title)
    : ui_(ui), server_(std::move(server)), title_(std::move(title)) {}

void UserChoice::OnDropDown() {
  if (!names_.empty()) return;
  ui_.BeginWaitCursor();
  TextFile file;
  uint32_t counter = 0;
  RequestResult result(kStatusGetFileFromServer);
  if (FaxClient::MakeTempFile(GetUserEnvironment().GetDataPath(), "LST", file))
    result = client_.DownloadListCounted(server_.c_str(), FaxClient::kListUsers, "0", FileRef(file), counter);
  if (result.status != 0) {
    ShowText(ui_, result.text);
  } else {
    bool read = file.SeekToBegin() == 0;
    try {
      char line[512];
      while (read && file.ReadLine(line, sizeof line)) {
        std::string name = RegisteredUserEntry(line).userName;
        auto at = std::upper_bound(names_.begin(), names_.end(), name,
                                   [](const std::string& a, const std::string& b) { return CompareNoCase(a, b) < 0; });
        names_.insert(at, std::move(name));
      }
    } catch (const std::bad_alloc&) {
      read = false;
    }
    if (!read) ShowText(ui_, "File error occured while processing a list received from server.\nSome items may be lost");
  }
  file.Close();
  FaxClient::DeleteTempFile(file.GetFileName());
  ui_.EndWaitCursor();
}

void UserChoice::Select(int index) {
  selected_ = index >= 0 && index < static_cast<int>(names_.size()) ? index : -1;
}

std::string UserChoice::chosen() const { return selected_ >= 0 ? names_[static_cast<size_t>(selected_)] : std::string(); }

}  // namespace korvo::manager
