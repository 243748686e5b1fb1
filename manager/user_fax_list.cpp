#include "manager/user_fax_list.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/fields.h"
#include "common/settings.h"
#include "common/status_codes.h"
#include "common/stream.h"
#include "common/userenvironment.h"
#include "manager/folder_tree.h"
#include "manager/list_formats.h"
#include "manager/list_model.h"
#include "manager/server_fax_list.h"
#include "platform/durable_file.h"

namespace korvo::manager {

const ListClass kUserInBoxClass{"UserInBox", &CreateList<UserInBox>};
const ListClass kUserOutBoxClass{"UserOutBox", &CreateList<UserOutBox>};
const ListClass kUserSentFaxesClass{"UserSentFaxes", &CreateList<UserSentFaxes>};
const ListClass kUserReturnedFaxesClass{"UserReturnedFaxes", &CreateList<UserReturnedFaxes>};
const ListClass kUserDispatchBoxClass{"UserDispatchBox", &CreateList<UserDispatchBox>};

namespace {

namespace fs = std::filesystem;

const FaxListItem& ItemOf(ItemValue item) { return *reinterpret_cast<const FaxListItem*>(item); }

bool HasExtension(const std::string& name, const char* ext) {
  const size_t n = std::char_traits<char>::length(ext);
  if (name.size() <= n) return false;
  return CompareNoCase(name.substr(name.size() - n), ext) == 0;
}

std::string WithExtension(const std::string& path, const char* ext) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind('/');
  const size_t end = dot != std::string::npos && (slash == std::string::npos || dot > slash) ? dot : path.size();
  return path.substr(0, end) + ext;
}

// Removes a file that is there; the system's text when it stays.
bool RemoveIfThere(const std::string& path, std::string& problem) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(path, ec))) return true;
  if (fs::remove(path, ec) && !ec) return true;
  problem = path + ": " + ec.message();
  return false;
}

template <size_t N>
ColumnOrder Order(const int (&entries)[N]) {
  return {entries, static_cast<int>(N)};
}

// Names for one fetched fax: a "FAX" temporary file whose ".fax" and ".kvf"
// are free and made here, empty and exclusive, so nothing that lies in the
// folder is ever written over. The temporary file stays until the pair is
// in place; numbers passed over stay taken until then too, so none is drawn
// twice.
class FetchNames {
 public:
  bool Reserve(const std::string& folder) {
    for (int tries = 0; tries < kTries; ++tries) {
      const std::string tmp = FaxClient::MakeTempFileName(folder, "FAX");
      if (tmp.empty()) return false;
      held_.push_back(tmp);
      const std::string header = WithExtension(tmp, ".kvf");
      const std::string image = WithExtension(tmp, ".fax");
      if (!headerFile_.Open(header.c_str(), kDefaultAccess, 0, kCreateNew)) continue;
      if (!imageFile_.Open(image.c_str(), kDefaultAccess, 0, kCreateNew)) {
        headerFile_.Close();
        std::remove(header.c_str());
        continue;
      }
      headerPath_ = header;
      imagePath_ = image;
      // The names are on the disk before the server lets go of the fax; the
      // exchange flushes the contents before its last Ok.
      platform::SyncFolder(folder);
      return true;
    }
    return false;
  }
  // A failed fetch takes both of its files with it: a header beside a
  // partial image would list.
  void Discard() {
    headerFile_.Close();
    imageFile_.Close();
    if (!headerPath_.empty()) std::remove(headerPath_.c_str());
    if (!imagePath_.empty()) std::remove(imagePath_.c_str());
  }
  ~FetchNames() {
    headerFile_.Close();
    imageFile_.Close();
    for (const std::string& name : held_) std::remove(name.c_str());
  }
  Stream& headerFile() { return headerFile_; }
  Stream& imageFile() { return imageFile_; }

