#include "tools/modemsim/exchange.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace korvo::modemsim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kDle = 0x10, kEtx = 0x03, kDc2 = 0x12, kXon = 0x11, kXoff = 0x13, kSub = 0x1a;
constexpr const char* kDefaultCaps = "1,5,0,2,0,0,0,0";
constexpr std::size_t kOutLimit = 4096;  // page bytes queued towards a computer at once

enum class Cls { Data, Class1, Class2, Class20 };

enum class St {
  Idle,        // command mode, on hook (a call may be ringing)
  Dialling,    // ATD outstanding
  Online,      // command mode during a call
  Answering,   // callee: ATA outstanding until the caller's DCS
  TxData,      // caller: page data from the computer
  TxEnding,    // caller: DLE ETX seen, OK once the page crossed the line
  TxWaitPpr,   // caller: waiting for the post-page response
  RxWaitPage,  // callee: AT+FDR outstanding until a page starts or the call ends
  RxWaitDc2,   // callee: CONNECT given, waiting for DC2
  RxData,      // callee: page data towards the computer
  RxWaitPpm,   // callee: page delivered, waiting for the post-page message
};

struct LinePage {
  std::vector<std::uint8_t> bytes;  // direct order, as put on the line
  std::size_t arrived = 0;          // bytes that reached the far modem
  double credit = 0;                // pacing: bytes the line may still carry
  Clock::time_point start, tick;
  bool receiving = false;           // the far computer takes the page (after DC2)
  Clock::time_point rxStart;
  bool ended = false;               // the sender ended the page
  bool crossed = false;             // ended and wholly at the far modem
  std::string dcs;
  int ppm = -1, ppr = -1;
};

struct Call {
  int caller = -1, callee = -1;  // modems still attached
  CallRecord rec;
  bool ringing = false, answered = false, down = false, eop = false;
  Clock::time_point dialAt, nextRing, giveUpAt;
  int rings = 0;
  std::vector<LinePage> pages;
  std::uint64_t lineBytes = 0;  // for corruptEvery
};

struct Modem {
  ModemConfig cfg;
  std::filesystem::path link;
  int master = -1, keep = -1;
  std::string out;
  std::string line;
  bool held = false;  // XOFF from the computer
  // settings
  bool echo = true, quiet = false, verbose = true;
  int xlevel = 4, s0 = 0, bor = 0, judged = 0, lastPpr = 1;
  bool swFlow = true;
  Cls cls = Cls::Data;
  std::string caps = kDefaultCaps, dis = kDefaultCaps, localId;
  // call
  St st = St::Idle;
  std::shared_ptr<Call> call;
  bool isCaller = false;
  bool esc = false;            // TxData: previous byte was DLE
  std::size_t rxPage = 0;      // callee: index of the page being or next delivered
  std::size_t delivered = 0;   // callee: bytes of that page given to the computer
  bool judgePending = false;   // callee: a delivered page awaits its response
  bool xoffSent = false;
  std::vector<std::string> commands;

  void reset() {
    echo = true; quiet = false; verbose = true; xlevel = 4; s0 = 0; bor = 0; judged = 0;
    swFlow = true; cls = Cls::Data; caps = dis = kDefaultCaps; localId.clear();
  }
  bool fax() const { return cls == Cls::Class2 || cls == Cls::Class20; }
  bool c20() const { return cls == Cls::Class20; }
};

std::string Upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return !prefix.empty() && Upper(text.substr(0, prefix.size())) == Upper(prefix);
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : s) {
    if (c == sep) { parts.push_back(cur); cur.clear(); } else cur += c;
  }
  parts.push_back(cur);
  return parts;
}

std::vector<int> Params(const std::string& s) {
  std::vector<int> v;
  for (auto& p : Split(s, ',')) v.push_back(std::atoi(p.c_str()));
  v.resize(8, 0);
  return v;
}

std::string JoinParams(const std::vector<int>& v) {
  std::string s;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (i) s += ',';
    s += std::to_string(v[i]);
  }
  return s;
}

// A partial list ("1,3" or ",,1") changes only the values it gives.
std::string MergeParams(const std::string& current, const std::string& given) {
  auto cur = Params(current);
  auto parts = Split(given, ',');
  for (std::size_t i = 0; i < parts.size() && i < 8; ++i)
    if (!parts[i].empty()) cur[i] = std::atoi(parts[i].c_str());
  return JoinParams(cur);
}

std::string Negotiate(const std::string& callerDis, const std::string& calleeCaps) {
  auto a = Params(callerDis), b = Params(calleeCaps);
  std::vector<int> r(8);
  for (int i = 0; i < 7; ++i) r[i] = std::min(a[i], b[i]);
  r[7] = b[7];
  return JoinParams(r);
}

std::uint8_t Reverse(std::uint8_t b) {
  b = static_cast<std::uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<std::uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<std::uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

std::string Hex(int code, bool twoDigits) {
  char buf[8];
  std::snprintf(buf, sizeof buf, twoDigits ? "%02X" : "%X", code);
  return buf;
}

}  // namespace

