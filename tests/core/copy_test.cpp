// KvCopy over installation media packed by our szddpack and by mscompress:
// what arrives, with which mode, and what a failed copy leaves behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/install/install.h"
#include "platform/lasterror.h"
#include "platform/process.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;
using test::Sandbox;

enum class Packer { kPlain, kSzddpack, kMscompress };

std::string Binary(size_t size) {
  std::mt19937 random(1234);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(random());
  return s;
}

std::string Runs() {
  std::string s(70000, 'A');
  s += std::string(5000, '\0') + "ABABABABABAB" + std::string(20000, ' ') + Binary(300) + std::string(4099, 'z');
  return s;
}

std::vector<std::string> Entries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

unsigned Mode(const fs::path& p) {
  struct stat st{};
  stat(p.c_str(), &st);
  return st.st_mode & 07777;
}

class KvCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(media_);
    fs::create_directories(dest_);
  }
  // The media file "korvodesk" holding the data, packed as asked (the
  // packed file named "korvodes_"); its path.
  fs::path Media(const std::string& data, Packer packer, unsigned mode = 0751) {
    const fs::path plain = media_ / "korvodesk";
    Sandbox::writeFile(plain, data);
    fs::permissions(plain, static_cast<fs::perms>(mode));
    if (packer == Packer::kPlain) return plain;
    const fs::path packed = media_ / "korvodes_";
    if (packer == Packer::kSzddpack) {
      EXPECT_TRUE(platform::RunProcess({(test::BuildDir() / "tools" / "szddpack").string(), plain.string()}));
    } else {
      EXPECT_TRUE(platform::RunProcess({"mscompress", plain.string()}));
      fs::rename(media_ / "korvodesk_", packed);
      fs::permissions(packed, static_cast<fs::perms>(mode));
    }
    fs::remove(plain);
    return packed;
  }
  int Copy(const std::string& pattern = "korvodes?") {
    return KvCopy((media_ / pattern).c_str(), target_.c_str());
  }

  Sandbox sandbox_;
  fs::path media_ = sandbox_.path("media");
  fs::path dest_ = sandbox_.path("opt/korvo");
  fs::path target_ = dest_ / "korvodesk";
};

TEST_F(KvCopyTest, CompressedMediaArriveExpandedAndPlainOnesAsTheyAre) {
  struct Content {
    const char* what;
    std::string data;
    // mscompress 0.4 garbles files of a few bytes (its own msexpand agrees).
    bool mscompressCanPack;
  };
  std::string text;
  for (int i = 0; i < 200; ++i) text += "Korvo " + std::to_string(i) + " README line\r\n";
  const std::vector<Content> contents = {{"binary", Binary(150000), true}, {"empty", "", true},
                                         {"long runs", Runs(), true},      {"text", text, true},
                                         {"one byte", "x", false},         {"short text", "Readme\r\n", false}};
  for (Packer packer : {Packer::kSzddpack, Packer::kMscompress, Packer::kPlain}) {
    for (const Content& c : contents) {
      if (packer == Packer::kMscompress && !c.mscompressCanPack) continue;
      SCOPED_TRACE(std::string(c.what) + (packer == Packer::kSzddpack     ? " szddpack"
                                          : packer == Packer::kMscompress ? " mscompress"
                                                                           : " plain"));
      const fs::path media = Media(c.data, packer, packer == Packer::kMscompress ? 0640 : 0751);
      Sandbox::writeFile(target_, "the older version");
      ASSERT_EQ(Copy(), 1) << platform::GetLastError();
      EXPECT_TRUE(Sandbox::readFile(target_) == c.data) << "size " << fs::file_size(target_);
      EXPECT_EQ(Mode(target_), Mode(media));
      EXPECT_EQ(Entries(dest_), std::vector<std::string>{"korvodesk"});
      fs::remove(media);
    }
  }
}

TEST_F(KvCopyTest, MsexpandExpandsWhatSzddpackWrites) {
  for (const std::string& data : {Binary(70000), Runs(), std::string()}) {
    const fs::path packed = Media(data, Packer::kSzddpack);
    EXPECT_EQ(Sandbox::readFile(packed).substr(0, 10), std::string("SZDD\x88\xF0\x27\x33" "Ak", 10));
    if (data == Runs()) {
      EXPECT_LT(fs::file_size(packed), data.size() / 5) << "runs and repeats are packed";
    }
    std::string out;
    ASSERT_TRUE(platform::RunProcessOutput({"sh", "-c", "msexpand < \"$0\"", packed.string()}, out));
    EXPECT_TRUE(out == data) << out.size() << " bytes of " << data.size();
    fs::remove(packed);
  }
}

