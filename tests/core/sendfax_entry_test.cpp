// The print capture's entry point in a program that has not started the
// toolkit (the capture agent): RunSendFaxDialog starts it, runs the dialog
// modally on the captured job and says whether it ended with OK, and a second
// job in the same process finds the toolkit still there. The test drives the
// dialog from inside its modal loop, starting at the first box it shows.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include <wx/app.h>
#include <wx/toplevel.h>

#include "common/settings.h"
#include "common/userenvironment.h"
#include "core/sendfax/app/dialogs.h"
#include "core/sendfax/send_fax_dialog.h"
#include "platform/process.h"
#include "platform/tempfile.h"
#include "tests/core/sendfax_prompts.h"
#include "tests/server/hub_fixture.h"
#include "tests/support/gui/window_test.h"
#include "tests/support/gui/xvfb.h"

extern "C" const char* __lsan_default_suppressions() { return korvo::test::ToolkitLeakSuppressions(); }

namespace korvo::sendfax {
namespace {

namespace fs = std::filesystem;

template <typename T>
T* TopWindow(const wxString& title) {
  for (wxWindow* w : wxTopLevelWindows)
    if (auto* found = dynamic_cast<T*>(w); found && found->GetTitle() == title) return found;
  return nullptr;
}

void Press(wxWindow* window, int id) {
  wxCommandEvent click(wxEVT_BUTTON, id);
  click.SetEventObject(window->FindWindow(id));
  window->GetEventHandler()->ProcessEvent(click);
}

class SendFaxEntryTest : public test::HubFixture {
 protected:
  void SetUp() override {
    HubFixture::SetUp();
    display_.emplace();
    // No server known: the dialog's first box, where the test comes in.
    ASSERT_EQ(KvSetDefaultServer(""), 1);
    ASSERT_EQ(KvSetKorvoDefaultServer(""), 1);
    outBox_ = GetUserEnvironment().GetOutBoxPath();
  }
  void Capture() {
    ASSERT_NE(platform::GetTempFileName(outBox_, "CPT", 0, image_), 0u);
    const std::string source = TempPath("print.txt");
    test::Sandbox::writeFile(source, "Entry\n");
    ASSERT_TRUE(platform::RunProcess({(test::BuildDir() / "tools" / "prnstream").string(), "-t", source, image_}));
    fs::remove(source);
    header_ = image_.substr(0, image_.size() - 3) + "TMR";
  }
  // The test's moves, run inside the dialog once its first box is answered.
  void OnFirstBox(std::function<void(SendFaxDialog&)> moves) {
    prompts_.Answer(desktop::Answer::Ok, [moves] {
      wxTheApp->CallAfter([moves] {
        SendFaxDialog* dialog = TopWindow<SendFaxDialog>("Send Fax");
        ASSERT_NE(dialog, nullptr);
        moves(*dialog);
      });
    });
  }

  std::optional<test::Xvfb> display_;
  test::RecordedPrompts prompts_;
  desktop::Prompter* before_ = desktop::SetPrompts(&prompts_);
  std::string outBox_;
  std::string image_;
  std::string header_;
};

TEST_F(SendFaxEntryTest, StartsTheToolkitRunsTheDialogAndRunsAgain) {
  StartHub();
  ASSERT_EQ(wxTheApp, nullptr);
  Capture();
  OnFirstBox([](SendFaxDialog& dialog) {
    dialog.Model().job().server = ".";
    dialog.Model().SetNumber("200");
    // The Status dialog that the send shows is closed from its own loop.
    wxTheApp->CallAfter([] {
      wxDialog* status = TopWindow<wxDialog>("Send Fax Status");
      ASSERT_NE(status, nullptr);
      status->EndModal(wxID_OK);
    });
    Press(&dialog, id::kSend);
  });
  EXPECT_EQ(RunSendFaxDialog(image_, header_), DialogEnd::kOk);
  ASSERT_NE(wxTheApp, nullptr);
  EXPECT_TRUE(fs::is_empty(outBox_));  // sent: the pair is gone
  const std::string list = TempPath("list.txt");
  ASSERT_EQ(client_.DownloadList(".", 6020, nullptr, list).status, 0u);
  EXPECT_FALSE(test::Sandbox::readFile(list).empty());
  fs::remove(list);

  // A second job: cancelled, its captured file stays in the OutBox.
  ASSERT_EQ(KvSetSendFaxToLast(""), 1);
  Capture();
  OnFirstBox([](SendFaxDialog& dialog) { Press(&dialog, wxID_CANCEL); });
  prompts_.Answer(desktop::Answer::Yes);  // "Do you want to cancel sending fax ?"
  EXPECT_EQ(RunSendFaxDialog(image_, header_), DialogEnd::kCancelled);
  EXPECT_TRUE(fs::exists(image_));
  EXPECT_TRUE(prompts_.Done());
  ASSERT_EQ(prompts_.boxes.size(), 3u);
  EXPECT_EQ(prompts_.boxes[2].text, "Do you want to cancel sending fax ?");
  desktop::SetPrompts(before_);
}

}  // namespace
}  // namespace korvo::sendfax
