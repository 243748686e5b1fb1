// KorvoLens on a real display: the toolbar's buttons turn the pages, the page
// box and panes follow, the page's pixels reach the screen, Go To refuses what
// is not a page, and the dispatcher sees only the first page.
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/dcmemory.h>
#include <wx/menu.h>
#include <wx/prntbase.h>
#include <wx/statusbr.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/toplevel.h>
#include <wx/uiaction.h>

#include "common/settings.h"
#include "desktop/screenshot.h"
#include "tests/support/gui/scripted_prompter.h"
#include "tests/support/gui/window_test.h"
#include "tests/support/sandbox.h"
#include "tests/viewer/fax_files.h"
#include "viewer/app/dialogs.h"
#include "viewer/app/document.h"
#include "viewer/app/frame.h"
#include "viewer/app/viewer.h"
#include "viewer/viewer_ids.h"

namespace korvo {
namespace {

namespace id = viewer_id;

// Three fine pages whose text differs.
const std::vector<test::FaxPage> kPages = {{1728, 900, 196, 11}, {1728, 900, 196, 12}, {1728, 900, 196, 13}};

class ViewerWindowTest : public test::WindowTest {
 protected:
  void Start(std::vector<std::string> args, wxSize size = wxSize(900, 700)) {
    args.push_back(test::WriteFax(box_.path("three.fax").string(), kPages));
    viewer_ = std::make_unique<Viewer>(args);
    frame_ = viewer_->Frame();
    frame_->SetSize(size);
    test::ShowAndWait(frame_);
  }
  void TearDown() override {
    viewer_.reset();
    WindowTest::TearDown();
  }

  wxString Pane(int i) const { return frame_->GetStatusBar()->GetStatusText(i); }
  wxString BoxNumber() const { return frame_->PageBar()->Box()->Number(); }

  // The toolbar buttons beside the page box: Previous on its left, Next on its right.
  void ClickBesideBox(bool right) {
    const wxRect box = frame_->PageBar()->Box()->GetScreenRect();
    const wxPoint at(right ? box.GetRight() + 10 : box.GetLeft() - 10, box.y + box.height / 2);
    wxUIActionSimulator sim;
    sim.MouseMove(at);
    test::WaitFor([&] { return wxGetMousePosition() == at; }, "the pointer over the button");
    sim.MouseClick();
  }

  void Command(int command) {
    wxCommandEvent event(wxEVT_MENU, WxId(command));
    frame_->ProcessWindowEvent(event);
  }

  // The canvas's client area as shown on the screen.
  wxImage CanvasPixels() {
    PageCanvas* canvas = frame_->Canvas();
    canvas->Update();
    const wxImage all = desktop::CaptureWindow(canvas);
    const wxPoint offset = canvas->ClientToScreen(wxPoint(0, 0)) - canvas->GetScreenPosition();
    const wxSize client = canvas->GetClientSize();
    return all.GetSubImage(wxRect(offset, client));
  }

  // At 100% a fine page's pixel is a screen pixel: the top-left of the page
  // on the screen comes to match the file's page pixel for pixel.
  void ExpectScreenShowsPage(uint16_t page) {
    const std::vector<uint8_t> rows = test::ViewerRows(kPages[page]);
    const uint32_t stride = (1728 + 7) / 8;
    int wrong = -1;
    const auto matches = [&] {
      const wxImage shown = CanvasPixels();
      wrong = 0;
      for (int y = 0; y < std::min(shown.GetHeight(), 900); ++y)
        for (int x = 0; x < std::min(shown.GetWidth(), 1728); ++x) {
          const bool white = rows[y * stride + x / 8] & (0x80 >> (x % 8));
          wrong += (shown.GetRed(x, y) > 127) != white;
        }
      return wrong == 0;
    };
    EXPECT_TRUE(test::WaitFor(matches, "page " + std::to_string(page + 1) + " on the screen", std::chrono::seconds(30)))
        << wrong << " pixels differ";
  }

