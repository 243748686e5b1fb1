// The port functions: the capture agent (our port monitor) calls them for
// every print job that reaches the fax printer. KvStartDocPort opens a
// capture file in the user's OutBox, KvWritePort fills it, and KvEndDocPort
// ends the spooler's job and hands the captured stream to the Send Fax
// dialog. Exported by libkorvocore.so under these C names.
#pragma once

#include <errno.h>
#include <stddef.h>
#include <stdint.h>

extern "C" {

// The job record of one captured print job; KvStartDocPort allocates it and
// KvEndDocPort frees it.
struct KvPortJob {
  char* captureName;    // OutBox/CPTxxxx.TMP, the captured stream
  char* companionName;  // the same with the extension TMR: the future fax header
  uint32_t total;       // bytes written to (and read from) the capture file
};

// The monitor's record of one open port. The monitor owns it; the port
// functions use the members after the monitor's own word.
struct KvPortRecord {
  uint32_t monitor;   // the monitor's, not touched here
  void* printer;      // the spooler connection: opened by KvStartDocPort, closed by KvEndDocPort
  uint32_t jobId;     // the spooler's job id
  int32_t captureFile;  // the open capture file, or -1 when none is open
  KvPortJob* job;
};

// Non-zero when the capture file is open and the printer opened; else 0 with
// the last error ERROR_PRINT_CANCELLED (the job is to be cancelled) and
// nothing left open or allocated. The level is traced only; the document
// information is not used.
int KvStartDocPort(KvPortRecord* port, const char* printerName, uint32_t jobId, uint32_t level, const void* docInfo);
// Appends to the capture file; with none open the bytes are reported written
// and dropped.
int KvWritePort(KvPortRecord* port, const void* buffer, uint32_t count, uint32_t* written);
// Reads from the capture file; with none open the whole count is reported
// read and the buffer is left as it is.
int KvReadPort(KvPortRecord* port, void* buffer, uint32_t count, uint32_t* read);
// Closes the capture file and, when a whole document with pages was
// captured, runs the Send Fax dialog on it (blocking until it ends); then
// ends the spooler's job so it keeps no copy, and closes the printer.
// The spooler's job is ended only once the user has had the document: its
// dialog ended (sent, kept in the OutBox or cancelled), or the box saying it
// has no pages was shown, or it held no bytes at all. A job whose stream did
// not arrive whole (cancelled or cut off mid-transfer) opens nothing and
// stays the spooler's, and so does one whose dialog could not be shown;
// their capture files go. Always non-zero.
int KvEndDocPort(KvPortRecord* port);

}  // extern "C"

namespace korvo::ports {

// The last error a failed KvStartDocPort leaves: the job is cancelled.
inline constexpr uint32_t kErrorPrintCancelled = ECANCELED;

// Copies the extension behind the last '.' of the NUL-terminated name in
// place (the buffer holds size bytes); false when the name has no '.' or the
// result would not fit.
bool KvChangeNameExtension(char* name, size_t size, const char* extension);

// What a captured page stream holds: whether it begins with "BD" (our
// filter's stream; anything else has no pages), the pages begun after it,
// and whether its "ED" came (the stream arrived whole).
struct StreamShape {
  bool begun = false;
  uint32_t pages = 0;
  bool whole = false;
};
StreamShape ReadStreamShape(const char* path);

}  // namespace korvo::ports
