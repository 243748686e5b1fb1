#include <gtest/gtest.h>

#include <vector>

#include "common/settings.h"
#include "manager/command_prompts.h"
#include "manager/list_model.h"
#include "manager/manager_ids.h"
#include "manager/menus.h"
#include "manager/startup.h"
#include "manager/window_state.h"
#include "tests/support/sandbox.h"

namespace korvo::test {
namespace {

using namespace manager;

constexpr Size kIcon{32, 32};

TEST(WindowPlacement, DefaultRectangleIsAnEighthInAndThreeQuartersInSize) {
  struct Case {
    Size screen;
    Rect rect;
  };
  const Case cases[] = {
      {{1920, 1080}, {240, 135, 240 + 1440, 135 + 810}},
      {{1280, 1024}, {160, 128, 160 + 960, 128 + 768}},
      {{1366, 768}, {170, 96, 170 + 1024, 96 + 576}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DefaultRect(c.screen), c.rect) << c.screen.width;
    EXPECT_EQ(PlacementRect(std::nullopt, c.screen, kIcon), c.rect);
  }
}

TEST(WindowPlacement, StoredRectangleIsPulledBackWithinReach) {
  struct Case {
    const char* what;
    Rect stored;
    Rect placed;
  };
  const Size screen{1280, 1024};
  const Case cases[] = {
      {"inside", {100, 50, 900, 650}, {100, 50, 900, 650}},
      {"left edge beyond the screen", {2000, 50, 2800, 650}, {1248, 50, 2048, 650}},
      {"left edge at the limit", {1248, 50, 2048, 650}, {1248, 50, 2048, 650}},
      {"left edge just inside", {1247, 50, 2047, 650}, {1247, 50, 2047, 650}},
      {"top edge below the screen", {100, 1500, 900, 2100}, {100, 992, 900, 1592}},
      {"both", {5000, 5000, 5100, 5100}, {1248, 992, 1348, 1092}},
      {"top edge above the screen", {100, -500, 900, 100}, {100, 0, 900, 600}},
      {"left of the only screen", {-1700, 20, -900, 620}, {0, 20, 800, 620}},
      {"damaged", {9999, -500, 99999, 99999}, {0, 0, 1280, 1024}},
      {"empty", {500, 500, 400, 400}, DefaultRect(screen)},
  };
  for (const Case& c : cases) EXPECT_EQ(PlacementRect(c.stored, screen, kIcon), c.placed) << c.what;
  // A monitor left of the first is part of the desktop.
  const Rect twoScreens{-1920, 0, 1280, 1024};
  EXPECT_EQ(PlacementRect(Rect{-1700, 20, -900, 620}, screen, kIcon, twoScreens), (Rect{-1700, 20, -900, 620}));
  EXPECT_EQ(PlacementRect(Rect{-9999, 20, 9999, 620}, screen, kIcon, twoScreens), (Rect{-1920, 20, 1280, 620}));
}

// The written form stays "%04d %04d %04d %04d"; reading takes four
// blank-separated numbers, so negative and five-digit edges come back whole.
TEST(WindowPlacement, RectTextIsReadAsFourNumbers) {
  const std::pair<Rect, const char*> written[] = {
      {{100, 50, 900, 650}, "0100 0050 0900 0650"},
      {{-1700, -20, -900, 620}, "-1700 -020 -900 0620"},
      {{10240, 5, 12000, 900}, "10240 0005 12000 0900"},
  };
  for (const auto& [rect, text] : written) {
    EXPECT_EQ(FormatRect(rect), text);
    EXPECT_EQ(ParseRect(text), rect) << text;
  }
  EXPECT_EQ(ParseRect("  12   34 56\t78 "), (Rect{12, 34, 56, 78}));
  EXPECT_EQ(ParseRect(""), std::nullopt);
  EXPECT_EQ(ParseRect("0100 0050 0900"), std::nullopt);
  EXPECT_EQ(ParseRect("left top right bottom"), std::nullopt);
}

TEST(WindowPlacement, MaximizedIsKeptAlsoWhenMinimizedFromMaximized) {
  struct Case {
    bool maximized, minimized, restoresToMaximized, flag;
  };
  const Case cases[] = {
      {false, false, false, false}, {true, false, false, true}, {false, true, true, true},
      {false, true, false, false},  {false, false, true, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MaximizedFlag(c.maximized, c.minimized, c.restoresToMaximized), c.flag)
        << c.maximized << c.minimized << c.restoresToMaximized;
}

TEST(WindowPlacement, SplitterMinusOneIsAQuarterOfTheWindow) {
  EXPECT_EQ(TreePaneWidth(-1, 1440), 360);
  EXPECT_EQ(TreePaneWidth(-1, 961), 240);
  EXPECT_EQ(TreePaneWidth(300, 1440), 300);
}

TEST(WindowPlacement, StateRoundTripsThroughTheProfile) {
  Sandbox box;
  WindowState none = LoadWindowState();
  EXPECT_EQ(none.rect, std::nullopt);
  EXPECT_FALSE(none.maximized);
  EXPECT_EQ(none.splitter, -1);

  EXPECT_TRUE(none.toolBar);
  EXPECT_TRUE(none.statusBar);

  SaveWindowState({-1700, 20, -900, 620}, true, 250, false, true);
  char text[64] = {};
  ASSERT_EQ(KvReadRegUserStr("Korvo Manager\\Window State", "Rect", text, sizeof text), 1);
  EXPECT_STREQ(text, "-1700 0020 -900 0620");
  const WindowState back = LoadWindowState();
  EXPECT_EQ(back.rect, (Rect{-1700, 20, -900, 620}));
  EXPECT_TRUE(back.maximized);
  EXPECT_EQ(back.splitter, 250);
  EXPECT_FALSE(back.toolBar);
  EXPECT_TRUE(back.statusBar);

  // A text not in the written form counts as none: the default rectangle.
  ASSERT_EQ(KvWriteRegUserStr("Korvo Manager\\Window State", "Rect", "garbage"), 1);
  EXPECT_EQ(LoadWindowState().rect, std::nullopt);
}

// The splash stays at least 2500 ms on a clock the test turns, also across
// the wrap of the 32-bit tick count.
TEST(Splash, GoesAtTheFirstIdleAfter2500Ms) {
  const uint32_t starts[] = {0, 1000000, 0xFFFFFF00u};
  for (uint32_t shown : starts) {
    SplashTime splash(shown);
    EXPECT_FALSE(splash.Expired(shown)) << shown;
    EXPECT_FALSE(splash.Expired(shown + 2500)) << shown;
    EXPECT_TRUE(splash.Expired(shown + 2501)) << shown;
    EXPECT_TRUE(splash.Expired(shown + 60000)) << shown;
  }
}

TEST(CommandLine, OnlyTheWholeLineAfterInstallOpensTheHelp) {
  const std::pair<std::vector<std::string>, bool> cases[] = {
      {{"/After_Install"}, true},          {{}, false},
      {{"/after_install"}, false},         {{"/After_Install", "x"}, false},
      {{"x", "/After_Install"}, false},    {{"/After_Installed"}, false},
      {{"-After_Install"}, false},         {{"/After_Install "}, false},
  };
  for (const auto& [args, opens] : cases) EXPECT_EQ(IsAfterInstall(args), opens) << ::testing::PrintToString(args);
}

TEST(StatusPanes, ItemCountNamesSelectedRowsWhenThereAreAny) {
  EXPECT_EQ(ItemCountText(0, 0), "0 item(s)");
  EXPECT_EQ(ItemCountText(0, 12), "12 item(s)");
  EXPECT_EQ(ItemCountText(3, 12), "3 item(s) selected");
  EXPECT_EQ(ItemCountText(1, 1), "1 item(s) selected");
}

// Every command the menus, the tree's popups and the toolbar offer has a
// prompt for the status bar.
TEST(CommandPrompts, EveryCommandOfTheMenusHasOne) {
  std::vector<int> ids = {kCmdExit,        kCmdViewToolbar, kCmdViewStatusBar, kCmdSplit,    kCmdRefreshList,
                          kCmdNextPane,    kCmdHelpTopics,  kCmdAbout,         kCmdAddItem,  kCmdEditItem,
                          kCmdDeleteItems, kCmdStartServer, kCmdServerParameters};
  for (const MenuResource* menu : {&ListPopups(), &TreePopups()})
    for (const PopupMenu& popup : *menu)
      for (const MenuItem& item : popup.items)
        if (item.id != 0) ids.push_back(item.id);
  for (int id : ids) EXPECT_FALSE(PromptMessage(id).empty()) << id;
}

}  // namespace
}  // namespace korvo::test
