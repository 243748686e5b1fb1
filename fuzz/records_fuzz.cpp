// Arbitrary bytes as a fax header file, as a record database file (once as
// they are, once behind a valid header so the slot operations run on them),
// and as record texts.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/book_records.h"
#include "common/database.h"
#include "common/fax_header.h"
#include "common/modem_record.h"
#include "common/user_record.h"

namespace {

std::string& Folder() {
  static std::string folder;
  return folder;
}

// Unusable books are kept beside themselves (file.damaged, .damaged.2, ...):
// they go after every input, so they neither pile up nor outlive the run.
void ClearFolder() {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(Folder(), ec))
    std::filesystem::remove(entry.path(), ec);
}

std::string TempPath() {
  static const std::string path = [] {
    char dir[] = "/tmp/korvo-records-fuzz-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    Folder() = dir;
    std::atexit([] {
      ClearFolder();
      rmdir(Folder().c_str());
    });
    return Folder() + "/file";
  }();
  return path;
}

void WriteFile(const std::string& path, const uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

void Exercise(korvo::Database& db, const uint8_t* data, std::size_t size) {
  if (!db.Open()) return;
  korvo::AddressRecord r;
  for (std::size_t i = 0; i < 8; ++i) {
    r.id = static_cast<int32_t>(i < size ? data[i] : i) - 64;
    int index = 0;
    db.IndexOf(&r, &index);
    db.Get(&r, &r);
    db.GetAt(index, &r);
    switch ((i < size ? data[size - 1 - i] : 0) % 5) {
      case 0: db.Add(&r); break;
      case 1: db.Delete(&r); break;
      case 2: db.Replace(&r); break;
      case 3: db.MarkCurrent(true); db.IsCurrentMarked(&r); break;
      default: db.Compact(); db.NextSerial(); break;
    }
  }
  db.Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string path = TempPath();

  WriteFile(path, data, size);
  korvo::FaxHeader header;
  header.LoadFromFile(path);
  {
    korvo::Database db(path.c_str(), sizeof(korvo::AddressRecord), korvo::CompareAddressIds);
    Exercise(db, data, size);
  }

  // A valid header claiming up to 16 slots, then the bytes as slots.
  std::string file(32, '\0');
  const uint32_t version = 0xDB01, stored = sizeof(korvo::AddressRecord) + 1;
  const uint32_t count = size ? data[0] % 17 : 0;
  std::memcpy(file.data(), &version, 4);
  std::memcpy(file.data() + 4, &stored, 4);
  std::memcpy(file.data() + 8, &count, 4);
  file.append(reinterpret_cast<const char*>(data), size);
  WriteFile(path, reinterpret_cast<const uint8_t*>(file.data()), file.size());
  {
    korvo::Database db(path.c_str(), sizeof(korvo::AddressRecord), korvo::CompareAddressIds);
    Exercise(db, data, size);
  }

  const std::string text(reinterpret_cast<const char*>(data), size);
  korvo::UserRecord user;
  user.Decode(text);

  // Names from the text into a user book: every added name must be found.
  std::remove(path.c_str());
  {
    bool ok = false;
    korvo::UserDatabase users(path, &ok);
    if (ok) {
      std::size_t start = 0;
      for (int i = 0; i < 6 && start <= text.size(); ++i) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string name = text.substr(start, end - start);
        start = end + 1;
        std::erase_if(name, [](char c) { return c == '\x1B' || c == '\0'; });
        if (users.AddUser(name + "\x1B\x1B" "2\x1B") && users.GetRights(name) != 2) std::abort();
      }
    }
  }
  korvo::ModemRecord modem;
  modem.Decode(text);
  (void)modem.Encode();
  korvo::AddressRecord address;
  address.Decode(text);
  (void)address.Encode();
  header.LoadFromBytes(text);
  ClearFolder();
  return 0;
}
