// A private cupsd for one test: its own configuration, spool, state, logs
// and socket under the sandbox, and a ServerBin that reaches the system's
// filters and daemons through links, with the fax printer's filter and
// backend (0700, so cupsd runs it as root) beside them. Clients of the test
// reach it through CUPS_SERVER. The fax printer queue is added on request.
#pragma once

#include <cctype>
#include <cstdlib>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/capture/programs.h"
#include "tests/support/file_wait.h"
#include "tests/support/sandbox.h"

namespace korvo::test {

class CupsServer {
 public:
  static constexpr const char* kPolicies =
        "<Policy default>\n"
        "  JobPrivateAccess default\n"
        "  JobPrivateValues default\n"
        "  SubscriptionPrivateAccess default\n"
        "  SubscriptionPrivateValues default\n"
        "  <Limit Create-Job Print-Job Print-URI Validate-Job>\n"
        "    Order deny,allow\n"
        "  </Limit>\n"
        "  <Limit Send-Document Send-URI Hold-Job Release-Job Restart-Job Purge-Jobs Set-Job-Attributes Create-Job-Subscription Renew-Subscription Cancel-Subscription Get-Notifications Reprocess-Job Cancel-Current-Job Suspend-Current-Job Resume-Job Cancel-My-Jobs Close-Job CUPS-Move-Job>\n"
        "    Require user @OWNER @SYSTEM\n"
        "    Order deny,allow\n"
        "  </Limit>\n"
        "  <Limit CUPS-Get-Document>\n"
        "    AuthType Default\n"
        "    Require user @OWNER @SYSTEM\n"
        "    Order deny,allow\n"
        "  </Limit>\n"
        "  <Limit CUPS-Add-Modify-Printer CUPS-Delete-Printer CUPS-Add-Modify-Class CUPS-Delete-Class CUPS-Set-Default CUPS-Get-Devices>\n"
        "    AuthType Default\n"
        "    Require user @SYSTEM\n"
        "    Order deny,allow\n"
        "  </Limit>\n"
        "  <Limit Pause-Printer Resume-Printer Enable-Printer Disable-Printer Pause-Printer-After-Current-Job Hold-New-Jobs Release-Held-New-Jobs Deactivate-Printer Activate-Printer Restart-Printer Shutdown-Printer Startup-Printer Promote-Job Schedule-Job-After Cancel-Jobs CUPS-Accept-Jobs CUPS-Reject-Jobs>\n"
        "    AuthType Default\n"
        "    Require user @SYSTEM\n"
        "    Order deny,allow\n"
        "  </Limit>\n"
        "  <Limit Cancel-Job CUPS-Authenticate-Job>\n"
        "    Require user @OWNER @SYSTEM\n"
        "    Order deny,allow\n"
        "  </Limit>\n"
        "  <Limit All>\n"
        "    Order deny,allow\n"
        "  </Limit>\n"
        "</Policy>\n"
        "<Policy authenticated>\n"
        "  JobPrivateAccess default\n"
        "  JobPrivateValues default\n"
        "  SubscriptionPrivateAccess default\n"
        "  SubscriptionPrivateValues default\n"
        "  <Limit Create-Job Print-Job Print-URI Validate-Job>\n"
        "    AuthType Default\n"
        "    Order deny,allow\n"
        "  </Limit>\n"
        "  <Limit Send-Document Send-URI Hold-Job Release-Job Restart-Job Purge-Jobs Set-Job-Attributes Create-Job-Subscription Renew-Subscription Cancel-Subscription Get-Notifications Reprocess-Job Cancel-Current-Job Suspend-Current-Job Resume-Job Cancel-My-Jobs Close-Job CUPS-Move-Job CUPS-Get-Document>\n"
        "    AuthType Default\n"
        "    Require user @OWNER @SYSTEM\n"
        "    Order deny,allow\n"
        "  </Limit>\n"
        "  <Limit CUPS-Add-Modify-Printer CUPS-Delete-Printer CUPS-Add-Modify-Class CUPS-Delete-Class CUPS-Set-Default>\n"
        "    AuthType Default\n"
        "    Require user @SYSTEM\n"
        "    Order deny,allow\n"
        "  </Limit>\n"
        "  <Limit Pause-Printer Resume-Printer Enable-Printer Disable-Printer Pause-Printer-After-Current-Job Hold-New-Jobs Release-Held-New-Jobs Deactivate-Printer Activate-Printer Restart-Printer Shutdown-Printer Startup-Printer Promote-Job Schedule-Job-After Cancel-Jobs CUPS-Accept-Jobs CUPS-Reject-Jobs>\n"
        "    AuthType Default\n"
        "    Require user @SYSTEM\n"
        "    Order deny,allow\n"
        "  </Limit>\n"
        "  <Limit Cancel-Job CUPS-Authenticate-Job>\n"
        "    AuthType Default\n"
        "    Require user @OWNER @SYSTEM\n"
        "    Order deny,allow\n"
        "  </Limit>\n"
        "  <Limit All>\n"
        "    Order deny,allow\n"
        "  </Limit>\n"
        "</Policy>\n"
      ;

