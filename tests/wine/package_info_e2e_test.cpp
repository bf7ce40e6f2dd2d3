// Files as the real file system delivers them: TS_INF missing, empty, locked, valid; and the
// platform's lock probe behind the in-use test, which never creates or changes a file.
#include <gtest/gtest.h>

#include <tuple>

#include "harness.h"
#include "platform/windows_system.h"

namespace tessaro::e2e {
namespace {

TEST(LockTest, ProbingForWritingNeverCreatesOrChangesTheFile) {
  const Medium folder("lock-probe");
  const std::string missing = folder.directory() + "Tessaro.exe";
  const std::string present = folder.directory() + "Present.exe";
  WriteFileBytes(present, "MZ original bytes");
  const std::string written = FileStamp(present);
  Sleep(50);

  platform::WindowsSystem system;
  EXPECT_FALSE(system.CanOpenForWriting(missing));
  EXPECT_FALSE(FileExists(missing)) << "the probe created the file it looked for";

  EXPECT_TRUE(system.CanOpenForWriting(present));
  EXPECT_EQ(system.ReadFileStart(present, 100), "MZ original bytes");
  EXPECT_EQ(FileStamp(present), written);

  // Held by someone who shares reading only: the probe must fail, and still change nothing.
  platform::UniqueHandle held = OpenExisting(present, GENERIC_READ, FILE_SHARE_READ);
  ASSERT_TRUE(held.valid());
  EXPECT_FALSE(system.CanOpenForWriting(present));
  held.reset();
  EXPECT_EQ(FileStamp(present), written);
}

TEST(PackageInfo, MessageWhenTsInfIsMissing) {
  Medium medium("info-missing", std::nullopt, "");
  ProgramRun run(medium.launcherPath());
  run.Answer(Message::kInfoOpenFailed, IDOK);
  EXPECT_EQ(run.WaitForExit(), 4);
  EXPECT_FALSE(medium.Ran("Setup.exe"));
}

// TS_INF as media hold it: only a holder that shares no reading keeps the launcher out; a
// read-only file (CD, ISO) and one that a writer holds with read and write sharing are read.
TEST(PackageInfo, MessageOnlyWhenAnotherProcessHoldsTsInfExclusively) {
  // A held access of 0: not held.
  const std::tuple<const char*, DWORD, DWORD, DWORD, bool> cases[] = {
      {"held exclusively", GENERIC_READ, 0, FILE_ATTRIBUTE_NORMAL, true},
      {"held by a writer sharing read and write", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
       FILE_ATTRIBUTE_NORMAL, false},
      {"read-only attribute", 0, 0, FILE_ATTRIBUTE_READONLY, false},
  };
  for (const auto& [name, heldAccess, heldSharing, attributes, message] : cases) {
    SCOPED_TRACE(name);
    Medium medium("info-held", kNotInstalledInfo, "");
    const std::string info = medium.directory() + "TS_INF";
    ASSERT_TRUE(SetFileAttributesA(info.c_str(), attributes));
    const platform::UniqueHandle held =
        heldAccess != 0 ? OpenExisting(info, heldAccess, heldSharing) : platform::UniqueHandle();
    ASSERT_TRUE(heldAccess == 0 || held.valid());
    ProgramRun run(medium.launcherPath());
    if (message) run.Answer(Message::kInfoOpenFailed, IDOK);
    EXPECT_EQ(run.WaitForExit(), message ? 4 : 0);
    EXPECT_EQ(medium.Ran("Setup.exe"), !message);
  }
}

// Read as the file system delivers it: an empty file stops the run silently, a valid one for a
// product that is not installed lets the installer start.
TEST(PackageInfo, ContentDecidesWithoutAWord) {
  // With the exit code, 0 when the installer ran.
  const std::tuple<const char*, const char*, long> cases[] = {
      {"empty", "", 4}, {"valid, not installed", kNotInstalledInfo, 0}};
  for (const auto& [name, info, exitCode] : cases) {
    SCOPED_TRACE(name);
    Medium medium("info-content", info, "");
    EXPECT_EQ(ProgramRun(medium.launcherPath()).WaitForExit(), exitCode);
    EXPECT_EQ(medium.Ran("Setup.exe"), exitCode == 0);
  }
}

}  // namespace
}  // namespace tessaro::e2e
