// faxdemo: the client API from the shell, for trying a server by hand.
//   faxdemo send NUMBER FILE [SUBJECT]   FILE: a print job or a fax TIFF
//   faxdemo list [received|mine|sent|outgoing]
//   faxdemo fetch JOBID OUTFILE
// It talks to the user's default server and makes its temporary files in the
// user's data folder, both from the registry (KORVO_* hives).
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
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

// The usage on standard error with 2 for a wrong command line; asked for,
// on standard output with 0.
int Usage(bool asked = false) {
  (asked ? std::cout : std::cerr) << "usage: faxdemo send NUMBER FILE [SUBJECT]  queue FILE (a print job or a fax TIFF) for NUMBER\n"
               "       faxdemo list [LIST]                 the faxes of one list:\n"
               "         received  faxes received for the dispatchers (the default)\n"
               "         mine      faxes received for you, and yours that were returned\n"
               "         sent      your faxes waiting to go out\n"
               "         outgoing  every fax waiting to go out\n"
               "       faxdemo fetch JOBID OUTFILE         a received fax into OUTFILE; the fetch hands\n"
               "                                           the fax over, so it leaves its list\n";
  return asked ? 0 : 2;
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

// A new temporary file of the data folder, open, removed when it goes out
// of scope; made() is false when none could be made.
struct TempFile {
  explicit TempFile(const char* prefix) { FaxClient::MakeTempFile(GetUserEnvironment().GetDataPath(), prefix, file); }
  ~TempFile() {
    file.Close();
    FaxClient::DeleteTempFile(file.GetFileName());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  bool made() const { return file.IsOpen(); }
  TextFile file;
};

// Everything in the file, read through its handle from the start.
std::string ReadAll(Stream& file) {
  std::string bytes;
  if (file.SeekToBegin() != 0) return bytes;
  char block[4096];
  uint32_t done = 0;
  while (file.Read(block, sizeof block, &done)) bytes.append(block, done);
  return bytes;
}

// The print job as a fax file: 0 or the conversion's status.
Status ConvertPrintJob(const std::string& printPath, TextFile& image) {
  Prn2Tiff conversion;
  Status status = conversion.Open(printPath, image);
  if (status != 0) return status;
  while ((status = conversion.NextPage()) == 0)
    if ((status = conversion.ConvertPage()) != 0) return status;
  return status == kStatusEndOfPrnDocument ? 0 : status;
}

int Send(FaxClient& client, const char* server, const std::string& number, const std::string& file,
         const std::string& subject) {
  if (!std::ifstream(file, std::ios::binary)) return Failed("cannot read " + file);
  TempFile converted("FAX");
  FileRef image = file;
  // A fax file that reads goes as it is; anything else is taken for a print
  // job, converted into the temporary file and sent from its handle.
  if (CountTiffPages(file) == 0) {
    if (!converted.made()) return Failed(GetStatusText(kStatusOpenPrnOrTiff));
    if (Status status = ConvertPrintJob(file, converted.file); status != 0)
      return Failed(file + ": " + GetStatusText(status));
    image = converted.file;
  }
  FaxHeader header;
  header.sender = FaxSenderOrRecipient(client.GetUserName(), 1, "", "", "", "");
  header.subject = subject;
  header.recipients.AddTail(FaxSenderOrRecipient(number, 0, "", "", "", ""));
  header.sendTime = ScheduleTimeInfo(ScheduleTimeInfo::kAtChosenTime, static_cast<int32_t>(std::time(nullptr)));
  return Report(client.SendFax(server, header, image));
}

// The lists by name, as the usage tells them.
const std::map<std::string, uint32_t> kLists = {
    {"received", 5010}, {"mine", 5020}, {"sent", 6020}, {"outgoing", 6000}};

int List(FaxClient& client, const char* server, uint32_t code) {
  TempFile file("LST");
  if (!file.made()) return Failed(GetStatusText(kStatusGetFileFromServer));
  RequestResult result = client.DownloadList(server, code, nullptr, file.file);
  if (result.status != 0) return Report(result);
  // Each line: image id, job id, sender, recipient, subject, submit and due
  // times, seconds, pages, pages done, state, ...; fields end in 0x1B, lines
  // in CR LF.
  std::istringstream in(ReadAll(file.file));
  std::string line;
  bool any = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (!any) std::cout << "JOBID\tSENDER\tSUBJECT\tPAGES\tSTATE\n";
    any = true;
    std::vector<std::string> fields(15);
    DecodeFields(line, fields);
    const char* state = JobState::Name(std::atoi(fields[10].c_str()));
    std::cout << fields[1] << "\t" << fields[2] << "\t" << fields[4] << "\t" << fields[8] << "\t"
              << (*state ? state : fields[10].c_str()) << "\n";
  }
  if (!any) std::cout << "no faxes\n";
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
  if (!header.made()) return Failed(GetStatusText(kStatusGetFileFromServer));
  // The output is opened before the fax is asked for: a path that cannot be
  // written is told as such, and the fax stays with the server.
  std::error_code ec;
  const bool existed = std::filesystem::exists(outFile, ec);
  TextFile image;
  if (!image.Open(outFile.c_str(), kGenericRead | kGenericWrite, kFileShareRead, kOpenAlways)) {
    char text[256];
    image.GetErrorText(text, sizeof text);
    return Failed("cannot write " + outFile + ": " + text);
  }
  RequestResult result = client.GetFax(server, id, header.file, image);
  image.Close();
  if (result.status != 0 && !existed) std::filesystem::remove(outFile, ec);
  // The server answers a fax it will not hand over with no reason of its own.
  if (result.status == kStatusServerErrorIndication)
    return Failed("fax " + std::to_string(id) + " cannot be fetched: it is in none of your lists, or was fetched already (" +
                  result.text + ")");
  return Report(result);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const std::string command = args.empty() ? "" : args[0];
  const std::string list = command == "list" && args.size() == 2 ? args[1] : "received";
  const bool known = (command == "send" && (args.size() == 3 || args.size() == 4)) ||
                     (command == "list" && args.size() <= 2 && kLists.count(list)) ||
                     (command == "fetch" && args.size() == 3 && JobId(args[1]));
  if (args.size() == 1 && (command == "--help" || command == "-h" || command == "help")) return Usage(true);
  if (!known) return Usage();

  UserEnvironment& environment = GetUserEnvironment();
  if (!environment.GetDataPathProblem().empty()) return Failed(environment.GetDataPathProblem());
  if (environment.GetDataPath().empty()) return Failed(
        "no data folder (user DataPath or machine DefaultUsersDataPath); for the server of scripts/run.sh, first "
        "run the export line it printed");
  if (environment.GetDefaultServer().empty()) return Failed("no default server (DefaultServer)");
  const char* server = environment.GetDefaultServer().c_str();
  FaxClient client;
  if (command == "send") return Send(client, server, args[1], args[2], args.size() == 4 ? args[3] : "");
  if (command == "list") return List(client, server, kLists.at(list));
  return Fetch(client, server, JobId(args[1]), args[2]);
}
