#include "desktop/prompt.h"

#include <gtk/gtk.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>

namespace korvo::desktop {
namespace {

bool g_ending = false;  // the session ends: no box shows any more

// What a box closed without a button answers.
Answer Closed(Buttons buttons) {
  return buttons == Buttons::YesNo || buttons == Buttons::YesNoDefaultNo ? Answer::No : Answer::Cancel;
}

class WxPrompter final : public Prompter {
 public:
  Answer Message(wxWindow* parent, const std::string& text, const std::string& caption, Buttons buttons,
                 Icon icon) override {
    if (g_ending) return Closed(buttons);
    long style = 0;
    switch (buttons) {
      case Buttons::Ok: style = wxOK; break;
      case Buttons::OkCancel: style = wxOK | wxCANCEL; break;
      case Buttons::YesNo: style = wxYES_NO; break;
      case Buttons::YesNoCancel: style = wxYES_NO | wxCANCEL; break;
      case Buttons::RetryCancel: style = wxOK | wxCANCEL; break;
      case Buttons::YesNoDefaultNo: style = wxYES_NO | wxNO_DEFAULT; break;
    }
    switch (icon) {
      case Icon::None: style |= wxICON_NONE; break;
      case Icon::Information: style |= wxICON_INFORMATION; break;
      case Icon::Warning: style |= wxICON_WARNING; break;
      case Icon::Error: style |= wxICON_ERROR; break;
      case Icon::Question: style |= wxICON_QUESTION; break;
    }
    wxMessageDialog box(parent, wxString::FromUTF8(text), wxString::FromUTF8(caption), style);
    if (buttons == Buttons::RetryCancel) box.SetOKCancelLabels("&Retry", wxID_CANCEL);
    switch (box.ShowModal()) {
      case wxID_OK: return buttons == Buttons::RetryCancel ? Answer::Retry : Answer::Ok;
      case wxID_YES: return Answer::Yes;
      case wxID_NO: return Answer::No;
      default: return Closed(buttons);
    }
  }

  std::optional<std::string> ChooseFile(wxWindow* parent, const FileRequest& request) override {
    if (g_ending) return std::nullopt;
    long style = request.save ? wxFD_SAVE | wxFD_OVERWRITE_PROMPT : wxFD_OPEN | wxFD_FILE_MUST_EXIST;
    wxString caption = request.caption.empty() ? wxString(wxFileSelectorPromptStr) : wxString::FromUTF8(request.caption);
    wxString wildcard = request.wildcard.empty() ? wxString(wxFileSelectorDefaultWildcardStr)
                                                 : wxString::FromUTF8(request.wildcard);
    wxFileDialog chooser(parent, caption, wxString::FromUTF8(request.folder), wxString::FromUTF8(request.name),
                         wildcard, style);
    if (chooser.ShowModal() != wxID_OK) return std::nullopt;
    return chooser.GetPath().utf8_string();
  }
};

WxPrompter g_wxPrompter;
Prompter* g_installed = nullptr;

}  // namespace

Prompter& Prompts() { return g_installed ? *g_installed : g_wxPrompter; }

void EndPrompts() {
  g_ending = true;
  // wx's message box waits in gtk_dialog_run and its chooser for its GTK
  // response: both end on the response a closed window gives. wx's own
  // dialogs are GTK windows, not GTK dialogs, and are ended by their owners.
  GList* windows = gtk_window_list_toplevels();
  for (GList* w = windows; w; w = w->next)
    if (GTK_IS_DIALOG(w->data) && gtk_widget_get_visible(GTK_WIDGET(w->data)))
      gtk_dialog_response(GTK_DIALOG(w->data), GTK_RESPONSE_DELETE_EVENT);
  g_list_free(windows);
}

Prompter* SetPrompts(Prompter* prompter) {
  Prompter* before = g_installed;
  g_installed = prompter;
  return before;
}

}  // namespace korvo::desktop
