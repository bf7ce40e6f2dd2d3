// Console window concealment on Wine's real consoles: the launcher's own console, no console,
// a console shared with a shell that outlives the launcher, two launchers at once, and a
// terminal that hosts the console through a pseudo console.
#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <tuple>

#include "harness.h"

namespace tessaro::e2e {
namespace {

HWND ConsoleOf(const Record& record) {
  const auto value = record.find("console_window");
  if (value == record.end()) return nullptr;
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(std::stoull(value->second)));
}

TEST(ConsoleWindow, OwnConsoleIsHiddenWhileTheInstallerRunsAndKeepsItsTitle) {
  Medium medium("console-own", kNotInstalledInfo, "sleep_ms=300\n");
  ProgramRun launcher(medium.launcherPath(), CREATE_NEW_CONSOLE, "", "Tessaro medium");
  EXPECT_EQ(launcher.WaitForExit(), 0);
  Record record = medium.RecordOf("Setup.exe");
  EXPECT_NE(ConsoleOf(record), nullptr) << "the installer shares the launcher's console";
  EXPECT_EQ(record["console_window_visible"], "0");
  EXPECT_EQ(record["console_title"], "Tessaro medium");
}

TEST(ConsoleWindow, LauncherWithoutAConsoleHidesNothingElse) {
  Medium medium("console-none", kNotInstalledInfo, "");
  // A bystander with a console window of its own, which must stay on screen.
  medium.AddStandIn("Bystander.exe", "until_file=" + medium.directory() + "Bystander.stop\n");
  ProgramRun bystander(medium.directory() + "Bystander.exe", CREATE_NEW_CONSOLE, "", "Bystander");
  ASSERT_TRUE(WaitUntil([&] { return medium.Ran("Bystander.exe"); }, 10000));
  const HWND bystanderWindow = ConsoleOf(medium.RecordOf("Bystander.exe"));
  ASSERT_NE(bystanderWindow, nullptr);
  ASSERT_TRUE(IsWindowVisible(bystanderWindow));

  EXPECT_EQ(ProgramRun(medium.launcherPath(), DETACHED_PROCESS).WaitForExit(), 0);
  // A console program started by a process without a console gets a fresh console of its own,
  // on Windows as under Wine (both Wines of the tests give it one, titled with its path): the
  // launcher must leave it alone too.
  Record setup = medium.RecordOf("Setup.exe");
  ASSERT_TRUE(medium.Ran("Setup.exe"));
  EXPECT_NE(ConsoleOf(setup), nullptr) << "the installer got no console";
  EXPECT_NE(ConsoleOf(setup), bystanderWindow);
  EXPECT_EQ(setup["console_window_visible"], "1");
  EXPECT_TRUE(IsWindowVisible(bystanderWindow));
  WriteFileBytes(medium.directory() + "Bystander.stop", "");
  EXPECT_EQ(bystander.WaitForExit(), 0);
}

// Started from a shell, the launcher hides the shell's window while it runs and shows it again
// when it ends, on the path that ran the installer and on the path that stopped early; but a
// shell that keeps its console out of sight finds it still hidden once the console host has
// handled all that the launcher asked of it, as it does after any other program.
TEST(ConsoleWindow, ConsoleSharedWithAShellIsShownAgainOnlyIfItWasVisible) {
  const std::tuple<const char*, const char*, bool, bool, const char*, const char*> cases[] = {
      {"installer ran", kNotInstalledInfo, false, true, "0", "1"},
      {"check stopped", "", false, true, "4", "1"},
      {"shell hid its console", kNotInstalledInfo, true, true, "0", "0"},
      {"shell hid its console, check stopped", "", true, true, "4", "0"},
      {"control: hidden shell runs a plain program", kNotInstalledInfo, true, false, "0", "0"},
  };
  for (const auto& [name, info, shellHidesConsole, childIsLauncher, exitCode, visibleAfter] :
       cases) {
    SCOPED_TRACE(name);
    Medium medium("console-shared", info, "");
    const std::string child =
        childIsLauncher ? medium.launcherPath() : medium.directory() + "Setup.exe";
    medium.AddStandIn("Shell.exe", "run=\"" + child + "\"\nhide_console=" +
                                       (shellHidesConsole ? "1" : "0") + "\n");
    ProgramRun shell(medium.directory() + "Shell.exe", CREATE_NEW_CONSOLE, "", "Shell");
    EXPECT_EQ(shell.WaitForExit(), 0);
    Record record = medium.RecordOf("Shell.exe");
    EXPECT_EQ(record["console_window_visible"], shellHidesConsole ? "0" : "1");
    EXPECT_EQ(record["run_exit"], exitCode);
    EXPECT_EQ(record["console_window_visible_after_run"], visibleAfter);
    if (childIsLauncher && std::string(exitCode) == "0") {
      Record setup = medium.RecordOf("Setup.exe");
      EXPECT_EQ(ConsoleOf(setup), ConsoleOf(record)) << "one console for shell and installer";
      EXPECT_EQ(setup["console_window_visible"], "0") << "hidden while the launcher runs";
      EXPECT_EQ(setup["console_title"], "Shell");
    }
  }
}

TEST(ConsoleWindow, TwoLaunchersStartedTogetherEachHideTheirOwnConsole) {
  Medium first("console-first", kNotInstalledInfo, "sleep_ms=500\n");
  Medium second("console-second", kNotInstalledInfo, "sleep_ms=500\n");
  ProgramRun one(first.launcherPath(), CREATE_NEW_CONSOLE, "", "first");
  ProgramRun two(second.launcherPath(), CREATE_NEW_CONSOLE, "", "second");
  EXPECT_EQ(one.WaitForExit(), 0);
  EXPECT_EQ(two.WaitForExit(), 0);
  Record a = first.RecordOf("Setup.exe");
  Record b = second.RecordOf("Setup.exe");
  EXPECT_NE(ConsoleOf(a), ConsoleOf(b));
  EXPECT_EQ(std::tie(a["console_window_visible"], a["console_title"]), std::tuple("0", "first"));
  EXPECT_EQ(std::tie(b["console_window_visible"], b["console_title"]), std::tuple("0", "second"));
}

// A terminal (Windows Terminal as the default terminal) hosts the console through a pseudo
// console and shows the console's title as its own window's caption: the launcher's look-up by
// title finds the terminal's window, every tab of it. That window stays on screen while the
// launcher runs and after it, whether the launcher runs alone in it or from a shell in one of its
// tabs. The control rows show that the probe can fail: the terminal's window does take the
// launcher's temporary title, and a program that hides the window carrying its title is seen.
TEST(ConsoleWindow, TerminalHostingTheConsoleKeepsItsWindowOnScreen) {
  // With what the terminal runs, beside the launcher, and whether that hides the window.
  const std::tuple<const char*, std::string, bool> cases[] = {
      {"launcher alone in the terminal", "Launch.exe", false},
      {"launcher started by a shell in the terminal", "Shell.exe", false},
      {"control: a program hiding the window that carries its title", "Hider.exe", true},
  };
  for (const auto& [name, program, hides] : cases) {
    SCOPED_TRACE(name);
    Medium medium("console-terminal", kNotInstalledInfo, "sleep_ms=1500\n");
    medium.AddStandIn("Shell.exe", "run=\"" + medium.launcherPath() + "\"\n");
    medium.AddStandIn("Hider.exe", "hide_titled_window=1\nsleep_ms=1500\n");
    const std::string record = medium.directory() + "Terminal.record";
    // The run quotes the whole: "terminal.exe" "<record>" "<program>".
    ProgramRun terminal(TestProgramDirectory() + "terminal.exe\" \"" + record + "\" \"" +
                            medium.directory() + program,
                        DETACHED_PROCESS);
    EXPECT_EQ(terminal.WaitForExit(90000), 0);
    Record seen = ReadRecord(record);
    EXPECT_EQ(seen["child_exit"], "0") << seen["error"];
    EXPECT_EQ(seen["hidden_while_running"], hides ? "1" : "0");
    EXPECT_EQ(seen["visible_after_exit"], hides ? "0" : "1");
    if (hides) continue;
    // The launcher's temporary title is its tick count and process id.
    const std::string pid = program == "Launch.exe" ? seen["child_pid"] : "[0-9]+";
    EXPECT_TRUE(std::regex_search(seen["titles"], std::regex("(^|\\|)-?[0-9]+/" + pid + "(\\||$)")))
        << "titles taken: " << seen["titles"];
    EXPECT_EQ(medium.RecordOf("Setup.exe")["starts"], "1") << "the installer is started once";
  }
}

}  // namespace
}  // namespace tessaro::e2e
