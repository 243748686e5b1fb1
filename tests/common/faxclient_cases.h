// Every request method of FaxClient with the bytes it must send and a reply
// to read, for the client tests against a stand-in server, locally and over
// the remote path.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/faxclient.h"
#include "tests/common/fake_server.h"

namespace korvo::test {

inline const std::string kEsc = "\x1B";
inline std::string Nul(const std::string& s) { return s + std::string(1, '\0'); }

inline AddressEntry SampleAddress() {
  AddressEntry e;
  e.firstName = "Ana";
  e.lastName = "Kovač";
  e.company = "Velmora";
  e.faxNumber = "012345";
  e.phoneNumber = "0123";
  e.address = "Ilica 1";
  e.comment = "note";
  e.id = 12;
  return e;
}

inline RegisteredUserEntry SampleUser() {
  RegisteredUserEntry u;
  u.userName = "jane";
  u.fullName = "Jane Roe";
  u.rights = 0x8000001A;
  u.description = "desk";
  u.email = "jane@example.org";
  u.company = "Velmora";
  u.faxNumber = "555";
  u.phoneNumber = "556";
  return u;
}

inline std::string Encoded(const std::vector<std::string>& fields) {
  std::string s;
  for (const auto& f : fields) s += f + kEsc;
  return s;
}

inline FakeServer::Handler OkText(const std::string& text) {
  return [text](FakeSession& s, FakeServer::Request&) { s.SendText(0, text); };
}
inline FakeServer::Handler OkBytes(const std::string& bytes) {
  return [bytes](FakeSession& s, FakeServer::Request&) { s.Send(0, bytes); };
}
inline FakeServer::Handler Ok() { return OkBytes(""); }
inline FakeServer::Handler Refuse(uint32_t code, const std::string& text) {
  return [code, text](FakeSession& s, FakeServer::Request&) { s.SendError(code, text); };
}
inline std::string Word(uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }

// One request per row: what the method sends, the reply it gets, and what it
// makes of it.
struct RequestCase {
  const char* name;
  std::function<RequestResult(FaxClient&, std::string& out)> call;
  uint32_t tag;
  std::string payload;  // bytes on the wire, the NUL of a text included
  FakeServer::Handler reply;
  std::string out;  // the out value as the call describes it
};

// One row per method, each asking `server`.
inline std::vector<RequestCase> EachMethodCases(const char* server) {
  ModemRecord modem;
  modem.id = -2;
  ConnectionSettings params;
  params.stationId = "KORVO HUB";
  params.retryAttempts = 5;
  params.retryInterval = -3;
  return std::vector<RequestCase>{
      {"AddAddress", [server](FaxClient& c, std::string& out) { int32_t id = 0; auto r = c.AddAddress(server, SampleAddress(), id); out = std::to_string(id); return r; },
       7010, Nul(Encoded(SampleAddress().ToArray())), OkText("42"), "42"},
      {"ChangeAddress", [server](FaxClient& c, std::string&) { return c.ChangeAddress(server, 7030, SampleAddress()); },
       7030, Nul(Encoded(SampleAddress().ToArray())), Ok(), ""},
      {"ChangeUser", [server](FaxClient& c, std::string&) { return c.ChangeUser(server, 7510, SampleUser()); },
       7510, Nul("jane" + kEsc + "Jane Roe" + kEsc + "2147483674" + kEsc + "desk" + kEsc + "jane@example.org" + kEsc + "Velmora" + kEsc + "555" + kEsc + "556" + kEsc), Ok(), ""},
      {"GetUser", [server](FaxClient& c, std::string& out) { RegisteredUserEntry u; auto r = c.GetUser(server, "jane", u); out = u.fullName + "/" + std::to_string(u.rights); return r; },
       7540, Nul("jane"), OkText(Encoded(SampleUser().ToArray())), "Jane Roe/2147483674"},
      {"AddJunkSender", [server](FaxClient& c, std::string& out) { JunkSenderEntry j; j.stationId = "+385 1 555"; j.description = "ads"; int32_t id = 0; auto r = c.AddJunkSender(server, j, id); out = std::to_string(id); return r; },
       7810, Nul("+385 1 555" + kEsc + "ads" + kEsc + "0" + kEsc), OkText("-7"), "-7"},
      {"ChangeJunkSender", [server](FaxClient& c, std::string&) { JunkSenderEntry j; j.stationId = "x"; j.id = 9; return c.ChangeJunkSender(server, 7820, j); },
       7820, Nul("x" + kEsc + kEsc + "9" + kEsc), Ok(), ""},
      {"AddModem", [server, modem](FaxClient& c, std::string& out) { int32_t id = 0; auto r = c.AddModem(server, modem, id); out = std::to_string(id); return r; },
       8020, Nul(modem.Encode()), OkText("3"), "3"},
      {"EditModem", [server, modem](FaxClient& c, std::string&) { return c.EditModem(server, modem); }, 8030, Nul(modem.Encode()), Ok(), ""},
      {"DeleteModem", [server, modem](FaxClient& c, std::string&) { return c.DeleteModem(server, modem); }, 8040, Nul("-2"), Ok(), ""},
      {"SendNumber", [server](FaxClient& c, std::string&) { return c.SendNumber(server, 6010, static_cast<uint32_t>(-1)); }, 6010, Nul("4294967295"), Ok(), ""},
      {"GetServerTime", [server](FaxClient& c, std::string& out) { uint32_t t = 0; auto r = c.GetServerTime(server, t); out = std::to_string(t); return r; },
       2150, "", OkBytes(Word(1700000000) + "rest"), "1700000000"},
      {"GetServerVersion", [server](FaxClient& c, std::string& out) { uint32_t v = 0; auto r = c.GetServerVersion(server, v); out = std::to_string(v); return r; },
       2140, "", OkBytes(Word(MakeVersion(1, 30))), "286"},
      {"GetServerParameters", [server](FaxClient& c, std::string& out) { ConnectionSettings p; auto r = c.GetServerParameters(server, p); out = p.stationId + "/" + std::to_string(p.retryAttempts) + "/" + std::to_string(p.retryInterval); return r; },
       2120, "", OkText("HUB" + kEsc + "7" + kEsc + "-4" + kEsc), "HUB/7/-4"},
      {"SetServerParameters", [server, params](FaxClient& c, std::string&) { return c.SetServerParameters(server, params); },
       2130, Nul("KORVO HUB" + kEsc + "5" + kEsc + "-3" + kEsc), Ok(), ""},
      {"IsServerSuspended N", [server](FaxClient& c, std::string& out) { int f = 7; auto r = c.IsServerSuspended(server, f); out = std::to_string(f); return r; },
       3040, "", OkText("N"), "0"},
      {"IsServerSuspended Y", [server](FaxClient& c, std::string& out) { int f = 7; auto r = c.IsServerSuspended(server, f); out = std::to_string(f); return r; },
       3040, "", OkText("Y"), "1"},
      {"IsServerSuspended empty", [server](FaxClient& c, std::string& out) { int f = 7; auto r = c.IsServerSuspended(server, f); out = std::to_string(f); return r; },
       3040, "", Ok(), "0"},
      {"SendCommand", [server](FaxClient& c, std::string&) { return c.SendCommand(server, 3020); }, 3020, "", Ok(), ""},
      {"SendDebugMessage", [server](FaxClient& c, std::string&) { return c.SendDebugMessage(server); }, 88, Nul("Debug message !!!"), Ok(), ""},
      {"GetPermissions", [server](FaxClient& c, std::string& out) { uint32_t b = 0; auto r = c.GetPermissions(server, b); out = std::to_string(b); return r; },
       2020, "", OkText("26"), "26"},
  };
}

// Runs the row's method against the stand-in server that answers it: the
// call succeeds with the row's value, and the server got exactly the row's
// request from the client's user.
inline void ExpectRowAnswered(const RequestCase& c, FaxClient& client, FakeServer& server, const std::string& trace = "") {
  std::string out;
  const RequestResult r = c.call(client, out);
  EXPECT_EQ(r.status, 0u) << r.text << trace;
  EXPECT_EQ(r.text, "");
  EXPECT_EQ(out, c.out);
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].user, client.GetUserName());
  EXPECT_EQ(requests[0].message.tag, c.tag);
  EXPECT_EQ(requests[0].message.payload, c.payload);
  EXPECT_EQ(requests[0].message.length, c.payload.size());
}

}  // namespace korvo::test
