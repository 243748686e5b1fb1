// frmNumsnip on a real display: typed names, the Extract button's rule, a run
// and its results, the choosers and the error box through the prompter.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/toplevel.h>

#include "extractor/numsnip_frame.h"
#include "tests/support/gui/scripted_prompter.h"
#include "tests/support/gui/window_test.h"
#include "tests/support/sandbox.h"

namespace korvo::test {
namespace {

namespace fs = std::filesystem;

class NumsnipWindowTest : public WindowTest {
 protected:
  void SetUp() override {
    frame = new numsnip::NumsnipFrame;
    ShowAndWait(frame);
  }

  template <typename T>
  T* Control(const char* name) {
    auto* control = dynamic_cast<T*>(wxWindow::FindWindowByName(name, frame));
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
  wxTextCtrl* Text(const char* name) { return Control<wxTextCtrl>(name); }
  wxButton* Extract() { return Control<wxButton>("Command3"); }
  std::string Progress() { return Control<wxStaticText>("Label3")->GetLabel().utf8_string(); }

  // Empties a box with real keys: select all, then delete.
  void Empty(wxTextCtrl* box) {
    Click(box);
    PressKey('A', wxMOD_CONTROL);
    PressKey(WXK_BACK);
    WaitFor([&] { return box->IsEmpty(); }, "the box emptied");
  }

  Sandbox sandbox;
  numsnip::NumsnipFrame* frame = nullptr;
};

TEST_F(NumsnipWindowTest, TypedNamesEnableExtractAndARunShowsItsNumbers) {
  fs::path in = sandbox.path("contacts.txt"), out = sandbox.path("numbers.txt");
  Sandbox::writeFile(in, "Ana Horvat\r\nFax: (555) 123-4567 (office)\nPhone 555-9999\r\nFAX 555-1234\rfax none\n");
  EXPECT_FALSE(Extract()->IsEnabled()) << "both boxes start empty";
  EXPECT_FALSE(Control<wxCheckBox>("Check3")->IsEnabled());
  EXPECT_TRUE(Text("rchFile")->IsEmpty());

  Type(Text("Text1"), in.string());
  ASSERT_TRUE(WaitFor([&] { return Text("Text1")->GetValue() == in.string(); }, "the input name"));
  EXPECT_TRUE(Extract()->IsEnabled());
  Type(Text("Text2"), "x");
  ASSERT_TRUE(WaitFor([&] { return Text("Text2")->GetValue() == "x"; }, "the output name"));
  // The box that changed decides: emptying the output disables Extract.
  Empty(Text("Text2"));
  EXPECT_FALSE(Extract()->IsEnabled());
  Type(Text("Text2"), out.string());
  ASSERT_TRUE(WaitFor([&] { return Text("Text2")->GetValue() == out.string(); }, "the output name"));
  EXPECT_TRUE(Extract()->IsEnabled());

  Click(Extract());
  ASSERT_TRUE(WaitFor([&] { return Progress() == "Extracted 2 fax numbers"; }, "the run's end"));
  EXPECT_EQ(Text("rchFile")->GetValue(), "(555) 123-4567\n555-1234\n");
  EXPECT_EQ(Sandbox::readFile(out), "(555) 123-4567\r\n555-1234\r\n");
  EXPECT_TRUE(Extract()->IsEnabled());
  Screenshot(frame, "extractor", "numsnip_after_run");

  // A second run gives the same file.
  Click(Extract());
  ASSERT_TRUE(WaitFor([&] { return Extract()->IsEnabled(); }, "the second run's end"));
  EXPECT_EQ(Sandbox::readFile(out), "(555) 123-4567\r\n555-1234\r\n");
}

TEST_F(NumsnipWindowTest, ChoosersFillTheBoxesAndErrorsShowTheBox) {
  fs::path in = sandbox.path("in.txt"), out = sandbox.path("out.txt");
  Sandbox::writeFile(in, "fax 555-1234\n");
  ScriptedPrompter prompts;
  prompts.Choose(in.string());
  prompts.CancelChooser();
  prompts.Choose(in.string());  // the output chosen as the input
  prompts.Answer(desktop::Answer::Ok);
  prompts.Choose(out.string());

  Click(Control<wxButton>("Command1"));
  ASSERT_TRUE(WaitFor([&] { return Text("Text1")->GetValue() == in.string(); }, "the chosen input"));
  EXPECT_TRUE(Extract()->IsEnabled());
  Click(Control<wxButton>("Command2"));
  ASSERT_TRUE(WaitFor([&] { return prompts.prompts().size() == 2; }, "the cancelled chooser"));
  EXPECT_TRUE(Text("Text2")->IsEmpty()) << "Cancel leaves the box as it was";
  EXPECT_FALSE(prompts.prompts()[0].request.save);
  EXPECT_TRUE(prompts.prompts()[1].request.save) << "the save chooser asks before replacing";

  Click(Control<wxButton>("Command2"));
  ASSERT_TRUE(WaitFor([&] { return Text("Text2")->GetValue() == in.string(); }, "the chosen output"));
  Click(Extract());
  ASSERT_TRUE(WaitFor([&] { return prompts.prompts().size() == 4; }, "the error box"));
  EXPECT_EQ(prompts.prompts()[3].text, "There was an error!");
  EXPECT_EQ(prompts.prompts()[3].caption, "Numsnip");
  EXPECT_EQ(Sandbox::readFile(in), "fax 555-1234\n") << "the input is not replaced";

  // After the error the next Extract works.
  WaitFor([&] { return Extract()->IsEnabled(); }, "Extract enabled again");
  Click(Control<wxButton>("Command2"));
  ASSERT_TRUE(WaitFor([&] { return Text("Text2")->GetValue() == out.string(); }, "the chosen output"));
  Click(Extract());
  ASSERT_TRUE(WaitFor([&] { return Progress() == "Extracted 1 fax numbers"; }, "the run's end"));
  EXPECT_EQ(Sandbox::readFile(out), "555-1234\r\n");
  EXPECT_TRUE(prompts.Done());
}

TEST_F(NumsnipWindowTest, ARunDisablesExtractAndClosingStopsItWritingNothing) {
  // The input is a pipe the test writes, so the run lasts as long as the test wants.
  fs::path in = sandbox.path("in.fifo"), out = sandbox.path("out.txt");
  ASSERT_EQ(mkfifo(in.c_str(), 0600), 0);
  int writer = open(in.c_str(), O_RDWR);
  ASSERT_GE(writer, 0);
  Text("Text1")->SetValue(in.string());
  Text("Text2")->SetValue(out.string());
  Click(Extract());
  ASSERT_TRUE(WaitFor([&] { return !Extract()->IsEnabled(); }, "Extract disabled"));
  const std::string first = "fax 555-0001\n";
  ASSERT_EQ(write(writer, first.data(), first.size()), ssize_t(first.size()));
  ASSERT_TRUE(WaitFor([&] { return Progress() == "555-0001"; }, "the progress"));
  // A second click on the disabled button starts nothing, nor does typing.
  Click(Extract());
  Type(Text("Text2"), "x");
  EXPECT_FALSE(Extract()->IsEnabled());

  frame->Close();
  const std::string more = "fax 555-0002\n";
  ASSERT_EQ(write(writer, more.data(), more.size()), ssize_t(more.size()));
  close(writer);
  EXPECT_TRUE(WaitFor([] { return wxTopLevelWindows.empty(); }, "the window gone"));
  EXPECT_FALSE(fs::exists(out));
  EXPECT_FALSE(fs::exists(out.string() + "x"));
}

}  // namespace
}  // namespace korvo::test
