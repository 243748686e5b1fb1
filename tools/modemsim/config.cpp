#include <istream>
#include <sstream>
#include <stdexcept>

#include "tools/modemsim/exchange.h"

namespace korvo::modemsim {

namespace {

// Blank-separated words; double quotes keep blanks and are removed.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::string cur;
  bool quoted = false, any = false;
  for (char c : line) {
    if (c == '"') { quoted = !quoted; any = true; continue; }
    if (!quoted && (c == ' ' || c == '\t')) {
      if (any) words.push_back(cur);
      cur.clear();
      any = false;
      continue;
    }
    cur += c;
    any = true;
  }
  if (quoted) throw std::invalid_argument("unbalanced quote: " + line);
  if (any) words.push_back(cur);
  return words;
}

int Number(const std::string& key, const std::string& value) {
  try {
    std::size_t used = 0;
    int v = std::stoi(value, &used);
    if (used != value.size() || v < 0) throw std::invalid_argument(value);
    return v;
  } catch (const std::exception&) {
    throw std::invalid_argument("bad number for " + key + ": " + value);
  }
}

std::string PageBytes(const PageRecord& p) {
  static const char* hex = "0123456789abcdef";
  std::string s;
  for (auto b : p.data) {
    s += hex[b >> 4];
    s += hex[b & 15];
  }
  return s;
}

}  // namespace

ModemConfig ParseModem(const std::string& spec) {
  ModemConfig m;
  for (auto& word : Words(spec)) {
    auto eq = word.find('=');
    std::string key = word.substr(0, eq), value = eq == std::string::npos ? "" : word.substr(eq + 1);
    bool flag = eq == std::string::npos;
    auto need = [&] {
      if (flag) throw std::invalid_argument(key + " needs a value");
    };
    if (key == "name") need(), m.name = value;
    else if (key == "number") need(), m.number = value;
    else if (key == "classes") need(), m.classes = value;
    else if (key == "manufacturer") need(), m.manufacturer = value;
    else if (key == "model") need(), m.model = value;
    else if (key == "revision") need(), m.revision = value;
    else if (key == "no-answer" && flag) m.faults.noAnswer = true;
    else if (key == "busy" && flag) m.faults.busy = true;
    else if (key == "no-carrier" && flag) m.faults.noCarrier = true;
    else if (key == "silent" && flag) m.faults.silent = true;
    else if (key == "class1" && flag) m.faults.class1Only = true;
    else if (key == "not-fax" && flag) m.faults.notFax = true;
    else if (key == "hangup-after-page") need(), m.faults.hangUpAfterPage = Number(key, value);
    else if (key == "rtn-page") need(), m.faults.rtnPage = Number(key, value);
    else if (key == "corrupt-every") need(), m.faults.corruptEvery = Number(key, value);
    else if (key == "error") need(), m.faults.errorOn.push_back(value);
    else if (key == "vanish") need(), m.faults.vanishOn = value;
    else throw std::invalid_argument("unknown modem setting: " + word);
  }
  if (m.name.empty()) throw std::invalid_argument("modem without a name: " + spec);
  if (m.name.find('/') != std::string::npos) throw std::invalid_argument("modem name with a slash: " + m.name);
  return m;
}

ExchangeConfig ParseConfig(std::istream& in) {
  ExchangeConfig cfg;
  std::string line;
  while (std::getline(in, line)) {
    if (auto hash = line.find('#'); hash != std::string::npos && line.find('"') > hash) line.erase(hash);
    auto words = Words(line);
    if (words.empty()) continue;
    const std::string& key = words[0];
    if (key == "modem") {
      cfg.modems.push_back(ParseModem(line.substr(line.find("modem") + 5)));
      continue;
    }
    if (words.size() != 2) throw std::invalid_argument("expected one value: " + line);
    const std::string& value = words[1];
    auto ms = [&] { return std::chrono::milliseconds(Number(key, value)); };
    if (key == "dir") cfg.dir = value;
    else if (key == "ring-ms") cfg.ringPeriod = ms();
    else if (key == "answer-timeout-ms") cfg.answerTimeout = ms();
    else if (key == "dial-delay-ms") cfg.dialDelay = ms();
    else if (key == "min-page-ms") cfg.minPageTime = ms();
    else if (key == "fill-after-page") cfg.fillAfterPage = static_cast<std::size_t>(Number(key, value));
    else if (key == "pace") cfg.pace = Number(key, value) != 0;
    else throw std::invalid_argument("unknown setting: " + line);
  }
  for (std::size_t i = 0; i < cfg.modems.size(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (cfg.modems[i].name == cfg.modems[j].name) throw std::invalid_argument("two modems named " + cfg.modems[i].name);
  return cfg;
}

std::string FormatCalls(const std::vector<CallRecord>& calls) {
  std::ostringstream out;
  for (auto& c : calls) {
    out << "call caller=" << c.caller << " callee=" << c.callee << " dialled=\"" << c.dialled << "\" outcome="
        << c.outcome << " ended=" << c.ended << " tsi=\"" << c.tsi << "\" csi=\"" << c.csi << "\" dis=" << c.dis
        << " dcs=" << c.dcs << " pages=" << c.pages.size() << "\n";
    for (auto& p : c.pages)
      out << "page dcs=" << p.dcs << " ppm=" << p.ppm << " ppr=" << p.ppr << " bytes=" << p.data.size() << " data="
          << PageBytes(p) << "\n";
  }
  return out.str();
}

}  // namespace korvo::modemsim
