// KorvoPrep's title window: the full-screen backdrop "Velmora Korvo Setup"
// behind the setup wizard, with the product's name in its upper left.
#pragma once

#include <wx/frame.h>

#include "launcher/launcher.h"

namespace korvo::launcher {

inline constexpr const char* kTitleCaption = "Velmora Korvo Setup";
inline constexpr const char* kTitleText = "Velmora Korvo Version 1.30";

class TitleWindow : public wxFrame, public TitleView {
 public:
  TitleWindow();  // not shown yet
  void ShowMaximized() override;
  void StopBox(const std::string& text, const std::string& caption) override;

 private:
  void OnPaint(wxPaintEvent& event);
};

// The launcher's start-up as korvoprep runs it: the title window, the mode
// of the arguments, the launcher's own folder; the window is destroyed
// before it returns.
LaunchResult RunKorvoPrep(const std::vector<std::string>& arguments, const std::string& ownFolder);

}  // namespace korvo::launcher
