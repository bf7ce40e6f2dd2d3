// The launch sequence on a real Windows (Wine): process creation, waiting, boxes, captions.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <tuple>
#include <vector>

#include "harness.h"
#include "launcher/launch_sequence.h"

namespace tessaro::e2e {
namespace {

TEST(LaunchSequence, StartsTheInstallerQuotedAndWaitsForItsEnd) {
  // The installer fails with its own code and runs a while; the launcher still exits 0, after it.
  for (const char* exitCode : {"0", "7"}) {
    Medium medium("installer-runs", kNotInstalledInfo,
                  std::string("sleep_ms=1500\nexit=") + exitCode + "\n");
    CreateDirectoryA("C:\\tessaro-e2e\\cwd", nullptr);
    ProgramRun run(medium.launcherPath(), CREATE_NEW_CONSOLE, "C:\\tessaro-e2e\\cwd");
    EXPECT_EQ(run.WaitForExit(), 0) << exitCode;
    const Record record = medium.RecordOf("Setup.exe");
    EXPECT_EQ(record.at("command_line"),
              "\"" + medium.directory() + "Setup.exe\" \"/v LAUNCH=Enable\"");
    EXPECT_EQ(record.at("current_directory"), "C:\\tessaro-e2e\\cwd");
    EXPECT_GE(run.times().exit, std::stoull(record.at("end_time")));
  }
}

TEST(LaunchSequence, DecoyAtTheShorterPrefixOfASpacedPathNeverStarts) {
  Medium medium("decoy\\Tessaro 3.10", kNotInstalledInfo, "");
  medium.AddStandIn("Tessaro.exe", "", "C:\\tessaro-e2e\\decoy\\");
  EXPECT_EQ(ProgramRun(medium.launcherPath()).WaitForExit(), 0);
  EXPECT_FALSE(FileExists("C:\\tessaro-e2e\\decoy\\Tessaro.record"));
  EXPECT_TRUE(medium.Ran("Setup.exe"));
}

TEST(LaunchSequence, QuitPostedToTheLauncherDoesNotEndTheWait) {
  Medium medium("quit-message", kNotInstalledInfo, "sleep_ms=2500\n");
  ProgramRun run(medium.launcherPath());
  // Wait until the installer runs, so that the launcher is inside its wait: as long as a busy
  // machine takes to start two programs (over 5 s with three tests at once), since the start is
  // not what this test checks.
  ASSERT_TRUE(WaitUntil([&] { return medium.Ran("Setup.exe"); }, 30000));
  // A thread takes posted messages once it has a queue, which the launcher makes on its way into
  // the wait; on a busy machine the installer can run before that.
  EXPECT_TRUE(
      WaitUntil([&] { return PostThreadMessageA(run.threadId(), WM_QUIT, 0, 0) != 0; }, 5000));
  EXPECT_TRUE(run.StillRunningAfter(600));
  EXPECT_EQ(run.WaitForExit(), 0);
  EXPECT_GE(run.times().exit, std::stoull(medium.RecordOf("Setup.exe").at("end_time")));
}

// Message 104 for a medium without Setup.exe; the caption is the launcher's own name.
TEST(LaunchSequence, MessageLaunchFailedCaptionedWithTheLauncherName) {
  const std::pair<const char*, const char*> cases[] = {
      {"Launch.exe", "Launch"}, {"Tessaro.Setup.v2.exe", "Tessaro.Setup.v2"}};
  for (const auto& [fileName, caption] : cases) {
    Medium medium("no-setup", kNotInstalledInfo);
    medium.RenameLauncher(fileName);
    ProgramRun run(medium.launcherPath());
    const Box box = run.NextBox();
    ExpectMessage(box, Message::kLaunchFailed, "", caption);
    EXPECT_TRUE(run.StillRunningAfter(300)) << "the launcher must wait for the answer";
    PressButton(box, IDOK);
    EXPECT_EQ(run.WaitForExit(), 0);
  }
}

// A debug-output viewer as Windows documents the protocol: the viewer owns a 4096-byte shared
// buffer (the sender's process id, then the text) and two events; a sender waits for
// DBWIN_BUFFER_READY, fills the buffer and sets DBWIN_DATA_READY.
struct DebugOutputViewer {
  static constexpr DWORD kBytes = 4096;
  platform::UniqueHandle bufferReady{CreateEventA(nullptr, FALSE, TRUE, "DBWIN_BUFFER_READY")};
  platform::UniqueHandle dataReady{CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY")};
  platform::UniqueHandle mapping{
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBytes, "DBWIN_BUFFER")};
  const char* view =
      static_cast<const char*>(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, kBytes));
  ~DebugOutputViewer() { UnmapViewOfFile(view); }

