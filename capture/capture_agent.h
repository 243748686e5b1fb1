// The capture agent: the port monitor of the fax printer, run by each user
// in their desktop session. It listens on the user's agent socket, takes the
// jobs the backend kvf hands it one at a time, in the order they come, and
// drives the port functions of libkorvocore.so for each, so the Send Fax
// dialog opens on this user's desktop. It owns the one port record.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/ports/port_functions.h"
#include "platform/file_io.h"
#include "platform/local_socket.h"

namespace korvo::capture {

// The four port functions, looked up by name in libkorvocore.so.
struct PortFunctions {
  decltype(&KvStartDocPort) startDoc = nullptr;
  decltype(&KvWritePort) write = nullptr;
  decltype(&KvReadPort) read = nullptr;
  decltype(&KvEndDocPort) endDoc = nullptr;
};

class CaptureAgent {
 public:
  CaptureAgent() = default;
  ~CaptureAgent();
  CaptureAgent(const CaptureAgent&) = delete;
  CaptureAgent& operator=(const CaptureAgent&) = delete;

  // Loads libkorvocore.so (the registry value "KorvoCore", else the
  // library's own name on the loader's path), makes the private folder
  // (0700) and listens on the socket (0600). False with Problem() saying why.
  bool Start();
  // Hands a task to the thread that shows the dialogs (the toolkit's, the
  // program's main thread) and returns at once.
  using DialogThread = std::function<void(std::function<void()>)>;

  // Takes jobs until Stop (or until the listener fails). Each job's end,
  // where the Send Fax dialog runs, goes to `onDialogThread`, and the next
  // job is taken only once it has run: the connections wait meanwhile, so
  // one user's jobs stay one at a time and in order. Without a dialog
  // thread the end runs on the calling thread.
  void Run(const DialogThread& onDialogThread = {});
  // Safe from any thread: makes Run return after the job in hand.
  void Stop();
  // Handles one connection from the backend to its end.
  void HandleJob(platform::Handle backend, const DialogThread& onDialogThread = {});

  const std::string& Problem() const { return problem_; }
  const std::string& SocketPath() const { return listener_.path(); }
  uint32_t JobsHandled() const { return jobs_; }

 private:
  void* library_ = nullptr;
  PortFunctions port_;
  KvPortRecord record_{};
  platform::LocalListener listener_;
  std::string problem_;
  uint32_t jobs_ = 0;
};

}  // namespace korvo::capture