  test::Sandbox box_;
  test::ScriptedPrompter prompts_;
  std::unique_ptr<Viewer> viewer_;
  MainFrame* frame_ = nullptr;
};

TEST_F(ViewerWindowTest, TheToolbarTurnsThePagesAndTheWindowFollows) {
  Start({});
  EXPECT_EQ(BoxNumber(), "1");
  EXPECT_EQ(Pane(1), "25%");
  EXPECT_EQ(Pane(2), "Page 1 of 3");
  test::Screenshot(frame_, "viewer", "frame_25");
  // A quarter-size page leaves grey to its right.
  const wxImage quarter = CanvasPixels();
  ASSERT_GT(quarter.GetWidth(), 500);
  EXPECT_EQ(quarter.GetRed(480, 10), wxLIGHT_GREY->Red());

  Command(32783);  // 100%
  ASSERT_TRUE(test::WaitFor([&] { return Pane(1) == "100%"; }, "the zoom pane at 100%"));
  ExpectScreenShowsPage(0);

  struct {
    bool next;
    uint16_t page;
  } const clicks[] = {{true, 1}, {true, 2}, {false, 1}, {false, 0}};
  for (const auto& c : clicks) {
    SCOPED_TRACE("to page " + std::to_string(c.page + 1));
    ClickBesideBox(c.next);
    const wxString number = wxString::Format("%u", c.page + 1u);
    ASSERT_TRUE(test::WaitFor([&] { return BoxNumber() == number; }, "the page box at " + number.utf8_string()));
    EXPECT_EQ(Pane(2), wxString::Format("Page %s of 3", number));
    EXPECT_EQ(viewer_->Model().CurrentPage(), c.page);
    ExpectScreenShowsPage(c.page);
  }
  Command(32785);  // 300%
  ASSERT_TRUE(test::WaitFor([&] { return Pane(1) == "300%"; }, "the zoom pane at 300%"));
  test::Screenshot(frame_, "viewer", "frame_300");
  // The page is larger than the window: it scrolls over the whole page, and
  // no grey shows.
  EXPECT_EQ(frame_->Canvas()->GetVirtualSize(), wxSize(3 * 1728, 3 * 900));
  const wxImage large = CanvasPixels();
  int grey = 0;
  for (int y = 0; y < large.GetHeight(); y += 7)
    for (int x = 0; x < large.GetWidth(); x += 7) grey += large.GetRed(x, y) == wxLIGHT_GREY->Red();
  EXPECT_EQ(grey, 0);
  EXPECT_TRUE(prompts_.prompts().empty());
}


// The modal dialog with this id, once it is drawn on the screen.
wxDialog* Shown(int dialogId) {
  wxDialog* found = nullptr;
  test::WaitFor([&] {
    for (wxWindow* w : wxTopLevelWindows)
      if (w->GetId() == dialogId) found = static_cast<wxDialog*>(w);
    return found != nullptr;
  }, "dialog " + std::to_string(dialogId));
  if (found) test::ShowAndWait(found);
  return found;
}

TEST_F(ViewerWindowTest, GoToRefusesNumbersOutsideThePages) {
  Start({});
  prompts_.Answer(desktop::Answer::Ok);
  prompts_.Answer(desktop::Answer::Ok);
  test::WithModal([&] { Command(id::kGoToPage); }, [&] {
    wxDialog* dialog = Shown(id::kGoToDialog);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->GetTitle(), "Go To");
    auto* number = static_cast<wxTextCtrl*>(dialog->FindWindow(id::kGoToNumber));
    ASSERT_NE(number, nullptr);
    EXPECT_EQ(number->GetValue(), "1");
    test::Screenshot(dialog, "viewer", "goto");
    auto* ok = dialog->FindWindow(wxID_OK);
    for (const char* text : {"0", "4", "2"}) {
      number->SetFocus();
      number->SelectAll();
      test::PressKey(text[0]);
      ASSERT_TRUE(test::WaitFor([&] { return number->GetValue() == text; }, std::string("the number ") + text));
      test::Click(ok);
    }
  });
  ASSERT_EQ(prompts_.prompts().size(), 2u);
  for (const auto& p : prompts_.prompts()) EXPECT_EQ(p.text, "Please enter an integer between 1 and 3.");
  EXPECT_EQ(viewer_->Model().CurrentPage(), 1);
  ASSERT_TRUE(test::WaitFor([&] { return BoxNumber() == "2"; }, "the page box at 2"));
  EXPECT_EQ(Pane(2), "Page 2 of 3");
}

TEST_F(ViewerWindowTest, AboutShowsTheVersion) {
  Start({});

  test::WithModal([&] { Command(id::kAppAbout); }, [&] {
    wxDialog* dialog = Shown(id::kAboutDialog);
    ASSERT_NE(dialog, nullptr);
    auto* version = dynamic_cast<wxStaticText*>(dialog->FindWindow(id::kAboutVersion));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->GetLabel(), "Version 1.30");
    test::Screenshot(dialog, "viewer", "about");
    test::Click(dialog->FindWindow(wxID_OK));
  });
}

