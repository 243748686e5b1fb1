// The server object: builds the server's modules in a fixed order at start-up
// and deletes them in the reverse order at shutdown, and suspends and resumes
// the whole server.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "common/status.h"
#include "platform/file_io.h"
#include "platform/sync.h"

namespace korvo {

class SysLog;
class Journal;
class UserDatabase;
class AddressDatabase;
class JunkSenderDatabase;
class FaxServer;

// The process-wide module pointers: set during start-up, before any thread
// that reads them runs, and null while the module does not exist.
extern FaxServer* g_FaxServer;
extern SysLog* g_SysLog;
extern Journal* g_Journal;
extern UserDatabase* g_UserDatabase;         // registered users
extern AddressDatabase* g_AddressBook;       // the global address book
extern JunkSenderDatabase* g_JunkSenderBook;  // denied senders

inline constexpr char kServerVersionText[] = "1.30";
inline constexpr uint32_t kSysLogMaxSize = 0x80000;
inline constexpr uint32_t kServerLockTimeout = 3000;

// The files and folders under the server root R (registry Server\RootPath).
struct ServerPaths {
  std::string root;
  std::string queueDir;     // R/Queue
  std::string configDir;    // R/Config
  std::string booksDir;     // R/Books
  std::string tempDir;      // R/Temp
  std::string queueList;    // R/Queue/Queue.lst
  std::string logFile;      // R/Config/Korvo.log (not used by the event log)
  std::string regUsers;     // R/Config/RegUsers.dbs
  std::string junkSenders;  // R/Config/Denied.dbs
  std::string journal;      // R/Config/Journal.dbs
  std::string addressBook;  // R/Books/Address.bok
};
// The paths of the running server (empty before start-up).
const ServerPaths& GetServerPaths();

// One module in the start-up order. start builds the module, writing its own
// trace and log lines, and is false when it failed (the module is then not
// kept); stop deletes it, after stopping and joining every thread it runs.
// The optional hooks: shutdownBegins runs for every built module, newest
// first, before any module goes (a module that feeds others stops taking
// work); suspend(true/false) runs on Suspend (newest first) and Resume
// (oldest first).
struct StartupStep {
  const char* deleteTrace;
  bool (*start)(const ServerPaths& paths);
  void (*stop)();
  void (*shutdownBegins)() = nullptr;
  void (*suspend)(bool on) = nullptr;
};

class FaxServer {
 public:
  // Start-up: *ok is 1 when every step succeeded. The steps that succeeded
  // stay built either way; the destructor deletes them.
  explicit FaxServer(int* ok);
  ~FaxServer();
  FaxServer(const FaxServer&) = delete;
  FaxServer& operator=(const FaxServer&) = delete;

  // 0; 0xC00013EE when the server lock is not free in 3000 ms; 0xC0000208 when
  // already suspended.
  Status Suspend();
  // 0; 0xC00013EE when the server lock is not free; 0xC0000212 when running.
  Status Resume();
  // Stops the service: in console mode directly, else through systemd.
  bool StopServer();

  bool IsSuspended() const { return suspended_; }
  const char* GetRootPath() const { return rootPath_.c_str(); }
  // Why start-up failed, when it knows better than the usual guess; empty
  // otherwise.
  const std::string& FailureReason() const { return failureReason_; }

 private:
  std::string rootPath_;
  std::string failureReason_;
  // Held while this server runs: a second server on the same root would
  // overwrite this one's queue list and journal and send its faxes again.
  platform::Handle rootLock_ = platform::kInvalidHandle;
  platform::Mutex lock_;
  std::atomic<bool> suspended_{false};  // read by session threads without the lock
  size_t built_ = 0;  // the leading steps that are built
};

}  // namespace korvo
