// The installation media as scripts/media.sh makes them, and KvCopy bringing
// every packed file back as it was built.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "core/install/install.h"
#include "platform/lasterror.h"
#include "platform/lz_expand.h"
#include "platform/process.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;
using test::Sandbox;

bool MakeMedia(const fs::path& dir, bool compress) {
  std::vector<std::string> argv = {(test::SourceDir() / "scripts" / "media.sh").string(), dir.string()};
  if (compress) argv.push_back("--compress");
  return platform::RunProcess(argv);
}

unsigned Mode(const fs::path& p) {
  struct stat st{};
  stat(p.c_str(), &st);
  return st.st_mode & 07777;
}

TEST(Media, PackedMediaExpandToThePlainOnes) {
  Sandbox sandbox;
  const fs::path plain = sandbox.path("plain"), packed = sandbox.path("packed"), out = sandbox.path("out");
  ASSERT_TRUE(MakeMedia(plain, false));
  ASSERT_TRUE(MakeMedia(packed, true));
  fs::create_directories(out);

  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(plain))
    if (!e.is_directory()) names.insert(e.path().filename().string());
  // The help book stays plain in its folder.
  EXPECT_TRUE(fs::is_regular_file(packed / "help/korvodesk.hhp"));
  EXPECT_EQ(Sandbox::readFile(packed / "help/korvodesk.hhp"), Sandbox::readFile(plain / "help/korvodesk.hhp"));
  for (const char* needed : {"libkorvocore.so", "README.TXT", "korvohub"}) EXPECT_TRUE(names.count(needed)) << needed;

  // The launcher, the library it opens and the read-me stay plain: they are
  // used from the media as they are.
  const std::set<std::string> keptPlain = {"korvoprep", "libkorvocore.so", "README.TXT"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string packedName = keptPlain.count(name) ? name : name.substr(0, name.size() - 1) + "_";
    ASSERT_TRUE(fs::exists(packed / packedName));
    EXPECT_EQ(platform::IsCompressedFile((packed / packedName).string()), !keptPlain.count(name));
    if (!keptPlain.count(name)) {
      EXPECT_FALSE(fs::exists(packed / name));
    }
    EXPECT_EQ(Mode(packed / packedName), Mode(plain / name));
    const std::string pattern = (packed / (name.substr(0, name.size() - 1) + "?")).string();
    ASSERT_EQ(KvCopy(pattern.c_str(), (out / name).c_str()), 1) << platform::GetLastError();
    EXPECT_TRUE(Sandbox::readFile(out / name) == Sandbox::readFile(plain / name));
    EXPECT_EQ(Mode(out / name), Mode(plain / name));
  }
}

// The media script writes nothing into a folder another login owns (one
// left open under /tmp, say): setup would run as root what that login put
// there.
TEST(Media, RefusesAFolderOfAnotherLogin) {
  if (geteuid() != 0) GTEST_SKIP() << "a folder of another login needs root";
  Sandbox sandbox;
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  const fs::path planted = sandbox.path("planted");
  fs::create_directories(planted);
  ASSERT_EQ(chown(planted.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  fs::permissions(planted, fs::perms::all);
  EXPECT_FALSE(MakeMedia(planted, false));
  EXPECT_TRUE(fs::is_empty(planted));
  // A new folder, or one of its own, is fine.
  EXPECT_TRUE(MakeMedia(sandbox.path("new"), false));
  EXPECT_TRUE(fs::exists(sandbox.path("new") / "README.TXT"));
}

}  // namespace
}  // namespace korvo