TEST_F(ViewerWindowTest, TurningThePageKeepsTheCornerThatComesToTheTop) {
  Start({}, wxSize(600, 700));
  PageCanvas* canvas = frame_->Canvas();
  ASSERT_LT(canvas->GetClientSize().x, 700);
  Command(32783);  // 100%: the 1728 x 900 page is larger than the window
  ASSERT_TRUE(test::WaitFor([&] { return canvas->GetVirtualSize() == wxSize(1728, 900); }, "the page at 100%"));
  canvas->Scroll(0, 0);
  const wxSize client = canvas->GetClientSize();
  ASSERT_LT(client.y, 900);
  Command(id::kRotateRight);
  ASSERT_TRUE(test::WaitFor([&] { return canvas->GetVirtualSize() == wxSize(900, 1728); }, "the page turned"));
  // The former bottom-left corner (0, height - 1) is now at (900 - height, 0):
  // the view starts there, as far as the page lets it scroll.
  const int expected = std::min(900 - client.y, 900 - client.x);
  ASSERT_GT(expected, 0);
  EXPECT_EQ(canvas->GetViewStart(), wxPoint(expected, 0));
  EXPECT_EQ(viewer_->Model().Rotation(0), 1);
  EXPECT_EQ(BoxNumber(), "1");
}

TEST_F(ViewerWindowTest, PrintPreviewShowsThePageOnPaper) {
  Start({});
  Command(id::kFilePrintPreview);
  wxFrame* preview = nullptr;
  ASSERT_TRUE(test::WaitFor([&] {
    for (wxWindow* w : wxTopLevelWindows)
      if (auto* f = dynamic_cast<wxPreviewFrame*>(w)) preview = f;
    return preview != nullptr;
  }, "the preview frame"));
  preview->SetSize(700, 800);
  test::ShowAndWait(preview);
  const auto png = test::Screenshot(preview, "viewer", "preview");
  // The sheet shows the page's text across its middle, near its top.
  wxImage image;
  ASSERT_TRUE(image.LoadFile(wxString::FromUTF8(png.string()), wxBITMAP_TYPE_PNG));
  int dark = 0, all = 0;
  for (int y = image.GetHeight() / 8; y < image.GetHeight() / 3; y += 2)
    for (int x = image.GetWidth() / 5; x < image.GetWidth() * 4 / 5; x += 2, ++all) dark += image.GetRed(x, y) < 60;
  EXPECT_GT(dark, all / 4);
  preview->Close(true);
}

TEST_F(ViewerWindowTest, RecentFilesComeBeforeExit) {
  Start({});
  std::vector<std::string> labels;
  for (wxMenuItem* item : frame_->GetMenuBar()->GetMenu(0)->GetMenuItems())
    labels.push_back(item->IsSeparator() ? "-" : item->GetItemLabelText().utf8_string());
  const std::vector<std::string> expected = {"Open...", "Print...", "Print Preview", "Print Setup...", "-",
                                             "1 three.fax", "-", "Exit"};
  EXPECT_EQ(labels, expected);
  char file1[260];
  ASSERT_TRUE(KvReadRegUserStr("Korvo Viewer\\Recent File List", "File1", file1, sizeof file1));
  EXPECT_EQ(std::string(file1), box_.path("three.fax").string());
}

// The columns of the image that hold text (dark pixels) within the rectangle:
// from the first to the last, or 0 when there is none.
int InkWidth(const wxImage& image, const wxRect& r) {
  int first = -1, last = -1;
  for (int x = r.x; x < r.GetRight(); ++x)
    for (int y = r.y; y < r.GetBottom(); ++y)
      if (image.GetRed(x, y) < 100 && image.GetGreen(x, y) < 100 && image.GetBlue(x, y) < 100) {
        if (first < 0) first = x;
        last = x;
        break;
      }
  return first < 0 ? 0 : last - first + 1;
}