struct Exchange::Impl {
  ExchangeConfig cfg;
  bool ownDir = false;
  std::vector<Modem> modems;
  std::vector<std::shared_ptr<Call>> calls;
  mutable std::mutex mu;
  mutable std::condition_variable changed;
  int wake = -1;
  bool stopping = false;
  std::thread thread;

  // ---- terminals ----

  void openTerminal(Modem& m) {
    int fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0) {
      if (fd >= 0) ::close(fd);
      throw std::system_error(errno, std::generic_category(), "posix_openpt");
    }
    char name[128];
    if (ptsname_r(fd, name, sizeof name) != 0) {
      ::close(fd);
      throw std::system_error(errno, std::generic_category(), "ptsname_r");
    }
    // Held open by the simulator so that the master never sees a hang-up
    // between two programs using the port.
    int keep = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (keep < 0) {
      ::close(fd);
      throw std::system_error(errno, std::generic_category(), "open slave");
    }
    termios t{};
    tcgetattr(keep, &t);
    cfmakeraw(&t);
    tcsetattr(keep, TCSANOW, &t);
    m.master = fd;
    m.keep = keep;
    std::error_code ec;
    std::filesystem::remove(m.link, ec);
    std::filesystem::create_symlink(name, m.link);
  }

  void closeTerminal(Modem& m) {
    if (m.master >= 0) ::close(m.master);
    if (m.keep >= 0) ::close(m.keep);
    m.master = m.keep = -1;
    m.out.clear();
    m.line.clear();
    m.held = false;
  }

  void poke() {
    std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wake, &one, sizeof one);
  }

  // ---- output ----

  void raw(Modem& m, const std::string& s) {
    if (m.cfg.faults.silent || m.master < 0) return;
    m.out += s;
  }

  void info(Modem& m, const std::string& s) {
    if (m.quiet) return;
    raw(m, m.verbose ? "\r\n" + s + "\r\n" : s + "\r\n");
  }

  void result(Modem& m, const std::string& s) {
    if (m.quiet) return;
    if (m.verbose) return raw(m, "\r\n" + s + "\r\n");
    static const std::pair<const char*, const char*> codes[] = {
        {"OK", "0"}, {"CONNECT", "1"}, {"RING", "2"}, {"NO CARRIER", "3"}, {"ERROR", "4"}, {"BUSY", "7"}};
    for (auto& [text, code] : codes)
      if (s == text) return raw(m, std::string(code) + "\r");
    raw(m, s + "\r");
  }

  // Report name of the modem's class: Class 2 name first, Class 2.0 second.
  std::string rep(const Modem& m, const char* c2, const char* c20) { return m.c20() ? c20 : c2; }

  void hangUpReport(Modem& m, int code) {
    info(m, rep(m, "+FHNG:", "+FHS:") + Hex(code, m.c20()));
  }

  // ---- calls ----

  Modem* other(const Modem& m) {
    if (!m.call) return nullptr;
    int i = m.isCaller ? m.call->callee : m.call->caller;
    return i >= 0 ? &modems[static_cast<std::size_t>(i)] : nullptr;
  }

  int indexOf(const Modem& m) const { return static_cast<int>(&m - modems.data()); }

  void detach(Modem& m) {
    if (auto c = m.call) {
      (m.isCaller ? c->caller : c->callee) = -1;
      if (c->caller < 0 && c->callee < 0) {
        c->rec.ended = true;
        changed.notify_all();
      }
    }
    m.call.reset();
    m.st = St::Idle;
    m.judgePending = false;
    m.xoffSent = false;
    m.held = false;
  }

  void drop(Call& c) {
    if (c.down) return;
    c.down = true;
    if (c.rec.outcome.empty() || c.rec.outcome == "connected") c.rec.outcome = "dropped";
  }

  // The line went dead: the code a modem reports depends on where it was.
  int dropCode(const Modem& m) {
    if (m.isCaller) {
      if (m.st == St::TxWaitPpr && !m.call->pages.empty()) {
        int ppm = m.call->pages.back().ppm;
        return ppm == 0 ? 0x52 : ppm == 1 ? 0x56 : 0x54;
      }
      return m.call->pages.empty() ? 0x20 : 0x40;
    }
    if (m.st == St::Answering) return 0x70;
    if (m.st == St::RxWaitPpm) return 0xA0;
    return 0x90;
  }

  // A modem leaves its call by its own doing (ATH, ATZ, vanishing). A call
  // ringing at an on-hook modem keeps ringing unless the modem is gone.
  void hangUp(Modem& m, bool gone = false) {
    if (!m.call) return;
    auto c = m.call;
    if (!c->answered) {
      if (!m.isCaller && !gone) return;
      if (m.isCaller) {
        c->rec.outcome = "no-answer";
        if (c->callee >= 0) detach(modems[static_cast<std::size_t>(c->callee)]);
      }
      detach(m);
      return;
    }
    drop(*c);
    detach(m);
  }

  void startDial(Modem& m, const std::string& dialled) {
    auto c = std::make_shared<Call>();
    c->caller = indexOf(m);
    c->rec.caller = m.cfg.name;
    c->rec.dialled = dialled;
    auto now = Clock::now();
    c->dialAt = now + cfg.dialDelay;
    c->giveUpAt = c->dialAt + cfg.answerTimeout;
    calls.push_back(c);
    m.call = c;
    m.isCaller = true;
    m.st = St::Dialling;
  }

  void endDial(Modem& m, const std::string& outcome, const std::string& resultText) {
    m.call->rec.outcome = outcome;
    result(m, resultText);
    detach(m);
  }

  void resolveDial(Modem& m) {
    auto c = m.call;
    std::string number;
    for (char ch : c->rec.dialled)
      if (std::isdigit(static_cast<unsigned char>(ch)) || ch == '*' || ch == '#') number += ch;
    if (m.cfg.faults.noCarrier || !m.fax()) return endDial(m, "no-carrier", "NO CARRIER");
    Modem* callee = nullptr;
    for (auto& o : modems)
      if (&o != &m && !o.cfg.number.empty() && o.cfg.number == number) callee = &o;
    if (!callee) return endDial(m, "unknown-number", "NO CARRIER");
    c->rec.callee = callee->cfg.name;
    if (callee->cfg.faults.busy || callee->call || callee->st != St::Idle)
      return endDial(m, "busy", m.xlevel >= 3 ? "BUSY" : "NO CARRIER");
    c->ringing = true;
    c->nextRing = Clock::now();
    if (callee->cfg.faults.noAnswer || callee->master < 0) return;  // rings nowhere
    c->callee = indexOf(*callee);
    callee->call = c;
    callee->isCaller = false;
  }

  void answer(Modem& m) {
    auto c = m.call;
    if (!c || m.isCaller || c->answered || !c->ringing) return result(m, "NO CARRIER");
    Modem& caller = modems[static_cast<std::size_t>(c->caller)];
    if (!m.fax()) {
      result(m, "NO CARRIER");
      detach(m);
      return;
    }
    c->answered = true;
    c->ringing = false;
    c->rec.answered = true;
    c->rec.outcome = "connected";
    c->rec.csi = m.localId;
    c->rec.dis = m.caps;
    m.st = St::Answering;
    m.rxPage = 0;
    info(m, rep(m, "+FCON", "+FCO"));
    info(caller, rep(caller, "+FCON", "+FCO"));
    if (!m.localId.empty()) info(caller, rep(caller, "+FCSI:", "+FCI:") + "\"" + m.localId + "\"");
    info(caller, rep(caller, "+FDIS:", "+FIS:") + m.caps);
    result(caller, "OK");
    caller.st = St::Online;
  }

  void transmitPage(Modem& m) {
    auto c = m.call;
    Modem* far = other(m);
    LinePage p;
    p.dcs = Negotiate(m.dis, far ? far->caps : std::string(kDefaultCaps));
    p.start = p.tick = Clock::now();
    c->rec.tsi = m.localId;
    c->rec.dcs = p.dcs;
    c->pages.push_back(p);
    m.st = St::TxData;
    m.esc = false;
    info(m, rep(m, "+FDCS:", "+FCS:") + p.dcs);
    result(m, "CONNECT");
    // Class 2 modems signal with XON that the computer may start the page.
    if (!m.c20()) raw(m, std::string(1, static_cast<char>(kXon)));
  }

  void lineByte(Modem& m, std::uint8_t b) {
    auto& c = *m.call;
    if (m.bor & 1) b = Reverse(b);
    Modem* far = other(m);
    int every = m.cfg.faults.corruptEvery;
    if (far && far->cfg.faults.corruptEvery && (!every || far->cfg.faults.corruptEvery < every))
      every = far->cfg.faults.corruptEvery;
    ++c.lineBytes;
    if (every > 0 && c.lineBytes % static_cast<std::uint64_t>(every) == 0) b ^= 0x24;
    c.pages.back().bytes.push_back(b);
  }

  void endPage(Modem& m, int ppm) {
    auto& p = m.call->pages.back();
    p.ended = true;
    p.ppm = ppm;
    m.st = ppm < 0 ? St::TxEnding : St::TxWaitPpr;
  }

  void txData(Modem& m, std::uint8_t b) {
    if (m.esc) {
      m.esc = false;
      switch (b) {
        case kDle: lineByte(m, kDle); break;
        case kSub: lineByte(m, kDle); lineByte(m, kDle); break;
        case kEtx: endPage(m, -1); break;
        case ',': endPage(m, 0); break;
        case ';': endPage(m, 1); break;
        case '.': endPage(m, 2); break;
        default: break;  // other shielded codes carry nothing on the line
      }
      return;
    }
    if (b == kDle) m.esc = true;
    else lineByte(m, b);
  }

  // ---- commands ----

  enum class R { Ok, Error, Async };

  R extended(Modem& m, const std::string& name, char kind, const std::string& value,
             std::vector<std::string>& lines) {
    // kind: '=' set, 't' test (=?), '?' read, 'a' action
    if (name == "FCLASS") {
      auto list = m.cfg.faults.notFax ? std::string("0") : m.cfg.faults.class1Only ? std::string("0,1") : m.cfg.classes;
      if (kind == 't') { lines.push_back(list); return R::Ok; }
      if (kind == '?') {
        lines.push_back(m.cls == Cls::Class20 ? "2.0" : m.cls == Cls::Class2 ? "2" : m.cls == Cls::Class1 ? "1" : "0");
        return R::Ok;
      }
      if (kind != '=') return R::Error;
      auto v = Split(list, ',');
      if (std::find(v.begin(), v.end(), value) == v.end()) return R::Error;
      m.cls = value == "2.0" ? Cls::Class20 : value == "2" ? Cls::Class2 : value == "1" ? Cls::Class1 : Cls::Data;
      return R::Ok;
    }
    if (m.cfg.faults.notFax) return R::Error;
    if (name == "FMFR" || name == "FMI") return ident(kind, m.cfg.manufacturer, lines);
    if (name == "FMDL" || name == "FMM") return ident(kind, m.cfg.model, lines);
    if (name == "FREV" || name == "FMR") return ident(kind, m.cfg.revision, lines);
    if (!m.fax()) return R::Error;
    auto text = [&](std::string& field) {
      if (kind == '=') field = MergeParams(field, value);
      else if (kind == '?') lines.push_back(field);
      else if (kind == 't') lines.push_back("(0,1),(0-5),(0-2),(0-2),(0,1),(0),(0),(0-7)");
      else return R::Error;
      return R::Ok;
    };
    auto number = [&](int& field, const char* range) {
      if (kind == '=') field = std::atoi(value.c_str());
      else if (kind == '?') lines.push_back(std::to_string(field));
      else if (kind == 't') lines.push_back(range);
      else return R::Error;
      return R::Ok;
    };
    if (name == "FDCC" || name == "FCC") {
      R r = text(m.caps);
      if (kind == '=') m.dis = m.caps;
      return r;
    }
    if (name == "FDIS" || name == "FIS") return text(m.dis);
    if (name == "FLID" || name == "FLI") {
      if (kind == '=') {
        std::string id = value;
        if (id.size() >= 2 && id.front() == '"' && id.back() == '"') id = id.substr(1, id.size() - 2);
        m.localId = id;
      } else if (kind == '?') lines.push_back("\"" + m.localId + "\"");
      else if (kind == 't') lines.push_back("(20),(32-127)");
      return R::Ok;
    }
    if (name == "FBOR" || name == "FBO") return number(m.bor, "(0-3)");
    if (name == "FLO") {
      int v = m.swFlow ? 1 : 2;
      R r = number(v, "(0-2)");
      m.swFlow = v == 1;
      return r;
    }
    if (name == "FPTS" || name == "FPS") {
      if (kind == '=') m.judged = std::atoi(value.c_str());
      else if (kind == '?') lines.push_back(std::to_string(m.lastPpr));
      else if (kind == 't') lines.push_back("(1-5)");
      return R::Ok;
    }
    if (name == "FDT") {
      if (!m.call || !m.isCaller || m.st != St::Online) return R::Error;
      if (m.call->down) {
        int code = dropCode(m);
        detach(m);
        hangUpReport(m, code);
        return R::Ok;
      }
      transmitPage(m);
      return R::Async;
    }
    if (name == "FDR") {
      if (!m.call || m.isCaller || m.st != St::Online) return R::Error;
      m.st = St::RxWaitPage;
      return R::Async;
    }
    if (name == "FET") {
      if (kind != '=' || !m.call || !m.isCaller || m.st != St::Online || m.call->pages.empty() ||
          m.call->pages.back().ppm >= 0)
        return R::Error;
      int ppm = std::atoi(value.c_str());
      m.call->pages.back().ppm = ppm < 0 || ppm > 2 ? 2 : ppm;
      m.st = St::TxWaitPpr;
      return R::Async;
    }
    if (name == "FK" || name == "FKS") {
      hangUp(m);
      return R::Ok;
    }
    // Everything else a Class 2 program may set or ask (+FCR, +FNR, +FAA, +FBUG,
    // +FCQ, +FPP, +FIE, +FCT, +FMS, ...) is accepted and reads as 0.
    if (kind == '?') lines.push_back("0");
    else if (kind == 't') lines.push_back("(0,1)");
    return R::Ok;
  }

  R ident(char kind, const std::string& textValue, std::vector<std::string>& lines) {
    if (kind != '?' && kind != 'a') return R::Error;
    lines.push_back(textValue);
    return R::Ok;
  }

  void commandLine(Modem& m, const std::string& text) {
    m.commands.push_back(text);
    changed.notify_all();
    if (m.cfg.faults.silent) return;
    std::size_t b = text.find_first_not_of(' ');
    std::string s = b == std::string::npos ? std::string() : text.substr(b);
    if (!m.cfg.faults.vanishOn.empty() && StartsWithNoCase(s, m.cfg.faults.vanishOn)) return vanish(m);
    if (s.size() < 2 || Upper(s.substr(0, 2)) != "AT") return;
    for (auto& prefix : m.cfg.faults.errorOn)
      if (StartsWithNoCase(s, prefix)) return result(m, "ERROR");
    std::string u = Upper(s);
    std::vector<std::string> lines;
    std::size_t i = 2, n = s.size();
    auto digits = [&](int def) {
      if (i >= n || !std::isdigit(static_cast<unsigned char>(u[i]))) return def;
      int v = 0;
      while (i < n && std::isdigit(static_cast<unsigned char>(u[i]))) v = v * 10 + (u[i++] - '0');
      return v;
    };
    auto finish = [&](R r) {
      for (auto& l : lines) info(m, l);
      if (r != R::Async) result(m, r == R::Ok ? "OK" : "ERROR");
    };
    while (i < n) {
      char c = u[i];
      if (c == ' ' || c == ';') { ++i; continue; }
      if (c == '+') {
        std::size_t j = ++i;
        while (i < n && std::isalpha(static_cast<unsigned char>(u[i]))) ++i;
        std::string name = u.substr(j, i - j);
        char kind = 'a';
        std::string value;
        if (i + 1 < n && u[i] == '=' && u[i + 1] == '?') { kind = 't'; i += 2; }
        else if (i < n && u[i] == '=') {
          kind = '=';
          std::size_t k = ++i;
          bool quoted = false;
          while (i < n && (quoted || s[i] != ';')) {
            if (s[i] == '"') quoted = !quoted;
            ++i;
          }
          value = s.substr(k, i - k);
        } else if (i < n && u[i] == '?') { kind = '?'; ++i; }
        R r = extended(m, name, kind, value, lines);
        if (r != R::Ok) return finish(r);
        continue;
      }
      ++i;
      switch (c) {
        case 'D':
          if (m.call) return finish(R::Error);
          startDial(m, s.substr(i));
          return finish(R::Async);
        case 'A':
          finish(R::Async);
          return answer(m);
        case 'E': m.echo = digits(0) != 0; break;
        case 'Q': m.quiet = digits(0) != 0; break;
        case 'V': m.verbose = digits(0) != 0; break;
        case 'X': m.xlevel = digits(0); break;
        case 'H':
          if (digits(0) == 0) hangUp(m);
          break;
        case 'Z':
          digits(0);
          hangUp(m);
          m.reset();
          break;
        case 'I':
          digits(0);
          lines.push_back(m.cfg.manufacturer + " " + m.cfg.model);
          break;
        case 'S': {
          int reg = digits(0);
          if (i < n && u[i] == '=') {
            ++i;
            int v = digits(0);
            if (reg == 0) m.s0 = v;
          } else if (i < n && u[i] == '?') {
            ++i;
            char buf[8];
            std::snprintf(buf, sizeof buf, "%03d", reg == 0 ? m.s0 : 0);
            lines.push_back(buf);
          }
          break;
        }
        case '&': case '\\': case '*': case '#': case '$': case '%': {
          if (i >= n) return finish(R::Error);
          std::string cmd = std::string(1, c) + u[i++];
          int v = digits(0);
          std::string full = cmd + std::to_string(v);
          // Flow-control choices of the common brands: software / hardware.
          static const char* soft[] = {"&K4", "&H4", "&H2", "\\Q1", "*F2", "#K4", "&E5", "$F5"};
          static const char* hard[] = {"&K3", "&H3", "&H1", "\\Q3", "*F3", "#K3", "&E4", "$F4"};
          for (auto* f : soft) if (full == f) m.swFlow = true;
          for (auto* f : hard) if (full == f) m.swFlow = false;
          break;
        }
        default:
          if (std::isalpha(static_cast<unsigned char>(c))) { digits(0); break; }
          return finish(R::Error);
      }
    }
    finish(R::Ok);
  }

  // The device goes away with the modem, like an unplugged USB modem's.
  void vanish(Modem& m) {
    hangUp(m, true);
    closeTerminal(m);
    std::error_code ec;
    std::filesystem::remove(m.link, ec);
    m.reset();
  }

  // ---- input ----

  void input(Modem& m, const std::uint8_t* data, std::size_t len) {
    for (std::size_t k = 0; k < len && m.master >= 0; ++k) {
      std::uint8_t b = data[k];
      if (m.cfg.faults.silent) {
        if (b == '\r') {
          commandLine(m, m.line);
          m.line.clear();
        } else if (m.line.size() < 512) {
          m.line += static_cast<char>(b);
        }
        continue;
      }
      switch (m.st) {
        case St::TxData: txData(m, b); continue;
        case St::RxWaitDc2:
          if (b == kDc2 || b == kXon) {
            m.st = St::RxData;
            m.delivered = 0;
            auto& p = m.call->pages[m.rxPage];
            p.receiving = true;
            p.rxStart = p.tick = Clock::now();
          }
          continue;
        case St::Idle:
        case St::Online:
          // The hold ends with the computer's XON in command mode too: the
          // end of a page can bring the modem back to it while held, and
          // its answers would wait for ever.
          if (m.swFlow && b == kXon) m.held = false;
          break;
        default:
          if (m.swFlow && b == kXoff) m.held = true;
          if (m.swFlow && b == kXon) m.held = false;
          continue;
      }
      if (b == kXon || b == kXoff || b == '\n') continue;
      if (m.echo) raw(m, std::string(1, static_cast<char>(b)));
      if (b == '\r') {
        std::string l;
        l.swap(m.line);
        if (!l.empty()) commandLine(m, l);
      } else if (b == 8 || b == 127) {
        if (!m.line.empty()) m.line.pop_back();
      } else if (m.line.size() < 512) {
        m.line += static_cast<char>(b);
      }
    }
  }

  // ---- progress ----

  void advanceLine(Call& c, Clock::time_point now) {
    for (std::size_t k = 0; k < c.pages.size(); ++k) {
      auto& p = c.pages[k];
      if (p.crossed) continue;
      // A paced line carries the page while the far computer takes it, as a
      // modem with a small buffer would; the sender's modem fills up meanwhile.
      if (!cfg.pace) {
        p.arrived = p.bytes.size();
      } else if (p.receiving) {
        int br = Params(p.dcs)[1];
        double rate = 2400.0 * (std::clamp(br, 0, 5) + 1) / 8;  // bytes per second
        p.credit += rate * std::chrono::duration<double>(now - p.tick).count();
        auto step = std::min(static_cast<std::size_t>(p.credit), p.bytes.size() - p.arrived);
        p.arrived += step;
        p.credit -= static_cast<double>(step);
        if (p.arrived == p.bytes.size() && !p.ended) p.credit = 0;  // the line idles, no saving up
      }
      p.tick = now;
      // The shortest page time holds for the receiving computer, which measures it.
      bool longEnough = cfg.minPageTime.count() == 0 || (p.receiving && now >= p.rxStart + cfg.minPageTime);
      if (p.ended && p.arrived == p.bytes.size() && longEnough) {
        p.crossed = true;
        changed.notify_all();
      }
      break;  // pages cross one after another
    }
  }

  bool advance(Modem& m, Clock::time_point now) {
    auto c = m.call;
    if (!c) return false;
    Modem* far = other(m);
    switch (m.st) {
      case St::Dialling:
        if (!c->ringing) {
          if (now < c->dialAt) return false;
          resolveDial(m);
          return true;
        }
        if (c->answered) return false;
        if (now >= c->giveUpAt) {
          if (far) detach(*far);
          endDial(m, "no-answer", "NO CARRIER");
          return true;
        }
        return false;
      case St::Idle:  // callee with a ringing call
        if (m.isCaller || !c->ringing) return false;
        if (now >= c->nextRing) {
          c->nextRing = now + cfg.ringPeriod;
          ++c->rings;
          result(m, "RING");
          changed.notify_all();
          if (m.s0 > 0 && c->rings >= m.s0) answer(m);
          return true;
        }
        return false;
      default: break;
    }
    if (m.st == St::Online) return false;  // the computer's move
    if (m.isCaller) {
      auto& p = c->pages.back();
      // The modem's buffer is the part of the page not yet on the line.
      std::size_t transit = p.bytes.size() - p.arrived;
      if (m.swFlow && !m.xoffSent && transit > 2048) {
        raw(m, std::string(1, static_cast<char>(kXoff)));
        m.xoffSent = true;
      } else if (m.xoffSent && transit < 512) {
        raw(m, std::string(1, static_cast<char>(kXon)));
        m.xoffSent = false;
      }
      if (m.st == St::TxData || m.st == St::TxEnding) {
        if (m.st == St::TxEnding && (p.crossed || c->down)) {
          result(m, "OK");
          m.st = St::Online;
          return true;
        }
        return false;
      }
      if (m.st == St::TxWaitPpr) {
        if (p.ppr >= 0) {
          m.lastPpr = p.ppr;
          info(m, rep(m, "+FPTS:", "+FPS:") + std::to_string(p.ppr));
          if (p.ppm == 2) {
            hangUpReport(m, 0);
            detach(m);
          } else {
            m.st = St::Online;
          }
          result(m, "OK");
          return true;
        }
        if (c->down) {
          int code = dropCode(m);
          detach(m);
          hangUpReport(m, code);
          result(m, "OK");
          return true;
        }
      }
      return false;
    }
    // callee
    switch (m.st) {
      case St::Answering:
        if (!c->pages.empty()) {
          if (!c->rec.tsi.empty()) info(m, rep(m, "+FTSI:", "+FTI:") + "\"" + c->rec.tsi + "\"");
          info(m, rep(m, "+FDCS:", "+FCS:") + c->pages.front().dcs);
          result(m, "OK");
          m.st = St::Online;
          return true;
        }
        if (c->down) {
          int code = dropCode(m);
          detach(m);
          hangUpReport(m, code);
          result(m, "OK");
          return true;
        }
        return false;
      case St::RxWaitPage: {
        if (m.judgePending) {
          auto& p = c->pages[m.rxPage - 1];
          bool rtn = pageJudgedBad(m, m.rxPage);
          p.ppr = rtn ? 2 : m.judged > 0 ? m.judged : 1;
          m.judged = 0;
          m.judgePending = false;
          changed.notify_all();
          if (p.ppm == 2) {
            c->eop = true;
            c->rec.outcome = "completed";
            hangUpReport(m, 0);
            result(m, "OK");
            detach(m);
            return true;
          }
          if (hangUpAfter(m) == static_cast<int>(m.rxPage)) drop(*c);
        }
        if (m.rxPage < c->pages.size() && !c->down) {
          info(m, rep(m, "+FDCS:", "+FCS:") + c->pages[m.rxPage].dcs);
          result(m, "CONNECT");
          m.st = St::RxWaitDc2;
          return true;
        }
        if (c->down) {
          int code = dropCode(m);
          detach(m);
          hangUpReport(m, code);
          result(m, "OK");
          return true;
        }
        return false;
      }
      case St::RxData: {
        auto& p = c->pages[m.rxPage];
        bool progressed = false;
        if (!m.held && m.out.size() < kOutLimit && m.delivered < p.arrived) {
          std::string chunk;
          while (m.delivered < p.arrived && chunk.size() < kOutLimit) {
            std::uint8_t b = p.bytes[m.delivered++];
            if (m.bor & 1) b = Reverse(b);
            if (b == kDle) chunk += static_cast<char>(kDle);
            chunk += static_cast<char>(b);
          }
          raw(m, chunk);
          progressed = true;
        }
        if (p.crossed && m.delivered == p.bytes.size()) {
          raw(m, std::string(cfg.fillAfterPage, '\0') + static_cast<char>(kDle) + static_cast<char>(kEtx));
          int quality = pageJudgedBad(m, m.rxPage + 1) ? 2 : 1;
          // Only the copy quality: efax takes further values for bad lines.
          info(m, rep(m, "+FPTS:", "+FPS:") + std::to_string(quality));
          ++m.rxPage;
          m.st = St::RxWaitPpm;
          return true;
        }
        if (c->down && !p.ended) {
          raw(m, {static_cast<char>(kDle), static_cast<char>(kEtx)});
          int code = dropCode(m);
          detach(m);
          hangUpReport(m, code);
          result(m, "OK");
          return true;
        }
        return progressed;
      }
      case St::RxWaitPpm: {
        auto& p = c->pages[m.rxPage - 1];
        if (p.ppm >= 0) {
          info(m, "+FET:" + std::to_string(p.ppm));
          result(m, "OK");
          m.judgePending = true;
          m.st = St::Online;
          return true;
        }
        if (c->down) {
          int code = dropCode(m);
          detach(m);
          hangUpReport(m, code);
          result(m, "OK");
          return true;
        }
        return false;
      }
      default: return false;
    }
  }

  bool pageJudgedBad(const Modem& m, std::size_t pageNumber) {
    const Modem* far = m.call && m.call->caller >= 0 ? &modems[static_cast<std::size_t>(m.call->caller)] : nullptr;
    int n = static_cast<int>(pageNumber);
    return m.cfg.faults.rtnPage == n || (far && far->cfg.faults.rtnPage == n);
  }

  int hangUpAfter(const Modem& m) {
    const Modem* far = m.call && m.call->caller >= 0 ? &modems[static_cast<std::size_t>(m.call->caller)] : nullptr;
    int a = m.cfg.faults.hangUpAfterPage, b = far ? far->cfg.faults.hangUpAfterPage : 0;
    return a && b ? std::min(a, b) : a ? a : b;
  }

  // ---- loop ----

  void run() {
    std::unique_lock lock(mu);
    std::vector<pollfd> fds;
    while (!stopping) {
      fds.clear();
      fds.push_back({wake, POLLIN, 0});
      bool active = false;
      for (auto& m : modems) {
        short ev = 0;
        if (m.master >= 0) ev = POLLIN;
        if (m.master >= 0 && !m.out.empty() && !m.held) ev |= POLLOUT;
        fds.push_back({m.master, ev, 0});
        if (m.call) active = true;
      }
      lock.unlock();
      ::poll(fds.data(), fds.size(), active ? 5 : 200);
      lock.lock();
      if (fds[0].revents & POLLIN) {
        std::uint64_t v;
        [[maybe_unused]] auto r = ::read(wake, &v, sizeof v);
      }
      for (std::size_t k = 0; k < modems.size(); ++k) {
        Modem& m = modems[k];
        if (m.master < 0 || fds[k + 1].fd != m.master) continue;
        if (fds[k + 1].revents & POLLIN) {
          std::uint8_t buf[4096];
          ssize_t got = ::read(m.master, buf, sizeof buf);
          if (got > 0) input(m, buf, static_cast<std::size_t>(got));
        }
      }
      auto now = Clock::now();
      for (auto& c : calls)
        if (!c->rec.ended) advanceLine(*c, now);
      for (bool again = true; again;) {
        again = false;
        for (auto& m : modems) again |= advance(m, now);
      }
      for (auto& m : modems) flush(m);
    }
  }

  void flush(Modem& m) {
    if (m.master < 0 || m.out.empty() || m.held) return;
    ssize_t put = ::write(m.master, m.out.data(), m.out.size());
    if (put > 0) m.out.erase(0, static_cast<std::size_t>(put));
    if (m.out.size() > (1u << 20)) m.out.erase(0, m.out.size() - (1u << 20));
  }
};

