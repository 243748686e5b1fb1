// "SendFaxToLast", the user's last Send Fax options: nine record fields
// (document title, subject, server, high priority, keep sent fax, preview,
// use global address book, safer dialing, send cover page; flags "1"/"0").
#pragma once

#include <cstddef>
#include <string>

#include "core/sendfax/send_fax_job.h"

namespace korvo::sendfax {

// The value's buffer, its NUL included.
inline constexpr size_t kLastSettingsSize = 512;

// The record of the job's options, at most kLastSettingsSize - 1 characters.
std::string EncodeLastSettings(const SendFaxJob& job);
// Takes the options a record holds into the job: the server and the flags
// but safer dialing, which is always cleared; title and subject are emptied.
void DecodeLastSettings(const std::string& text, SendFaxJob& job);

// Through the user hive. Load: false when there is no value.
bool LoadLastSettings(SendFaxJob& job);
bool SaveLastSettings(const SendFaxJob& job);

}  // namespace korvo::sendfax
