#include "launcher/launch_sequence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "fake_system.h"
#include "launcher/installed_product.h"
#include "launcher/module_directory.h"

namespace tessaro::testing {
namespace {

const std::string kSetup = "\"D:\\Install\\Setup.exe\" \"/v LAUNCH=Enable\"";

// The product of TS_INF installed, with this DisplayVersion.
void Installed(FakeSystem& system, std::optional<std::string> displayVersion) {
  system.registry[kKey] = {true, displayVersion, std::nullopt};
}

TEST(ModuleDirectoryFromPath, SplitsLikeTheRuntime) {
  const struct {
    const char *path, *directory;
  } cases[] = {
      {"D:\\Install\\Launch.exe", "D:\\Install\\"},
      {"D:\\Launch.exe", "D:\\"},
      {"\\\\server\\share\\folder\\Launch.exe", "\\\\server\\share\\folder\\"},
      {"C:\\Users\\me\\Tessaro 3.10\\Launch.exe", "C:\\Users\\me\\Tessaro 3.10\\"},
      {"C:/mixed\\sep/Launch.exe", "C:/mixed\\sep/"},
      {"C:\\dir.v2\\Launch.setup.exe", "C:\\dir.v2\\"},
      {"D:Launch.exe", "D:"},
      {"Launch.exe", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ModuleDirectoryFromPath(c.path, {}), c.directory);
}

TEST(ModuleDirectoryFromPath, TrailBytesThatLookLikeBackslashes) {
  // "\x95\x5c" is one Shift-JIS character (hyou) whose second byte is 0x5C.
  const struct {
    std::string path, directory;
  } cases[] = {
      {std::string("C:\\\x95\x5c") + "a.exe", "C:\\"},
      {"C:\\\x95\x5c\\Launch.exe", "C:\\\x95\x5c\\"},
      {"C:\\dir\\\x95\x5c", "C:\\dir\\"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ModuleDirectoryFromPath(c.path, Cp932LeadBytes()), c.directory) << c.path;
  }
}

TEST(BuildInstallerCommandLine, QuotesThePathAndTheArgument) {
  EXPECT_EQ(BuildInstallerCommandLine("D:\\Install\\"), kSetup);
  EXPECT_EQ(BuildInstallerCommandLine("\\\\srv\\share\\"),
            "\"\\\\srv\\share\\Setup.exe\" \"/v LAUNCH=Enable\"");
}

TEST(RunLauncher, StartsTheInstallerAndExitsZero) {
  FakeSystem system = Medium(kPackageLine, "C:\\Users\\me\\Tessaro 3.10\\Launch.exe");
  EXPECT_EQ(RunLauncher(system), 0);
  EXPECT_EQ(system.started,
            Strings{"\"C:\\Users\\me\\Tessaro 3.10\\Setup.exe\" \"/v LAUNCH=Enable\""});
  EXPECT_TRUE(system.boxes.empty());
  EXPECT_EQ(system.Called("WriteStandardOutput"), "");
  EXPECT_EQ(system.Called("SetApplicationTitle"),
            "SetApplicationTitle:C:\\Users\\me\\Tessaro 3.10\\Launch.exe");
}

TEST(RunLauncher, FrameworkStartAddsTheErrorModeFlagsToTheCurrentMode) {
  FakeSystem system = Medium();
  system.currentErrorMode = 0x0004;
  RunLauncher(system);
  // The framework is up before the console is looked for.
  const auto hide = std::find(system.calls.begin(), system.calls.end(), "ProbeConsoleWindow");
  EXPECT_EQ(Strings(system.calls.begin(), hide),
            (Strings{"HardenLibrarySearch", "QueryModulePath", "SetProcessErrorMode:0",
                     "SetProcessErrorMode:" + std::to_string(0x8005),
                     "SetApplicationTitle:D:\\Install\\Launch.exe"}));
}

TEST(RunLauncher, ModulePathThatDoesNotFitIsAStartFailure) {
  for (std::size_t result : {std::size_t{0}, std::size_t{260}}) {
    FakeSystem system = Medium();
    system.modulePathResult = result;
    EXPECT_EQ(RunLauncher(system), 1) << result;
    // The fixed text alone: no error mode set, no console hidden, nothing started, no box.
    EXPECT_EQ(system.calls, (Strings{"HardenLibrarySearch", "QueryModulePath",
                                     "WriteStandardOutput:" + std::string(kStartFailureText)}));
  }
}

TEST(RunLauncher, PathOf259CharactersStillRuns) {
  FakeSystem system = Medium(kPackageLine, "C:\\" + std::string(245, 'd') + "\\Launch.exe");
  ASSERT_EQ(system.modulePath.size(), 259u);
  EXPECT_EQ(RunLauncher(system), 0);
}

TEST(RunLauncher, InstallerThatCannotStartShows104AndExitsZero) {
  FakeSystem system = Medium();
  system.unstartable.insert(kSetup);
  EXPECT_EQ(RunLauncher(system), 0);
  EXPECT_EQ(system.boxes, (Boxes{{"launch failed", 0x10}}));
}

TEST(RunLauncher, Missing104StillShowsABox) {
  FakeSystem system = Medium();
  system.messages.erase(104);
  system.unstartable.insert(kSetup);
  EXPECT_EQ(RunLauncher(system), 0);
  EXPECT_EQ(system.boxes, (Boxes{{"", 0x10}}));
}

// The check's stop is final: no installer, and no message beyond the check's own.
TEST(RunLauncher, StopWithoutInstallerWhenTheCheckSaysSo) {
  const struct {
    const char* name;
    bool withInfo, olderInstalled;
    Boxes boxes;
  } cases[] = {
      {"no TS_INF", false, false, {{"cannot open TS_INF", 0x10}}},
      {"Windows Installer cannot start", true, true, {{"installed: 3.9?", 0x41}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSystem system = Medium();
    if (!c.withInfo) system.files.clear();
    if (c.olderInstalled) {
      Installed(system, "3.9");
      system.unstartable.insert(kRemoval);
    }
    EXPECT_EQ(RunLauncher(system), 4);
    EXPECT_TRUE(system.started.empty());
    EXPECT_EQ(system.boxes, c.boxes);
    // The directory is looked up for TS_INF only, not a second time for the installer.
    EXPECT_EQ(system.moduleQueries, 2);
  }
}

// Only the console's own window is hidden: one that carries the title because a terminal hosts
// the console holds the user's other work, and is neither hidden nor shown. A console shared with
// the user's shell is shown again however the run ends, but only when it was on screen before;
// one the launcher had to itself, or one its owner hid, stays hidden.
TEST(RunLauncher, SharedVisibleConsoleIsShownAgainOnEveryExitAfterHiding) {
  constexpr char kTerminal[] =
      "console window found is not the console's own (a terminal hosts the console): left as it is";
  // clang-format off
  const struct {
    const char* name;
    ConsoleWindowState console;  // as found: found, own, shared, was visible
    bool withInfo;
    int exitCode;
    bool hidden, shownAgain;
    const char* traced;
  } cases[] = {
      {"shared, installer ran", {true, true, true, true}, true, 0, true, true,
       "console window found, shared, was visible: shown again at the end"},
      {"shared, check stopped", {true, true, true, true}, false, 4, true, true,
       "shown again at the end"},
      {"own console, installer ran", {true, true, false, true}, true, 0, true, false,
       "console window found, not shared, was visible: not shown again"},
      {"own console, check stopped", {true, true, false, true}, false, 4, true, false,
       "not shown again"},
      {"shared but hidden by its owner", {true, true, true, false}, true, 0, true, false,
       "console window found, shared, was not visible: not shown again"},
      {"shared, hidden by its owner, stopped", {true, true, true, false}, false, 4, true, false,
       "not shown again"},
      {"no window found", {false, false, true, false}, true, 0, false, false,
       "console window not found, shared, was not visible: not shown again"},
      {"terminal's window, launcher alone", {true, false, false, true}, true, 0, false, false,
       kTerminal},
      {"terminal's window, shared with a shell", {true, false, true, true}, true, 0, false, false,
       kTerminal},
      {"terminal's window, check stopped", {true, false, true, true}, false, 4, false, false,
       kTerminal},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSystem system = Medium();
    system.console = c.console;
    if (!c.withInfo) system.files.clear();
    EXPECT_EQ(RunLauncher(system), c.exitCode);
    EXPECT_EQ(system.Called("HideConsoleWindow") != "", c.hidden);
    EXPECT_NE(system.Traced(c.traced), "");
    EXPECT_EQ(system.Called("ShowConsoleWindowAgain") != "", c.shownAgain);
    EXPECT_EQ(system.LastCalled() == "ShowConsoleWindowAgain", c.shownAgain);
  }
}

// Support reads a run from its trace alone: every end, the silent ones above all, names itself,
// and the exit line comes last.
TEST(RunLauncher, EveryEndLeavesATraceLineNamingIt) {
  // clang-format off
  const struct {
    const char* name;
    std::function<void(FakeSystem&)> arrange;
    int exitCode;
    Strings traced;
  } cases[] = {
      {"installer ended", [](FakeSystem& s) { s.exitCodes[kSetup] = 3221225477u; }, 0,
       {"module path \"D:\\Install\\Launch.exe\"",
        "TS_INF read: product code \"" + kCode + "\", package version \"3.10\"",
        "uninstall key \"" + kKey + "\" not found: nothing installed",
        "starting " + kSetup, "ended with exit code 3221225477", "exit 0: installer ended"}},
      {"installer not started", [](FakeSystem& s) { s.unstartable.insert(kSetup); }, 0,
       {"could not be started", "message 104 shown, answer OK",
        "exit 0: installer not started, message 104 shown"}},
      {"own path not obtained", [](FakeSystem& s) { s.modulePathResult = 0; }, 1,
       {"module path not obtained", "exit 1: framework start failed"}},
      {"own path cut", [](FakeSystem& s) { s.modulePathResult = 260; }, 1,
       {"module path cut at 260 characters", "exit 1: framework start failed"}},
      {"TS_INF missing", [](FakeSystem& s) { s.files.clear(); }, 4,
       {"TS_INF not read: \"D:\\Install\\TS_INF\" cannot be opened", "message 106 shown, answer OK",
        "exit 4: TS_INF cannot be opened, message 106 shown"}},
      {"TS_INF empty", [](FakeSystem& s) { s.files[kInf] = ""; }, 4,
       {"TS_INF not read: \"D:\\Install\\TS_INF\" is empty", "exit 4: TS_INF empty"}},
      {"folder not found for TS_INF", [](FakeSystem& s) { s.modulePathQueriesThatWork = 1; }, 4,
       {"TS_INF not read: launcher folder not found",
        "exit 4: launcher folder not found for TS_INF"}},
      {"own path with characters the code page lacks",
       [](FakeSystem& s) { s.modulePathLosesCharacters = true; s.files.clear(); }, 4,
       {"module path holds characters the system code page cannot show",
        "\"D:\\Install\\TS_INF\" cannot be opened: the module path holds characters",
        "exit 4: TS_INF cannot be opened"}},
      {"Cancel in message 107",
       [](FakeSystem& s) { Installed(s, "3.9"); s.answers = {kIdCancel}; }, 4,
       {"message 107 shown, answer Cancel", "exit 4: Cancel in message 107"}},
      {"message 107 box failed", [](FakeSystem& s) { Installed(s, "3.9"); s.answers = {0}; }, 4,
       {"message 107 shown, answer another button", "exit 4: another button in message 107"}},
      {"Cancel in message 108", [](FakeSystem& s) {
         const std::string exe = "C:\\Tessaro\\Tessaro.exe";
         Installed(s, "3.9"); s.registry[kKey].installLocation = "C:\\Tessaro\\";
         s.files[exe] = "MZ"; s.lockedFiles.insert(exe); s.answers = {kIdOk, kIdCancel};
       }, 4, {"message 108 shown, answer Cancel", "exit 4: Cancel in message 108"}},
      {"installer's exit code not readable",
       [](FakeSystem& s) { s.exitCodes[kSetup] = std::nullopt; }, 0,
       {"ended, exit code not readable", "exit 0: installer ended"}},
      {"wait for the installer failed", [](FakeSystem& s) { s.waitFails.insert(kSetup); }, 0,
       {"the wait for its end failed: it may still run, exit code unknown",
        "exit 0: installer ended"}},
      {"folder not found for the installer", [](FakeSystem& s) { s.modulePathQueriesThatWork = 2; },
       5, {"TS_INF read", "exit 5: launcher folder not found"}},
      {"Windows Installer not started",
       [](FakeSystem& s) { Installed(s, "3.9"); s.unstartable.insert(kRemoval); }, 4,
       {"versions differ: package \"3.10\", installed \"3.9\"", "message 107 shown, answer OK",
        "starting " + kRemoval, "could not be started",
        "exit 4: Windows Installer could not be started"}},
      {"system folder not found",
       [](FakeSystem& s) { Installed(s, "3.9"); s.systemDirectory.reset(); }, 0,
       {"system folder not found: nothing removed", "exit 0: installer ended"}},
      {"no DisplayVersion", [](FakeSystem& s) { Installed(s, std::nullopt); }, 0,
       {"DisplayVersion not read", "no DisplayVersion: nothing asked", "exit 0"}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSystem system = Medium();
    c.arrange(system);
    EXPECT_EQ(RunLauncher(system), c.exitCode);
    for (const auto& fragment : c.traced) EXPECT_NE(system.Traced(fragment), "") << fragment;
    EXPECT_NE(system.LastTraced().find(c.traced.back()), std::string::npos);
  }
}

}  // namespace
}  // namespace tessaro::testing
