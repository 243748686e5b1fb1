// The Dispatch Faxes dialog's behaviour, without windows: the registered
// users of a server fetched at the first opening of the drop-down list
// (request 7500 "0" into an "LST" file of the data folder), kept sorted, and
// OK while one is selected.
#pragma once

#include <string>
#include <vector>

#include "common/faxclient.h"
#include "manager/ui_services.h"

namespace korvo::manager {

inline constexpr int kUserChoiceDialog = 137;
inline constexpr int kUserChoiceList = 1015;

class UserChoice {
 public:
  UserChoice(UiServices& ui, std::string server, std::string title);

  const std::string& title() const { return title_; }
  const std::string& server() const { return server_; }
  // The drop-down list is about to open: filled from the server while it is
  // still empty, so a failed fetch is tried again at the next opening.
  void OnDropDown();
  // The names, sorted as the list keeps them (letters' case ignored).
  const std::vector<std::string>& names() const { return names_; }
  // The list's selection changed (-1: none).
  void Select(int index);
  bool OkEnabled() const { return selected_ >= 0; }
  // The selected name; empty while none is selected.
  std::string chosen() const;

 private:
  UiServices& ui_;
  std::string server_;
  std::string title_;
  std::vector<std::string> names_;
  int selected_ = -1;
  FaxClient client_;
};

}  // namespace korvo::manager
