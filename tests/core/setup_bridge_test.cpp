// The install engine's worker talking to a real window through the bridge:
// every message and box handled on the window's thread while the worker
// waits, and a worker still waiting when the wizard ends released and joined.
#include "core/setup/app/sheet_bridge.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/frame.h>
#include <wx/utils.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/setup/install_engine.h"
#include "core/setup/setup_settings.h"
#include "tests/support/gui/scripted_prompter.h"
#include "tests/support/gui/window_test.h"
#include "tests/support/sandbox.h"

namespace korvo::setup {
namespace {

namespace fs = std::filesystem;
using test::Sandbox;

class ProgressFrame final : public wxFrame, public SetupWindow {
 public:
  ProgressFrame() : wxFrame(nullptr, wxID_ANY, "Korvo Setup") {}
  wxWindow* Window() override { return this; }
  void OnSetupProgressText(const std::string& line) override {
    offThread = offThread || !wxIsMainThread();
    lines.push_back(line);
  }
  void OnSetupProgressStep() override {
    offThread = offThread || !wxIsMainThread();
    ++steps;
  }
  void OnSetupFinished(int result) override {
    offThread = offThread || !wxIsMainThread();
    results.push_back(result);
  }

  std::vector<std::string> lines;
  int steps = 0;
  std::vector<int> results;
  bool offThread = false;
};

// The server part alone from plain media (no printer, no cupsd), its
// service never answering: the pauses pass at once.
class SetupBridge : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = fs::current_path();
    fs::create_directories(box_.path("media"));
    for (const char* name : {"libkorvocore.so", "korvodesk", "korvolens", "korvoprep", "README.TXT", "korvobell",
                             "korvocapture", "install.html", "korvohub", "korvo-relay"})
      Sandbox::writeFile(box_.path("media") / name, name);
    fs::create_directories(box_.path("media/help"));
    Sandbox::writeFile(box_.path("media/help/korvodesk.hhp"), "book");
    fs::current_path(box_.path("media"));
    settings_.rootDirectory = box_.path("opt/korvo").string();
    settings_.workstation = 0;
    frame_ = new ProgressFrame;
  }
  void TearDown() override {
    if (frame_) frame_->Destroy();
    test::WaitFor([] { return true; }, "the frame's end");
    fs::current_path(saved_);
  }

  Sandbox box_;
  fs::path saved_;
  SetupSettings settings_;
  test::ScriptedPrompter prompts_;
  ProgressFrame* frame_ = nullptr;
};

TEST_F(SetupBridge, MessagesAndBoxesAreHandledOnTheWindowsThread) {
  // The korvohub of the media is gone: its copy is asked about.
  fs::remove(box_.path("media/korvohub"));
  prompts_.Answer(desktop::Answer::Retry);
  prompts_.Answer(desktop::Answer::Cancel);
  prompts_.Answer(desktop::Answer::Ok);  // the error box
  InstallEngine engine(settings_, prompts_, [](std::chrono::milliseconds) {});
  {
    SheetBridge bridge(*frame_);
    engine.SetSheet(&bridge);
    engine.StartInstall();
    ASSERT_TRUE(test::WaitFor([&] { return !frame_->results.empty(); }, "SetupFinished"));
    engine.Join();
    engine.SetSheet(nullptr);
  }
  EXPECT_FALSE(frame_->offThread);
  EXPECT_EQ(frame_->results, std::vector<int>{0});
  EXPECT_EQ(frame_->steps, static_cast<int>(frame_->lines.size()));
  ASSERT_FALSE(frame_->lines.empty());
  EXPECT_EQ(frame_->lines.back(), "Copying korvohub file");
  EXPECT_EQ(frame_->lines.front(), "Adding Korvo Manager item into Korvo group");
  EXPECT_FALSE(wxIsBusy());
  ASSERT_EQ(prompts_.prompts().size(), 3u);
  EXPECT_EQ(prompts_.prompts()[0].text, "Could not copy " + settings_.rootDirectory + "korvohub file.\nRetry copy ?");
  EXPECT_EQ(prompts_.prompts()[2].caption, "Korvo Setup Error");
  EXPECT_TRUE(prompts_.Done());
}

TEST_F(SetupBridge, AWorkerWaitingWhenTheWizardEndsIsReleasedAndJoined) {
  InstallEngine engine(settings_, prompts_, [](std::chrono::milliseconds) {});
  {
    SheetBridge bridge(*frame_);
    engine.SetSheet(&bridge);
    engine.StartInstall();
    // The window's thread does not serve it: the worker waits in its first
    // call (the wait cursor), queued for the window.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!wxTheApp->HasPendingEvents() && std::chrono::steady_clock::now() < end) wxMilliSleep(1);
    ASSERT_TRUE(wxTheApp->HasPendingEvents());
    engine.RequestStop();
    bridge.Close();
    engine.Join();
    engine.SetSheet(nullptr);
  }
  // The queued message goes with the window, unhandled.
  frame_->Destroy();
  frame_ = nullptr;
  test::WaitFor([] { return true; }, "pending events");
  EXPECT_TRUE(prompts_.prompts().empty());
}

}  // namespace
}  // namespace korvo::setup