  // Every line that `sender` sends until it ends, in the order sent.
  std::vector<std::string> LinesUntilTheEnd(const ChildProcess& sender) const {
    std::vector<std::string> lines;
    const auto readUntilTheEnd = [&] {
      const bool ended = !sender.StillRunningAfter(0);
      while (WaitForSingleObject(dataReady.get(), ended ? 0 : 50) == WAIT_OBJECT_0) {
        DWORD from = 0;
        std::memcpy(&from, view, sizeof from);
        const char* text = view + sizeof from;
        if (from == sender.processId()) lines.emplace_back(text, strnlen(text, kBytes - 4));
        SetEvent(bufferReady.get());
      }
      return ended;
    };
    WaitUntil(readUntilTheEnd, 30000, 0);
    return lines;
  }
};

// What support sees of a run that stops without a word (an empty TS_INF), of one that runs the
// installer, and of one whose TS_INF line is malformed. The wording is the host tables' business;
// here the lines must reach a viewer through the system's channel from the launcher's own process,
// each one line under its caption, in the order of the run (the values named below, each in a later
// line than the one before), the exit line last.
TEST(LaunchSequence, TraceReachesADebugOutputViewer) {
  const std::string folder = "C:\\tessaro-e2e\\trace\\";
  const std::string launcher = folder + "Launch.exe", setup = folder + "Setup.exe";
  const std::string product = "{0B8C1D2E-3F40-4A5B-8C6D-7E8F9A0B1C2D}";
  const std::tuple<const char*, std::string, long, std::vector<std::string>> cases[] = {
      {"installer ran", kNotInstalledInfo, 0, {launcher, product, setup, "4711"}},
      {"empty TS_INF", "", 4, {launcher, folder + "TS_INF"}},
      {"blanks after the product code",
       product + "  ,3.10\r\n",
       0,
       {"TS_INF read", "TS_INF malformed: blanks after the product code", setup}},
  };
  for (const auto& [name, info, exitCode, inOrder] : cases) {
    SCOPED_TRACE(name);
    Medium medium("trace", info, "exit=4711\n");
    const DebugOutputViewer viewer;
    ASSERT_NE(viewer.view, nullptr);
    ProgramRun run(medium.launcherPath());
    const std::vector<std::string> lines = viewer.LinesUntilTheEnd(run);
    EXPECT_EQ(run.WaitForExit(), exitCode);
    std::string all;
    for (const auto& line : lines) {
      all += line;
      EXPECT_EQ(line.rfind("Launch: ", 0), 0u) << line;
      EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
    }
    // Kept for the README's example and for whoever reads a failed run.
    std::printf("%s", all.c_str());
    std::size_t at = 0;
    for (const auto& value : inOrder) {
      at = all.find(value, at);
      ASSERT_NE(at, std::string::npos) << "no line with " << value << " after the last in\n" << all;
      at = all.find('\n', at);
    }
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("Launch: exit " + std::to_string(exitCode) + ": ", 0), 0u) << all;
  }
}

// In code page 932 the folder name 0x95 0x5C is one character whose trail byte is a backslash:
// split there, the launcher would look for TS_INF and Setup.exe in a folder that is not its own.
// Only a Japanese system can name such a folder, so it runs in the Japanese run alone.
TEST(LaunchSequence, CodePage932FolderWithABackslashTrailByteHoldsTheWholeMedium) {
  if (!JapaneseLocale()) GTEST_SKIP() << "needs code page 932";
  Medium medium("dbcs\\\x95\x5c", kNotInstalledInfo, "");
  EXPECT_EQ(ProgramRun(medium.launcherPath()).WaitForExit(), 0);
  EXPECT_EQ(medium.RecordOf("Setup.exe")["command_line"],
            "\"" + medium.directory() + "Setup.exe\" \"/v LAUNCH=Enable\"");
}

// The text the launcher prints when it cannot start, as it reaches a pipe: Shift-JIS bytes
// and a bare line feed, whatever the console's code page.
TEST(LaunchSequence, StartFailureTextReachesStandardOutputAsItsOwnBytes) {
  const ChildProcess writer("\"" + TestProgramDirectory() + "start_failure_writer.exe\"",
                            StartOptions().Flags(CREATE_NO_WINDOW).CapturingOutput());
  ASSERT_TRUE(writer.started());
  EXPECT_EQ(writer.ReadOutput(), kStartFailureText);
  EXPECT_EQ(writer.Wait(10000), 1);
}

}  // namespace
}  // namespace tessaro::e2e
