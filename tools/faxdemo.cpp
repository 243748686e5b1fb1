// faxdemo: the client API from the shell, for trying a server by hand.
//   faxdemo send NUMBER FILE [SUBJECT]   FILE: a print job or a fax TIFF
//   faxdemo list [received|outgoing|mine]
//   faxdemo fetch JOBID OUTFILE
// It talks to the user's default server and makes its temporary files in the
// user's data folder, both from the registry (KORVO_* hives).
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "common/fax_header.h"
#include "common/faxclient.h"
#include "common/fields.h"
#include "common/job_state.h"
#include "common/prn2tiff.h"
#include "common/status.h"
#include "common/status_codes.h"
#include "common/tiff_reader.h"
#include "common/userenvironment.h"

namespace {

using namespace korvo;

int Usage() {
  std::cerr << "usage: faxdemo send NUMBER FILE [SUBJECT] | list [received|outgoing|mine] | fetch JOBID OUTFILE\n";
  return 2;
}

int Failed(const std::string& text) {
  std::cerr << "faxdemo: " << text << "\n";
  return 1;
}

// The request's outcome on the console: 0 on success, else 1.
int Report(const RequestResult& result) {
  // A success may carry no text of its own.
  const std::string text = result.text.empty() ? GetStatusText(result.status) : result.text;
  if (result.status != 0) return Failed(text);
  std::cout << text << "\n";
  return 0;
}

// Removes a temporary file of the data folder when it goes out of scope.
struct TempFile {
  explicit TempFile(const char* prefix)
      : name(FaxClient::MakeTempFileName(GetUserEnvironment().GetDataPath(), prefix)) {}
  ~TempFile() { FaxClient::DeleteTempFile(name); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  std::string name;
};

// The print job as a fax file: 0 or the conversion's status.
Status ConvertPrintJob(const std::string& printPath, const std::string& imagePath) {
  Prn2Tiff conversion;
  Status status = conversion.Open(printPath, imagePath);
  if (status != 0) return status;
  while ((status = conversion.NextPage()) == 0)
    if ((status = conversion.ConvertPage()) != 0) return status;
  return status == kStatusEndOfPrnDocument ? 0 : status;
}

int Send(FaxClient& client, const char* server, const std::string& number, const std::string& file,
         const std::string& subject) {
  if (!std::ifstream(file, std::ios::binary)) return Failed("cannot read " + file);
  TempFile converted("FAX");
  std::string image = file;
  // A fax file that reads goes as it is; anything else is taken for a print job.
  if (CountTiffPages(file) == 0) {
    if (converted.name.empty()) return Failed(GetStatusText(kStatusOpenPrnOrTiff));
    if (Status status = ConvertPrintJob(file, converted.name); status != 0)
      return Failed(file + ": " + GetStatusText(status));
    image = converted.name;
  }
  FaxHeader header;
  header.sender = FaxSenderOrRecipient(client.GetUserName(), 1, "", "", "", "");
  header.subject = subject;
  header.recipients.AddTail(FaxSenderOrRecipient(number, 0, "", "", "", ""));
  header.sendTime = ScheduleTimeInfo(ScheduleTimeInfo::kAtChosenTime, static_cast<int32_t>(std::time(nullptr)));
  return Report(client.SendFax(server, header, image));
}

// The lists by name: the faxes received for the dispatchers, every fax
// waiting to go out, and the user's own received faxes.
const std::map<std::string, uint32_t> kLists = {{"received", 5010}, {"outgoing", 6000}, {"mine", 5020}};

int List(FaxClient& client, const char* server, uint32_t code) {
  TempFile file("LST");
  if (file.name.empty()) return Failed(GetStatusText(kStatusGetFileFromServer));
  RequestResult result = client.DownloadList(server, code, nullptr, file.name);
  if (result.status != 0) return Report(result);
  // Each line: image id, job id, sender, recipient, subject, submit and due
  // times, seconds, pages, pages done, state, ...; fields end in 0x1B, lines
  // in CR LF.
  std::ifstream in(file.name, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::vector<std::string> fields(15);
    DecodeFields(line, fields);
    const char* state = JobState::Name(std::atoi(fields[10].c_str()));
    std::cout << fields[1] << "\t" << fields[2] << "\t" << fields[4] << "\t" << fields[8] << "\t"
              << (*state ? state : fields[10].c_str()) << "\n";
  }
  return 0;
}

// A job id as the server numbers them; 0 when the text is none.
int32_t JobId(const std::string& text) {
  char* end = nullptr;
  const long id = std::strtol(text.c_str(), &end, 10);
  return text.empty() || *end || id <= 0 || id > INT32_MAX ? 0 : static_cast<int32_t>(id);
}

int Fetch(FaxClient& client, const char* server, int32_t id, const std::string& outFile) {
  TempFile header("HDR");
  if (header.name.empty()) return Failed(GetStatusText(kStatusGetFileFromServer));
  return Report(client.GetFax(server, id, header.name, outFile));
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const std::string command = args.empty() ? "" : args[0];
  const std::string list = command == "list" && args.size() == 2 ? args[1] : "received";
  const bool known = (command == "send" && (args.size() == 3 || args.size() == 4)) ||
                     (command == "list" && args.size() <= 2 && kLists.count(list)) ||
                     (command == "fetch" && args.size() == 3 && JobId(args[1]));
  if (!known) return Usage();

  UserEnvironment& environment = GetUserEnvironment();
  if (environment.GetDataPath().empty()) return Failed("no data folder (user DataPath or machine DefaultUsersDataPath)");
  if (environment.GetDefaultServer().empty()) return Failed("no default server (DefaultServer)");
  const char* server = environment.GetDefaultServer().c_str();
  FaxClient client;
  if (command == "send") return Send(client, server, args[1], args[2], args.size() == 4 ? args[3] : "");
  if (command == "list") return List(client, server, kLists.at(list));
  return Fetch(client, server, JobId(args[1]), args[2]);
}
