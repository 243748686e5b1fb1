// modemsim: runs a simulated exchange of fax modems until SIGTERM or SIGINT.
//   modemsim [--config FILE] [--set "KEY VALUE"]... [--modem "name=m1 number=100 ..."]...
//            [--record FILE]
// Prints "port NAME PATH" for every modem, then "ready". With --record, the calls
// are written to FILE (see FormatCalls) whenever one ends, and at exit.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>

#include "tools/modemsim/exchange.h"

using namespace korvo::modemsim;

namespace {

void WriteRecord(const std::string& path, const Exchange& ex) {
  if (path.empty()) return;
  std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::trunc);
    out << FormatCalls(ex.calls());
  }
  std::rename(tmp.c_str(), path.c_str());
}

int Usage() {
  std::cerr << "usage: modemsim [--config FILE] [--set \"KEY VALUE\"]... [--modem SPEC]... [--record FILE]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::ostringstream text;
  std::string record;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (i + 1 >= argc) return Usage();
    std::string v = argv[++i];
    if (a == "--config") {
      std::ifstream in(v);
      if (!in) {
        std::cerr << "modemsim: cannot read " << v << "\n";
        return 2;
      }
      text << in.rdbuf() << "\n";
    } else if (a == "--set") {
      text << v << "\n";
    } else if (a == "--modem") {
      text << "modem " << v << "\n";
    } else if (a == "--record") {
      record = v;
    } else {
      return Usage();
    }
  }
  // Blocked before the exchange thread starts, so that only sigtimedwait sees them.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  try {
    std::istringstream in(text.str());
    Exchange ex(ParseConfig(in));
    for (std::size_t k = 0; k < ex.size(); ++k)
      std::cout << "port " << ex.portPath(k).filename().string() << " " << ex.portPath(k).string() << "\n";
    std::cout << "ready" << std::endl;
    std::size_t written = static_cast<std::size_t>(-1);
    for (;;) {
      timespec tick{0, 100 * 1000 * 1000};
      int sig = sigtimedwait(&stop, nullptr, &tick);
      std::size_t ended = 0;
      for (auto& c : ex.calls()) ended += c.ended;
      if (ended != written) {
        WriteRecord(record, ex);
        written = ended;
      }
      if (sig == SIGTERM || sig == SIGINT) break;
    }
    WriteRecord(record, ex);
  } catch (const std::exception& e) {
    std::cerr << "modemsim: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