 private:
  static constexpr int kTries = 64;
  std::vector<std::string> held_;
  std::string headerPath_;
  std::string imagePath_;
  Stream headerFile_;
  Stream imageFile_;
};

}  // namespace

std::string RecipientsText(const RecipientList& recipients) {
  const int n = recipients.GetCount();
  if (n == 0) return {};
  if (n == 1) return recipients[0].GetDisplayName();
  const std::string first = recipients[0].GetDisplayName();
  const std::string last = recipients[n - 1].GetDisplayName();
  return n == 2 ? "<" + first + ", " + last + ">" : "<" + first + ", .. " + last + ">";
}

std::vector<std::string> RecipientLines(const FaxHeader& header) {
  std::vector<std::string> lines;
  for (const FaxSenderOrRecipient& r : header.recipients) lines.push_back(r.GetDisplayName());
  return lines;
}

namespace {
std::string ColumnText(const FaxListItem& item, int tableColumn) {
  switch (tableColumn) {
    case UserFaxList::kFrom: return item.header.sender.GetDisplayName();
    case UserFaxList::kTo:
    case UserFaxList::kOrigTo: return RecipientsText(item.header.recipients);
    case UserFaxList::kSubject: return item.header.subject;
    case UserFaxList::kTime: return FormatListDate(item.header.sendTime.time);
    default: return {};
  }
}
}  // namespace

int CompareFaxItems(ItemValue a, ItemValue b, uint32_t sortParameter) {
  const FaxListItem& x = ItemOf(a);
  const FaxListItem& y = ItemOf(b);
  const int column = static_cast<int>(sortParameter & 0xFFFF);
  const int r = column == UserFaxList::kTime ? CompareNumbers(x.header.sendTime.time, y.header.sendTime.time)
                                             : CompareNoCase(ColumnText(x, column), ColumnText(y, column));
  return Ordered(r, sortParameter);
}

std::vector<FaxListItem> EnumerateFaxPairs(const std::string& folder) {
  std::vector<FaxListItem> items;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (it->is_directory(typeError)) continue;
    const std::string name = it->path().filename().string();
    if (!HasExtension(name, ".kvf")) continue;
    FaxListItem item;
    item.headerPath = it->path().string();
    item.imagePath = WithExtension(item.headerPath, ".fax");
    if (!fs::is_regular_file(item.imagePath, typeError)) continue;
    if (!item.header.LoadFromFile(item.headerPath)) continue;
    items.push_back(std::move(item));
  }
  return items;
}

std::vector<std::string> ViewerCommand(const std::string& viewer, const std::string& imagePath, bool allPages) {
  std::vector<std::string> argv{viewer};
  if (!allPages) argv.push_back("/First_Page_Only");
  argv.push_back(imagePath);
  return argv;
}

// ---- UserFaxList

std::string UserFaxList::DefaultServer() { return GetUserEnvironment().GetDefaultServer(); }

const FaxListItem& UserFaxList::Item(int row) const { return ItemOf(model_->GetRow(row).item); }

void UserFaxList::Fill() { ListFolder(); }

void UserFaxList::ListFolder() {
  for (FaxListItem& found : EnumerateFaxPairs(Folder())) {
    auto* item = new FaxListItem(std::move(found));
    if (!model_->AddRow(reinterpret_cast<ItemValue>(item))) delete item;
  }
}

void UserFaxList::OpenItem(int row) {
  if (row < 0 || row >= model_->RowCount()) return;
  char viewer[260] = {};
  if (!KvGetKorvoLensName(viewer, sizeof viewer) || !viewer[0]) return;
  // A viewer that does not start shows nothing, as the user sees no window.
  lastViewer_ = model_->ui().StartProgram(ViewerCommand(viewer, Item(row).imagePath, ShowsAllPages()));
}

std::string UserFaxList::GetItemText(int, ItemValue item, int tableColumn) {
  return ColumnText(ItemOf(item), tableColumn);
}

