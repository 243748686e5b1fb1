// A simulated telephone exchange with Class 2 (EIA-592) and Class 2.0 (ITU-T T.32)
// fax modems on pseudo-terminals, for tests of fax software.
//
// Each modem owns a pseudo-terminal; its slave end is the "serial port", reached
// through a short symlink (Exchange::portPath). Dialling a number rings the modem
// that has it; answering connects the two and the fax phases run at the level of
// the Class 2 reports: station ids, DIS/DCS, page data, post-page messages and
// responses pass between the two modems. Everything the far end took off the line
// is recorded per call (Exchange::calls).
//
//   korvo::modemsim::ExchangeConfig cfg;
//   cfg.ringPeriod = std::chrono::milliseconds(200);
//   cfg.modems.push_back({.name = "m1", .number = "100"});
//   cfg.modems.push_back({.name = "m2", .number = "200", .faults = {.rtnPage = 2}});
//   korvo::modemsim::Exchange ex(cfg);          // ports exist once constructed
//   ... open ex.portPath(0) as a modem ...
//   ex.waitForCalls(1, std::chrono::seconds(60));
//   auto calls = ex.calls();                    // pages, ids, ppm/ppr, hang-up codes
//
// The `modemsim` program runs the same exchange from a configuration file (see
// ParseConfig) as a child process. The exchange runs on one thread of its own;
// every public member is thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace korvo::modemsim {

// Misbehaviour of one modem, each off by default.
struct Faults {
  bool noAnswer = false;      // calls to this modem ring nowhere; the caller gets NO CARRIER
  bool busy = false;          // calls to this modem find the line busy
  bool noCarrier = false;     // this modem reports NO CARRIER after every dial
  int hangUpAfterPage = 0;    // the line drops once page N (from 1) of a call was confirmed
  int rtnPage = 0;            // page N (from 1) of a call is judged RTN by the receiving modem
  std::vector<std::string> errorOn{};  // command lines starting with one of these answer ERROR
  bool silent = false;        // never answers anything
  bool class1Only = false;    // class list "0,1"
  bool notFax = false;        // class list "0"; every +F command answers ERROR
  int corruptEvery = 0;       // every Nth page byte sent to or from this modem is damaged
  std::string vanishOn{};      // the modem disappears (DSR loss) at a command line starting so
};

struct ModemConfig {
  std::string name{};                // symlink name in the exchange's folder
  std::string number{};              // its phone number (digits)
  std::string classes = "0,1,2,2.0"; // answer to AT+FCLASS=?
  std::string manufacturer = "Korvo";
  std::string model = "Simulated fax modem";
  std::string revision = "1.0";
  Faults faults{};
};

struct ExchangeConfig {
  // Folder of the port symlinks; empty: a fresh /tmp/kvXXXXXX, removed afterwards.
  // Port paths must stay within 31 characters.
  std::filesystem::path dir{};
  std::chrono::milliseconds ringPeriod{6000};     // one RING per period
  std::chrono::milliseconds answerTimeout{60000}; // caller gives up: NO CARRIER
  std::chrono::milliseconds dialDelay{0};         // from ATD to the first ring
  bool pace = false;                              // page data at the negotiated bit rate
  std::chrono::milliseconds minPageTime{0};       // no page crosses the line faster
  // Zero bytes a receiving modem gives after each page, before DLE ETX, as the
  // line idles after RTC (efax finds RTC only with bits after it).
  std::size_t fillAfterPage = 2;
  std::vector<ModemConfig> modems{};
};

// One page as the receiving modem took it off the line: direct bit order (first
// bit on the line is the least significant), no DLE stuffing, damage included.
struct PageRecord {
  std::vector<std::uint8_t> data;
  std::string dcs;  // session parameters vr,br,wd,ln,df,ec,bf,st of the page
  int ppm = -1;     // post-page message: 0 MPS, 1 EOM, 2 EOP; -1 none (line dropped)
  int ppr = -1;     // post-page response: 1 MCF, 2 RTN, ...; -1 none
};

struct CallRecord {
  std::string caller, callee;  // modem names; callee empty for an unknown number
  std::string dialled;         // the dial string as given
  // "unknown-number", "busy", "no-carrier", "no-answer", "completed" (EOP answered),
  // "dropped" (line dropped by a fault, a hang-up or a vanished modem)
  std::string outcome;
  bool answered = false;
  bool ended = false;         // both modems have left the call
  std::string tsi, csi;        // local ids of caller and callee as the far end saw them
  std::string dis, dcs;        // callee capabilities, negotiated parameters
  std::vector<PageRecord> pages;
};

class Exchange {
 public:
  explicit Exchange(ExchangeConfig config);
  ~Exchange();  // stops the exchange, closes the terminals, removes the symlinks
  Exchange(const Exchange&) = delete;
  Exchange& operator=(const Exchange&) = delete;

  std::size_t size() const;
  std::filesystem::path portPath(std::size_t modem) const;
  int index(const std::string& name) const;  // -1 when there is none

  // Faults may be changed while the exchange runs.
  void setFaults(std::size_t modem, const Faults& faults);
  // DSR loss: the terminal and its port path go away (the call, if any, drops);
  // plug brings back a fresh terminal behind the same port path.
  void unplug(std::size_t modem);
  void plug(std::size_t modem);

  std::vector<CallRecord> calls() const;
  // True once at least n calls have ended.
  bool waitForCalls(std::size_t n, std::chrono::milliseconds timeout) const;
  // True once a call rings the modem (a RING went to its computer).
  bool waitForRing(std::size_t modem, std::chrono::milliseconds timeout) const;
  // Every command line the modem received, in order.
  std::vector<std::string> commands(std::size_t modem) const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Configuration text: one setting per line, '#' starts a comment.
//   dir /tmp/kv1            ring-ms 200            answer-timeout-ms 5000
//   dial-delay-ms 0         pace 1                 min-page-ms 1000
//   fill-after-page 2
//   modem name=m1 number=100 [classes=0,1,2,2.0] [manufacturer="..."]
//         [model="..."] [revision=...] [no-answer] [busy] [no-carrier] [silent]
//         [class1] [not-fax] [hangup-after-page=N] [rtn-page=N] [corrupt-every=N]
//         [error=PREFIX]... [vanish=PREFIX]
// Values with blanks go in double quotes. Throws std::invalid_argument.
ExchangeConfig ParseConfig(std::istream& in);
// One "modem" line's key=value list (without the word "modem").
ModemConfig ParseModem(const std::string& spec);
// Calls as text, one block per call, for the record file of the program.
std::string FormatCalls(const std::vector<CallRecord>& calls);

// Bit-reverses every byte (T.4 data between direct and reversed order).
void ReverseBits(std::vector<std::uint8_t>& data);

}  // namespace korvo::modemsim