// The pattern is matched as FindFirstFile matched it.
TEST_F(KvCopyTest, ThePatternIgnoresCaseAndTakesTheFirstNameInOrder) {
  Sandbox::writeFile(media_ / "README.TXT", "read me");
  ASSERT_EQ(KvCopy((media_ / "Readme.tx?").c_str(), (dest_ / "README.TXT").c_str()), 1);
  EXPECT_EQ(Sandbox::readFile(dest_ / "README.TXT"), "read me");
  Sandbox::writeFile(media_ / "README.TX", "short");
  Sandbox::writeFile(media_ / "README.TXZ", "last");
  ASSERT_EQ(KvCopy((media_ / "readme.tx?").c_str(), (dest_ / "README.TXT").c_str()), 1);
  EXPECT_EQ(Sandbox::readFile(dest_ / "README.TXT"), "short") << "a '?' at the end also matches nothing";
  fs::remove(media_ / "README.TX");
  ASSERT_EQ(KvCopy((media_ / "readme.tx?").c_str(), (dest_ / "README.TXT").c_str()), 1);
  EXPECT_EQ(Sandbox::readFile(dest_ / "README.TXT"), "read me");

  // A bare pattern is looked up in the current folder.
  const fs::path cwd = fs::current_path();
  fs::current_path(media_);
  EXPECT_EQ(KvCopy("readme.txz", (dest_ / "copy").c_str()), 1);
  fs::current_path(cwd);
  EXPECT_EQ(Sandbox::readFile(dest_ / "copy"), "last");
}

// A failed copy keeps the destination as it was and leaves no temporary
// file: the older program stays usable.
TEST_F(KvCopyTest, AFailedCopyLeavesTheOldFileAndNoTemporary) {
  const std::string data = Binary(40000);
  struct Case {
    const char* what;
    std::string pattern;
    // Damage done to the packed media file.
    std::function<void(std::string&)> damage;
    uint32_t error;
  };
  const std::vector<Case> cases = {
      {"no match", "korvolen?", nullptr, ENOENT},
      {"truncated", "korvodes?", [](std::string& f) { f.resize(f.size() / 2); }, EIO},
      {"one byte short", "korvodes?", [](std::string& f) { f.resize(f.size() - 1); }, EIO},
      {"cut after the header", "korvodes?", [](std::string& f) { f.resize(14); }, EIO},
      {"a header size beyond the stream", "korvodes?", [](std::string& f) { f[13] = 0x7F; }, EIO},
      {"an unknown method", "korvodes?", [](std::string& f) { f[8] = 'B'; }, EIO},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path packed = Media(data, Packer::kSzddpack);
    if (c.damage) {
      std::string file = Sandbox::readFile(packed);
      c.damage(file);
      Sandbox::writeFile(packed, file);
    }
    Sandbox::writeFile(target_, "the older version");
    fs::permissions(target_, fs::perms::owner_all);
    platform::SetLastError(0);
    EXPECT_EQ(Copy(c.pattern), 0);
    EXPECT_EQ(platform::GetLastError(), c.error);
    EXPECT_EQ(Sandbox::readFile(target_), "the older version");
    EXPECT_EQ(Mode(target_), 0700u);
    EXPECT_EQ(Entries(dest_), std::vector<std::string>{"korvodesk"});
    fs::remove(packed);
  }
  EXPECT_EQ(Copy(), 0) << "no media at all";
  EXPECT_EQ(KvCopy((media_ / "korvodes?").c_str(), (sandbox_.path("missing") / "korvodesk").c_str()), 0);
  EXPECT_EQ(platform::GetLastError(), static_cast<uint32_t>(ENOENT)) << "a destination folder that is not there";
}

// A write that fails midway or at the last piece (here the file size limit,
// EFBIG) fails the copy with its error and keeps the old file. Run in a
// child, whose limit is its own.
TEST_F(KvCopyTest, AFailedWriteFailsTheCopyAndKeepsTheOldFile) {
  for (const size_t size : {size_t{40000}, size_t{300000}}) {
    SCOPED_TRACE(size);
    const fs::path packed = Media(Binary(size), Packer::kSzddpack);
    Sandbox::writeFile(target_, "the older version");
    const pid_t pid = fork();
    if (pid == 0) {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{20000, 20000};
      setrlimit(RLIMIT_FSIZE, &limit);
      const int copied = Copy();
      _exit(copied ? 100 : platform::GetLastError() == EFBIG ? 0 : 101);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_EQ(Sandbox::readFile(target_), "the older version");
    EXPECT_EQ(Entries(dest_), std::vector<std::string>{"korvodesk"});
    fs::remove(packed);
  }
}

// The copy replaces a program that is running, as an update over a running
// installation must (writing into it would fail with ETXTBSY).
TEST_F(KvCopyTest, ARunningProgramIsReplaced) {
  fs::copy_file("/bin/cat", target_);
  int in[2], exec[2];
  ASSERT_EQ(pipe(in), 0);
  ASSERT_EQ(pipe2(exec, O_CLOEXEC), 0);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], STDIN_FILENO);
    close(in[0]);
    close(in[1]);
    execl(target_.c_str(), "cat", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  close(exec[1]);
  // The exec closes the child's end: the program runs from the file now.
  char byte;
  ASSERT_EQ(read(exec[0], &byte, 1), 0);
  close(exec[0]);
  Media("new program", Packer::kSzddpack, 0755);
  EXPECT_EQ(Copy(), 1) << platform::GetLastError();
  EXPECT_EQ(Sandbox::readFile(target_), "new program");
  close(in[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the running program went on undisturbed";
}

}  // namespace
}  // namespace korvo
