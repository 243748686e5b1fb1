// frmNumsnip, the one window of Numsnip: a thin view over NumsnipForm and
// ExtractJob. Its controls carry the names Text1, Command3, rchFile, ...
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include <wx/frame.h>

#include "extractor/extract.h"

class wxButton;
class wxCheckBox;
class wxStaticText;
class wxTextCtrl;

namespace korvo::numsnip {

class NumsnipFrame : public wxFrame {
 public:
  NumsnipFrame();
  ~NumsnipFrame() override;

 private:
  void OnBoxChanged(wxTextCtrl* box);
  void OnBrowse(wxTextCtrl* box, bool save);
  void OnExtract();
  void OnFound(const std::string& number);  // worker thread
  void ShowProgress();
  void OnDone(const ExtractResult& result);
  void OnClose(wxCloseEvent& event);
  void UpdateExtractButton();

  wxTextCtrl* text1_;
  wxTextCtrl* text2_;
  wxCheckBox* check1_;
  wxCheckBox* check2_;
  wxButton* command3_;
  wxTextCtrl* rchFile_;
  wxStaticText* label3_;

  NumsnipForm form_;
  ExtractJob job_;
  bool closing_ = false;  // the window was closed during a run: it goes when the run ends
  // The latest number found; one progress update is posted at a time.
  std::mutex progressLock_;
  std::string progressNumber_;
  std::atomic<bool> progressPosted_{false};
};

}  // namespace korvo::numsnip
