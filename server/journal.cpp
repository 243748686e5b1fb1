#include "server/journal.h"

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/fields.h"
#include "common/status_codes.h"
#include "common/utf8_cut.h"
#include "platform/durable_file.h"
#include "server/faxserver.h"
#include "server/syslog.h"
#include "server/trace.h"

namespace korvo {

namespace {

// The database hands records at any alignment (after their status byte).
int CompareJobIds(const void* a, const void* b) {
  uint32_t x, y;
  std::memcpy(&x, static_cast<const char*>(a) + offsetof(JournalRecord, jobId), sizeof x);
  std::memcpy(&y, static_cast<const char*>(b) + offsetof(JournalRecord, jobId), sizeof y);
  return x < y ? -1 : x > y ? 1 : 0;
}

// Copies text into a NUL-terminated field, cut to fit (at a character
// boundary, so a cut never leaves half a UTF-8 sequence).
template <size_t N>
void SetText(char (&field)[N], const std::string& text) {
  const size_t n = Utf8CutLength(text, N - 1);
  std::memcpy(field, text.data(), n);
  std::memset(field + n, 0, N - n);
}

template <size_t N>
std::string Text(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

// A text as a list field: the field mark and line ends would split the line
// for the reader, so they become blanks.
template <size_t N>
std::string FieldText(const char (&field)[N]) {
  std::string text = Text(field);
  for (char& c : text)
    if (c == kFieldEnd || c == '\r' || c == '\n') c = ' ';
  return text;
}

std::string ListLine(const JournalRecord& r) {
  const char* transport = r.senderLan && r.recipientLan ? "Tx/Rx (LAN)" : r.direction == 1 ? "Tx (Modem)" : "Rx (Modem)";
  std::vector<std::string> fields = {
      std::to_string(r.imageId),   std::to_string(r.jobId),     FieldText(r.senderName),    FieldText(r.recipientName),
      FieldText(r.subject),             std::to_string(r.submitTime), std::to_string(r.dueTime), std::to_string(r.seconds),
      std::to_string(r.pageCount), std::to_string(r.pages),     std::to_string(r.state),    std::to_string(r.attempts),
      std::to_string(r.priority),  std::to_string(r.returned),  transport};
  std::string line;
  EncodeFields(&line, fields, static_cast<int>(fields.size()));
  return line + "\r\n";
}

}  // namespace

Journal::Journal(const char* path, int* ok)
    : path_(path ? path : ""), db_(path, static_cast<int>(sizeof(JournalRecord)), CompareJobIds) {
  *ok = db_.IsOpen() ? 1 : 0;
  if (!*ok && g_SysLog) g_SysLog->Error("Journal database initialization failed");
}

Status Journal::Add(const JournalRecord& record) {
  platform::MutexLock hold(mutex_, kLockTimeout);
  if (!hold.locked()) return kStatusServerTooBusy;
  if (!db_.Open()) return kStatusDatabaseError;
  int index = db_.Add(&record);
  db_.Close();
  if (index < 0) return kStatusDatabaseError;
  // On the disk before the queue lets go of the job it records.
  return platform::SyncFile(path_) ? kStatusSuccess : kStatusDatabaseError;
}

Status Journal::WriteList(uint32_t requestCode, const char* userName, const char* fileName) {
  platform::MutexLock hold(mutex_, kLockTimeout);
  if (!hold.locked()) return kStatusResourceNotFree;
  std::FILE* file = fileName ? std::fopen(fileName, "wb") : nullptr;
  if (!file) return kStatusInternalError;
  const bool mine = requestCode == kListUser;
  const std::string user = userName ? userName : "";
  // A journal that cannot be read is a failure, not an empty list.
  bool ok = db_.Open();
  if (ok) {
    JournalRecord r;
    for (int i = 0; ok && i < db_.GetCount(); ++i) {
      if (!db_.GetAt(i, &r)) {
        ok = false;
        break;
      }
      if (mine && strcasecmp(Text(r.senderAddress).c_str(), user.c_str()) != 0 &&
          strcasecmp(Text(r.recipientAddress).c_str(), user.c_str()) != 0)
        continue;
      std::string line = ListLine(r);
      ok = std::fwrite(line.data(), 1, line.size(), file) == line.size();
    }
    db_.Close();
  }
  ok = std::fclose(file) == 0 && ok;
  return ok ? kStatusSuccess : kStatusInternalError;
}

Status Journal::Clear() {
  Status result = kStatusSuccess;
  {
    platform::MutexLock hold(mutex_, kLockTimeout);
    if (!hold.locked()) return kStatusServerTooBusy;
    if (db_.Open()) {
      JournalRecord r;
      for (int i = db_.GetCount(); i-- > 0;) {
        if (!db_.GetAt(i, &r) || db_.Delete(&r) < 0) {
          result = kStatusInternalError;
          break;
        }
      }
      db_.Close();
    } else {
      result = kStatusInternalError;
    }
  }
  const char* format = result == kStatusSuccess ? "Cleared '%s'" : "Could not clear '%s'";
  DebugTrace(format, path_.c_str());
  DebugTrace("\n");
  if (g_SysLog) g_SysLog->Info(format, path_.c_str());
  return result;
}

Status Journal::ClearUser(const char* userName) {
  const std::string user = userName ? userName : "";
  platform::MutexLock hold(mutex_, kLockTimeout);
  if (!hold.locked()) return kStatusServerTooBusy;
  if (!db_.Open()) return kStatusInternalError;
  Status result = kStatusSuccess;
  JournalRecord r;
  // From the end, so a deletion does not move the records still to be seen.
  for (int i = db_.GetCount(); i-- > 0;) {
    if (!db_.GetAt(i, &r)) {
      result = kStatusInternalError;
      break;
    }
    if (strcasecmp(Text(r.senderAddress).c_str(), user.c_str()) != 0 &&
        strcasecmp(Text(r.recipientAddress).c_str(), user.c_str()) != 0)
      continue;
    if (db_.Delete(&r) < 0) {
      result = kStatusInternalError;
      break;
    }
  }
  db_.Close();
  return result;
}

bool Journal::HighestIds(uint32_t* jobId, uint32_t* imageId) {
  *jobId = *imageId = 0;
  platform::MutexLock hold(mutex_, kLockTimeout);
  if (!hold.locked() || !db_.Open()) return false;
  bool ok = true;
  JournalRecord r;
  for (int i = 0; i < db_.GetCount(); ++i) {
    if (!db_.GetAt(i, &r)) {
      ok = false;
      break;
    }
    if (r.jobId > *jobId) *jobId = r.jobId;
    if (r.imageId > *imageId) *imageId = r.imageId;
  }
  db_.Close();
  return ok;
}

JournalRecord Journal::BuildRecord(const JournalJobInfo& job, const JournalImageInfo& image) {
  JournalRecord r;
  r.imageId = job.imageId;
  r.jobId = job.jobId;
  SetText(r.senderAddress, image.sender.address);
  r.senderLan = image.sender.lan ? 1 : 0;
  SetText(r.senderName, image.sender.GetDisplayName());
  SetText(r.recipientAddress, job.recipient.address);
  r.recipientLan = job.recipient.lan ? 1 : 0;
  SetText(r.recipientName, job.recipient.GetDisplayName());
  SetText(r.subject, image.subject);
  r.submitTime = job.submitTime;
  r.dueTime = job.dueTime;
  r.seconds = job.seconds;
  r.pageCount = image.pageCount;
  r.pages = job.pages;
  r.state = job.state;
  r.attempts = job.attempts;
  r.priority = job.priority;
  r.direction = job.direction;
  r.returned = job.returned;
  return r;
}

}  // namespace korvo
