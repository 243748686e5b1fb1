// Printing through GTK to CUPS: a private cupsd with a raw queue that keeps
// its job files receives a 3-page fax printed without the dialog; the job is
// a PDF of 3 pages, each page fitted across the paper's width in proportion.
#include <dlfcn.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <wx/image.h>
#include <wx/print.h>

#include "tests/support/gui/scripted_prompter.h"
#include "tests/support/gui/window_test.h"
#include "tests/support/sandbox.h"
#include "tests/support/system_program.h"
#include "tests/viewer/fax_files.h"
#include "viewer/app/frame.h"
#include "viewer/app/printout.h"
#include "viewer/app/viewer.h"

extern char** environ;

namespace korvo {
namespace {

namespace fs = std::filesystem;

// The output of a command, and whether it succeeded.
std::pair<bool, std::string> Shell(const std::string& command) {
  std::string out;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return {false, ""};
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  return {pclose(p) == 0, out};
}

// cupsd with its configuration, spool and socket in the sandbox; the queue
// "KorvoTest" takes any data and keeps every job's file.
class PrivateCups {
 public:
  explicit PrivateCups(test::Sandbox& box) : dir_(box.path("cups")) {
    for (const char* d : {"etc", "spool/tmp", "cache", "state", "log"}) fs::create_directories(dir_ / d);
    test::Sandbox::writeFile(dir_ / "etc/cupsd.conf", "Listen " + Socket() +
                                                          "\nLogLevel warn\nPreserveJobFiles Yes\n"
                                                          "PreserveJobHistory Yes\nBrowsing No\n"
                                                          "<Policy default>\n<Limit All>\nOrder deny,allow\n"
                                                          "</Limit>\n</Policy>\n");
    const std::string d = dir_.string();
    test::Sandbox::writeFile(dir_ / "etc/cups-files.conf",
                             "ServerRoot " + d + "/etc\nRequestRoot " + d + "/spool\nTempDir " + d +
                                 "/spool/tmp\nCacheDir " + d + "/cache\nStateDir " + d + "/state\nErrorLog " + d +
                                 "/log/error_log\nAccessLog " + d + "/log/access_log\nPageLog " + d +
                                 "/log/page_log\nUser lp\nGroup lp\nSystemGroup root\nFileDevice Yes\n"
                                 "ServerBin /usr/lib/cups\nDataDir /usr/share/cups\nSandboxing Relaxed\n");
    const std::string conf = d + "/etc/cupsd.conf", files = d + "/etc/cups-files.conf";
    std::vector<char*> argv = {const_cast<char*>("cupsd"), const_cast<char*>("-f"), const_cast<char*>("-c"),
                               const_cast<char*>(conf.c_str()), const_cast<char*>("-s"),
                               const_cast<char*>(files.c_str()), nullptr};
    const std::string cupsd = test::SystemProgram("cupsd");
    if (posix_spawnp(&pid_, cupsd.c_str(), nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
  }
  ~PrivateCups() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    if (!test::WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, "cupsd to stop",
                       std::chrono::seconds(30))) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
  }

  std::string Socket() const { return (dir_ / "cups.sock").string(); }
  bool Up() {
    return pid_ > 0 && test::WaitFor([&] { return Shell("lpstat -h " + Socket() + " -r").first; }, "cupsd answering");
  }
  // The scheduler may answer before it takes new queues: lpadmin is asked
  // again until it does (adding a queue again changes nothing).
  bool AddRawQueue(const std::string& name) {
    std::string said;
    const bool added = test::WaitFor([&] {
      const auto [ok, out] =
          Shell(test::SystemProgram("lpadmin") + " -h " + Socket() + " -p " + name + " -E -v file:///dev/null");
      said = out;
      return ok;
    }, "the queue " + name, std::chrono::seconds(60));
    if (!added) ADD_FAILURE() << "lpadmin: " << said;
    return added;
  }
  // A job's data as the spooler keeps it.
  fs::path JobFile(int job) const {
    char name[32];
    std::snprintf(name, sizeof name, "d%05d-001", job);
    return dir_ / "spool" / name;
  }
  bool Completed(const std::string& queue) const {
    return Shell("lpstat -h " + Socket() + " -W completed -o " + queue).second.find(queue + "-1") != std::string::npos;
  }

