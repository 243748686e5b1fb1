// The one way desktop programs talk to the user through boxes: messages,
// questions and file choosers. Windows and models call Prompts(); the program
// gets wx dialogs, tests install a scripted Prompter that records every text
// and gives the answers the test chose. The header needs no wx.
#pragma once

#include <optional>
#include <string>

class wxWindow;

namespace korvo::desktop {

// YesNoDefaultNo: No is the default button.
enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel, YesNoDefaultNo };
enum class Icon { None, Information, Warning, Error, Question };
enum class Answer { Ok, Cancel, Yes, No, Retry };

struct FileRequest {
  bool save = false;     // a save chooser asks before replacing an existing file
  std::string caption;   // empty: the toolkit's own title
  std::string wildcard;  // wx form, "Text files (*.txt)|*.txt|All files (*)|*"; empty: all files
  std::string folder;    // where the chooser starts; empty: the current folder
  std::string name;      // the proposed file name
};

class Prompter {
 public:
  virtual ~Prompter() = default;
  // Texts are UTF-8. Closing the box without a button is Cancel (No for the Yes/No boxes).
  virtual Answer Message(wxWindow* parent, const std::string& text, const std::string& caption, Buttons buttons,
                         Icon icon) = 0;
  // The chosen path (UTF-8), or nothing when the user cancels.
  virtual std::optional<std::string> ChooseFile(wxWindow* parent, const FileRequest& request) = 0;
};

// The installed prompter, else the wx dialogs.
Prompter& Prompts();
// Installs `prompter` (not owned; null gives back the wx dialogs) and returns the one before.
Prompter* SetPrompts(Prompter* prompter);

// The session ends: the toolkit's boxes open now are closed as by their
// window's close button (they run loops of their own that no wx window
// ends), and the wx boxes asked for from now on answer so at once, unseen.
void EndPrompts();

}  // namespace korvo::desktop
