// The server's queues and journals as lists: one queue list line (15 fields)
// per row. The queues delete jobs (a job being sent is marked "User
// canceled" and stays); the journals sum the usage time, and the global one
// can be cleared.
#pragma once

#include <cstdint>
#include <string>

#include "manager/list_context.h"

namespace korvo::manager {

struct QueueListEntry {
  QueueListEntry() = default;
  // From a queue list line: 15 fields, numbers in decimal.
  explicit QueueListEntry(const std::string& line);

  int32_t imageId = 0;
  int32_t jobId = 0;
  std::string sender;
  std::string recipient;
  std::string subject;
  int32_t submitTime = 0;
  int32_t dueTime = 0;
  int32_t seconds = 0;
  int32_t totalPages = 0;
  int32_t sentPages = 0;
  int32_t state = 0;
  int32_t attempts = 0;
  int32_t priority = 0;
  std::string transport;
  int32_t returned = 0;
};

// The column texts of an entry, by table index.
std::string QueueColumnText(const QueueListEntry& entry, int tableColumn);
// "Urgent" below 86, "Low" from 171, else "Normal".
const char* PriorityName(int32_t priority);
int CompareQueueEntries(ItemValue a, ItemValue b, uint32_t sortParameter);

class ServerFaxList : public ListContext {
 public:
  static constexpr int kCmdDelete = 32782;
  static constexpr int kCmdTotalUsageTime = 32865;
  static constexpr int kCmdClearJournal = 32857;

  void Fill() override;
  std::string GetItemText(int row, ItemValue item, int tableColumn) override;
  CompareFunction GetCompareFunction() override { return &CompareQueueEntries; }
  int GetDefaultSortColumn() override { return 4; }
  int GetMenuIndex() override { return 4; }
  void DeleteItemData(ItemValue item) override;
  ColumnTable GetColumnTable() override;
  int AddItemFromText(int rowIndex, const char* line, int parameter) override;
  void OnDeleteItems() override;
  void OnUpdateDeleteItems(CommandUi& ui) override;
  RequestResult DeleteItemOnServer(int row, int parameter) override;
  bool HandleCommand(int id) override;
  bool UpdateCommand(int id, CommandUi& ui) override;

  virtual uint32_t RequestCode() const = 0;
  virtual bool IsGlobalList() const { return true; }
  const QueueListEntry& Entry(int row) const;

 protected:
  virtual bool IsJournal() const { return false; }
  void ShowTotalUsageTime();
};

class ServerGlobalRxQueue : public ServerFaxList {
 public:
  uint32_t RequestCode() const override { return 5000; }
  ColumnOrder GetColumnOrder() override;
};

class ServerPersonalRxQueue : public ServerFaxList {
 public:
  uint32_t RequestCode() const override { return 5020; }
  bool IsGlobalList() const override { return false; }
  ColumnOrder GetColumnOrder() override;
};

class ServerGlobalTxQueue : public ServerFaxList {
 public:
  uint32_t RequestCode() const override { return 6000; }
  ColumnOrder GetColumnOrder() override;
};

class ServerPersonalTxQueue : public ServerFaxList {
 public:
  uint32_t RequestCode() const override { return 6020; }
  bool IsGlobalList() const override { return false; }
  ColumnOrder GetColumnOrder() override;
};

class ServerJournal : public ServerFaxList {
 protected:
  bool IsJournal() const override { return true; }
};

class ServerGlobalJournal : public ServerJournal {
 public:
  uint32_t RequestCode() const override { return 2210; }
  int GetMenuIndex() override { return 10; }
  bool HandleCommand(int id) override;
  bool UpdateCommand(int id, CommandUi& ui) override;
  void ClearJournal();
};

class ServerPersonalJournal : public ServerJournal {
 public:
  uint32_t RequestCode() const override { return 2220; }
  int GetMenuIndex() override { return 11; }
};

extern const ListClass kServerGlobalRxQueueClass;
extern const ListClass kServerPersonalRxQueueClass;
extern const ListClass kServerGlobalTxQueueClass;
extern const ListClass kServerPersonalTxQueueClass;
extern const ListClass kServerGlobalJournalClass;
extern const ListClass kServerPersonalJournalClass;

}  // namespace korvo::manager
