// What the fax engine's tests share: a sandboxed installation with a server
// root, the server log, fast port timing and the log entries written.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/settings.h"
#include "platform/eventlog.h"
#include "server/faxserver.h"
#include "server/modem_port.h"
#include "server/syslog.h"
#include "tests/support/sandbox.h"

namespace korvo::test {

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(sandbox_.path("root/Config"));
    std::filesystem::create_directories(sandbox_.path("root/Temp"));
    ASSERT_EQ(KvSetServerRoot(sandbox_.path("root").c_str()), 1);
    ASSERT_EQ(SetStationIdentifier("KORVO TEST"), 1);
    int ok = 0;
    log_ = std::make_unique<SysLog>("unused.log", 0x80000, &ok);
    ASSERT_EQ(ok, 1);
    g_SysLog = log_.get();
    ModemPortTiming timing;
    timing.serial.readTimeoutMs = 600;
    timing.serial.writeTimeoutMs = 300;
    timing.serial.commandPauseMs = 0;
    timing.serial.dialPauseMs = 0;
    timing.reinitialisePauseMs = 0;
    timing.callWaitingPauseMs = 0;
    ModemPort::SetDefaultTiming(timing);
  }
  void TearDown() override {
    g_SysLog = nullptr;
    log_.reset();
  }

  // The server log's texts, oldest first.
  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    platform::EventLog log;
    if (!log.Open(SysLog::kLogName)) return lines;
    log.ReadNewestFirst([&](const platform::EventRecord& r) {
      if (!r.strings.empty()) lines.push_back(r.strings[0]);
      return true;
    });
    std::reverse(lines.begin(), lines.end());
    return lines;
  }
  bool Logged(const std::string& text) {
    const auto lines = LogLines();
    return std::find(lines.begin(), lines.end(), text) != lines.end();
  }

  Sandbox sandbox_;
  std::unique_ptr<SysLog> log_;
};

}  // namespace korvo::test
