// modemsetup: writes a server's modem table with two modems, one that only
// sends and one that only answers, for a demonstration on simulated modems;
// with a login name, also registers that user beside it (RegUsers.dbs in the
// same folder) with every right, so the user's own programs may send, list
// and fetch faxes.
//   modemsetup MODEMS.DBS SEND_PORT RECEIVE_PORT [LOGIN]
// An existing modem table is replaced; a user already registered is kept as is.
// A port name longer than a modem record holds is refused: cut short, it would
// name another device.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/database.h"
#include "common/fields.h"
#include "common/modem_record.h"
#include "common/user_record.h"

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: modemsetup MODEMS.DBS SEND_PORT RECEIVE_PORT [LOGIN]\n");
    return 2;
  }
  constexpr size_t kPortNameMax = decltype(korvo::ModemRecord::portName)::kCapacity;
  for (int i = 2; i < 4; ++i) {
    if (std::strlen(argv[i]) > kPortNameMax) {
      std::fprintf(stderr, "modemsetup: port name longer than %zu characters: %s\n", kPortNameMax, argv[i]);
      return 2;
    }
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

  if (argc == 5) {
    const std::string users = (std::filesystem::path(argv[1]).parent_path() / "RegUsers.dbs").string();
    bool ok = false;
    korvo::UserDatabase book(users, &ok);
    std::string text;
    korvo::EncodeFields(&text, {argv[4], "", std::to_string(korvo::kAdministratorRights), "", "", "", "", ""}, 8);
    korvo::UserRecord known;
    if (!ok || (book.GetUser(argv[4], &known) != 0 && !book.AddUser(text))) {
      std::fprintf(stderr, "modemsetup: cannot register %s in %s\n", argv[4], users.c_str());
      return 1;
    }
  }
  return 0;
}
