// libkorvocore.so exports the settings API under its C names.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "tests/support/sandbox.h"

namespace {

using korvo::test::Sandbox;

class CoreExports : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen(KORVO_CORE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
  }
  void TearDown() override {
    if (handle_) dlclose(handle_);
  }
  template <typename F>
  F Symbol(const char* name) {
    return reinterpret_cast<F>(dlsym(handle_, name));
  }

  Sandbox box_;
  void* handle_ = nullptr;
};

TEST_F(CoreExports, EverySettingsExportHasItsCName) {
  const char* names[] = {
      "KvWriteRegStr", "KvWriteRegUserStr", "KvWriteRegDword", "KvWriteRegUserDword", "KvWriteRegBinary",
      "KvWriteRegUserBinary", "KvReadRegStr", "KvReadRegUserStr", "KvReadRegDword", "KvReadRegUserDword",
      "KvReadRegBinary", "KvReadRegUserBinary", "KvGetRegProductKey", "KvGetDataPath", "KvSetDataPath",
      "KvGetInBoxPath", "KvSetInBoxPath", "KvGetOutBoxPath", "KvSetOutBoxPath", "KvGetLocAddrBookName",
      "KvSetLocAddrBookName", "KvGetDefaultServer", "KvSetDefaultServer", "KvGetSendFaxToLast", "KvSetSendFaxToLast",
      "KvGetSendFaxTitleLast", "KvSetSendFaxTitleLast", "KvGetKorvoCoreName", "KvSetKorvoCoreName",
      "KvGetKorvoLensName", "KvSetKorvoLensName", "KvGetKorvoDeskName", "KvSetKorvoDeskName", "KvGetKorvoInstallPath",
      "KvSetKorvoInstallPath", "KvGetKorvoDefaultUsersDataPath", "KvSetKorvoDefaultUsersDataPath",
      "KvGetKorvoDefaultServer", "KvSetKorvoDefaultServer", "KvGetKorvoWorkstation", "KvSetKorvoWorkstation",
      "KvGetKorvoServer", "KvSetKorvoServer", "KvGetServerRoot", "KvSetServerRoot", "KvGetServerExe", "KvSetServerExe",
      "KvGetServiceName", "KvSetServiceName", "KvGetServerTcpIp", "KvSetServerTcpIp", "KvGetServerPipes",
      "KvSetServerPipes", "KvGetServerMaxReq", "KvSetServerMaxReq", "KvGetServerMaxImg", "KvSetServerMaxImg",
      "KvGetServerMaxLog", "KvSetServerMaxLog",
  };
  for (const char* name : names) EXPECT_NE(dlsym(handle_, name), nullptr) << name;
}

// What setup does to the system, under the names the manager and the
// launcher look up.
TEST_F(CoreExports, InstallFunctionsHaveTheirCNames) {
  for (const char* name : {"IsServerServiceRunning", "StartServerService", "StopServerService", "InstallServerService",
                           "RemoveServerService", "RunningAsAdministrator"})
    EXPECT_NE(dlsym(handle_, name), nullptr) << name;
}

// The settings and trace functions that are not Kv... exports are still the
// library's, under their own names rather than C++ mangled ones.
TEST_F(CoreExports, SharedFunctionsHaveTheirCNamesToo) {
  const char* names[] = {
      "GetSendFaxToServerLast", "SetSendFaxToServerLast", "GetKorvoCoreNameQuiet", "GetReadTimeout",
      "SetReadTimeout", "GetStationIdentifier", "SetStationIdentifier", "GetStationIdentifierString",
      "SetStationIdentifierString", "GetRetryTimeout", "SetRetryTimeout", "GetRetryAttempts", "SetRetryAttempts",
      "GetDebugFlags", "SetDebugFlags", "ReadDebugFlags", "DebugPrint", "DebugPrintLastError", "FormatLastError",
      "WideToAnsi", "AnsiToWide",
  };
  for (const char* name : names) EXPECT_NE(dlsym(handle_, name), nullptr) << name;
}

TEST_F(CoreExports, CallsReachTheHives) {
  auto write = Symbol<int (*)(const char*, const char*, const char*)>("KvWriteRegStr");
  auto read = Symbol<int (*)(const char*, const char*, char*, uint32_t)>("KvReadRegStr");
  auto setPipes = Symbol<int (*)(uint32_t)>("KvSetServerPipes");
  auto getPipes = Symbol<int (*)(uint32_t*)>("KvGetServerPipes");
  ASSERT_TRUE(write && read && setPipes && getPipes);
  ASSERT_EQ(write("Server", "RootPath", "/srv/korvo/Server"), 1);
  char buf[260];
  ASSERT_EQ(read("Server", "RootPath", buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "/srv/korvo/Server");
  uint32_t flag = 9;
  EXPECT_EQ(getPipes(&flag), 0);
  EXPECT_EQ(flag, 9u);
  ASSERT_EQ(setPipes(5), 1);
  EXPECT_EQ(getPipes(&flag), 1);
  EXPECT_EQ(flag, 1u);
  EXPECT_NE(Sandbox::readFile(box_.machineHive()).find("\"Pipes\"=dword:00000005\n"), std::string::npos);
}

}  // namespace
