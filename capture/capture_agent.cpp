#include "capture/capture_agent.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "capture/agent_link.h"
#include "common/settings.h"
#include "common/trace.h"
#include "platform/lasterror.h"

namespace korvo::capture {

namespace {

bool Send(platform::Handle h, char answer) {
  uint32_t done = 0;
  return platform::WriteHandle(h, true, &answer, 1, &done);
}

// One message, empty when the backend is gone.
std::string Receive(platform::Handle h) {
  std::string message(1 + kDataChunk, '\0');
  uint32_t done = 0;
  bool truncated = false;
  if (!platform::ReadHandle(h, true, message.data(), static_cast<uint32_t>(message.size()), &done, &truncated) ||
      truncated)
    return {};
  message.resize(done);
  return message;
}

}  // namespace

CaptureAgent::~CaptureAgent() {
  listener_.Close();
  if (library_) dlclose(library_);
}

bool CaptureAgent::Start() {
  char name[260] = "";
  if (!KvGetKorvoCoreName(name, sizeof name) || !*name) std::snprintf(name, sizeof name, "libkorvocore.so");
  library_ = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (!library_) {
    problem_ = std::string("cannot load ") + name + ": " + dlerror();
    return false;
  }
  port_.startDoc = reinterpret_cast<decltype(port_.startDoc)>(dlsym(library_, "KvStartDocPort"));
  port_.write = reinterpret_cast<decltype(port_.write)>(dlsym(library_, "KvWritePort"));
  port_.read = reinterpret_cast<decltype(port_.read)>(dlsym(library_, "KvReadPort"));
  port_.endDoc = reinterpret_cast<decltype(port_.endDoc)>(dlsym(library_, "KvEndDocPort"));
  if (!port_.startDoc || !port_.write || !port_.read || !port_.endDoc) {
    problem_ = std::string(name) + " lacks the port functions";
    return false;
  }
  const std::string folder = OwnAgentFolder();
  if (folder.empty()) {
    problem_ = "XDG_RUNTIME_DIR names no runtime folder";
    return false;
  }
  if (platform::MakeFolder(folder.c_str(), 0700) < 0 ||
      platform::CheckOwnFolder(folder.c_str()) != platform::FolderTrust::kOwn) {
    problem_ = folder + " is not a private folder of this user";
    return false;
  }
  if (!listener_.Listen(OwnAgentSocket(), 16, 0600)) {
    problem_ = "cannot listen on " + OwnAgentSocket() + ": " +
               platform::SystemErrorText(platform::GetLastError());
    return false;
  }
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  display_ = (x && *x) || (wayland && *wayland);
  return true;
}

void CaptureAgent::Run(const DialogThread& onDialogThread) {
  for (;;) {
    platform::Handle backend = listener_.Accept();
    if (backend == platform::kInvalidHandle) {
      if (platform::GetLastError() == EINTR || platform::GetLastError() == ECONNABORTED) continue;
      return;  // stopped, or the listener cannot go on
    }
    HandleJob(backend, onDialogThread);
    platform::CloseHandle(backend);
  }
}

void CaptureAgent::Stop() { listener_.Interrupt(); }

void CaptureAgent::HandleJob(platform::Handle backend, const DialogThread& onDialogThread) {
  // Only the backend acting for this user (or root) hands us jobs; the
  // folder is private already, the kernel's word settles it.
  uint32_t peer = 0;
  if (!platform::LocalSocketPeer(backend, &peer, nullptr) || (peer != getuid() && peer != 0)) {
    DebugPrint("Capture agent: a connection from uid %u refused\n", peer);
    return;
  }
  JobAnnouncement job;
  if (!DecodeAnnouncement(Receive(backend), job)) return;
  ++jobs_;
  // A job taken here would have no dialog: it stays with the spooler.
  if (!display_) {
    DebugPrint("Capture agent: job %u not taken, no display\n", job.jobId);
    Send(backend, kNoDisplay);
    return;
  }
  auto record = std::make_shared<KvPortRecord>();
  record->captureFile = -1;
  if (!port_.startDoc(record.get(), job.printer.c_str(), job.jobId, 1, nullptr)) {
    Send(backend, kRefused);
    return;
  }
  Send(backend, kStarted);
  bool whole = false;
  for (;;) {
    const std::string message = Receive(backend);
    if (!message.empty() && message[0] == kDataEnd) whole = true;
    // A backend that went away mid-job (the job was cancelled) ends it here.
    if (message.empty() || message[0] != kData) break;
    uint32_t written = 0;
    port_.write(record.get(), message.data() + 1, static_cast<uint32_t>(message.size() - 1), &written);
  }
  // The backend goes before the dialog opens: the job waits in the spooler,
  // held, and the printer takes the next job meanwhile.
  if (whole) Send(backend, kTaken);
  const PortFunctions port = port_;
  auto end = [port, record] { port.endDoc(record.get()); };
  if (onDialogThread)
    onDialogThread(end);
  else
    end();
}

}  // namespace korvo::capture
