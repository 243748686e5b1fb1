#include "extractor/extract.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "tests/support/sandbox.h"

namespace korvo::numsnip {
namespace {

namespace fs = std::filesystem;
using V = std::vector<std::string>;

class ExtractTest : public ::testing::Test {
 protected:
  // Writes the input and returns the options that read it into out.txt.
  ExtractOptions Input(const std::string& text, bool allNumbersAreFax = false, bool areaCodesOnly = false) {
    test::Sandbox::writeFile(in(), text);
    return {in().string(), out().string(), allNumbersAreFax, areaCodesOnly};
  }
  fs::path in() const { return sandbox.path("in.txt"); }
  fs::path out() const { return sandbox.path("out.txt"); }
  static size_t OpenFiles() {
    return size_t(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
  }

  test::Sandbox sandbox;
};

// "555-0000, 555-0001, ..." from first to last (not included): one number of a line.
std::string ManyNumbers(int first, int last) {
  std::string text;
  for (int i = first; i < last; ++i) {
    char number[16];
    snprintf(number, sizeof number, "555-%04d", i);
    text.append(text.empty() ? "" : ", ").append(number);
  }
  return text;
}

TEST_F(ExtractTest, ListsTheNumbersOfTheLinesOfInterest) {
  struct Case {
    const char* name;
    std::string text;
    bool allNumbersAreFax, areaCodesOnly;
    V numbers;
  } cases[] = {
      {"fax line", "Fax: (555) 123-4567 (office)\n", false, false, {"(555) 123-4567"}},
      {"phone line skipped", "Phone 555-1234\n", false, false, {}},
      {"all lines of interest", "Phone 555-1234\n", true, false, {"555-1234"}},
      {"no area code ignored", "Phone 555-1234\n", true, true, {}},
      {"upper case FAX", "FAX (555) 123-4567\n", false, false, {"(555) 123-4567"}},
      {"listed once", "fax 555-1234\r\nfax: 555-1234\nFax 555-1234", false, false, {"555-1234"}},
      // The box is searched for the number as a text: one inside a listed number is not listed again...
      {"contained in an area code form", "fax 800-555-1234\nfax 555-1234\n", false, false, {"800-555-1234"}},
      {"contained in a bracketed form", "fax (212) 555-1234\nfax 555-1234\n", false, false, {"(212) 555-1234"}},
      {"contained in a line's span", "fax 555-1234 or 555-9876\nfax 555-9876\nfax 4 or 555-9876\n", false, false,
       {"555-1234 or 555-9876"}},
      {"contained in a line of many numbers",
       "fax " + ManyNumbers(0, 40) + "\nfax " + ManyNumbers(7, 9) + "\nfax " + ManyNumbers(39, 41) + "\n", false, false,
       {ManyNumbers(0, 40), ManyNumbers(39, 41)}},
      // ...but a longer one is new.
      {"containing a listed number", "fax 555-1234\nfax 800-555-1234\n", false, false,
       {"555-1234", "800-555-1234"}},
      {"line of interest without a number", "fax 555-1234\nfax none\nphone 555-9999\nfax 555-1234\n", false, false,
       {"555-1234"}},
      // A line not of interest keeps the current number, which is listed already.
      {"current number kept", "fax 555-1234\nphone 555-9999\n", false, false, {"555-1234"}},
      {"mixed line ends", "fax 555-0001\r\nfax 555-0002\rfax 555-0003\nfax 555-0004", false, false,
       {"555-0001", "555-0002", "555-0003", "555-0004"}},
      {"two numbers on a line", "Fax 555-1234 or 555-9876 (Home)\n", false, false, {"555-1234 or 555-9876"}},
      {"empty input", "", false, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExtractResult result = Extract(Input(c.text, c.allNumbersAreFax, c.areaCodesOnly));
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.numbers, c.numbers);
    EXPECT_EQ(test::Sandbox::readFile(out()), BoxText(c.numbers));
  }
}

TEST_F(ExtractTest, WritesEachNumberWithCrLf) {
  V found;
  ExtractResult result =
      Extract(Input("FAX (555) 123-4567\nfax 555 1234\r\n"), [&](const std::string& n, size_t count) {
        found.push_back(n);
        EXPECT_EQ(count, found.size());
      });
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(found, (V{"(555) 123-4567", "555 1234"}));
  EXPECT_EQ(test::Sandbox::readFile(out()), "(555) 123-4567\r\n555 1234\r\n");
  EXPECT_EQ(ProgressText(result.numbers.size()), "Extracted 2 fax numbers");
  // Again, over the output of the first run: the same file.
  ASSERT_TRUE(Extract({in().string(), out().string(), false, false}).ok);
  EXPECT_EQ(test::Sandbox::readFile(out()), "(555) 123-4567\r\n555 1234\r\n");
}

TEST_F(ExtractTest, CountsPastSixteenBits) {
  std::string text;
  std::string expected;
  for (int i = 0; i < 40000; ++i) {
    char number[32];
    snprintf(number, sizeof number, "(%03d) %03d-%04d", 200 + i / 10000, 100 + i / 100 % 100, i % 10000);
    text.append("fax ").append(number).append("\r\n");
    expected.append(number).append("\r\n");
  }
  ExtractResult result = Extract(Input(text));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.numbers.size(), 40000u);
  EXPECT_EQ(ProgressText(result.numbers.size()), "Extracted 40000 fax numbers");
  EXPECT_TRUE(test::Sandbox::readFile(out()) == expected);
}

TEST_F(ExtractTest, RefusesAnOutputThatIsTheInput) {
  const std::string text = "fax 555-1234\n";
  ExtractOptions options = Input(text);
  fs::create_directories(sandbox.path("sub"));
  fs::create_symlink(in(), sandbox.path("link.txt"));
  fs::create_hard_link(in(), sandbox.path("hard.txt"));
  for (fs::path output : {in(), sandbox.path("sub/../in.txt"), sandbox.path("link.txt"), sandbox.path("hard.txt")}) {
    SCOPED_TRACE(output);
    options.output = output.string();
    bool called = false;
    ExtractResult result = Extract(options, [&](const std::string&, size_t) { called = true; });
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(called) << "refused before reading";
    EXPECT_EQ(test::Sandbox::readFile(in()), text);
  }
}

TEST_F(ExtractTest, AnErrorClosesTheInputAndTheNextRunWorks) {
  ExtractOptions options = Input("fax 555-1234\n");
  size_t before = OpenFiles();
  struct Case {
    const char* name;
    ExtractOptions options;
  } failing[] = {
      {"missing input", {sandbox.path("missing.txt").string(), out().string(), false, false}},
      {"input is a folder", {sandbox.root().string(), out().string(), false, false}},
      {"output in a missing folder", {in().string(), sandbox.path("no/out.txt").string(), false, false}},
      {"empty output name", {in().string(), "", false, false}},
  };
  for (const auto& c : failing) {
    SCOPED_TRACE(c.name);
    ExtractResult result = Extract(c.options);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.error.empty());
    EXPECT_EQ(OpenFiles(), before);
  }
  EXPECT_FALSE(fs::exists(out()));
  ASSERT_TRUE(Extract(options).ok);
  EXPECT_EQ(test::Sandbox::readFile(out()), "555-1234\r\n");
}

TEST_F(ExtractTest, AStoppedRunWritesNothing) {
  std::atomic<bool> stop{false};
  ExtractResult result =
      Extract(Input("fax 555-0001\nfax 555-0002\nfax 555-0003\n"), [&](const std::string&, size_t) { stop = true; }, &stop);
  EXPECT_TRUE(result.stopped);
  EXPECT_EQ(result.numbers, V{"555-0001"});
  EXPECT_FALSE(fs::exists(out()));
}

TEST_F(ExtractTest, AJobRunsOneExtractAtATimeOffTheCallersThread) {
  ExtractOptions options = Input("fax 555-0001\nfax 555-0002\n");
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<ExtractResult> finished;
  std::thread::id caller = std::this_thread::get_id(), worker;
  ExtractJob job;
  ASSERT_TRUE(job.Start(
      options,
      [&](const std::string&, size_t) {
        worker = std::this_thread::get_id();
        released.wait();
      },
      [&](const ExtractResult& r) { finished.set_value(r); }));
  EXPECT_TRUE(job.Running());
  EXPECT_FALSE(job.Start(options, {}, {})) << "a second run inside the first";
  release.set_value();
  ExtractResult result = finished.get_future().get();
  job.Wait();
  EXPECT_FALSE(job.Running());
  EXPECT_NE(worker, caller);
  EXPECT_EQ(result.numbers, (V{"555-0001", "555-0002"}));
  // And the next run starts.
  std::promise<void> again;
  ASSERT_TRUE(job.Start(options, {}, [&](const ExtractResult&) { again.set_value(); }));
  again.get_future().wait();
}

TEST(NumsnipForm, EachBoxChangeDecidesAndARunDisables) {
  NumsnipForm form;
  EXPECT_FALSE(form.ExtractEnabled()) << "both boxes start empty";
  struct Step {
    const char* box;  // the text of the box that changed
    bool running;
    bool enabled;
  } steps[] = {
      {"in.txt", false, true},
      {"", false, false},   // the other box emptied: disabled, whatever the first holds
      {"o", false, true},
      {"o", true, false},   // disabled while a run goes on
      {"ou", true, false},  // typing meanwhile does not enable it
      {"ou", false, true},
  };
  for (const auto& s : steps) {
    form.BoxChanged(s.box);
    form.SetRunning(s.running);
    EXPECT_EQ(form.ExtractEnabled(), s.enabled) << "\"" << s.box << "\" running " << s.running;
  }
}

}  // namespace
}  // namespace korvo::numsnip
