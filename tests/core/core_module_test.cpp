// libkorvocore.so as the capture agent loads it: the port functions under
// their C names, and the module object's traces at load and unload.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include <algorithm>
#include <cctype>
#include <string>

#include "tests/support/sandbox.h"

namespace {

using korvo::test::Sandbox;

TEST(CoreModule, TracesItsStartAndStopAndExportsThePortFunctions) {
  Sandbox box;
  Sandbox::writeFile(box.machineHive(),
                     "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Velmora Technologies\\Korvo]\n"
                     "\"DebugFlags\"=dword:00000001\n");
  // A process of its own loads it, so the unload is that process's end.
  const pid_t child = fork();
  if (child == 0) {
    void* core = dlopen(KORVO_CORE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!core) _exit(2);
    for (const char* name : {"KvStartDocPort", "KvWritePort", "KvReadPort", "KvEndDocPort"})
      if (!dlsym(core, name)) _exit(3);
    dlclose(core);
    std::exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "2: not loaded, 3: a port function missing";
  const std::string trace = Sandbox::readFile(box.traceFile());
  // "Start" names the build date as __DATE__ writes it ("May  7 1998").
  const std::string start = "KORVOCORE: ------- Start ------- Version: ";
  const std::string stop = "KORVOCORE: ------- Stop -------- loaded ";
  ASSERT_GE(trace.size(), start.size() + 12) << trace;
  EXPECT_EQ(trace.substr(0, start.size()), start) << trace;
  const std::string date = trace.substr(start.size(), 12);
  EXPECT_TRUE(std::isupper(static_cast<unsigned char>(date[0])) && std::islower(static_cast<unsigned char>(date[1])) &&
              std::islower(static_cast<unsigned char>(date[2])) && date[3] == ' ' &&
              (date[4] == ' ' || std::isdigit(static_cast<unsigned char>(date[4]))) &&
              std::isdigit(static_cast<unsigned char>(date[5])) && date[6] == ' ' &&
              std::all_of(date.begin() + 7, date.begin() + 11, [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }) &&
              date[11] == '\n')
      << trace;
  const std::string rest = trace.substr(start.size() + 12);
  ASSERT_GT(rest.size(), stop.size() + 5) << trace;
  EXPECT_EQ(rest.substr(0, stop.size()), stop) << trace;
  const std::string seconds = rest.substr(stop.size());
  const size_t digits = seconds.find_first_not_of("0123456789");
  EXPECT_TRUE(digits > 0 && digits != std::string::npos && seconds.substr(digits) == " sec\n") << trace;
}

}  // namespace
