#include "core/setup/wizard_pages.h"

#include <algorithm>
#include <fstream>

#include "platform/accounts.h"
#include "platform/neighbourhood.h"
#include "platform/utf8.h"

namespace korvo::setup {

namespace {

const PageInfo kPages[] = {
    {Page::Welcome, 307, "Korvo Setup"},
    {Page::Readme, 130, "Korvo Readme"},
    {Page::Options, 308, "Korvo Setup Options"},
    {Page::ServiceStartup, 318, "Korvo Setup MAPI Integration"},
    {Page::MainInfo, 314, "Korvo Setup Fax Service Information"},
    {Page::WorkStation, 310, "Korvo Setup Workstation"},
    {Page::Desktop, 316, "Korvo Setup Desktop Options"},
    {Page::Final, 311, "Korvo Setup Final"},
    {Page::Progress, 132, "Korvo Setup"},
    {Page::Done, 312, "Korvo Setup"},
    {Page::RemoveWelcome, 128, "Korvo Uninstall"},
    {Page::RemoveFinal, 129, "Korvo Uninstall Final"},
    {Page::RemoveDone, 315, "Korvo Uninstall Done"},
};

}  // namespace

const PageInfo& InfoOf(Page page) { return kPages[static_cast<size_t>(page)]; }

const std::vector<Page>& PagesOf(WizardMode mode) {
  static const std::vector<Page> install = {Page::Welcome, Page::Readme,      Page::Options, Page::ServiceStartup,
                                            Page::MainInfo, Page::WorkStation, Page::Desktop, Page::Final,
                                            Page::Progress, Page::Done};
  static const std::vector<Page> remove = {Page::RemoveWelcome, Page::RemoveFinal, Page::RemoveDone};
  return mode == WizardMode::Install ? install : remove;
}

bool PageShows(Page page, bool serverChosen) {
  if (page == Page::ServiceStartup) return false;
  if (page == Page::MainInfo) return serverChosen;
  return true;
}

namespace {

std::optional<Page> Walk(WizardMode mode, Page from, bool serverChosen, int step) {
  const std::vector<Page>& pages = PagesOf(mode);
  auto it = std::find(pages.begin(), pages.end(), from);
  if (it == pages.end()) return std::nullopt;
  for (ptrdiff_t i = (it - pages.begin()) + step; i >= 0 && i < static_cast<ptrdiff_t>(pages.size()); i += step)
    if (PageShows(pages[static_cast<size_t>(i)], serverChosen)) return pages[static_cast<size_t>(i)];
  return std::nullopt;
}

}  // namespace

std::optional<Page> NextPage(WizardMode mode, Page from, bool serverChosen) {
  return Walk(mode, from, serverChosen, 1);
}

std::optional<Page> PreviousPage(WizardMode mode, Page from, bool serverChosen) {
  return Walk(mode, from, serverChosen, -1);
}

bool CancelAsks(Page page) {
  switch (page) {
    case Page::Readme:
    case Page::Options:
    case Page::WorkStation:
    case Page::Final:
    case Page::Progress:
      return true;
    default:
      return false;
  }
}

SetupProbes MachineProbes(std::function<void()> beep) {
  SetupProbes probes;
  probes.hasAccount = [] { return !platform::InvokingUserName().empty(); };
  probes.thisMachine = [] { return platform::LanNeighbourhood::ThisMachine(); };
  probes.beep = std::move(beep);
  return probes;
}

RootCheck CheckRootDirectory(const std::string& root, const SetupProbes& probes) {
  const std::string folder = platform::NearestExistingFolder(root);
  if (folder.empty()) return RootCheck::NotFixedDisk;
  const auto kind = probes.fileSystem(folder);
  if (!kind || !kind->local || kind->removable) return RootCheck::NotFixedDisk;
  const auto free = probes.freeSpace(folder);
  if (!free) return RootCheck::SpaceUnknown;
  return *free < kNeededSpace ? RootCheck::NoSpace : RootCheck::Fine;
}

uint32_t NetworkCheck(const SetupProbes& probes) {
  if (!probes.networkUp()) return 1222;
  if (probes.hasAccount && !probes.hasAccount()) return 1245;
  return 0;
}

std::string ReadmeText(const std::string& folder) {
  std::ifstream in(folder.empty() ? std::string("README.TXT") : folder + "/README.TXT", std::ios::binary);
  if (!in) return "Could not open Readme.txt file";
  std::string text(8191, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) return "Could not open Readme.txt file";
  text.resize(static_cast<size_t>(in.gcount()));
  // The text ends at its first NUL, as a zeroed buffer shown as text did.
  text.resize(std::min(text.size(), text.find('\0')));
  return platform::ValidUtf8(text);
}

}  // namespace korvo::setup
