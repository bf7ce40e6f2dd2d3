// Console window concealment on Wine's real consoles: the launcher's own console, no console,
// a console shared with a shell that outlives the launcher, and two launchers at once.
#include <gtest/gtest.h>

#include <cstdint>

#include "harness.h"

namespace tessaro::e2e {
namespace {

constexpr char kInfo[] = "{0B8C1D2E-3F40-4A5B-8C6D-7E8F9A0B1C2D},3.10\r\n";  // not installed

HWND ConsoleOf(const std::map<std::string, std::string>& record) {
  const auto value = record.find("console_window");
  if (value == record.end()) return nullptr;
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(std::stoull(value->second)));
}

void WaitForFile(const std::string& path) {
  for (int i = 0; i < 400 && !FileExists(path); ++i) Sleep(25);
  ASSERT_TRUE(FileExists(path)) << path;
}

TEST(ConsoleWindow, OwnConsoleIsHiddenWhileTheInstallerRunsAndKeepsItsTitle) {
  Medium medium("console-own");
  medium.WriteInfo(kInfo);
  medium.AddStandIn("Setup.exe", "sleep_ms=300\n");
  LauncherRun launcher(medium.launcherPath(), CREATE_NEW_CONSOLE, "", "Tessaro medium");
  EXPECT_EQ(launcher.WaitForExit(), 0);
  const auto record = medium.Record("Setup.exe");
  EXPECT_NE(ConsoleOf(record), nullptr) << "the installer shares the launcher's console";
  EXPECT_EQ(record.at("console_window_visible"), "0");
  EXPECT_EQ(record.at("console_title"), "Tessaro medium");
}

TEST(ConsoleWindow, LauncherWithoutAConsoleHidesNothingElse) {
  Medium medium("console-none");
  medium.WriteInfo(kInfo);
  medium.AddStandIn("Setup.exe", "");
  // A bystander with a console window of its own, which must stay on screen.
  medium.AddStandIn("Bystander.exe", "until_file=" + medium.directory() + "Bystander.stop\n");
  LauncherRun bystander(medium.directory() + "Bystander.exe", CREATE_NEW_CONSOLE, "", "Bystander");
  WaitForFile(medium.directory() + "Bystander.record");
  const HWND bystanderWindow = ConsoleOf(medium.Record("Bystander.exe"));
  ASSERT_NE(bystanderWindow, nullptr);
  ASSERT_TRUE(IsWindowVisible(bystanderWindow));

  LauncherRun launcher(medium.launcherPath(), DETACHED_PROCESS);
  EXPECT_EQ(launcher.WaitForExit(), 0);
  // A console program started by a process without a console gets a fresh console of its own;
  // the launcher must leave it alone too.
  const auto setup = medium.Record("Setup.exe");
  ASSERT_EQ(setup.count("command_line"), 1u) << "the installer ran";
  if (ConsoleOf(setup) != nullptr) {
    EXPECT_EQ(setup.at("console_window_visible"), "1");
  }
  EXPECT_TRUE(IsWindowVisible(bystanderWindow));
  WriteFileBytes(medium.directory() + "Bystander.stop", "");
  EXPECT_EQ(bystander.WaitForExit(), 0);
}

// Started from a shell, the launcher hides the shell's window while it runs and shows it again
// when it ends, on the path that ran the installer and on the path that stopped early; but a
// shell that keeps its console out of sight finds it still hidden long after the launcher
// ended (the stand-in waits 5 s for a late show), as it does after any other program.
TEST(ConsoleWindow, ConsoleSharedWithAShellIsShownAgainOnlyIfItWasVisible) {
  const struct {
    const char* name;
    const char* info;
    bool shellHidesConsole;
    bool childIsLauncher;
    const char* exitCode;
    const char* visibleAfter;
  } cases[] = {
      {"installer ran", kInfo, false, true, "0", "1"},
      {"check stopped", "", false, true, "4", "1"},
      {"shell hid its console", kInfo, true, true, "0", "0"},
      {"shell hid its console, check stopped", "", true, true, "4", "0"},
      {"control: hidden shell runs a plain program", kInfo, true, false, "0", "0"},
  };
  for (const auto& c : cases) {
    Medium medium("console-shared");
    medium.WriteInfo(c.info);
    medium.AddStandIn("Setup.exe", "");
    const std::string child =
        c.childIsLauncher ? medium.launcherPath() : medium.directory() + "Setup.exe";
    medium.AddStandIn("Shell.exe", "run=\"" + child + "\"\nhide_console=" +
                                       (c.shellHidesConsole ? "1" : "0") + "\n");
    LauncherRun shell(medium.directory() + "Shell.exe", CREATE_NEW_CONSOLE, "", "Shell");
    EXPECT_EQ(shell.WaitForExit(), 0) << c.name;
    const auto record = medium.Record("Shell.exe");
    EXPECT_EQ(record.at("console_window_visible"), c.shellHidesConsole ? "0" : "1") << c.name;
    EXPECT_EQ(record.at("run_exit"), c.exitCode) << c.name;
    EXPECT_EQ(record.at("console_window_visible_after_run"), c.visibleAfter) << c.name;
    if (c.childIsLauncher && std::string(c.exitCode) == "0") {
      const auto setup = medium.Record("Setup.exe");
      EXPECT_EQ(ConsoleOf(setup), ConsoleOf(record)) << "one console for shell and installer";
      EXPECT_EQ(setup.at("console_window_visible"), "0") << "hidden while the launcher runs";
      EXPECT_EQ(setup.at("console_title"), "Shell");
    }
  }
}

TEST(ConsoleWindow, TwoLaunchersStartedTogetherEachHideTheirOwnConsole) {
  Medium first("console-first");
  Medium second("console-second");
  for (Medium* medium : {&first, &second}) {
    medium->WriteInfo(kInfo);
    medium->AddStandIn("Setup.exe", "sleep_ms=500\n");
  }
  LauncherRun one(first.launcherPath(), CREATE_NEW_CONSOLE, "", "first");
  LauncherRun two(second.launcherPath(), CREATE_NEW_CONSOLE, "", "second");
  EXPECT_EQ(one.WaitForExit(), 0);
  EXPECT_EQ(two.WaitForExit(), 0);
  const auto a = first.Record("Setup.exe");
  const auto b = second.Record("Setup.exe");
  EXPECT_NE(ConsoleOf(a), ConsoleOf(b));
  EXPECT_EQ(a.at("console_window_visible"), "0");
  EXPECT_EQ(b.at("console_window_visible"), "0");
  EXPECT_EQ(a.at("console_title"), "first");
  EXPECT_EQ(b.at("console_title"), "second");
}

}  // namespace
}  // namespace tessaro::e2e
