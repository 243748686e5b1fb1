#include "server/handlers.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "common/book_records.h"
#include "common/connection_settings.h"
#include "common/dial_string.h"
#include "common/fax_header.h"
#include "common/fields.h"
#include "common/settings.h"
#include "common/status_codes.h"
#include "common/tiff_reader.h"
#include "common/user_record.h"
#include "platform/file_io.h"
#include "platform/tempfile.h"
#include "server/client_limits.h"
#include "server/faxserver.h"
#include "server/ipcserver.h"
#include "server/journal.h"
#include "server/modem_subsystem.h"
#include "server/queue.h"
#include "server/syslog.h"
#include "server/trace.h"

namespace korvo {

namespace {

// A temporary file of the server's temporary folder, deleted when the
// handler returns unless it was kept.
class TempFile {
 public:
  explicit TempFile(const char* prefix) {
    if (platform::GetTempFileName(GetServerPaths().tempDir + "/", prefix, 0, name_) == 0) name_.clear();
  }
  ~TempFile() { Drop(); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  bool ok() const { return !name_.empty(); }
  const char* name() const { return name_.c_str(); }
  // The file outlives the handler (it entered the queue).
  void Keep() { name_.clear(); }
  // Deletes the file now, before a reply that ends the request.
  void Drop() {
    if (!name_.empty()) platform::DeleteFileByName(name_.c_str());
    name_.clear();
  }

 private:
  std::string name_;
};

std::string Payload(Session& s) { return std::string(s.PayloadText()); }

// A failure is logged before its reply: the reply throws when the client has
// gone, and the administrator still learns of the failure.

// ---- Lists

using ListSource = Status (*)(Session& s, const char* file);

Status ListHandler(Session& s, ListSource source) {
  TempFile list("FTR");
  if (!list.ok() || source(s, list.name()) != 0) {
    s.LogFailure();
    s.ReplyError(kStatusCreateList);
    return 0;
  }
  s.ReplyOk();
  if (s.SendFile(list.name()) != 0) s.LogFailure();
  return 0;
}

Status EventLogSource(Session&, const char* file) { return g_SysLog ? g_SysLog->DumpToFile(file) : kStatusCreateList; }
Status JournalSource(Session& s, const char* file) {
  return g_Journal ? g_Journal->WriteList(s.request().code, s.userName().c_str(), file) : kStatusCreateList;
}
Status AddressSource(Session& s, const char* file) {
  return g_AddressBook ? g_AddressBook->WriteList(Payload(s).c_str(), file) : kStatusCreateList;
}
Status UserSource(Session& s, const char* file) {
  return g_UserDatabase ? g_UserDatabase->WriteList(Payload(s).c_str(), file) : kStatusCreateList;
}
Status JunkSource(Session& s, const char* file) {
  return g_JunkSenderBook ? g_JunkSenderBook->WriteList(Payload(s).c_str(), file) : kStatusCreateList;
}
Status QueueSource(Session& s, const char* file) {
  return g_Queue ? g_Queue->WriteList(s.request().code, s.userName().c_str(), file) : kStatusCreateList;
}
Status ModemSource(Session&, const char* file) {
  return g_ModemSubsystem ? g_ModemSubsystem->WriteModemList(file) : kStatusCreateList;
}

template <ListSource source>
Status List(Session& s) {
  return ListHandler(s, source);
}

// ---- Status requests: no failure line, every status they return is an
// error or informational code of its own.

Status Answer(Session& s, Status status) {
  if (status == 0)
    s.ReplyOk();
  else
    s.ReplyError(status);
  return 0;
}

Status DebugMessage(Session& s) {
  DebugTrace("DEBUG: %s\n", Payload(s).c_str());
  return Answer(s, 0);
}
Status Ping(Session& s) { return Answer(s, 0); }
Status ClearEventLog(Session& s) { return Answer(s, g_SysLog ? g_SysLog->Clear() : kStatusInternalError); }
Status ClearJournal(Session& s) { return Answer(s, g_Journal ? g_Journal->Clear() : kStatusInternalError); }
Status ClearUserJournal(Session& s) {
  return Answer(s, g_Journal ? g_Journal->ClearUser(s.userName().c_str()) : kStatusInternalError);
}
Status Suspend(Session& s) { return Answer(s, g_FaxServer ? g_FaxServer->Suspend() : kStatusInternalError); }
Status Resume(Session& s) { return Answer(s, g_FaxServer ? g_FaxServer->Resume() : kStatusInternalError); }
Status DeleteJob(Session& s) {
  return Answer(s, g_Queue ? g_Queue->DeleteJob(Payload(s).c_str()) : kStatusInternalError);
}
// 4030: only a job of the user's own lists, unless an administrator asks.
Status DeleteOwnJob(Session& s) {
  if (!g_Queue) return Answer(s, kStatusInternalError);
  uint32_t jobId = 0;
  if (!Queue::ParseJobId(s.PayloadText(), &jobId)) return Answer(s, kStatusRequestAlreadyDeleted);
  // An unknown id and a busy queue are answered as the deletion answers them.
  const Status access = g_Queue->CheckJobAccess(jobId, s.request().code, s.userName().c_str(), s.rights());
  if (access == kStatusNoPermission) s.LogFailure();
  if (access != 0) return Answer(s, access);
  return DeleteJob(s);
}
Status DeleteModem(Session& s) {
  return Answer(s, g_ModemSubsystem ? g_ModemSubsystem->DeleteModem(Payload(s).c_str()) : kStatusInternalError);
}

// ---- Record changes: success or failure, a failure logged.

Status Changed(Session& s, bool done) {
  if (done) {
    s.ReplyOk();
  } else {
    s.LogFailure();
    s.ReplyErrorTag();
  }
  return 0;
}

void RebuildDeniedList() {
  if (g_ModemSubsystem) g_ModemSubsystem->UpdateDeniedList();
}

Status DeleteAddress(Session& s) { return Changed(s, g_AddressBook && g_AddressBook->Remove(s.PayloadText())); }
Status EditAddress(Session& s) { return Changed(s, g_AddressBook && g_AddressBook->Edit(s.PayloadText())); }
Status AddUser(Session& s) { return Changed(s, g_UserDatabase && g_UserDatabase->AddUser(s.PayloadText())); }
Status DeleteUser(Session& s) { return Changed(s, g_UserDatabase && g_UserDatabase->DeleteUser(s.PayloadText())); }
Status EditUser(Session& s) { return Changed(s, g_UserDatabase && g_UserDatabase->EditUser(s.PayloadText())); }
Status DeleteJunkSender(Session& s) {
  const bool done = g_JunkSenderBook && g_JunkSenderBook->Remove(s.PayloadText());
  RebuildDeniedList();
  return Changed(s, done);
}
Status EditJunkSender(Session& s) {
  const bool done = g_JunkSenderBook && g_JunkSenderBook->Edit(s.PayloadText());
  RebuildDeniedList();
  return Changed(s, done);
}

// ---- Record adds: the new id on success, else the status.

Status Added(Session& s, Status status, int32_t id) {
  if (status != 0) {
    s.ReplyError(status);
    return 0;
  }
  s.ReplyOk(std::to_string(id).c_str());
  return 0;
}

Status AddAddress(Session& s) {
  int32_t id = 0;
  const Status status = g_AddressBook ? g_AddressBook->Add(s.PayloadText(), &id) : kStatusInternalError;
  return Added(s, status, id);
}
Status AddJunkSender(Session& s) {
  int32_t id = 0;
  const Status status = g_JunkSenderBook ? g_JunkSenderBook->Add(s.PayloadText(), &id) : kStatusInternalError;
  RebuildDeniedList();
  return Added(s, status, id);
}
Status AddModem(Session& s) {
  int32_t id = 0;
  const Status status = g_ModemSubsystem ? g_ModemSubsystem->AddModem(Payload(s).c_str(), &id) : kStatusInternalError;
  return Added(s, status, id);
}

Status EditModem(Session& s) {
  return Answer(s, g_ModemSubsystem ? g_ModemSubsystem->EditModem(Payload(s).c_str()) : kStatusInternalError);
}

Status GetUser(Session& s) {
  UserRecord user;
  const Status status = g_UserDatabase ? g_UserDatabase->GetUser(s.PayloadText(), &user) : kStatusInternalError;
  if (status != 0) {
    s.ReplyError(status);
    return 0;
  }
  s.ReplyOk(user.Encode().c_str());
  return 0;
}

// ---- Server parameters

Status GetParameters(Session& s) {
  ConnectionSettings settings;
  settings.LoadDefaults();
  s.ReplyOk(settings.Encode().c_str());
  return 0;
}

Status SetParameters(Session& s) {
  ConnectionSettings settings;
  settings.Decode(s.PayloadText());
  // Stored as given; the bounds apply when they are read.
  const bool written = SetStationIdentifierString(settings.stationId) &&
                       SetRetryTimeout(static_cast<uint32_t>(settings.retryInterval)) &&
                       SetRetryAttempts(static_cast<uint32_t>(settings.retryAttempts));
  return Answer(s, written ? 0 : kStatusCreateList);
}

// ---- Server state

Status IsSuspended(Session& s) {
  s.ReplyOk(g_FaxServer && g_FaxServer->IsSuspended() ? "Y" : "N");
  return 0;
}

Status ShutDown(Session& s) {
  try {
    s.ReplyOk();
  } catch (const ClientServerExchangeException& e) {
    if (g_SysLog) g_SysLog->Error("[%s] %s", s.userName().c_str(), GetStatusText(e.status).c_str());
  }
  if (g_FaxServer) g_FaxServer->StopServer();
  return 0;
}

Status ShutDownGracefully(Session& s) {
  // Only the requesting session may be connected, and no modem may be busy.
  if (IpcServer::SessionCount() != 1 || FaxSessionCounter::Count() != 0) {
    s.ReplyError(kStatusShutdownConnectionsActive);
    return 0;
  }
  s.ReplyOk();
  if (g_FaxServer) g_FaxServer->StopServer();
  return 0;
}

// ---- Faxes

// 0 for a fax the session may queue, else the status that refuses it.
Status SubmissionRefusal(Session& s, const FaxHeader& header) {
  // The sender is the session's own user, unless it may act for others:
  // the fax lists in the sender's boxes and carries the sender's name.
  if (header.sender.address != s.userName() && !s.mayActForOthers()) {
    s.LogFailureLine("[" + s.userName() + "] Not allowed to send a fax from '" + header.sender.address + "'");
    return kStatusNoPermission;
  }
  // Every number goes into a dial command: one that holds anything a modem
  // takes for more than a dial string is never queued.
  for (const auto& recipient : header.recipients)
    if (!recipient.lan && !IsDialableNumber(recipient.address)) return kStatusUndialableNumber;
  return 0;
}

// Each recipient once, in the order first named: a user named twice would
// get every page twice into the In Box, a number would be dialled twice.
// Users are the same in any letter case, as their boxes are.
RecipientList DistinctRecipients(const RecipientList& recipients) {
  RecipientList distinct;
  for (const auto& r : recipients) {
    const bool named = std::any_of(distinct.begin(), distinct.end(), [&](const FaxSenderOrRecipient& d) {
      if ((d.lan != 0) != (r.lan != 0)) return false;
      return r.lan ? strcasecmp(d.address.c_str(), r.address.c_str()) == 0 : d.address == r.address;
    });
    if (!named) distinct.AddTail(r);
  }
  return distinct;
}

Status SendFax(Session& s) {
  // A session that began while the server was suspended sends nothing, even
  // after a resume.
  if (s.suspended()) {
    s.LogFailure();
    s.ReplyError(kStatusServerSuspended);
    return 0;
  }
  s.ReplyOk();
  TempFile headerFile("HDR");
  TempFile image("FAX");
  if (!headerFile.ok() || !image.ok()) {
    s.LogFailure();
    return 0;
  }
  if (Status broken = s.ReceiveFiles(headerFile.name(), ClientLimits::kMaxHeaderFileSize, image.name(),
                                     ClientLimits::Current().maxFaxSize)) {
    // The rest of the client's files is still on the way: the session ends.
    s.LogFailure();
    return broken;
  }
  // Once the client has its answer, no file of the submission is left but
  // the queued image.
  FaxHeader header;
  const bool loaded = header.LoadFromFile(headerFile.name());
  headerFile.Drop();
  if (!loaded) {
    s.LogFailure();
    image.Drop();
    s.ReplyError(kStatusInternalError);
    return 0;
  }
  std::string beyond;
  if (Status refused = ClientLimits::CheckHeader(header, &beyond)) {
    s.LogFailureLine("[" + s.userName() + "] Fax header refused: " + beyond);
    s.LogFailure();
    image.Drop();
    s.ReplyError(refused);
    return 0;
  }
  if (Status refused = SubmissionRefusal(s, header)) {
    s.LogFailure();
    image.Drop();
    s.ReplyError(refused);
    return 0;
  }
  // The sender of a submission is a login on the LAN, whatever the client
  // says: its LAN deliveries show that login to their recipients.
  header.sender.lan = 1;
  header.recipients = DistinctRecipients(header.recipients);
  // A send time already past is due now.
  const auto now = static_cast<int32_t>(std::time(nullptr));
  if (header.sendTime.time < now) header.sendTime.time = now;
  Status why = kStatusInternalError;
  std::string refusal;
  if (!g_Queue || !g_Queue->InsertFax(image.name(), header, Queue::kKindSubmitted, 0, 10, &why, &refusal)) {
    if (!refusal.empty()) s.LogFailureLine("[" + s.userName() + "] Fax refused: " + refusal);
    s.LogFailure();
    image.Drop();
    if (refusal.empty()) {
      s.ReplyError(why);
    } else {
      // The status's own text, then why.
      std::string text = GetStatusText(why);
      if (!text.empty() && text.back() == '.') text.pop_back();
      s.ReplyError(why, text + ": " + refusal);
    }
    return 0;
  }
  image.Keep();
  s.ReplyOk();
  return 0;
}

Status GetFax(Session& s) {
  TempFile headerFile("HDR");
  TempFile merged("FAX");
  if (!g_Queue) {
    s.LogFailure();
    s.ReplyErrorTag();
    return 0;
  }
  uint32_t jobId = 0;
  // Only the user's own faxes are served (the download removes the job); an
  // unknown id and a busy queue get the error tag, as a failed check-out.
  const Status access = Queue::ParseJobId(s.PayloadText(), &jobId)
                            ? g_Queue->CheckJobAccess(jobId, s.request().code, s.userName().c_str(), s.rights())
                            : kStatusRequestAlreadyDeleted;
  if (access != 0) {
    s.LogFailure();
    if (access == kStatusNoPermission)
      s.ReplyError(access);
    else
      s.ReplyErrorTag();
    return 0;
  }
  FaxHeader header;
  std::string imagePath;
  std::string coverPath;
  QueueJobLock lock(*g_Queue, jobId, &header, &imagePath, &coverPath);
  std::string faxPath = imagePath;
  // The recipient's own cover page stands in for the image's first page.
  if (lock.IsLocked() && !coverPath.empty() && merged.ok() &&
      MergeFaxImages(coverPath, imagePath, merged.name()) == 0)
    faxPath = merged.name();
  if (!lock.IsLocked() || !headerFile.ok() || !header.SaveToFile(headerFile.name())) {
    s.LogFailure();
    s.ReplyErrorTag();
    return 0;
  }
  s.ReplyOk();
  ReceivedMessage answer;
  if (s.SendFiles(headerFile.name(), faxPath.c_str()) != 0 || s.ReceiveMessage(&answer) != 0 ||
      answer.tag != kTagOk) {
    // The lock gives the job back for another download.
    s.LogFailure();
    return 0;
  }
  lock.Downloaded();
  g_Queue->SetJobResult(jobId, 0, 0, 0, 0);
  return 0;
}

}  // namespace

void InstallRequestHandlers() {
  struct Slot {
    uint32_t code;
    RequestHandler handler;
  };
  static const Slot kSlots[] = {
      {88, DebugMessage},
      {90, Ping},
      {2120, GetParameters},
      {2130, SetParameters},
      {2200, List<EventLogSource>},
      {2202, ClearEventLog},
      {2210, List<JournalSource>},
      {2212, ClearJournal},
      {2220, List<JournalSource>},
      {2222, ClearUserJournal},
      {3000, ShutDown},
      {3010, ShutDownGracefully},
      {3020, Suspend},
      {3030, Resume},
      {3040, IsSuspended},
      {4000, SendFax},
      {4010, GetFax},
      {4020, DeleteJob},
      {4030, DeleteOwnJob},
      {5000, List<QueueSource>},
      {5010, List<QueueSource>},
      {5020, List<QueueSource>},
      {5026, List<QueueSource>},
      {5030, List<QueueSource>},
      {6000, List<QueueSource>},
      {6020, List<QueueSource>},
      {7000, List<AddressSource>},
      {7010, AddAddress},
      {7020, DeleteAddress},
      {7030, EditAddress},
      {7500, List<UserSource>},
      {7510, AddUser},
      {7520, DeleteUser},
      {7530, EditUser},
      {7540, GetUser},
      {7800, List<JunkSource>},
      {7810, AddJunkSender},
      {7820, DeleteJunkSender},
      {7830, EditJunkSender},
      {8000, List<ModemSource>},
      {8020, AddModem},
      {8030, EditModem},
      {8040, DeleteModem},
  };
  for (const Slot& slot : kSlots) IpcServer::SetHandler(slot.code, slot.handler);
}

}  // namespace korvo
