// Who may run setup, asked of processes the kernel gave other users and
// groups.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/install/install.h"

namespace {

// RunningAsAdministrator in a child with these credentials; -1 when they
// could not be taken.
int AnswerAs(uid_t uid, gid_t gid, const std::vector<gid_t>& groups) {
  pid_t pid = fork();
  if (pid == 0) {
    if (setgroups(groups.size(), groups.data()) != 0 || setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0)
      _exit(2);
    _exit(RunningAsAdministrator());
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) > 1) return -1;
  return WEXITSTATUS(status);
}

gid_t GroupId(const char* name) {
  const group* g = getgrnam(name);
  return g ? g->gr_gid : static_cast<gid_t>(-1);
}

TEST(RunningAsAdministrator, OnlyRootNotTheGroupsSudoAndWheel) {
  if (geteuid() != 0) GTEST_SKIP() << "taking other credentials needs root";
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  const gid_t sudo = GroupId("sudo"), wheel = GroupId("wheel"), users = GroupId("users");
  ASSERT_NE(sudo, static_cast<gid_t>(-1)) << "Debian has the group sudo";
  struct Case {
    const char* what;
    uid_t uid;
    gid_t gid;
    std::vector<gid_t> groups;
    int expected;
  };
  std::vector<Case> cases = {
      {"root without groups", 0, nobody->pw_gid, {}, 1},
      {"an ordinary user", nobody->pw_uid, nobody->pw_gid, {}, 0},
      // A member of sudo gains the rights only through sudo: on its own it
      // cannot write the system's folders or units.
      {"sudo as a supplementary group", nobody->pw_uid, nobody->pw_gid, {sudo}, 0},
      {"sudo as the effective group", nobody->pw_uid, sudo, {}, 0},
  };
  if (users != static_cast<gid_t>(-1)) cases.push_back({"another group", nobody->pw_uid, nobody->pw_gid, {users}, 0});
  if (wheel != static_cast<gid_t>(-1)) cases.push_back({"wheel", nobody->pw_uid, nobody->pw_gid, {wheel}, 0});
  for (const Case& c : cases) EXPECT_EQ(AnswerAs(c.uid, c.gid, c.groups), c.expected) << c.what;
}

}  // namespace
