// Registry settings under "Software\Velmora Technologies\Korvo": the generic
// readers and writers (machine hive and, with "User", the user hive), the named
// accessors of each setting and the trace switch. All return 1 for success and
// 0 for failure. A null or empty subkey means the base key itself; keys are
// created on write; a missing key or value, or a value larger than the buffer,
// fails the read (traced, see common/trace.h). The readers do not check the
// value's type. The accessors apply no defaults: callers do.
//
// Every function here is an export of libkorvocore.so under its own C name
// (C linkage), so programs that load the library find them by name.
#pragma once

#include <cstdint>
#include <string>

extern "C" {

// REG_SZ of the text with its NUL.
int KvWriteRegStr(const char* subkey, const char* name, const char* text);
int KvWriteRegUserStr(const char* subkey, const char* name, const char* text);
// REG_DWORD, 4 bytes.
int KvWriteRegDword(const char* subkey, const char* name, uint32_t value);
int KvWriteRegUserDword(const char* subkey, const char* name, uint32_t value);
// REG_BINARY of size bytes.
int KvWriteRegBinary(const char* subkey, const char* name, const void* data, uint32_t size);
int KvWriteRegUserBinary(const char* subkey, const char* name, const void* data, uint32_t size);

// The value into the buffer of the given size; a string comes back NUL-terminated.
int KvReadRegStr(const char* subkey, const char* name, char* buffer, uint32_t size);
int KvReadRegUserStr(const char* subkey, const char* name, char* buffer, uint32_t size);
// 4 bytes.
int KvReadRegDword(const char* subkey, const char* name, uint32_t* value);
int KvReadRegUserDword(const char* subkey, const char* name, uint32_t* value);
// At most size bytes (the number read is not reported).
int KvReadRegBinary(const char* subkey, const char* name, void* buffer, uint32_t size);
int KvReadRegUserBinary(const char* subkey, const char* name, void* buffer, uint32_t size);

// The base key text; 0 when size is below 39.
int KvGetRegProductKey(char* buffer, uint32_t size);

// Per-user values of the base key.
int KvGetDataPath(char* buffer, uint32_t size);  // "DataPath", ends with a backslash
int KvSetDataPath(const char* text);
int KvGetInBoxPath(char* buffer, uint32_t size);  // "InBoxPath"
int KvSetInBoxPath(const char* text);
int KvGetOutBoxPath(char* buffer, uint32_t size);  // "OutBoxPath"
int KvSetOutBoxPath(const char* text);
int KvGetLocAddrBookName(char* buffer, uint32_t size);  // "LocAddrBook"
int KvSetLocAddrBookName(const char* text);
int KvGetDefaultServer(char* buffer, uint32_t size);  // "DefaultServer" (user)
int KvSetDefaultServer(const char* text);
int KvGetSendFaxToLast(char* buffer, uint32_t size);  // "SendFaxToLast"
int KvSetSendFaxToLast(const char* text);
int KvGetSendFaxTitleLast(char* buffer, uint32_t size);  // "SendFaxTitleLast"
int KvSetSendFaxTitleLast(const char* text);

// Machine values of the base key.
int KvGetKorvoCoreName(char* buffer, uint32_t size);  // "KorvoCore"
int KvSetKorvoCoreName(const char* text);
int KvGetKorvoLensName(char* buffer, uint32_t size);  // "KorvoLens"
int KvSetKorvoLensName(const char* text);
int KvGetKorvoDeskName(char* buffer, uint32_t size);  // "KorvoDesk"
int KvSetKorvoDeskName(const char* text);
int KvGetKorvoInstallPath(char* buffer, uint32_t size);  // "InstallPath"
int KvSetKorvoInstallPath(const char* text);
int KvGetKorvoDefaultUsersDataPath(char* buffer, uint32_t size);  // "DefaultUsersDataPath"
int KvSetKorvoDefaultUsersDataPath(const char* text);
int KvGetKorvoDefaultServer(char* buffer, uint32_t size);  // "DefaultServer" (machine)
int KvSetKorvoDefaultServer(const char* text);
int KvGetKorvoWorkstation(uint32_t* value);  // "SetupWorkstation"
int KvSetKorvoWorkstation(uint32_t value);
int KvGetKorvoServer(uint32_t* value);  // "SetupServer"
int KvSetKorvoServer(uint32_t value);

// Machine values of the subkey Server.
int KvGetServerRoot(char* buffer, uint32_t size);  // "RootPath"
int KvSetServerRoot(const char* text);
int KvGetServerExe(char* buffer, uint32_t size);  // "Korvo"
int KvSetServerExe(const char* text);
int KvGetServiceName(char* buffer, uint32_t size);  // "Service"
int KvSetServiceName(const char* text);
// "TcpIp" and "Pipes": on success *flag is 1 when the value is not 0, else 0;
// on failure *flag is left as it was.
int KvGetServerTcpIp(uint32_t* flag);
int KvSetServerTcpIp(uint32_t flag);
int KvGetServerPipes(uint32_t* flag);
int KvSetServerPipes(uint32_t flag);
int KvGetServerMaxReq(uint32_t* value);  // "MaxReq"
int KvSetServerMaxReq(uint32_t value);
int KvGetServerMaxImg(uint32_t* value);  // "MaxImg"
int KvSetServerMaxImg(uint32_t value);
int KvGetServerMaxLog(uint32_t* value);  // "MaxLog"
int KvSetServerMaxLog(uint32_t value);

// "SendFaxToServerLast" (user).
int GetSendFaxToServerLast(char* buffer, uint32_t size);
int SetSendFaxToServerLast(const char* text);

// "KorvoCore" read without the trace switch (usable before tracing is set up):
// only a missing hive root or base key is written to the trace sink.
int GetKorvoCoreNameQuiet(char* buffer, uint32_t size);

// Read time-out of client channels in ms (value "ReadTimeout").
int GetReadTimeout(uint32_t* value);
int SetReadTimeout(uint32_t value);

// How a client reaches a server on another machine (machine values under
// "Remote"): the ssh program ("SshProgram", default "ssh"), options put before
// the host ("SshOptions", split at blanks) and the relay's path on the server
// ("RelayPath", default "korvo-relay").
int GetRemoteSshProgram(char* buffer, uint32_t size);
int SetRemoteSshProgram(const char* text);
int GetRemoteSshOptions(char* buffer, uint32_t size);
int SetRemoteSshOptions(const char* text);
int GetRemoteRelayPath(char* buffer, uint32_t size);
int SetRemoteRelayPath(const char* text);

// Server\"StationIdentifier". The string form reads through a 64-byte buffer.
int GetStationIdentifier(char* buffer, uint32_t size);
int SetStationIdentifier(const char* text);
int GetStationIdentifierString(std::string& out);
int SetStationIdentifierString(const std::string& text);

// Server\"RetryTimeout" (minutes between send attempts) and Server\"RetryAttempts".
int GetRetryTimeout(uint32_t* value);
int SetRetryTimeout(uint32_t value);
int GetRetryAttempts(uint32_t* value);
int SetRetryAttempts(uint32_t value);

// The trace switch: machine value "DebugFlags" of the base key, read (without
// tracing) on the first GetDebugFlags and cached for the process; missing
// means 0, no traces. SetDebugFlags replaces the cached value.
uint32_t GetDebugFlags();
void SetDebugFlags(uint32_t value);
// Reads "DebugFlags" from the registry now, without any trace.
int ReadDebugFlags(uint32_t* value);

}  // extern "C"