void UserFaxList::DeleteItemData(ItemValue item) { delete reinterpret_cast<FaxListItem*>(item); }

void UserFaxList::OnDeleteItems() { ConfirmDeleteSelected(0); }

void UserFaxList::OnUpdateDeleteItems(CommandUi& ui) { ui.Enable(model_->SelectedCount() > 0); }

ColumnTable UserFaxList::GetColumnTable() {
  static const ColumnDescriptor kColumns[] = {
      {"From", 110}, {"To", 110}, {"Orig. To", 110}, {"Subject", 180}, {"Time", 110}};
  return {kColumns, 5};
}

RequestResult UserFaxList::RemovePair(int row) {
  const FaxListItem& item = Item(row);
  std::string problem;
  // The image first: when it stays, so does its header, and the pair lists
  // again as the row that stays.
  if (RemoveIfThere(item.imagePath, problem) && RemoveIfThere(item.headerPath, problem)) return {};
  return RequestResult(kStatusReadFile, problem);
}

RequestResult UserFaxList::DeleteItemOnServer(int row, int) { return RemovePair(row); }

RequestResult UserFaxList::SendItem(int row, int) {
  const FaxListItem& item = Item(row);
  const std::string server = DefaultServer();
  const RequestResult result = client_.SendFaxFiles(server.c_str(), item.headerPath, item.imagePath);
  if (result.status != 0) return result;
  return RemovePair(row);
}

FaxHeader ForwardHeader(const FaxHeader& received, const std::string& forwardingUser, const std::string& toUser) {
  FaxHeader header(received);
  const FaxSenderOrRecipient& from = received.sender;
  // A party reached by modem is known by its number (a received fax's
  // address is the calling station's identifier).
  const std::string fax = !from.fax.empty() || from.lan ? from.fax : from.address;
  header.sender = FaxSenderOrRecipient(forwardingUser, 1, from.GetDisplayName(), from.company, from.phone, fax);
  header.recipients.RemoveAll();
  header.recipients.AddTail(FaxSenderOrRecipient(toUser, 1, "", "", "", ""));
  return header;
}

RequestResult UserFaxList::ForwardItem(int row, const std::string& user) {
  const FaxListItem& item = Item(row);
  const FaxHeader header = ForwardHeader(item.header, client_.GetUserName(), user);
  const std::string server = DefaultServer();
  return client_.SendFax(server.c_str(), header, item.imagePath);
}

std::string UserFaxList::ChooseUser(const char* title) {
  return model_->ui().ChooseUser(DefaultServer(), title).value_or(std::string());
}

void UserFaxList::Forward() {
  const std::string user = ChooseUser("Forward Faxes");
  if (user.empty()) return;
  model_->RunOnSelectedRows(
      [&user](ListContext& list, int row, int) { return static_cast<UserFaxList&>(list).ForwardItem(row, user); }, 0);
}

bool UserFaxList::HandleCommand(int id) {
  switch (id) {
    case kCmdView:
      if (model_->SelectedCount() == 1) OpenItem(model_->FirstSelected());
      return true;
    case kCmdDelete: OnDeleteItems(); return true;
    case kCmdSend:
      model_->ProcessSelectedRows([](ListContext& list, int row, int p) { return list.SendItem(row, p); }, 0);
      return true;
    case kCmdForward: Forward(); return true;
    case kCmdShowRecipients:
      if (model_->SelectedCount() == 1) model_->ui().ShowRecipients(Item(model_->FirstSelected()).header);
      return true;
    default: return false;
  }
}

bool UserFaxList::UpdateCommand(int id, CommandUi& ui) {
  switch (id) {
    case kCmdView:
    case kCmdShowRecipients: ui.Enable(model_->SelectedCount() == 1); return true;
    case kCmdDelete:
    case kCmdSend:
    case kCmdForward: ui.Enable(model_->SelectedCount() > 0); return true;
    default: return false;
  }
}

