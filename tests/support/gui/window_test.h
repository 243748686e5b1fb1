// Helpers for tests of real windows under the private Xvfb that the GUI test
// main starts: bounded waits that run the wx event loop (no sleeps), real
// mouse clicks and key presses through wxUIActionSimulator, and screenshots
// into build/artifacts/<program>/. A wx assertion fails the running test.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>
#include <wx/defs.h>

class wxDialog;
class wxWindow;

namespace korvo::test {

// Runs the event loop (events, pending calls, idle handlers) until done()
// holds. After `bound` it gives up: a test failure naming `what`, and false.
bool WaitFor(const std::function<bool()>& done, const std::string& what,
             std::chrono::milliseconds bound = std::chrono::seconds(60));

// Shows a top-level window and waits until it is on the screen with its
// drawing done.
void ShowAndWait(wxWindow* window);

// Moves the pointer to the middle of the window and clicks the left button.
void Click(wxWindow* window);
// Clicks into the window (giving it the focus) and types the text as key presses.
void Type(wxWindow* window, const std::string& text);
// One key (a wxKeyCode or a character) with wxMOD_* modifiers, to the focused window.
void PressKey(int key, int modifiers = wxMOD_NONE);

// Runs script inside the modal loop of the dialog with this id, which the
// caller opens next (or which a click inside an open dialog opens). The check
// is posted again until that dialog is shown and modal: a script that ran
// earlier, in the caller's loop, would wait there for a dialog that cannot
// open before it returns. After `bound` it gives up with a test failure.
void WhenModal(int dialogId, std::function<void(wxDialog&)> script,
               std::chrono::milliseconds bound = std::chrono::seconds(60));
// Runs script inside the modal loop of the dialog that open starts: the
// script is queued before open and runs once that loop takes events.
void WithModal(const std::function<void()>& open, const std::function<void()>& script);

// Saves the window as build/artifacts/<program>/<name>.png and returns that path.
std::filesystem::path Screenshot(wxWindow* window, const std::string& program, const std::string& name);

// The leak checker's suppressions for the toolkit's own caches (fontconfig,
// GLib, D-Bus and GTK only), for GUI test programs and the programs they run.
const char* ToolkitLeakSuppressions();

// Base of window tests: closes and deletes every top-level window a test leaves.
class WindowTest : public ::testing::Test {
 protected:
  void TearDown() override;
};

}  // namespace korvo::test
