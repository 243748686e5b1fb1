#include "manager/view/menu_copy.h"

#include <wx/menu.h>

#include "desktop/command_id.h"
#include "manager/command_prompts.h"

namespace korvo::manager {

wxMenu* CopyPopup(const PopupMenu& popup) {
  auto* menu = new wxMenu;
  for (const MenuItem& item : popup.items) {
    if (item.id == 0)
      menu->AppendSeparator();
    else
      menu->Append(WxId(item.id), wxString::FromUTF8(item.text), wxString::FromUTF8(PromptMessage(item.id)));
  }
  return menu;
}

void ReplaceMenuPopup(const MenuResource& resource, int index, wxMenuBar* target, int position,
                      const std::string& caption) {
  if (index < 0 || index >= static_cast<int>(resource.size()) || !target || position < 0 ||
      position >= static_cast<int>(target->GetMenuCount()))
    return;
  const PopupMenu& popup = resource[static_cast<size_t>(index)];
  const wxString text = wxString::FromUTF8(caption.empty() ? popup.text : caption.c_str());
  delete target->Replace(static_cast<size_t>(position), CopyPopup(popup), text);
}

}  // namespace korvo::manager