// ---- the boxes

ColumnOrder UserOutBox::GetColumnOrder() {
  static const int kOrder[] = {kTo, kSubject, kTime};
  return Order(kOrder);
}

std::string UserOutBox::Folder() const { return GetUserEnvironment().GetOutBoxPath(); }

std::string UserSentFaxes::Folder() const { return GetUserEnvironment().GetSentBoxPath(); }

RequestResult UserSentFaxes::ResendItem(int row) {
  const FaxListItem& item = Item(row);
  const std::string server = DefaultServer();
  return client_.SendFaxFiles(server.c_str(), item.headerPath, item.imagePath);
}

bool UserSentFaxes::HandleCommand(int id) {
  if (id != kCmdResend) return UserOutBox::HandleCommand(id);
  model_->RunOnSelectedRows(
      [](ListContext& list, int row, int) { return static_cast<UserSentFaxes&>(list).ResendItem(row); }, 0);
  return true;
}

bool UserSentFaxes::UpdateCommand(int id, CommandUi& ui) {
  if (id != kCmdResend) return UserOutBox::UpdateCommand(id, ui);
  ui.Enable(model_->SelectedCount() > 0);
  return true;
}

void UserReceivingBox::Fill() {
  const std::string server = DefaultServer();
  const int fetched = DownloadList(server, RequestCode(), nullptr, 0);
  if (fetched > 0) {
    char text[512];
    std::snprintf(text, sizeof text, "%d new fax(es) received from %s", fetched, server.c_str());
    model_->ui().Message(text, "Korvo Manager", desktop::Buttons::Ok, desktop::Icon::Information);
  }
  ListFolder();
}

int UserReceivingBox::AddItemFromText(int, const char* line, int) {
  const QueueListEntry entry(line);
  FetchNames names;
  RequestResult result(kStatusGetFileFromServer);
  if (names.Reserve(Folder())) {
    const std::string server = DefaultServer();
    result = client_.GetFax(server.c_str(), entry.jobId, names.headerFile(), names.imageFile());
  }
  if (result.status != 0) {
    names.Discard();
    ShowText(model_->ui(), result.text);
    return 0;
  }
  return 1;
}

ColumnOrder UserInBox::GetColumnOrder() {
  static const int kOrder[] = {kFrom, kSubject, kTime};
  return Order(kOrder);
}

std::string UserInBox::Folder() const { return GetUserEnvironment().GetInBoxPath(); }

ColumnOrder UserDispatchBox::GetColumnOrder() {
  static const int kOrder[] = {kFrom, kSubject, kTime};
  return Order(kOrder);
}

std::string UserDispatchBox::Folder() const { return GetUserEnvironment().GetDispBoxPath(); }

RequestResult UserDispatchBox::DispatchItem(int row, int) {
  const RequestResult result = ForwardItem(row, chosen_);
  if (result.status != 0) return result;
  return RemovePair(row);
}

bool UserDispatchBox::HandleCommand(int id) {
  if (id != kCmdDispatch) return UserReceivingBox::HandleCommand(id);
  chosen_ = ChooseUser("Dispatch Faxes");
  if (!chosen_.empty())
    model_->ProcessSelectedRows([](ListContext& list, int row, int p) { return list.DispatchItem(row, p); }, 0);
  chosen_.clear();
  return true;
}

bool UserDispatchBox::UpdateCommand(int id, CommandUi& ui) {
  if (id != kCmdDispatch) return UserReceivingBox::UpdateCommand(id, ui);
  ui.Enable(model_->SelectedCount() > 0);
  return true;
}

ColumnOrder UserReturnedFaxes::GetColumnOrder() {
  static const int kOrder[] = {kOrigTo, kSubject, kTime};
  return Order(kOrder);
}

std::string UserReturnedFaxes::Folder() const { return GetUserEnvironment().GetReturnedPath(); }

}  // namespace korvo::manager
