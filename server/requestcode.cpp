#include "server/requestcode.h"

#include <iterator>
#include <map>

namespace korvo {

namespace {

constexpr RequestCode kTable[] = {
    {10, 0, "Data", false},
    {0, 0, "Ok", false},
    {2, 0, "Error", false},
    {2000, 0, "Introduce", false},
    {2020, 0, "Get permissions", false},
    {2010, 0, "Report client version", false},
    {2200, 16, "Display event log", false},
    {2202, 16, "Clear event log", false},
    {88, 0, "Debug message", false},
    {90, 0, "Ping message", false},
    {2120, 16, "Get fax server parameters", false},
    {2130, 16, "Set fax server parameters", false},
    {2140, 0, "Get fax server version", false},
    {2150, 0, "Get current time", false},
    {2210, 16, "Get fax server journal", false},
    {2220, 2, "Get user's journal", false},
    {2212, 16, "Clear fax server journal", false},
    {2222, 2, "Clear user's journal", false},
    {3000, 16, "Shut down unconditionally", false},
    {3010, 16, "Shut down gracefully", false},
    {3020, 16, "Suspend normal server operation", false},
    {3030, 16, "Resume normal server operation", false},
    {3040, 0, "Return information: is server suspended", false},
    {4000, 2, "Send a fax to server", false},
    {4010, 2, "Get a fax from server", false},
    {4020, 16, "Delete a fax from queue", false},
    {4030, 2, "Delete user's fax from queue", false},
    {5000, 16, "Get list of all incoming faxes", false},
    {5010, 8, "Get list of all incoming anonymous faxes", false},
    {5020, 2, "Get list of incoming faxes for the current user", false},
    {5026, 2, "Get list of faxes for the current user input box", false},
    {5030, 2, "Get list of faxes returned to the current user", false},
    {6000, 16, "Get list of all outgoing faxes", false},
    {6020, 2, "Get list of outgoing faxes sent by the current user", false},
    {7000, 2, "Get list of address book entries", false},
    {7010, 4, "Add an entry to the address book", true},
    {7020, 4, "Delete an address book entry", true},
    {7030, 4, "Edit an address book entry", true},
    {7500, 2, "Get list of registered users", false},
    {7510, 16, "Add a registered user", true},
    {7520, 16, "Delete a registered user", true},
    {7530, 16, "Edit registered user's data", true},
    {7540, 2, "Get registered user's data", false},
    {7800, 2, "Get list of senders of junk faxes", false},
    {7810, 4, "Add a junk fax sender", true},
    {7820, 4, "Delete a junk fax sender", true},
    {7830, 4, "Edit junk fax sender's data", true},
    {8020, 16, "Add a new modem", false},
    {8030, 16, "Edit modem's data", false},
    {8040, 16, "Delete a modem", false},
    {8000, 16, "Get list of all modems", false},
};

}  // namespace

const RequestCode* RequestCode::Find(uint32_t code) {
  // Built once, on first use; read-only afterwards, so any thread may look up.
  static const std::map<uint32_t, const RequestCode*> byCode = [] {
    std::map<uint32_t, const RequestCode*> m;
    for (const auto& entry : kTable) m.emplace(entry.code, &entry);
    return m;
  }();
  auto it = byCode.find(code);
  return it == byCode.end() ? nullptr : it->second;
}

const RequestCode* RequestCode::Table(size_t* count) {
  *count = std::size(kTable);
  return kTable;
}

}  // namespace korvo
