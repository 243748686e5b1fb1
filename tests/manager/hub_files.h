// What the manager's tests read and send through a real korvohub: the
// records of a server database file, and a fax to 200 from the test's login.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "common/database.h"
#include "common/fax_header.h"
#include "common/faxclient.h"
#include "tests/server/hub_fixture.h"
#include "tests/server/queue_fixture.h"

namespace korvo::test {

// The records of a database file, in file order.
template <class Record>
std::vector<Record> Records(const std::filesystem::path& file, Database::CompareFn compare) {
  std::vector<Record> out;
  Database db(file.c_str(), sizeof(Record), compare);
  if (!db.Open()) return out;
  Record r;
  for (int i = 0; db.GetAt(i, &r); ++i) out.push_back(r);
  db.Close();
  return out;
}

// A fax of `pages` pages written to `image` and sent now to 200 ("Ana").
inline void SendFaxTo200(FaxClient& client, const std::string& image, const std::string& subject, int pages) {
  WriteFaxFile(image, pages);
  FaxHeader header;
  header.sender = Lan(OwnLogin());
  header.subject = subject;
  header.recipients.AddTail(Fax("200", "Ana"));
  header.sendTime = ScheduleTimeInfo(ScheduleTimeInfo::kAtChosenTime, static_cast<int32_t>(std::time(nullptr)));
  ASSERT_EQ(client.SendFax(".", header, image).status, 0u);
}

}  // namespace korvo::test