Exchange::Exchange(ExchangeConfig config) : impl_(std::make_unique<Impl>()) {
  auto& d = *impl_;
  d.cfg = std::move(config);
  if (d.cfg.dir.empty()) {
    char templ[] = "/tmp/kvXXXXXX";
    if (!mkdtemp(templ)) throw std::system_error(errno, std::generic_category(), "mkdtemp");
    d.cfg.dir = templ;
    d.ownDir = true;
  } else {
    std::filesystem::create_directories(d.cfg.dir);
  }
  d.modems.resize(d.cfg.modems.size());
  try {
    for (std::size_t k = 0; k < d.modems.size(); ++k) {
      auto& m = d.modems[k];
      m.cfg = d.cfg.modems[k];
      if (m.cfg.name.empty()) m.cfg.name = "m" + std::to_string(k + 1);
      m.link = d.cfg.dir / m.cfg.name;
      if (m.link.string().size() > 31) throw std::invalid_argument("port path longer than 31 characters: " + m.link.string());
      d.openTerminal(m);
    }
    d.wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (d.wake < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  } catch (...) {
    for (auto& m : d.modems) {
      d.closeTerminal(m);
      std::error_code ec;
      if (!m.link.empty()) std::filesystem::remove(m.link, ec);
    }
    if (d.ownDir) {
      std::error_code ec;
      std::filesystem::remove(d.cfg.dir, ec);
    }
    throw;
  }
  d.thread = std::thread([&d] { d.run(); });
}

Exchange::~Exchange() {
  auto& d = *impl_;
  {
    std::lock_guard lock(d.mu);
    d.stopping = true;
  }
  d.poke();
  d.thread.join();
  for (auto& m : d.modems) {
    d.closeTerminal(m);
    std::error_code ec;
    std::filesystem::remove(m.link, ec);
  }
  if (d.wake >= 0) ::close(d.wake);
  if (d.ownDir) {
    std::error_code ec;
    std::filesystem::remove(d.cfg.dir, ec);
  }
}

std::size_t Exchange::size() const { return impl_->modems.size(); }

std::filesystem::path Exchange::portPath(std::size_t modem) const { return impl_->modems.at(modem).link; }

int Exchange::index(const std::string& name) const {
  for (std::size_t k = 0; k < impl_->modems.size(); ++k)
    if (impl_->modems[k].cfg.name == name) return static_cast<int>(k);
  return -1;
}

void Exchange::setFaults(std::size_t modem, const Faults& faults) {
  std::lock_guard lock(impl_->mu);
  impl_->modems.at(modem).cfg.faults = faults;
  impl_->poke();
}

void Exchange::unplug(std::size_t modem) {
  std::lock_guard lock(impl_->mu);
  impl_->vanish(impl_->modems.at(modem));
  impl_->poke();
}

void Exchange::plug(std::size_t modem) {
  std::lock_guard lock(impl_->mu);
  auto& m = impl_->modems.at(modem);
  if (m.master < 0) impl_->openTerminal(m);
  impl_->poke();
}

std::vector<CallRecord> Exchange::calls() const {
  std::lock_guard lock(impl_->mu);
  std::vector<CallRecord> out;
  for (auto& c : impl_->calls) {
    CallRecord r = c->rec;
    for (auto& p : c->pages) {
      if (!p.crossed) continue;
      r.pages.push_back({p.bytes, p.dcs, p.ppm, p.ppr});
    }
    out.push_back(std::move(r));
  }
  return out;
}

bool Exchange::waitForCalls(std::size_t n, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mu);
  return impl_->changed.wait_for(lock, timeout, [&] {
    std::size_t ended = 0;
    for (auto& c : impl_->calls) ended += c->rec.ended;
    return ended >= n;
  });
}

bool Exchange::waitForRing(std::size_t modem, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mu);
  auto& m = impl_->modems.at(modem);
  return impl_->changed.wait_for(lock, timeout, [&] { return m.call && !m.isCaller && m.call->rings > 0; });
}

std::vector<std::string> Exchange::commands(std::size_t modem) const {
  std::lock_guard lock(impl_->mu);
  return impl_->modems.at(modem).commands;
}

void ReverseBits(std::vector<std::uint8_t>& data) {
  for (auto& b : data) b = Reverse(b);
}

}  // namespace korvo::modemsim
