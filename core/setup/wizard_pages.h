// The setup wizard's pages without windows: their ids, dialog numbers and
// captions, the order of each mode and the rules a page applies on entering
// and leaving. The wx pages (core/setup/app) only show what these
// hold.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_systems.h"

namespace korvo::setup {

enum class WizardMode { Install, Remove };

enum class Page {
  Welcome,
  Readme,
  Options,
  ServiceStartup,
  MainInfo,
  WorkStation,
  Desktop,
  Final,
  Progress,
  Done,
  RemoveWelcome,
  RemoveFinal,
  RemoveDone,
};

struct PageInfo {
  Page page;
  int dialog;           // the dialog resource number the page keeps
  const char* caption;  // the page's title
};

const PageInfo& InfoOf(Page page);
// The pages of a mode, in order; the sheet holds every one of them.
const std::vector<Page>& PagesOf(WizardMode mode);

// Whether a page shows when the walk reaches it: the MAPI page never does,
// the Fax Service Information page only with the server part chosen.
bool PageShows(Page page, bool serverChosen);
// The page shown after (or before) `from` in the walk, skipping those that
// do not show; nothing past either end.
std::optional<Page> NextPage(WizardMode mode, Page from, bool serverChosen);
std::optional<Page> PreviousPage(WizardMode mode, Page from, bool serverChosen);

// Whether Cancel on the page asks the cancel question first.
bool CancelAsks(Page page);

// What the pages ask of the machine, replaceable in tests.
struct SetupProbes {
  // The file system holding a folder (nothing: cannot be asked).
  std::function<std::optional<platform::FileSystemKind>(const std::string&)> fileSystem = platform::LookupFileSystem;
  // Bytes free there (nothing: cannot be asked).
  std::function<std::optional<uint64_t>(const std::string&)> freeSpace = platform::FreeSpace;
  std::function<bool()> networkUp = platform::NetworkInterfaceUp;
  // Whether the person running setup has an account (under sudo: the caller).
  std::function<bool()> hasAccount;
  std::function<std::string()> thisMachine;
  std::function<void()> beep = [] {};  // the exclamation beep before a refusal
};
SetupProbes MachineProbes(std::function<void()> beep);

// The room an installation needs: 5 MiB.
inline constexpr uint64_t kNeededSpace = 5u * 1024 * 1024;

// The Options page's check of the root directory on Next.
enum class RootCheck {
  Fine,             // an absolute path on a local fixed disk with room
  NotFixedDisk,     // relative, on a network or removable file system, or not to be asked
  NoSpace,          // under kNeededSpace free
  SpaceUnknown,     // free space cannot be read: said, and the page is left
};
RootCheck CheckRootDirectory(const std::string& root, const SetupProbes& probes);

// The Welcome page's network check on its first entering: 1222 when no
// interface but loopback is up, 1245 when the login has no account, else 0.
uint32_t NetworkCheck(const SetupProbes& probes);

// README.TXT of the folder, read-only (the media may be), at most 8191
// bytes shown, bytes that are not UTF-8 as replacement marks; the read-me
// page's failure text when it cannot be read.
std::string ReadmeText(const std::string& folder);

}  // namespace korvo::setup
