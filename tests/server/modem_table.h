// Server modem tables for tests that run the server against modems.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "common/database.h"
#include "common/modem_record.h"

namespace korvo::test {

// The server's modem table as an administrator would set it up: one enabled
// modem at 14400 bit/s per port, with its usage (0 send only, 1 receive only)
// and the flow control of all (0 hardware, 1 software).
inline void WriteModemTable(const std::filesystem::path& file,
                            const std::vector<std::pair<std::string, int>>& ports, int flowControl = 0) {
  Database db(file.c_str(), sizeof(ModemRecord), CompareModemIds);
  ASSERT_TRUE(db.Open());
  for (const auto& [port, usage] : ports) {
    ModemRecord r;
    r.SetDefaults();
    r.portName.Assign(port);
    r.usage = usage;
    r.enabled = 1;
    r.faxSpeed = 5;  // 14400 bit/s
    r.flowControl = flowControl;
    r.id = static_cast<int32_t>(db.NextSerial());
    ASSERT_GE(db.Add(&r), 0);
  }
  db.Close();
}

}  // namespace korvo::test
