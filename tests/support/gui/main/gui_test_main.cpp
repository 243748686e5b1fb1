// main() of every GUI test program: a private Xvfb, wx started on it, one
// event loop active for the helpers' waits, and wx assertions as test failures.
#include <cstdio>
#include <optional>
#include <stdexcept>

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/evtloop.h>

#include "tests/support/gui/window_manager.h"
#include "tests/support/gui/window_test.h"
#include "tests/support/gui/xvfb.h"

// The toolkit's libraries keep caches for the life of the process; only their
// own allocations are excused, never ours.
extern "C" const char* __lsan_default_suppressions() { return korvo::test::ToolkitLeakSuppressions(); }

namespace {

void FailOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond, const wxString& msg) {
  ADD_FAILURE_AT(file.utf8_string().c_str(), line)
      << "wx assertion " << cond.utf8_string() << " in " << func.utf8_string() << ": " << msg.utf8_string();
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();

  std::optional<korvo::test::Xvfb> display;
  try {
    display.emplace();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  // Programs built with korvo_gui_test(... WINDOW_MANAGER) run under Openbox,
  // stopped before its display.
  std::optional<korvo::test::WindowManager> manager;
  try {
#ifdef KORVO_GUI_WINDOW_MANAGER
    manager.emplace();
#endif
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  wxApp::SetInstance(new wxApp);
  int wxArgc = 1;
  char* wxArgv[] = {argv[0], nullptr};
  if (!wxEntryStart(wxArgc, wxArgv)) {
    std::fprintf(stderr, "wx could not start on display %s\n", display->display().c_str());
    return 1;
  }
  wxSetAssertHandler(FailOnAssert);
  // The tests close their windows one by one; that must not end the loop.
  wxTheApp->SetExitOnFrameDelete(false);
  int rc;
  {
    wxGUIEventLoop loop;
    wxEventLoopActivator active(&loop);
    rc = RUN_ALL_TESTS();
  }
  wxEntryCleanup();
  return rc;
}
