// The user's own fax boxes: the fax pairs (image ".fax", header ".kvf") in
// the folders of the data path. The receiving boxes first fetch the user's
// new faxes from the default server into their folder. Every request goes to
// the user's default server.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/fax_header.h"
#include "manager/list_context.h"

namespace korvo::manager {

// One row: the header loaded from the ".kvf" file and its image's path.
struct FaxListItem {
  FaxHeader header;
  std::string headerPath;
  std::string imagePath;
};

// "" without a recipient, the one's display name, "<first, last>" for two,
// "<first, .. last>" for more.
std::string RecipientsText(const RecipientList& recipients);
// The Fax Recipients dialog's lines: each recipient's display name in
// header order.
std::vector<std::string> RecipientLines(const FaxHeader& header);
int CompareFaxItems(ItemValue a, ItemValue b, uint32_t sortParameter);

// The pairs of a folder that list: a header of version 3 beside its image,
// in the folder's order.
std::vector<FaxListItem> EnumerateFaxPairs(const std::string& folder);

// The header a fax is forwarded or dispatched with: sent by the forwarding
// user (the server takes no other sender from a user who may not act for
// others), with the original sender's name (its address when it had none: a
// received fax's station), company and numbers kept in the other sender
// fields, so the recipient still sees who sent it; one LAN recipient, the
// chosen user.
FaxHeader ForwardHeader(const FaxHeader& received, const std::string& forwardingUser, const std::string& toUser);

// The viewer's command line for an image: the program named by "KorvoLens",
// "/First_Page_Only" when only the first page is shown, the image path.
std::vector<std::string> ViewerCommand(const std::string& viewer, const std::string& imagePath, bool allPages);

class UserFaxList : public ListContext {
 public:
  enum Command : int {
    kCmdView = 32775,
    kCmdDelete = 32776,
    kCmdSend = 32778,
    kCmdResend = 32864,
    kCmdForward = 32872,
    kCmdShowRecipients = 32870,
    kCmdDispatch = 32793,
  };
  enum TableColumn : int { kFrom, kTo, kOrigTo, kSubject, kTime };

  void Fill() override;
  void OpenItem(int row) override;
  std::string GetItemText(int row, ItemValue item, int tableColumn) override;
  CompareFunction GetCompareFunction() override { return &CompareFaxItems; }
  int GetDefaultSortColumn() override { return kTime; }
  void DeleteItemData(ItemValue item) override;
  void OnDeleteItems() override;
  void OnUpdateDeleteItems(CommandUi& ui) override;
  RequestResult SendItem(int row, int parameter) override;
  RequestResult DeleteItemOnServer(int row, int parameter) override;
  ColumnTable GetColumnTable() override;
  bool HandleCommand(int id) override;
  bool UpdateCommand(int id, CommandUi& ui) override;

  virtual bool ShowsAllPages() const { return true; }
  // The folder of the box, from the user's environment.
  virtual std::string Folder() const = 0;
  // Forward's header to the chosen user, sent with the row's image.
  RequestResult ForwardItem(int row, const std::string& user);

  const FaxListItem& Item(int row) const;
  // The pid of the viewer the last View started, -1 when none started.
  pid_t lastViewer() const { return lastViewer_; }

 protected:
  static std::string DefaultServer();
  void ListFolder();
  // Both files of the row gone; a file that is there but stays is reported
  // with the system's text.
  RequestResult RemovePair(int row);
  // The Dispatch Faxes dialog under a title; empty on Cancel.
  std::string ChooseUser(const char* title);
  void Forward();

 private:
  pid_t lastViewer_ = -1;
};

class UserOutBox : public UserFaxList {
 public:
  int GetMenuIndex() override { return 1; }
  ColumnOrder GetColumnOrder() override;
  std::string Folder() const override;
};

class UserSentFaxes : public UserOutBox {
 public:
  int GetMenuIndex() override { return 2; }
  std::string Folder() const override;
  bool HandleCommand(int id) override;
  bool UpdateCommand(int id, CommandUi& ui) override;
  RequestResult ResendItem(int row);
};

// A box the server fills: its refresh fetches the new faxes of the list
// request into the folder, then lists the folder.
class UserReceivingBox : public UserFaxList {
 public:
  void Fill() override;
  // One queue list line: the fax fetched into the folder under a name whose
  // ".TMP", ".fax" and ".kvf" were all free; 1 when it came.
  int AddItemFromText(int rowIndex, const char* line, int parameter) override;
  virtual uint32_t RequestCode() const = 0;
};

class UserInBox : public UserReceivingBox {
 public:
  int GetMenuIndex() override { return 0; }
  ColumnOrder GetColumnOrder() override;
  std::string Folder() const override;
  uint32_t RequestCode() const override { return 5026; }
};

class UserDispatchBox : public UserReceivingBox {
 public:
  int GetMenuIndex() override { return 3; }
  ColumnOrder GetColumnOrder() override;
  std::string Folder() const override;
  uint32_t RequestCode() const override { return 5010; }
  bool ShowsAllPages() const override { return false; }
  RequestResult DispatchItem(int row, int parameter) override;
  bool HandleCommand(int id) override;
  bool UpdateCommand(int id, CommandUi& ui) override;

 private:
  std::string chosen_;
};

class UserReturnedFaxes : public UserReceivingBox {
 public:
  int GetMenuIndex() override { return 1; }
  ColumnOrder GetColumnOrder() override;
  std::string Folder() const override;
  uint32_t RequestCode() const override { return 5030; }
};

}  // namespace korvo::manager
