#include "core/setup/wizard_model.h"

#include <cstdio>

#include "core/setup/install_engine.h"

namespace korvo::setup {

namespace {

using desktop::Answer;
using desktop::Buttons;
using desktop::Icon;

bool gNetworkChecked = false;

// At most `limit` characters of UTF-8 text, never half a character.
std::string Cut(const std::string& text, size_t limit) {
  size_t chars = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && chars++ == limit) return text.substr(0, i);
  }
  return text;
}

}  // namespace

std::string SetupSummary(const SetupSettings& s) {
  std::string out = "Root directory for installation:\n  " + s.rootDirectory;
  out += "\n\nServer installation: " + std::string(s.server ? "Yes" : "No");
  out += "\n\nWorkstation installation: " + std::string(s.workstation ? "Yes" : "No");
  out += "\n\nDefault Korvo Server: " + s.defaultServer;
  out += "\n\nFax Service Information:\n  Organization: " + s.organization;
  out += "\n  Contact Person: " + s.contactPerson;
  out += "\n  Main Fax Number: " + s.mainFaxNumber;
  out += "\n  Main Phone Number: " + s.mainPhoneNumber;
  return out;
}

SetupWizardModel::SetupWizardModel(WizardMode mode, SetupSettings& settings, desktop::Prompter& prompts,
                                   SetupProbes probes, bool* networkChecked)
    : mode_(mode),
      settings_(settings),
      prompts_(prompts),
      probes_(std::move(probes)),
      networkChecked_(networkChecked ? networkChecked : &gNetworkChecked) {
  if (mode_ == WizardMode::Install) readme = ReadmeText("");
  else somethingToRemove_ = InstallationFound(settings_);
}

std::optional<Page> SetupWizardModel::Next(Page from) const { return NextPage(mode_, from, settings_.server != 0); }

std::optional<Page> SetupWizardModel::Previous(Page from) const {
  return PreviousPage(mode_, from, settings_.server != 0);
}

void SetupWizardModel::Enter(Page page) {
  switch (page) {
    case Page::Welcome:
      welcome = kWelcomeText;
      if (!*networkChecked_) {
        *networkChecked_ = true;
        const uint32_t code = NetworkCheck(probes_);
        if (code == 1222)
          prompts_.Message(owner_,
                           "The network is not installed, not started or not available.\n\n"
                           "Please make sure the network is ready,\nso other Korvo clients could connect.\n",
                           "Korvo Setup Network Check", Buttons::Ok, Icon::Warning);
        else if (code == 1245)
          prompts_.Message(owner_,
                           "The user is not logged on, or the network is not available.\n\n"
                           "Please make sure the network is ready and you are logged on.",
                           "Korvo Setup Network Check", Buttons::Ok, Icon::Warning);
      }
      break;
    case Page::Options:
      serverChoice = settings_.server != 0;
      workstationChoice = !serverChoice;
      rootDirectory = Cut(settings_.rootDirectory, kRootLimit);
      break;
    case Page::MainInfo:
      contactPerson = Cut(settings_.contactPerson, kMainInfoLimit);
      mainFaxNumber = Cut(settings_.mainFaxNumber, kMainInfoLimit);
      mainPhoneNumber = Cut(settings_.mainPhoneNumber, kMainInfoLimit);
      organization = Cut(settings_.organization, kOrganizationLimit);
      break;
    case Page::WorkStation:
      if (settings_.server != 0 && settings_.defaultServer.empty())
        settings_.defaultServer = Cut(probes_.thisMachine ? probes_.thisMachine() : "", kServerNameLimit);
      defaultServer = Cut(settings_.defaultServer, kServerNameLimit);
      break;
    case Page::Desktop:
      managerInStartup = settings_.managerInStartup != 0;
      notifierInStartup = settings_.notifierInStartup != 0;
      break;
    case Page::Final:
      summary = SetupSummary(settings_);
      break;
    default:
      break;
  }
}

bool SetupWizardModel::Leave(Page page, bool forward) {
  switch (page) {
    case Page::Options:
      return LeaveOptions(forward);
    case Page::MainInfo:
      settings_.contactPerson = Cut(contactPerson, kMainInfoLimit);
      settings_.mainFaxNumber = Cut(mainFaxNumber, kMainInfoLimit);
      settings_.mainPhoneNumber = Cut(mainPhoneNumber, kMainInfoLimit);
      settings_.organization = Cut(organization, kOrganizationLimit);
      return true;
    case Page::WorkStation:
      return LeaveWorkStation(forward);
    case Page::Desktop:
      settings_.managerInStartup = managerInStartup ? 1 : 0;
      settings_.notifierInStartup = notifierInStartup ? 1 : 0;
      return true;
    default:
      return true;
  }
}

bool SetupWizardModel::LeaveOptions(bool forward) {
  if (forward) {
    // The server part needs the client part on the same machine.
    if (serverChoice) workstationChoice = true;
    switch (CheckRootDirectory(rootDirectory, probes_)) {
      case RootCheck::NotFixedDisk:
        if (probes_.beep) probes_.beep();
        prompts_.Message(owner_,
                         "Please specify a path on your fixed disk\n(hard disk) for Korvo root directory.\n\n"
                         "For example: /opt/korvo",
                         "Korvo Setup", Buttons::Ok, Icon::Warning);
        return false;
      case RootCheck::NoSpace:
        prompts_.Message(owner_,
                         "There is no enough disk space to perform\nthe Korvo installation.\n\n"
                         "Please free up some disk space on a selected fixed disk,\n"
                         "or select a different fixed disk for the installation.",
                         "Korvo Setup Insufficient Disk Space", Buttons::Ok, Icon::Warning);
        return false;
      case RootCheck::SpaceUnknown:
        prompts_.Message(owner_, "Could not get information on free space\nfor a specified path.", "Korvo Setup",
                         Buttons::Ok, Icon::None);
        break;
      case RootCheck::Fine:
        break;
    }
  }
  settings_.server = serverChoice ? 1 : 0;
  settings_.workstation = workstationChoice ? 1 : 0;
  settings_.rootDirectory = Cut(rootDirectory, kRootLimit);
  return true;
}

bool SetupWizardModel::LeaveWorkStation(bool forward) {
  settings_.defaultServer = Cut(defaultServer, kServerNameLimit);
  if (forward && settings_.defaultServer.empty()) {
    prompts_.Message(owner_, "Please specify Default Korvo Server", "Korvo Setup", Buttons::Ok, Icon::None);
    return false;
  }
  return true;
}

bool SetupWizardModel::AskCancel() {
  return prompts_.Message(owner_,
                          "The Korvo Setup is not complete.\nDo you want to cancel Korvo Setup and exit this program ?",
                          "Korvo Setup", Buttons::YesNoDefaultNo, Icon::Question) == Answer::Yes;
}

std::string SetupWizardModel::ProgressLine(const std::string& line) {
  return Cut(line, kProgressLimit) + std::string(33, ' ');
}

}  // namespace korvo::setup
