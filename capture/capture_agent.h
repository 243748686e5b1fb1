// The capture agent: the port monitor of the fax printer, run by each user
// in their desktop session. It listens on the user's agent socket, takes the
// jobs the backend kvf hands it at once, in the order they come, and drives
// the port functions of libkorvocore.so for each, so the Send Fax dialog
// opens on this user's desktop. Each job has a port record of its own: its
// stream is captured while an earlier job's dialog is still open, and its
// dialog waits for its turn behind that one. An agent without a display
// takes no job.
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
  // Whether a display is there (DISPLAY or WAYLAND_DISPLAY) is settled here.
  bool Start();
  // Hands a task to the thread that shows the dialogs (the toolkit's, the
  // program's main thread) and returns at once.
  using DialogThread = std::function<void(std::function<void()>)>;

  // Takes jobs until Stop (or until the listener fails). Each job's end,
  // where the Send Fax dialog runs, goes to `onDialogThread`, which runs
  // them one after the other in order; the next job is taken at once.
  // Without a dialog thread the end runs on the calling thread.
  void Run(const DialogThread& onDialogThread = {});
  // Safe from any thread: makes Run return after the job in hand.
  void Stop();
  // Handles one connection from the backend to its end.
  void HandleJob(platform::Handle backend, const DialogThread& onDialogThread = {});

  const std::string& Problem() const { return problem_; }
  const std::string& SocketPath() const { return listener_.path(); }
  uint32_t JobsHandled() const { return jobs_; }
  bool HasDisplay() const { return display_; }

 private:
  void* library_ = nullptr;
  PortFunctions port_;
  platform::LocalListener listener_;
  std::string problem_;
  uint32_t jobs_ = 0;
  bool display_ = false;
};

}  // namespace korvo::capture
