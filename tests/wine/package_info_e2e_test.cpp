// TS_INF as the real file system delivers it: missing, empty, locked, valid.
#include <gtest/gtest.h>

#include "harness.h"

namespace tessaro::e2e {
namespace {

TEST(PackageInfo, MessageWhenTsInfIsMissing) {
  Medium medium("info-missing");
  medium.AddStandIn("Setup.exe", "");
  LauncherRun run(medium.launcherPath());
  const Box box = run.NextBox();
  EXPECT_EQ(box.caption, "Launch");
  EXPECT_EQ(box.text, ExpectedMessages().infoOpenFailed);
  EXPECT_EQ(box.icon, BoxIcon::kError);
  EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
  PressButton(box, IDOK);
  EXPECT_EQ(run.WaitForExit(), 4);
  EXPECT_FALSE(FileExists(medium.directory() + "Setup.record"));
}

// TS_INF as media hold it: only a holder that shares no reading keeps the launcher out; a
// read-only file (CD, ISO) and one that a writer holds with read and write sharing are read.
TEST(PackageInfo, MessageOnlyWhenAnotherProcessHoldsTsInfExclusively) {
  const struct {
    const char* name;
    DWORD heldAccess;  // 0: not held
    DWORD heldSharing;
    bool readOnly;
    bool message;
  } cases[] = {
      {"held exclusively", GENERIC_READ, 0, false, true},
      {"held by a writer sharing read and write", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
       false, false},
      {"read-only attribute", 0, 0, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Medium medium("info-held");
    medium.AddStandIn("Setup.exe", "");
    medium.WriteInfo("{0B8C1D2E-3F40-4A5B-8C6D-7E8F9A0B1C2D},3.10\r\n");
    const std::string info = medium.directory() + "TS_INF";
    if (c.readOnly) {
      ASSERT_TRUE(SetFileAttributesA(info.c_str(), FILE_ATTRIBUTE_READONLY));
    }
    HANDLE held = INVALID_HANDLE_VALUE;
    if (c.heldAccess != 0) {
      held = CreateFileA(info.c_str(), c.heldAccess, c.heldSharing, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
      ASSERT_NE(held, INVALID_HANDLE_VALUE);
    }
    LauncherRun run(medium.launcherPath());
    if (c.message) {
      const Box box = run.NextBox();
      EXPECT_EQ(box.text, ExpectedMessages().infoOpenFailed);
      PressButton(box, IDOK);
    }
    EXPECT_EQ(run.WaitForExit(), c.message ? 4 : 0);
    EXPECT_TRUE(run.unexpectedBoxes.empty());
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    EXPECT_EQ(FileExists(medium.directory() + "Setup.record"), !c.message);
  }
}

// Read as the file system delivers it: an empty file stops the run silently, a valid one for a
// product that is not installed lets the installer start.
TEST(PackageInfo, ContentDecidesWithoutAWord) {
  const struct {
    const char* name;
    const char* info;
    long exitCode;
    bool installerStarted;
  } cases[] = {
      {"empty", "", 4, false},
      {"valid, not installed", "{0B8C1D2E-3F40-4A5B-8C6D-7E8F9A0B1C2D},3.10\r\n", 0, true},
  };
  for (const auto& c : cases) {
    Medium medium("info-content");
    medium.AddStandIn("Setup.exe", "");
    medium.WriteInfo(c.info);
    LauncherRun run(medium.launcherPath());
    EXPECT_EQ(run.WaitForExit(), c.exitCode) << c.name;
    EXPECT_TRUE(run.unexpectedBoxes.empty()) << c.name;
    EXPECT_EQ(FileExists(medium.directory() + "Setup.record"), c.installerStarted) << c.name;
  }
}

}  // namespace
}  // namespace tessaro::e2e
