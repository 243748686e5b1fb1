// The setup wizard's model without a display: what the pages fill in on
// entering, what they check and store on leaving (the root directory through
// a replaceable file-system lookup, the default server), the network check
// once per process, the summary and the cancel question.
#include "core/setup/wizard_model.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/setup/manifest.h"
#include "tests/core/sendfax_prompts.h"
#include "tests/support/sandbox.h"

namespace korvo::setup {
namespace {

using desktop::Answer;
using desktop::Buttons;
using desktop::Icon;
using test::RecordedPrompts;

struct Disk {
  std::optional<platform::FileSystemKind> kind = platform::FileSystemKind{true, false};
  std::optional<uint64_t> free = kNeededSpace;
};

class WizardModel : public ::testing::Test {
 protected:
  SetupProbes Probes() {
    SetupProbes p;
    p.fileSystem = [this](const std::string&) { return disk.kind; };
    p.freeSpace = [this](const std::string&) { return disk.free; };
    p.networkUp = [this] { return networkUp; };
    p.hasAccount = [this] { return hasAccount; };
    p.thisMachine = [] { return std::string("faxhost"); };
    p.beep = [this] { ++beeps; };
    return p;
  }
  SetupWizardModel Model(WizardMode mode = WizardMode::Install) {
    return SetupWizardModel(mode, settings, prompts, Probes(), &networkChecked);
  }