 private:
  fs::path dir_;
  pid_t pid_ = -1;
};

// GTK's print backends are a setting read when printing starts: only CUPS,
// so that no other backend is asked.
void UseOnlyCupsPrintBackend() {
  using Default = void* (*)();
  using Set = void (*)(void*, const char*, ...);
  auto settings = reinterpret_cast<Default>(dlsym(RTLD_DEFAULT, "gtk_settings_get_default"));
  auto set = reinterpret_cast<Set>(dlsym(RTLD_DEFAULT, "g_object_set"));
  ASSERT_TRUE(settings && set);
  set(settings(), "gtk-print-backends", "cups", nullptr);
}

// A gray PGM picture of one page.
struct Gray {
  int width = 0, height = 0;
  std::vector<uint8_t> pixels;
  bool Dark(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x] < 128; }
  static Gray Read(const fs::path& p) {
    Gray g;
    const std::string f = test::Sandbox::readFile(p);
    int max = 0, used = 0;
    if (std::sscanf(f.c_str(), "P5 %d %d %d%n", &g.width, &g.height, &max, &used) != 3) return {};
    g.pixels.assign(f.begin() + used + 1, f.end());
    if (g.pixels.size() < static_cast<size_t>(g.width) * g.height) return {};
    return g;
  }
};

class ViewerPrintTest : public test::WindowTest {
 protected:
  test::Sandbox box_;
  test::ScriptedPrompter prompts_;
};

TEST_F(ViewerPrintTest, AThreePageFaxPrintsAcrossThePaperWidth) {
  PrivateCups cups(box_);
  ASSERT_TRUE(cups.Up());
  ASSERT_TRUE(cups.AddRawQueue("KorvoTest"));
  box_.setEnv("CUPS_SERVER", cups.Socket());
  UseOnlyCupsPrintBackend();

  // Pages framed by a thick black border, so that the printed page's extent shows.
  std::vector<test::FaxPage> pages = {{1728, 2200, 196, 1}, {1728, 1100, 98, 2}, {1728, 2200, 196, 3}};
  const std::string path = test::WriteFax(box_.path("three.fax").string(), pages);
  Viewer viewer({path});
  test::ShowAndWait(viewer.Frame());

  wxPrintDialogData dialogData;
  dialogData.GetPrintData().SetPrinterName("KorvoTest");
  dialogData.GetPrintData().SetPaperId(wxPAPER_A4);
  wxPrinter printer(&dialogData);
  FaxPrintout printout(viewer.Model());
  ASSERT_TRUE(printer.Print(viewer.Frame(), &printout, false)) << "error " << wxPrinter::GetLastError();
  ASSERT_TRUE(test::WaitFor([&] { return cups.Completed("KorvoTest"); }, "the job completed", std::chrono::seconds(120)));

  const fs::path job = cups.JobFile(1);
  const auto [infoOk, info] = Shell("pdfinfo " + job.string());
  ASSERT_TRUE(infoOk) << info;
  int count = 0;
  const size_t at = info.find("Pages:");
  ASSERT_NE(at, std::string::npos) << info;
  std::sscanf(info.c_str() + at, "Pages: %d", &count);
  EXPECT_EQ(count, 3) << info;

  const fs::path prefix = box_.path("page");
  ASSERT_TRUE(Shell("pdftoppm -gray -r 50 " + job.string() + " " + prefix.string()).first);
  for (int n = 1; n <= 3; ++n) {
    SCOPED_TRACE("page " + std::to_string(n));
    const Gray page = Gray::Read(box_.path("page-" + std::to_string(n) + ".pgm"));
    ASSERT_GT(page.width, 0);
    if (n == 1) {
      // Kept to be looked at, beside the viewer's screenshots.
      wxImage printed(page.width, page.height);
      for (int y = 0; y < page.height; ++y)
        for (int x = 0; x < page.width; ++x) {
          const uint8_t v = page.pixels[static_cast<size_t>(y) * page.width + x];
          printed.SetRGB(x, y, v, v, v);
        }
      const fs::path png = test::BuildDir() / "artifacts" / "viewer" / "printed_page1.png";
      fs::create_directories(png.parent_path());
      if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
      EXPECT_TRUE(printed.SaveFile(wxString::FromUTF8(png.string()), wxBITMAP_TYPE_PNG));
    }
    // The ink's extent: the text lines run from 100 to 1628 of the 1728 pixels.
    int left = page.width, right = -1, top = page.height, bottom = -1;
    for (int y = 0; y < page.height; ++y)
      for (int x = 0; x < page.width; ++x)
        if (page.Dark(x, y)) {
          left = std::min(left, x), right = std::max(right, x);
          top = std::min(top, y), bottom = std::max(bottom, y);
        }
    ASSERT_GE(right, 0) << "nothing printed";
    const double scale = (right - left + 1) / (1528.0 / 1728.0);  // the fitted page's width on paper
    EXPECT_NEAR(scale, page.width, page.width * 0.06) << "left " << left << " right " << right;
    // In proportion: the text's height to its width as on the fax, lines
    // 80 to length - 80 at the page's resolution.
    const test::FaxPage& p = pages[n - 1];
    const double inkHeight = (p.lines - 160) * 204.0 / p.yResolution, inkWidth = 1528;
    EXPECT_NEAR((bottom - top + 1) / static_cast<double>(right - left + 1), inkHeight / inkWidth, 0.03);
  }
  EXPECT_TRUE(prompts_.prompts().empty());
}

}  // namespace
}  // namespace korvo