// The page pane shows "Page 99 of 99" whole: its text on the screen is as wide
// as the same text drawn alone in the bar's font, not cut to "Page 9...".
TEST_F(ViewerWindowTest, ThePagePaneHoldsPage99Of99) {
  Start({});
  std::vector<test::FaxPage> pages(99, test::FaxPage{1728, 8, 196, 1});
  ASSERT_TRUE(viewer_->OpenFile(test::WriteFax(box_.path("ninety-nine.fax").string(), pages)));
  Command(id::kLastPage);
  ASSERT_TRUE(test::WaitFor([&] { return Pane(2) == "Page 99 of 99"; }, "the last page in the pane"));
  wxStatusBar* bar = frame_->GetStatusBar();
  bar->Refresh();
  bar->Update();
  wxRect field;
  ASSERT_TRUE(bar->GetFieldRect(2, field));
  const wxImage shown = desktop::CaptureWindow(bar);
  const wxPoint offset = bar->ClientToScreen(wxPoint(0, 0)) - bar->GetScreenPosition();
  field.Offset(offset);

  wxBitmap alone(field.width * 2, field.height);
  {
    wxMemoryDC dc(alone);
    dc.SetBackground(*wxWHITE_BRUSH);
    dc.Clear();
    dc.SetFont(bar->GetFont());
    dc.SetTextForeground(*wxBLACK);
    dc.DrawText("Page 99 of 99", 2, 0);
  }
  const wxImage expected = alone.ConvertToImage();
  const int width = InkWidth(expected, wxRect(0, 0, expected.GetWidth(), expected.GetHeight()));
  ASSERT_GT(width, 0);
  // Within a column at either end, which antialiasing may lighten.
  EXPECT_TRUE(test::WaitFor([&] { return std::abs(InkWidth(desktop::CaptureWindow(bar), field) - width) <= 2; },
                            "the whole text in the pane", std::chrono::seconds(10)))
      << InkWidth(shown, field) << " columns of text shown, " << width << " drawn alone";
  test::Screenshot(frame_, "viewer", "page-99-of-99");
}

// Any file that opened is remembered, whatever its name; four of them, the newest first.
TEST_F(ViewerWindowTest, RecentFilesKeepTheFourNewestOpenedFilesOfAnyName) {
  Start({});
  const std::vector<std::string> names = {"got.tif", "scan.TIFF", "noextension", "four.fax"};
  for (const auto& name : names)
    ASSERT_TRUE(viewer_->OpenFile(test::WriteFax(box_.path(name).string(), kPages))) << name;
  std::vector<std::string> labels;
  for (wxMenuItem* item : frame_->GetMenuBar()->GetMenu(0)->GetMenuItems())
    if (!item->IsSeparator()) labels.push_back(item->GetItemLabelText().utf8_string());
  const std::vector<std::string> expected = {"Open...",       "Print...",        "Print Preview", "Print Setup...",
                                             "1 four.fax",    "2 noextension",   "3 scan.TIFF",   "4 got.tif",
                                             "Exit"};
  EXPECT_EQ(labels, expected);
  for (size_t i = 0; i < names.size(); ++i) {
    char file[260] = {};
    ASSERT_TRUE(KvReadRegUserStr("Korvo Viewer\\Recent File List", ("File" + std::to_string(i + 1)).c_str(), file,
                                 sizeof file));
    EXPECT_EQ(std::string(file), box_.path(names[names.size() - 1 - i]).string());
  }
}

// The title is the file's name and the program's; a file that did not open
// leaves the untitled document, never a made-up name.
TEST_F(ViewerWindowTest, TheTitleNamesTheFileAndTheProgram) {
  Start({});
  EXPECT_EQ(frame_->GetTitle().utf8_string(), "three.fax - Korvo Viewer");
  ASSERT_TRUE(viewer_->OpenFile(test::WriteFax(box_.path("fine50.tif").string(), kPages)));
  EXPECT_EQ(frame_->GetTitle().utf8_string(), "fine50.tif - Korvo Viewer");
  prompts_.Answer(desktop::Answer::Ok);
  EXPECT_FALSE(viewer_->OpenFile(box_.path("missing.fax").string()));
  EXPECT_EQ(frame_->GetTitle().utf8_string(), "Untitled - Korvo Viewer");
  viewer_.reset();
  prompts_.Answer(desktop::Answer::Ok);
  viewer_ = std::make_unique<Viewer>(std::vector<std::string>{box_.path("missing.fax").string()});
  frame_ = viewer_->Frame();
  EXPECT_EQ(frame_->GetTitle().utf8_string(), "Untitled - Korvo Viewer");
}

TEST_F(ViewerWindowTest, TheDispatcherCannotTurnToPageTwo) {
  prompts_.Answer(desktop::Answer::Ok);
  Start({"/First_Page_Only"});
  ClickBesideBox(true);
  ASSERT_TRUE(test::WaitFor([&] { return prompts_.Done(); }, "the dispatcher message"));
  ASSERT_EQ(prompts_.prompts().size(), 1u);
  EXPECT_EQ(prompts_.prompts()[0].text, kDispatcherMessage);
  EXPECT_EQ(BoxNumber(), "1");
  EXPECT_EQ(Pane(2), "Page 1 of 3");
}

}  // namespace
}  // namespace korvo
