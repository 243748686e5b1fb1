// The journal: one record per finished job (completed, expired, downloaded or
// cancelled) in the record database Config/Journal.dbs, in order of job id.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/database.h"
#include "common/fax_header.h"
#include "common/status.h"
#include "platform/sync.h"

namespace korvo {

// The 584-byte record, laid out as stored (little-endian, natural alignment).
// Texts are NUL-terminated, so each holds its width less one characters.
struct JournalRecord {
  uint32_t imageId = 0;
  uint32_t jobId = 0;  // the sort key
  char senderAddress[32] = {};
  uint32_t senderLan = 0;
  char senderName[64] = {};
  char recipientAddress[32] = {};
  uint32_t recipientLan = 0;
  char recipientName[64] = {};
  char subject[80] = {};
  uint32_t submitTime = 0;  // seconds since 1970
  uint32_t dueTime = 0;
  uint32_t seconds = 0;  // of connection
  uint16_t pageCount = 0;  // of the image
  uint16_t pages = 0;  // sent or received
  uint32_t state = 0;  // job state code
  uint32_t attempts = 0;
  uint8_t priority = 0;
  uint32_t direction = 0;  // 1 outgoing, 0 incoming
  uint32_t returned = 0;
  char unused[260] = {};
};
static_assert(sizeof(JournalRecord) == 584);
static_assert(offsetof(JournalRecord, senderLan) == 40 && offsetof(JournalRecord, recipientAddress) == 108 &&
              offsetof(JournalRecord, subject) == 208 && offsetof(JournalRecord, pageCount) == 300 &&
              offsetof(JournalRecord, priority) == 312 && offsetof(JournalRecord, direction) == 316 &&
              offsetof(JournalRecord, unused) == 324);

// What a journal record takes from a finished job and from its image (the
// queue's job and image hold these).
struct JournalJobInfo {
  uint32_t imageId = 0;
  uint32_t jobId = 0;
  FaxSenderOrRecipient recipient;
  uint32_t submitTime = 0;
  uint32_t dueTime = 0;
  uint32_t seconds = 0;
  uint16_t pages = 0;
  uint32_t state = 0;
  uint32_t attempts = 0;
  uint8_t priority = 0;
  uint32_t direction = 0;
  uint32_t returned = 0;
};
struct JournalImageInfo {
  FaxSenderOrRecipient sender;  // the submitting party
  std::string subject;
  uint16_t pageCount = 0;
};

class Journal {
 public:
  static constexpr uint32_t kLockTimeout = 10000;
  static constexpr uint32_t kListAll = 2210;
  static constexpr uint32_t kListUser = 2220;

  // Opens or creates the database; *ok is 0 (with the log line "Journal
  // database initialization failed") when it is not open.
  Journal(const char* path, int* ok);

  // 0; 0xC00013EC when the journal is busy; 0xC000140A when the database
  // refuses the record (a job id already journaled, a file failure).
  Status Add(const JournalRecord& record);
  // The records as queue list lines: every one for 2210, for 2220 those sent
  // by or addressed to the user (case-insensitive). 0; 0xC00013EE when busy;
  // 0xC00001FE when the file cannot be written or the journal cannot be read.
  Status WriteList(uint32_t requestCode, const char* userName, const char* fileName);
  // Deletes every record. 0; 0xC00013EC when busy; 0xC00001FE when a record
  // cannot be deleted.
  Status Clear();
  // Deletes the records sent by or addressed to the user (case-insensitive);
  // the same statuses as Clear.
  Status ClearUser(const char* userName);

  // The highest job id and image id of any record (0 when none); false
  // when the journal cannot be read.
  bool HighestIds(uint32_t* jobId, uint32_t* imageId);

  // The record of a finished job; texts too long for their fields are cut.
  static JournalRecord BuildRecord(const JournalJobInfo& job, const JournalImageInfo& image);

  const std::string& GetPath() const { return path_; }

 private:
  std::string path_;
  Database db_;
  platform::Mutex mutex_;
};

}  // namespace korvo
