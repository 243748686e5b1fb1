// A GUI test program built with korvo_gui_test(... WINDOW_MANAGER) runs its
// tests under Openbox: the windows it shows are managed and stacked by it.
#include <gtest/gtest.h>
#include <wx/frame.h>

#include "tests/support/gui/window_manager.h"
#include "tests/support/gui/window_test.h"

namespace korvo::test {
namespace {

class ManagedWindow : public WindowTest {};

TEST_F(ManagedWindow, TheLastRaisedWindowIsStackedOnTop) {
  ASSERT_TRUE(WindowManagerRunning());
  auto* first = new wxFrame(nullptr, wxID_ANY, "First frame");
  auto* second = new wxFrame(nullptr, wxID_ANY, "Second frame");
  ShowAndWait(first);
  ShowAndWait(second);
  first->Raise();
  WaitFor([] {
    auto titles = ManagedWindowsBottomToTop();
    return titles.size() == 2 && titles[0] == "Second frame" && titles[1] == "First frame";
  }, "the first frame raised above the second");
}

}  // namespace
}  // namespace korvo::test
