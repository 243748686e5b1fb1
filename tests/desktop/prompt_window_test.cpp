// The desktop foundation on a real window: key presses and clicks reach the
// controls, a window's question goes through the installed prompter, and the
// screenshot shows what is on the screen.
#include <gtest/gtest-spi.h>
#include <wx/button.h>
#include <wx/frame.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "desktop/prompt.h"
#include "tests/support/gui/scripted_prompter.h"
#include "tests/support/gui/window_test.h"

namespace korvo::test {
namespace {

// A frame that asks about the text typed into it and shows the answer.
class AskFrame : public wxFrame {
 public:
  AskFrame() : wxFrame(nullptr, wxID_ANY, "Ask", wxDefaultPosition, wxSize(320, 140)) {
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    text = new wxTextCtrl(this, wxID_ANY);
    ask = new wxButton(this, wxID_ANY, "Ask");
    answer = new wxStaticText(this, wxID_ANY, "none");
    sizer->Add(text, 0, wxEXPAND | wxALL, 4);
    sizer->Add(ask, 0, wxALL, 4);
    sizer->Add(answer, 0, wxALL, 4);
    SetSizer(sizer);
    ask->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
      auto reply = desktop::Prompts().Message(this, text->GetValue().utf8_string(), "Ask", desktop::Buttons::YesNo,
                                              desktop::Icon::Question);
      answer->SetLabel(reply == desktop::Answer::Yes ? "yes" : "no");
    });
  }
  wxTextCtrl* text;
  wxButton* ask;
  wxStaticText* answer;
};

class FoundationWindowTest : public WindowTest {};

TEST_F(FoundationWindowTest, TypedTextReachesThePrompterAndItsAnswerTheWindow) {
  ScriptedPrompter prompts;
  prompts.Answer(desktop::Answer::Yes);
  auto* frame = new AskFrame;
  ShowAndWait(frame);

  Type(frame->text, "Fax 555-1234");
  ASSERT_TRUE(WaitFor([&] { return frame->text->GetValue() == "Fax 555-1234"; }, "the typed text"));
  Click(frame->ask);
  ASSERT_TRUE(WaitFor([&] { return frame->answer->GetLabel() == "yes"; }, "the answer shown"));

  ASSERT_EQ(prompts.prompts().size(), 1u);
  EXPECT_EQ(prompts.prompts()[0].text, "Fax 555-1234");
  EXPECT_EQ(prompts.prompts()[0].caption, "Ask");
  EXPECT_EQ(prompts.prompts()[0].buttons, desktop::Buttons::YesNo);
  EXPECT_TRUE(prompts.Done());

  // The picture is the frame's size and shows the dark text on the light field.
  auto png = Screenshot(frame, "desktop", "ask_frame");
  wxImage image;
  ASSERT_TRUE(image.LoadFile(wxString::FromUTF8(png.string()), wxBITMAP_TYPE_PNG));
  EXPECT_EQ(image.GetSize(), frame->GetSize());
  wxRect field = frame->text->GetRect();
  int dark = 0;
  for (int y = field.y; y < field.GetBottom(); ++y)
    for (int x = field.x; x < field.GetRight(); ++x)
      if (image.GetRed(x, y) < 100 && image.GetGreen(x, y) < 100 && image.GetBlue(x, y) < 100) ++dark;
  EXPECT_GT(dark, 20);
}

TEST_F(FoundationWindowTest, AWxAssertionFailsTheTest) {
  EXPECT_NONFATAL_FAILURE(wxFAIL_MSG("the toolkit disagrees"), "the toolkit disagrees");
}

}  // namespace
}  // namespace korvo::test
