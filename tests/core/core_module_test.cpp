// libkorvocore.so as the capture agent loads it: the port functions under
// their C names, and the module object's traces at load and unload.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include <regex>
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
  EXPECT_TRUE(std::regex_match(trace, std::regex("KORVOCORE: ------- Start ------- Version: "
                                                 "[A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4}\n"
                                                 "KORVOCORE: ------- Stop -------- loaded [0-9]+ sec\n")))
      << trace;
}

}  // namespace
