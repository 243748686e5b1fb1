// KorvoBell's windows: the hidden frame "Korvo Notify" with the timer, the
// tray icon and its menu, and the About (100), Configure (102) and message
// (104) dialogs. The behaviour is the model's (notifier/notifier.h).
#pragma once

#include <memory>

#include <wx/dialog.h>
#include <wx/frame.h>
#include <wx/taskbar.h>
#include <wx/timer.h>

#include "notifier/notifier.h"

class wxStaticBitmap;
class wxStaticText;

namespace korvo::notifier {

// Dialog and control ids.
inline constexpr int kDlgAbout = 100;
inline constexpr int kDlgConfigure = 102;
inline constexpr int kDlgMessage = 104;
inline constexpr int kIdSound = 1000;
inline constexpr int kIdLine1 = 1005;
inline constexpr int kIdLine2 = 1006;
inline constexpr int kIdMessageIcon = 1008;
inline constexpr int kIdInterval = 1010;

// wx takes menu ids below 0x7FFF only: a command's menu id is its number
// less 0x4000.
inline constexpr int kMenuIdOffset = 0x4000;
constexpr int MenuId(int command) { return command - kMenuIdOffset; }

// The icon of the given id (129 or 130), from the program's own PNGs.
wxIcon NotifierIcon(int id);

class NotifierFrame;

// The modeless message window: polls go on while it is open.
class MessageDialog : public wxDialog {
 public:
  MessageDialog(NotifierFrame* frame, const Notifier& model);
  using wxDialog::Update;  // the window's own repaint stays reachable
  void Update(const Notifier& model, int icon);

 private:
  wxStaticBitmap* icon_;
  wxStaticText* line1_;
  wxStaticText* line2_;
};

// A click opens the menu; a double click runs the menu's first item (Check
// Now). The menu takes the pointer once open, so a click waits for the
// double-click time before it opens the menu: a second click within it makes
// a double click.
class NotifierTrayIcon : public wxTaskBarIcon {
 public:
  explicit NotifierTrayIcon(NotifierFrame* frame);
  // How often its menu was shown.
  int menusOpened() const { return menusOpened_; }

 protected:
  wxMenu* CreatePopupMenu() override;

 private:
  void OnLeftDown();

  NotifierFrame* frame_;
  wxTimer click_;  // runs from a first click for the double-click time
  int menusOpened_ = 0;
};

class NotifierFrame : public wxFrame {
 public:
  NotifierFrame(NotifyOptions options, const std::string& dataPath);
  ~NotifierFrame() override;

  // One 5-second tick, as the timer gives it.
  void Tick();
  static wxMenu* MakeMenu();

  Notifier& model() { return model_; }
  // Null when no tray host was there at start (the frame is shown minimised).
  NotifierTrayIcon* tray() { return tray_.get(); }
  MessageDialog* message() { return message_; }
  wxDialog* configure() { return configure_; }
  wxDialog* about() { return about_; }
  int trayIconShown() const { return trayIconShown_; }

  void CheckNow();
  void DoubleClick();
  void Configure();
  void About();
  void ExitPass();
  void MessageClosed();

 private:
  void OnMenu(wxCommandEvent& event);
  void OnIconize(wxIconizeEvent& event);
  void OnClose(wxCloseEvent& event);
  void ShowTrayIcon(int icon, const std::string& tip);
  // The message window with the model's lines, opened when it is not open.
  void ShowMessage(int icon);

  Notifier model_;
  wxTimer timer_;
  std::unique_ptr<NotifierTrayIcon> tray_;
  MessageDialog* message_ = nullptr;
  wxDialog* configure_ = nullptr;
  wxDialog* about_ = nullptr;
  int trayIconShown_ = kIconNormal;
  bool minimised_ = false;  // the window manager minimised the frame
};

}  // namespace korvo::notifier
