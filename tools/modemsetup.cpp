// modemsetup: writes a server's modem table with two modems, one that only
// sends and one that only answers, for a demonstration on simulated modems.
//   modemsetup MODEMS.DBS SEND_PORT RECEIVE_PORT
// An existing table is replaced.
#include <cstdio>
#include <filesystem>

#include "common/database.h"
#include "common/modem_record.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: modemsetup MODEMS.DBS SEND_PORT RECEIVE_PORT\n");
    return 2;
  }
  std::error_code ec;
  std::filesystem::remove(argv[1], ec);
  korvo::Database db(argv[1], sizeof(korvo::ModemRecord), korvo::CompareModemIds);
  if (!db.Open()) {
    std::fprintf(stderr, "modemsetup: cannot open %s\n", argv[1]);
    return 1;
  }
  const struct {
    const char* port;
    int usage;  // 0 send only, 1 receive only
  } modems[] = {{argv[2], 0}, {argv[3], 1}};
  for (auto& m : modems) {
    korvo::ModemRecord r;
    r.SetDefaults();
    r.portName.Assign(m.port);
    r.usage = m.usage;
    r.enabled = 1;
    r.faxSpeed = 5;  // 14400 bit/s
    r.id = static_cast<int32_t>(db.NextSerial());
    if (db.Add(&r) < 0) {
      std::fprintf(stderr, "modemsetup: cannot add %s\n", m.port);
      return 1;
    }
  }
  db.Close();
  return 0;
}