  // runtimeRoot: where the backend looks for users' runtime folders.
  // serverBin: where cupsd's ServerBin is made, the fax printer's filter and
  // backend then left to the installation under test; by default a folder
  // of the fixture's own that has them.
  CupsServer(Sandbox& box, const std::filesystem::path& runtimeRoot, const std::filesystem::path& serverBin = {})
      : box_(box), dir_(box.path("cups")) {
    namespace fs = std::filesystem;
    const fs::path bin = serverBin.empty() ? dir_ / "bin" : serverBin;
    // cupsd runs filters as lp, which must reach ServerBin and the PPD.
    fs::permissions(box.root(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    for (const char* d : {"spool", "cache", "state", "log"}) fs::create_directories(dir_ / d);
    for (const char* d : {"filter", "backend"}) fs::create_directories(bin / d);
    for (fs::path p = bin.parent_path(); p != box.root() && p.string().size() > box.root().string().size();
         p = p.parent_path())
      fs::permissions(p, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    for (const auto& e : fs::directory_iterator("/usr/lib/cups")) {
      const auto name = e.path().filename();
      if (name != "filter" && name != "backend") fs::create_directory_symlink(e.path(), bin / name);
    }
    for (const auto& e : fs::directory_iterator("/usr/lib/cups/filter"))
      fs::create_symlink(e.path(), bin / "filter" / e.path().filename());
    if (serverBin.empty()) {
      fs::copy_file(BuildDir() / "capture/rastertokvf", bin / "filter/rastertokvf");
      fs::copy_file(BuildDir() / "capture/kvf", bin / "backend/kvf");
      fs::permissions(bin / "backend/kvf", fs::perms::owner_all);
    }
    // The stock policies: "default", and "authenticated", which the fax
    // printer uses (job-creating operations authenticate the local peer).
    // A location is needed for cupsd to take a client's peer credentials.
    std::ofstream(dir_ / "cupsd.conf") << "Listen " << Socket().string() << "\n"
                                       << "LogLevel debug\nWebInterface No\nBrowsing Off\nDefaultAuthType Basic\n"
                                       << "PreserveJobFiles No\nMaxJobTime 0\n"
                                       << "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                                       << kPolicies;
    std::ofstream(dir_ / "cups-files.conf")
        << "ServerBin " << bin.string() << "\nRequestRoot " << (dir_ / "spool").string()
        << "\nCacheDir " << (dir_ / "cache").string() << "\nStateDir " << (dir_ / "state").string()
        << "\nErrorLog " << ErrorLog().string() << "\nAccessLog "
        << (dir_ / "log/access_log").string() << "\nPageLog " << (dir_ / "log/page_log").string()
        << "\nPrintcap " << (dir_ / "printcap").string() << "\nSetEnv KORVO_RUNTIME_ROOT "
        << runtimeRoot.string() << "\n";
    box.setEnv("CUPS_SERVER", Socket().string());
    // Where root's clients find the certificate that authenticates them.
    box.setEnv("CUPS_STATEDIR", (dir_ / "state").string());
    Start();
  }

  ~CupsServer() { Stop(); }

  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status;
      waitpid(pid_, &status, 0);
      pid_ = -1;
    }
  }

  std::filesystem::path Socket() const { return dir_ / "cups.sock"; }
  std::filesystem::path ErrorLog() const { return dir_ / "log/error_log"; }
  std::filesystem::path SpoolDir() const { return dir_ / "spool"; }
  std::string Log() const { return Sandbox::readFile(ErrorLog()); }
  // Whether the job's document is in the spool (a purge removes it).
  bool Spooled(int job) const {
    char name[16];
    std::snprintf(name, sizeof name, "d%05d-001", job);
    return std::filesystem::exists(SpoolDir() / name);
  }
  bool Running() const { return pid_ > 0; }

  // Adds the fax printer queue as an installation would.
  void AddFaxPrinter() {
    const int rc = Run({"lpadmin", "-p", "Korvo_Printer", "-D", "Korvo Printer", "-v", "kvf:/", "-P",
                        (SourceDir() / "capture/Korvo_Printer.ppd").string(), "-o",
                        "printer-op-policy=authenticated", "-E"});
    ASSERT_EQ(rc, 0) << Output() << Log();
  }

  // Starts cupsd again with these lines added to its configuration.
  void Restart(const std::string& extra) {
    Stop();
    std::ofstream(dir_ / "cupsd.conf", std::ios::app) << extra;
    // Start waits for the new cupsd's listening line.
    std::filesystem::remove(ErrorLog());
    Start();
  }

  // Runs a CUPS client program; its output (both streams) in Output().
  int Run(const std::vector<std::string>& argv) {
    return RunProgram({argv, "/dev/null", box_.path("client.out"), box_.path("client.err"), {}});
  }
  std::string Output() const {
    return Sandbox::readFile(box_.path("client.out")) + Sandbox::readFile(box_.path("client.err"));
  }

  // lp of the file to the fax printer; the job id, 0 when it was refused.
  int Print(const std::filesystem::path& file, const std::vector<std::string>& options = {}) {
    std::vector<std::string> argv = {"lp", "-d", "Korvo_Printer"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(file.string());
    if (Run(argv) != 0) return 0;
    const std::string out = Output(), lead = "request id is Korvo_Printer-";
    const size_t at = out.find(lead);
    if (at == std::string::npos) return 0;
    const size_t digits = at + lead.size();
    return digits < out.size() && std::isdigit(static_cast<unsigned char>(out[digits])) ? std::atoi(out.c_str() + digits) : 0;
  }

  // Waits for cupsd's log to tell about the job.
  bool WaitForJobLog(int job, const std::string& text) {
    return WaitForText(ErrorLog(), "[Job " + std::to_string(job) + "] " + text);
  }

 private:
  void Start() {
    const std::string conf = (dir_ / "cupsd.conf").string(), files = (dir_ / "cups-files.conf").string();
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(127);
      execlp("cupsd", "cupsd", "-f", "-c", conf.c_str(), "-s", files.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    ASSERT_GT(pid_, 0);
    ASSERT_TRUE(WaitForText(ErrorLog(), "Listening to " + Socket().string())) << Log();
  }

  Sandbox& box_;
  std::filesystem::path dir_;
  pid_t pid_ = -1;
};

}  // namespace korvo::test
