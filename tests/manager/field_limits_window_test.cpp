// The manager's edits stop input at what the record's field holds, counted
// in UTF-8 bytes as the record stores it: Croatian letters typed into the
// real dialogs under Xvfb (two bytes each) are taken while they fit and
// refused after, so what the dialog hands on is stored whole. Counting
// characters let 31 letters into a 31-byte user name, which the server then
// cut to 15.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include <wx/dialog.h>
#include <wx/textctrl.h>

#include "common/entries.h"
#include "common/field_sizes.h"
#include "common/connection_settings.h"
#include "manager/view/book_dialogs.h"
#include "manager/view/server_parameters_dialog.h"
#include "tests/manager/fake_ui.h"
#include "tests/manager/x_keys.h"
#include "tests/support/gui/window_test.h"

namespace korvo::test {
namespace {

using namespace manager;

const std::u32string kLetters = U"ŽĐĆČŠ";

std::string Utf8(const std::u32string& text) {
  wxString out;
  for (char32_t letter : text) out += wxUniChar(static_cast<wxUint32>(letter));
  return out.utf8_string();
}

// The first n letters of a run of Croatian letters.
std::u32string Croatian(size_t n) {
  std::u32string out;
  for (size_t i = 0; i < n; ++i) out += kLetters[i % kLetters.size()];
  return out;
}

struct Case {
  const char* name;
  std::function<wxDialog*()> open;
  int edit;
  size_t bytes;
};

TEST(FieldLimitsWindowTest, EditsStopAtTheBytesTheirFieldHolds) {
  LetterKeys keys(kLetters);
  ASSERT_TRUE(keys.ok()) << "no spare keys in the X server's map";
  RegisteredUserEntry user;
  JunkSenderEntry sender;
  AddressEntry address;
  FakeUi ui;
  ConnectionSettings settings;
  settings.retryAttempts = 5;
  settings.retryInterval = 3;
  const Case cases[] = {
      {"add-user-croatian", [&] { return new AddUserDialog(nullptr, user, false); }, AddUserDialog::kUserName,
       field_size::kUserName},
      {"add-sender-croatian", [&] { return new AddSenderDialog(nullptr, sender, false); },
       AddSenderDialog::kStationId, field_size::kStationId},
      {"add-address-croatian", [&] { return new AddAddressDialog(nullptr, address, "Add Address"); },
       AddAddressDialog::kComment, field_size::kAddressComment},
      {"server-parameters-croatian",
       [&] { return new ServerParametersDialog(nullptr, ui, settings, 0x105, "."); }, kServerParametersStationId,
       ConnectionSettings::kStationIdLength},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    wxDialog* dialog = c.open();
    ShowAndWait(dialog);
    auto* edit = dynamic_cast<wxTextCtrl*>(dialog->FindWindow(c.edit));
    ASSERT_NE(edit, nullptr);
    Click(edit);
    ASSERT_TRUE(WaitFor([&] { return edit->HasFocus(); }, "the focus in the edit"));
    edit->SelectAll();
    // One letter more than the field's characters: the user types on past
    // the limit. Home is taken after the last letter: once the caret is
    // back, every key was.
    const std::u32string typed = Croatian(c.bytes + 1);
    for (char32_t letter : typed) ASSERT_TRUE(keys.Type(letter));
    PressKey(WXK_HOME);
    ASSERT_TRUE(WaitFor([&] { return edit->GetInsertionPoint() == 0 && !edit->GetValue().empty(); },
                        "the letters typed"));
    const std::string held = edit->GetValue().utf8_string();
    EXPECT_EQ(held, Utf8(Croatian(c.bytes / 2)));
    // A letter of one byte still fits when a byte is left, at the end.
    if (c.bytes % 2) {
      PressKey(WXK_END);
      PressKey('k');
      ASSERT_TRUE(WaitFor([&] { return edit->GetValue().utf8_string() == held + "k"; }, "k typed"));
    }
    EXPECT_LE(edit->GetValue().utf8_string().size(), c.bytes);
    Screenshot(dialog, "manager", c.name);
    dialog->Destroy();
  }
}

}  // namespace
}  // namespace korvo::test
