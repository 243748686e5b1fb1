// KorvoPrep on a real display: the full-screen title window as it is painted.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <wx/display.h>
#include <wx/image.h>

#include "launcher/app/title_window.h"
#include "tests/support/gui/window_test.h"

namespace korvo::test {
namespace {

using launcher::TitleWindow;

class KorvoPrepWindow : public WindowTest {
 protected:
  void SetUp() override { g_object_set(gtk_settings_get_default(), "gtk-enable-animations", FALSE, nullptr); }
};

TEST_F(KorvoPrepWindow, TitleWindowFillsTheScreenWithTheProductName) {
  auto* title = new TitleWindow;
  EXPECT_FALSE(title->IsShown());
  title->ShowMaximized();
  const wxRect screen = wxDisplay(0u).GetClientArea();
  ASSERT_TRUE(WaitFor([&] { return title->IsShown() && title->GetSize().x >= screen.width * 9 / 10; },
                      "the title window over the screen"));
  EXPECT_EQ(title->GetTitle(), "Velmora Korvo Setup");
  EXPECT_TRUE(title->GetIcon().IsOk());
  const wxImage shot(Screenshot(title, "setup", "title").string(), wxBITMAP_TYPE_PNG);
  ASSERT_TRUE(shot.IsOk());
  EXPECT_GE(shot.GetWidth(), screen.width * 9 / 10);
  // The background, and white text in the upper left, starting 1/32 in.
  const wxSize client = title->GetClientSize();
  int white = 0, other = 0;
  const int top = shot.GetHeight() - client.y;  // the client area is the bottom of the shot
  for (int y = top; y < top + client.y / 32 + 40 && y < shot.GetHeight(); ++y)
    for (int x = 0; x < client.x / 2 && x < shot.GetWidth(); ++x) {
      const bool isWhite = shot.GetRed(x, y) > 200 && shot.GetGreen(x, y) > 200 && shot.GetBlue(x, y) > 200;
      const bool isBackground = shot.GetRed(x, y) == 0x80 && shot.GetGreen(x, y) == 0 && shot.GetBlue(x, y) == 0x40;
      if (isWhite) {
        ++white;
        EXPECT_GE(x, client.x / 32 - 1);
        EXPECT_GE(y - top, client.y / 32 - 1);
      } else if (!isBackground) {
        ++other;
      }
    }
  EXPECT_GT(white, 50);
  EXPECT_EQ(shot.GetRed(shot.GetWidth() - 5, shot.GetHeight() - 5), 0x80);
  EXPECT_EQ(shot.GetBlue(shot.GetWidth() - 5, shot.GetHeight() - 5), 0x40);
  title->Destroy();
}

}  // namespace
}  // namespace korvo::test
