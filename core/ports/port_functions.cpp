#include "core/ports/port_functions.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/trace.h"
#include "common/userenvironment.h"
#include "core/ports/spooler.h"
#include "core/sendfax/send_fax_dialog.h"
#include "platform/lasterror.h"
#include "platform/tempfile.h"

using korvo::platform::kMaxPath;
using korvo::platform::SetLastError;
using korvo::platform::SetLastErrorFromErrno;

namespace korvo::ports {

bool KvChangeNameExtension(char* name, size_t size, const char* extension) {
  char* dot = std::strrchr(name, '.');
  if (!dot) return false;
  const size_t at = static_cast<size_t>(dot - name) + 1;
  const size_t length = std::strlen(extension);
  if (at + length >= size) return false;
  std::memcpy(name + at, extension, length + 1);
  return true;
}

namespace {

// A unique empty file with the prefix in the user's OutBox, open for
// writing (0600, made with O_EXCL, never reopened by name).
int CreateOutboxTempFile(char* name, const char* prefix) {
  const std::string& outBox = GetUserEnvironment().GetOutBoxPath();
  if (outBox.empty()) {
    SetLastError(ENOENT);
    return -1;
  }
  std::string made;
  const int fd = platform::CreateTempFile(outBox, prefix, made);
  if (fd < 0) return -1;
  std::memcpy(name, made.c_str(), made.size() + 1);  // the platform keeps names within kMaxPath
  return fd;
}

// Reads n bytes; false at the end of the file.
bool ReadBytes(std::FILE* f, void* into, size_t n) { return std::fread(into, 1, n, f) == n; }

void FreeJob(KvPortJob* job) {
  if (!job) return;
  std::free(job->captureName);
  std::free(job->companionName);
  std::free(job);
}

}  // namespace

StreamShape ReadStreamShape(const char* path) {
  StreamShape shape;
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return shape;
  char word[2];
  while (ReadBytes(f, word, 2)) {
    const std::string w(word, 2);
    if (!shape.begun) {
      if (w != "BD") break;
      shape.begun = true;
    } else if (w == "BP") {
      ++shape.pages;
    } else if (w == "ED") {
      shape.whole = true;
      break;
    } else if (w == "BL") {
      uint8_t length[2];
      if (!ReadBytes(f, length, 2) || std::fseek(f, length[0] | length[1] << 8, SEEK_CUR) != 0) break;
    } else if (w == "CF") {
      uint8_t count;
      if (!ReadBytes(f, &count, 1)) break;
    }
  }
  std::fclose(f);
  return shape;
}

}  // namespace korvo::ports

using namespace korvo::ports;

extern "C" int KvStartDocPort(KvPortRecord* port, const char* printerName, uint32_t jobId, uint32_t level,
                              const void* /*docInfo*/) {
  port->captureFile = -1;
  auto* job = static_cast<KvPortJob*>(std::calloc(1, sizeof(KvPortJob)));
  int fd = -1;
  if (job) {
    job->captureName = static_cast<char*>(std::calloc(kMaxPath, 1));
    job->companionName = static_cast<char*>(std::calloc(kMaxPath, 1));
  }
  if (job && job->captureName && job->companionName) {
    port->job = job;
    const std::string printer = printerName ? printerName : "";
    DebugPrint("KvStartDocPort(%08X), Printer='%s',JobId=%d,Level=%d\n",
               static_cast<unsigned>(reinterpret_cast<uintptr_t>(port)), printer.c_str(), static_cast<int>(jobId),
               static_cast<int>(level));
    fd = CreateOutboxTempFile(job->captureName, "CPT");
    if (fd < 0) {
      DebugPrintLastError("KvGetOutBoxTempName|pName");
    } else {
      std::memcpy(job->companionName, job->captureName, kMaxPath);
      if (!KvChangeNameExtension(job->companionName, kMaxPath, "TMR")) {
        DebugPrint("KvChangeNameExtension: %s failed\n", job->companionName);
      } else {
        port->captureFile = fd;
        port->jobId = jobId;
        if (OpenPrinter(printer, &port->printer)) return 1;
        DebugPrintLastError("OpenPrinter");
      }
    }
  }
  // Nothing stays open or allocated, nor the empty file made for the job;
  // the spooler cancels the job.
  if (fd >= 0) {
    close(fd);
    unlink(job->captureName);
  }
  port->captureFile = -1;
  port->printer = nullptr;
  port->job = nullptr;
  FreeJob(job);
  SetLastError(kErrorPrintCancelled);
  return 0;
}

extern "C" int KvWritePort(KvPortRecord* port, const void* buffer, uint32_t count, uint32_t* written) {
  if (port->captureFile == -1) {
    *written = count;
    DebugPrint("KvWritePort faked\n");
    return 1;
  }
  ssize_t n;
  do n = write(port->captureFile, buffer, count);
  while (n < 0 && errno == EINTR);
  if (n < 0) {
    SetLastErrorFromErrno();
    *written = 0;
  } else {
    *written = static_cast<uint32_t>(n);
  }
  port->job->total += *written;
  DebugPrint("KvWritePort(%08X) written %d of %d, total %d\n",
             static_cast<unsigned>(reinterpret_cast<uintptr_t>(port)), static_cast<int>(*written),
             static_cast<int>(count), static_cast<int>(port->job->total));
  return n >= 0;
}

extern "C" int KvReadPort(KvPortRecord* port, void* buffer, uint32_t count, uint32_t* read) {
  if (port->captureFile == -1) {
    *read = count;
    DebugPrint("KvReadPort faked\n");
    return 1;
  }
  ssize_t n;
  do n = ::read(port->captureFile, buffer, count);
  while (n < 0 && errno == EINTR);
  if (n < 0) {
    SetLastErrorFromErrno();
    *read = 0;
    return 0;
  }
  *read = static_cast<uint32_t>(n);
  port->job->total += *read;
  return 1;
}

extern "C" int KvEndDocPort(KvPortRecord* port) {
  DebugPrint("KvEndDocPort(%08X)\n", static_cast<unsigned>(reinterpret_cast<uintptr_t>(port)));
  if (port->captureFile != -1 && close(port->captureFile) != 0) {
    SetLastErrorFromErrno();
    DebugPrintLastError("CloseHandle");
    port->captureFile = -1;  // not captured: no dialog
  }
  KvPortJob* job = port->job;
  // Whether the user has had the job, so the spooler may drop its copy.
  bool given = true;
  if (port->captureFile != -1 && job && job->total != 0) {
    const StreamShape shape = ReadStreamShape(job->captureName);
    if (shape.begun && !shape.whole) {
      DebugPrint("KvEndDocPort: %s did not arrive whole, no dialog\n", job->captureName);
      given = false;
    } else if (shape.pages == 0) {
      given = korvo::sendfax::ReportNoPages();
    } else {
      given = korvo::sendfax::RunSendFaxDialog(job->captureName, job->companionName) !=
              korvo::sendfax::DialogEnd::kNotShown;
    }
    // What the user did not take stays the spooler's, to be offered again;
    // a document without pages is of no use in the OutBox.
    if (!given || shape.pages == 0) unlink(job->captureName);
  }
  if (given && !SetJob(port->printer, port->jobId, kJobControlCancel)) DebugPrintLastError("SetJob");
  if (!ClosePrinter(port->printer)) DebugPrintLastError("ClosePrinter");
  port->printer = nullptr;
  // The descriptor is closed and its number free for the next file opened:
  // a stray write now must be dropped, not land in that file.
  port->captureFile = -1;
  port->job = nullptr;
  FreeJob(job);
  return 1;
}
