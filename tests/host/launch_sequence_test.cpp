#include "launcher/launch_sequence.h"

#include "launcher/installed_product.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fake_system.h"

namespace tessaro {
namespace {

using testing::FakeSystem;

constexpr char kLine[] = "{6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.10\r\n";

// A medium with TS_INF beside the launcher and no installed product.
FakeSystem Medium(const std::string& launcher = "D:\\Install\\Launch.exe") {
  FakeSystem system;
  system.modulePath = launcher;
  system.files[ModuleDirectoryFromPath(launcher, {}) + "TS_INF"] = kLine;
  return system;
}

TEST(ModuleDirectoryFromPath, SplitsLikeTheRuntime) {
  const struct {
    const char* path;
    const char* directory;
  } cases[] = {
      {"D:\\Install\\Launch.exe", "D:\\Install\\"},
      {"D:\\Launch.exe", "D:\\"},
      {"\\\\server\\share\\folder\\Launch.exe", "\\\\server\\share\\folder\\"},
      {"C:\\Users\\me\\Tessaro 3.10\\Launch.exe", "C:\\Users\\me\\Tessaro 3.10\\"},
      {"C:/mixed\\sep/Launch.exe", "C:/mixed\\sep/"},
      {"C:\\dir.v2\\Launch.setup.exe", "C:\\dir.v2\\"},
  };
  for (const auto& c : cases) EXPECT_EQ(ModuleDirectoryFromPath(c.path, {}), c.directory);
}

TEST(ModuleDirectoryFromPath, TrailBytesThatLookLikeBackslashes) {
  // "\x95\x5c" is one Shift-JIS character (hyou) whose second byte is 0x5C.
  const std::string path = "C:\\\x95\x5c\\Launch.exe";
  EXPECT_EQ(ModuleDirectoryFromPath("C:\\\x95\x5c"
                                    "a.exe",
                                    testing::Cp932LeadBytes()),
            "C:\\");
  EXPECT_EQ(ModuleDirectoryFromPath(path, testing::Cp932LeadBytes()), "C:\\\x95\x5c\\");
}

TEST(BuildInstallerCommandLine, QuotesThePathAndTheArgument) {
  EXPECT_EQ(BuildInstallerCommandLine("D:\\Install\\"),
            "\"D:\\Install\\Setup.exe\" \"/v LAUNCH=Enable\"");
  EXPECT_EQ(BuildInstallerCommandLine("\\\\srv\\share\\"),
            "\"\\\\srv\\share\\Setup.exe\" \"/v LAUNCH=Enable\"");
}

TEST(RunLauncher, StartsTheInstallerAndExitsZero) {
  FakeSystem system = Medium("C:\\Users\\me\\Tessaro 3.10\\Launch.exe");
  EXPECT_EQ(RunLauncher(system), 0);
  ASSERT_EQ(system.started.size(), 1u);
  EXPECT_EQ(system.started[0], "\"C:\\Users\\me\\Tessaro 3.10\\Setup.exe\" \"/v LAUNCH=Enable\"");
  EXPECT_TRUE(system.boxes.empty());
  EXPECT_TRUE(system.standardOutput.empty());
  EXPECT_EQ(system.applicationTitlePath, "C:\\Users\\me\\Tessaro 3.10\\Launch.exe");
}

TEST(RunLauncher, FrameworkStartAddsTheErrorModeFlagsToTheCurrentMode) {
  FakeSystem system = Medium();
  system.currentErrorMode = 0x0004;
  RunLauncher(system);
  ASSERT_EQ(system.errorModesSet.size(), 2u);
  EXPECT_EQ(system.errorModesSet[0], 0u);
  EXPECT_EQ(system.errorModesSet[1], 0x8005u);
  // The framework is up before the console is looked for.
  const auto position = [&](const std::string& call) {
    return std::find(system.calls.begin(), system.calls.end(), call) - system.calls.begin();
  };
  EXPECT_LT(position("SetApplicationTitle"), position("HideConsoleWindow"));
  EXPECT_EQ(system.calls.front(), "HardenLibrarySearch");
}

TEST(RunLauncher, ModulePathThatDoesNotFitIsAStartFailure) {
  for (std::size_t result : {std::size_t{0}, std::size_t{260}}) {
    FakeSystem system = Medium();
    system.modulePathResult = result;
    EXPECT_EQ(RunLauncher(system), 1) << result;
    EXPECT_EQ(system.standardOutput, std::string(kStartFailureText)) << result;
    EXPECT_EQ(system.standardOutput.size(), 50u);
    EXPECT_TRUE(system.errorModesSet.empty());
    EXPECT_FALSE(system.consoleHidden);
    EXPECT_TRUE(system.started.empty());
    EXPECT_TRUE(system.boxes.empty());
  }
}

TEST(RunLauncher, PathOf259CharactersStillRuns) {
  FakeSystem system = Medium("C:\\" + std::string(245, 'd') + "\\Launch.exe");
  ASSERT_EQ(system.modulePath.size(), 259u);
  EXPECT_EQ(RunLauncher(system), 0);
}

TEST(RunLauncher, InstallerThatCannotStartShows104AndExitsZero) {
  FakeSystem system = Medium();
  system.unstartable.insert("\"D:\\Install\\Setup.exe\" \"/v LAUNCH=Enable\"");
  EXPECT_EQ(RunLauncher(system), 0);
  ASSERT_EQ(system.boxes.size(), 1u);
  EXPECT_EQ(system.boxes[0].text, "launch failed");
  EXPECT_EQ(system.boxes[0].style, 0x10u);
}

TEST(RunLauncher, Missing104StillShowsABox) {
  FakeSystem system = Medium();
  system.messages.erase(104);
  system.unstartable.insert("\"D:\\Install\\Setup.exe\" \"/v LAUNCH=Enable\"");
  EXPECT_EQ(RunLauncher(system), 0);
  ASSERT_EQ(system.boxes.size(), 1u);
  EXPECT_EQ(system.boxes[0].text, "");
}

// The check's stop is final: no installer, and no message beyond the check's own.
TEST(RunLauncher, StopWithoutInstallerWhenTheCheckSaysSo) {
  const std::string removal =
      "\"C:\\Windows\\system32\\msiexec.exe\" /x "
      "{6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8} /qb! ID_STATE=Remove";
  const struct {
    const char* name;
    bool withInfo;
    bool olderInstalled;
    std::vector<std::string> boxes;
  } cases[] = {
      {"no TS_INF", false, false, {"cannot open TS_INF"}},
      {"Windows Installer cannot start", true, true, {"installed: 3.9?"}},
  };
  for (const auto& c : cases) {
    FakeSystem system = Medium();
    if (!c.withInfo) system.files.clear();
    if (c.olderInstalled) {
      UninstallValues values;
      values.keyOpened = true;
      values.displayVersion = "3.9";
      system.registry[std::string(kUninstallKeyPrefix) + "{6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8}"] =
          values;
      system.unstartable.insert(removal);
    }
    EXPECT_EQ(RunLauncher(system), 4) << c.name;
    EXPECT_TRUE(system.started.empty()) << c.name;
    std::vector<std::string> texts;
    for (const auto& box : system.boxes) texts.push_back(box.text);
    EXPECT_EQ(texts, c.boxes) << c.name;
    // The directory is looked up for TS_INF only, not a second time for the installer.
    EXPECT_EQ(system.moduleQueries, 2) << c.name;
  }
}

// A console shared with the user's shell is shown again however the run ends, but only when it
// was on screen before; one the launcher had to itself, or one its owner hid, stays hidden.
TEST(RunLauncher, SharedVisibleConsoleIsShownAgainOnEveryExitAfterHiding) {
  const struct {
    const char* name;
    ConsoleWindowState console;
    bool withInfo;
    int exitCode;
    bool shownAgain;
  } cases[] = {
      {"shared, installer ran", {true, true, true}, true, 0, true},
      {"shared, check stopped", {true, true, true}, false, 4, true},
      {"own console, installer ran", {true, false, true}, true, 0, false},
      {"own console, check stopped", {true, false, true}, false, 4, false},
      {"shared but hidden by its owner", {true, true, false}, true, 0, false},
      {"shared, hidden by its owner, stopped", {true, true, false}, false, 4, false},
      {"no window found", {false, true, false}, true, 0, false},
  };
  for (const auto& c : cases) {
    FakeSystem system = Medium();
    system.console = c.console;
    if (!c.withInfo) system.files.clear();
    EXPECT_EQ(RunLauncher(system), c.exitCode) << c.name;
    EXPECT_TRUE(system.consoleHidden) << c.name;
    EXPECT_EQ(system.consoleShownAgain, c.shownAgain) << c.name;
    if (c.shownAgain) {
      EXPECT_EQ(system.calls.back(), "ShowConsoleWindowAgain") << c.name;
    }
  }
}

}  // namespace
}  // namespace tessaro