  test::Sandbox box;
  SetupSettings settings;
  RecordedPrompts prompts;
  Disk disk;
  bool networkUp = true, hasAccount = true, networkChecked = false;
  int beeps = 0;
};

TEST_F(WizardModel, OptionsCheckTheRootDirectoryOnNextOnly) {
  const std::string root = box.path("opt/korvo").string();
  const std::string fixedDisk =
      "Please specify a path on your fixed disk\n(hard disk) for Korvo root directory.\n\nFor example: /opt/korvo";
  const std::string noSpace =
      "There is no enough disk space to perform\nthe Korvo installation.\n\nPlease free up some disk space on a "
      "selected fixed disk,\nor select a different fixed disk for the installation.";
  const std::string unknown = "Could not get information on free space\nfor a specified path.";
  const struct {
    const char* name;
    std::string root;
    Disk disk;
    bool forward;
    bool leaves;
    std::string box, caption;
    int beeps;
  } cases[] = {
      {"fine", root, {}, true, true, "", "", 0},
      {"relative", "opt/korvo", {}, true, false, fixedDisk, "Korvo Setup", 1},
      {"network", root, {platform::FileSystemKind{false, false}, kNeededSpace}, true, false, fixedDisk, "Korvo Setup", 1},
      {"removable", root, {platform::FileSystemKind{true, true}, kNeededSpace}, true, false, fixedDisk, "Korvo Setup", 1},
      {"no lookup", root, {std::nullopt, kNeededSpace}, true, false, fixedDisk, "Korvo Setup", 1},
      {"under 5 MiB", root, {platform::FileSystemKind{true, false}, kNeededSpace - 1}, true, false, noSpace,
       "Korvo Setup Insufficient Disk Space", 0},
      {"no answer on space", root, {platform::FileSystemKind{true, false}, std::nullopt}, true, true, unknown,
       "Korvo Setup", 0},
      {"back from a relative path", "opt/korvo", {}, false, true, "", "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    settings = SetupSettings{};
    settings.server = 0;
    settings.workstation = 1;
    prompts.boxes.clear();
    beeps = 0;
    disk = c.disk;
    SetupWizardModel model = Model();
    model.Enter(Page::Options);
    EXPECT_FALSE(model.serverChoice);
    EXPECT_TRUE(model.workstationChoice);
    model.serverChoice = true;
    model.workstationChoice = false;
    model.rootDirectory = c.root;
    if (!c.box.empty()) prompts.Answer(Answer::Ok);
    EXPECT_EQ(model.Leave(Page::Options, c.forward), c.leaves);
    ASSERT_EQ(prompts.boxes.size(), c.box.empty() ? 0u : 1u);
    if (!c.box.empty()) {
      EXPECT_EQ(prompts.boxes[0].text, c.box);
      EXPECT_EQ(prompts.boxes[0].caption, c.caption);
      EXPECT_EQ(prompts.boxes[0].buttons, Buttons::Ok);
    }
    EXPECT_EQ(beeps, c.beeps);
    // The settings take the choices only when the page is left; the server
    // part brings the workstation part (on Next).
    EXPECT_EQ(settings.server, c.leaves ? 1 : 0);
    EXPECT_EQ(settings.workstation, c.leaves ? (c.forward ? 1 : 0) : 1);
    EXPECT_EQ(settings.rootDirectory, c.leaves ? c.root : SetupSettings{}.rootDirectory);
    // The walk follows the choice stored.
    EXPECT_EQ(model.Next(Page::Options), c.leaves ? Page::MainInfo : Page::WorkStation);
  }
}

TEST_F(WizardModel, OptionsShowTheServerChoiceOfTheSettings) {
  for (int server : {0, 1, 0x11E}) {
    settings.server = server;
    settings.rootDirectory = std::string(300, 'r');
    SetupWizardModel model = Model();
    model.Enter(Page::Options);
    EXPECT_EQ(model.serverChoice, server != 0);
    EXPECT_EQ(model.workstationChoice, server == 0);
    EXPECT_EQ(model.rootDirectory, std::string(kRootLimit, 'r'));
  }
}

TEST_F(WizardModel, WorkStationNeedsADefaultServer) {
  const struct {
    int server;
    std::string stored, typed;
    std::string shown;  // on entering
    bool forward, leaves;
  } cases[] = {
      {1, "", "faxhost", "faxhost", true, true},      // the server part: this machine
      {1, "hub", "hub", "hub", true, true},           // a name kept
      {0, "", "", "", true, false},                   // empty server: asked for
      {0, "", "", "", false, true},                   // Back: not checked
      {0, "", "  ", "", true, true},                  // any text will do
      {0, "", std::string(70, 's'), "", true, true},  // cut to the limit
  };
  for (const auto& c : cases) {
    settings = SetupSettings{};
    settings.server = c.server;
    settings.defaultServer = c.stored;
    prompts.boxes.clear();
    SetupWizardModel model = Model();
    model.Enter(Page::WorkStation);
    EXPECT_EQ(model.defaultServer, c.shown);
    model.defaultServer = c.typed;
    if (!c.leaves) prompts.Answer(Answer::Ok);
    EXPECT_EQ(model.Leave(Page::WorkStation, c.forward), c.leaves) << c.typed;
    EXPECT_EQ(settings.defaultServer, c.typed.substr(0, kServerNameLimit));
    if (!c.leaves) {
      ASSERT_EQ(prompts.boxes.size(), 1u);
      EXPECT_EQ(prompts.boxes[0].text, "Please specify Default Korvo Server");
      EXPECT_EQ(prompts.boxes[0].caption, "Korvo Setup");
    } else {
      EXPECT_TRUE(prompts.boxes.empty());
    }
  }
}

TEST_F(WizardModel, WelcomeChecksTheNetworkOncePerProcess) {
  const std::string noNetwork =
      "The network is not installed, not started or not available.\n\nPlease make sure the network is ready,\nso "
      "other Korvo clients could connect.\n";
  const std::string noAccount =
      "The user is not logged on, or the network is not available.\n\nPlease make sure the network is ready and you "
      "are logged on.";
  const struct {
    bool up, account;
    std::string box;
  } cases[] = {{true, true, ""}, {false, true, noNetwork}, {true, false, noAccount}};
  for (const auto& c : cases) {
    networkUp = c.up;
    hasAccount = c.account;
    networkChecked = false;
    prompts.boxes.clear();
    SetupWizardModel model = Model();
    if (!c.box.empty()) prompts.Answer(Answer::Ok);
    model.Enter(Page::Welcome);
    model.Enter(Page::Welcome);
    SetupWizardModel(WizardMode::Install, settings, prompts, Probes(), &networkChecked).Enter(Page::Welcome);
    EXPECT_EQ(model.welcome, kWelcomeText);
    ASSERT_EQ(prompts.boxes.size(), c.box.empty() ? 0u : 1u);
    if (!c.box.empty()) {
      EXPECT_EQ(prompts.boxes[0].text, c.box);
      EXPECT_EQ(prompts.boxes[0].caption, "Korvo Setup Network Check");
      EXPECT_EQ(prompts.boxes[0].icon, Icon::Warning);
    }
  }
}

TEST_F(WizardModel, MainInfoDesktopAndTheSummary) {
  settings.server = 1;
  settings.workstation = 1;
  settings.rootDirectory = "/opt/korvo/";
  settings.defaultServer = "faxhost";
  settings.organization = "Velmora d.o.o.";
  settings.managerInStartup = 0;
  settings.notifierInStartup = 1;
  SetupWizardModel model = Model();
  model.Enter(Page::MainInfo);
  EXPECT_EQ(model.organization, "Velmora d.o.o.");
  model.contactPerson = "Ana Kovač";
  model.mainFaxNumber = "+385 1 234-5678";
  model.mainPhoneNumber = std::string(40, '5');
  model.organization = std::string(70, 'o');
  EXPECT_TRUE(model.Leave(Page::MainInfo, false));
  EXPECT_EQ(settings.contactPerson, "Ana Kovač");
  EXPECT_EQ(settings.mainPhoneNumber, std::string(kMainInfoLimit, '5'));
  EXPECT_EQ(settings.organization, std::string(kOrganizationLimit, 'o'));
  model.Enter(Page::Desktop);
  EXPECT_FALSE(model.managerInStartup);
  EXPECT_TRUE(model.notifierInStartup);
  model.managerInStartup = true;
  model.notifierInStartup = false;
  EXPECT_TRUE(model.Leave(Page::Desktop, true));
  EXPECT_EQ(settings.managerInStartup, 1);
  EXPECT_EQ(settings.notifierInStartup, 0);
  settings.organization = "Velmora d.o.o.";
  model.Enter(Page::Final);
  EXPECT_EQ(model.summary,
            "Root directory for installation:\n  /opt/korvo/\n\nServer installation: Yes\n\nWorkstation "
            "installation: Yes\n\nDefault Korvo Server: faxhost\n\nFax Service Information:\n  Organization: "
            "Velmora d.o.o.\n  Contact Person: Ana Kovač\n  Main Fax Number: +385 1 234-5678\n  Main Phone Number: " +
                std::string(kMainInfoLimit, '5'));
  settings.server = 0;
  model.Enter(Page::Final);
  EXPECT_NE(model.summary.find("Server installation: No\n\nWorkstation installation: Yes"), std::string::npos);
  EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(WizardModel, TheCancelQuestion) {
  SetupWizardModel model = Model();
  for (Answer answer : {Answer::Yes, Answer::No}) {
    prompts.Answer(answer);
    EXPECT_EQ(model.AskCancel(), answer == Answer::Yes);
  }
  ASSERT_EQ(prompts.boxes.size(), 2u);
  EXPECT_EQ(prompts.boxes[0].text,
            "The Korvo Setup is not complete.\nDo you want to cancel Korvo Setup and exit this program ?");
  EXPECT_EQ(prompts.boxes[0].caption, "Korvo Setup");
  EXPECT_EQ(prompts.boxes[0].buttons, Buttons::YesNoDefaultNo);
  EXPECT_EQ(prompts.boxes[0].icon, Icon::Question);
}

TEST_F(WizardModel, ProgressLineIsCutAndPadded) {
  EXPECT_EQ(SetupWizardModel::ProgressLine("Copying files ..."), "Copying files ..." + std::string(33, ' '));
  EXPECT_EQ(SetupWizardModel::ProgressLine(std::string(200, 'x')), std::string(kProgressLimit, 'x') + std::string(33, ' '));
  // Cut at a character, never inside one.
  EXPECT_EQ(SetupWizardModel::ProgressLine(std::string(127, 'x') + "čč"),
            std::string(127, 'x') + "č" + std::string(33, ' '));
}

TEST_F(WizardModel, TheReadmeOfTheCurrentFolderOnlyWhenInstalling) {
  test::Sandbox::writeFile(box.path("media/README.TXT"), "Korvo 1.30\n");
  const auto saved = std::filesystem::current_path();
  std::filesystem::current_path(box.path("media"));
  EXPECT_EQ(Model().readme, "Korvo 1.30\n");
  EXPECT_EQ(Model(WizardMode::Remove).readme, "");
  std::filesystem::current_path(saved);
}

// The removal's last page says "removed" only where something was installed:
// a part marked installed, or one whose files a cancelled installation
// recorded in its manifest.
TEST_F(WizardModel, RemovalSaysWhetherAnythingWasInstalled) {
  settings.rootDirectory = box.path("opt/korvo").string();
  std::filesystem::create_directories(settings.rootDirectory);
  const struct {
    const char* what;
    int32_t server, workstation;
    const char* recorded;  // in the manifest; null: none
    bool removed;
  } cases[] = {
      {"nothing", 1, 1, nullptr, false},
      {"parts removed before", 0, 0, nullptr, false},
      {"the workstation", 1, 0x11E, nullptr, true},
      {"the server", 0x11E, 1, nullptr, true},
      {"a cancelled copy", 1, 1, "korvodesk", true},
      {"a cancelled help book", 1, 1, "help/index.html", true},
      {"the server's program of a cancelled server part", 1, 1, "korvohub", true},
      {"only something of no part", 1, 1, "notes.txt", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Manifest manifest(settings.rootDirectory);
    ASSERT_TRUE(manifest.Delete());
    if (c.recorded) {
      ASSERT_TRUE(manifest.Record(c.recorded));
    }
    settings.server = c.server;
    settings.workstation = c.workstation;
    EXPECT_STREQ(Model(WizardMode::Remove).RemoveDoneTexts()[0],
                 c.removed ? kRemoveDoneTexts[0] : kNothingRemovedTexts[0]);
  }
}

}  // namespace
}  // namespace korvo::setup
